// The renderer on software surfaces of every depth, fed from memory.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "image_format.h"
#include "render.h"
#include "render_reference.h"
#include "test_support.h"

namespace {

constexpr Uint8 kUntouched = 0xA5;

// SDL_Flip needs the video subsystem; the dummy driver needs no display.
class DummyVideo : public ::testing::Environment {
 public:
  void SetUp() override {
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    ASSERT_EQ(SDL_Init(SDL_INIT_VIDEO), 0);
  }
  void TearDown() override { SDL_Quit(); }
};
const auto* const kVideo = ::testing::AddGlobalTestEnvironment(new DummyVideo);

struct SurfaceDeleter {
  void operator()(SDL_Surface* surface) const { SDL_FreeSurface(surface); }
};
using Surface = std::unique_ptr<SDL_Surface, SurfaceDeleter>;

struct FileCloser {
  void operator()(std::FILE* stream) const { std::fclose(stream); }
};
using Stream = std::unique_ptr<std::FILE, FileCloser>;

// 8-bit surfaces get a palette of random colours, so that mapping is a real
// search; the wider ones have an alpha mask, so that every byte of a pixel
// value is non-zero for bright colours.
Surface MakeSurface(int width, int height, int bytes_per_pixel, unsigned seed = 1) {
  Uint32 red = 0xFF0000;
  Uint32 green = 0x00FF00;
  Uint32 blue = 0x0000FF;
  Uint32 alpha = 0;
  if (bytes_per_pixel == 2) {
    red = 0xF800;
    green = 0x07E0;
    blue = 0x001F;
  } else if (bytes_per_pixel == 4) {
    alpha = 0xFF000000;
  }
  Surface surface(SDL_CreateRGBSurface(SDL_SWSURFACE, width, height, bytes_per_pixel * 8, bytes_per_pixel == 1 ? 0 : red,
                                       bytes_per_pixel == 1 ? 0 : green, bytes_per_pixel == 1 ? 0 : blue, alpha));
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
  const auto* at = static_cast<const Uint8*>(surface->pixels) + y * surface->pitch + x * surface->format->BytesPerPixel;
  return {at, at + surface->format->BytesPerPixel};
}

std::vector<Uint8> LittleEndian(Uint32 value, int bytes) {
  std::vector<Uint8> out;
  for (int i = 0; i < bytes; ++i) {
    out.push_back(static_cast<Uint8>(value >> (8 * i)));
  }
  return out;
}

std::vector<Uint8> Mapped(const SDL_Surface* surface, Uint8 red, Uint8 green, Uint8 blue) {
  return LittleEndian(SDL_MapRGB(surface->format, red, green, blue), surface->format->BytesPerPixel);
}

// fmemopen refuses an empty buffer, so keep one byte back.
Stream MemoryStream(std::string& bytes) {
  bytes.push_back('\0');
  Stream stream(fmemopen(bytes.data(), bytes.size() - 1, "r"));
  bytes.pop_back();
  return stream;
}

TEST(RenderTest, DecodesRgb332WithTheLowBitsZero) {
  struct Case {
    Uint8 byte;
    Uint8 red, green, blue;
  };
  const Case cases[] = {{0x00, 0, 0, 0},     {0xE0, 224, 0, 0},    {0x1C, 0, 224, 0}, {0x03, 0, 0, 192},
                        {0xFF, 224, 224, 192}, {0x49, 64, 64, 64}, {0x92, 128, 128, 128}};
  const Surface surface = MakeSurface(1, 1, 4);
  for (const Case& c : cases) {
    DrawByte(surface.get(), 0, 0, c.byte);
    EXPECT_EQ(PixelBytes(surface.get(), 0, 0), (std::vector<Uint8>{c.blue, c.green, c.red, 0xFF}))
        << "byte " << int{c.byte};
  }
}

TEST(RenderTest, DrawsTheFileBottomRowFirst) {
  const Surface surface = MakeSurface(2, 2, 4);
  std::string bytes = "\xE0\x1C\x03\xFF";
  const Stream stream = MemoryStream(bytes);
  EXPECT_EQ(DrawScreen(surface.get(), stream.get()), 0);
  EXPECT_EQ(PixelBytes(surface.get(), 0, 1), Mapped(surface.get(), 224, 0, 0));
  EXPECT_EQ(PixelBytes(surface.get(), 1, 1), Mapped(surface.get(), 0, 224, 0));
  EXPECT_EQ(PixelBytes(surface.get(), 0, 0), Mapped(surface.get(), 0, 0, 192));
  EXPECT_EQ(PixelBytes(surface.get(), 1, 0), Mapped(surface.get(), 224, 224, 192));
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
  const Surface surface = MakeSurface(1, 1, 1);
  std::string bytes = "\xFF\x00\x00";
  const Stream stream = MemoryStream(bytes);
  DrawScreen(surface.get(), stream.get());
  EXPECT_EQ(std::ftell(stream.get()), 1);
  EXPECT_EQ(PixelBytes(surface.get(), 0, 0), Mapped(surface.get(), 224, 224, 192));
}

// SDL 1.2 keeps the pitch in 16 bits, so a wide surface may come back with
// rows longer than its pitch.
TEST(RenderTest, DrawsNothingOntoASurfaceWhoseRowsOverrunItsPitch) {
  const Surface surface = MakeSurface(16, 4, 2);
  const Uint16 pitch = surface->pitch;
  surface->pitch = 31;
  std::string bytes = RandomBytes(64, 3);
  const Stream stream = MemoryStream(bytes);
  EXPECT_LT(DrawScreen(surface.get(), stream.get()), 0);
  surface->pitch = pitch;
  EXPECT_EQ(Memory(surface.get()), std::vector<Uint8>(Memory(surface.get()).size(), kUntouched));
  EXPECT_EQ(std::ftell(stream.get()), 0);
}

TEST(RenderTest, MatchesThePerPixelChainOnEveryDepthAndStreamLength) {
  const int sizes[][2] = {{1, 1}, {1, 7}, {7, 1}, {3, 5}, {17, 9}, {64, 3}, {101, 33}};
  unsigned seed = 1;
  for (int bytes_per_pixel = 1; bytes_per_pixel <= 4; ++bytes_per_pixel) {
    for (const auto& size : sizes) {
      const std::size_t pixels = static_cast<std::size_t>(size[0]) * size[1];
      for (const std::size_t length : {std::size_t{0}, std::size_t{1}, pixels / 2, pixels - 1, pixels, pixels + 9}) {
        ++seed;
        std::string bytes = RandomBytes(length, seed);
        const Surface fast = MakeSurface(size[0], size[1], bytes_per_pixel, seed);
        const Surface slow = MakeSurface(size[0], size[1], bytes_per_pixel, seed);
        const Stream fast_stream = MemoryStream(bytes);
        const Stream slow_stream = MemoryStream(bytes);
        DrawScreen(fast.get(), fast_stream.get());
        DrawPixelByPixel(slow.get(), slow_stream.get());
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
  std::memcpy(buffer, source->bytes.data() + source->position, count);
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
