// SPDX-License-Identifier: MIT
// The renderer on software surfaces of every depth, fed from memory.

#include "render.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "image_format.h"
#include "render_reference.h"
#include "test_support.h"

namespace {

constexpr Uint8 kUntouched = 0xA5;

// The renderer's calls to lock, unlock and flip come here first (the test is
// linked with --wrap), to be counted; with `stand_in` set, the lock and
// unlock are not passed on, and the lock returns `lock_result`.
struct SurfaceCalls {
  int locks = 0;
  int unlocks = 0;
  int flips = 0;
  bool stand_in = false;
  int lock_result = 0;
};
SurfaceCalls calls;

}  // namespace

// The names that the linker's --wrap gives the stand-ins and the real calls.
// NOLINTBEGIN(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp)
extern "C" {
int __real_SDL_LockSurface(SDL_Surface* surface);
void __real_SDL_UnlockSurface(SDL_Surface* surface);
int __real_SDL_Flip(SDL_Surface* surface);

int __wrap_SDL_LockSurface(SDL_Surface* surface) {
  ++calls.locks;
  return calls.stand_in ? calls.lock_result : __real_SDL_LockSurface(surface);
}
void __wrap_SDL_UnlockSurface(SDL_Surface* surface) {
  ++calls.unlocks;
  if (!calls.stand_in) {
    __real_SDL_UnlockSurface(surface);
  }
}
int __wrap_SDL_Flip(SDL_Surface* surface) {
  ++calls.flips;
  return __real_SDL_Flip(surface);
}
}
// NOLINTEND(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp)

namespace {

// SDL_Flip needs the video subsystem; the dummy driver needs no display.
class DummyVideo : public ::testing::Environment {
 public:
  void SetUp() override {
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    ASSERT_EQ(SDL_Init(SDL_INIT_VIDEO), 0);
  }
  void TearDown() override { SDL_Quit(); }
};
// GoogleTest takes an environment before main; should that throw, the test
// program ends, as it then must.
const auto* const kVideo = ::testing::AddGlobalTestEnvironment(new DummyVideo);  // NOLINT(cert-err58-cpp)

using Surface = std::unique_ptr<SDL_Surface, decltype([](SDL_Surface* surface) { SDL_FreeSurface(surface); })>;
using Stream = std::unique_ptr<std::FILE, decltype([](std::FILE* stream) { static_cast<void>(std::fclose(stream)); })>;

// 8-bit surfaces get a palette of random colours, so that mapping is a real
// search; the wider ones have an alpha mask, so that every byte of a pixel
// value is non-zero for bright colours.
Surface MakeSurface(int width, int height, int bytes_per_pixel, unsigned seed = 1) {
  const ChannelMasks masks = MasksFor(bytes_per_pixel);
  Surface surface(SDL_CreateRGBSurface(SDL_SWSURFACE, width, height, bytes_per_pixel * 8, masks.red, masks.green,
                                       masks.blue, masks.alpha));
  if (bytes_per_pixel == 1) {
    std::mt19937 random(seed);
    SDL_Color colours[256];
    for (SDL_Color& colour : colours) {
      colour = {static_cast<Uint8>(random()), static_cast<Uint8>(random()), static_cast<Uint8>(random()), 0};
    }
    SDL_SetColors(surface.get(), colours, 0, 256);
  }
  std::memset(surface->pixels, kUntouched, static_cast<std::size_t>(surface->pitch) * surface->h);
  return surface;
}

std::vector<Uint8> Memory(const SDL_Surface* surface) {
  const auto* begin = static_cast<const Uint8*>(surface->pixels);
  return {begin, begin + static_cast<std::size_t>(surface->pitch) * surface->h};
}

std::vector<Uint8> PixelBytes(const SDL_Surface* surface, int x, int y) {
  const auto* at = static_cast<const Uint8*>(surface->pixels) + std::ptrdiff_t{y} * surface->pitch +
                   std::ptrdiff_t{x} * surface->format->BytesPerPixel;
  return {at, at + surface->format->BytesPerPixel};
}

// The bytes of the mapped colour, least significant first.
std::vector<Uint8> Mapped(const SDL_Surface* surface, Uint8 red, Uint8 green, Uint8 blue) {
  const Uint32 value = SDL_MapRGB(surface->format, red, green, blue);
  std::vector<Uint8> bytes(surface->format->BytesPerPixel);
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    bytes[i] = static_cast<Uint8>(value >> (8 * i));
  }
  return bytes;
}

