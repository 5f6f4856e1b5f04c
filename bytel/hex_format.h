// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <cstdint>

inline constexpr int kBytesPerLine = 8;
inline constexpr std::size_t kCharsPerByte = 3;  // two hex digits and a space

// The formatters store whole words and 16-byte vectors, so they may write up
// to this many characters past the end of what they return.
inline constexpr std::size_t kFormatSlack = 7;

// The extra newline ends a line that an earlier call began.
constexpr std::size_t FormattedSizeBound(std::size_t count) {
  return count * kCharsPerByte + count / kBytesPerLine + 1 + kFormatSlack;
}

constexpr int NextColumn(int column, std::size_t count) {
  return static_cast<int>((static_cast<std::size_t>(column) + count) % kBytesPerLine);
}

// Writes each byte as "xx " with a newline after the eighth group of a line.
// `column` is the number of groups the current line already holds. Returns
// the number of characters written; `out` must hold FormattedSizeBound(count).
// Uses SSSE3 where the processor has it.
std::size_t FormatHex(const std::uint8_t* bytes, std::size_t count, int column, char* out);

// The same output from plain C++, as used on processors without SSSE3.
std::size_t FormatHexPortable(const std::uint8_t* bytes, std::size_t count, int column, char* out);
