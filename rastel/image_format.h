// SPDX-License-Identifier: MIT
#pragma once

// The picture file: a 12-byte header of three little-endian 32-bit fields,
// then one RGB 3-3-2 byte per pixel, bottom row first, rows not padded.

#include <cstddef>
#include <cstdint>
#include <cstdio>

inline constexpr std::uint32_t kMagic = 0xDEAD1337;
inline constexpr std::size_t kFieldSize = 4;
inline constexpr std::size_t kHeaderSize = 3 * kFieldSize;

struct ImageHeader {
  std::uint32_t magic;
  std::int32_t width;
  std::int32_t height;
};

// Reads the three fields in order. False when the stream ends or fails before
// all twelve bytes arrive; the stream then stands wherever the reads left it.
bool ReadHeader(std::FILE* stream, ImageHeader& header);

// The colour bits move to the top of each 8-bit component; the low bits stay
// zero rather than repeating the top ones.
constexpr std::uint8_t RedOf(std::uint8_t byte) { return byte & 0xE0; }
constexpr std::uint8_t GreenOf(std::uint8_t byte) { return static_cast<std::uint8_t>(byte << 3) & 0xE0; }
constexpr std::uint8_t BlueOf(std::uint8_t byte) { return static_cast<std::uint8_t>(byte << 6) & 0xC0; }
