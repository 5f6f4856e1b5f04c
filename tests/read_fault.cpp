// SPDX-License-Identifier: MIT
// Preloaded into a program under test to make a read fail part way through a
// file: once a descriptor's offset reaches READ_FAULT_AFTER bytes, read()
// fails with EIO. Standard streams and non-seekable descriptors are left
// alone. The offset is the only state, so nothing needs to be kept here.
//
// The C library's streams read through its own internal call, which no
// preload reaches: for them fread() delivers the bytes before the limit,
// then drops what the stream holds beyond it and puts a directory under its
// descriptor, so that the stream's next read fails as a real one does.

#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
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

extern "C" size_t fread(void* ptr, size_t size, size_t n, std::FILE* stream) {
  using FreadFunction = size_t (*)(void*, size_t, size_t, std::FILE*);
  const auto real_fread = reinterpret_cast<FreadFunction>(dlsym(RTLD_NEXT, "fread"));
  const char* const limit_text = std::getenv("READ_FAULT_AFTER");
  const long offset = fileno(stream) > STDERR_FILENO ? std::ftell(stream) : -1;
  const size_t bytes = size * n;
  if (limit_text == nullptr || offset < 0 || size == 0) {
    return real_fread(ptr, size, n, stream);
  }
  const long limit = std::strtol(limit_text, nullptr, 10);
  if (offset + static_cast<long>(bytes) <= limit) {
    return real_fread(ptr, size, n, stream);
  }
  size_t got = offset < limit ? real_fread(ptr, 1, static_cast<size_t>(limit - offset), stream) : 0;
  static_cast<void>(std::fseek(stream, 0, SEEK_CUR));
  const int directory = open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  static_cast<void>(dup2(directory, fileno(stream)));
  static_cast<void>(close(directory));
  got += real_fread(static_cast<char*>(ptr) + got, 1, bytes - got, stream);
  return got / size;
}
