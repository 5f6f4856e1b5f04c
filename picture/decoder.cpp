// SPDX-License-Identifier: MIT
#include "decoder.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>

#include "image_format.h"

#if defined(__x86_64__) || defined(__i386__)
#include <tmmintrin.h>
#define PICTURE_HAVE_X86 1
#endif

namespace {

// The shorter side in proportion, rounded to the nearest pixel.
std::int32_t InProportion(std::int32_t side, std::int32_t longest, std::int32_t longer_side) {
  const std::int64_t scaled = (2 * std::int64_t{side} * longest + longer_side) / (2 * std::int64_t{longer_side});
  return static_cast<std::int32_t>(std::max<std::int64_t>(scaled, 1));
}

std::uint64_t PixelCount(const PictureDecoder& decoder) {
  return std::uint64_t{static_cast<std::uint32_t>(decoder.picture.width)} *
         static_cast<std::uint32_t>(decoder.picture.height);
}

bool IsWholeSize(const PictureDecoder& decoder) {
  return decoder.result.width == decoder.picture.width && decoder.result.height == decoder.picture.height;
}

bool ResultDone(const PictureDecoder& decoder) { return decoder.rows_done >= decoder.result.height; }

// The file stores the bottom row first, so the result is filled from its
// bottom row up.
std::int32_t ResultRowUnderWay(const PictureDecoder& decoder) { return decoder.result.height - 1 - decoder.rows_done; }

std::uint8_t* RowUnderWay(const PictureDecoder& decoder) {
  return decoder.pixels + static_cast<std::size_t>(ResultRowUnderWay(decoder)) * decoder.rowstride;
}

// The file row that completes the result row under way: the top one it
// covers.
std::uint64_t LastFileRowOfResultRow(const PictureDecoder& decoder) {
  const std::int32_t top = FirstCovered(ResultRowUnderWay(decoder), decoder.result.height, decoder.picture.height);
  return static_cast<std::uint64_t>(decoder.picture.height - 1 - top);
}

std::int32_t RowsCovered(const PictureDecoder& decoder) {
  const std::int32_t row = ResultRowUnderWay(decoder);
  return FirstCovered(row + 1, decoder.result.height, decoder.picture.height) -
         FirstCovered(row, decoder.result.height, decoder.picture.height);
}

// The result column that covers picture column `column`.
std::int32_t ResultColumnOf(const PictureDecoder& decoder, std::int32_t column) {
  return static_cast<std::int32_t>((2 * std::int64_t{column} + 1) * decoder.result.width /
                                   (2 * std::int64_t{decoder.picture.width}));
}

std::int32_t ColumnEnd(const PictureDecoder& decoder, std::int32_t result_column) {
  return FirstCovered(result_column + 1, decoder.result.width, decoder.picture.width);
}

// `count` pixel bytes of one file row, from `column` on, into the sums of
// the result columns that cover them.
void AddRun(PictureDecoder& decoder, const std::uint8_t* bytes, std::int32_t column, std::int32_t count) {
  const std::int32_t end = column + count;
  for (std::int32_t target = ResultColumnOf(decoder, column); column < end; ++target) {
    const std::int32_t stop = std::min(ColumnEnd(decoder, target), end);
    std::uint64_t red = 0;
    std::uint64_t green = 0;
    std::uint64_t blue = 0;
    for (; column < stop; ++column, ++bytes) {
      const auto& rgb = kRgbOfByte[*bytes];
      red += rgb[0];
      green += rgb[1];
      blue += rgb[2];
    }
    std::uint64_t* const sum = decoder.sums + static_cast<std::size_t>(target) * kRgbBytes;
    sum[0] += red;
    sum[1] += green;
    sum[2] += blue;
  }
}

// `rows` rows of `byte` from picture column `column` to `end`.
void AddColour(PictureDecoder& decoder, std::uint8_t byte, std::int32_t column, std::int32_t end, std::uint64_t rows) {
  const auto& rgb = kRgbOfByte[byte];
  for (std::int32_t target = ResultColumnOf(decoder, column); column < end; ++target) {
    const std::int32_t stop = std::min(ColumnEnd(decoder, target), end);
    const std::uint64_t pixels = rows * static_cast<std::uint64_t>(stop - column);
    std::uint64_t* const sum = decoder.sums + static_cast<std::size_t>(target) * kRgbBytes;
    for (std::size_t component = 0; component < kRgbBytes; ++component) {
      sum[component] += pixels * rgb[component];
    }
    column = stop;
  }
}

// Every pixel the result row under way covers is summed: their means, to
// the nearest value.
void EmitRow(PictureDecoder& decoder) {
  std::uint8_t* target = RowUnderWay(decoder);
  const auto rows = static_cast<std::uint64_t>(RowsCovered(decoder));
  std::int32_t first = 0;
  for (std::int32_t x = 0; x < decoder.result.width; ++x) {
    const std::int32_t end = ColumnEnd(decoder, x);
    const std::uint64_t count = rows * static_cast<std::uint64_t>(end - first);
    std::uint64_t* const sum = decoder.sums + static_cast<std::size_t>(x) * kRgbBytes;
    for (std::size_t component = 0; component < kRgbBytes; ++component, ++target) {
      *target = static_cast<std::uint8_t>((sum[component] + count / 2) / count);
      sum[component] = 0;
    }
    first = end;
  }
  ++decoder.rows_done;
}

// A picture taken at its own size needs no sums: each byte is a pixel.
void TakeRun(PictureDecoder& decoder, const std::uint8_t* bytes, std::int32_t column, std::int32_t count) {
  if (IsWholeSize(decoder)) {
    StoreColours(bytes, static_cast<std::size_t>(count), RowUnderWay(decoder) + std::size_t{kRgbBytes} * column);
  } else {
    AddRun(decoder, bytes, column, count);
  }
}

bool CompletesResultRow(const PictureDecoder& decoder, std::uint64_t file_row) {
  return IsWholeSize(decoder) || file_row == LastFileRowOfResultRow(decoder);
}

// The rows of the result left, from `column` of the one under way, take
// the last byte's colour.
void FillRowsLeft(PictureDecoder& decoder, std::int32_t column) {
  for (; !ResultDone(decoder); ++decoder.rows_done, column = 0) {
    FillColour(decoder.last, static_cast<std::size_t>(decoder.result.width - column),
               RowUnderWay(decoder) + std::size_t{kRgbBytes} * column);
  }
}

// Each pixel but the last as four bytes, the fourth overwritten by the next
// pixel's red: one store, where three bytes take two.
void StoreColoursPortable(const std::uint8_t* bytes, std::size_t count, std::uint8_t* rgb) {
  constexpr std::size_t kWide = 4;
  static constexpr auto kWideRgbOfByte = [] {
    std::array<std::array<std::uint8_t, kWide>, kByteValues> table{};
    for (int byte = 0; byte < kByteValues; ++byte) {
      std::copy(kRgbOfByte[byte].begin(), kRgbOfByte[byte].end(), table[byte].begin());
    }
    return table;
  }();
  std::size_t x = 0;
  for (; x + 1 < count; ++x, rgb += kRgbBytes) {
    std::memcpy(rgb, kWideRgbOfByte[bytes[x]].data(), kWide);
  }
  if (x < count) {
    std::memcpy(rgb, kRgbOfByte[bytes[x]].data(), kRgbBytes);
  }
}

#ifdef PICTURE_HAVE_X86

constexpr std::size_t kVectorBytes = 16;
constexpr char kClear = static_cast<char>(0x80);  // a shuffle index that yields zero

// The shuffle that moves one component of 16 pixels, a byte each, to its
// places in one third of their 48 bytes of RGB.
constexpr std::array<char, kVectorBytes> Placing(std::size_t component, std::size_t third) {
  std::array<char, kVectorBytes> order{};
  for (std::size_t i = 0; i < kVectorBytes; ++i) {
    const std::size_t place = third * kVectorBytes + i;
    order[i] = place % kRgbBytes == component ? static_cast<char>(place / kRgbBytes) : kClear;
  }
  return order;
}

__attribute__((target("ssse3"))) __m128i Shuffled(__m128i component, const std::array<char, kVectorBytes>& order) {
  return _mm_shuffle_epi8(component, _mm_loadu_si128(reinterpret_cast<const __m128i*>(order.data())));
}

// One third of the 48 bytes of RGB of 16 pixels, from their components.
template <std::size_t kThird>
__attribute__((target("ssse3"))) void StoreThird(__m128i red, __m128i green, __m128i blue, std::uint8_t* rgb) {
  static constexpr std::array<char, kVectorBytes> kRedOrder = Placing(0, kThird);
  static constexpr std::array<char, kVectorBytes> kGreenOrder = Placing(1, kThird);
  static constexpr std::array<char, kVectorBytes> kBlueOrder = Placing(2, kThird);
  const __m128i out =
      _mm_or_si128(_mm_or_si128(Shuffled(red, kRedOrder), Shuffled(green, kGreenOrder)), Shuffled(blue, kBlueOrder));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(rgb + kThird * kVectorBytes), out);
}

