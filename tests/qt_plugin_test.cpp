// SPDX-License-Identifier: MIT
// Reads pictures through QImageReader as programs do, this suite's Qt
// finding the plugin built for it through QT_PLUGIN_PATH: from a file named
// .rastel, from one of no such name and from a buffer (both known by their
// first bytes), the size before reading, whole and at a smaller size, each
// against the reference decoding; what the other routes refuse is refused;
// and Gwenview, where it is built on this Qt, shows a picture.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <QBuffer>
#include <QImageReader>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "decoder.h"
#include "image_format.h"
#include "picture_file.h"
#include "picture_reference.h"
#include "test_support.h"
#include "x_display.h"

namespace {

std::vector<std::uint8_t> RgbOf(const QImage& image) {
  const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
  std::vector<std::uint8_t> bytes;
  for (int y = 0; y < rgb.height(); ++y) {
    bytes.insert(bytes.end(), rgb.constScanLine(y), rgb.constScanLine(y) + std::size_t{kRgbBytes} * rgb.width());
  }
  return bytes;
}

std::vector<std::uint8_t> Reference(const std::string& file, QSize size) {
  const auto* const bytes = reinterpret_cast<const std::uint8_t*>(file.data());
  const ImageHeader header = HeaderFromBytes(bytes);
  return ReducedReference(bytes + kHeaderSize, file.size() - kHeaderSize, header.width, header.height, size.width(),
                          size.height());
}

class QtPluginTest : public TestWithFiles {
 protected:
  static void SetUpTestSuite() { setenv("QT_PLUGIN_PATH", QT_PLUGINS, 1); }

  // Readers of the file as programs make them: by its name, by a name that
  // says nothing, and from memory with no name at all.
  std::vector<std::unique_ptr<QImageReader>> ReadersOf(const std::string& file, QBuffer& buffer) {
    buffer.setData(file.data(), static_cast<int>(file.size()));
    std::vector<std::unique_ptr<QImageReader>> readers;
    readers.push_back(std::make_unique<QImageReader>(QString::fromStdString(WriteFile("picture.rastel", file))));
    readers.push_back(std::make_unique<QImageReader>(QString::fromStdString(WriteFile("picture", file))));
    readers.push_back(std::make_unique<QImageReader>(&buffer));
    return readers;
  }
};

TEST_F(QtPluginTest, ReadsPicturesByNameOrContentExactlyWholeAndAveragedAtASmallerSize) {
  std::vector<std::pair<std::string, std::string>> cases = {
      {"the test card", ReadWholeFile(TESTCARD)},
      {"odd size", Picture(37, 23, RandomBytes(std::size_t{37} * 23, 1))},
      {"data that ends early", Picture(90, 70, RandomBytes(90 * 30 + 5, 2))},
      {"no pixel byte", Picture(12, 100, "")},
      {"bytes after the picture", Picture(16, 8, RandomBytes(16 * 8 + 40, 3))},
  };
  if (!std::string_view(FFMPEG).empty()) {
    const std::string image = dir_ + "/pattern.png";
    Ffmpeg({"-f", "lavfi", "-i", "testsrc=size=200x120", "-frames:v", "1", image});
    cases.emplace_back("to-rastel of a test pattern", RunProgram({TO_RASTEL, image}).out);
  }
  for (const auto& [name, file] : cases) {
    const ImageHeader header = HeaderFromBytes(reinterpret_cast<const std::uint8_t*>(file.data()));
    const QSize own(header.width, header.height);
    const PictureSize fit = FitWithin(header.width, header.height, 64);
    for (const QSize asked : {QSize(), QSize(fit.width, fit.height)}) {
      const QSize size = asked.isValid() ? asked : own;
      QBuffer buffer;
      for (const auto& reader : ReadersOf(file, buffer)) {
        SCOPED_TRACE(name + " from " + reader->fileName().toStdString() + " at " + std::to_string(size.width()));
        EXPECT_EQ(reader->format(), "rastel");
        EXPECT_EQ(reader->size(), own);
        reader->setScaledSize(asked);
        const QImage image = reader->read();
        EXPECT_EQ(image.size(), size) << reader->errorString().toStdString();
        EXPECT_TRUE(RgbOf(image) == Reference(file, size));
      }
    }
  }
}

TEST_F(QtPluginTest, RefusesWhatTheOtherRoutesRefuseAndReadsTheLargestSizeOnlyAtASmallerOne) {
  for (const HostileFile& hostile : HostileFiles()) {
    SCOPED_TRACE(hostile.name);
    QImageReader reader(QString::fromStdString(WriteFile("picture.rastel", hostile.bytes)));
    EXPECT_TRUE(reader.read().isNull());
  }
  // Beyond what Qt gives an image at its own size; at 256, all the colour of
  // its one byte.
  const std::string largest = WriteFile("largest.rastel", Picture(kMaxSide, kMaxSide, "\xE0"));
  EXPECT_TRUE(QImageReader(QString::fromStdString(largest)).read().isNull());
  QImageReader reader(QString::fromStdString(largest));
  reader.setScaledSize(QSize(256, 256));
  std::vector<std::uint8_t> red;
  for (int pixel = 0; pixel < 256 * 256; ++pixel) {
    red.insert(red.end(), {224, 0, 0});
  }
  EXPECT_TRUE(RgbOf(reader.read()) == red);
}

// Gwenview opens the picture, named as a user's would be, and shows it at
// its own size: the X server holds every pixel of it in Gwenview's window.
// It knows the file type from a MIME database of the build's own.
TEST_F(QtPluginTest, GwenviewShowsThePicture) {
  if (std::string_view(GWENVIEW).empty()) {
    GTEST_SKIP() << "this release's Gwenview is built on the other Qt, whose suite opens it";
  }
  constexpr int kWidth = 64;
  constexpr int kHeight = 48;
  const std::string file = Picture(kWidth, kHeight, RandomBytes(std::size_t{kWidth} * kHeight, 9));
  std::string said;
  EXPECT_TRUE(ViewerShowsPicture(
      {GWENVIEW, WriteFile("picture.rastel", file)},
      {"HOME=" + dir_, "XDG_RUNTIME_DIR=" + dir_, std::string("XDG_DATA_DIRS=") + MIME_DATA_DIR + ":/usr/share",
       std::string("QT_PLUGIN_PATH=") + QT_PLUGINS, "QT_QPA_PLATFORM=xcb",
       "DBUS_SESSION_BUS_ADDRESS=disabled:", AsanOptionsAllowingPreload()},
      Reference(file, QSize(kWidth, kHeight)), kWidth, said))
      << "no window of Gwenview showed the picture; it said: " << said;
}

}  // namespace
