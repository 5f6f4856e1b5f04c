// SPDX-License-Identifier: MIT
#include "dither.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "image_format.h"

namespace {

constexpr int kSixteenths = 16;
constexpr std::int32_t kStep[kRgbBytes] = {32, 32, 64};
constexpr std::int32_t kTop[kRgbBytes] = {224, 224, 192};
constexpr int kShift[kRgbBytes] = {5, 2, 0};  // where each component's level sits in the byte

std::size_t RowLength(std::int32_t width) { return (static_cast<std::size_t>(width) + 2) * kRgbBytes; }

}  // namespace

bool StartDithering(DitherState& state, std::int32_t width) {
  state = {.width = width,
           .errors = static_cast<std::int32_t*>(std::calloc(2 * RowLength(width), sizeof(std::int32_t))),
           .leftward = false};
  return state.errors != nullptr;
}

void StopDithering(DitherState& state) {
  std::free(state.errors);
  state.errors = nullptr;
}

void DitherRow(DitherState& state, const std::uint8_t* rgb, std::uint8_t* bytes) {
  const std::size_t length = RowLength(state.width);
  std::int32_t* const here = state.errors;
  std::int32_t* const next = state.errors + length;
  std::memset(next, 0, length * sizeof(std::int32_t));
  const int step = state.leftward ? -1 : 1;
  for (std::int32_t i = 0; i < state.width; ++i) {
    const std::int32_t x = state.leftward ? state.width - 1 - i : i;
    const std::size_t at = static_cast<std::size_t>(x + 1) * kRgbBytes;
    std::uint8_t byte = 0;
    for (std::size_t c = 0; c < kRgbBytes; ++c) {
      const std::int32_t wanted = std::min<std::int32_t>(rgb[static_cast<std::size_t>(x) * kRgbBytes + c], kTop[c]);
      const std::int32_t value = wanted * kSixteenths + here[at + c];
      const std::int32_t level =
          std::clamp((value + kStep[c] * kSixteenths / 2) / (kStep[c] * kSixteenths), 0, kTop[c] / kStep[c]);
      const std::int32_t error = value - level * kStep[c] * kSixteenths;
      here[at + c + step * kRgbBytes] += error * 7 / kSixteenths;
      next[at + c - step * kRgbBytes] += error * 3 / kSixteenths;
      next[at + c] += error * 5 / kSixteenths;
      next[at + c + step * kRgbBytes] += error / kSixteenths;
      byte = static_cast<std::uint8_t>(byte | level << kShift[c]);
    }
    bytes[x] = byte;
  }
  std::memcpy(here, next, length * sizeof(std::int32_t));
  state.leftward = !state.leftward;
}

void TopBitsOfRow(const std::uint8_t* rgb, std::int32_t width, std::uint8_t* bytes) {
  for (std::int32_t x = 0; x < width; ++x, rgb += kRgbBytes) {
    bytes[x] = static_cast<std::uint8_t>((rgb[0] & 0xE0) | (rgb[1] >> 3 & 0x1C) | rgb[2] >> 6);
  }
}
