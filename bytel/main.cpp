// SPDX-License-Identifier: MIT
// bytel: prints a file's bytes as two lowercase hex digits and a space, eight
// to a line. Every failure, of the input or of standard output, ends with a
// non-zero status; nothing is ever written to standard error.

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "hex_format.h"

namespace {

constexpr int kExitSuccess = 0;
constexpr int kExitFailure = 1;  // no file named, or output that cannot be written
constexpr int kExitInputFailed = -1;

// Large enough that syscalls cost nothing next to the formatting, small
// enough that both buffers stay in the cache, and on the stack: together
// they take about 264 KiB of its 8 MiB. A multiple of the line length, so
// reads from a regular file always start on a fresh line.
constexpr std::size_t kReadSize = std::size_t{64} * 1024;
constexpr std::size_t kOutputSize = FormattedSizeBound(kReadSize);

enum class DumpResult : std::uint8_t { kDone, kReadFailed, kWriteFailed };

// Standard output may have been left non-blocking by another program that
// shares it; a full pipe or terminal then means waiting, not failing.
bool WaitUntilWritable(int fd) {
  pollfd target = {fd, POLLOUT, 0};
  return ::poll(&target, 1, -1) >= 0 || errno == EINTR;
}

bool WriteAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t written = ::write(fd, data, size);
    if (written < 0) {
      if (errno == EINTR) {
        continue;
      }
      if ((errno == EAGAIN || errno == EWOULDBLOCK) && WaitUntilWritable(fd)) {
        continue;
      }
      return false;
    }
    if (written == 0) {
      return false;
    }
    data += written;
    size -= static_cast<std::size_t>(written);
  }
  return true;
}

bool WriteText(std::string_view text) { return WriteAll(STDOUT_FILENO, text.data(), text.size()); }

bool WriteFileLine(std::string_view path) { return WriteText("File: ") && WriteText(path) && WriteText("\n"); }

ssize_t ReadSome(int fd, std::uint8_t* buffer, std::size_t size) {
  ssize_t got = 0;
  do {
    got = ::read(fd, buffer, size);
  } while (got < 0 && errno == EINTR);
  return got;
}

// Each read is formatted and written at once, so bytes that trickle in
// through a pipe show up as they arrive rather than when a block fills.
DumpResult DumpStream(int in_fd, int out_fd) {
  std::array<std::uint8_t, kReadSize> input;
  std::array<char, kOutputSize> output;
  int column = 0;
  DumpResult result = DumpResult::kDone;
  for (;;) {
    const ssize_t got = ReadSome(in_fd, input.data(), input.size());
    if (got <= 0) {
      result = got == 0 ? DumpResult::kDone : DumpResult::kReadFailed;
      break;
    }
    const auto count = static_cast<std::size_t>(got);
    const std::size_t length = FormatHex(input.data(), count, column, output.data());
    column = NextColumn(column, count);
    if (!WriteAll(out_fd, output.data(), length)) {
      return DumpResult::kWriteFailed;
    }
  }
  if (!WriteAll(out_fd, "\n", 1)) {
    return DumpResult::kWriteFailed;
  }
  return result;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc <= 1) {
    WriteText("Please enter a filename\n");
    return kExitFailure;
  }
  const char* const path = argv[1];
  if (!WriteFileLine(path)) {
    return kExitFailure;
  }

  const int fd = ::open(path, O_RDONLY);
  if (fd < 0) {
    return WriteText("Errorz opening file\n") ? kExitInputFailed : kExitFailure;
  }
  const DumpResult result = DumpStream(fd, STDOUT_FILENO);
  ::close(fd);

  switch (result) {
    case DumpResult::kDone:
      return kExitSuccess;
    case DumpResult::kReadFailed:
      return WriteText("Errorz reading file\n") ? kExitInputFailed : kExitFailure;
    case DumpResult::kWriteFailed:
      break;
  }
  return kExitFailure;
}
