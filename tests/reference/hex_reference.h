// SPDX-License-Identifier: MIT
#pragma once

#include <cstdio>

// The byte-at-a-time dump that bytel must match for every input: one fread
// and one printf a byte, eight groups to a line, then one closing newline.
void DumpByteAtATime(std::FILE* in, std::FILE* out);
