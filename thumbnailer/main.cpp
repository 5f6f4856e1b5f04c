// SPDX-License-Identifier: MIT
// rastel-thumbnailer: writes a PNG of a rastel picture no larger than SIZE
// on its longer side, for the desktop's file managers, which run it through
// share/thumbnailers/rastel.thumbnailer on files nobody chose. It reads only
// the rows it samples, so memory and time follow the thumbnail, not the
// size a file claims; anything it cannot make a thumbnail of ends it with a
// message on standard error, a non-zero status and no output file.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "image_format.h"
#include "png_output.h"
#include "sampler.h"

namespace {

constexpr int kExitSuccess = 0;
constexpr int kExitFailure = 1;  // an input or output it cannot use
constexpr int kExitUsage = 2;

// File managers ask for 128 to 1024 pixels; beyond this a thumbnail would
// take more memory than anyone wants a thumbnailer to.
constexpr std::int32_t kLargestSize = 4096;
constexpr std::size_t kReadSize = std::size_t{64} * 1024;

int Usage() {
  static_cast<void>(std::fputs("usage: rastel-thumbnailer -s SIZE INPUT OUTPUT\n", stderr));
  return kExitUsage;
}

int Fail(const char* what, const char* name, const char* why) {
  static_cast<void>(std::fprintf(stderr, "rastel-thumbnailer: %s %s: %s\n", what, name, why));
  return kExitFailure;
}

int RefuseFile(const char* input, const char* why) {
  static_cast<void>(std::fprintf(stderr, "rastel-thumbnailer: %s is not a rastel picture: %s\n", input, why));
  return kExitFailure;
}

int RefuseSize(const char* input, const ImageHeader& header) {
  static_cast<void>(std::fprintf(stderr,
                                 "rastel-thumbnailer: %s is not a picture rastel shows: its size is %d x %d, and "
                                 "sides run from 1 to %d\n",
                                 input, header.width, header.height, kMaxSide));
  return kExitFailure;
}

// The whole text as a number in range, so that "128px" or "-1" is refused.
bool ParseSize(std::string_view text, std::int32_t& size) {
  const char* const end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, size);
  return error == std::errc{} && stop == end && size >= 1 && size <= kLargestSize;
}

// Up to `count` bytes, fewer only where the file ends; -1 on a read error.
ssize_t ReadUpTo(int fd, std::uint8_t* buffer, std::size_t count) {
  std::size_t got = 0;
  while (got < count) {
    const ssize_t read_now = read(fd, buffer + got, count - got);
    if (read_now < 0 && errno == EINTR) {
      continue;
    }
    if (read_now < 0) {
      return -1;
    }
    if (read_now == 0) {
      break;
    }
    got += static_cast<std::size_t>(read_now);
  }
  return static_cast<ssize_t>(got);
}

// The pixel bytes a regular file holds, which tells how far rows may be
// skipped; none is known of a pipe, which is read through.
bool PixelBytesInFile(int fd, std::uint64_t& bytes) {
  struct stat status = {};
  if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
    return false;
  }
  const auto size = static_cast<std::uint64_t>(std::max<off_t>(status.st_size, 0));
  bytes = size > kHeaderSize ? size - kHeaderSize : 0;
  return true;
}

// Feeds the sampler the rows it samples from the file, which stands at the
// first pixel byte, and seeks over the others where it can. The file's last
// pixel byte is always read: pixels past the data's end take its colour.
// False on a read error.
bool SampleFile(int fd, PictureSampler& sampler) {
  std::uint64_t file_pixels = 0;
  const bool seekable = PixelBytesInFile(fd, file_pixels);
  std::array<std::uint8_t, kReadSize> chunk;
  while (!SamplingDone(sampler)) {
    if (seekable) {
      const std::uint64_t left = file_pixels > sampler.position ? file_pixels - sampler.position : 0;
      const std::uint64_t skip = std::min(PixelsToSkip(sampler), left > 0 ? left - 1 : 0);
      if (skip > 0) {
        if (lseek(fd, static_cast<off_t>(skip), SEEK_CUR) < 0) {
          return false;
        }
        SkipPixels(sampler, skip);
        continue;
      }
    }
    const std::size_t wanted = std::clamp<std::size_t>(PixelsLeftInRow(sampler), 1, chunk.size());
    const ssize_t got = ReadUpTo(fd, chunk.data(), wanted);
    if (got <= 0) {
      return got == 0;
    }
    TakePixels(sampler, chunk.data(), static_cast<std::size_t>(got));
  }
  return true;
}

int MakeThumbnail(const char* input, const char* output, std::int32_t longest) {
  const int fd = open(input, O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    return Fail("cannot open", input, std::strerror(errno));
  }
  std::uint8_t header_bytes[kHeaderSize];
  const ssize_t header_read = ReadUpTo(fd, header_bytes, sizeof header_bytes);
  if (header_read < 0) {
    return Fail("cannot read", input, std::strerror(errno));
  }
  if (static_cast<std::size_t>(header_read) < kHeaderSize) {
    return RefuseFile(input, "it is shorter than the 12-byte header");
  }
  const ImageHeader header = HeaderFromBytes(header_bytes);
  if (header.magic != kMagic) {
    return RefuseFile(input, "it does not begin with 37 13 AD DE");
  }
  if (!HasDrawableSize(header)) {
    return RefuseSize(input, header);
  }

  const SampledSize size = FitWithin(header.width, header.height, longest);
  const std::size_t rowstride = static_cast<std::size_t>(size.width) * kRgbBytes;
  auto* const pixels = static_cast<std::uint8_t*>(std::calloc(static_cast<std::size_t>(size.height), rowstride));
  if (pixels == nullptr) {
    return Fail("cannot make the thumbnail of", input, std::strerror(errno));
  }
  PictureSampler sampler = StartSampling(header.width, header.height, size, pixels, rowstride);
  const bool read = SampleFile(fd, sampler);
  const int read_error = errno;
  close(fd);
  if (!read) {
    std::free(pixels);
    return Fail("cannot read", input, std::strerror(read_error));
  }
  FinishSampling(sampler);

  Reason why{};
  const bool written = WritePng(output, pixels, size, why);
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
  return MakeThumbnail(argv[3], argv[4], longest);
}
