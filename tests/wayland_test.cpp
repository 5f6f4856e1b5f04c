// SPDX-License-Identifier: MIT
// Runs the built rastel on a private headless sway, as SDL's Wayland driver
// and XWayland show it: reads its window back, ends it with a key press or
// a close request, and compares its output and exit status.

#include <gtest/gtest.h>
#include <signal.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "colours_shown.h"
#include "picture_file.h"
#include "run_program.h"
#include "sway_session.h"
#include "test_support.h"

namespace {

constexpr int kWindowTimeoutMs = 10000;
constexpr int kExitTimeoutMs = 10000;

class WaylandTest : public TestWithFiles {
 protected:
  void SetUp() override {
    TestWithFiles::SetUp();
    session_ = StartSway();
    ASSERT_GT(session_.pid, 0);
  }
  void TearDown() override {
    StopSway(session_);
    TestWithFiles::TearDown();
  }

  SwaySession session_;
};

TEST_F(WaylandTest, ShowsThePictureExactlyAndEndsOnAKeyPressOrACloseRequest) {
  const std::array<std::uint32_t, 256> shown = ColoursShown("dummy", "");
  struct Case {
    std::string name;
    bool with_xwayland;  // DISPLAY set to XWayland's, else unset
    bool by_key;         // else by a close request
  };
  const std::vector<Case> cases = {
      {"Wayland and XWayland, a key press", true, true},
      {"Wayland and XWayland, a close request", true, false},
      {"Wayland alone, a close request", false, false},
  };
  // Every colour, in rows that differ, and more rows than columns.
  constexpr int kWidth = 16;
  constexpr int kHeight = 17;
  std::string pixels;
  for (int i = 0; i < kWidth * kHeight; ++i) {
    pixels.push_back(static_cast<char>(i * 7));
  }
  const std::vector<std::uint32_t> expected = PictureAsShown(kWidth, kHeight, pixels, shown);
  const std::string path = WriteFile("picture", Picture(kWidth, kHeight, pixels));

  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // With no SDL_VIDEODRIVER, SDL picks its driver itself.
    const std::vector<std::string> env = {
        "XDG_RUNTIME_DIR=" + session_.runtime_dir, "WAYLAND_DISPLAY=" + SessionValue(session_, "WAYLAND_DISPLAY"),
        c.with_xwayland ? "DISPLAY=" + SessionValue(session_, "DISPLAY") : "DISPLAY", "SDL_VIDEODRIVER"};
    const RunningProgram viewer = LaunchProgram({RASTEL, path}, env);
    const SwayWindow window = WaitForWindowOf(session_, viewer.pid, kWindowTimeoutMs);
    EXPECT_EQ(window.width, kWidth) << "shell: " << window.shell;
    EXPECT_EQ(window.height, kHeight);
    if (window.width == kWidth && window.height == kHeight) {
      EXPECT_EQ(WaitForPixels(session_, window, expected, kWindowTimeoutMs), expected) << "shell: " << window.shell;
    }
    if (c.by_key) {
      PressKey(session_);
    } else {
      RequestClose(session_, viewer.pid);
    }
    ExpectRun(FinishProgram(viewer, kExitTimeoutMs), SizeLines(kWidth, kHeight), 0);
  }
}

}  // namespace
