// SPDX-License-Identifier: MIT
#include "bench_pictures.h"

#include <png.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <vector>

#include "image_format.h"
#include "picture_file.h"

namespace {

std::uint8_t PatternByte(int x, int y) {
  return static_cast<std::uint8_t>((x >> 4) * 7 + (y >> 4) * 13 + ((x ^ y) & 3));
}

struct FileCloser {
  void operator()(std::FILE* file) const { static_cast<void>(std::fclose(file)); }
};

// libpng reports errors by a long jump, or by never returning from this.
[[noreturn]] void PngFailed(png_structp /*png*/, png_const_charp message) {
  static_cast<void>(std::fprintf(stderr, "cannot write the PNG: %s\n", message));
  std::exit(2);
}

void WritePng(std::FILE* file, int width, int height) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, PngFailed, nullptr);
  png_infop info = png_create_info_struct(png);
  if (png == nullptr || info == nullptr) {
    throw std::runtime_error("libpng cannot start");
  }
  std::vector<png_byte> row(static_cast<std::size_t>(width) * kRgbBytes);
  png_init_io(png, file);
  png_set_compression_level(png, 1);
  png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8, PNG_COLOR_TYPE_RGB,
               PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const std::uint8_t byte = PatternByte(x, y);
      png_byte* const pixel = row.data() + static_cast<std::size_t>(x) * kRgbBytes;
      pixel[0] = RedOf(byte);
      pixel[1] = GreenOf(byte);
      pixel[2] = BlueOf(byte);
    }
    png_write_row(png, row.data());
  }
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
}

}  // namespace

void WritePictureAndPng(const std::string& rastel_path, const std::string& png_path, int width, int height) {
  std::ofstream picture(rastel_path, std::ios::binary);
  picture << Picture(width, height, "");
  std::string row(static_cast<std::size_t>(width), '\0');
  for (int y = height - 1; y >= 0; --y) {
    for (int x = 0; x < width; ++x) {
      row[static_cast<std::size_t>(x)] = static_cast<char>(PatternByte(x, y));
    }
    picture << row;
  }
  if (!picture.flush()) {
    throw std::runtime_error("cannot write " + rastel_path);
  }
  const std::unique_ptr<std::FILE, FileCloser> png(std::fopen(png_path.c_str(), "wb"));
  if (!png) {
    throw std::runtime_error("cannot write " + png_path);
  }
  WritePng(png.get(), width, height);
}
