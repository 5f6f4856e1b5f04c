// SPDX-License-Identifier: MIT
#pragma once

// Decodes a picture's pixel bytes, in pieces of any size as they arrive,
// straight into RGB rows of a size no larger than the picture's. Each pixel
// of the result takes the picture's pixel under the centre of the area it
// covers, in the format's own colours, so only the rows and columns sampled
// are decoded: memory follows the result, not the picture, and a reader that
// can seek skips the rows nobody samples. The rules are the viewer's: the
// bottom row comes first, pixels after the data's end take the colour of its
// last byte (black where it holds none), bytes after the last pixel are
// ignored.

#include <cstddef>
#include <cstdint>

struct SampledSize {
  std::int32_t width;
  std::int32_t height;
};

// A picture's size scaled down to `longest` pixels on its longer side,
// keeping its proportions, each side at least 1; a picture no larger keeps
// its own size.
SampledSize FitWithin(std::int32_t width, std::int32_t height, std::int32_t longest);

// The one of `whole` pixels that pixel `index` of `sampled` takes: the one
// under its centre.
constexpr std::int32_t SampledIndex(std::int32_t index, std::int32_t sampled, std::int32_t whole) {
  return static_cast<std::int32_t>((2 * std::int64_t{index} + 1) * whole / (2 * std::int64_t{sampled}));
}

struct PictureSampler {
  std::int32_t width;  // the picture's, 1 to kMaxSide
  std::int32_t height;
  std::int32_t sampled_width;  // the result's, 1 to the picture's
  std::int32_t sampled_height;
  std::uint8_t* pixels;  // the result, three bytes a pixel, top row first
  std::size_t rowstride;
  std::uint64_t position;     // pixel bytes taken or skipped
  std::int32_t rows_done;     // rows of the result complete, the bottom one first
  std::int32_t columns_done;  // pixels of the row under way
  std::uint8_t last;          // the last pixel byte taken
};

// Samples a picture of `width` x `height` (both 1 to kMaxSide) into `pixels`,
// `size` (each side clamped to 1 to the picture's) rows of `rowstride`
// bytes.
PictureSampler StartSampling(std::int32_t width, std::int32_t height, SampledSize size, std::uint8_t* pixels,
                             std::size_t rowstride);

// The next `count` bytes of the pixel data.
void TakePixels(PictureSampler& sampler, const std::uint8_t* bytes, std::size_t count);

// How many of the next bytes no pixel of the result takes: the rows before
// the next one sampled. SkipPixels passes over at most that many, as though
// they were taken, except that the last byte taken stays the same.
std::uint64_t PixelsToSkip(const PictureSampler& sampler);
void SkipPixels(PictureSampler& sampler, std::uint64_t count);

// The bytes from here to the end of the row under way.
std::size_t PixelsLeftInRow(const PictureSampler& sampler);

// Whether every pixel of the result is decoded.
bool SamplingDone(const PictureSampler& sampler);

// The data has ended: the pixels not yet decoded take the last byte's
// colour.
void FinishSampling(PictureSampler& sampler);
