// SPDX-License-Identifier: MIT
#pragma once

// The bytes of picture files, as the viewer's tests write them.

#include <cstdint>
#include <string>
#include <vector>

#include "image_format.h"

inline std::string Field(std::uint32_t value) {
  std::string bytes;
  for (int i = 0; i < 4; ++i) {
    bytes.push_back(static_cast<char>(value >> (8 * i)));
  }
  return bytes;
}

inline std::string Picture(std::int32_t width, std::int32_t height, const std::string& pixels) {
  return Field(kMagic) + Field(static_cast<std::uint32_t>(width)) + Field(static_cast<std::uint32_t>(height)) + pixels;
}

// Red and green in the bottom row, blue and the brightest colour above, and
// the RGB it shows, top row first, written out rather than worked out as the
// reference decoding works them.
inline std::string FourColourPicture() { return Picture(2, 2, "\xE0\x1C\x03\xFF"); }
inline std::vector<std::uint8_t> FourColourRgb() { return {0, 0, 192, 224, 224, 192, 224, 0, 0, 0, 224, 0}; }

// What the viewer prints for a picture whose header it accepts.
inline std::string SizeLines(std::int32_t width, std::int32_t height) {
  return "Width: " + std::to_string(width) + "\nHeight: " + std::to_string(height) + "\n";
}
