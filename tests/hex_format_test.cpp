// SPDX-License-Identifier: MIT
// The program reads whatever a read() returns, so a line can be split
// anywhere between two calls; and the vector path only runs where the
// processor has it. Both must give the same text as one plain pass.

#include "hex_format.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

// Each call gets a buffer of exactly the documented size, so the
// sanitizers catch a store past it.
std::string Format(const std::vector<std::uint8_t>& bytes, std::size_t begin, std::size_t end, int column,
                   bool portable) {
  std::vector<char> out(FormattedSizeBound(end - begin));
  const std::size_t length = portable ? FormatHexPortable(bytes.data() + begin, end - begin, column, out.data())
                                      : FormatHex(bytes.data() + begin, end - begin, column, out.data());
  return {out.data(), length};
}

TEST(FormatHex, AnySplitGivesTheTextOfOnePass) {
  std::mt19937 generator(7);
  std::vector<std::uint8_t> bytes(100);
  for (std::uint8_t& byte : bytes) {
    byte = static_cast<std::uint8_t>(generator());
  }
  const std::string whole = Format(bytes, 0, bytes.size(), 0, true);
  for (const bool portable : {true, false}) {
    for (std::size_t first = 0; first <= bytes.size(); ++first) {
      for (std::size_t second = first; second <= bytes.size(); ++second) {
        const int column_one = NextColumn(0, first);
        const int column_two = NextColumn(column_one, second - first);
        const std::string pieces = Format(bytes, 0, first, 0, portable) +
                                   Format(bytes, first, second, column_one, portable) +
                                   Format(bytes, second, bytes.size(), column_two, portable);
        ASSERT_EQ(pieces, whole) << "split at " << first << " and " << second << (portable ? " (portable)" : "");
      }
    }
  }
}

}  // namespace
