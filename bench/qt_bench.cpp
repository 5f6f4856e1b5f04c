// SPDX-License-Identifier: MIT
// Times QImageReader reading a 4096 x 4096 picture through the plugin built
// for this Qt against Qt's own PNG plugin reading the same picture saved as
// PNG, as a program reads them, and reads the peak memory of a program that
// reads a 16384 x 16384 picture at 256. Prints medians and ratios; exits 1
// when a target is missed, 2 when the benchmark itself cannot run.
//
// Usage: qtN_bench [runs]
//        qtN_bench --read-at-size FILE SIZE   (the program whose memory it reads)

#include <QImageReader>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "bench_main.h"
#include "bench_pictures.h"
#include "decoder.h"
#include "process_timing.h"

namespace {

constexpr int kDefaultRuns = 5;
constexpr int kSide = 4096;
constexpr int kLargeSide = 16384;
constexpr const char* kAtSize = "256";
constexpr double kMinSpeedupOverPng = 10.0;
constexpr long kMaxPeakKib = 32L * 1024;

QImage Read(const std::string& path, int size) {
  QImageReader reader(QString::fromStdString(path));
  if (size > 0) {
    const PictureSize fit = FitWithin(reader.size().width(), reader.size().height(), size);
    reader.setScaledSize(QSize(fit.width, fit.height));
  }
  QImage image = reader.read();
  if (image.isNull()) {
    throw std::runtime_error("Qt cannot read " + path + ": " + reader.errorString().toStdString());
  }
  return image;
}

double MedianReadMs(const std::string& path, int runs) {
  static_cast<void>(Read(path, 0));  // warm the page cache
  std::vector<double> times(static_cast<std::size_t>(runs));
  for (double& time : times) {
    const auto start = std::chrono::steady_clock::now();
    static_cast<void>(Read(path, 0));
    time = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  }
  return Median(times);
}

bool RunBenchmark(const std::string& dir, const std::string& self, int runs) {
  const std::string picture = dir + "/picture.rastel";
  const std::string png = dir + "/picture.png";
  WritePictureAndPng(picture, png, kSide, kSide);
  std::printf("Qt %s: QImageReader::read of a %d x %d picture, median of %d runs after one warm-up run\n\n", qVersion(),
              kSide, kSide, runs);
  const double ours = MedianReadMs(picture, runs);
  std::printf("%-36s %10.1f ms\n", "the plugin, the picture", ours);
  static_cast<void>(std::fflush(stdout));
  const double peer = MedianReadMs(png, runs);
  std::printf("%-36s %10.1f ms  %.1fx the plugin's time\n", "Qt's PNG plugin, as PNG", peer, peer / ours);

  const std::string large = dir + "/large.rastel";
  WritePictureAndPng(large, dir + "/large.png", kLargeSide, kLargeSide);
  const long peak = PeakKib({self, "--read-at-size", large, kAtSize});
  std::printf("\npeak memory of a program reading a %d x %d picture at %s: %ld KiB\n", kLargeSide, kLargeSide, kAtSize,
              peak);

  const bool fast = peer / ours >= kMinSpeedupOverPng;
  const bool small = peak != kUnmeasured && peak < kMaxPeakKib;
  std::printf("\ntargets:\n  %-44s %s\n  %-44s %s\n", "at least 10 times Qt's PNG plugin", fast ? "met" : "MISSED",
              "under 32 MiB at 256", small ? "met" : "MISSED");
  return fast && small;
}

}  // namespace

// The program whose memory is read finds the plugin as the benchmark does.
int main(int argc, char** argv) {
  setenv("QT_PLUGIN_PATH", QT_PLUGINS, 1);
  if (argc == 4 && std::string_view(argv[1]) == "--read-at-size") {
    int size = 0;
    if (!ParseNumber(argv[3], size)) {
      return 2;
    }
    try {
      static_cast<void>(Read(argv[2], size));
    } catch (const std::exception& error) {
      static_cast<void>(std::fprintf(stderr, "%s\n", error.what()));
      return 2;
    }
    return 0;
  }
  int runs = kDefaultRuns;
  if ((argc > 1 && !ParseNumber(argv[1], runs)) || runs <= 0 || argc > 2) {
    static_cast<void>(std::fprintf(stderr, "usage: qtN_bench [runs], at least 1\n"));
    return 2;
  }
  const std::string self = argv[0];
  return RunInNewFolder("qt_bench", [&](const std::string& dir) { return RunBenchmark(dir, self, runs); });
}
