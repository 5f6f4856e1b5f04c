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
