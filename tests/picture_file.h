// SPDX-License-Identifier: MIT
#pragma once

// The bytes of picture files, as the viewer's tests write them.

#include <cstdint>
#include <string>

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

// What the viewer prints for a picture whose header it accepts.
inline std::string SizeLines(std::int32_t width, std::int32_t height) {
  return "Width: " + std::to_string(width) + "\nHeight: " + std::to_string(height) + "\n";
}
