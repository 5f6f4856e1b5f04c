// SPDX-License-Identifier: MIT
#include "colours_shown.h"

#include <SDL.h>
#include <stdlib.h>

#include <stdexcept>

#include "image_format.h"

namespace {

constexpr int kBitsPerPixel = 8;

}  // namespace

std::array<std::uint32_t, 256> ColoursShown(const std::string& driver, const std::string& display) {
  setenv("SDL_VIDEODRIVER", driver.c_str(), 1);
  if (!display.empty()) {
    setenv("DISPLAY", display.c_str(), 1);
  }
  const SDL_Surface* screen = SDL_Init(SDL_INIT_VIDEO) == 0 ? SDL_SetVideoMode(1, 1, kBitsPerPixel, 0) : nullptr;
  std::array<std::uint32_t, 256> shown{};
  const bool paletted = screen != nullptr && screen->format->palette != nullptr;
  const std::string error = paletted ? "" : SDL_GetError();
  for (int byte = 0; byte < 256 && paletted; ++byte) {
    const auto value = static_cast<std::uint8_t>(byte);
    const Uint32 index = SDL_MapRGB(screen->format, RedOf(value), GreenOf(value), BlueOf(value));
    const SDL_Color colour = screen->format->palette->colors[index];
    shown[byte] = std::uint32_t{colour.r} << 16 | std::uint32_t{colour.g} << 8 | colour.b;
  }
  SDL_Quit();
  unsetenv("SDL_VIDEODRIVER");
  if (!paletted) {
    throw std::runtime_error("SDL gives no 8-bit display surface on its " + driver + " driver: " + error);
  }
  return shown;
}

std::vector<std::uint32_t> PictureAsShown(int width, int height, const std::string& pixels,
                                          const std::array<std::uint32_t, 256>& shown) {
  const auto columns = static_cast<std::size_t>(width);
  std::vector<std::uint32_t> expected(columns * static_cast<std::size_t>(height));
  std::uint8_t byte = 0;
  for (std::size_t i = 0; i < expected.size(); ++i) {
    if (i < pixels.size()) {
      byte = static_cast<std::uint8_t>(pixels[i]);
    }
    const std::size_t row_shown = static_cast<std::size_t>(height) - 1 - i / columns;
    expected[row_shown * columns + i % columns] = shown[byte];
  }
  return expected;
}
