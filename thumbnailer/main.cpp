// SPDX-License-Identifier: MIT
// rastel-thumbnailer: writes a PNG of a rastel picture no larger than SIZE
// on its longer side, for the desktop's file managers, which run it through
// share/thumbnailers/rastel.thumbnailer on files nobody chose. Each pixel
// of the thumbnail is the mean of those it covers, and memory follows the
// thumbnail, not the size a file claims. Anything it cannot make a
// thumbnail of ends it with a message on standard error and a non-zero
// status; the output path then holds what it held before, and the input is
// never written over.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "decoder.h"
#include "image_format.h"
#include "picture_file.h"
#include "png_output.h"

namespace {

constexpr int kExitSuccess = 0;
constexpr int kExitFailure = 1;  // an input or output it cannot use
constexpr int kExitUsage = 2;

// File managers ask for 128 to 1024 pixels; beyond this a thumbnail would
// take more memory than anyone wants a thumbnailer to.
constexpr std::int32_t kLargestSize = 4096;
constexpr char kTemporarySuffix[] = ".XXXXXX";
constexpr mode_t kNewFileMode = 0666;

int Usage() {
  static_cast<void>(std::fputs("usage: rastel-thumbnailer -s SIZE INPUT OUTPUT\n", stderr));
  return kExitUsage;
}

int Fail(const char* what, const char* name, const char* why) {
  static_cast<void>(std::fprintf(stderr, "rastel-thumbnailer: %s %s: %s\n", what, name, why));
  return kExitFailure;
}

// The whole text as a number in range, so that "128px" or "-1" is refused.
bool ParseSize(std::string_view text, std::int32_t& size) {
  const char* const end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, size);
  return error == std::errc{} && stop == end && size >= 1 && size <= kLargestSize;
}

// Through a link of either kind, or the same name twice.
bool IsSameFile(int fd, const char* path) {
  struct stat input = {};
  struct stat output = {};
  return fstat(fd, &input) == 0 && stat(path, &output) == 0 && input.st_dev == output.st_dev &&
         input.st_ino == output.st_ino;
}

struct Thumbnail {
  const std::uint8_t* pixels;
  PictureSize size;
};

bool ThumbnailRow(std::int32_t y, std::uint8_t* rgb, void* context) {
  const auto* const thumbnail = static_cast<const Thumbnail*>(context);
  const std::size_t rowstride = static_cast<std::size_t>(thumbnail->size.width) * kRgbBytes;
  std::memcpy(rgb, thumbnail->pixels + static_cast<std::size_t>(y) * rowstride, rowstride);
  return true;
}

bool WriteTo(std::FILE* file, const Thumbnail& thumbnail, Reason& why) {
  const bool written = WritePng(file, thumbnail.size, ThumbnailRow, const_cast<Thumbnail*>(&thumbnail), why);
  if (std::fclose(file) != 0 && written) {
    Explain(why, std::strerror(errno));
    return false;
  }
  return written;
}

mode_t NewFileMode() {
  const mode_t mask = umask(0);
  umask(mask);
  return kNewFileMode & ~mask;
}

// A file takes the thumbnail whole or not at all: it is written beside the
// output and renamed over it, so that a kill, a full disk or a file-size
// limit leaves the output as it was. What is not a file with something in
// it is written as it is: a device such as /dev/full, a pipe, or the empty
// file a caller made for the thumbnail and may hold open to read it back
// (Xfce's tumbler does).
bool WriteThumbnail(const char* path, const Thumbnail& thumbnail, Reason& why) {
  struct stat status = {};
  if (stat(path, &status) == 0 && (!S_ISREG(status.st_mode) || status.st_size == 0)) {
    std::FILE* const file = std::fopen(path, "wb");
    if (file == nullptr) {
      Explain(why, std::strerror(errno));
      return false;
    }
    const bool written = WriteTo(file, thumbnail, why);
    if (!written && S_ISREG(status.st_mode) && truncate(path, 0) != 0) {
      return false;
    }
    return written;
  }
  const std::size_t length = std::strlen(path);
  auto* const temporary = static_cast<char*>(std::malloc(length + sizeof kTemporarySuffix));
  if (temporary == nullptr) {
    Explain(why, std::strerror(errno));
    return false;
  }
  std::memcpy(temporary, path, length);
  std::memcpy(temporary + length, kTemporarySuffix, sizeof kTemporarySuffix);
  const int fd = mkostemp(temporary, O_CLOEXEC);
  std::FILE* const file = fd < 0 || fchmod(fd, NewFileMode()) != 0 ? nullptr : fdopen(fd, "wb");
  bool written = false;
  if (file == nullptr) {
    Explain(why, std::strerror(errno));
    if (fd >= 0) {
      close(fd);
    }
  } else {
    written = WriteTo(file, thumbnail, why);
    if (written && rename(temporary, path) != 0) {
      Explain(why, std::strerror(errno));
      written = false;
    }
  }
  if (!written && fd >= 0) {
    unlink(temporary);
  }
  std::free(temporary);
  return written;
}

int MakeThumbnail(int fd, const char* input, const char* output, std::int32_t longest) {
  if (IsSameFile(fd, output)) {
    return Fail("will not write the thumbnail over its input", output, "it is the input itself");
  }
  std::uint8_t header_bytes[kHeaderSize];
  const ssize_t header_read = ReadUpTo(fd, header_bytes, sizeof header_bytes);
  if (header_read < 0) {
    return Fail("cannot read", input, std::strerror(errno));
  }
  ImageHeader header{};
  Problem problem{};
  if (!CheckHeader(header_bytes, static_cast<std::size_t>(header_read), header, problem)) {
    static_cast<void>(std::fprintf(stderr, "rastel-thumbnailer: %s %s\n", input, problem.data()));
    return kExitFailure;
  }

  const PictureSize size = FitWithin(header.width, header.height, longest);
  const std::size_t rowstride = static_cast<std::size_t>(size.width) * kRgbBytes;
  auto* const pixels = static_cast<std::uint8_t*>(std::calloc(static_cast<std::size_t>(size.height), rowstride));
  PictureDecoder decoder{};
  if (pixels == nullptr || !StartDecoding(decoder, {header.width, header.height}, size, pixels, rowstride)) {
    std::free(pixels);
    return Fail("cannot make the thumbnail of", input, std::strerror(ENOMEM));
  }
  const bool read = DecodeFile(fd, decoder);
  const int read_error = errno;
  StopDecoding(decoder);
  if (!read) {
    std::free(pixels);
    return Fail("cannot read", input, std::strerror(read_error));
  }
  Reason why{};
  const bool written = WriteThumbnail(output, {pixels, size}, why);
  std::free(pixels);
  return written ? kExitSuccess : Fail("cannot write", output, why.data());
}

}  // namespace

int main(int argc, char* argv[]) {
  std::int32_t longest = 0;
  if (argc != 5 || std::string_view(argv[1]) != "-s") {
    return Usage();
  }
  if (!ParseSize(argv[2], longest)) {
    static_cast<void>(std::fprintf(
        stderr, "rastel-thumbnailer: the size must be a whole number from 1 to %d, not '%s'\n", kLargestSize, argv[2]));
    return kExitUsage;
  }
  // Past a file-size limit a write then fails, and the partial file goes,
  // rather than the signal ending the program with it in place.
  static_cast<void>(std::signal(SIGXFSZ, SIG_IGN));
  const int fd = OpenToRead(argv[3]);
  if (fd < 0) {
    return Fail("cannot open", argv[3], std::strerror(errno));
  }
  const int status = MakeThumbnail(fd, argv[3], argv[4], longest);
  close(fd);
  return status;
}
