// SPDX-License-Identifier: MIT
// Times DrawScreen against the one-pixel-at-a-time chain on a 4096 x 4096
// picture read from a file, on 8-bit and 32-bit software surfaces, and
// against the limit: the same bytes read straight into the 8-bit surface with
// one fread a row. Prints medians and ratios; exits 1 when a target is
// missed, 2 when the benchmark itself cannot run.
//
// Usage: render_bench [runs]

#include <SDL.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "image_format.h"
#include "render.h"
#include "render_reference.h"

namespace {

constexpr int kDefaultRuns = 5;
constexpr int kSide = 4096;
constexpr double kMinSpeedupOverChain = 50.0;
constexpr double kMaxRatioToLimit = 2.0;

struct SurfaceDeleter {
  void operator()(SDL_Surface* surface) const { SDL_FreeSurface(surface); }
};
using Surface = std::unique_ptr<SDL_Surface, SurfaceDeleter>;

using Draw = std::function<void(SDL_Surface*, std::FILE*)>;

// The palette SDL gives an 8-bit display on a true-colour screen: 3-3-2 with
// the low bits filled, so that no decoded colour matches an entry exactly
// and SDL_MapRGB searches the whole of it, as it does in the viewer.
void SetDisplayPalette(SDL_Surface* surface) {
  SDL_Color colours[256];
  for (int i = 0; i < 256; ++i) {
    const int red = i & 0xE0;
    const int green = (i << 3) & 0xE0;
    const int blue = (i & 0x03) * 0x55;
    colours[i] = {static_cast<Uint8>(red | red >> 3 | red >> 6), static_cast<Uint8>(green | green >> 3 | green >> 6),
                  static_cast<Uint8>(blue), 0};
  }
  SDL_SetColors(surface, colours, 0, 256);
}

Surface MakeSurface(int bits_per_pixel) {
  const bool wide = bits_per_pixel == 32;
  Surface surface(SDL_CreateRGBSurface(SDL_SWSURFACE, kSide, kSide, bits_per_pixel, wide ? 0xFF0000 : 0,
                                       wide ? 0x00FF00 : 0, wide ? 0x0000FF : 0, 0));
  if (!surface) {
    throw std::runtime_error(std::string("SDL_CreateRGBSurface: ") + SDL_GetError());
  }
  if (!wide) {
    SetDisplayPalette(surface.get());
  }
  return surface;
}

void WritePicture(const std::string& path) {
  std::vector<char> bytes(static_cast<std::size_t>(kSide) * kSide);
  std::mt19937 random(1);
  std::generate(bytes.begin(), bytes.end(), [&] { return static_cast<char>(random()); });
  std::ofstream file(path, std::ios::binary);
  const std::uint32_t fields[] = {kMagic, kSide, kSide};
  for (const std::uint32_t field : fields) {
    for (int shift = 0; shift < 32; shift += 8) {
      file.put(static_cast<char>(field >> shift));
    }
  }
  file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!file) {
    throw std::runtime_error("cannot write " + path);
  }
}

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

// Opening the file and skipping the header are outside the time, as in the
// viewer, where main has done both before it draws.
double TimeOnce(const std::string& path, SDL_Surface* surface, const Draw& draw) {
  std::FILE* stream = std::fopen(path.c_str(), "r");
  if (stream == nullptr || std::fseek(stream, kHeaderSize, SEEK_SET) != 0) {
    throw std::runtime_error("cannot open " + path);
  }
  const auto start = std::chrono::steady_clock::now();
  draw(surface, stream);
  const auto stop = std::chrono::steady_clock::now();
  static_cast<void>(std::fclose(stream));
  return std::chrono::duration<double, std::milli>(stop - start).count();
}

