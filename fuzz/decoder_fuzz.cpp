// SPDX-License-Identifier: MIT
// Hands the decoding that the thumbnailer and the desktop's loaders share
// any file, any size to decode it at and any way of cutting it into pieces:
// the header is read as the loader reads it and the pixel data fed in the
// pieces the input plans. Every byte of the result must be the reference's,
// and the padding after each row untouched, whatever size the header
// claims.
//
// Input: options, reduced width, reduced height, longest side, plan length,
// the plan (piece sizes), then the file itself.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "decoder.h"
#include "image_format.h"
#include "picture_reference.h"

namespace {

constexpr std::size_t kControlBytes = 5;
constexpr std::size_t kMaxPlan = 8;
constexpr std::uint8_t kFitWithin = 0x02;    // options bit: the size a thumbnail of the longest side takes
constexpr std::uint8_t kPaddingMask = 0x0C;  // options bits: bytes of padding after each row
constexpr std::uint8_t kUntouched = 0xA5;

[[noreturn]] void Fail(const char* what) {
  static_cast<void>(std::fprintf(stderr, "decoder_fuzz: %s\n", what));
  std::abort();
}

// A thumbnail's size fits the longest side and keeps to the picture's.
PictureSize ChosenSize(const std::uint8_t* data, const ImageHeader& header) {
  if ((data[0] & kFitWithin) == 0) {
    return {1 + data[1] % 64, 1 + data[2] % 64};
  }
  const std::int32_t longest = 1 + data[3];
  const PictureSize size = FitWithin(header.width, header.height, longest);
  if (size.width < 1 || size.height < 1 || size.width > std::min(header.width, std::max(longest, 1)) ||
      size.height > std::min(header.height, longest) ||
      ((header.width > longest || header.height > longest) && std::max(size.width, size.height) != longest)) {
    Fail("FitWithin gave a size that does not fit");
  }
  return size;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < kControlBytes) {
    return 0;
  }
  const std::size_t plan_size = std::min<std::size_t>(data[4] % (kMaxPlan + 1), size - kControlBytes);
  const std::vector<std::uint8_t> plan(data + kControlBytes, data + kControlBytes + plan_size);
  const std::uint8_t* const file = data + kControlBytes + plan_size;
  const std::size_t file_size = size - kControlBytes - plan_size;
  if (file_size < kHeaderSize) {
    return 0;
  }
  const ImageHeader header = HeaderFromBytes(file);
  if (header.magic != kMagic || !HasDrawableSize(header)) {
    return 0;
  }
  const PictureSize asked = ChosenSize(data, header);
  const PictureSize reduced = {std::min(asked.width, header.width), std::min(asked.height, header.height)};
  const std::size_t padding = (data[0] & kPaddingMask) >> 2;
  const std::size_t rowstride = static_cast<std::size_t>(reduced.width) * kRgbBytes + padding;
  std::vector<std::uint8_t> result(rowstride * static_cast<std::size_t>(reduced.height), kUntouched);

  PictureDecoder decoder{};
  if (!StartDecoding(decoder, {header.width, header.height}, asked, result.data(), rowstride)) {
    Fail("no memory for the sums of a row");
  }
  const std::uint8_t* const pixels = file + kHeaderSize;
  const std::size_t available = file_size - kHeaderSize;
  std::size_t taken = 0;
  for (std::size_t piece = 0; taken < available && !AllPixelsTaken(decoder); ++piece) {
    std::size_t count = plan.empty() ? available : std::max<std::size_t>(plan[piece % plan.size()], 1);
    count = std::min(count, available - taken);
    TakePixels(decoder, pixels + taken, count);
    taken += count;
  }
  FinishDecoding(decoder);
  StopDecoding(decoder);
  if (decoder.rows_done != reduced.height) {
    Fail("the result is not done once the data has ended");
  }

  const std::vector<std::uint8_t> expected =
      ReducedReference(pixels, available, header.width, header.height, reduced.width, reduced.height);
  for (std::size_t y = 0; y < static_cast<std::size_t>(reduced.height); ++y) {
    const auto row = result.begin() + static_cast<std::ptrdiff_t>(y * rowstride);
    const auto width = static_cast<std::ptrdiff_t>(rowstride - padding);
    if (!std::equal(row, row + width, expected.begin() + static_cast<std::ptrdiff_t>(y) * width)) {
      Fail("a row differs from the reference's");
    }
    if (!std::all_of(row + width, row + static_cast<std::ptrdiff_t>(rowstride),
                     [](std::uint8_t byte) { return byte == kUntouched; })) {
      Fail("the padding after a row was written");
    }
  }
  return 0;
}
