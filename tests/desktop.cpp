// SPDX-License-Identifier: MIT
#include "desktop.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <string_view>

#include "colours_shown.h"

namespace {

constexpr bool kRunsSway = SWAY_DESKTOPS;
constexpr int kScreenWidth = 1024;
constexpr int kScreenHeight = 768;
constexpr auto kPoll = std::chrono::milliseconds(50);

bool IsSway(DesktopKind kind) { return kind == DesktopKind::kSwayWayland || kind == DesktopKind::kSwayXWayland; }

// Without the whole lines Mesa and its EGL write when SDL2 finds no GPU
// (Debian 14's: "libEGL warning: failed to get driver name for fd -1",
// "MESA: error: ZINK: vkCreateInstance failed"), so that anything the viewer
// writes still fails the run; EGL ends some lines with an empty one.
std::string WithoutGraphicsDriverLines(const std::string& err) {
  constexpr std::array<std::string_view, 4> kDriverPrefixes = {"libEGL ", "libGL ", "MESA: ", "MESA-LOADER: "};
  std::string kept;
  bool after_driver_line = false;
  for (std::size_t start = 0, end = 0; start < err.size(); start = end) {
    end = std::min(err.find('\n', start), err.size() - 1) + 1;
    const std::string_view line = std::string_view(err).substr(start, end - start);
    const bool driver_line = line.ends_with('\n') && std::ranges::any_of(kDriverPrefixes, [line](std::string_view p) {
                               return line.starts_with(p);
                             });
    if (!driver_line && !(after_driver_line && line == "\n")) {
      kept.append(line);
    }
    after_driver_line = driver_line;
  }
  return kept;
}

}  // namespace

std::string NameOf(DesktopKind kind) {
  constexpr std::array<const char*, 4> kNames = {"XServer", "XWindowManager", "SwayWayland", "SwayXWayland"};
  return kNames.at(static_cast<std::size_t>(kind));
}

bool RunsHere(DesktopKind kind) { return kRunsSway || !IsSway(kind); }

void StartDesktop(Desktop& desktop, DesktopKind kind, const std::string& dir) {
  desktop.kind = kind;
  if (IsSway(kind)) {
    // sdl12-compat, the only SDL 1.2 that draws on Wayland, chooses its
    // palette whatever SDL2 draws on.
    desktop.shown = ColoursShown("dummy", "");
    StartSway(desktop.sway);
    // With no SDL_VIDEODRIVER, SDL picks its driver itself.
    desktop.env = {"SDL_VIDEODRIVER"};
    for (const std::string& setting : desktop.sway.env) {
      const bool x = VariableName(setting) == "DISPLAY";
      desktop.env.push_back(x && kind == DesktopKind::kSwayWayland ? "DISPLAY" : setting);
    }
    return;
  }
  desktop.x_server = StartXServer(kScreenWidth, kScreenHeight);
  // Connected first, since the server may turn a first connection away; the
  // window SDL maps for the colours is not counted.
  desktop.display = ConnectTo(desktop.x_server);
  desktop.shown = ColoursShown("x11", desktop.x_server.name);
  CountWindowsMapped(desktop.display);
  if (kind == DesktopKind::kXWindowManager) {
    StartWindowManager(desktop.x_server, dir);
  }
  // A runtime folder of its own: SDL2 looks there for a Wayland display,
  // and says on standard error when there is none.
  const std::string runtime = dir + "/runtime";
  mkdir(runtime.c_str(), 0700);
  desktop.env = {"DISPLAY=" + desktop.x_server.name, "SDL_VIDEODRIVER=x11", "XDG_RUNTIME_DIR=" + runtime};
}

void StopDesktop(Desktop& desktop) {
  Disconnect(desktop.display);
  desktop.display = nullptr;
  StopXServer(desktop.x_server);
  StopSway(desktop.sway);
}

DesktopWindow WaitForWindowOf(const Desktop& desktop, pid_t pid, int timeout_ms) {
  DesktopWindow window;
  if (IsSway(desktop.kind)) {
    window.sway_window = WaitForWindowOf(desktop.sway, pid, timeout_ms);
    window.size = {window.sway_window.width, window.sway_window.height};
    if (window.size.width > 0) {
      EXPECT_EQ(window.sway_window.shell, desktop.kind == DesktopKind::kSwayWayland ? "xdg_shell" : "xwayland");
    }
  } else {
    window.x_window = WaitForDrawnWindow(desktop.display, timeout_ms);
    window.size = SizeOf(desktop.display, window.x_window);
  }
  return window;
}

std::vector<std::uint32_t> WaitForPixels(const Desktop& desktop, const DesktopWindow& window,
                                         const std::vector<std::uint32_t>& expected, int timeout_ms) {
  std::vector<std::uint32_t> pixels;
  PollUntil(
      [&] {
        pixels = IsSway(desktop.kind) ? ReadPixels(desktop.sway, window.sway_window)
                                      : ReadPixels(desktop.display, window.x_window);
        return pixels == expected;
      },
      timeout_ms, kPoll);
  return pixels;
}

void PressKey(const Desktop& desktop, const DesktopWindow& window) {
  IsSway(desktop.kind) ? PressKey(desktop.sway) : PressKey(desktop.display, window.x_window);
}

void RequestClose(const Desktop& desktop, const DesktopWindow& window, pid_t pid) {
  IsSway(desktop.kind) ? RequestClose(desktop.sway, pid) : RequestClose(desktop.display, window.x_window);
}

ProgramResult FinishProgramOn(const Desktop& desktop, const RunningProgram& program, int timeout_ms) {
  ProgramResult result = FinishProgram(program, timeout_ms);
  if (IsSway(desktop.kind)) {
    result.err = WithoutGraphicsDriverLines(result.err);
  }
  return result;
}
