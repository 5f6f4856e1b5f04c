// SPDX-License-Identifier: MIT
// Waits for the first window on $DISPLAY to show a picture and writes what
// the server holds for it to standard output as a binary PPM image.
//
// Usage: x_screenshot > window.ppm

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <vector>

#include "x_display.h"

namespace {

constexpr int kTimeoutMs = 10000;

}  // namespace

int main() {
  const char* name = std::getenv("DISPLAY");
  if (name == nullptr) {
    static_cast<void>(std::fprintf(stderr, "x_screenshot: DISPLAY is not set\n"));
    return 2;
  }
  try {
    XDisplay* display = ConnectTo(XServer{-1, name});
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kTimeoutMs);
    WindowSize size;
    std::vector<std::uint32_t> pixels;
    // Again if the window goes between finding it and reading it.
    while (pixels.empty()) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      const XWindow window = WaitForDrawnWindow(display, static_cast<int>(std::max<std::int64_t>(0, left.count())));
      if (window == 0) {
        static_cast<void>(std::fprintf(stderr, "x_screenshot: no window showed a picture\n"));
        return 1;
      }
      size = SizeOf(display, window);
      pixels = ReadPixels(display, window);
    }
    Disconnect(display);
    if (pixels.size() != static_cast<std::size_t>(size.width) * size.height) {
      static_cast<void>(std::fprintf(stderr, "x_screenshot: the window does not fit on the screen\n"));
      return 1;
    }
    std::string image = "P6\n" + std::to_string(size.width) + " " + std::to_string(size.height) + "\n255\n";
    for (const std::uint32_t pixel : pixels) {
      image.push_back(static_cast<char>(pixel >> 16 & 0xFF));
      image.push_back(static_cast<char>(pixel >> 8 & 0xFF));
      image.push_back(static_cast<char>(pixel & 0xFF));
    }
    const bool written = std::fwrite(image.data(), 1, image.size(), stdout) == image.size() && std::fflush(stdout) == 0;
    return written ? 0 : 1;
  } catch (const std::exception& error) {
    static_cast<void>(std::fprintf(stderr, "x_screenshot: %s\n", error.what()));
    return 2;
  }
}
