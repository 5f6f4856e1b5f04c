// SPDX-License-Identifier: MIT
#pragma once

// Pictures read from files nobody chose, by the thumbnailer, from-rastel and
// the desktop's loaders: the header's problems, worded once for all of them,
// and the pixel data read whole into a decoder or a display row at a time.

#include <sys/types.h>

#include <array>
#include <cstddef>
#include <cstdint>

#include "decoder.h"
#include "image_format.h"

using Problem = std::array<char, 160>;

// Puts `text` in `why`, cut to fit.
void Explain(Problem& why, const char* text);

// Whether the first `count` bytes of a file hold the header of a picture
// rastel shows; where they do not, `why` ends a sentence that begins with
// the file's name: "is not a rastel picture: it does not begin with 37 13 AD
// DE".
bool CheckHeader(const std::uint8_t* bytes, std::size_t count, ImageHeader& header, Problem& why);

// Opens a file to read. A FIFO with no writer then reads as empty, where a
// plain open would wait for one for ever. -1 with errno on failure.
int OpenToRead(const char* path);

// Up to `count` bytes, fewer only where the file ends; -1 on a read error.
ssize_t ReadUpTo(int fd, std::uint8_t* buffer, std::size_t count);

// Reads the pixel data from `fd`, which stands at the first pixel byte,
// into `decoder` until it has every pixel or the file ends, and finishes
// the result. False on a read error.
bool DecodeFile(int fd, PictureDecoder& decoder);

// What a regular file holds of a picture: its pixel bytes (at most the
// picture's) and the byte whose colour the pixels past them take.
struct StoredPicture {
  ImageHeader header;
  std::uint64_t held;
  std::uint8_t fill;
};

// False with errno where `fd` is no regular file or cannot be read.
bool MeasureStoredPicture(int fd, const ImageHeader& header, StoredPicture& stored);

// Display row `y` (0 at the top) in RGB, through `bytes`, room for a row's
// pixel bytes. False with errno on a read error.
bool ReadDisplayRow(int fd, const StoredPicture& stored, std::int32_t y, std::uint8_t* bytes, std::uint8_t* rgb);
