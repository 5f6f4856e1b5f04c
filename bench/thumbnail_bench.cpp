// SPDX-License-Identifier: MIT
// Times rastel-thumbnailer making a thumbnail at 256 of a 4096 x 4096 and of
// a 16384 x 16384 picture against gdk-pixbuf-thumbnailer making one of the
// same pictures saved as PNG, where the release has it, and reads each one's
// peak memory. Prints medians and ratios; exits 1 when a target is missed,
// 2 when the benchmark itself cannot run.
//
// Usage: thumbnail_bench [runs]

#include <array>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "bench_main.h"
#include "bench_pictures.h"
#include "process_timing.h"

namespace {

constexpr int kDefaultRuns = 3;
constexpr std::array<int, 2> kSides = {4096, 16384};
constexpr const char* kThumbnailSize = "256";
constexpr long kMaxPeakKib = 32L * 1024;

bool RunBenchmark(const std::string& dir, int runs) {
  const bool has_peer = !std::string_view(GDK_PIXBUF_THUMBNAILER).empty();
  std::printf("thumbnails at %s pixels, median of %d runs after one warm-up run\n\n", kThumbnailSize, runs);
  std::printf("%-14s %-34s %10s %10s %12s\n", "picture", "command", "median ms", "x ours", "peak KiB");
  bool ahead = true;
  bool small = true;
  for (const int side : kSides) {
    const std::string name = std::to_string(side) + " x " + std::to_string(side);
    const std::string picture = dir + "/picture.rastel";
    const std::string png = dir + "/picture.png";
    WritePictureAndPng(picture, png, side, side);
    const Timing ours = Measure({RASTEL_THUMBNAILER, "-s", kThumbnailSize, picture, dir + "/ours.png"}, runs);
    std::printf("%-14s %-34s %10.1f %10.2f %12ld\n", name.c_str(), "rastel-thumbnailer, the picture", ours.median_ms,
                1.0, ours.peak_kib);
    static_cast<void>(std::fflush(stdout));
    small = small && ours.peak_kib != kUnmeasured && ours.peak_kib < kMaxPeakKib;
    if (has_peer) {
      const Timing peer = Measure({GDK_PIXBUF_THUMBNAILER, "-s", kThumbnailSize, png, dir + "/peer.png"}, runs);
      std::printf("%-14s %-34s %10.1f %10.2f %12ld\n", "", "gdk-pixbuf-thumbnailer, as PNG", peer.median_ms,
                  peer.median_ms / ours.median_ms, peer.peak_kib);
      ahead = ahead && ours.median_ms < peer.median_ms;
    }
  }
  std::printf("\ntargets:\n");
  if (has_peer) {
    std::printf("  %-48s %s\n", "faster than gdk-pixbuf-thumbnailer at each size", ahead ? "met" : "MISSED");
  } else {
    std::printf("  %-48s %s\n", "faster than gdk-pixbuf-thumbnailer", "not measured: this release has none");
  }
  std::printf("  %-48s %s\n", "peak memory under 32 MiB at each size", small ? "met" : "MISSED");
  return ahead && small;
}

}  // namespace

int main(int argc, char** argv) {
  int runs = kDefaultRuns;
  if ((argc > 1 && !ParseNumber(argv[1], runs)) || runs <= 0 || argc > 2) {
    static_cast<void>(std::fprintf(stderr, "usage: thumbnail_bench [runs], at least 1\n"));
    return 2;
  }
  return RunInNewFolder("thumbnail_bench", [&](const std::string& dir) { return RunBenchmark(dir, runs); });
}
