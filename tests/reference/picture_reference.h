// SPDX-License-Identifier: MIT
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

// The format's colours and pictures worked out the plain way, a pixel at a
// time, for every test that needs them.

using Rgb = std::array<std::uint8_t, 3>;

// Red and green have eight levels 32 apart, blue four levels 64 apart, each
// from 0: 0xFF is (224, 224, 192).
Rgb ReferenceColour(std::uint8_t byte);

// What a picture shows at `reduced_width` x `reduced_height` (its own size
// or smaller): each of its pixels goes to the pixel of the result under its
// centre, and each pixel of the result is the mean of those, rounded. The
// file stores the bottom row first; a byte past the data's end takes the
// value of the last one there (0 where there is none). RGB, top row first,
// without padding. `pixels` holds the `available` bytes after the header.
std::vector<std::uint8_t> ReducedReference(const std::uint8_t* pixels, std::size_t available, int width, int height,
                                           int reduced_width, int reduced_height);
