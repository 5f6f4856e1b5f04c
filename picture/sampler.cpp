// SPDX-License-Identifier: MIT
#include "sampler.h"

#include <algorithm>

#include "image_format.h"

namespace {

// The shorter side in proportion, rounded to the nearest pixel.
std::int32_t InProportion(std::int32_t side, std::int32_t longest, std::int32_t longer_side) {
  const std::int64_t scaled = (2 * std::int64_t{side} * longest + longer_side) / (2 * std::int64_t{longer_side});
  return static_cast<std::int32_t>(std::max<std::int64_t>(scaled, 1));
}

std::uint64_t PixelCount(const PictureSampler& sampler) {
  return std::uint64_t{static_cast<std::uint32_t>(sampler.width)} * static_cast<std::uint32_t>(sampler.height);
}

// The file stores the bottom row first, so the result is filled from its
// bottom row up, and the picture's rows it samples come in file order.
std::uint64_t NextSampledFileRow(const PictureSampler& sampler) {
  const std::int32_t row = sampler.sampled_height - 1 - sampler.rows_done;
  return static_cast<std::uint64_t>(sampler.height - 1 - SampledIndex(row, sampler.sampled_height, sampler.height));
}

std::uint8_t* RowUnderWay(const PictureSampler& sampler) {
  const auto row = static_cast<std::size_t>(sampler.sampled_height - 1 - sampler.rows_done);
  return sampler.pixels + row * sampler.rowstride;
}

void StoreColour(std::uint8_t* target, std::uint8_t byte) {
  const auto& rgb = kRgbOfByte[byte];
  target[0] = rgb[0];
  target[1] = rgb[1];
  target[2] = rgb[2];
}

// `count` bytes of a sampled row, from `column` on.
void SampleRow(PictureSampler& sampler, const std::uint8_t* bytes, std::int32_t column, std::int32_t count) {
  std::uint8_t* const row = RowUnderWay(sampler);
  if (sampler.sampled_width == sampler.width) {
    std::uint8_t* target = row + static_cast<std::size_t>(column) * kRgbBytes;
    for (std::int32_t x = 0; x < count; ++x, target += kRgbBytes) {
      StoreColour(target, bytes[x]);
    }
    sampler.columns_done = column + count;
    return;
  }
  for (; sampler.columns_done < sampler.sampled_width; ++sampler.columns_done) {
    const std::int32_t source = SampledIndex(sampler.columns_done, sampler.sampled_width, sampler.width);
    if (source >= column + count) {
      break;
    }
    StoreColour(row + static_cast<std::size_t>(sampler.columns_done) * kRgbBytes, bytes[source - column]);
  }
}

}  // namespace

SampledSize FitWithin(std::int32_t width, std::int32_t height, std::int32_t longest) {
  longest = std::max(longest, 1);
  if (width <= longest && height <= longest) {
    return {width, height};
  }
  if (width >= height) {
    return {longest, InProportion(height, longest, width)};
  }
  return {InProportion(width, longest, height), longest};
}

PictureSampler StartSampling(std::int32_t width, std::int32_t height, SampledSize size, std::uint8_t* pixels,
                             std::size_t rowstride) {
  return {.width = width,
          .height = height,
          .sampled_width = std::clamp(size.width, 1, width),
          .sampled_height = std::clamp(size.height, 1, height),
          .pixels = pixels,
          .rowstride = rowstride,
          .position = 0,
          .rows_done = 0,
          .columns_done = 0,
          .last = 0};
}

void TakePixels(PictureSampler& sampler, const std::uint8_t* bytes, std::size_t count) {
  const std::uint64_t total = PixelCount(sampler);
  if (sampler.position >= total || count == 0) {
    return;
  }
  count = static_cast<std::size_t>(std::min<std::uint64_t>(count, total - sampler.position));
  sampler.last = bytes[count - 1];
  const auto width = static_cast<std::uint64_t>(sampler.width);
  while (count > 0) {
    const std::uint64_t file_row = sampler.position / width;
    const auto column = static_cast<std::int32_t>(sampler.position % width);
    const auto in_row = static_cast<std::int32_t>(std::min<std::uint64_t>(count, width - column));
    const bool sampled = !SamplingDone(sampler) && file_row == NextSampledFileRow(sampler);
    if (sampled) {
      SampleRow(sampler, bytes, column, in_row);
    }
    sampler.position += static_cast<std::uint64_t>(in_row);
    bytes += in_row;
    count -= static_cast<std::size_t>(in_row);
    if (sampled && column + in_row == sampler.width) {
      ++sampler.rows_done;
      sampler.columns_done = 0;
    }
  }
}

std::uint64_t PixelsToSkip(const PictureSampler& sampler) {
  if (SamplingDone(sampler)) {
    return PixelCount(sampler) - std::min(sampler.position, PixelCount(sampler));
  }
  const std::uint64_t next = NextSampledFileRow(sampler) * static_cast<std::uint64_t>(sampler.width);
  return next > sampler.position ? next - sampler.position : 0;
}

void SkipPixels(PictureSampler& sampler, std::uint64_t count) {
  sampler.position += std::min(count, PixelsToSkip(sampler));
}

std::size_t PixelsLeftInRow(const PictureSampler& sampler) {
  if (sampler.position >= PixelCount(sampler)) {
    return 0;
  }
  const auto width = static_cast<std::uint64_t>(sampler.width);
  return static_cast<std::size_t>(width - sampler.position % width);
}

bool SamplingDone(const PictureSampler& sampler) { return sampler.rows_done >= sampler.sampled_height; }

void FinishSampling(PictureSampler& sampler) {
  for (; !SamplingDone(sampler); ++sampler.rows_done) {
    std::uint8_t* const row = RowUnderWay(sampler);
    for (std::int32_t x = sampler.columns_done; x < sampler.sampled_width; ++x) {
      StoreColour(row + static_cast<std::size_t>(x) * kRgbBytes, sampler.last);
    }
    sampler.columns_done = 0;
  }
}
