// SPDX-License-Identifier: MIT
#include "sampled_reference.h"

#include "image_format.h"

namespace {

// The pixel of `whole` under the centre of pixel `index` of `sampled`.
std::int64_t UnderCentre(std::int64_t index, std::int64_t sampled, std::int64_t whole) {
  return (2 * index + 1) * whole / (2 * sampled);
}

}  // namespace

std::vector<std::uint8_t> SampledReference(const std::uint8_t* pixels, std::size_t available, int width, int height,
                                           int sampled_width, int sampled_height) {
  std::vector<std::uint8_t> rgb;
  for (int y = 0; y < sampled_height; ++y) {
    const std::int64_t row_in_file = height - 1 - UnderCentre(y, sampled_height, height);
    for (int x = 0; x < sampled_width; ++x) {
      const auto index = static_cast<std::uint64_t>(row_in_file * width + UnderCentre(x, sampled_width, width));
      std::uint8_t byte = 0;
      if (index < available) {
        byte = pixels[index];
      } else if (available > 0) {
        byte = pixels[available - 1];
      }
      rgb.insert(rgb.end(), {RedOf(byte), GreenOf(byte), BlueOf(byte)});
    }
  }
  return rgb;
}
