// SPDX-License-Identifier: MIT
// Times what a user waits for: from starting a viewer to its whole picture
// on the screen of a private Xvfb, read back and compared with the pixels
// expected, for rastel and for feh showing a PPM of the same colours, the
// programs taking turns round by round. Prints each median, its ratio to the
// first program's, and DrawScreen's own time onto an 8-bit surface of that
// size. There is no target against feh; exits 1 when a picture never shows
// or shows wrong pixels, 2 when the benchmark itself cannot run.
//
// Usage: show_bench [-n rounds] [-s WIDTHxHEIGHT] [rastel...]
//   rastel...: the viewers to time, by default the one built beside this;
//   with several, each takes its turn and the first is the one compared with.

#include <SDL.h>
#include <X11/Xlib.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "bench_main.h"
#include "colours_shown.h"
#include "draw_timing.h"
#include "render.h"
#include "run_program.h"
#include "x_display.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kDefaultRounds = 9;
// The server gives back only what lies on its screen, so the screen holds the
// largest picture whole.
constexpr int kScreenSide = 4200;
constexpr int kStartTimeoutMs = 20000;
constexpr auto kShowTimeout = std::chrono::seconds(30);
constexpr auto kPollInterval = std::chrono::milliseconds(2);
constexpr const char* kFeh = "/usr/bin/feh";
constexpr int kBitsPerPixel = 8;

using Size = WindowSize;
constexpr std::array<Size, 3> kSizes = {{{640, 480}, {1920, 1080}, {4096, 4096}}};

struct Picture {
  Size size;
  std::string rastel_path;
  std::string ppm_path;
  std::vector<std::uint32_t> expected;  // 0xRRGGBB, top row first
};

struct Viewer {
  std::string label;
  std::vector<std::string> argv;  // without the picture's path
  bool shows_ppm = false;
};

void WritePpm(const std::string& path, Size size, const std::vector<std::uint32_t>& colours) {
  std::ofstream file(path, std::ios::binary);
  file << "P6\n" << size.width << ' ' << size.height << "\n255\n";
  std::vector<char> bytes;
  bytes.reserve(colours.size() * 3);
  for (const std::uint32_t colour : colours) {
    bytes.insert(bytes.end(),
                 {static_cast<char>(colour >> 16), static_cast<char>(colour >> 8), static_cast<char>(colour)});
  }
  file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!file) {
    throw std::runtime_error("cannot write " + path);
  }
}

Picture MakePicture(const std::string& dir, Size size, const std::array<std::uint32_t, 256>& shown) {
  const std::string name = dir + "/" + std::to_string(size.width) + "x" + std::to_string(size.height);
  const std::vector<std::uint8_t> pixels = RandomPixels(size.width, size.height);
  Picture picture{size, name + ".rastel", name + ".ppm",
                  PictureAsShown(size.width, size.height, std::string(pixels.begin(), pixels.end()), shown)};
  WritePicture(picture.rastel_path, size.width, size.height, pixels);
  WritePpm(picture.ppm_path, size, picture.expected);
  return picture;
}

// The rastels by their paths, or as "rastel" when it is the one built here,
// then feh at 100 %, in a window of the picture's size at the corner,
// without a menu or anything drawn over the picture.
std::vector<Viewer> ViewersFor(const std::vector<std::string>& rastels, Size size) {
  std::vector<Viewer> viewers;
  viewers.reserve(rastels.size() + 1);
  for (const std::string& rastel : rastels) {
    viewers.push_back({rastels.size() == 1 && rastel == RASTEL ? "rastel" : rastel, {rastel}, false});
  }
  const std::string geometry = std::to_string(size.width) + "x" + std::to_string(size.height) + "+0+0";
  viewers.push_back({"feh", {kFeh, "--geometry", geometry, "--zoom", "100", "--no-xinerama", "--no-menus"}, true});
  return viewers;
}

struct Strip {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
};

bool StripShown(XDisplay* display, XWindow window, const Strip& strip, const Picture& picture) {
  // None while the window is not yet that size, or once it has gone.
  const std::vector<std::uint32_t> shown = ReadArea(display, window, strip.x, strip.y, strip.width, strip.height);
  bool same = !shown.empty();
  for (int y = 0; y < strip.height && same; ++y) {
    const auto row = picture.expected.begin() + static_cast<std::ptrdiff_t>(strip.y + y) * picture.size.width + strip.x;
    same = std::equal(row, row + strip.width, shown.begin() + static_cast<std::ptrdiff_t>(y) * strip.width);
  }
  return same;
}

// The picture's four edges, a pixel wide.
bool EdgesShown(XDisplay* display, XWindow window, const Picture& picture) {
  const int width = picture.size.width;
  const int height = picture.size.height;
  const std::array<Strip, 4> edges = {
      {{0, 0, width, 1}, {0, height - 1, width, 1}, {0, 0, 1, height}, {width - 1, 0, 1, height}}};
  return std::all_of(edges.begin(), edges.end(),
                     [&](const Strip& edge) { return StripShown(display, window, edge, picture); });
}