Stream MemoryStream(std::string& bytes) { return Stream(fmemopen(bytes.data(), bytes.size(), "r")); }

TEST(RenderTest, DecodesRgb332WithTheLowBitsZero) {
  struct Case {
    Uint8 byte;
    Uint8 red, green, blue;
  };
  const Case cases[] = {{0x00, 0, 0, 0},       {0xE0, 224, 0, 0},  {0x1C, 0, 224, 0},    {0x03, 0, 0, 192},
                        {0xFF, 224, 224, 192}, {0x49, 64, 64, 64}, {0x92, 128, 128, 128}};
  const Surface surface = MakeSurface(1, 1, 4);
  for (const Case& c : cases) {
    DrawByte(surface.get(), 0, 0, c.byte);
    EXPECT_EQ(PixelBytes(surface.get(), 0, 0), (std::vector<Uint8>{c.blue, c.green, c.red, 0xFF}))
        << "byte " << int{c.byte};
  }
}

TEST(RenderTest, DrawsTheFileBottomRowFirst) {
  for (int bytes_per_pixel = 1; bytes_per_pixel <= 4; ++bytes_per_pixel) {
    const Surface surface = MakeSurface(2, 2, bytes_per_pixel);
    std::string bytes = "\xE0\x1C\x03\xFF";
    const Stream stream = MemoryStream(bytes);
    DrawScreen(surface.get(), stream.get());
    EXPECT_EQ(PixelBytes(surface.get(), 0, 1), Mapped(surface.get(), 224, 0, 0)) << bytes_per_pixel;
    EXPECT_EQ(PixelBytes(surface.get(), 1, 1), Mapped(surface.get(), 0, 224, 0)) << bytes_per_pixel;
    EXPECT_EQ(PixelBytes(surface.get(), 0, 0), Mapped(surface.get(), 0, 0, 192)) << bytes_per_pixel;
    EXPECT_EQ(PixelBytes(surface.get(), 1, 0), Mapped(surface.get(), 224, 224, 192)) << bytes_per_pixel;
  }
}

TEST(RenderTest, StoresTheLeastSignificantByteFirstAndNothingBeyondThePixel) {
  for (int bytes_per_pixel = 1; bytes_per_pixel <= 4; ++bytes_per_pixel) {
    const Surface surface = MakeSurface(3, 3, bytes_per_pixel);
    DrawPixel(surface.get(), 1, 1, 224, 224, 192);
    std::vector<Uint8> expected(Memory(surface.get()).size(), kUntouched);
    const std::vector<Uint8> pixel = Mapped(surface.get(), 224, 224, 192);
    std::copy(pixel.begin(), pixel.end(), expected.begin() + surface->pitch + bytes_per_pixel);
    EXPECT_EQ(Memory(surface.get()), expected) << bytes_per_pixel << " bytes per pixel";
  }
}

TEST(RenderTest, PixelsPastTheEndOfTheStreamTakeTheLastByteRead) {
  for (int bytes_per_pixel = 1; bytes_per_pixel <= 4; ++bytes_per_pixel) {
    const Surface only_bottom = MakeSurface(3, 4, bytes_per_pixel);
    std::string bottom_row = "\x03\xE0\x1C";
    const Stream bottom_stream = MemoryStream(bottom_row);
    DrawScreen(only_bottom.get(), bottom_stream.get());
    for (int y = 0; y < 3; ++y) {
      for (int x = 0; x < 3; ++x) {
        EXPECT_EQ(PixelBytes(only_bottom.get(), x, y), Mapped(only_bottom.get(), 0, 224, 0)) << x << "," << y;
      }
    }
    EXPECT_EQ(PixelBytes(only_bottom.get(), 0, 3), Mapped(only_bottom.get(), 0, 0, 192));

    // With no byte at all the picture is black.
    const Surface empty = MakeSurface(2, 2, bytes_per_pixel);
    std::string nothing;
    const Stream empty_stream = MemoryStream(nothing);
    DrawScreen(empty.get(), empty_stream.get());
    for (int y = 0; y < 2; ++y) {
      for (int x = 0; x < 2; ++x) {
        EXPECT_EQ(PixelBytes(empty.get(), x, y), Mapped(empty.get(), 0, 0, 0));
      }
    }
  }
}

