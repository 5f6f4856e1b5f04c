// SPDX-License-Identifier: MIT
#include "image_format.h"

namespace {

bool ReadField(std::FILE* stream, std::uint32_t& field) {
  unsigned char bytes[kFieldSize];
  if (std::fread(bytes, sizeof bytes, 1, stream) != 1) {
    return false;
  }
  field = std::uint32_t{bytes[0]} | std::uint32_t{bytes[1]} << 8 | std::uint32_t{bytes[2]} << 16 |
          std::uint32_t{bytes[3]} << 24;
  return true;
}

}  // namespace

bool ReadHeader(std::FILE* stream, ImageHeader& header) {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  if (!ReadField(stream, header.magic) || !ReadField(stream, width) || !ReadField(stream, height)) {
    return false;
  }
  header.width = static_cast<std::int32_t>(width);
  header.height = static_cast<std::int32_t>(height);
  return true;
}