// The window last mapped on the root since the events were dropped, or
// `window` when none has been mapped since it was.
XWindow LastMappedWindow(XDisplay* display, XWindow window) {
  XEvent event;
  while (XCheckTypedWindowEvent(display, DefaultRootWindow(display), MapNotify, &event) != 0) {
    window = event.xmap.window;
  }
  return window;
}

void ReportNotShown(XDisplay* display, XWindow window, const Viewer& viewer, const Picture& picture) {
  std::string what = "no window showed";
  if (window != 0) {
    const WindowSize size = SizeOf(display, window);
    what = "its " + std::to_string(size.width) + " x " + std::to_string(size.height) + " window shows " +
           std::to_string(CountDiffering(ReadPixels(display, window), picture.expected)) + " of " +
           std::to_string(picture.expected.size()) + " pixels wrong";
  }
  static_cast<void>(std::fprintf(stderr, "show_bench: %s on a %d x %d picture: %s\n", viewer.label.c_str(),
                                 picture.size.width, picture.size.height, what.c_str()));
}

// Waiting for the window costs nothing: the server's map event wakes this
// process. From then on the edges are read every kPollInterval, 64 KiB at
// 4096 x 4096, and the time is taken when they first show the picture: late
// by at most the interval and one such read, under 3 ms in all. The viewers
// put their picture up in one request, or in bands from one edge to the
// other, so the edges are right only once all of it is; the whole window is
// then read, outside the time, and if any pixel differs polling goes on.
std::optional<double> MsUntilShown(XDisplay* display, const Viewer& viewer, const Picture& picture,
                                   Clock::time_point start) {
  const auto deadline = start + kShowTimeout;
  XWindow window = 0;
  for (;;) {
    window = LastMappedWindow(display, window);
    if (window != 0 && EdgesShown(display, window, picture)) {
      const auto shown = Clock::now();
      if (ReadPixels(display, window) == picture.expected) {
        return std::chrono::duration<double, std::milli>(shown - start).count();
      }
    }
    if (Clock::now() > deadline) {
      ReportNotShown(display, window, viewer, picture);
      return std::nullopt;
    }
    if (window == 0) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
      pollfd fds[1] = {{ConnectionNumber(display), POLLIN, 0}};
      poll(fds, 1, static_cast<int>(std::max<std::int64_t>(0, left.count())));
    } else {
      std::this_thread::sleep_for(kPollInterval);
    }
  }
}

std::optional<double> TimeToPicture(XDisplay* display, const std::vector<std::string>& env, const Viewer& viewer,
                                    const Picture& picture) {
  // A viewer's windows go once the server sees it has gone.
  if (!PollUntil([&] { return ViewableProgramWindows(display).empty(); }, kStartTimeoutMs, kPollInterval)) {
    throw std::runtime_error("a window stays on the screen");
  }
  XSync(display, True);  // drops the map events of earlier runs
  std::vector<std::string> argv = viewer.argv;
  argv.push_back(viewer.shows_ppm ? picture.ppm_path : picture.rastel_path);
  const int null_fd = open("/dev/null", O_RDWR | O_CLOEXEC);
  const auto start = Clock::now();
  const pid_t pid = StartProgram(argv, null_fd, null_fd, STDERR_FILENO, env);
  close(null_fd);
  const std::optional<double> ms = MsUntilShown(display, viewer, picture, start);
  kill(pid, SIGKILL);
  ProgramResult ended;
  WaitProgram(pid, ended);
  return ms;
}

// One warm-up run each, then `rounds` rounds in which every viewer runs
// once, the first of a round being the next one along, so that none always
// follows the same one.
bool TimeViewers(XDisplay* display, const std::vector<std::string>& env, const std::vector<Viewer>& viewers,
                 const Picture& picture, int rounds, std::vector<double>& medians) {
  std::vector<std::vector<double>> times(viewers.size());
  for (int round = -1; round < rounds; ++round) {
    for (std::size_t turn = 0; turn < viewers.size(); ++turn) {
      const std::size_t which = (static_cast<std::size_t>(round + 1) + turn) % viewers.size();
      const std::optional<double> ms = TimeToPicture(display, env, viewers[which], picture);
      if (!ms) {
        return false;
      }
      if (round >= 0) {
        times[which].push_back(*ms);
      }
    }
  }
  medians.clear();
  std::transform(times.begin(), times.end(), std::back_inserter(medians), Median);
  return true;
}

double DrawScreenMs(const Picture& picture, int runs) {
  const Surface surface = MakeSurface(picture.size.width, picture.size.height, kBitsPerPixel);
  const Draw draw_screen = [](SDL_Surface* target, std::FILE* stream) { DrawScreen(target, stream); };
  return MedianDrawMs(picture.rastel_path, surface.get(), draw_screen, runs);
}

