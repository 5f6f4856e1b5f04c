// SPDX-License-Identifier: MIT
#pragma once

#include <SDL.h>

#include <cstdio>

// The plain way to draw a picture: one one-byte read and one DrawByte a
// pixel, bottom row first, with no lock and no flip. DrawScreen must leave
// the same pixels and take the same bytes from the stream.
void DrawPixelByPixel(SDL_Surface* surface, std::FILE* stream);
