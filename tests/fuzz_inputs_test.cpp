// SPDX-License-Identifier: MIT
// Runs a fuzz harness, built by this build's own compiler, once over its
// seeds and over every input that once found a fault. The harness aborts on
// a mismatch, and the path printed last names the input.

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);

namespace {

std::vector<char> ReadFile(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

TEST(FuzzInputs, PassEveryInputThatEverMattered) {
  if (LLVMFuzzerInitialize != nullptr) {
    LLVMFuzzerInitialize(nullptr, nullptr);
  }
  int inputs = 0;
  for (const std::filesystem::path folder : {FUZZ_SEEDS, FUZZ_REGRESSIONS}) {
    if (!std::filesystem::exists(folder)) {
      continue;
    }
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
      std::printf("input %s\n", entry.path().c_str());
      static_cast<void>(std::fflush(stdout));
      const std::vector<char> bytes = ReadFile(entry.path());
      LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
      ++inputs;
    }
  }
  EXPECT_GT(inputs, 0);
}

}  // namespace
