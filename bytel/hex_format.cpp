// SPDX-License-Identifier: MIT
#include "hex_format.h"

#include <array>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <tmmintrin.h>
#define BYTEL_HAVE_X86 1
#endif

namespace {

constexpr std::size_t kLineLength = kBytesPerLine * kCharsPerByte + 1;

using HexGroup = std::array<char, 4>;

constexpr std::array<HexGroup, 256> MakeHexTable() {
  constexpr char kDigits[] = "0123456789abcdef";
  std::array<HexGroup, 256> table{};
  for (std::size_t byte = 0; byte < table.size(); ++byte) {
    table[byte] = {kDigits[byte >> 4], kDigits[byte & 0xF], ' ', '\0'};
  }
  return table;
}

constexpr std::array<HexGroup, 256> kHexTable = MakeHexTable();

// One four-byte store per group is cheaper than three one-byte stores; the
// fourth byte is overwritten by the next group or the newline.
char* PutGroup(char* out, std::uint8_t byte) {
  std::memcpy(out, kHexTable[byte].data(), sizeof(HexGroup));
  return out + kCharsPerByte;
}

char* PutLines(const std::uint8_t* bytes, std::size_t lines, char* out) {
  for (; lines > 0; --lines) {
    for (int i = 0; i < kBytesPerLine; ++i) {
      out = PutGroup(out, *bytes++);
    }
    *out++ = '\n';
  }
  return out;
}

#ifdef BYTEL_HAVE_X86

constexpr char kClear = static_cast<char>(0x80);  // a shuffle index that yields zero

// A line is 25 characters: the first 16 and then 9 more from the 16 digits
// of its eight bytes. Each half is one shuffle that leaves gaps for the
// spaces and the newline, which are then ORed in.
__attribute__((target("ssse3"))) char* PutLineSsse3(__m128i digits, char* out) {
  const __m128i head_order = _mm_setr_epi8(0, 1, kClear, 2, 3, kClear, 4, 5, kClear, 6, 7, kClear, 8, 9, kClear, 10);
  const __m128i head_fill = _mm_setr_epi8(0, 0, ' ', 0, 0, ' ', 0, 0, ' ', 0, 0, ' ', 0, 0, ' ', 0);
  const __m128i tail_order = _mm_setr_epi8(11, kClear, 12, 13, kClear, 14, 15, kClear, kClear, kClear, kClear, kClear,
                                           kClear, kClear, kClear, kClear);
  const __m128i tail_fill = _mm_setr_epi8(0, ' ', 0, 0, ' ', 0, 0, ' ', '\n', 0, 0, 0, 0, 0, 0, 0);
  const __m128i head = _mm_or_si128(_mm_shuffle_epi8(digits, head_order), head_fill);
  const __m128i tail = _mm_or_si128(_mm_shuffle_epi8(digits, tail_order), tail_fill);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out), head);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16), tail);
  return out + kLineLength;
}

// Formats two lines (16 bytes) per step: nibbles become hex digits by a
// shuffle through a 16-entry table, then each line is laid out by shuffles.
__attribute__((target("ssse3"))) char* PutLinePairsSsse3(const std::uint8_t* bytes, std::size_t pairs, char* out) {
  const __m128i hex_digits =
      _mm_setr_epi8('0', '1', '2', '3', '4', '5', '6', '7', '8', '9', 'a', 'b', 'c', 'd', 'e', 'f');
  const __m128i nibble_mask = _mm_set1_epi8(0x0F);
  for (; pairs > 0; --pairs) {
    const __m128i value = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes));
    const __m128i high = _mm_shuffle_epi8(hex_digits, _mm_and_si128(_mm_srli_epi16(value, 4), nibble_mask));
    const __m128i low = _mm_shuffle_epi8(hex_digits, _mm_and_si128(value, nibble_mask));
    out = PutLineSsse3(_mm_unpacklo_epi8(high, low), out);
    out = PutLineSsse3(_mm_unpackhi_epi8(high, low), out);
    bytes += std::size_t{2} * kBytesPerLine;
  }
  return out;
}

bool HaveSsse3() { return __builtin_cpu_supports("ssse3"); }

#else

bool HaveSsse3() { return false; }

#endif

std::size_t FormatHexWith([[maybe_unused]] bool use_ssse3, const std::uint8_t* bytes, std::size_t count, int column,
                          char* out) {
  char* const start = out;
  const std::uint8_t* const end = bytes + count;

  while (column != 0 && bytes != end) {
    out = PutGroup(out, *bytes++);
    if (++column == kBytesPerLine) {
      *out++ = '\n';
      column = 0;
    }
  }
  std::size_t lines = static_cast<std::size_t>(end - bytes) / kBytesPerLine;
#ifdef BYTEL_HAVE_X86
  if (use_ssse3) {
    out = PutLinePairsSsse3(bytes, lines / 2, out);
    bytes += (lines / 2) * 2 * kBytesPerLine;
    lines %= 2;
  }
#endif
  out = PutLines(bytes, lines, out);
  bytes += lines * kBytesPerLine;
  while (bytes != end) {
    out = PutGroup(out, *bytes++);
  }
  return static_cast<std::size_t>(out - start);
}

}  // namespace

std::size_t FormatHex(const std::uint8_t* bytes, std::size_t count, int column, char* out) {
  return FormatHexWith(HaveSsse3(), bytes, count, column, out);
}

std::size_t FormatHexPortable(const std::uint8_t* bytes, std::size_t count, int column, char* out) {
  return FormatHexWith(false, bytes, count, column, out);
}
