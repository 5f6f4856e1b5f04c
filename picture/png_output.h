// SPDX-License-Identifier: MIT
#pragma once

// PNGs of pictures, written a row at a time through libpng, so that memory
// follows a row whatever the picture's size.

#include <array>
#include <cstdint>
#include <cstdio>

#include "decoder.h"
#include "picture_file.h"

// What failed, in words.
using Reason = Problem;

// Fills display row `y` of the picture (0 at the top) with three bytes a
// pixel; false with errno where it cannot.
using RowSource = bool (*)(std::int32_t y, std::uint8_t* rgb, void* context);

// Writes an RGB PNG of `size` to `file`, its rows from `rows`, top first,
// and flushes it. On failure `why` says what failed.
bool WritePng(std::FILE* file, PictureSize size, RowSource rows, void* context, Reason& why);
