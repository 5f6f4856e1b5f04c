// SPDX-License-Identifier: MIT
// Runs the built rastel on a private headless sway, as SDL's Wayland driver
// and XWayland show it: reads its window back, ends it with a key press or
// a close request, and compares its output and exit status.

#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "colours_shown.h"
#include "picture_file.h"
#include "run_program.h"
#include "sway_session.h"
#include "test_support.h"

namespace {

constexpr int kWindowTimeoutMs = 10000;
constexpr int kExitTimeoutMs = 10000;

// Standard error without the lines Mesa and its EGL write of their own when
// SDL2 probes for a GPU and finds none (Debian 14's Mesa writes "libEGL
// warning: failed to get driver name for fd -1" and "MESA: error: ZINK:
// vkCreateInstance failed" there): those come from the graphics driver,
// whatever the viewer does, and only whole lines of theirs are dropped, so
// that anything the viewer writes there still fails the run. EGL ends some
// of its messages with a newline of their own before its own newline: the
// empty line after one of its lines is EGL's too.
std::string WithoutGraphicsDriverLines(const std::string& err) {
  constexpr std::array<std::string_view, 4> kDriverPrefixes = {"libEGL ", "libGL ", "MESA: ", "MESA-LOADER: "};
  const std::string_view all(err);
  std::string kept;
  bool after_driver_line = false;
  for (std::size_t start = 0; start < all.size();) {
    const std::size_t end = all.find('\n', start);
    const std::string_view line = all.substr(start, end == std::string_view::npos ? end : end + 1 - start);
    const bool driver_line =
        end != std::string_view::npos &&
        std::ranges::any_of(kDriverPrefixes, [line](std::string_view p) { return line.starts_with(p); });
    if (!driver_line && !(after_driver_line && line == "\n")) {
      kept.append(line);
    }
    after_driver_line = driver_line;
    start += line.size();
  }
  return kept;
}

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
    ProgramResult result = FinishProgram(viewer, kExitTimeoutMs);
    result.err = WithoutGraphicsDriverLines(result.err);
    ExpectRun(result, SizeLines(kWidth, kHeight), 0);
  }
}

}  // namespace
