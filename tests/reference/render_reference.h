// SPDX-License-Identifier: MIT
#pragma once

#include <SDL.h>

#include <cstdio>

// The plain way to draw a picture: one one-byte read and one DrawByte a
// pixel, bottom row first, with no lock and no flip. DrawScreen must leave
// the same pixels and take the same bytes from the stream.
void DrawPixelByPixel(SDL_Surface* surface, std::FILE* stream);

// The channel masks of the software surfaces the tests, the fuzzer and the
// benchmarks draw on, by bytes a pixel: none for 8 bits, where SDL gives the
// surface a palette; 5-6-5 for 16; 8-8-8 for 24 and 32, with alpha in 32.
struct ChannelMasks {
  Uint32 red = 0;
  Uint32 green = 0;
  Uint32 blue = 0;
  Uint32 alpha = 0;
};
ChannelMasks MasksFor(int bytes_per_pixel);
