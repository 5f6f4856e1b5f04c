// SPDX-License-Identifier: MIT
#include "render_reference.h"

#include "render.h"

void DrawPixelByPixel(SDL_Surface* surface, std::FILE* stream) {
  Uint8 byte = 0;
  for (int y = surface->h - 1; y >= 0; --y) {
    for (int x = 0; x < surface->w; ++x) {
      // A byte that does not come leaves the last one, as in DrawScreen.
      Uint8 next = 0;
      if (std::fread(&next, 1, 1, stream) == 1) {
        byte = next;
      }
      DrawByte(surface, x, y, byte);
    }
  }
}

ChannelMasks MasksFor(int bytes_per_pixel) {
  constexpr int kTrueColour = 3;
  if (bytes_per_pixel == 2) {
    return {0xF800, 0x07E0, 0x001F, 0};
  }
  if (bytes_per_pixel >= kTrueColour) {
    return {0xFF0000, 0x00FF00, 0x0000FF, bytes_per_pixel > kTrueColour ? 0xFF000000 : 0};
  }
  return {};
}