// One warm-up run fills the page cache.
double MedianMs(const std::string& path, SDL_Surface* surface, const Draw& draw, int runs) {
  TimeOnce(path, surface, draw);
  std::vector<double> times(static_cast<std::size_t>(runs));
  for (double& time : times) {
    time = TimeOnce(path, surface, draw);
  }
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

const char* EightBitPath() {
  return HaveVbmi() ? "AVX-512 VBMI permutes" : "the table of byte pairs (no AVX-512 VBMI here)";
}

bool SamePixels(const SDL_Surface* a, const SDL_Surface* b) {
  const std::size_t size = static_cast<std::size_t>(a->pitch) * a->h;
  return std::memcmp(a->pixels, b->pixels, size) == 0;
}

// The whole text as a decimal number, so that a slip such as "1O" is refused
// rather than taken as a smaller count.
bool ParseNumber(std::string_view text, int& value) {
  const char* const end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  return error == std::errc{} && stop == end;
}

bool RunBenchmark(const std::string& path, int runs) {
  WritePicture(path);
  const Draw draw_screen = [](SDL_Surface* surface, std::FILE* stream) { DrawScreen(surface, stream); };
  const Surface fast8 = MakeSurface(8);
  const Surface slow8 = MakeSurface(8);
  const Surface fast32 = MakeSurface(32);
  const Surface slow32 = MakeSurface(32);

  std::printf("%d x %d picture, median of %d runs after one warm-up run\n", kSide, kSide, runs);
  std::printf("8-bit rows are drawn with %s\n\n", EightBitPath());
  std::printf("%-34s %10s %10s\n", "", "8-bit ms", "32-bit ms");
  const double limit8 = MedianMs(path, fast8.get(), ReadStraightIn, runs);
  std::printf("%-34s %10.1f %10s\n", "fread per row into the surface", limit8, "-");
  const double fast8_ms = MedianMs(path, fast8.get(), draw_screen, runs);
  const double fast32_ms = MedianMs(path, fast32.get(), draw_screen, runs);
  std::printf("%-34s %10.1f %10.1f\n", "DrawScreen", fast8_ms, fast32_ms);
  static_cast<void>(std::fflush(stdout));
  const double slow8_ms = MedianMs(path, slow8.get(), DrawPixelByPixel, runs);
  const double slow32_ms = MedianMs(path, slow32.get(), DrawPixelByPixel, runs);
  std::printf("%-34s %10.1f %10.1f\n", "fread and DrawByte per pixel", slow8_ms, slow32_ms);

  if (!SamePixels(fast8.get(), slow8.get()) || !SamePixels(fast32.get(), slow32.get())) {
    std::printf("\nDrawScreen's pixels differ from the per-pixel chain's\n");
    return false;
  }
  const double speedup = slow8_ms / fast8_ms;
  const double to_limit = fast8_ms / limit8;
  std::printf("\n8-bit: DrawScreen is %.0fx faster than the per-pixel chain (target at least %.0fx)\n", speedup,
              kMinSpeedupOverChain);
  std::printf("8-bit: DrawScreen takes %.2fx the limit's time (target at most %.0fx)\n", to_limit, kMaxRatioToLimit);
  std::printf("32-bit: DrawScreen is %.0fx faster than the per-pixel chain\n", slow32_ms / fast32_ms);
  const bool met = speedup >= kMinSpeedupOverChain && to_limit <= kMaxRatioToLimit;
  std::printf("%s\n", met ? "Targets met." : "TARGET MISSED.");
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
  char path[] = "/tmp/render-bench.XXXXXX";
  const int fd = mkstemp(path);
  if (fd < 0) {
    std::perror("render_bench: mkstemp");
    SDL_Quit();
    return 2;
  }
  close(fd);
  int status = 2;
  try {
    status = RunBenchmark(path, runs) ? 0 : 1;
  } catch (const std::exception& error) {
    static_cast<void>(std::fprintf(stderr, "render_bench: %s\n", error.what()));
  }
  static_cast<void>(std::remove(path));
  SDL_Quit();
  return status;
}
