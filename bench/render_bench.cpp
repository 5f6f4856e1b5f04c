// SPDX-License-Identifier: MIT
// Times DrawScreen against the one-pixel-at-a-time chain on a 4096 x 4096
// picture read from a file, on 8-bit and 32-bit software surfaces, and
// against the limit: the same bytes read straight into the 8-bit surface with
// one fread a row. Prints medians and ratios; exits 1 when the target is
// missed, 2 when the benchmark itself cannot run.
//
// Usage: render_bench [runs]

#include <SDL.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "bench_main.h"
#include "draw_timing.h"
#include "render.h"
#include "render_reference.h"

namespace {

constexpr int kDefaultRuns = 5;
constexpr int kSide = 4096;
constexpr double kMinSpeedupOverChain = 50.0;

// How fast the bytes can get into the surface at all.
void ReadStraightIn(SDL_Surface* surface, std::FILE* stream) {
  for (int y = surface->h - 1; y >= 0; --y) {
    const auto width = static_cast<std::size_t>(surface->w);
    Uint8* const row = static_cast<Uint8*>(surface->pixels) + static_cast<std::ptrdiff_t>(y) * surface->pitch;
    if (std::fread(row, 1, width, stream) != width) {
      // A limit measured on fewer bytes than the others read would mislead.
      static_cast<void>(std::fprintf(stderr, "render_bench: the picture file ended early\n"));
      std::exit(1);
    }
  }
}

bool SamePixels(const SDL_Surface* a, const SDL_Surface* b) {
  const std::size_t size = static_cast<std::size_t>(a->pitch) * a->h;
  return std::memcmp(a->pixels, b->pixels, size) == 0;
}

bool RunBenchmark(const std::string& path, int runs) {
  WritePicture(path, kSide, kSide, RandomPixels(kSide, kSide));
  const Draw draw_screen = [](SDL_Surface* surface, std::FILE* stream) { DrawScreen(surface, stream); };
  const Surface fast8 = MakeSurface(kSide, kSide, 8);
  const Surface slow8 = MakeSurface(kSide, kSide, 8);
  const Surface fast32 = MakeSurface(kSide, kSide, 32);
  const Surface slow32 = MakeSurface(kSide, kSide, 32);

  std::printf("%d x %d picture, median of %d runs after one warm-up run\n\n", kSide, kSide, runs);
  std::printf("%-34s %10s %10s\n", "", "8-bit ms", "32-bit ms");
  const double limit8 = MedianDrawMs(path, fast8.get(), ReadStraightIn, runs);
  std::printf("%-34s %10.1f %10s\n", "fread per row into the surface", limit8, "-");
  const double fast8_ms = MedianDrawMs(path, fast8.get(), draw_screen, runs);
  const double fast32_ms = MedianDrawMs(path, fast32.get(), draw_screen, runs);
  std::printf("%-34s %10.1f %10.1f\n", "DrawScreen", fast8_ms, fast32_ms);
  static_cast<void>(std::fflush(stdout));
  const double slow8_ms = MedianDrawMs(path, slow8.get(), DrawPixelByPixel, runs);
  const double slow32_ms = MedianDrawMs(path, slow32.get(), DrawPixelByPixel, runs);
  std::printf("%-34s %10.1f %10.1f\n", "fread and DrawByte per pixel", slow8_ms, slow32_ms);

  if (!SamePixels(fast8.get(), slow8.get()) || !SamePixels(fast32.get(), slow32.get())) {
    std::printf("\nDrawScreen's pixels differ from the per-pixel chain's\n");
    return false;
  }
  const double speedup = slow8_ms / fast8_ms;
  const double to_limit = fast8_ms / limit8;
  std::printf("\n8-bit: DrawScreen is %.0fx faster than the per-pixel chain (target at least %.0fx)\n", speedup,
              kMinSpeedupOverChain);
  std::printf("8-bit: DrawScreen takes %.2fx the limit's time\n", to_limit);
  std::printf("32-bit: DrawScreen is %.0fx faster than the per-pixel chain\n", slow32_ms / fast32_ms);
  const bool met = speedup >= kMinSpeedupOverChain;
  std::printf("%s\n", met ? "Target met." : "TARGET MISSED.");
  return met;
}

}  // namespace

int main(int argc, char** argv) {
  int runs = kDefaultRuns;
  if ((argc > 1 && !ParseNumber(argv[1], runs)) || runs <= 0 || argc > 2) {
    static_cast<void>(std::fprintf(stderr, "usage: render_bench [runs], at least 1\n"));
    return 2;
  }
  // DrawScreen flips the surface, which needs SDL's video subsystem; the
  // dummy driver needs no display.
  setenv("SDL_VIDEODRIVER", "dummy", 1);
  if (SDL_Init(SDL_INIT_VIDEO) < 0) {
    static_cast<void>(std::fprintf(stderr, "render_bench: SDL_Init: %s\n", SDL_GetError()));
    return 2;
  }
  const int status =
      RunInNewFolder("render_bench", [&](const std::string& dir) { return RunBenchmark(dir + "/picture", runs); });
  SDL_Quit();
  return status;
}
