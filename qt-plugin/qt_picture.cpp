// SPDX-License-Identifier: MIT
#include "qt_picture.h"

#include <QImageIOHandler>
#include <array>
#include <cstdint>

#include "decoder.h"
#include "image_format.h"
#include "picture_file.h"

namespace {

// Reads cost little a call at this size, and memory stays that of the
// result.
constexpr qint64 kReadSize = qint64{64} * 1024;

// Up to `count` bytes, fewer only where the data ends; -1 on a read error.
// A stream that has closed may say -1 where a file says 0: it has ended.
qint64 ReadUpTo(QIODevice& device, std::uint8_t* buffer, qint64 count) {
  qint64 done = 0;
  while (done < count) {
    const qint64 got = device.read(reinterpret_cast<char*>(buffer) + done, count - done);
    if (got < 0 && !device.atEnd()) {
      return -1;
    }
    if (got <= 0) {
      break;
    }
    done += got;
  }
  return done;
}

bool HeaderIsPicture(const std::array<std::uint8_t, kHeaderSize>& bytes, qint64 count, ImageHeader& header) {
  Problem why{};
  return count == static_cast<qint64>(kHeaderSize) && CheckHeader(bytes.data(), kHeaderSize, header, why);
}

// Qt 6 holds every image a reader makes to the reader's allocation limit.
// Qt 5 has none: a 13-byte file that claims 32767 x 32767 would take 3 GiB
// and seconds of filling in every program that opens it, so it gets the
// limit Qt 6 has by default since 6.5.
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
bool AllocateImage(QSize size, QImage& image) {
  return QImageIOHandler::allocateImage(size, QImage::Format_RGB888, &image);
}
#else
constexpr qint64 kLargestImageBytes = qint64{256} * 1024 * 1024;

bool AllocateImage(QSize size, QImage& image) {
  if (qint64{size.width()} * static_cast<qint64>(kRgbBytes) * size.height() > kLargestImageBytes) {
    return false;
  }
  image = QImage(size, QImage::Format_RGB888);
  return !image.isNull();
}
#endif

// The pixel data, from where the device stands, at `size`, which is no
// larger than the picture.
bool Decode(QIODevice& device, const ImageHeader& header, QSize size, QImage& image) {
  PictureDecoder decoder{};
  if (!AllocateImage(size, image) ||
      !StartDecoding(decoder, {header.width, header.height}, {size.width(), size.height()}, image.bits(),
                     static_cast<std::size_t>(image.bytesPerLine()))) {
    return false;
  }
  std::array<std::uint8_t, kReadSize> buffer{};
  qint64 got = 0;
  while (!AllPixelsTaken(decoder) && (got = ReadUpTo(device, buffer.data(), kReadSize)) > 0) {
    TakePixels(decoder, buffer.data(), static_cast<std::size_t>(got));
  }
  if (got >= 0) {
    FinishDecoding(decoder);
  }
  StopDecoding(decoder);
  return got >= 0;
}

}  // namespace

bool StartsLikePicture(QIODevice& device) {
  std::array<std::uint8_t, kFieldSize> bytes{};
  return device.peek(reinterpret_cast<char*>(bytes.data()), kFieldSize) == static_cast<qint64>(kFieldSize) &&
         FieldFromBytes(bytes.data()) == kMagic;
}

QSize PeekPictureSize(QIODevice& device) {
  std::array<std::uint8_t, kHeaderSize> bytes{};
  ImageHeader header{};
  if (!HeaderIsPicture(bytes, device.peek(reinterpret_cast<char*>(bytes.data()), kHeaderSize), header)) {
    return {};
  }
  return {header.width, header.height};
}

bool ReadPicture(QIODevice& device, QSize asked, QImage& image) {
  std::array<std::uint8_t, kHeaderSize> bytes{};
  ImageHeader header{};
  if (!HeaderIsPicture(bytes, ReadUpTo(device, bytes.data(), kHeaderSize), header)) {
    return false;
  }
  const QSize own(header.width, header.height);
  if (!asked.isValid()) {
    asked = own;
  }
  QImage decoded;
  if (asked.isEmpty() || !Decode(device, header, asked.boundedTo(own), decoded)) {
    return false;
  }
  if (decoded.size() != asked) {
    decoded = decoded.scaled(asked, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
  }
  if (decoded.isNull()) {
    return false;
  }
  image = decoded;
  return true;
}
