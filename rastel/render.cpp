#include "render.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "image_format.h"

namespace {

constexpr int kByteValues = 256;
constexpr int kMisfitSurface = -1;

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

// SDL 1.2 keeps the pitch in 16 bits, so a wide surface can come back with a
// pitch shorter than its rows; drawing it would run past its memory.
bool RowsFitPitch(const SDL_Surface* surface) {
  return std::int64_t{surface->w} * surface->format->BytesPerPixel <= surface->pitch;
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

// Fills `row` with the stream's next `width` bytes. A pixel whose byte does
// not arrive keeps the last byte read, just as one one-byte read per pixel
// would leave it. Returns the byte of the row's last pixel.
Uint8 ReadRow(std::FILE* stream, Uint8* row, std::size_t width, Uint8 last) {
  std::size_t x = std::fread(row, 1, width, stream);
  if (x > 0) {
    last = row[x - 1];
  }
  if (x < width) {
    row[x++] = last;
  }
  // After a read error a later byte may still arrive; after the end of the
  // file none does.
  while (x < width && !std::feof(stream)) {
    Uint8 byte = 0;
    if (std::fread(&byte, 1, 1, stream) == 1) {
      last = byte;
    }
    row[x++] = last;
  }
  std::fill(row + x, row + width, last);
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

// The file stores the bottom row first.
void DrawRows(SDL_Surface* surface, std::FILE* stream) {
  const PixelMap map = MapEveryByte(surface->format);
  const std::size_t width = static_cast<std::size_t>(std::max(surface->w, 0));
  std::vector<Uint8> row(width);
  Uint8 byte = 0;
  for (int y = surface->h - 1; y >= 0; --y) {
    byte = ReadRow(stream, row.data(), width, byte);
    StoreRowAtDepth(RowStart(surface, y), row.data(), width, map, surface->format->BytesPerPixel);
  }
}

}  // namespace

int DrawScreen(SDL_Surface* surface, std::FILE* stream) {
  if (!RowsFitPitch(surface)) {
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
