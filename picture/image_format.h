// SPDX-License-Identifier: MIT
#pragma once

// The picture file: a 12-byte header of three little-endian 32-bit fields,
// then one RGB 3-3-2 byte per pixel, bottom row first, rows not padded. The
// viewer, the thumbnailer and the gdk-pixbuf loader all read it through
// this.

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>

inline constexpr std::uint32_t kMagic = 0xDEAD1337;
inline constexpr std::size_t kFieldSize = 4;
inline constexpr std::size_t kHeaderSize = 3 * kFieldSize;

// The farthest X11's signed 16-bit coordinates reach. SDL 1.2 sizes surfaces
// with a 16-bit pitch and 32-bit products, which larger sides overflow into a
// surface far smaller than the picture.
inline constexpr std::int32_t kMaxSide = 32767;

struct ImageHeader {
  std::uint32_t magic;
  std::int32_t width;
  std::int32_t height;
};

// A field's four bytes, least significant first, whatever the host's order.
constexpr std::uint32_t FieldFromBytes(const std::uint8_t* bytes) {
  return std::uint32_t{bytes[0]} | std::uint32_t{bytes[1]} << 8 | std::uint32_t{bytes[2]} << 16 |
         std::uint32_t{bytes[3]} << 24;
}

// The header from its twelve bytes, as they arrive from a stream of any kind.
ImageHeader HeaderFromBytes(const std::uint8_t* bytes);

// Reads the three fields in order. False when the stream ends or fails before
// all twelve bytes arrive; the stream then stands wherever the reads left it.
bool ReadHeader(std::FILE* stream, ImageHeader& header);

// Sides from 1 to kMaxSide. Zero is refused too, because SDL 1.2 takes it as
// "the size of the desktop".
constexpr bool HasDrawableSize(const ImageHeader& header) {
  return header.width > 0 && header.height > 0 && header.width <= kMaxSide && header.height <= kMaxSide;
}

// The colour bits move to the top of each 8-bit component; the low bits stay
// zero rather than repeating the top ones.
constexpr std::uint8_t RedOf(std::uint8_t byte) { return byte & 0xE0; }
constexpr std::uint8_t GreenOf(std::uint8_t byte) { return static_cast<std::uint8_t>(byte << 3) & 0xE0; }
constexpr std::uint8_t BlueOf(std::uint8_t byte) { return static_cast<std::uint8_t>(byte << 6) & 0xC0; }

inline constexpr int kByteValues = 256;
inline constexpr std::size_t kRgbBytes = 3;
using RgbTable = std::array<std::array<std::uint8_t, kRgbBytes>, kByteValues>;

// Each pixel byte's colour as red, green and blue bytes, for decoding a row
// a table lookup a pixel.
constexpr RgbTable MakeRgbTable() {
  RgbTable table{};
  for (int byte = 0; byte < kByteValues; ++byte) {
    const auto value = static_cast<std::uint8_t>(byte);
    table[byte] = {RedOf(value), GreenOf(value), BlueOf(value)};
  }
  return table;
}
inline constexpr RgbTable kRgbOfByte = MakeRgbTable();
