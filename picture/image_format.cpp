// SPDX-License-Identifier: MIT
#include "image_format.h"

namespace {

bool ReadField(std::FILE* stream, std::uint32_t& field) {
  std::uint8_t bytes[kFieldSize];
  if (std::fread(bytes, sizeof bytes, 1, stream) != 1) {
    return false;
  }
  field = FieldFromBytes(bytes);
  return true;
}

}  // namespace

ImageHeader HeaderFromBytes(const std::uint8_t* bytes) {
  return {FieldFromBytes(bytes), static_cast<std::int32_t>(FieldFromBytes(bytes + kFieldSize)),
          static_cast<std::int32_t>(FieldFromBytes(bytes + 2 * kFieldSize))};
}

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
