// SPDX-License-Identifier: MIT
#include "png_output.h"

#include <png.h>

#include <cerrno>
#include <csetjmp>
#include <cstdlib>
#include <cstring>

#include "image_format.h"

namespace {

// libpng's errors end in a jump back to WritePng's setjmp, with the message
// kept for the caller.
[[noreturn]] void KeepError(png_structp png, png_const_charp message) {
  Explain(*static_cast<Reason*>(png_get_error_ptr(png)), message);
  png_longjmp(png, 1);
}

void IgnoreWarning(png_structp /*png*/, png_const_charp /*message*/) {}

// Between setjmp and a jump only libpng's state changes; the row buffer is
// allocated before and freed after.
bool WriteRows(png_structp png, png_infop info, std::FILE* file, PictureSize size, RowSource rows, void* context,
               std::uint8_t* row, Reason& why) {
  if (setjmp(png_jmpbuf(png)) != 0) {  // NOLINT(cert-err52-cpp): libpng reports errors only by longjmp
    return false;
  }
  png_init_io(png, file);
  png_set_IHDR(png, info, static_cast<png_uint_32>(size.width), static_cast<png_uint_32>(size.height), 8,
               PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  for (std::int32_t y = 0; y < size.height; ++y) {
    if (!rows(y, row, context)) {
      Explain(why, std::strerror(errno));
      return false;
    }
    png_write_row(png, row);
  }
  png_write_end(png, nullptr);
  return true;
}

}  // namespace

bool WritePng(std::FILE* file, PictureSize size, RowSource rows, void* context, Reason& why) {
  Explain(why, "");
  auto* const row = static_cast<std::uint8_t*>(std::malloc(static_cast<std::size_t>(size.width) * kRgbBytes));
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &why, KeepError, IgnoreWarning);
  png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
  bool written = false;
  if (row == nullptr || info == nullptr) {
    Explain(why, std::strerror(ENOMEM));
  } else {
    written = WriteRows(png, info, file, size, rows, context, row, why);
  }
  png_destroy_write_struct(&png, &info);
  std::free(row);
  if (written && std::fflush(file) != 0) {
    written = false;
  }
  if (std::ferror(file) != 0) {
    Explain(why, std::strerror(errno));
    written = false;
  }
  return written;
}
