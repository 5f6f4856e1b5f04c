// SPDX-License-Identifier: MIT
#include "render.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>

#include "image_format.h"

namespace {

constexpr int kMisfitSurface = -1;
constexpr std::size_t kChunkPixels = 8192;

using PixelMap = std::array<Uint32, kByteValues>;

// One byte at a time from the highest address down, so the result is the
// same on any host's byte order.
inline void StorePixel(Uint8* target, Uint32 value, int bytes_per_pixel) {
  switch (bytes_per_pixel) {
    case 4:
      target[3] = static_cast<Uint8>(value >> 24);
      [[fallthrough]];
    case 3:
      target[2] = static_cast<Uint8>(value >> 16);
      [[fallthrough]];
    case 2:
      target[1] = static_cast<Uint8>(value >> 8);
      [[fallthrough]];
    case 1:
      target[0] = static_cast<Uint8>(value);
      break;
    default:
      break;
  }
}

Uint8* RowStart(const SDL_Surface* surface, int y) {
  return static_cast<Uint8*>(surface->pixels) + std::ptrdiff_t{y} * surface->pitch;
}

// SDL 1.2 keeps the pitch in 16 bits and sizes the pixel memory as the
// 32-bit product of height and pitch. A surface where either overflowed has
// less memory than its size says, and drawing it would run past the end.
bool FitsItsMemory(const SDL_Surface* surface) {
  return std::int64_t{surface->w} * surface->format->BytesPerPixel <= surface->pitch &&
         std::int64_t{surface->h} * surface->pitch <= std::numeric_limits<std::int32_t>::max();
}

// SDL_MapRGB searches the palette of an 8-bit surface, far too slow to call
// for every pixel; a picture has only 256 different bytes.
PixelMap MapEveryByte(const SDL_PixelFormat* format) {
  PixelMap map{};
  for (int byte = 0; byte < kByteValues; ++byte) {
    const auto value = static_cast<Uint8>(byte);
    map[byte] = SDL_MapRGB(format, RedOf(value), GreenOf(value), BlueOf(value));
  }
  return map;
}

// Fills `pixels` with the stream's next `count` bytes. A pixel whose byte
// does not arrive keeps the last byte read, just as one one-byte read per
// pixel would leave it. Returns the byte of the last pixel.
Uint8 ReadPixels(std::FILE* stream, Uint8* pixels, std::size_t count, Uint8 last) {
  std::size_t x = std::fread(pixels, 1, count, stream);
  if (x > 0) {
    last = pixels[x - 1];
  }
  if (x < count) {
    pixels[x++] = last;
  }
  // After a read error a later byte may still arrive; after the end of the
  // file none does.
  while (x < count && std::feof(stream) == 0) {
    Uint8 byte = 0;
    if (std::fread(&byte, 1, 1, stream) == 1) {
      last = byte;
    }
    pixels[x++] = last;
  }
  std::fill(pixels + x, pixels + count, last);
  return last;
}

template <int kBytesPerPixel>
void StoreRow(Uint8* target, const Uint8* row, std::size_t width, const PixelMap& map) {
  for (std::size_t x = 0; x < width; ++x) {
    StorePixel(target + x * kBytesPerPixel, map[row[x]], kBytesPerPixel);
  }
}

void StoreRowAtDepth(Uint8* target, const Uint8* row, std::size_t width, const PixelMap& map, int bytes_per_pixel) {
  switch (bytes_per_pixel) {
    case 1:
      StoreRow<1>(target, row, width, map);
      break;
    case 2:
      StoreRow<2>(target, row, width, map);
      break;
    case 3:
      StoreRow<3>(target, row, width, map);
      break;
    case 4:
      StoreRow<4>(target, row, width, map);
      break;
    default:
      break;
  }
}

// The file stores the bottom row first. Each row is read and stored a
// chunk at a time, so that a row of any width fits the one fixed buffer.
void DrawRows(SDL_Surface* surface, std::FILE* stream) {
  const int bytes_per_pixel = surface->format->BytesPerPixel;
  const PixelMap map = MapEveryByte(surface->format);
  const std::size_t width = static_cast<std::size_t>(std::max(surface->w, 0));
  std::array<Uint8, kChunkPixels> chunk;
  Uint8 byte = 0;
  for (int y = surface->h - 1; y >= 0; --y) {
    Uint8* const row = RowStart(surface, y);
    for (std::size_t x = 0; x < width; x += chunk.size()) {
      const std::size_t count = std::min(chunk.size(), width - x);
      byte = ReadPixels(stream, chunk.data(), count, byte);
      StoreRowAtDepth(row + x * bytes_per_pixel, chunk.data(), count, map, bytes_per_pixel);
    }
  }
}

}  // namespace

int DrawScreen(SDL_Surface* surface, std::FILE* stream) {
  if (!FitsItsMemory(surface)) {
    return kMisfitSurface;
  }
  const bool must_lock = SDL_MUSTLOCK(surface);
  if (must_lock) {
    const int locked = SDL_LockSurface(surface);
    if (locked < 0) {
      return locked;
    }
  }
  DrawRows(surface, stream);
  if (must_lock) {
    SDL_UnlockSurface(surface);
  }
  return SDL_Flip(surface);
}

void DrawByte(SDL_Surface* surface, int x, int y, Uint8 byte) {
  DrawPixel(surface, x, y, RedOf(byte), GreenOf(byte), BlueOf(byte));
}

void DrawPixel(SDL_Surface* surface, int x, int y, Uint8 red, Uint8 green, Uint8 blue) {
  const Uint32 value = SDL_MapRGB(surface->format, red, green, blue);
  const int bytes_per_pixel = surface->format->BytesPerPixel;
  StorePixel(RowStart(surface, y) + std::ptrdiff_t{x} * bytes_per_pixel, value, bytes_per_pixel);
}
