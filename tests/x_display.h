// SPDX-License-Identifier: MIT
#pragma once

// Drives a private X server for the viewer's tests: starts Xvfb, finds the
// window a program opened, reads its pixels back from the server and sends
// it real input events.

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

// Xlib's own name for a Display, so that the tests need not include Xlib.
struct _XDisplay;  // NOLINT(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp)
using XDisplay = _XDisplay;
using XWindow = unsigned long;

struct XServer {
  pid_t pid = -1;
  std::string name;  // the DISPLAY value, such as ":3"
  pid_t window_manager = -1;
};

// Xvfb on a display number that no other server uses, 24-bit TrueColor,
// with a screen of that size. It gives back only what lies on its screen.
XServer StartXServer(int width, int height);
// Stops its window manager too.
void StopXServer(XServer& server);

// IceWM, a stacking window manager as desktops have, with its settings in
// `settings_dir`; returns once it manages the screen. It frames each window,
// and the functions below then find and drive the program's own window
// inside the frame.
void StartWindowManager(XServer& server, const std::string& settings_dir);

// Connects and starts counting the windows that get mapped on the screen.
XDisplay* ConnectTo(const XServer& server);
// Takes a null display too, for a server that never started.
void Disconnect(XDisplay* display);

// Windows mapped as children of the root since ConnectTo, however briefly.
int CountWindowsMapped(XDisplay* display);

// The viewable windows of programs: each child of the root, or under a
// window manager the one inside each frame.
std::vector<XWindow> ViewableProgramWindows(XDisplay* display);

// The first of those windows to show more than one colour, as a drawn
// picture of random bytes does, or 0 when none does in time. Tests wait for
// this before they send input, since SDL may drop events that arrive while
// it sets the window up.
XWindow WaitForDrawnWindow(XDisplay* display, int timeout_ms);

struct WindowSize {
  int width = 0;
  int height = 0;
};
WindowSize SizeOf(XDisplay* display, XWindow window);

// The window's pixels as the server holds them, 0xRRGGBB, top row first;
// only the part that lies on the screen, and none once the window has gone.
std::vector<std::uint32_t> ReadPixels(XDisplay* display, XWindow window);
// Those of a rectangle of the window, none when any of it lies outside the
// window or the screen.
std::vector<std::uint32_t> ReadArea(XDisplay* display, XWindow window, int x, int y, int width, int height);

// How many pixels differ, those that only one of the two has included.
std::size_t CountDiffering(const std::vector<std::uint32_t>& pixels, const std::vector<std::uint32_t>& expected);

// Input through the XTEST extension, as a real keyboard and mouse would give
// it; each moves the pointer into the window first, since without a window
// manager the keyboard follows the pointer.
void MovePointerInto(XDisplay* display, XWindow window);
void PressKey(XDisplay* display, XWindow window);
void ClickButton(XDisplay* display, XWindow window);

// A key held down away from any window, as when the user starts the viewer
// with Enter and lets go once it shows, and its later release.
void HoldKeyOutsideWindows(XDisplay* display);
void ReleaseHeldKey(XDisplay* display);

// Gives the window the input focus and takes it away again.
void ToggleFocus(XDisplay* display, XWindow window);

// What a window manager sends when the user closes the window.
void RequestClose(XDisplay* display, XWindow window);

// What a desktop does to a window, through the window manager where there is
// one. Each returns once the server shows the change, or throws.
void CoverWithAnotherWindow(XDisplay* display, XWindow window);
void MinimiseAndRestore(XDisplay* display, XWindow window);
void MovePartlyOffScreenAndBack(XDisplay* display, XWindow window);
// The user's close button: the window manager asks the program to close.
void CloseThroughWindowManager(XDisplay* display, XWindow window);
// The size a window manager must keep the window at, by the least and the
// largest size the program allows, or 0 x 0 when they differ.
WindowSize FixedSizeOf(XDisplay* display, XWindow window);

// Runs an image viewer, `command` with `env`, on an X server of its own
// and tells whether one of its windows shows `rgb` (a picture `width` pixels
// wide, three bytes a pixel, top row first) unscaled, somewhere in it,
// within 30 seconds; then ends it. `said` gets what it wrote on standard
// error.
bool ViewerShowsPicture(const std::vector<std::string>& command, std::vector<std::string> env,
                        const std::vector<std::uint8_t>& rgb, int width, std::string& said);

// The window's title, or "" when it has none.
std::string TitleOf(XDisplay* display, XWindow window);
