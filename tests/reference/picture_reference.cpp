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

// Rows wholly past the data's end are all the last byte's colour: they are
// counted, not walked, so that a short file claiming 32767 x 32767 costs what
// its data and its result do.
std::vector<std::uint8_t> ReducedReference(const std::uint8_t* pixels, std::size_t available, int width, int height,
                                           int reduced_width, int reduced_height) {
  const auto cells = static_cast<std::size_t>(reduced_width) * static_cast<std::size_t>(reduced_height);
  std::vector<std::array<std::uint64_t, 3>> sums(cells);
  std::vector<std::uint64_t> counts(cells);
  const std::uint8_t fill = available > 0 ? pixels[available - 1] : 0;
  const auto add = [&](std::size_t cell, std::uint8_t byte, std::uint64_t times) {
    const Rgb colour = ReferenceColour(byte);
    for (int c = 0; c < 3; ++c) {
      sums[cell][c] += colour[c] * times;
    }
    counts[cell] += times;
  };
  std::vector<std::uint64_t> rows_past_end(static_cast<std::size_t>(reduced_height));
  for (int y = 0; y < height; ++y) {
    const auto row_start = static_cast<std::uint64_t>(height - 1 - y) * static_cast<std::uint64_t>(width);
    const auto reduced_y = UnderCentre(y, height, reduced_height);
    if (row_start >= available) {
      ++rows_past_end[static_cast<std::size_t>(reduced_y)];
      continue;
    }
    for (int x = 0; x < width; ++x) {
      const std::uint64_t index = row_start + static_cast<std::uint64_t>(x);
      const std::size_t cell =
          static_cast<std::size_t>(reduced_y * reduced_width + UnderCentre(x, width, reduced_width));
      add(cell, index < available ? pixels[index] : fill, 1);
    }
  }
  std::vector<std::uint64_t> columns(static_cast<std::size_t>(reduced_width));
  for (int x = 0; x < width; ++x) {
    ++columns[static_cast<std::size_t>(UnderCentre(x, width, reduced_width))];
  }
  for (std::size_t cell = 0; cell < cells; ++cell) {
    add(cell, fill,
        rows_past_end[cell / static_cast<std::size_t>(reduced_width)] *
            columns[cell % static_cast<std::size_t>(reduced_width)]);
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
