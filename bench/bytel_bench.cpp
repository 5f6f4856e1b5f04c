// SPDX-License-Identifier: MIT
// Times bytel against other hex dumpers and against cat of the finished dump
// (the cost of just reading and writing that many bytes), all writing to
// /dev/null, and prints medians, ratios and peak memory. Exits 1 when a
// target is missed, 2 when the benchmark itself cannot run.
//
// Usage: bytel_bench [runs] [MiB]

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench_main.h"
#include "process_timing.h"

namespace {

constexpr int kDefaultRuns = 5;
constexpr long kDefaultMebibytes = 64;
constexpr double kMinSpeedupOverXxd = 25.0;
constexpr double kMaxRatioToCat = 2.0;
constexpr long kMaxPeakKib = 8L * 1024;
constexpr std::uintmax_t kLargeFileBytes = std::uintmax_t{1} << 30;

struct Peer {
  const char* name;
  std::vector<std::string> argv;
};

// Rows of the table that the targets compare.
constexpr std::size_t kBytelRow = 0;
constexpr std::size_t kCatRow = 1;
constexpr std::size_t kXxdRow = 2;

void WriteRandomFile(const std::string& path, long mebibytes) {
  std::mt19937_64 generator(20261208);
  std::vector<std::uint64_t> block(std::size_t{1024} * 1024 / sizeof(std::uint64_t));
  std::ofstream file(path, std::ios::binary);
  for (long i = 0; i < mebibytes; ++i) {
    std::generate(block.begin(), block.end(), generator);
    file.write(reinterpret_cast<const char*>(block.data()),
               static_cast<std::streamsize>(block.size() * sizeof(block[0])));
  }
}

bool SameContents(const std::string& a, const std::string& b) {
  std::ifstream first(a, std::ios::binary);
  std::ifstream second(b, std::ios::binary);
  return std::equal(std::istreambuf_iterator<char>(first), std::istreambuf_iterator<char>(),
                    std::istreambuf_iterator<char>(second), std::istreambuf_iterator<char>());
}

bool Check(const char* what, bool met) {
  std::printf("  %-44s %s\n", what, met ? "met" : "MISSED");
  return met;
}

bool PeakWithinTarget(long peak_kib) { return peak_kib != kUnmeasured && peak_kib < kMaxPeakKib; }

// Returns whether every target was met.
bool RunBenchmark(const std::string& dir, int runs, long mebibytes) {
  const std::string input = dir + "/random.bin";
  const std::string expected = dir + "/expected.txt";
  const std::string actual = dir + "/actual.txt";
  WriteRandomFile(input, mebibytes);
  RunOnce({BYTEL_REFERENCE, input}, expected);
  RunOnce({BYTEL, input}, actual);
  if (!SameContents(expected, actual)) {
    throw std::runtime_error("bytel's output differs from the byte-at-a-time reference");
  }

  const std::vector<Peer> peers = {
      {"bytel", {BYTEL, input}},
      {"cat (limit)", {"cat", expected}},
      {"xxd -c8 -g1", {"xxd", "-c8", "-g1", input}},
      {"od -An -tx1 -w8 -v", {"od", "-An", "-tx1", "-w8", "-v", input}},
      {"hexdump -v -e '8/1 \"%02x \" \"\\n\"'", {"hexdump", "-v", "-e", "8/1 \"%02x \" \"\\n\"", input}},
      {"byte-at-a-time reference", {BYTEL_REFERENCE, input}},
  };
  std::printf("%ld MiB of random bytes, median of %d runs each, output to /dev/null\n\n", mebibytes, runs);
  std::printf("%-40s %10s %12s %14s\n", "command", "median ms", "x bytel", "peak KiB");
  std::vector<Timing> timings;
  for (const Peer& peer : peers) {
    timings.push_back(Measure(peer.argv, runs));
    const Timing& t = timings.back();
    std::printf("%-40s %10.1f %12.2f %14ld\n", peer.name, t.median_ms, t.median_ms / timings[kBytelRow].median_ms,
                t.peak_kib);
    static_cast<void>(std::fflush(stdout));
  }

  // A sparse file costs nothing to make and shows that memory does not grow
  // with the input.
  const std::string large = dir + "/sparse.bin";
  std::ofstream(large).close();
  std::filesystem::resize_file(large, kLargeFileBytes);
  const long large_peak_kib = PeakKib({BYTEL, large});
  std::printf("\nbytel's peak on a %ju MiB sparse file: %ld KiB\n", kLargeFileBytes >> 20, large_peak_kib);

  const double bytel_ms = timings[kBytelRow].median_ms;
  std::printf("\ntargets:\n");
  bool met = Check("at least 25 times faster than xxd", timings[kXxdRow].median_ms / bytel_ms >= kMinSpeedupOverXxd);
  met = Check("at most 2 times the time of cat", bytel_ms / timings[kCatRow].median_ms <= kMaxRatioToCat) && met;
  met = Check("peak memory under 8 MiB",
              PeakWithinTarget(timings[kBytelRow].peak_kib) && PeakWithinTarget(large_peak_kib)) &&
        met;
  return met;
}

}  // namespace

int main(int argc, char** argv) {
  int runs = kDefaultRuns;
  long mebibytes = kDefaultMebibytes;
  if ((argc > 1 && !ParseNumber(argv[1], runs)) || (argc > 2 && !ParseNumber(argv[2], mebibytes)) || runs <= 0 ||
      mebibytes <= 0) {
    static_cast<void>(std::fprintf(stderr, "usage: bytel_bench [runs] [MiB], both at least 1\n"));
    return 2;
  }
  return RunInNewFolder("bytel_bench", [&](const std::string& dir) { return RunBenchmark(dir, runs, mebibytes); });
}
