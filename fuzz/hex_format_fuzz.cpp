// SPDX-License-Identifier: MIT
// bytel's formatter against the byte-at-a-time dump: the input's bytes are
// handed to it in reads of the sizes the input chooses, as a pipe might
// deliver them, on the processor's own path or the portable one. Each call
// gets a buffer of exactly the size it asks for, so a write past it is caught.
//
// Input: options, read-plan length, the read plan, then the bytes to dump.

#include <stdio.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "hex_format.h"
#include "hex_reference.h"

namespace {

constexpr std::size_t kControlBytes = 2;
constexpr std::size_t kMaxPlan = 16;
constexpr std::uint8_t kPortable = 0x01;  // options bit: the portable path

using Formatter = std::size_t (*)(const std::uint8_t*, std::size_t, int, char*);

std::string ByteAtATime(const std::uint8_t* bytes, std::size_t count) {
  std::vector<std::uint8_t> copy(bytes, bytes + count);
  copy.push_back(0);  // fmemopen wants a buffer even for no bytes
  std::FILE* in = fmemopen(copy.data(), count, "r");
  char* text = nullptr;
  std::size_t length = 0;
  std::FILE* out = open_memstream(&text, &length);
  if (in == nullptr || out == nullptr) {
    std::abort();
  }
  DumpByteAtATime(in, out);
  static_cast<void>(std::fclose(in));
  // The dump is complete only once its stream is closed.
  if (std::fclose(out) != 0) {
    std::abort();
  }
  std::string dump(text, length);
  std::free(text);
  return dump;
}

// A read plan of only empty reads would never end; the rest then comes in one.
std::string InReads(Formatter format, const std::vector<std::uint8_t>& plan, const std::uint8_t* bytes,
                    std::size_t count) {
  std::string dump;
  int column = 0;
  std::size_t done = 0;
  const bool some_read_grows = std::any_of(plan.begin(), plan.end(), [](std::uint8_t size) { return size > 0; });
  for (std::size_t next = 0; done < count; ++next) {
    std::size_t size = count - done;
    if (some_read_grows) {
      size = std::min<std::size_t>(size, plan[next % plan.size()]);
    }
    std::vector<char> out(FormattedSizeBound(size));
    const std::size_t length = format(bytes + done, size, column, out.data());
    if (length > out.size() - kFormatSlack) {
      static_cast<void>(std::fprintf(stderr, "hex_format_fuzz: %zu characters for %zu bytes\n", length, size));
      std::abort();
    }
    dump.append(out.data(), length);
    column = NextColumn(column, size);
    done += size;
  }
  return dump + "\n";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < kControlBytes) {
    return 0;
  }
  const Formatter format = (data[0] & kPortable) != 0 ? FormatHexPortable : FormatHex;
  const std::size_t plan_size = std::min<std::size_t>(data[1] % (kMaxPlan + 1), size - kControlBytes);
  const std::vector<std::uint8_t> plan(data + kControlBytes, data + kControlBytes + plan_size);
  const std::uint8_t* const bytes = data + kControlBytes + plan_size;
  const std::size_t count = size - kControlBytes - plan_size;
  if (InReads(format, plan, bytes, count) != ByteAtATime(bytes, count)) {
    static_cast<void>(std::fprintf(stderr, "hex_format_fuzz: the dump differs from the byte-at-a-time one\n"));
    std::abort();
  }
  return 0;
}
