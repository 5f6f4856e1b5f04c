// SPDX-License-Identifier: MIT
#pragma once

#include <string>

// One picture in the two forms that the desktop's benchmarks compare: the
// rastel file, and a PNG of the same pixels in the format's own colours, as
// the formats peers read. Written a row at a time, so that a picture of any
// size takes little memory; the pixels are a pattern with some detail, the
// same every run. Throws when either cannot be written.
void WritePictureAndPng(const std::string& rastel_path, const std::string& png_path, int width, int height);