// The decoder spends most of a picture's time here, where one store a pixel
// bounds the portable loop; 16 pixels take three. Each component is masked
// out of 16 bytes at once as RedOf, GreenOf and BlueOf do, then shuffled
// into place. Returns the pixels stored, a multiple of 16.
__attribute__((target("ssse3"))) std::size_t StoreColoursSsse3(const std::uint8_t* bytes, std::size_t count,
                                                               std::uint8_t* rgb) {
  const __m128i top_three = _mm_set1_epi8(static_cast<char>(0xE0));
  const __m128i top_two = _mm_set1_epi8(static_cast<char>(0xC0));
  std::size_t x = 0;
  for (; x + kVectorBytes <= count; x += kVectorBytes, rgb += kRgbBytes * kVectorBytes) {
    const __m128i value = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + x));
    const __m128i red = _mm_and_si128(value, top_three);
    const __m128i green = _mm_and_si128(_mm_slli_epi16(value, 3), top_three);
    const __m128i blue = _mm_and_si128(_mm_slli_epi16(value, 6), top_two);
    StoreThird<0>(red, green, blue, rgb);
    StoreThird<1>(red, green, blue, rgb);
    StoreThird<2>(red, green, blue, rgb);
  }
  return x;
}

bool HaveSsse3() { return __builtin_cpu_supports("ssse3"); }

