// SPDX-License-Identifier: MIT
#pragma once

// What render_bench and show_bench share: a picture file of random bytes,
// the software surfaces DrawScreen draws on, and timing a draw.

#include <SDL.h>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "process_timing.h"

struct SurfaceDeleter {
  void operator()(SDL_Surface* surface) const { SDL_FreeSurface(surface); }
};
using Surface = std::unique_ptr<SDL_Surface, SurfaceDeleter>;

using Draw = std::function<void(SDL_Surface*, std::FILE*)>;

// Random pixel bytes, the same ones every run.
std::vector<std::uint8_t> RandomPixels(int width, int height);

// A picture file holding the bytes. Throws when it cannot be written.
void WritePicture(const std::string& path, int width, int height, const std::vector<std::uint8_t>& pixels);

// A software surface; an 8-bit one has the palette SDL gives an 8-bit display
// on a true-colour screen. Throws when SDL cannot make it.
Surface MakeSurface(int width, int height, int bits_per_pixel);

// The median time in milliseconds of `runs` draws of the picture file onto
// the surface, after one warm-up draw that fills the page cache.
double MedianDrawMs(const std::string& path, SDL_Surface* surface, const Draw& draw, int runs);
