// Waits for the first window on $DISPLAY to show a picture and writes what
// the server holds for it to standard output as a binary PPM image.
//
// Usage: x_screenshot > window.ppm

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <vector>

#include "x_display.h"

namespace {

constexpr int kTimeoutMs = 10000;

}  // namespace

int main() {
  const char* name = std::getenv("DISPLAY");
  if (name == nullptr) {
    std::fprintf(stderr, "x_screenshot: DISPLAY is not set\n");
    return 2;
  }
  try {
    XDisplay* display = ConnectTo(XServer{-1, name});
    const XWindow window = WaitForWindow(display, kTimeoutMs);
    if (window == 0 || !WaitUntilDrawn(display, window, kTimeoutMs)) {
      std::fprintf(stderr, "x_screenshot: no window showed a picture\n");
      return 1;
    }
    const WindowSize size = SizeOf(display, window);
    const std::vector<std::uint32_t> pixels = ReadPixels(display, window);
    Disconnect(display);
    std::printf("P6\n%d %d\n255\n", size.width, size.height);
    for (const std::uint32_t pixel : pixels) {
      std::putchar(static_cast<int>(pixel >> 16 & 0xFF));
      std::putchar(static_cast<int>(pixel >> 8 & 0xFF));
      std::putchar(static_cast<int>(pixel & 0xFF));
    }
    return std::fflush(stdout) == 0 ? 0 : 1;
  } catch (const std::exception& error) {
    std::fprintf(stderr, "x_screenshot: %s\n", error.what());
    return 2;
  }
}
