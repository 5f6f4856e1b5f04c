// SPDX-License-Identifier: MIT
// The byte-at-a-time dump as a program, with bytel's messages: the oracle in
// tests and a peer in the benchmark.

#include <cstdio>

#include "hex_reference.h"

int main(int argc, char** argv) {
  if (argc <= 1) {
    std::puts("Please enter a filename");
    return 1;
  }
  std::printf("File: %s\n", argv[1]);
  std::FILE* stream = std::fopen(argv[1], "r");
  if (stream == nullptr) {
    std::puts("Errorz opening file");
    return -1;
  }
  DumpByteAtATime(stream, stdout);
  static_cast<void>(std::fclose(stream));
  return 0;
}