void PrintHeading(int rounds) {
  const SDL_version* sdl = SDL_Linked_Version();
  std::printf("Time from starting a viewer to its whole picture on a private Xvfb, read back and compared\n");
  std::printf("with the picture's pixels: median of %d rounds after one warm-up run each, the programs\n", rounds);
  std::printf("taking turns. \"/ first\": each median divided by the first program's (above 1: slower).\n");
  std::printf("feh shows a PPM of the colours rastel shows. SDL %d.%d.%d in this benchmark.\n", sdl->major, sdl->minor,
              sdl->patch);
}

bool RunBenchmark(const std::string& dir, const std::vector<std::string>& rastels, const std::vector<Size>& sizes,
                  int rounds) {
  const std::string runtime_dir = dir + "/runtime";
  std::filesystem::create_directory(runtime_dir);
  std::filesystem::permissions(runtime_dir, std::filesystem::perms::owner_all);
  XServer server = StartXServer(kScreenSide, kScreenSide);
  XDisplay* display = nullptr;
  const auto stop = [&] {
    SDL_Quit();
    Disconnect(display);
    StopXServer(server);
  };
  bool shown = true;
  try {
    display = ConnectTo(server);
    const std::array<std::uint32_t, 256> colours = ColoursShown("x11", server.name);
    // DrawScreen flips its surface, which needs SDL's video subsystem; the
    // dummy driver needs no display.
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    if (SDL_Init(SDL_INIT_VIDEO) < 0) {
      throw std::runtime_error(std::string("SDL_Init: ") + SDL_GetError());
    }
    // The viewers choose their SDL driver as they would on a desktop, and
    // libwayland, finding no runtime folder, would complain.
    const std::vector<std::string> env = {"DISPLAY=" + server.name, "XDG_RUNTIME_DIR=" + runtime_dir, "SDL_VIDEODRIVER",
                                          "WAYLAND_DISPLAY"};
    PrintHeading(rounds);
    for (const Size size : sizes) {
      const Picture picture = MakePicture(dir, size, colours);
      const std::vector<Viewer> viewers = ViewersFor(rastels, size);
      std::vector<double> medians;
      shown = TimeViewers(display, env, viewers, picture, rounds, medians);
      if (!shown) {
        break;
      }
      const std::string heading = std::to_string(size.width) + " x " + std::to_string(size.height);
      std::printf("\n%-50s %10s %9s\n", heading.c_str(), "median ms", "/ first");
      for (std::size_t i = 0; i < viewers.size(); ++i) {
        std::printf("  %-48s %10.1f %9.2f\n", viewers[i].label.c_str(), medians[i], medians[i] / medians[0]);
      }
      std::printf("  %-48s %10.1f\n", "DrawScreen onto an 8-bit surface, without X", DrawScreenMs(picture, rounds));
      static_cast<void>(std::fflush(stdout));
      std::filesystem::remove(picture.rastel_path);
      std::filesystem::remove(picture.ppm_path);
    }
  } catch (...) {
    stop();
    throw;
  }
  stop();
  return shown;
}

bool ParseSize(const std::string& text, Size& size) {
  const std::size_t x = text.find('x');
  return x != std::string::npos && ParseNumber(std::string_view(text).substr(0, x), size.width) &&
         ParseNumber(std::string_view(text).substr(x + 1), size.height) && size.width > 0 && size.height > 0 &&
         size.width <= kScreenSide && size.height <= kScreenSide;
}

bool ParseArguments(int argc, char** argv, int& rounds, std::vector<Size>& sizes, std::vector<std::string>& rastels) {
  int option = 0;
  while ((option = getopt(argc, argv, "n:s:")) != -1) {
    Size size;
    if (option == 'n' && ParseNumber(optarg, rounds) && rounds > 0) {
      continue;
    }
    if (option == 's' && ParseSize(optarg, size)) {
      sizes = {size};
      continue;
    }
    return false;
  }
  rastels.assign(argv + optind, argv + argc);
  if (rastels.empty()) {
    rastels.emplace_back(RASTEL);
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  int rounds = kDefaultRounds;
  std::vector<Size> sizes(kSizes.begin(), kSizes.end());
  std::vector<std::string> rastels;
  if (!ParseArguments(argc, argv, rounds, sizes, rastels)) {
    static_cast<void>(std::fprintf(
        stderr, "usage: show_bench [-n rounds] [-s WIDTHxHEIGHT, each at most %d] [rastel...]\n", kScreenSide));
    return 2;
  }
  if (access(kFeh, X_OK) != 0) {
    static_cast<void>(std::fprintf(stderr, "show_bench: %s is missing: scripts/install-deps test installs it\n", kFeh));
    return 2;
  }
  return RunInNewFolder("show_bench",
                        [&](const std::string& dir) { return RunBenchmark(dir, rastels, sizes, rounds); });
}