#endif

}  // namespace

PictureSize FitWithin(std::int32_t width, std::int32_t height, std::int32_t longest) {
  longest = std::max(longest, 1);
  if (width <= longest && height <= longest) {
    return {width, height};
  }
  if (width >= height) {
    return {longest, InProportion(height, longest, width)};
  }
  return {InProportion(width, longest, height), longest};
}

bool StartDecoding(PictureDecoder& decoder, PictureSize picture, PictureSize size, std::uint8_t* pixels,
                   std::size_t rowstride) {
  decoder = {.picture = picture,
             .result = {std::clamp(size.width, 1, picture.width), std::clamp(size.height, 1, picture.height)},
             .pixels = pixels,
             .rowstride = rowstride,
             .sums = nullptr,
             .position = 0,
             .rows_done = 0,
             .last = 0};
  if (IsWholeSize(decoder)) {
    return true;
  }
  decoder.sums = static_cast<std::uint64_t*>(
      std::calloc(static_cast<std::size_t>(decoder.result.width) * kRgbBytes, sizeof(std::uint64_t)));
  return decoder.sums != nullptr;
}

void TakePixels(PictureDecoder& decoder, const std::uint8_t* bytes, std::size_t count) {
  const std::uint64_t total = PixelCount(decoder);
  if (decoder.position >= total || count == 0) {
    return;
  }
  count = static_cast<std::size_t>(std::min<std::uint64_t>(count, total - decoder.position));
  decoder.last = bytes[count - 1];
  const auto width = static_cast<std::uint64_t>(decoder.picture.width);
  while (count > 0) {
    const std::uint64_t file_row = decoder.position / width;
    const auto column = static_cast<std::int32_t>(decoder.position % width);
    const auto in_row = static_cast<std::int32_t>(std::min<std::uint64_t>(count, width - column));
    TakeRun(decoder, bytes, column, in_row);
    decoder.position += static_cast<std::uint64_t>(in_row);
    bytes += in_row;
    count -= static_cast<std::size_t>(in_row);
    if (column + in_row == decoder.picture.width && CompletesResultRow(decoder, file_row)) {
      if (IsWholeSize(decoder)) {
        ++decoder.rows_done;
      } else {
        EmitRow(decoder);
      }
    }
  }
}

bool AllPixelsTaken(const PictureDecoder& decoder) { return decoder.position >= PixelCount(decoder); }

void FinishDecoding(PictureDecoder& decoder) {
  if (ResultDone(decoder)) {
    return;
  }
  const auto width = static_cast<std::uint64_t>(decoder.picture.width);
  auto column = static_cast<std::int32_t>(decoder.position % width);
  std::uint64_t file_row = decoder.position / width;
  if (!IsWholeSize(decoder)) {
    if (column > 0) {
      AddColour(decoder, decoder.last, column, decoder.picture.width, 1);
      ++file_row;
    }
    const std::uint64_t last_row = LastFileRowOfResultRow(decoder);
    if (file_row <= last_row) {
      AddColour(decoder, decoder.last, 0, decoder.picture.width, last_row - file_row + 1);
    }
    EmitRow(decoder);
    column = 0;
  }
  FillRowsLeft(decoder, column);
  decoder.position = PixelCount(decoder);
}

void StopDecoding(PictureDecoder& decoder) {
  std::free(decoder.sums);
  decoder.sums = nullptr;
}

void StoreColours(const std::uint8_t* bytes, std::size_t count, std::uint8_t* rgb) {
#ifdef PICTURE_HAVE_X86
  if (HaveSsse3()) {
    const std::size_t done = StoreColoursSsse3(bytes, count, rgb);
    bytes += done;
    count -= done;
    rgb += done * kRgbBytes;
  }
#endif
  StoreColoursPortable(bytes, count, rgb);
}

void FillColour(std::uint8_t byte, std::size_t count, std::uint8_t* rgb) {
  for (std::size_t x = 0; x < count; ++x, rgb += kRgbBytes) {
    std::memcpy(rgb, kRgbOfByte[byte].data(), kRgbBytes);
  }
}
