// SPDX-License-Identifier: MIT
#include "hex_reference.h"

void DumpByteAtATime(std::FILE* in, std::FILE* out) {
  char byte = 0;
  int column = 0;
  while (std::fread(&byte, 1, 1, in) == 1) {
    static_cast<void>(std::fprintf(out, "%02hhx ", byte));
    if (++column > 7) {
      static_cast<void>(std::fputc('\n', out));
      column = 0;
    }
  }
  static_cast<void>(std::fputc('\n', out));
}
