// SPDX-License-Identifier: MIT
// Times gdk-pixbuf reading a 4096 x 4096 picture through the loader against
// gdk-pixbuf's own PNG loader reading the same picture saved as PNG, as a
// program reads them (gdk_pixbuf_new_from_file), and reads the peak memory
// of a program that loads a 16384 x 16384 picture at 256, through the
// loader and as PNG. Prints medians and ratios; exits 1 when a target is
// missed, 2 when the benchmark itself cannot run.
//
// Usage: pixbuf_bench [runs]
//        pixbuf_bench --load-at-size FILE SIZE   (the program whose memory it reads)

#include <gdk-pixbuf/gdk-pixbuf.h>

#include <chrono>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "bench_main.h"
#include "bench_pictures.h"
#include "pixbuf_cache.h"
#include "process_timing.h"

namespace {

constexpr int kDefaultRuns = 5;
constexpr int kSide = 4096;
constexpr int kLargeSide = 16384;
constexpr const char* kAtSize = "256";
constexpr double kMinSpeedupOverPng = 5.0;
constexpr long kMaxPeakKib = 32L * 1024;

GdkPixbuf* Load(const std::string& path, int size) {
  GError* error = nullptr;
  GdkPixbuf* const pixbuf = size > 0 ? gdk_pixbuf_new_from_file_at_size(path.c_str(), size, size, &error)
                                     : gdk_pixbuf_new_from_file(path.c_str(), &error);
  if (pixbuf == nullptr) {
    const std::string message = error != nullptr ? error->message : "no error given";
    g_clear_error(&error);
    throw std::runtime_error("gdk-pixbuf cannot read " + path + ": " + message);
  }
  return pixbuf;
}

double MedianLoadMs(const std::string& path, int runs) {
  g_object_unref(Load(path, 0));  // warm the page cache
  std::vector<double> times(static_cast<std::size_t>(runs));
  for (double& time : times) {
    const auto start = std::chrono::steady_clock::now();
    GdkPixbuf* const pixbuf = Load(path, 0);
    const auto stop = std::chrono::steady_clock::now();
    g_object_unref(pixbuf);
    time = std::chrono::duration<double, std::milli>(stop - start).count();
  }
  return Median(times);
}

bool RunBenchmark(const std::string& dir, const std::string& self, int runs) {
  const std::string picture = dir + "/picture.rastel";
  const std::string png = dir + "/picture.png";
  WritePictureAndPng(picture, png, kSide, kSide);
  std::printf("gdk_pixbuf_new_from_file of a %d x %d picture, median of %d runs after one warm-up run\n\n", kSide,
              kSide, runs);
  const double ours = MedianLoadMs(picture, runs);
  std::printf("%-36s %10.1f ms\n", "the loader, the picture", ours);
  static_cast<void>(std::fflush(stdout));
  const double peer = MedianLoadMs(png, runs);
  std::printf("%-36s %10.1f ms  %.1fx the loader's time\n", "gdk-pixbuf's PNG loader, as PNG", peer, peer / ours);

  const std::string large = dir + "/large.rastel";
  const std::string large_png = dir + "/large.png";
  WritePictureAndPng(large, large_png, kLargeSide, kLargeSide);
  const long ours_peak = PeakKib({self, "--load-at-size", large, kAtSize});
  const long peer_peak = PeakKib({self, "--load-at-size", large_png, kAtSize});
  std::printf("\npeak memory of a program loading a %d x %d picture at %s:\n", kLargeSide, kLargeSide, kAtSize);
  std::printf("%-36s %10ld KiB\n%-36s %10ld KiB\n", "the loader, the picture", ours_peak,
              "gdk-pixbuf's PNG loader, as PNG", peer_peak);

  const bool fast = peer / ours >= kMinSpeedupOverPng;
  const bool small = ours_peak != kUnmeasured && ours_peak < kMaxPeakKib;
  std::printf("\ntargets:\n  %-44s %s\n  %-44s %s\n", "at least 5 times the PNG loader", fast ? "met" : "MISSED",
              "under 32 MiB at 256", small ? "met" : "MISSED");
  return fast && small;
}

}  // namespace

// The program whose memory is read inherits the loaders' cache and the file
// type from the benchmark.
int main(int argc, char** argv) {
  if (argc == 4 && std::string_view(argv[1]) == "--load-at-size") {
    int size = 0;
    if (!ParseNumber(argv[3], size)) {
      return 2;
    }
    g_object_unref(Load(argv[2], size));
    return 0;
  }
  int runs = kDefaultRuns;
  if ((argc > 1 && !ParseNumber(argv[1], runs)) || runs <= 0 || argc > 2) {
    static_cast<void>(std::fprintf(stderr, "usage: pixbuf_bench [runs], at least 1\n"));
    return 2;
  }
  const std::string self = argv[0];
  return RunInNewFolder("pixbuf_bench", [&](const std::string& dir) {
    UseBuiltLoader(dir + "/loaders.cache", MIME_DATA_DIR);
    return RunBenchmark(dir, self, runs);
  });
}
