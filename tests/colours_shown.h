// SPDX-License-Identifier: MIT
#pragma once

// What the viewer's window shows for pixel bytes, as the tests and the
// benchmarks expect it.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

// The colour, 0xRRGGBB, shown for each pixel byte: what SDL maps the decoded
// colour to on an 8-bit display surface, through the palette SDL itself
// chooses, on its video driver `driver` and, for x11, the X display
// `display`. sdl12-compat chooses that palette whatever SDL2 draws on, so
// there its dummy driver, which needs no display, tells the same. Leaves
// SDL_VIDEODRIVER unset; throws when SDL gives no such surface.
std::array<std::uint32_t, 256> ColoursShown(const std::string& driver, const std::string& display);

// What the window shows for a file's pixel bytes: bottom row first, and a
// pixel the file does not hold takes the last byte read.
std::vector<std::uint32_t> PictureAsShown(int width, int height, const std::string& pixels,
                                          const std::array<std::uint32_t, 256>& shown);
