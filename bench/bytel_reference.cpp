// The byte-at-a-time dump that bytel must match for every input: one fread
// and one printf per byte. Used as the oracle in tests and as a peer in the
// benchmark.

#include <cstdio>

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
  char byte = 0;
  int column = 0;
  while (std::fread(&byte, 1, 1, stream) == 1) {
    std::printf("%02hhx ", byte);
    if (++column > 7) {
      std::putchar('\n');
      column = 0;
    }
  }
  std::putchar('\n');
  std::fclose(stream);
  return 0;
}
