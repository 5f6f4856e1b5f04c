// SPDX-License-Identifier: MIT
#pragma once

// Drives a private headless sway for the viewer's tests: starts it with
// XWayland and a virtual keyboard, finds a program's window in its tree,
// reads the window's pixels back with grim, and presses a key or asks the
// window to close as a user of that desktop would.

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

struct SwaySession {
  pid_t pid = -1;
  std::string runtime_dir;  // its own XDG_RUNTIME_DIR, removed when it stops
  // XDG_RUNTIME_DIR, WAYLAND_DISPLAY, DISPLAY (XWayland's) and SWAYSOCK as
  // "NAME=value", for the programs run on it.
  std::vector<std::string> env;
  pid_t keyboard_pid = -1;  // the virtual keyboard that lasts
};

// Sway on the headless backend with one output, software rendering, no
// input devices but one virtual keyboard that lasts as long as it does,
// and a configuration that floats every window at its own size without
// borders. Throws when it does not start; StopSway then ends what did.
void StartSway(SwaySession& session);
void StopSway(SwaySession& session);

struct SwayWindow {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
  std::string shell;  // "xdg_shell" or "xwayland"
};

// The window of the process `pid` once sway shows it, or one of width 0
// when none shows in time.
SwayWindow WaitForWindowOf(const SwaySession& session, pid_t pid, int timeout_ms);

// The pixels on the output where the window lies, 0xRRGGBB, top row first.
std::vector<std::uint32_t> ReadPixels(const SwaySession& session, const SwayWindow& window);

// A key pressed and released, from a second virtual keyboard, which goes to
// the focused window: the last one mapped.
void PressKey(const SwaySession& session);

// What sway sends the process's windows when the user closes them.
void RequestClose(const SwaySession& session, pid_t pid);