TEST(RenderTest, TakesOneByteAPixelAndNoMore) {
  for (int bytes_per_pixel = 1; bytes_per_pixel <= 4; ++bytes_per_pixel) {
    const Surface surface = MakeSurface(1, 1, bytes_per_pixel);
    std::string bytes("\xFF\x00\x00", 3);
    const Stream stream = MemoryStream(bytes);
    DrawScreen(surface.get(), stream.get());
    EXPECT_EQ(std::ftell(stream.get()), 1);
    EXPECT_EQ(PixelBytes(surface.get(), 0, 0), Mapped(surface.get(), 224, 224, 192));
  }
}

// SDL 1.2 keeps the pitch in 16 bits and sizes pixel memory as a 32-bit
// product, so a large surface may come back with rows longer than its pitch,
// or with far less memory than its height needs.
TEST(RenderTest, DrawsNothingOntoASurfaceSmallerThanItsSize) {
  struct Case {
    const char* name;
    Uint16 pitch;
    int height;
  };
  for (const Case& c :
       {Case{"rows longer than the pitch", 31, 4}, Case{"height times pitch past 2^31", 32, 67108864}}) {
    const Surface surface = MakeSurface(16, 4, 2);
    const Uint16 pitch = surface->pitch;
    const int height = surface->h;
    surface->pitch = c.pitch;
    surface->h = c.height;
    std::string bytes = RandomBytes(64, 3);
    const Stream stream = MemoryStream(bytes);
    EXPECT_LT(DrawScreen(surface.get(), stream.get()), 0) << c.name;
    surface->pitch = pitch;
    surface->h = height;
    EXPECT_EQ(Memory(surface.get()), std::vector<Uint8>(Memory(surface.get()).size(), kUntouched)) << c.name;
    EXPECT_EQ(std::ftell(stream.get()), 0) << c.name;
  }
}

// The lock is taken only when SDL says the surface needs one, once for the
// whole picture; a lock that fails leaves the surface undrawn, the stream
// unread and the screen unflipped.
TEST(RenderTest, LocksOnlyWhenNeededAndFlipsOnce) {
  struct Case {
    const char* name;
    Uint32 flags;
    int offset;
    int lock_result;
    int locks, unlocks, flips;
    bool drawn;
  };
  const Case cases[] = {
      {"a software surface", 0, 0, 0, 0, 0, 1, true},
      {"a hardware surface", SDL_HWSURFACE, 0, 0, 1, 1, 1, true},
      {"an asynchronous blit surface", SDL_ASYNCBLIT, 0, 0, 1, 1, 1, true},
      {"a surface with an offset", 0, 4, 0, 1, 1, 1, true},
      {"a lock that fails", SDL_HWSURFACE, 0, -3, 1, 0, 0, false},
  };
  for (const Case& c : cases) {
    const Surface surface = MakeSurface(4, 3, 1);
    surface->flags |= c.flags;
    surface->offset = c.offset;
    std::string bytes = RandomBytes(12, 9);
    const Stream stream = MemoryStream(bytes);
    calls = {0, 0, 0, true, c.lock_result};
    const int result = DrawScreen(surface.get(), stream.get());
    const SurfaceCalls made = calls;
    calls = {};
    surface->flags &= ~c.flags;
    surface->offset = 0;
    EXPECT_EQ(result, c.drawn ? 0 : c.lock_result) << c.name;
    EXPECT_EQ(made.locks, c.locks) << c.name;
    EXPECT_EQ(made.unlocks, c.unlocks) << c.name;
    EXPECT_EQ(made.flips, c.flips) << c.name;
    const bool untouched = Memory(surface.get()) == std::vector<Uint8>(Memory(surface.get()).size(), kUntouched);
    EXPECT_EQ(untouched, !c.drawn) << c.name;
    EXPECT_EQ(std::ftell(stream.get()), c.drawn ? 12 : 0) << c.name;
  }
}

