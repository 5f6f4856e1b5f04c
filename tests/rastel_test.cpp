// SPDX-License-Identifier: MIT
// Runs the built rastel on a private X server: reads its window back from
// the server, drives it with real input events, and compares its standard
// output, standard error and exit status byte for byte.

#include <SDL.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "colours_shown.h"
#include "desktop.h"
#include "image_format.h"
#include "picture_file.h"
#include "picture_reference.h"
#include "run_program.h"
#include "test_support.h"

namespace {

constexpr int kExitFailure = 1;
constexpr std::int32_t kMaxSide = 32767;  // as far as X11's coordinates reach
constexpr int kOpenFailed = 255;
constexpr int kWindowTimeoutMs = 10000;
constexpr int kExitTimeoutMs = 10000;
// Long enough for the viewer to have handled events sent before it.
constexpr auto kSettle = std::chrono::milliseconds(500);

// Whether the SDL 1.2 we are built with makes a window of that size here.
bool SdlOpensWindow(const XServer& server, int width, int height) {
  setenv("DISPLAY", server.name.c_str(), 1);
  setenv("SDL_VIDEODRIVER", "x11", 1);
  const bool opened = SDL_Init(SDL_INIT_VIDEO) == 0 && SDL_SetVideoMode(width, height, 8, 0) != nullptr;
  SDL_Quit();
  return opened;
}

// sdl12-compat numbers its versions of SDL 1.2 from 1.2.50 on.
bool IsSdl12Compat() {
  constexpr Uint8 kFirstCompatPatch = 50;
  return SDL_Linked_Version()->patch >= kFirstCompatPatch;
}

bool StillRunning(pid_t pid) { return waitpid(pid, nullptr, WNOHANG) == 0; }

class RastelTest : public TestWithFiles {
 protected:
  void SetUp() override { StartOn(DesktopKind::kXServer); }
  void StartOn(DesktopKind kind) {
    TestWithFiles::SetUp();
    if (!RunsHere(kind)) {
      GTEST_SKIP() << "this build runs the viewer on sway only where scripts/releases says, and not with sanitizers";
    }
    StartDesktop(desktop_, kind, dir_);
    display_ = desktop_.display;
  }
  void TearDown() override {
    StopDesktop(desktop_);
    TestWithFiles::TearDown();
  }

  // `extra_env` may override the display settings.
  RunningProgram Launch(const std::vector<std::string>& args, std::vector<std::string> extra_env = {},
                        const std::string& stdout_path = "") {
    std::vector<std::string> argv = {RASTEL};
    argv.insert(argv.end(), args.begin(), args.end());
    for (const std::string& setting : desktop_.env) {
      if (std::none_of(extra_env.begin(), extra_env.end(),
                       [&](const std::string& e) { return VariableName(e) == VariableName(setting); })) {
        extra_env.push_back(setting);
      }
    }
    return LaunchProgram(argv, extra_env, stdout_path);
  }

  // The viewer's window once it shows; the viewer is killed when none does.
  DesktopWindow Show(const RunningProgram& viewer) {
    DesktopWindow window = WaitForWindowOf(desktop_, viewer.pid, kWindowTimeoutMs);
    if (window.size.width == 0) {
      ADD_FAILURE() << "no window showed the picture";
      kill(viewer.pid, SIGKILL);
    }
    return window;
  }

  // Shows the picture at its size, and as `expected` unless that is empty;
  // ends the viewer with a key press or, if not `by_key`, a close request,
  // and expects the two size lines and status 0.
  void ShowThenEnd(const std::vector<std::string>& args, int width, int height,
                   const std::vector<std::uint32_t>& expected, bool by_key) {
    SCOPED_TRACE(by_key ? "ended by a key press" : "ended by a close request");
    const RunningProgram viewer = Launch(args);
    const DesktopWindow window = Show(viewer);
    EXPECT_EQ(window.size.width, width);
    EXPECT_EQ(window.size.height, height);
    if (!expected.empty() && window.size.width == width && window.size.height == height) {
      EXPECT_EQ(CountDiffering(WaitForPixels(desktop_, window, expected, kWindowTimeoutMs), expected), 0U);
    }
    by_key ? PressKey(desktop_, window) : RequestClose(desktop_, window, viewer.pid);
    ExpectRun(FinishProgramOn(desktop_, viewer, kExitTimeoutMs), SizeLines(width, height), 0);
  }

