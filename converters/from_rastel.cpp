// SPDX-License-Identifier: MIT
// from-rastel: writes a rastel picture as a PNG on standard output, upright
// and in the colours the format gives each byte (0xFF is (224, 224, 192),
// not white), filled past a short file's end as the viewer fills it. It
// reads a display row at a time, so that any size the format allows is
// exported in the memory of one row.

#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "image_format.h"
#include "picture_file.h"
#include "png_output.h"

namespace {

constexpr int kExitSuccess = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

struct Export {
  int fd;
  StoredPicture stored;
  std::uint8_t* bytes;  // a row's pixel bytes
  bool read_failed;
};

bool ExportRow(std::int32_t y, std::uint8_t* rgb, void* context) {
  auto* const picture = static_cast<Export*>(context);
  picture->read_failed = !ReadDisplayRow(picture->fd, picture->stored, y, picture->bytes, rgb);
  return !picture->read_failed;
}

int Fail(const char* what, const char* name, const char* why) {
  static_cast<void>(std::fprintf(stderr, "from-rastel: %s %s: %s\n", what, name, why));
  return kExitFailure;
}

int ExportPicture(int fd, const char* path) {
  std::uint8_t header_bytes[kHeaderSize];
  const ssize_t header_read = ReadUpTo(fd, header_bytes, sizeof header_bytes);
  if (header_read < 0) {
    return Fail("cannot read", path, std::strerror(errno));
  }
  ImageHeader header{};
  Problem problem{};
  if (!CheckHeader(header_bytes, static_cast<std::size_t>(header_read), header, problem)) {
    static_cast<void>(std::fprintf(stderr, "from-rastel: %s %s\n", path, problem.data()));
    return kExitFailure;
  }
  Export picture{.fd = fd, .stored = {}, .bytes = nullptr, .read_failed = false};
  if (!MeasureStoredPicture(fd, header, picture.stored)) {
    return Fail("cannot read", path, errno == EINVAL ? "it is not a regular file" : std::strerror(errno));
  }
  picture.bytes = static_cast<std::uint8_t*>(std::malloc(static_cast<std::size_t>(header.width)));
  if (picture.bytes == nullptr) {
    return Fail("cannot export", path, std::strerror(errno));
  }
  Reason why{};
  const bool written = WritePng(stdout, {header.width, header.height}, ExportRow, &picture, why);
  std::free(picture.bytes);
  if (!written) {
    return picture.read_failed ? Fail("cannot read", path, why.data()) : Fail("cannot write", "the PNG", why.data());
  }
  return kExitSuccess;
}

}  // namespace

int main(int argc, char* argv[]) {
  if (argc != 2) {
    static_cast<void>(std::fputs("usage: from-rastel PICTURE > PNG\n", stderr));
    return kExitUsage;
  }
  const int fd = OpenToRead(argv[1]);
  if (fd < 0) {
    return Fail("cannot read", argv[1], std::strerror(errno));
  }
  const int status = ExportPicture(fd, argv[1]);
  close(fd);
  return status;
}
