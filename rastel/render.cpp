// SPDX-License-Identifier: MIT
#include "render.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

#include "image_format.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define RASTEL_HAVE_X86 1
#endif

namespace {

constexpr int kByteValues = 256;
constexpr int kMisfitSurface = -1;

using PixelMap = std::array<Uint32, kByteValues>;
// The 8-bit pixels of every pair of bytes, as the pair stands in memory.
using PairMap = std::vector<std::uint16_t>;

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
  while (x < width && std::feof(stream) == 0) {
    Uint8 byte = 0;
    if (std::fread(&byte, 1, 1, stream) == 1) {
      last = byte;
    }
    row[x++] = last;
  }
  std::fill(row + x, row + width, last);
  return last;
}

// An 8-bit surface, the viewer's own, is drawn from tables of its pixels:
// the lookups are what the time goes on.
struct ByteRowTables {
  std::array<Uint8, kByteValues> pixel_of{};  // the low byte, as StorePixel stores it
  PairMap pixels_of_pair;                     // two pixels a lookup, 128 KiB
  bool use_vbmi = false;
};

#ifdef RASTEL_HAVE_X86

// With byte permutes across 64-byte vectors, four registers hold the whole
// table and 64 pixels take five instructions. Returns the pixels done.
__attribute__((target("avx512f,avx512bw,avx512vbmi"))) std::size_t StoreByteRowVbmi(Uint8* target, const Uint8* row,
                                                                                    std::size_t width,
                                                                                    const Uint8* pixel_of) {
  const __m512i low_half_first = _mm512_loadu_si512(pixel_of);
  const __m512i low_half_second = _mm512_loadu_si512(pixel_of + 64);
  const __m512i high_half_first = _mm512_loadu_si512(pixel_of + 128);
  const __m512i high_half_second = _mm512_loadu_si512(pixel_of + 192);
  constexpr std::size_t kStep = 64;
  std::size_t x = 0;
  for (; x + kStep <= width; x += kStep) {
    const __m512i bytes = _mm512_loadu_si512(row + x);
    const __m512i low = _mm512_permutex2var_epi8(low_half_first, bytes, low_half_second);
    const __m512i high = _mm512_permutex2var_epi8(high_half_first, bytes, high_half_second);
    _mm512_storeu_si512(target + x, _mm512_mask_blend_epi8(_mm512_movepi8_mask(bytes), low, high));
  }
  return x;
}

#else

std::size_t StoreByteRowVbmi(Uint8*, const Uint8*, std::size_t, const Uint8*) { return 0; }

#endif

ByteRowTables MakeByteRowTables(const PixelMap& map, bool allow_vbmi) {
  ByteRowTables tables;
  for (int byte = 0; byte < kByteValues; ++byte) {
    tables.pixel_of[byte] = static_cast<Uint8>(map[byte]);
  }
  tables.pixels_of_pair.resize(std::size_t{kByteValues} * kByteValues);
  for (std::size_t pair = 0; pair < tables.pixels_of_pair.size(); ++pair) {
    const auto bytes_in = static_cast<std::uint16_t>(pair);
    Uint8 in[2];
    std::memcpy(in, &bytes_in, sizeof in);
    const Uint8 out[2] = {tables.pixel_of[in[0]], tables.pixel_of[in[1]]};
    std::memcpy(&tables.pixels_of_pair[pair], out, sizeof out);
  }
  tables.use_vbmi = allow_vbmi && HaveVbmi();
  return tables;
}

// Each pair is looked up where it stands in the word, so this holds on
// either byte order.
void StoreByteRow(Uint8* target, const Uint8* row, std::size_t width, const ByteRowTables& tables) {
  std::size_t x = tables.use_vbmi ? StoreByteRowVbmi(target, row, width, tables.pixel_of.data()) : 0;
  // A local pointer, since the stores below may alias the vector's own.
  const std::uint16_t* const pairs = tables.pixels_of_pair.data();
  constexpr std::size_t kStep = sizeof(std::uint64_t);
  for (; x + kStep <= width; x += kStep) {
    std::uint64_t bytes = 0;
    std::memcpy(&bytes, row + x, kStep);
    const std::uint64_t pixels =
        std::uint64_t{pairs[bytes & 0xFFFF]} | std::uint64_t{pairs[(bytes >> 16) & 0xFFFF]} << 16 |
        std::uint64_t{pairs[(bytes >> 32) & 0xFFFF]} << 32 | std::uint64_t{pairs[bytes >> 48]} << 48;
    std::memcpy(target + x, &pixels, kStep);
  }
  for (; x < width; ++x) {
    target[x] = tables.pixel_of[row[x]];
  }
}

template <int kBytesPerPixel>
void StoreRow(Uint8* target, const Uint8* row, std::size_t width, const PixelMap& map) {
  for (std::size_t x = 0; x < width; ++x) {
    StorePixel(target + x * kBytesPerPixel, map[row[x]], kBytesPerPixel);
  }
}

void StoreRowAtDepth(Uint8* target, const Uint8* row, std::size_t width, const PixelMap& map,
                     const ByteRowTables& byte_tables, int bytes_per_pixel) {
  switch (bytes_per_pixel) {
    case 1:
      StoreByteRow(target, row, width, byte_tables);
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
void DrawRows(SDL_Surface* surface, std::FILE* stream, bool allow_vbmi) {
  const int bytes_per_pixel = surface->format->BytesPerPixel;
  const PixelMap map = MapEveryByte(surface->format);
  const ByteRowTables byte_tables = bytes_per_pixel == 1 ? MakeByteRowTables(map, allow_vbmi) : ByteRowTables{};
  const std::size_t width = static_cast<std::size_t>(std::max(surface->w, 0));
  std::vector<Uint8> row(width);
  Uint8 byte = 0;
  for (int y = surface->h - 1; y >= 0; --y) {
    byte = ReadRow(stream, row.data(), width, byte);
    StoreRowAtDepth(RowStart(surface, y), row.data(), width, map, byte_tables, bytes_per_pixel);
  }
}

int DrawScreenWith(SDL_Surface* surface, std::FILE* stream, bool allow_vbmi) {
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
  DrawRows(surface, stream, allow_vbmi);
  if (must_lock) {
    SDL_UnlockSurface(surface);
  }
  return SDL_Flip(surface);
}

}  // namespace

int DrawScreen(SDL_Surface* surface, std::FILE* stream) { return DrawScreenWith(surface, stream, true); }

int DrawScreenPortable(SDL_Surface* surface, std::FILE* stream) { return DrawScreenWith(surface, stream, false); }

void DrawByte(SDL_Surface* surface, int x, int y, Uint8 byte) {
  DrawPixel(surface, x, y, RedOf(byte), GreenOf(byte), BlueOf(byte));
}

void DrawPixel(SDL_Surface* surface, int x, int y, Uint8 red, Uint8 green, Uint8 blue) {
  const Uint32 value = SDL_MapRGB(surface->format, red, green, blue);
  const int bytes_per_pixel = surface->format->BytesPerPixel;
  StorePixel(RowStart(surface, y) + std::ptrdiff_t{x} * bytes_per_pixel, value, bytes_per_pixel);
}

bool HaveVbmi() {
#ifdef RASTEL_HAVE_X86
  // The path uses AVX-512F and AVX-512BW instructions as well, and a virtual
  // machine may offer VBMI without them.
  return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
         __builtin_cpu_supports("avx512vbmi");
#else
  return false;
#endif
}
