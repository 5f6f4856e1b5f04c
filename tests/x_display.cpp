// SPDX-License-Identifier: MIT
#include "x_display.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <bit>
#include <chrono>
#include <cstdio>
#include <functional>
#include <stdexcept>
#include <string_view>
#include <vector>

#include "run_program.h"

namespace {

constexpr int kStartTimeoutMs = 20000;
constexpr auto kPollInterval = std::chrono::milliseconds(20);
constexpr std::uint32_t kWhite = 0xFFFFFF;

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

bool HasProperty(Display* display, Window window, Atom property) {
  int count = 0;
  Atom* properties = XListProperties(display, window, &count);
  const bool has = properties != nullptr && std::find(properties, properties + count, property) != properties + count;
  XFree(properties);
  return has;
}

std::vector<Window> ChildrenOf(Display* display, Window window) {
  Window root = 0;
  Window parent = 0;
  Window* children = nullptr;
  unsigned int count = 0;
  std::vector<Window> found;
  if (XQueryTree(display, window, &root, &parent, &children, &count) != 0) {
    found.assign(children, children + count);
    XFree(children);
  }
  return found;
}

// A window manager marks each program's window, inside the frame it gives
// it, with WM_STATE, and the rest (its panels, its frames' parts) is its
// own. Without one, every top-level window is a program's.
Window ProgramWindowIn(Display* display, Window top, bool managed) {
  const Atom wm_state = XInternAtom(display, "WM_STATE", False);
  std::vector<Window> pending = {top};
  while (!pending.empty()) {
    const Window window = pending.back();
    pending.pop_back();
    if (HasProperty(display, window, wm_state)) {
      return window;
    }
    const std::vector<Window> children = ChildrenOf(display, window);
    pending.insert(pending.end(), children.begin(), children.end());
  }
  return managed ? 0 : top;
}

bool ShowsMoreThanOneColour(Display* display, Window window) {
  const std::vector<std::uint32_t> pixels = ReadPixels(display, window);
  return std::adjacent_find(pixels.begin(), pixels.end(), std::not_equal_to<>()) != pixels.end();
}

void WaitUntil(const std::function<bool()>& done, const std::string& what) {
  if (!PollUntil(done, kStartTimeoutMs, kPollInterval)) {
    throw std::runtime_error("timed out waiting until " + what);
  }
}

struct Point {
  int x = 0;
  int y = 0;
  bool operator==(const Point&) const = default;
};

Point OriginOf(Display* display, Window window) {
  Point origin;
  Window child = 0;
  XTranslateCoordinates(display, window, DefaultRootWindow(display), 0, 0, &origin.x, &origin.y, &child);
  return origin;
}

// A message about the window: to the window manager, as pagers and task bars
// send them, or to the program, as a window manager does.
void SendMessage(Display* display, Window window, const char* message, std::array<long, 5> data,
                 bool to_window_manager) {
  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.window = window;
  event.xclient.message_type = XInternAtom(display, message, False);
  event.xclient.format = 32;
  std::copy(data.begin(), data.end(), event.xclient.data.l);
  XSendEvent(display, to_window_manager ? DefaultRootWindow(display) : window, False,
             to_window_manager ? SubstructureRedirectMask | SubstructureNotifyMask : NoEventMask, &event);
  XSync(display, False);
}

constexpr long kFromPager = 2;  // the source of a request: the user, through a pager or task bar

// Asks the window manager to move the window's frame to `to`, and returns
// where the window itself then lies, once it has moved from `from`.
Point MoveFrame(Display* display, Window window, Point to, Point from) {
  XMoveWindow(display, window, to.x, to.y);
  XSync(display, False);
  WaitUntil([&] { return !(OriginOf(display, window) == from); }, "the window has moved");
  return OriginOf(display, window);
}

// Whether the picture, `width` pixels wide, lies somewhere in the window's
// pixels, unscaled.
bool ShowsPicture(const std::vector<std::uint32_t>& window, int window_width, const std::vector<std::uint32_t>& picture,
                  int width) {
  const auto rows = static_cast<int>(picture.size()) / width;
  const int window_height = window_width > 0 ? static_cast<int>(window.size()) / window_width : 0;
  for (int y = 0; y + rows <= window_height; ++y) {
    for (int x = 0; x + width <= window_width; ++x) {
      bool same = true;
      for (int row = 0; same && row < rows; ++row) {
        const auto at = window.begin() + (static_cast<std::ptrdiff_t>(y + row) * window_width + x);
        same = std::equal(at, at + width, picture.begin() + static_cast<std::ptrdiff_t>(row) * width);
      }
      if (same) {
        return true;
      }
    }
  }
  return false;
}

}  // namespace

