// SPDX-License-Identifier: MIT
// Preloaded into a program under test to make a read fail part way through a
// file: once a descriptor's offset reaches READ_FAULT_AFTER bytes, read()
// fails with EIO. Standard streams and non-seekable descriptors are left
// alone. The offset is the only state, so nothing needs to be kept here.

#include <dlfcn.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

extern "C" ssize_t read(int fd, void* buf, size_t nbytes) {
  using ReadFunction = ssize_t (*)(int, void*, size_t);
  const auto real_read = reinterpret_cast<ReadFunction>(dlsym(RTLD_NEXT, "read"));
  const char* const limit_text = std::getenv("READ_FAULT_AFTER");
  const off_t offset = fd > STDERR_FILENO ? lseek(fd, 0, SEEK_CUR) : -1;
  if (limit_text == nullptr || offset < 0) {
    return real_read(fd, buf, nbytes);
  }
  const off_t limit = std::strtoll(limit_text, nullptr, 10);
  if (offset >= limit) {
    errno = EIO;
    return -1;
  }
  const auto allowed = static_cast<size_t>(limit - offset);
  return real_read(fd, buf, nbytes < allowed ? nbytes : allowed);
}
