// SPDX-License-Identifier: MIT
// rastel: shows a picture file in an SDL window of its size, drawn once,
// until a key is pressed or the window is closed. Messages go to standard
// output only; failures inside SDL, and output that cannot be written, end
// it with status 1 and no message.

#include <SDL.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "image_format.h"
#include "render.h"

namespace {

constexpr int kExitSuccess = 0;
constexpr int kExitFailure = 1;
constexpr int kExitOpenFailed = -1;

constexpr int kBitsPerPixel = 8;
constexpr Uint32 kNoFlags = 0;  // a software surface in a window of fixed size

// Where no display can be reached, SDL comes up on one of these instead: the
// viewer would then wait for a key nobody can press, or write its picture as
// text into standard output.
constexpr std::array<std::string_view, 4> kDriversWithoutScreen = {"offscreen", "dummy", "caca", "aalib"};
constexpr int kDriverNameSize = 32;

int RefuseFormat() {
  std::puts("This file format can not be displayed");
  return kExitFailure;
}

int RefuseMagic(std::uint32_t magic) {
  std::printf("Magic number: 0x%x\n", static_cast<unsigned>(magic));
  std::printf("Correct magic number: 0x%x\n", static_cast<unsigned>(kMagic));
  return RefuseFormat();
}

// SDL_VIDEODRIVER may list several drivers, separated by commas.
bool UserAskedForDriver(std::string_view driver) {
  const char* const asked = std::getenv("SDL_VIDEODRIVER");
  std::string_view rest = asked != nullptr ? asked : "";
  while (!rest.empty()) {
    const std::size_t end = std::min(rest.find(','), rest.size());
    std::string_view name = rest;
    name.remove_suffix(rest.size() - end);
    if (name == driver) {
      return true;
    }
    rest.remove_prefix(std::min(end + 1, rest.size()));
  }
  return false;
}

// A driver the user names is theirs to choose, whatever it shows.
bool ShowsOnAScreen() {
  std::array<char, kDriverNameSize> name{};
  if (SDL_VideoDriverName(name.data(), name.size()) == nullptr) {
    return true;
  }
  const std::string_view driver = name.data();
  for (const std::string_view without_screen : kDriversWithoutScreen) {
    if (driver == without_screen) {
      return UserAskedForDriver(driver);
    }
  }
  return true;
}

// Key releases, mouse and focus events do not end the loop. A failed wait
// does, as a failure: the event record then holds nothing new, and looking
// at it again would spin. Classic SDL repaints a window that was covered,
// minimised or moved off screen by itself; sdl12-compat keeps no picture of
// its own and asks for it again, so the surface drawn once is presented
// anew.
int WaitForKeyOrClose(SDL_Surface* screen) {
  SDL_Event event;
  for (;;) {
    if (SDL_WaitEvent(&event) == 0) {
      return kExitFailure;
    }
    if (event.type == SDL_KEYDOWN || event.type == SDL_QUIT) {
      return kExitSuccess;
    }
    if (event.type == SDL_VIDEOEXPOSE) {
      SDL_Flip(screen);
    }
  }
}

bool WroteAllOutput() { return std::fflush(stdout) == 0 && std::ferror(stdout) == 0; }

int ShowPicture(int argc, char* argv[]) {
  if (argc <= 1) {
    std::puts("Please provide a filename");
    return kExitFailure;
  }
  std::FILE* stream = std::fopen(argv[1], "r");
  if (stream == nullptr) {
    std::puts("Couldn't open file");
    return kExitOpenFailed;
  }

  ImageHeader header{};
  if (!ReadHeader(stream, header)) {
    return RefuseFormat();
  }
  if (header.magic != kMagic) {
    return RefuseMagic(header.magic);
  }

  std::printf("Width: %d\n", header.width);
  std::printf("Height: %d\n", header.height);
  if (!HasDrawableSize(header)) {
    return kExitFailure;
  }

  if (SDL_Init(SDL_INIT_VIDEO) < 0) {
    return kExitFailure;
  }
  if (!ShowsOnAScreen()) {
    SDL_Quit();
    return kExitFailure;
  }
  SDL_Surface* screen = SDL_SetVideoMode(header.width, header.height, kBitsPerPixel, kNoFlags);
  if (screen == nullptr) {
    SDL_Quit();
    return kExitFailure;
  }
  // A read error is not the end of the file: what was read is shown, as
  // with a short file, but the run fails and says why.
  DrawScreen(screen, stream);
  const bool read_failed = std::ferror(stream) != 0;
  if (read_failed) {
    std::puts("Couldn't read file");
  }
  const int status = WaitForKeyOrClose(screen);
  SDL_Quit();
  return read_failed ? kExitFailure : status;
}

}  // namespace

// Size lines that never reached their reader make the run a failure, even
// once the picture was shown; a refusal keeps its own status.
int main(int argc, char* argv[]) {
  const int status = ShowPicture(argc, argv);
  if (status == kExitSuccess && !WroteAllOutput()) {
    return kExitFailure;
  }
  return status;
}
