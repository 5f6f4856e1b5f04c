// SPDX-License-Identifier: MIT
#pragma once

// Decodes a picture's pixel bytes, in pieces of any size as they arrive,
// straight into RGB rows of a size no larger than the picture's. Each pixel
// of the result is the mean of the picture's pixels it covers, in the
// format's own colours, so that a reduced picture keeps the colours of the
// whole, dithered or not; memory follows the result, not the picture. The
// rules are the viewer's: the bottom row comes first, pixels after the
// data's end take the colour of its last byte (black where it holds none),
// bytes after the last pixel are ignored.

#include <cstddef>
#include <cstdint>

struct PictureSize {
  std::int32_t width;
  std::int32_t height;
};

// A picture's size scaled down to `longest` pixels on its longer side,
// keeping its proportions, each side at least 1; a picture no larger keeps
// its own size.
PictureSize FitWithin(std::int32_t width, std::int32_t height, std::int32_t longest);

// A pixel of the picture goes to the pixel of the reduced result under its
// centre. The first of `whole` pixels that pixel `index` of `reduced`
// covers; pixel `index` covers those up to the first of `index` + 1, at
// least one, since `reduced` is no larger than `whole`.
constexpr std::int32_t FirstCovered(std::int32_t index, std::int32_t reduced, std::int32_t whole) {
  return static_cast<std::int32_t>((2 * std::int64_t{index} * whole + reduced - 1) / (2 * std::int64_t{reduced}));
}

struct PictureDecoder {
  PictureSize picture;   // each side 1 to kMaxSide
  PictureSize result;    // each side 1 to the picture's
  std::uint8_t* pixels;  // the result, three bytes a pixel, top row first
  std::size_t rowstride;
  std::uint64_t* sums;     // red, green and blue of each result column, over the rows of the result row under way
  std::uint64_t position;  // pixel bytes taken
  std::int32_t rows_done;  // rows of the result complete, the bottom one first
  std::uint8_t last;       // the last pixel byte taken
};

// Decodes a picture of `picture` into `pixels`, `size` (each side clamped to
// 1 to the picture's) rows of `rowstride` bytes. False when there is no
// memory for the sums a reduction keeps.
bool StartDecoding(PictureDecoder& decoder, PictureSize picture, PictureSize size, std::uint8_t* pixels,
                   std::size_t rowstride);

// The next `count` bytes of the pixel data.
void TakePixels(PictureDecoder& decoder, const std::uint8_t* bytes, std::size_t count);

// Whether every pixel byte the picture has is taken.
bool AllPixelsTaken(const PictureDecoder& decoder);

// The data has ended: the pixels not yet taken take the last byte's
// colour, at a cost that follows the result, not the pixels missing.
void FinishDecoding(PictureDecoder& decoder);

// Frees what StartDecoding took; the result stays the caller's.
void StopDecoding(PictureDecoder& decoder);

// Each byte's colour, three bytes a pixel.
void StoreColours(const std::uint8_t* bytes, std::size_t count, std::uint8_t* rgb);
void FillColour(std::uint8_t byte, std::size_t count, std::uint8_t* rgb);
