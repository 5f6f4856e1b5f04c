// SPDX-License-Identifier: MIT
#include "x_display.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <chrono>
#include <functional>
#include <stdexcept>
#include <thread>
#include <vector>

#include "run_program.h"

namespace {

constexpr int kStartTimeoutMs = 20000;
constexpr auto kPollInterval = std::chrono::milliseconds(20);

// Windows come and go while the tests walk the tree; a vanished one is not
// an error.
int IgnoreErrors(Display* /*display*/, XErrorEvent* /*error*/) { return 0; }

std::uint32_t Component(unsigned long pixel, unsigned long mask) {
  return static_cast<std::uint32_t>((pixel & mask) >> std::countr_zero(mask));
}

bool IsShown(Display* display, Window window) {
  XWindowAttributes attributes;
  return XGetWindowAttributes(display, window, &attributes) != 0 && attributes.map_state == IsViewable;
}

XWindow FindViewableTopWindow(Display* display) {
  Window root = 0;
  Window parent = 0;
  Window* children = nullptr;
  unsigned int count = 0;
  XWindow found = 0;
  if (XQueryTree(display, DefaultRootWindow(display), &root, &parent, &children, &count) != 0) {
    for (unsigned int i = 0; i < count && found == 0; ++i) {
      if (IsShown(display, children[i])) {
        found = children[i];
      }
    }
    XFree(children);
  }
  return found;
}

void WindowCentre(Display* display, Window window, int& x, int& y) {
  const WindowSize size = SizeOf(display, window);
  Window child = 0;
  XTranslateCoordinates(display, window, DefaultRootWindow(display), size.width / 2, size.height / 2, &x, &y, &child);
}

}  // namespace

XServer StartXServer() {
  int ready[2];
  if (pipe2(ready, O_CLOEXEC) != 0) {
    throw std::runtime_error("cannot make a pipe for Xvfb");
  }
  const int null_fd = open("/dev/null", O_RDWR | O_CLOEXEC);
  XServer server;
  // -displayfd 1: Xvfb picks a free display and writes its number on
  // standard output once it accepts connections.
  std::vector<std::string> command = {"/usr/bin/Xvfb", "-displayfd", "1",       "-nolisten", "tcp",
                                      "-cc",           "4",          "-screen", "0",         "1024x768x24"};
  // Classic SDL 1.2 lays out a shared-memory image in its own byte order,
  // and a server of the other one shows it byte-swapped. Only an emulated
  // viewer meets such a server on its own machine: over a network, the way
  // a big-endian machine reaches a display, no memory is shared.
  if (!HasTheByteOrderOfThisProcess(command[0])) {
    command.insert(command.end(), {"-extension", "MIT-SHM"});
  }
  server.pid = StartProgram(command, null_fd, ready[1], null_fd);
  close(ready[1]);
  close(null_fd);
  const std::string number = ReadUntil(ready[0], "\n", kStartTimeoutMs);
  close(ready[0]);
  if (number.empty() || number.back() != '\n') {
    StopXServer(server);
    throw std::runtime_error("Xvfb did not start");
  }
  server.name = ":" + number.substr(0, number.size() - 1);
  return server;
}

void StopXServer(XServer& server) {
  if (server.pid > 0) {
    kill(server.pid, SIGTERM);
    waitpid(server.pid, nullptr, 0);
    server.pid = -1;
  }
}

XDisplay* ConnectTo(const XServer& server) {
  XSetErrorHandler(IgnoreErrors);
  // A server that has just said it is ready may still turn a first
  // connection away.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kStartTimeoutMs);
  Display* display = XOpenDisplay(server.name.c_str());
  while (display == nullptr && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(kPollInterval);
    display = XOpenDisplay(server.name.c_str());
  }
  if (display == nullptr) {
    throw std::runtime_error("cannot connect to " + server.name);
  }
  XSelectInput(display, DefaultRootWindow(display), SubstructureNotifyMask);
  XSync(display, False);
  return display;
}

void Disconnect(XDisplay* display) { XCloseDisplay(display); }

int CountWindowsMapped(XDisplay* display) {
  XSync(display, False);
  int mapped = 0;
  XEvent event;
  while (XCheckTypedWindowEvent(display, DefaultRootWindow(display), MapNotify, &event) != 0) {
    ++mapped;
  }
  return mapped;
}

XWindow WaitForDrawnWindow(XDisplay* display, int timeout_ms) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    // Found anew each time: an SDL may map a first window and replace it.
    const XWindow window = FindViewableTopWindow(display);
    if (window != 0) {
      const std::vector<std::uint32_t> pixels = ReadPixels(display, window);
      if (std::adjacent_find(pixels.begin(), pixels.end(), std::not_equal_to<>()) != pixels.end()) {
        return window;
      }
    }
    if (std::chrono::steady_clock::now() > deadline) {
      return 0;
    }
    std::this_thread::sleep_for(kPollInterval);
  }
}

