// SPDX-License-Identifier: MIT
#include "desktop.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <stdexcept>
#include <string_view>

#include "colours_shown.h"

namespace {

constexpr bool kRunsSway = SWAY_DESKTOPS;
constexpr int kScreenWidth = 1024;
constexpr int kScreenHeight = 768;

bool IsSway(DesktopKind kind) { return kind == DesktopKind::kSwayWayland || kind == DesktopKind::kSwayXWayland; }

// Standard error without the lines Mesa and its EGL write of their own when
// SDL2 probes for a GPU and finds none (Debian 14's Mesa writes "libEGL
// warning: failed to get driver name for fd -1" and "MESA: error: ZINK:
// vkCreateInstance failed" there): only whole lines of theirs are dropped,
// so that anything the viewer writes there still fails the run. EGL ends
// some of its messages with a newline of their own before its own newline:
// the empty line after one of its lines is EGL's too.
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

}  // namespace

std::string NameOf(DesktopKind kind) {
  constexpr std::array<const char*, 4> kNames = {"XServer", "XWindowManager", "SwayWayland", "SwayXWayland"};
  return kNames.at(static_cast<std::size_t>(kind));
}

bool RunsHere(DesktopKind kind) { return kRunsSway || !IsSway(kind); }

Desktop StartDesktop(DesktopKind kind, const std::string& dir) {
  Desktop desktop;
  desktop.kind = kind;
  if (IsSway(kind)) {
    // sdl12-compat, the only SDL 1.2 that draws on Wayland, chooses its
    // palette whatever SDL2 draws on.
    desktop.shown = ColoursShown("dummy", "");
    desktop.sway = StartSway();
    if (desktop.sway.pid <= 0) {
      throw std::runtime_error("sway did not start");
    }
    // With no SDL_VIDEODRIVER, SDL picks its driver itself.
    desktop.env = {"SDL_VIDEODRIVER"};
    for (const std::string& setting : desktop.sway.env) {
      const bool x = VariableName(setting) == "DISPLAY";
      desktop.env.push_back(x && kind == DesktopKind::kSwayWayland ? "DISPLAY" : setting);
    }
    return desktop;
  }
  desktop.x_server = StartXServer(kScreenWidth, kScreenHeight);
  try {
    // Connected first, since the server may turn a first connection away;
    // the window SDL maps for the colours is not counted.
    desktop.display = ConnectTo(desktop.x_server);
    desktop.shown = ColoursShown("x11", desktop.x_server.name);
    CountWindowsMapped(desktop.display);
    if (kind == DesktopKind::kXWindowManager) {
      StartWindowManager(desktop.x_server, dir);
    }
  } catch (...) {
    StopDesktop(desktop);
    throw;
  }
  // A runtime folder of its own: SDL2 looks there for a Wayland display,
  // and says on standard error when there is none.
  const std::string runtime = dir + "/runtime";
  mkdir(runtime.c_str(), 0700);
  desktop.env = {"DISPLAY=" + desktop.x_server.name, "SDL_VIDEODRIVER=x11", "XDG_RUNTIME_DIR=" + runtime};
  return desktop;
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
    if (window.sway_window.width > 0) {
      EXPECT_EQ(window.sway_window.shell, desktop.kind == DesktopKind::kSwayWayland ? "xdg_shell" : "xwayland");
    }
    window.width = window.sway_window.width;
    window.height = window.sway_window.height;
  } else if ((window.x_window = WaitForDrawnWindow(desktop.display, timeout_ms)) != 0) {
    const WindowSize size = SizeOf(desktop.display, window.x_window);
    window.width = size.width;
    window.height = size.height;
  }
  return window;
}

std::vector<std::uint32_t> WaitForPixels(const Desktop& desktop, const DesktopWindow& window,
                                         const std::vector<std::uint32_t>& expected, int timeout_ms) {
  return IsSway(desktop.kind) ? WaitForPixels(desktop.sway, window.sway_window, expected, timeout_ms)
                              : WaitForPixels(desktop.display, window.x_window, expected, timeout_ms);
}

void PressKey(const Desktop& desktop, const DesktopWindow& window) {
  if (IsSway(desktop.kind)) {
    PressKey(desktop.sway);
  } else {
    PressKey(desktop.display, window.x_window);
  }
}

void RequestClose(const Desktop& desktop, const DesktopWindow& window, pid_t pid) {
  if (IsSway(desktop.kind)) {
    RequestClose(desktop.sway, pid);
  } else if (desktop.kind == DesktopKind::kXWindowManager) {
    CloseThroughWindowManager(desktop.display, window.x_window);
  } else {
    RequestClose(desktop.display, window.x_window);
  }
}

ProgramResult FinishProgramOn(const Desktop& desktop, const RunningProgram& program, int timeout_ms) {
  ProgramResult result = FinishProgram(program, timeout_ms);
  if (IsSway(desktop.kind)) {
    result.err = WithoutGraphicsDriverLines(result.err);
  }
  return result;
}
