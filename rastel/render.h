// SPDX-License-Identifier: MIT
#pragma once

#include <SDL.h>

#include <cstdio>

// Fills the surface from the stream, one byte a pixel, bottom row first, and
// flips it once. Returns the lock's negative result when the surface cannot
// be locked, -1 without drawing or reading when its rows do not fit its
// pitch or its height times its pitch overflows 32 bits, and otherwise the
// flip's result. Pixels past the end of the stream
// take the last byte read (black when none was).
int DrawScreen(SDL_Surface* surface, std::FILE* stream);

// Draws one pixel byte, decoded from RGB 3-3-2.
void DrawByte(SDL_Surface* surface, int x, int y, Uint8 byte);

// Stores the colour as SDL maps it for the surface, least significant byte
// at the lowest address whatever the surface's depth.
void DrawPixel(SDL_Surface* surface, int x, int y, Uint8 red, Uint8 green, Uint8 blue);
