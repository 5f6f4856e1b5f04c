// SPDX-License-Identifier: MIT
#include "picture_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>

namespace {

constexpr std::size_t kReadSize = std::size_t{64} * 1024;

std::uint64_t PixelCount(const ImageHeader& header) {
  return std::uint64_t{static_cast<std::uint32_t>(header.width)} * static_cast<std::uint32_t>(header.height);
}

bool ReadAt(int fd, std::uint8_t* buffer, std::size_t count, std::uint64_t offset) {
  while (count > 0) {
    const ssize_t got = pread(fd, buffer, count, static_cast<off_t>(offset));
    if (got < 0 && errno == EINTR) {
      continue;
    }
    if (got <= 0) {
      if (got == 0) {
        errno = EIO;  // the file shrank while it was read
      }
      return false;
    }
    buffer += got;
    count -= static_cast<std::size_t>(got);
    offset += static_cast<std::uint64_t>(got);
  }
  return true;
}

}  // namespace

void Explain(Problem& why, const char* text) { static_cast<void>(std::snprintf(why.data(), why.size(), "%s", text)); }

bool CheckHeader(const std::uint8_t* bytes, std::size_t count, ImageHeader& header, Problem& why) {
  if (count < kHeaderSize) {
    Explain(why, "is not a rastel picture: it is shorter than the 12-byte header");
    return false;
  }
  header = HeaderFromBytes(bytes);
  if (header.magic != kMagic) {
    Explain(why, "is not a rastel picture: it does not begin with 37 13 AD DE");
    return false;
  }
  if (!HasDrawableSize(header)) {
    static_cast<void>(std::snprintf(why.data(), why.size(),
                                    "is not a picture rastel shows: its size is %d x %d, and sides run from 1 to %d",
                                    header.width, header.height, kMaxSide));
    return false;
  }
  return true;
}

int OpenToRead(const char* path) {
  const int fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    return -1;
  }
  const int flags = fcntl(fd, F_GETFL);
  if (flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) < 0) {
    const int error = errno;
    close(fd);
    errno = error;
    return -1;
  }
  return fd;
}

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

bool DecodeFile(int fd, PictureDecoder& decoder) {
  std::array<std::uint8_t, kReadSize> chunk;
  while (!AllPixelsTaken(decoder)) {
    const ssize_t got = ReadUpTo(fd, chunk.data(), chunk.size());
    if (got < 0) {
      return false;
    }
    if (got == 0) {
      break;
    }
    TakePixels(decoder, chunk.data(), static_cast<std::size_t>(got));
  }
  FinishDecoding(decoder);
  return true;
}

bool MeasureStoredPicture(int fd, const ImageHeader& header, StoredPicture& stored) {
  struct stat status = {};
  if (fstat(fd, &status) != 0) {
    return false;
  }
  if (!S_ISREG(status.st_mode)) {
    errno = S_ISDIR(status.st_mode) ? EISDIR : EINVAL;
    return false;
  }
  const auto size = static_cast<std::uint64_t>(std::max<off_t>(status.st_size, 0));
  stored = {
      .header = header, .held = std::min(size > kHeaderSize ? size - kHeaderSize : 0, PixelCount(header)), .fill = 0};
  return stored.held == 0 || ReadAt(fd, &stored.fill, 1, kHeaderSize + stored.held - 1);
}

bool ReadDisplayRow(int fd, const StoredPicture& stored, std::int32_t y, std::uint8_t* bytes, std::uint8_t* rgb) {
  const auto width = static_cast<std::uint64_t>(stored.header.width);
  const std::uint64_t first = static_cast<std::uint64_t>(stored.header.height - 1 - y) * width;
  const std::uint64_t held = stored.held > first ? std::min(stored.held - first, width) : 0;
  if (held > 0 && !ReadAt(fd, bytes, static_cast<std::size_t>(held), kHeaderSize + first)) {
    return false;
  }
  StoreColours(bytes, static_cast<std::size_t>(held), rgb);
  FillColour(stored.fill, static_cast<std::size_t>(width - held), rgb + held * kRgbBytes);
  return true;
}
