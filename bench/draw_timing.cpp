// SPDX-License-Identifier: MIT
#include "draw_timing.h"

#include <algorithm>
#include <chrono>
#include <fstream>
#include <random>
#include <stdexcept>

#include "image_format.h"
#include "picture_file.h"

namespace {

constexpr int kWideBits = 32;

// The palette SDL gives an 8-bit display on a true-colour screen: 3-3-2 with
// the low bits filled, so that no decoded colour matches an entry exactly
// and SDL_MapRGB searches the whole of it, as it does in the viewer.
void SetDisplayPalette(SDL_Surface* surface) {
  SDL_Color colours[256];
  for (int i = 0; i < 256; ++i) {
    const int red = i & 0xE0;
    const int green = (i << 3) & 0xE0;
    const int blue = (i & 0x03) * 0x55;
    colours[i] = {static_cast<Uint8>(red | red >> 3 | red >> 6), static_cast<Uint8>(green | green >> 3 | green >> 6),
                  static_cast<Uint8>(blue), 0};
  }
  SDL_SetColors(surface, colours, 0, 256);
}

// Opening the file and skipping the header are outside the time, as in the
// viewer, where main has done both before it draws.
double TimeOnce(const std::string& path, SDL_Surface* surface, const Draw& draw) {
  std::FILE* stream = std::fopen(path.c_str(), "r");
  if (stream == nullptr || std::fseek(stream, kHeaderSize, SEEK_SET) != 0) {
    throw std::runtime_error("cannot open " + path);
  }
  const auto start = std::chrono::steady_clock::now();
  draw(surface, stream);
  const auto stop = std::chrono::steady_clock::now();
  static_cast<void>(std::fclose(stream));
  return std::chrono::duration<double, std::milli>(stop - start).count();
}

}  // namespace

std::vector<std::uint8_t> RandomPixels(int width, int height) {
  std::vector<std::uint8_t> pixels(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
  std::mt19937 random(1);
  std::generate(pixels.begin(), pixels.end(), [&] { return static_cast<std::uint8_t>(random()); });
  return pixels;
}

void WritePicture(const std::string& path, int width, int height, const std::vector<std::uint8_t>& pixels) {
  std::ofstream file(path, std::ios::binary);
  file << Picture(width, height, std::string(pixels.begin(), pixels.end()));
  if (!file) {
    throw std::runtime_error("cannot write " + path);
  }
}

Surface MakeSurface(int width, int height, int bits_per_pixel) {
  const bool wide = bits_per_pixel == kWideBits;
  Surface surface(SDL_CreateRGBSurface(SDL_SWSURFACE, width, height, bits_per_pixel, wide ? 0xFF0000 : 0,
                                       wide ? 0x00FF00 : 0, wide ? 0x0000FF : 0, 0));
  if (!surface) {
    throw std::runtime_error(std::string("SDL_CreateRGBSurface: ") + SDL_GetError());
  }
  if (!wide) {
    SetDisplayPalette(surface.get());
  }
  return surface;
}

double MedianDrawMs(const std::string& path, SDL_Surface* surface, const Draw& draw, int runs) {
  TimeOnce(path, surface, draw);
  std::vector<double> times(static_cast<std::size_t>(runs));
  for (double& time : times) {
    time = TimeOnce(path, surface, draw);
  }
  return Median(times);
}
