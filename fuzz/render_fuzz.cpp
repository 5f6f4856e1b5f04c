// SPDX-License-Identifier: MIT
// Hands the viewer's file handling any input: the header is read from a
// stream whose reads come in sizes, and fail where, the input says; the rest
// is drawn by DrawScreen onto a software surface whose size, depth and
// pitch the input chooses too. Every byte of the surface's memory, and the
// bytes taken from the stream, must match the per-pixel chain's; a surface
// whose rows do not fit its pitch must be refused untouched.
//
// Input: options, width, height, pitch, read-plan length, the read plan,
// then the file itself.

#include <SDL.h>
#include <stdio.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "image_format.h"
#include "render.h"
#include "render_reference.h"

namespace {

constexpr std::size_t kControlBytes = 5;
constexpr int kMaxHeight = 16;  // the width goes to 255
constexpr std::size_t kMaxPlan = 8;
constexpr int kPitchReach = 128;  // how far below and above the rows' own length a chosen pitch may go
constexpr Uint8 kUntouched = 0xA5;
constexpr std::uint8_t kOwnPitch = 0x04;  // options bit: the surface's memory and pitch are ours

struct Choices {
  int bytes_per_pixel;
  bool own_pitch;
  unsigned palette_seed;
  int width;
  int height;
  int pitch_offset;
  std::vector<std::uint8_t> plan;  // read sizes, used in turn; 0 fails that read
  const std::uint8_t* file;
  std::size_t file_size;
};

// A file on a device that hands out its bytes in odd amounts and fails now
// and then, going on after each failure.
struct ScriptedFile {
  const std::uint8_t* bytes;
  std::size_t size;
  std::size_t position;
  const std::vector<std::uint8_t>* plan;
  std::size_t next_read;
};

ssize_t ReadScripted(void* cookie, char* buffer, std::size_t size) {
  auto* file = static_cast<ScriptedFile*>(cookie);
  std::size_t count = size;
  if (!file->plan->empty()) {
    const std::uint8_t planned = (*file->plan)[file->next_read++ % file->plan->size()];
    if (planned == 0) {
      errno = EIO;
      return -1;
    }
    count = std::min<std::size_t>(count, planned);
  }
  count = std::min(count, file->size - file->position);
  std::memcpy(buffer, file->bytes + file->position, count);
  file->position += count;
  return static_cast<ssize_t>(count);
}

// Only tells where the file stands, which is all ftell asks.
int TellScripted(void* cookie, off64_t* offset, int whence) {
  if (whence != SEEK_CUR || *offset != 0) {
    errno = EINVAL;
    return -1;
  }
  *offset = static_cast<off64_t>(static_cast<ScriptedFile*>(cookie)->position);
  return 0;
}

FILE* OpenScripted(ScriptedFile& file) {
  const cookie_io_functions_t functions = {ReadScripted, nullptr, TellScripted, nullptr};
  return fopencookie(&file, "r", functions);
}

[[noreturn]] void Fail(const char* what) {
  static_cast<void>(std::fprintf(stderr, "render_fuzz: %s\n", what));
  std::abort();
}

bool ReadChoices(const std::uint8_t* data, std::size_t size, Choices& choices) {
  if (size < kControlBytes) {
    return false;
  }
  choices.bytes_per_pixel = (data[0] & 0x03) + 1;
  choices.own_pitch = (data[0] & kOwnPitch) != 0;
  choices.palette_seed = data[0] >> 4;
  choices.width = data[1];
  choices.height = data[2] % (kMaxHeight + 1);
  choices.pitch_offset = data[3] - kPitchReach;
  const std::size_t plan_size = std::min<std::size_t>(data[4] % (kMaxPlan + 1), size - kControlBytes);
  choices.plan.assign(data + kControlBytes, data + kControlBytes + plan_size);
  choices.file = data + kControlBytes + plan_size;
  choices.file_size = size - kControlBytes - plan_size;
  return true;
}

int ChosenPitch(const Choices& choices) {
  return std::max(0, choices.width * choices.bytes_per_pixel + choices.pitch_offset);
}

// Wider surfaces get an alpha mask, so that every byte of a bright pixel's
// value is set; 8-bit ones a palette of random colours, so that mapping is a
// real search.
SDL_Surface* MakeSurface(const Choices& choices, std::vector<Uint8>& own_memory) {
  const int bits = choices.bytes_per_pixel * 8;
  const ChannelMasks masks = MasksFor(choices.bytes_per_pixel);
  SDL_Surface* surface = nullptr;
  if (choices.own_pitch) {
    // Some SDLs refuse a pitch too small for the rows, so it is set after.
    const int pitch = ChosenPitch(choices);
    own_memory.assign(static_cast<std::size_t>(pitch) * choices.height, kUntouched);
    surface = SDL_CreateRGBSurfaceFrom(own_memory.empty() ? nullptr : own_memory.data(), choices.width, choices.height,
                                       bits, choices.width * choices.bytes_per_pixel, masks.red, masks.green,
                                       masks.blue, masks.alpha);
    if (surface != nullptr) {
      surface->pitch = static_cast<Uint16>(pitch);
    }
  } else {
    surface = SDL_CreateRGBSurface(SDL_SWSURFACE, choices.width, choices.height, bits, masks.red, masks.green,
                                   masks.blue, masks.alpha);
    if (surface != nullptr && surface->pixels != nullptr) {
      std::memset(surface->pixels, kUntouched, static_cast<std::size_t>(surface->pitch) * surface->h);
    }
  }
  if (surface == nullptr) {
    Fail(SDL_GetError());
  }
  if (choices.bytes_per_pixel == 1) {
    std::mt19937 random(choices.palette_seed);
    SDL_Color colours[256];
    for (SDL_Color& colour : colours) {
      colour = {static_cast<Uint8>(random()), static_cast<Uint8>(random()), static_cast<Uint8>(random()), 0};
    }
    SDL_SetColors(surface, colours, 0, 256);
  }
  return surface;
}

std::vector<Uint8> Memory(const SDL_Surface* surface) {
  const auto* begin = static_cast<const Uint8*>(surface->pixels);
  return begin == nullptr ? std::vector<Uint8>{}
                          : std::vector<Uint8>(begin, begin + static_cast<std::size_t>(surface->pitch) * surface->h);
}

std::uint32_t LittleEndianField(const std::uint8_t* bytes) {
  return std::uint32_t{bytes[0]} | std::uint32_t{bytes[1]} << 8 | std::uint32_t{bytes[2]} << 16 |
         std::uint32_t{bytes[3]} << 24;
}

// The header arrives when its twelve bytes come before a read fails: the
// stream asks for more than a plan's read ever gives, so each read gives the
// planned amount until the file runs out.
bool HeaderArrives(const Choices& choices) {
  if (choices.file_size < kHeaderSize) {
    return false;
  }
  std::size_t arrived = 0;
  for (std::size_t read = 0; !choices.plan.empty() && arrived < kHeaderSize; ++read) {
    const std::uint8_t planned = choices.plan[read % choices.plan.size()];
    if (planned == 0) {
      return false;
    }
    arrived += planned;
  }
  return true;
}

// Once read, the fields are the file's, little-endian.
void CheckHeader(const Choices& choices, bool read, const ImageHeader& header) {
  if (read != HeaderArrives(choices)) {
    Fail(read ? "a header was read that did not arrive" : "a header that arrived was not read");
  }
  if (read && (header.magic != LittleEndianField(choices.file) ||
               header.width != static_cast<std::int32_t>(LittleEndianField(choices.file + kFieldSize)) ||
               header.height != static_cast<std::int32_t>(LittleEndianField(choices.file + 2 * kFieldSize)))) {
    Fail("the header's fields are not the file's");
  }
}

struct Drawn {
  int result;
  std::vector<Uint8> memory;
  std::size_t consumed;
};

// As the viewer does it: the header first, then the picture from the same
// stream.
template <typename Draw>
Drawn ReadAndDraw(const Choices& choices, Draw draw) {
  ScriptedFile file = {choices.file, choices.file_size, 0, &choices.plan, 0};
  FILE* stream = OpenScripted(file);
  ImageHeader header{};
  CheckHeader(choices, ReadHeader(stream, header), header);
  const long before = std::ftell(stream);
  std::vector<Uint8> own_memory;
  SDL_Surface* surface = MakeSurface(choices, own_memory);
  Drawn drawn;
  drawn.result = draw(surface, stream);
  drawn.memory = Memory(surface);
  drawn.consumed = static_cast<std::size_t>(std::ftell(stream) - before);
  SDL_FreeSurface(surface);
  static_cast<void>(std::fclose(stream));
  return drawn;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  // SDL_Flip needs the video subsystem; the dummy driver needs no display.
  setenv("SDL_VIDEODRIVER", "dummy", 1);
  if (SDL_Init(SDL_INIT_VIDEO) < 0) {
    Fail(SDL_GetError());
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Choices choices;
  if (!ReadChoices(data, size, choices)) {
    return 0;
  }
  const Drawn fast = ReadAndDraw(choices, DrawScreen);
  if (choices.own_pitch && ChosenPitch(choices) < choices.width * choices.bytes_per_pixel) {
    const bool untouched =
        std::all_of(fast.memory.begin(), fast.memory.end(), [](Uint8 byte) { return byte == kUntouched; });
    if (fast.result != -1 || fast.consumed != 0 || !untouched) {
      Fail("a surface whose rows do not fit its pitch was drawn");
    }
    return 0;
  }
  const Drawn slow = ReadAndDraw(choices, [](SDL_Surface* surface, FILE* stream) {
    DrawPixelByPixel(surface, stream);
    return 0;
  });
  if (fast.memory != slow.memory) {
    Fail("DrawScreen's pixels differ from the per-pixel chain's");
  }
  if (fast.consumed != slow.consumed) {
    Fail("DrawScreen took another number of bytes than the per-pixel chain");
  }
  return 0;
}
