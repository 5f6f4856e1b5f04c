// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// What a thumbnail or a loader's picture at a size must hold, worked out a
// pixel at a time the plain way: each pixel of the sampled_width x
// sampled_height result takes the file's byte under its centre, the file
// storing the bottom row first, a byte past the data's end taking the value
// of the last one there (0 where there is none), each byte decoded by the
// format's colour rules. RGB, top row first, without padding. `pixels` holds
// the `available` bytes after the header.
std::vector<std::uint8_t> SampledReference(const std::uint8_t* pixels, std::size_t available, int width, int height,
                                           int sampled_width, int sampled_height);
