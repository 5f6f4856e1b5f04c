// SPDX-License-Identifier: MIT
#include "picture_reference.h"

namespace {

// The pixel of `reduced` under the centre of pixel `index` of `whole`.
std::int64_t UnderCentre(std::int64_t index, std::int64_t whole, std::int64_t reduced) {
  return (2 * index + 1) * reduced / (2 * whole);
}

}  // namespace

Rgb ReferenceColour(std::uint8_t byte) {
  constexpr int kRedGreenStep = 32;
  constexpr int kBlueStep = 64;
  return {static_cast<std::uint8_t>((byte / 32) * kRedGreenStep),
          static_cast<std::uint8_t>((byte / 4 % 8) * kRedGreenStep), static_cast<std::uint8_t>((byte % 4) * kBlueStep)};
}

std::vector<std::uint8_t> ReducedReference(const std::uint8_t* pixels, std::size_t available, int width, int height,
                                           int reduced_width, int reduced_height) {
  const auto cells = static_cast<std::size_t>(reduced_width) * static_cast<std::size_t>(reduced_height);
  std::vector<std::array<std::uint64_t, 3>> sums(cells);
  std::vector<std::uint64_t> counts(cells);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const auto index = static_cast<std::uint64_t>(height - 1 - y) * static_cast<std::uint64_t>(width) +
                         static_cast<std::uint64_t>(x);
      std::uint8_t byte = 0;
      if (index < available) {
        byte = pixels[index];
      } else if (available > 0) {
        byte = pixels[available - 1];
      }
      const auto cell = static_cast<std::size_t>(UnderCentre(y, height, reduced_height) * reduced_width +
                                                 UnderCentre(x, width, reduced_width));
      const Rgb colour = ReferenceColour(byte);
      for (int c = 0; c < 3; ++c) {
        sums[cell][c] += colour[c];
      }
      ++counts[cell];
    }
  }
  std::vector<std::uint8_t> rgb;
  rgb.reserve(cells * 3);
  for (std::size_t cell = 0; cell < cells; ++cell) {
    for (int c = 0; c < 3; ++c) {
      rgb.push_back(static_cast<std::uint8_t>((sums[cell][c] + counts[cell] / 2) / counts[cell]));
    }
  }
  return rgb;
}
