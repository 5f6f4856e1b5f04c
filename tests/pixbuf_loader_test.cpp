// SPDX-License-Identifier: MIT
// Reads pictures through gdk-pixbuf's public API as a program does, with a
// loaders' cache that gdk-pixbuf-query-loaders made of the built module and
// the system's, and the file type from the build: whole, through a
// GdkPixbufLoader fed in pieces, and at a smaller size, each compared with
// the reference decoding sampled the same way; refusals end in a GError; a
// GTK viewer shows a picture on a private X server.

#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "image_format.h"
#include "picture_file.h"
#include "picture_reference.h"
#include "pixbuf_cache.h"
#include "run_program.h"
#include "test_support.h"
#include "x_display.h"

namespace {

// A pixbuf's pixels as RGB rows without padding, or nothing for a pixbuf
// that is not 8-bit RGB without alpha.
std::vector<std::uint8_t> PixelsOf(GdkPixbuf* pixbuf) {
  if (gdk_pixbuf_get_n_channels(pixbuf) != 3 || gdk_pixbuf_get_has_alpha(pixbuf) != FALSE ||
      gdk_pixbuf_get_bits_per_sample(pixbuf) != 8) {
    return {};
  }
  const guint8* const pixels = gdk_pixbuf_read_pixels(pixbuf);
  const auto row = static_cast<std::size_t>(gdk_pixbuf_get_width(pixbuf)) * kRgbBytes;
  std::vector<std::uint8_t> rgb;
  for (int y = 0; y < gdk_pixbuf_get_height(pixbuf); ++y) {
    const guint8* const start = pixels + static_cast<std::size_t>(y) * gdk_pixbuf_get_rowstride(pixbuf);
    rgb.insert(rgb.end(), start, start + row);
  }
  return rgb;
}

// What the pixbuf must hold of a file's pixels at its size.
void ExpectPicture(GdkPixbuf* pixbuf, const std::string& file) {
  ASSERT_NE(pixbuf, nullptr);
  const ImageHeader header = HeaderFromBytes(reinterpret_cast<const std::uint8_t*>(file.data()));
  const int width = gdk_pixbuf_get_width(pixbuf);
  const int height = gdk_pixbuf_get_height(pixbuf);
  const auto* const pixels = reinterpret_cast<const std::uint8_t*>(file.data()) + kHeaderSize;
  EXPECT_TRUE(PixelsOf(pixbuf) ==
              ReducedReference(pixels, file.size() - kHeaderSize, header.width, header.height, width, height));
}

struct GErrorFree {
  void operator()(GError* error) const { g_error_free(error); }
};
using Error = std::unique_ptr<GError, GErrorFree>;
struct Unref {
  void operator()(gpointer object) const { g_object_unref(object); }
};
using Pixbuf = std::unique_ptr<GdkPixbuf, Unref>;
using Loader = std::unique_ptr<GdkPixbufLoader, Unref>;

// What a program that shows a picture while it loads sees: the size once,
// then the rows as they arrive.
struct Progress {
  int prepared = 0;
  std::vector<bool> rows_updated;
};

void Prepared(GdkPixbufLoader* loader, gpointer data) {
  auto* const progress = static_cast<Progress*>(data);
  ++progress->prepared;
  progress->rows_updated.assign(static_cast<std::size_t>(gdk_pixbuf_get_height(gdk_pixbuf_loader_get_pixbuf(loader))),
                                false);
}

void Updated(GdkPixbufLoader* /*loader*/, gint /*x*/, gint y, gint /*width*/, gint height, gpointer data) {
  auto& rows = static_cast<Progress*>(data)->rows_updated;
  for (int row = y; row < y + height && row >= 0 && row < static_cast<int>(rows.size()); ++row) {
    rows[static_cast<std::size_t>(row)] = true;
  }
}

// The file fed to a loader in pieces of `piece` bytes; the loader's pixbuf,
// or nothing with the error. A loader of no `type` tells the format by the
// first bytes, as one does for a stream of unknown kind.
Pixbuf LoadInPieces(const std::string& file, std::size_t piece, const char* type, Progress& progress, Error& error) {
  GError* failure = nullptr;
  const Loader loader(type == nullptr ? gdk_pixbuf_loader_new() : gdk_pixbuf_loader_new_with_type(type, &failure));
  if (!loader) {
    error.reset(failure);
    return nullptr;
  }
  g_signal_connect(loader.get(), "area-prepared", G_CALLBACK(Prepared), &progress);
  g_signal_connect(loader.get(), "area-updated", G_CALLBACK(Updated), &progress);
  bool written = true;
  for (std::size_t at = 0; written && at < file.size(); at += piece) {
    const std::size_t count = std::min(piece, file.size() - at);
    written = gdk_pixbuf_loader_write(loader.get(), reinterpret_cast<const guchar*>(file.data()) + at, count,
                                      &failure) != FALSE;
  }
  if (written && gdk_pixbuf_loader_close(loader.get(), &failure) != FALSE) {
    return Pixbuf(GDK_PIXBUF(g_object_ref(gdk_pixbuf_loader_get_pixbuf(loader.get()))));
  }
  error.reset(failure);
  if (!written) {
    gdk_pixbuf_loader_close(loader.get(), nullptr);
  }
  return nullptr;
}

class PixbufLoaderTest : public TestWithFiles {
 protected:
  // gdk-pixbuf and GIO read their settings once, at the first load. A cache
  // that cannot be made fails each test, rather than leave them skipped.
  static void SetUpTestSuite() {
    // gdk-pixbuf says of a loader that breaks its rules only in a warning.
    g_log_set_always_fatal(static_cast<GLogLevelFlags>(G_LOG_LEVEL_WARNING | G_LOG_LEVEL_CRITICAL));
    std::string folder = ::testing::TempDir() + "pixbuf-loaders.XXXXXX";
    if (mkdtemp(folder.data()) == nullptr) {
      problem_ = "cannot make " + folder;
      return;
    }
    cache_ = folder + "/loaders.cache";
    try {
      UseBuiltLoader(cache_, MIME_DATA_DIR);
    } catch (const std::exception& error) {
      problem_ = error.what();
    }
  }
  static void TearDownTestSuite() { std::filesystem::remove_all(std::filesystem::path(cache_).parent_path()); }
  void SetUp() override {
    TestWithFiles::SetUp();
    ASSERT_EQ(problem_, "");
  }

