// SPDX-License-Identifier: MIT
#pragma once

// RGB rows reduced to the format's bytes. Dithering spreads each pixel's
// error over its neighbours (Floyd and Steinberg's weights, each row in the
// other direction from the last) towards the format's own levels: red and
// green in steps of 32 up to 224, blue in steps of 64 up to 192. A colour
// the format holds comes through exactly, and an area keeps its mean colour
// as far as the format reaches; what lies above its top levels is shown at
// them.

#include <cstdint>

struct DitherState {
  std::int32_t width;
  std::int32_t* errors;  // two rows of three components, a guard pixel at each end, in sixteenths
  bool leftward;         // the direction of the next row
};

bool StartDithering(DitherState& state, std::int32_t width);
void StopDithering(DitherState& state);

// The next row, top first: `rgb` three bytes a pixel, into `bytes`.
void DitherRow(DitherState& state, const std::uint8_t* rgb, std::uint8_t* bytes);

// Each pixel takes the top bits of its own components.
void TopBitsOfRow(const std::uint8_t* rgb, std::int32_t width, std::uint8_t* bytes);
