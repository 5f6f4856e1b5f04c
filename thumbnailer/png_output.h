// SPDX-License-Identifier: MIT
#pragma once

#include <array>
#include <cstdint>

#include "sampler.h"

using Reason = std::array<char, 128>;

// Writes `size` RGB pixels, three bytes a pixel, top row first, as a PNG at
// `path`. On failure it says why in `why` and leaves no file of its own
// there: what it wrote is removed, but only from a regular file, never a
// device such as /dev/full.
bool WritePng(const char* path, const std::uint8_t* pixels, SampledSize size, Reason& why);