TEST(RenderTest, MatchesThePerPixelChainOnEveryDepthAndStreamLength) {
  // The widest rows are longer than the buffer a row is read through.
  const int sizes[][2] = {{1, 1}, {1, 7}, {7, 1}, {3, 5}, {17, 9}, {64, 3}, {101, 33}, {16000, 2}};
  unsigned seed = 1;
  for (int bytes_per_pixel = 1; bytes_per_pixel <= 4; ++bytes_per_pixel) {
    for (const auto& size : sizes) {
      const std::size_t pixels = static_cast<std::size_t>(size[0]) * size[1];
      for (const std::size_t length : {std::size_t{0}, std::size_t{1}, pixels / 2, pixels - 1, pixels, pixels + 9}) {
        ++seed;
        std::string bytes = RandomBytes(length, seed);
        const Surface slow = MakeSurface(size[0], size[1], bytes_per_pixel, seed);
        const Stream slow_stream = MemoryStream(bytes);
        DrawPixelByPixel(slow.get(), slow_stream.get());
        const Surface fast = MakeSurface(size[0], size[1], bytes_per_pixel, seed);
        const Stream fast_stream = MemoryStream(bytes);
        DrawScreen(fast.get(), fast_stream.get());
        EXPECT_EQ(Memory(fast.get()), Memory(slow.get()))
            << size[0] << "x" << size[1] << ", " << bytes_per_pixel << " bytes per pixel, " << length << " bytes";
        EXPECT_EQ(std::ftell(fast_stream.get()), std::ftell(slow_stream.get()));
      }
    }
  }
}

// A stream that fails once, part way through a row, and then goes on.
struct FlakySource {
  std::string bytes;
  std::size_t position = 0;
  std::size_t fail_at = 0;
  bool failed = false;
};

ssize_t ReadFlaky(void* cookie, char* buffer, std::size_t size) {
  auto* source = static_cast<FlakySource*>(cookie);
  if (!source->failed && source->position == source->fail_at) {
    source->failed = true;
    errno = EIO;
    return -1;
  }
  std::size_t count = std::min(size, source->bytes.size() - source->position);
  if (!source->failed) {
    count = std::min(count, source->fail_at - source->position);
  }
  std::copy_n(source->bytes.data() + source->position, count, buffer);
  source->position += count;
  return static_cast<ssize_t>(count);
}

TEST(RenderTest, MatchesThePerPixelChainAfterAReadError) {
  for (int bytes_per_pixel = 1; bytes_per_pixel <= 4; ++bytes_per_pixel) {
    for (const std::size_t fail_at : {0, 5, 13, 40}) {
      FlakySource fast_source{RandomBytes(60, 7), 0, fail_at};
      FlakySource slow_source = fast_source;
      const cookie_io_functions_t functions = {ReadFlaky, nullptr, nullptr, nullptr};
      const Stream fast_stream(fopencookie(&fast_source, "r", functions));
      const Stream slow_stream(fopencookie(&slow_source, "r", functions));
      const Surface fast = MakeSurface(9, 5, bytes_per_pixel);
      const Surface slow = MakeSurface(9, 5, bytes_per_pixel);
      DrawScreen(fast.get(), fast_stream.get());
      DrawPixelByPixel(slow.get(), slow_stream.get());
      EXPECT_EQ(Memory(fast.get()), Memory(slow.get())) << "error at byte " << fail_at;
      EXPECT_EQ(fast_source.position, slow_source.position);
    }
  }
}

}  // namespace