std::vector<Window> ViewableProgramWindows(Display* display) {
  const Window root = DefaultRootWindow(display);
  const bool managed = HasProperty(display, root, XInternAtom(display, "_NET_SUPPORTING_WM_CHECK", False));
  std::vector<Window> found;
  for (const Window top : ChildrenOf(display, root)) {
    const Window program = IsShown(display, top) ? ProgramWindowIn(display, top, managed) : 0;
    if (program != 0) {
      found.push_back(program);
    }
  }
  return found;
}

XServer StartXServer(int width, int height) {
  int ready[2];
  if (pipe2(ready, O_CLOEXEC) != 0) {
    throw std::runtime_error("cannot make a pipe for Xvfb");
  }
  const int null_fd = open("/dev/null", O_RDWR | O_CLOEXEC);
  XServer server;
  // -displayfd 1: Xvfb picks a free display and writes its number on
  // standard output once it accepts connections.
  const std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x24";
  std::vector<std::string> command = {"/usr/bin/Xvfb", "-displayfd", "1",       "-nolisten", "tcp",
                                      "-cc",           "4",          "-screen", "0",         screen};
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

void StartWindowManager(XServer& server, const std::string& settings_dir) {
  const std::string settings = settings_dir + "/preferences";
  // No task bar, so that only the windows under test show; and windows may
  // be moved partly off the screen.
  const std::string_view preferences = "ShowTaskBar=0\nLimitPosition=0\n";
  std::FILE* file = std::fopen(settings.c_str(), "w");
  if (file == nullptr || std::fwrite(preferences.data(), 1, preferences.size(), file) != preferences.size() ||
      std::fclose(file) != 0) {
    throw std::runtime_error("cannot write " + settings);
  }
  const int null_fd = open("/dev/null", O_RDWR | O_CLOEXEC);
  server.window_manager = StartProgram({"/usr/bin/icewm"}, null_fd, null_fd, null_fd,
                                       {"DISPLAY=" + server.name, "ICEWM_PRIVCFG=" + settings_dir});
  close(null_fd);
  Display* display = ConnectTo(server);
  const Atom check = XInternAtom(display, "_NET_SUPPORTING_WM_CHECK", False);
  const bool managed = PollUntil([&] { return HasProperty(display, DefaultRootWindow(display), check); },
                                 kStartTimeoutMs, kPollInterval);
  XCloseDisplay(display);
  if (!managed) {
    throw std::runtime_error("the window manager does not manage the screen");
  }
}

void StopXServer(XServer& server) {
  for (pid_t* pid : {&server.window_manager, &server.pid}) {
    if (*pid > 0) {
      kill(*pid, SIGTERM);
      waitpid(*pid, nullptr, 0);
      *pid = -1;
    }
  }
}

XDisplay* ConnectTo(const XServer& server) {
  XSetErrorHandler(IgnoreErrors);
  // A server that has just said it is ready may still turn a first
  // connection away.
  Display* display = nullptr;
  if (!PollUntil([&] { return (display = XOpenDisplay(server.name.c_str())) != nullptr; }, kStartTimeoutMs,
                 kPollInterval)) {
    throw std::runtime_error("cannot connect to " + server.name);
  }
  XSelectInput(display, DefaultRootWindow(display), SubstructureNotifyMask);
  XSync(display, False);
  return display;
}

void Disconnect(XDisplay* display) {
  if (display != nullptr) {
    XCloseDisplay(display);
  }
}

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
  XWindow drawn = 0;
  // Found anew each time: an SDL may map a first window and replace it.
  PollUntil(
      [&] {
        const std::vector<Window> windows = ViewableProgramWindows(display);
        const auto found = std::find_if(windows.begin(), windows.end(),
                                        [&](Window window) { return ShowsMoreThanOneColour(display, window); });
        drawn = found == windows.end() ? 0 : *found;
        return drawn != 0;
      },
      timeout_ms, kPollInterval);
  return drawn;
}

