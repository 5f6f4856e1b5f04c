#pragma once

// Small helpers that every suite shares.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstddef>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "run_program.h"

inline std::string RandomBytes(std::size_t count, unsigned seed) {
  std::mt19937 generator(seed);
  std::string bytes(count, '\0');
  for (char& byte : bytes) {
    byte = static_cast<char>(generator());
  }
  return bytes;
}

inline void ExpectRun(const ProgramResult& result, const std::string& out, int status) {
  EXPECT_EQ(result.out, out);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.exit_status, status);
}

// A fixture with a folder of its own for the files a test writes.
class TestWithFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = ::testing::TempDir() + "rastel-bytel-test.XXXXXX";
    dir_ = mkdtemp(pattern.data());
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::string WriteFile(const std::string& name, const std::string& bytes) {
    const std::string path = dir_ + "/" + name;
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
  }

  std::string dir_;
};
