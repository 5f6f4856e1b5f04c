// SPDX-License-Identifier: MIT
// The bundled test card is what its program makes, and holds every colour.

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "image_format.h"
#include "run_program.h"
#include "test_support.h"

namespace {

using TestcardTest = TestWithFiles;

TEST_F(TestcardTest, TheBundledCardIsWhatItsProgramMakes) {
  const std::string made = dir_ + "/testcard";
  ExpectRun(RunProgram({MAKE_TESTCARD, made}), "", 0);
  const std::string bundled = ReadWholeFile(TESTCARD);
  EXPECT_TRUE(ReadWholeFile(made) == bundled) << "samples/testcard.rastel is out of date: run make_testcard again";

  std::FILE* stream = std::fopen(TESTCARD, "r");
  ASSERT_NE(stream, nullptr);
  ImageHeader header{};
  ASSERT_TRUE(ReadHeader(stream, header));
  static_cast<void>(std::fclose(stream));
  EXPECT_EQ(header.magic, kMagic);
  EXPECT_EQ(bundled.size(), kHeaderSize + static_cast<std::size_t>(header.width) * header.height);
  EXPECT_EQ(std::set<char>(bundled.begin() + kHeaderSize, bundled.end()).size(), 256U);
}

// make run on a machine without a display: the viewer runs on Xvfb, a PNG of
// its window is saved, and a key press ends it.
TEST_F(TestcardTest, MakeRunShowsTheCardWithoutADisplay) {
  if (!EmulatorPrefix().empty()) {
    GTEST_SKIP() << "make run shows the card with the build for this machine";
  }
  const std::string png = dir_ + "/testcard.png";
  // Nothing on standard error, also where no runtime folder is set.
  const ProgramResult shown =
      RunProgram({SHOW_PICTURE, RASTEL, TESTCARD, png, X_SCREENSHOT}, {"DISPLAY", "XDG_RUNTIME_DIR"});
  EXPECT_EQ(shown.exit_status, 0);
  EXPECT_EQ(shown.err, "");
  // The viewer's lines come when it ends, or sooner if its SDL flushes them.
  EXPECT_NE(shown.out.find("what its window showed is in " + png + "\n"), std::string::npos) << shown.out;
  EXPECT_NE(shown.out.find("Width: 256\nHeight: 320\n"), std::string::npos) << shown.out;
  EXPECT_EQ(ReadWholeFile(png).substr(0, 8), "\x89PNG\r\n\x1a\n");
}

}  // namespace
