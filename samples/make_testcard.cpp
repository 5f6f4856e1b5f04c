// SPDX-License-Identifier: MIT
// Writes the test card that `make run` shows: all 256 colours as a 16 x 16
// grid of swatches, byte value row * 16 + column from the top left, under a
// band with the word TOP and an arrow pointing up, so that a picture drawn
// upside down or mirrored is plain to see.
//
// Usage: make_testcard OUTPUT

#include <array>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <vector>

#include "image_format.h"

namespace {

constexpr int kSwatch = 16;
constexpr int kSwatchesPerRow = 16;
constexpr int kBand = 64;
constexpr int kWidth = kSwatch * kSwatchesPerRow;
constexpr int kHeight = kBand + kSwatch * kSwatchesPerRow;
constexpr std::uint8_t kBlack = 0x00;
constexpr std::uint8_t kWhite = 0xFF;

constexpr int kGlyphWidth = 5;
constexpr int kGlyphHeight = 7;
constexpr int kGlyphScale = 4;
using Glyph = std::array<const char*, kGlyphHeight>;
constexpr Glyph kT = {"#####", "..#..", "..#..", "..#..", "..#..", "..#..", "..#.."};
constexpr Glyph kO = {".###.", "#...#", "#...#", "#...#", "#...#", "#...#", ".###."};
constexpr Glyph kP = {"####.", "#...#", "#...#", "####.", "#....", "#....", "#...."};

using Canvas = std::vector<std::uint8_t>;  // top row first, as on screen

void Put(Canvas& canvas, int x, int y, std::uint8_t byte) { canvas[static_cast<std::size_t>(y) * kWidth + x] = byte; }

void DrawGlyph(Canvas& canvas, const Glyph& glyph, int left, int top) {
  for (int row = 0; row < kGlyphHeight * kGlyphScale; ++row) {
    for (int column = 0; column < kGlyphWidth * kGlyphScale; ++column) {
      if (glyph[row / kGlyphScale][column / kGlyphScale] == '#') {
        Put(canvas, left + column, top + row, kWhite);
      }
    }
  }
}

void DrawUpArrow(Canvas& canvas, int centre, int top) {
  constexpr int kHead = 24;
  constexpr int kShaftHalf = 6;
  constexpr int kShaft = 24;
  for (int row = 0; row < kHead; ++row) {
    for (int x = centre - row; x <= centre + row; ++x) {
      Put(canvas, x, top + row, kWhite);
    }
  }
  for (int row = kHead; row < kHead + kShaft; ++row) {
    for (int x = centre - kShaftHalf; x <= centre + kShaftHalf; ++x) {
      Put(canvas, x, top + row, kWhite);
    }
  }
}

Canvas DrawCard() {
  Canvas canvas(static_cast<std::size_t>(kWidth) * kHeight, kBlack);
  constexpr int kTextTop = (kBand - kGlyphHeight * kGlyphScale) / 2;
  constexpr int kGlyphAdvance = (kGlyphWidth + 2) * kGlyphScale;
  DrawGlyph(canvas, kT, 16, kTextTop);
  DrawGlyph(canvas, kO, 16 + kGlyphAdvance, kTextTop);
  DrawGlyph(canvas, kP, 16 + 2 * kGlyphAdvance, kTextTop);
  DrawUpArrow(canvas, kWidth - 56, 8);
  for (int y = 0; y < kSwatch * kSwatchesPerRow; ++y) {
    for (int x = 0; x < kWidth; ++x) {
      Put(canvas, x, kBand + y, static_cast<std::uint8_t>((y / kSwatch) * kSwatchesPerRow + x / kSwatch));
    }
  }
  return canvas;
}

void PutField(std::ofstream& file, std::uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) {
    file.put(static_cast<char>(value >> shift));
  }
}

}  // namespace

int main(int argc, char* argv[]) {
  if (argc != 2) {
    static_cast<void>(std::fprintf(stderr, "usage: make_testcard OUTPUT\n"));
    return 2;
  }
  const Canvas canvas = DrawCard();
  std::ofstream file(argv[1], std::ios::binary);
  PutField(file, kMagic);
  PutField(file, kWidth);
  PutField(file, kHeight);
  // The file holds the bottom row first.
  for (int y = kHeight - 1; y >= 0; --y) {
    file.write(reinterpret_cast<const char*>(&canvas[static_cast<std::size_t>(y) * kWidth]), kWidth);
  }
  file.close();
  if (!file) {
    static_cast<void>(std::fprintf(stderr, "make_testcard: cannot write %s\n", argv[1]));
    return 1;
  }
  return 0;
}