  Desktop desktop_;
  XDisplay* display_ = nullptr;  // the X kinds' connection
};

// The cases every desktop shares, on sway natively and through XWayland as
// well as on X.
class RastelOnEveryDesktopTest : public RastelTest, public ::testing::WithParamInterface<DesktopKind> {
 protected:
  void SetUp() override { StartOn(GetParam()); }
};

// Every colour, in rows that differ and more rows than columns, with bytes
// after the picture that change nothing and a second path that is ignored;
// then random bytes.
TEST_P(RastelOnEveryDesktopTest, ShowsThePictureExactlyAtItsSizeUntilAKeyPressOrACloseRequest) {
  constexpr int kWidth = 16;
  constexpr int kHeight = 17;
  std::string pixels;
  for (int i = 0; i < kWidth * kHeight; ++i) {
    pixels.push_back(static_cast<char>(i * 7));
  }
  const std::string path = WriteFile("every-colour", Picture(kWidth, kHeight, pixels + RandomBytes(100, 1)));
  ShowThenEnd({path, dir_ + "/missing"}, kWidth, kHeight, PictureAsShown(kWidth, kHeight, pixels, desktop_.shown),
              true);
  const std::string random = RandomBytes(std::size_t{64} * 48, 3);
  ShowThenEnd({WriteFile("random", Picture(64, 48, random))}, 64, 48, PictureAsShown(64, 48, random, desktop_.shown),
              false);
}

INSTANTIATE_TEST_SUITE_P(Desktops, RastelOnEveryDesktopTest,
                         ::testing::Values(DesktopKind::kXServer, DesktopKind::kXWindowManager,
                                           DesktopKind::kSwayWayland, DesktopKind::kSwayXWayland),
                         [](const ::testing::TestParamInfo<DesktopKind>& info) { return NameOf(info.param); });

TEST_F(RastelTest, KeyReleasesPointerAndFocusDoNotEndItAKeyPressDoes) {
  const std::string path = WriteFile("picture", Picture(40, 30, RandomBytes(1200, 2)));
  HoldKeyOutsideWindows(display_);
  const RunningProgram viewer = Launch({path});
  const XWindow window = Show(viewer).x_window;
  MovePointerInto(display_, window);
  ReleaseHeldKey(display_);
  ClickButton(display_, window);
  ToggleFocus(display_, window);
  std::this_thread::sleep_for(kSettle);
  EXPECT_TRUE(StillRunning(viewer.pid));
  PressKey(display_, window);
  ExpectRun(FinishProgram(viewer, kExitTimeoutMs), SizeLines(40, 30), 0);
}

TEST_F(RastelTest, AnInterruptEndsItAsAQuitRequest) {
  const std::string path = WriteFile("picture", Picture(5, 7, RandomBytes(35, 4)));
  const RunningProgram viewer = Launch({path});
  Show(viewer);
  kill(viewer.pid, SIGINT);
  ExpectRun(FinishProgram(viewer, kExitTimeoutMs), SizeLines(5, 7), 0);
}

// The tallest picture the viewer takes; one more is refused. sdl12-compat
// makes no window above 16384, so there SDL refuses it instead.
TEST_F(RastelTest, OpensTheLargestWindow) {
  const bool sdl_makes_it = SdlOpensWindow(desktop_.x_server, 1, kMaxSide);
  const std::string path = WriteFile("tall", Picture(1, kMaxSide, RandomBytes(kMaxSide, 5)));
  if (sdl_makes_it) {
    ShowThenEnd({path}, 1, kMaxSide, {}, false);
  } else {
    ExpectRun(FinishProgram(Launch({path}), kExitTimeoutMs), SizeLines(1, kMaxSide), kExitFailure);
  }
}

// Every build, 32-bit ones included, opens files past 4 GiB.
TEST_F(RastelTest, OpensAPictureFileLargerThanFourGiB) {
  const std::string pixels = RandomBytes(12, 7);
  const std::string path = WriteFile("large", Picture(6, 2, pixels));
  std::filesystem::resize_file(path, (std::uintmax_t{5} << 30) + 3);
  ShowThenEnd({path}, 6, 2, PictureAsShown(6, 2, pixels, desktop_.shown), false);
}

// A wait that fails must end the viewer, never leave it spinning.
TEST_F(RastelTest, AFailedWaitForEventsEndsItWithStatusOne) {
  const std::string path = WriteFile("picture", Picture(4, 4, RandomBytes(16, 6)));
  const RunningProgram viewer = Launch({path}, {"LD_PRELOAD=" WAIT_FAULT, AsanOptionsAllowingPreload()});
  ExpectRun(FinishProgram(viewer, kExitTimeoutMs), SizeLines(4, 4), kExitFailure);
}

// What the viewer prints of a file that holds no picture it shows: a short
// header is refused, a wrong magic value shown as read, a size reported
// before SDL refuses it.
std::string ViewerRefusal(const std::string& bytes) {
  std::string refused = "This file format can not be displayed\n";
  if (bytes.size() < kHeaderSize) {
    return refused;
  }
  const auto field = [&](std::size_t at) {
    std::uint32_t value = 0;
    for (std::size_t byte = 4; byte-- > 0;) {
      value = value << 8 | static_cast<std::uint8_t>(bytes[at + byte]);
    }
    return value;
  };
  if (field(0) != 0xDEAD1337) {
    char lines[64];
    static_cast<void>(std::snprintf(lines, sizeof lines, "Magic number: 0x%x\n", field(0)));
    return lines + std::string("Correct magic number: 0xdead1337\n") + refused;
  }
  return SizeLines(static_cast<std::int32_t>(field(4)), static_cast<std::int32_t>(field(8)));
}

TEST_F(RastelTest, RefusalsPrintTheirMessageAndOpenNoWindow) {
  const std::string refused = "This file format can not be displayed\n";
  struct Case {
    std::string name;
    std::string bytes;  // written to a file named after the case, unless `args` is set
    std::vector<std::string> args;
    std::string out;
    int status;
    std::string extra_env{};
    bool sdl_may_map = false;  // SDL maps its window before it refuses the mode
  };
  const std::string dangling = dir_ + "/dangling";
  std::filesystem::create_symlink(dir_ + "/missing", dangling);
  std::vector<Case> cases = {
      {"no argument", "", {}, "Please provide a filename\n", kExitFailure},
      {"missing file", "", {dir_ + "/missing"}, "Couldn't open file\n", kOpenFailed},
      {"path through a file", "", {WriteFile("file", Picture(1, 1, "x")) + "/x"}, "Couldn't open file\n", kOpenFailed},
      {"dangling symbolic link", "", {dangling}, "Couldn't open file\n", kOpenFailed},
      {"/dev/null", "", {"/dev/null"}, refused, kExitFailure},
      {"directory", "", {dir_}, refused, kExitFailure},
      {"SDL cannot start", Picture(2, 2, "abcd"), {}, SizeLines(2, 2), kExitFailure, "DISPLAY=:none"},
      // SDL 1.2 refuses rows that its 16-bit pitch cannot hold on the 32-bit
      // surface it draws this display with.
      {"SDL refuses the mode", Picture(kMaxSide, 1, ""), {}, SizeLines(kMaxSide, 1), kExitFailure, "", true},
  };
  for (const HostileFile& file : HostileFiles()) {
    cases.push_back({file.name, file.bytes, {}, ViewerRefusal(file.bytes), kExitFailure});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> args = c.args;
    if (args.empty() && c.name != "no argument") {
      args = {WriteFile(c.name, c.bytes)};
    }
    std::vector<std::string> extra_env;
    if (!c.extra_env.empty()) {
      extra_env.push_back(c.extra_env);
    }
    ExpectRun(FinishProgram(Launch(args, extra_env), kExitTimeoutMs), c.out, c.status);
    const int mapped = CountWindowsMapped(display_);
    if (!c.sdl_may_map) {
      EXPECT_EQ(mapped, 0);
    }
  }
}

// Without a display SDL comes up on a driver that shows nothing, and the
// viewer ends as when SDL cannot start, at once. Classic SDL's text-art
// driver writes its terminal's set-up and reset while it starts and stops,
// before the viewer can tell which driver it is, but never the picture.
TEST_F(RastelTest, EndsAtOnceWhereNoDisplayCanBeReached) {
  constexpr int kWidth = 256;
  constexpr int kHeight = 320;
  constexpr std::size_t kMostTerminalSetUp = 1024;
  const std::string path =
      WriteFile("picture", Picture(kWidth, kHeight, RandomBytes(std::size_t{kWidth} * kHeight, 12)));
  const ProgramResult result =
      FinishProgram(Launch({path}, {"DISPLAY", "WAYLAND_DISPLAY", "SDL_VIDEODRIVER", "TERM=xterm"}), kExitTimeoutMs);
  EXPECT_EQ(result.exit_status, kExitFailure);
  EXPECT_EQ(result.err, "");
  const std::string size_lines = SizeLines(kWidth, kHeight);
  ASSERT_TRUE(result.out.starts_with(size_lines)) << result.out;
  if (IsSdl12Compat()) {
    EXPECT_EQ(result.out, size_lines);
  } else {
    EXPECT_LE(result.out.size() - size_lines.size(), kMostTerminalSetUp);
  }
}

// What a desktop does to a window, under a stacking window manager. Classic
// SDL repaints the window by itself; sdl12-compat asks for the picture again.
class RastelOnADesktopTest : public RastelTest {
 protected:
  void SetUp() override { StartOn(DesktopKind::kXWindowManager); }
};

TEST_F(RastelOnADesktopTest, KeepsItsPictureSizeAndTitleUntilClosedThroughTheWindowManager) {
  constexpr int kWidth = 160;
  constexpr int kHeight = 120;
  const std::string pixels = RandomBytes(std::size_t{kWidth} * kHeight, 11);
  const std::vector<std::uint32_t> expected = PictureAsShown(kWidth, kHeight, pixels, desktop_.shown);
  const RunningProgram viewer = Launch({WriteFile("picture", Picture(kWidth, kHeight, pixels))});
  const DesktopWindow window = Show(viewer);
  EXPECT_EQ(CountDiffering(WaitForPixels(desktop_, window, expected, kWindowTimeoutMs), expected), 0U);
  struct Case {
    const char* name;
    void (*disturb)(XDisplay*, XWindow);
  };
  for (const Case& c :
       {Case{"covered by another window", CoverWithAnotherWindow}, Case{"minimised and restored", MinimiseAndRestore},
        Case{"moved partly off screen and back", MovePartlyOffScreenAndBack}}) {
    SCOPED_TRACE(c.name);
    c.disturb(display_, window.x_window);
    EXPECT_EQ(CountDiffering(WaitForPixels(desktop_, window, expected, kWindowTimeoutMs), expected), 0U);
  }
  for (const WindowSize size : {SizeOf(display_, window.x_window), FixedSizeOf(display_, window.x_window)}) {
    EXPECT_EQ(size.width, kWidth);
    EXPECT_EQ(size.height, kHeight);
  }
  EXPECT_EQ(TitleOf(display_, window.x_window), "");  // SDL gives it none, and neither does the viewer
  CloseThroughWindowManager(display_, window.x_window);
  ExpectRun(FinishProgram(viewer, kExitTimeoutMs), SizeLines(kWidth, kHeight), 0);
}

// The pixel bytes a file lacks take the colour of the last one read.
TEST_F(RastelTest, ShowsShortPixelDataWithTheLastByteRead) {
  constexpr int kWidth = 6;
  constexpr int kHeight = 4;
  const std::string all_pixels = RandomBytes(std::size_t{kWidth} * kHeight, 8);
  for (const std::size_t length : {std::size_t{kWidth * kHeight - 1}, std::size_t{kWidth}}) {
    SCOPED_TRACE(length);
    const std::string pixels = all_pixels.substr(0, length);
    ShowThenEnd({WriteFile("short", Picture(kWidth, kHeight, pixels))}, kWidth, kHeight,
                PictureAsShown(kWidth, kHeight, pixels, desktop_.shown), true);
  }
}

// A read error part way shows what was read, as a short file does, but the
// run says so and fails.
TEST_F(RastelTest, AReadErrorShowsWhatWasReadAndFails) {
  const std::string pixels = RandomBytes(std::size_t{5} * 4, 11);
  const std::vector<std::string> env = {std::string("LD_PRELOAD=") + READ_FAULT, "READ_FAULT_AFTER=20",
                                        AsanOptionsAllowingPreload()};
  const RunningProgram viewer = Launch({WriteFile("failing", Picture(5, 4, pixels))}, env);
  const DesktopWindow window = Show(viewer);
  const std::vector<std::uint32_t> expected = PictureAsShown(5, 4, pixels.substr(0, 8), desktop_.shown);
  EXPECT_EQ(CountDiffering(WaitForPixels(desktop_, window, expected, kWindowTimeoutMs), expected), 0U);
  PressKey(desktop_, window);
  ExpectRun(FinishProgram(viewer, kExitTimeoutMs), SizeLines(5, 4) + "Couldn't read file\n", kExitFailure);
}

// A FIFO ends when its writer closes it, as a file ends: within the header,
// the picture is refused; within the pixels, the rest takes the last byte.
TEST_F(RastelTest, TakesAFifoWhoseWriterClosesEarlyAsAShortFile) {
  std::thread header_writer = FeedFifo("header", Picture(3, 2, "").substr(0, 7));
  ExpectRun(FinishProgram(Launch({dir_ + "/header"}), kExitTimeoutMs), "This file format can not be displayed\n",
            kExitFailure);
  header_writer.join();

  const std::string bottom_row = RandomBytes(5, 9);
  std::thread pixel_writer = FeedFifo("pixels", Picture(5, 3, bottom_row));
  ShowThenEnd({dir_ + "/pixels"}, 5, 3, PictureAsShown(5, 3, bottom_row, desktop_.shown), false);
  pixel_writer.join();
}

TEST_F(RastelTest, RefusesAFileItsUserMayNotRead) {
  const std::string path = WriteFile("secret", Picture(2, 2, "abcd"));
  std::string why_not;
  const std::vector<std::string> command = CommandWithoutReadAccess(RASTEL, path, why_not);
  if (command.empty()) {
    GTEST_SKIP() << why_not;
  }
  ExpectRun(RunProgram(command), "Couldn't open file\n", kOpenFailed);
}

// Size lines that cannot be written make a shown picture a failure; a
// refusal keeps its own status.
TEST_F(RastelTest, OutputThatCannotBeWrittenFails) {
  const std::string path = WriteFile("picture", Picture(4, 3, RandomBytes(12, 10)));
  const RunningProgram viewer = Launch({path}, {}, "/dev/full");
  PressKey(desktop_, Show(viewer));
  ExpectRun(FinishProgram(viewer, kExitTimeoutMs), "", kExitFailure);

  ExpectRun(FinishProgram(Launch({dir_ + "/missing"}, {}, "/dev/full"), kExitTimeoutMs), "", kOpenFailed);
  ExpectRun(FinishProgram(Launch({WriteFile("zero", Picture(0, 1, ""))}, {}, "/dev/full"), kExitTimeoutMs), "",
            kExitFailure);
}

// The colours the format itself gives each byte, as from-rastel exports them.
std::array<std::uint32_t, 256> FormatColours() {
  std::array<std::uint32_t, 256> colours{};
  for (int byte = 0; byte < 256; ++byte) {
    const Rgb rgb = ReferenceColour(static_cast<std::uint8_t>(byte));
    colours[byte] = std::uint32_t{rgb[0]} << 16 | std::uint32_t{rgb[1]} << 8 | rgb[2];
  }
  return colours;
}

// Each component's mean over a picture's pixels, 0xRRGGBB each.
std::array<double, 3> MeanColour(const std::vector<std::uint32_t>& pixels) {
  std::array<double, 3> mean{};
  for (const std::uint32_t pixel : pixels) {
    for (int c = 0; c < 3; ++c) {
      mean[c] += static_cast<double>((pixel >> (16 - 8 * c)) & 0xFF) / static_cast<double>(pixels.size());
    }
  }
  return mean;
}

// An image's pixels as ffmpeg decodes them, 0xRRGGBB, top row first.
std::vector<std::uint32_t> DecodedPixels(const std::string& image) {
  const std::string rgb = Ffmpeg({"-i", image, "-f", "rawvideo", "-pix_fmt", "rgb24", "-"});
  std::vector<std::uint32_t> pixels;
  for (std::size_t i = 0; i + 2 < rgb.size(); i += 3) {
    const auto component = [&](std::size_t at) { return std::uint32_t{static_cast<std::uint8_t>(rgb[at])}; };
    pixels.push_back(component(i) << 16 | component(i + 1) << 8 | component(i + 2));
  }
  return pixels;
}

template <typename Rows>
Rows UpsideDown(const Rows& rows, std::size_t width) {
  Rows flipped;
  for (std::size_t end = rows.size(); end >= width; end -= width) {
    flipped.insert(flipped.end(), rows.begin() + static_cast<std::ptrdiff_t>(end - width),
                   rows.begin() + static_cast<std::ptrdiff_t>(end));
  }
  return flipped;
}

double MeanComponentError(const std::vector<std::uint32_t>& a, const std::vector<std::uint32_t>& b) {
  double sum = 0;
  for (std::size_t i = 0; i < a.size() && a.size() == b.size(); ++i) {
    for (const int shift : {0, 8, 16}) {
      sum += std::abs(static_cast<int>((a[i] >> shift) & 0xFF) - static_cast<int>((b[i] >> shift) & 0xFF));
    }
  }
  return a.size() == b.size() ? sum / (3.0 * static_cast<double>(a.size())) : 255;
}

// Pictures of one's own: to-rastel makes them from what ffmpeg reads, the
// viewer shows them upright, from-rastel exports the format's colours, short
// files filled as the viewer fills them; each refusal says why on standard
// error alone.
TEST_F(RastelTest, PicturesMadeFromImagesShowUprightAndExportInTheFormatsColours) {
  if (std::string_view(FFMPEG).empty()) {
    GTEST_SKIP() << "ffmpeg is not installed, and the picture scripts need it";
  }
  struct Case {
    const char* name;
    const char* pattern;  // one of ffmpeg's test patterns
    int width;
    int height;
    const char* pixel_format;
    const char* file;
  };
  for (const Case& c :
       {Case{"odd size", "testsrc", 33, 17, "rgb24", "odd.png"}, Case{"grey", "smptebars", 40, 30, "gray", "grey.png"},
        Case{"with alpha", "testsrc2", 32, 24, "rgba", "alpha.png"},
        Case{"16 bits a channel", "smptehdbars", 48, 32, "rgb48be", "deep.png"},
        Case{"JPEG", "testsrc2", 64, 48, "yuvj420p", "photo.jpg"}}) {
    SCOPED_TRACE(c.name);
    const std::string image = dir_ + "/" + c.file;
    const std::string size = std::to_string(c.width) + "x" + std::to_string(c.height);
    Ffmpeg({"-f", "lavfi", "-i", std::string(c.pattern) + "=size=" + size, "-frames:v", "1", "-pix_fmt", c.pixel_format,
            image});
    const std::string made = RunProgram({TO_RASTEL, image}).out;
    ASSERT_EQ(made.size(), kHeaderSize + static_cast<std::size_t>(c.width) * c.height);
    EXPECT_EQ(made.substr(0, kHeaderSize), Picture(c.width, c.height, ""));
    const std::string pixels = made.substr(kHeaderSize);
    const std::vector<std::uint32_t> colours = PictureAsShown(c.width, c.height, pixels, FormatColours());
    // Upright, and on average within a step of red and green of the source.
    constexpr double kColourStep = 32;
    const std::vector<std::uint32_t> source = DecodedPixels(image);
    EXPECT_LT(MeanComponentError(colours, source), kColourStep);
    EXPECT_LT(MeanComponentError(colours, source), MeanComponentError(UpsideDown(colours, c.width), source));

    const std::string path = WriteFile("made", made);
    ShowThenEnd({path}, c.width, c.height, PictureAsShown(c.width, c.height, pixels, desktop_.shown), true);
    EXPECT_EQ(DecodedPixels(WriteFile("exported.png", RunProgram({FROM_RASTEL, path}).out)), colours);
  }

  // A device's raw dump, top row first, comes through a PNG byte for byte
  // when dithering is off; what from-rastel exports comes back byte for byte
  // either way, under any name.
  const std::string dump = RandomBytes(std::size_t{24} * 10, 13);
  Ffmpeg({"-f", "rawvideo", "-pix_fmt", "rgb8", "-s", "24x10", "-i", WriteFile("dump", dump), dir_ + "/dump.png"});
  EXPECT_EQ(RunProgram({TO_RASTEL, "-n", dir_ + "/dump.png"}).out, Picture(24, 10, UpsideDown(dump, 24)));
  std::string every_byte;
  for (int byte = 0; byte < 256; ++byte) {
    every_byte.push_back(static_cast<char>(byte));
  }
  for (const std::string& pixels : {every_byte, every_byte.substr(0, 200), std::string()}) {
    SCOPED_TRACE(pixels.size());
    const std::string exported = RunProgram({FROM_RASTEL, WriteFile("every-byte", Picture(16, 16, pixels))}).out;
    EXPECT_EQ(DecodedPixels(WriteFile("exported.png", exported)), PictureAsShown(16, 16, pixels, FormatColours()));
  }
  const std::string filled = Picture(16, 16, every_byte);
  WriteFile("pct%d.png", RunProgram({FROM_RASTEL, WriteFile("every-byte", filled)}, {"PATH=" + dir_}).out);
  EXPECT_EQ(RunProgram({TO_RASTEL, dir_ + "/pct%d.png"}).out, filled);
  EXPECT_EQ(RunProgram({TO_RASTEL, "-n", dir_ + "/pct%d.png"}).out, filled);

  // Dithered in the format's own levels, a flat colour keeps its mean as far
  // as the format reaches: 200 is between levels, but above blue's top.
  for (const int grey : {128, 200}) {
    SCOPED_TRACE(grey);
    const std::string image = dir_ + "/flat" + std::to_string(grey) + ".png";
    char colour[32];
    static_cast<void>(std::snprintf(colour, sizeof colour, "color=c=0x%06x:size=64x64", grey * 0x10101));
    Ffmpeg({"-f", "lavfi", "-i", colour, "-frames:v", "1", image});
    const std::string made = RunProgram({TO_RASTEL, image}).out;
    const std::array<double, 3> mean = MeanColour(PictureAsShown(64, 64, made.substr(kHeaderSize), FormatColours()));
    EXPECT_NEAR(mean[0], grey, 1.5);
    EXPECT_NEAR(mean[1], grey, 1.5);
    EXPECT_NEAR(mean[2], std::min(grey, 192), 1.5);
  }

  // The size comes from the frame whose pixels follow: of an icon that
  // holds several, ffmpeg decodes the largest.
  const std::string icon = dir_ + "/icon.ico";
  Ffmpeg({"-f", "lavfi", "-i", "testsrc=size=64x64", "-frames:v", "1", icon});
  const std::string made_icon = RunProgram({TO_RASTEL, icon}).out;
  EXPECT_EQ(made_icon.size(), kHeaderSize + std::size_t{64} * 64);
  EXPECT_EQ(made_icon.substr(0, kHeaderSize), Picture(64, 64, ""));

  const std::string too_wide = dir_ + "/too-wide.png";
  Ffmpeg({"-f", "lavfi", "-i", "color=size=32768x2", "-frames:v", "1", too_wide});
  const std::string no_ffmpeg = "PATH=" + dir_;
  // Each refusal says why on standard error and writes nothing; from-rastel
  // refuses every hostile file as the thumbnailer does.
  const auto refusal = [](const std::string& name, const std::vector<std::string>& argv, const std::string& says,
                          int status = 1, const std::string& env = "") {
    return RunCase{name, argv, "", status, says, env.empty() ? std::vector<std::string>{} : std::vector{env}};
  };
  std::vector<RunCase> cases = {
      refusal("to-rastel alone", {TO_RASTEL}, "usage: to-rastel", 2),
      refusal("a missing image", {TO_RASTEL, dir_ + "/missing"}, "cannot read"),
      refusal("not a picture", {TO_RASTEL, WriteFile("text", "not a picture\n")}, "is not a picture"),
      refusal("text", {TO_RASTEL, WriteFile("notes.txt", std::string(std::size_t{40} * 30, 'a'))},
              "is text, not a picture"),
      refusal("a corrupt PNG", {TO_RASTEL, WriteFile("corrupt.png", ReadWholeFile(too_wide).substr(0, 60))},
              "corrupt.png"),
      refusal("too wide", {TO_RASTEL, too_wide}, "32768 x 2"),
      refusal("no ffmpeg", {TO_RASTEL, too_wide}, "install the ffmpeg package", 1, no_ffmpeg),
      refusal("from-rastel alone", {FROM_RASTEL}, "usage: from-rastel", 2),
      refusal("a directory", {FROM_RASTEL, dir_}, "cannot read"),
  };
  for (const HostileFile& hostile : HostileFiles()) {
    cases.push_back(refusal(hostile.name, {FROM_RASTEL, WriteFile(hostile.name, hostile.bytes)}, hostile.says));
  }
  ExpectCases(cases);
}

}  // namespace
