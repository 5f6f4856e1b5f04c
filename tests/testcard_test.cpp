// The bundled test card is what its program makes, and holds every colour.

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <set>
#include <string>

#include "image_format.h"
#include "run_program.h"
#include "test_support.h"

namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

using TestcardTest = TestWithFiles;

TEST_F(TestcardTest, TheBundledCardIsWhatItsProgramMakes) {
  const std::string made = dir_ + "/testcard";
  ExpectRun(RunProgram({MAKE_TESTCARD, made}), "", 0);
  const std::string bundled = ReadFile(TESTCARD);
  EXPECT_TRUE(ReadFile(made) == bundled) << "samples/testcard.rastel is out of date: run make_testcard again";

  std::FILE* stream = std::fopen(TESTCARD, "r");
  ASSERT_NE(stream, nullptr);
  ImageHeader header{};
  ASSERT_TRUE(ReadHeader(stream, header));
  std::fclose(stream);
  EXPECT_EQ(header.magic, kMagic);
  EXPECT_EQ(bundled.size(), kHeaderSize + static_cast<std::size_t>(header.width) * header.height);
  EXPECT_EQ(std::set<char>(bundled.begin() + kHeaderSize, bundled.end()).size(), 256u);
}

}  // namespace