WindowSize SizeOf(XDisplay* display, XWindow window) {
  XWindowAttributes attributes{};
  if (XGetWindowAttributes(display, window, &attributes) == 0) {
    return {};
  }
  return {attributes.width, attributes.height};
}

std::vector<std::uint32_t> ReadArea(XDisplay* display, XWindow window, int x, int y, int width, int height) {
  std::vector<std::uint32_t> pixels;
  XImage* image =
      XGetImage(display, window, x, y, static_cast<unsigned>(width), static_cast<unsigned>(height), AllPlanes, ZPixmap);
  if (image == nullptr) {
    return pixels;
  }
  pixels.reserve(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
  for (int row = 0; row < height; ++row) {
    for (int column = 0; column < width; ++column) {
      const unsigned long pixel = XGetPixel(image, column, row);
      pixels.push_back(Component(pixel, image->red_mask) << 16 | Component(pixel, image->green_mask) << 8 |
                       Component(pixel, image->blue_mask));
    }
  }
  XDestroyImage(image);
  return pixels;
}

std::vector<std::uint32_t> ReadPixels(XDisplay* display, XWindow window) {
  // The server gives only what lies on the screen.
  XWindowAttributes attributes{};
  if (XGetWindowAttributes(display, window, &attributes) == 0) {
    return {};  // the window has gone
  }
  const Point origin = OriginOf(display, window);
  const int width = std::min(attributes.width, WidthOfScreen(attributes.screen) - origin.x);
  const int height = std::min(attributes.height, HeightOfScreen(attributes.screen) - origin.y);
  if (width <= 0 || height <= 0) {
    return {};
  }
  return ReadArea(display, window, 0, 0, width, height);
}

void MovePointerInto(XDisplay* display, XWindow window) {
  const Point origin = OriginOf(display, window);
  const WindowSize size = SizeOf(display, window);
  XTestFakeMotionEvent(display, DefaultScreen(display), origin.x + size.width / 2, origin.y + size.height / 2,
                       CurrentTime);
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
  const auto close = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
  SendMessage(display, window, "WM_PROTOCOLS", {close, CurrentTime, 0, 0, 0}, false);
}

void CoverWithAnotherWindow(XDisplay* display, XWindow window) {
  const WindowSize size = SizeOf(display, window);
  const Point origin = OriginOf(display, window);
  const int screen = DefaultScreen(display);
  XSetWindowAttributes attributes{};
  attributes.override_redirect = True;
  attributes.background_pixel = WhitePixel(display, screen);
  const Window cover =
      XCreateWindow(display, DefaultRootWindow(display), -size.width, origin.y, static_cast<unsigned>(size.width),
                    static_cast<unsigned>(size.height), 0, CopyFromParent, InputOutput, CopyFromParent,
                    CWOverrideRedirect | CWBackPixel, &attributes);
  XMapRaised(display, cover);
  XMoveWindow(display, cover, origin.x, origin.y);
  XSync(display, False);
  WaitUntil(
      [&] {
        const std::vector<std::uint32_t> pixels = ReadPixels(display, cover);
        return OriginOf(display, cover) == origin && !pixels.empty() &&
               std::all_of(pixels.begin(), pixels.end(), [](std::uint32_t pixel) { return pixel == kWhite; });
      },
      "the other window covers it");
  XMoveWindow(display, cover, DisplayWidth(display, screen), DisplayHeight(display, screen));
  XDestroyWindow(display, cover);
  XSync(display, False);
}

void MinimiseAndRestore(XDisplay* display, XWindow window) {
  XIconifyWindow(display, window, DefaultScreen(display));
  XSync(display, False);
  WaitUntil([&] { return !IsShown(display, window); }, "the window is minimised");
  SendMessage(display, window, "_NET_ACTIVE_WINDOW", {kFromPager, CurrentTime, 0, 0, 0}, true);
  WaitUntil([&] { return IsShown(display, window); }, "the window is restored");
}

void MovePartlyOffScreenAndBack(XDisplay* display, XWindow window) {
  const Point origin = OriginOf(display, window);
  const int screen = DefaultScreen(display);
  const int width = SizeOf(display, window).width;
  const Point landed = MoveFrame(display, window, {DisplayWidth(display, screen) - width / 2, origin.y}, origin);
  if (landed.x + width <= DisplayWidth(display, screen)) {
    throw std::runtime_error("the window manager kept the window on the screen");
  }
  MoveFrame(display, window, {origin.x / 2, origin.y}, landed);
}

void CloseThroughWindowManager(XDisplay* display, XWindow window) {
  SendMessage(display, window, "_NET_CLOSE_WINDOW", {CurrentTime, kFromPager, 0, 0, 0}, true);
}

WindowSize FixedSizeOf(XDisplay* display, XWindow window) {
  XSizeHints hints{};
  long supplied = 0;
  if (XGetWMNormalHints(display, window, &hints, &supplied) == 0 || (hints.flags & PMinSize) == 0 ||
      (hints.flags & PMaxSize) == 0 || hints.min_width != hints.max_width || hints.min_height != hints.max_height) {
    return {};
  }
  return {hints.min_width, hints.min_height};
}

std::string TitleOf(XDisplay* display, XWindow window) {
  std::string title;
  for (const char* property : {"_NET_WM_NAME", "WM_NAME"}) {
    XTextProperty text{};
    if (title.empty() && XGetTextProperty(display, window, &text, XInternAtom(display, property, False)) != 0 &&
        text.value != nullptr) {
      title.assign(reinterpret_cast<const char*>(text.value), text.nitems);
      XFree(text.value);
    }
  }
  return title;
}

std::size_t CountDiffering(const std::vector<std::uint32_t>& pixels, const std::vector<std::uint32_t>& expected) {
  std::size_t differing = std::max(pixels.size(), expected.size()) - std::min(pixels.size(), expected.size());
  for (std::size_t i = 0; i < std::min(pixels.size(), expected.size()); ++i) {
    differing += pixels[i] != expected[i] ? 1 : 0;
  }
  return differing;
}

bool ViewerShowsPicture(const std::vector<std::string>& command, std::vector<std::string> env,
                        const std::vector<std::uint8_t>& rgb, int width, std::string& said) {
  constexpr int kShowTimeoutMs = 30000;
  std::vector<std::uint32_t> picture;
  for (std::size_t i = 0; i + 2 < rgb.size(); i += 3) {
    picture.push_back(std::uint32_t{rgb[i]} << 16 | std::uint32_t{rgb[i + 1]} << 8 | rgb[i + 2]);
  }
  XServer server = StartXServer(800, 600);
  XDisplay* const display = ConnectTo(server);
  env.push_back("DISPLAY=" + server.name);
  const RunningProgram viewer = LaunchProgram(command, env);
  const bool shown = PollUntil(
      [&] {
        const std::vector<XWindow> windows = ViewableProgramWindows(display);
        return std::any_of(windows.begin(), windows.end(), [&](XWindow window) {
          return ShowsPicture(ReadPixels(display, window), SizeOf(display, window).width, picture, width);
        });
      },
      kShowTimeoutMs, std::chrono::milliseconds(100));
  kill(viewer.pid, SIGTERM);
  said = FinishProgram(viewer, kShowTimeoutMs).err;
  Disconnect(display);
  StopXServer(server);
  return shown;
}