WindowSize SizeOf(XDisplay* display, XWindow window) {
  XWindowAttributes attributes{};
  if (XGetWindowAttributes(display, window, &attributes) == 0) {
    return {};
  }
  return {attributes.width, attributes.height};
}

std::vector<std::uint32_t> ReadPixels(XDisplay* display, XWindow window) {
  // The server gives only what lies on the screen.
  std::vector<std::uint32_t> pixels;
  XWindowAttributes attributes{};
  if (XGetWindowAttributes(display, window, &attributes) == 0) {
    return pixels;  // the window has gone
  }
  int left = 0;
  int top = 0;
  Window child = 0;
  XTranslateCoordinates(display, window, DefaultRootWindow(display), 0, 0, &left, &top, &child);
  const int width = std::min(attributes.width, WidthOfScreen(attributes.screen) - left);
  const int height = std::min(attributes.height, HeightOfScreen(attributes.screen) - top);
  if (width <= 0 || height <= 0) {
    return pixels;
  }
  XImage* image =
      XGetImage(display, window, 0, 0, static_cast<unsigned>(width), static_cast<unsigned>(height), AllPlanes, ZPixmap);
  if (image == nullptr) {
    return pixels;
  }
  pixels.reserve(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const unsigned long pixel = XGetPixel(image, x, y);
      pixels.push_back(Component(pixel, image->red_mask) << 16 | Component(pixel, image->green_mask) << 8 |
                       Component(pixel, image->blue_mask));
    }
  }
  XDestroyImage(image);
  return pixels;
}

std::vector<std::uint32_t> WaitForPixels(XDisplay* display, XWindow window, const std::vector<std::uint32_t>& expected,
                                         int timeout_ms) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    std::vector<std::uint32_t> pixels = ReadPixels(display, window);
    if (pixels == expected || std::chrono::steady_clock::now() > deadline) {
      return pixels;
    }
    std::this_thread::sleep_for(kPollInterval);
  }
}

void MovePointerInto(XDisplay* display, XWindow window) {
  int x = 0;
  int y = 0;
  WindowCentre(display, window, x, y);
  XTestFakeMotionEvent(display, DefaultScreen(display), x, y, CurrentTime);
  XSync(display, False);
}

void PressKey(XDisplay* display, XWindow window) {
  MovePointerInto(display, window);
  const KeyCode space = XKeysymToKeycode(display, XK_space);
  XTestFakeKeyEvent(display, space, True, CurrentTime);
  XTestFakeKeyEvent(display, space, False, CurrentTime);
  XSync(display, False);
}

void ClickButton(XDisplay* display, XWindow window) {
  MovePointerInto(display, window);
  XTestFakeButtonEvent(display, 1, True, CurrentTime);
  XTestFakeButtonEvent(display, 1, False, CurrentTime);
  XSync(display, False);
}

void HoldKeyOutsideWindows(XDisplay* display) {
  const int screen = DefaultScreen(display);
  XTestFakeMotionEvent(display, screen, DisplayWidth(display, screen) - 1, DisplayHeight(display, screen) - 1,
                       CurrentTime);
  // Held past the server's autorepeat delay, a key repeats as new presses,
  // and SDL2 under sdl12-compat takes the first that reaches the window as
  // a key press of its own: on a loaded machine that could land between the
  // pointer entering the window and the release. The held key is one press.
  const KeyCode key = XKeysymToKeycode(display, XK_Return);
  XKeyboardControl no_repeat{};
  no_repeat.key = key;
  no_repeat.auto_repeat_mode = AutoRepeatModeOff;
  XChangeKeyboardControl(display, KBKey | KBAutoRepeatMode, &no_repeat);
  XTestFakeKeyEvent(display, key, True, CurrentTime);
  XSync(display, False);
}

void ReleaseHeldKey(XDisplay* display) {
  XTestFakeKeyEvent(display, XKeysymToKeycode(display, XK_Return), False, CurrentTime);
  XSync(display, False);
}

void ToggleFocus(XDisplay* display, XWindow window) {
  XSetInputFocus(display, window, RevertToPointerRoot, CurrentTime);
  XSetInputFocus(display, PointerRoot, RevertToPointerRoot, CurrentTime);
  XSync(display, False);
}

void RequestClose(XDisplay* display, XWindow window) {
  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.window = window;
  event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
  event.xclient.format = 32;
  event.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
  event.xclient.data.l[1] = CurrentTime;
  XSendEvent(display, window, False, NoEventMask, &event);
  XSync(display, False);
}
