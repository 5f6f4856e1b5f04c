// SPDX-License-Identifier: MIT
#include "png_output.h"

#include <png.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "image_format.h"

namespace {

void Explain(Reason& why, const char* reason) {
  static_cast<void>(std::snprintf(why.data(), why.size(), "%s", reason));
}

bool IsRegularFile(std::FILE* file) {
  struct stat status = {};
  return fstat(fileno(file), &status) == 0 && S_ISREG(status.st_mode);
}

// libpng's simplified interface keeps its setjmp to itself.
bool Encode(std::FILE* file, const std::uint8_t* pixels, SampledSize size, Reason& why) {
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  image.width = static_cast<png_uint_32>(size.width);
  image.height = static_cast<png_uint_32>(size.height);
  image.format = PNG_FORMAT_RGB;
  const auto row_stride = static_cast<png_int_32>(size.width * static_cast<std::int32_t>(kRgbBytes));
  if (png_image_write_to_stdio(&image, file, 0, pixels, row_stride, nullptr) == 0) {
    Explain(why, std::ferror(file) != 0 ? std::strerror(errno) : image.message);
    return false;
  }
  return true;
}

}  // namespace

bool WritePng(const char* path, const std::uint8_t* pixels, SampledSize size, Reason& why) {
  std::FILE* const file = std::fopen(path, "wb");
  if (file == nullptr) {
    Explain(why, std::strerror(errno));
    return false;
  }
  bool written = Encode(file, pixels, size, why);
  if (written && (std::fflush(file) != 0 || std::ferror(file) != 0)) {
    Explain(why, std::strerror(errno));
    written = false;
  }
  const bool regular = IsRegularFile(file);
  if (std::fclose(file) != 0 && written) {
    Explain(why, std::strerror(errno));
    written = false;
  }
  if (!written && regular) {
    unlink(path);
  }
  return written;
}
