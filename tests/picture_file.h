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

// Files that hold no picture the viewer shows, which every route that reads
// pictures refuses, each with a part of what the desktop's routes say of it.
struct HostileFile {
  std::string name;
  std::string bytes;
  std::string says;
};

inline std::vector<HostileFile> HostileFiles() {
  constexpr std::int32_t kLargest = 2147483647;
  const std::string wrong_magic = "does not begin with 37 13 AD DE";
  std::vector<HostileFile> files = {
      {"wrong magic", Field(0x12) + Field(1) + Field(1) + "x", wrong_magic},
      {"magic stored big-endian", "\xDE\xAD\x13\x37" + Field(1) + Field(1) + "x", wrong_magic},
      {"zero width", Picture(0, 5, ""), "its size is 0 x 5"},
      {"zero height", Picture(5, 0, ""), "its size is 5 x 0"},
      {"negative width", Picture(-1, 5, ""), "its size is -1 x 5"},
      {"negative height", Picture(5, -7, "ab"), "its size is 5 x -7"},
      {"width beyond 32767", Picture(kMaxSide + 1, 1, "ab"), "its size is 32768 x 1"},
      {"height beyond 32767", Picture(1, kMaxSide + 1, ""), "its size is 1 x 32768"},
      {"largest width", Picture(kLargest, 1, ""), "its size is 2147483647 x 1"},
      {"largest height", Picture(1, kLargest, ""), "its size is 1 x 2147483647"},
      {"row of more than 65535 bytes", Picture(65536, 1, std::string(65536, 'x')), "its size is 65536 x 1"},
      {"height that overflows SDL's sizes", Picture(4, 1073741825, ""), "its size is 4 x 1073741825"},
  };
  for (std::size_t length = 0; length < kHeaderSize; ++length) {
    files.push_back(
        {std::to_string(length) + " bytes", Picture(1, 1, "").substr(0, length), "shorter than the 12-byte header"});
  }
  return files;
}

// What the viewer prints for a picture whose header it accepts.
inline std::string SizeLines(std::int32_t width, std::int32_t height) {
  return "Width: " + std::to_string(width) + "\nHeight: " + std::to_string(height) + "\n";
}
