// SPDX-License-Identifier: MIT
#pragma once

// Drives a desktop for the viewer's tests, whichever it is: an X server,
// bare or under a window manager, or a headless sway with the program on it
// natively or through XWayland, through x_display and sway_session.

#include <sys/types.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "run_program.h"
#include "sway_session.h"
#include "x_display.h"

enum class DesktopKind : std::uint8_t { kXServer, kXWindowManager, kSwayWayland, kSwayXWayland };

struct Desktop {
  DesktopKind kind = DesktopKind::kXServer;
  XServer x_server;              // the X kinds'
  XDisplay* display = nullptr;   // connected to x_server
  SwaySession sway;              // the sway kinds'
  std::vector<std::string> env;  // what a program shown on it is launched with
  // The colour each pixel byte shows as, read before any window manager
  // starts: the test's own SDL window would wait on it.
  std::array<std::uint32_t, 256> shown{};
};

struct DesktopWindow {
  XWindow x_window = 0;
  SwayWindow sway_window;
  WindowSize size;  // 0 x 0 when no window showed
};

// A name for the kind, as a test's name may hold it.
std::string NameOf(DesktopKind kind);
// Whether this build runs its tests on the kind: sway only where
// scripts/releases says, on this machine's own build and without sanitizers.
bool RunsHere(DesktopKind kind);

// Keeps its files in `dir`. Throws when it does not start; StopDesktop
// then ends what did.
void StartDesktop(Desktop& desktop, DesktopKind kind, const std::string& dir);
void StopDesktop(Desktop& desktop);

// The window of the process `pid`; on X, where classic SDL names no
// process, the first to show more than one colour. Input waits for this
// and its pixels: SDL may drop events while it sets the window up.
DesktopWindow WaitForWindowOf(const Desktop& desktop, pid_t pid, int timeout_ms);

// Reads the window's pixels, 0xRRGGBB, top row first, until they equal
// `expected` or the time runs out; returns the last reading.
std::vector<std::uint32_t> WaitForPixels(const Desktop& desktop, const DesktopWindow& window,
                                         const std::vector<std::uint32_t>& expected, int timeout_ms);

void PressKey(const Desktop& desktop, const DesktopWindow& window);
// What the desktop does when the user closes the window.
void RequestClose(const Desktop& desktop, const DesktopWindow& window, pid_t pid);

// FinishProgram, without the lines on standard error that on sway come from
// the graphics driver, whatever the program does.
ProgramResult FinishProgramOn(const Desktop& desktop, const RunningProgram& program, int timeout_ms);