  static std::string cache_;
  static std::string problem_;
};
std::string PixbufLoaderTest::cache_;
std::string PixbufLoaderTest::problem_;

TEST_F(PixbufLoaderTest, TheFormatIsKnownByItsSignatureTypeAndExtension) {
  const std::string path = WriteFile("card.rastel", ReadWholeFile(TESTCARD));
  int width = 0;
  int height = 0;
  GdkPixbufFormat* const format = gdk_pixbuf_get_file_info(path.c_str(), &width, &height);
  ASSERT_NE(format, nullptr) << "gdk-pixbuf knows no loader for the test card";
  gchar* const name = gdk_pixbuf_format_get_name(format);
  gchar** const types = gdk_pixbuf_format_get_mime_types(format);
  gchar** const extensions = gdk_pixbuf_format_get_extensions(format);
  EXPECT_STREQ(name, "rastel");
  EXPECT_TRUE(types != nullptr && types[0] != nullptr && std::string(types[0]) == "image/x-rastel");
  EXPECT_TRUE(extensions != nullptr && extensions[0] != nullptr && std::string(extensions[0]) == "rastel");
  EXPECT_EQ(width, 256);
  EXPECT_EQ(height, 320);
  g_free(name);
  g_strfreev(types);
  g_strfreev(extensions);
}

TEST_F(PixbufLoaderTest, DecodesPicturesWholeInPiecesOfAnySizeAndAtASmallerSize) {
  struct Case {
    std::string name;
    std::string file;
    int box;  // a smaller size asked for, kept in proportion, and the one given
    int box_width;
    int box_height;
  };
  const std::string card = ReadWholeFile(TESTCARD);
  std::vector<Case> cases = {
      {"the test card", card, 64, 51, 64},
      {"odd size", Picture(37, 23, RandomBytes(std::size_t{37} * 23, 1)), 20, 20, 12},
      {"data that ends early", Picture(90, 70, RandomBytes(90 * 30 + 5, 2)), 64, 64, 50},
      {"no pixel byte", Picture(12, 100, ""), 64, 8, 64},
      {"bytes after the picture", Picture(16, 8, RandomBytes(16 * 8 + 40, 3)), 10, 10, 5},
  };
  if (!std::string_view(FFMPEG).empty()) {
    const std::string image = dir_ + "/pattern.png";
    Ffmpeg({"-f", "lavfi", "-i", "testsrc=size=200x120", "-frames:v", "1", image});
    cases.push_back({"to-rastel of a test pattern", RunProgram({TO_RASTEL, image}).out, 64, 64, 38});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = WriteFile("picture.rastel", c.file);
    GError* failure = nullptr;
    const Pixbuf whole(gdk_pixbuf_new_from_file(path.c_str(), &failure));
    const Error whole_error(failure);
    EXPECT_EQ(whole_error, nullptr) << whole_error->message;
    ExpectPicture(whole.get(), c.file);
    for (const std::size_t piece : {std::size_t{1}, std::size_t{7}, std::size_t{4093}}) {
      SCOPED_TRACE(piece);
      Progress progress;
      Error error;
      const Pixbuf loaded = LoadInPieces(c.file, piece, nullptr, progress, error);
      EXPECT_EQ(error, nullptr) << error->message;
      ExpectPicture(loaded.get(), c.file);
      EXPECT_EQ(progress.prepared, 1);
      EXPECT_TRUE(std::all_of(progress.rows_updated.begin(), progress.rows_updated.end(), [](bool row) { return row; }))
          << "the updated callback did not cover every row";
    }
    const Pixbuf small(gdk_pixbuf_new_from_file_at_size(path.c_str(), c.box, c.box, &failure));
    const Error small_error(failure);
    ASSERT_NE(small, nullptr) << small_error->message;
    EXPECT_EQ(gdk_pixbuf_get_width(small.get()), c.box_width);
    EXPECT_EQ(gdk_pixbuf_get_height(small.get()), c.box_height);
    ExpectPicture(small.get(), c.file);
  }

  GError* failure = nullptr;
  const Pixbuf four(gdk_pixbuf_new_from_file(WriteFile("four.rastel", FourColourPicture()).c_str(), &failure));
  g_clear_error(&failure);
  ASSERT_NE(four, nullptr);
  EXPECT_EQ(PixelsOf(four.get()), FourColourRgb());
}

// Files too short to bear the signature are not taken for rastel pictures
// at all; gdk-pixbuf's own error says so.
TEST_F(PixbufLoaderTest, WhatTheThumbnailerRefusesEndsInAGErrorOfGdkPixbuf) {
  for (const HostileFile& c : HostileFiles()) {
    SCOPED_TRACE(c.name);
    GError* failure = nullptr;
    const Pixbuf pixbuf(gdk_pixbuf_new_from_file(WriteFile("refused.rastel", c.bytes).c_str(), &failure));
    const Error error(failure);
    EXPECT_EQ(pixbuf, nullptr);
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(error->domain, GDK_PIXBUF_ERROR);
    if (c.bytes.size() >= kFieldSize) {
      EXPECT_NE(std::string(error->message).find(c.says), std::string::npos) << error->message;
    }
    Progress progress;
    Error streamed;
    EXPECT_EQ(LoadInPieces(c.bytes, 1, "rastel", progress, streamed), nullptr);
    ASSERT_NE(streamed, nullptr);
    EXPECT_EQ(streamed->domain, GDK_PIXBUF_ERROR);
    EXPECT_NE(std::string(streamed->message).find(c.says), std::string::npos) << streamed->message;
  }
}

// A real GTK viewer opens the picture through the loader and shows it at its
// own size: the X server holds every pixel of it in the viewer's window.
TEST_F(PixbufLoaderTest, AGtkViewerShowsThePicture) {
  if (!EmulatorPrefix().empty()) {
    GTEST_SKIP() << "the viewer is this machine's, and loads only a module built for this machine";
  }
  constexpr int kWidth = 64;
  constexpr int kHeight = 48;
  const std::string file = Picture(kWidth, kHeight, RandomBytes(std::size_t{kWidth} * kHeight, 9));
  // No accessibility bus to wait for, and the viewer's settings in a folder
  // of the test's own.
  std::string said;
  EXPECT_TRUE(ViewerShowsPicture({GPICVIEW, WriteFile("picture.rastel", file)},
                                 {"HOME=" + dir_, "NO_AT_BRIDGE=1", AsanOptionsAllowingPreload()},
                                 ReducedReference(reinterpret_cast<const std::uint8_t*>(file.data()) + kHeaderSize,
                                                  file.size() - kHeaderSize, kWidth, kHeight, kWidth, kHeight),
                                 kWidth, said))
      << "no window of gpicview showed the picture; it said: " << said;
}

}  // namespace
