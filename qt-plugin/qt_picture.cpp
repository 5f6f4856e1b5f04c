// SPDX-License-Identifier: MIT
#include "qt_picture.h"

#include <sys/mman.h>

#include <QImageReader>
#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>

#include "decoder.h"
#include "image_format.h"
#include "picture_file.h"

namespace {

// Reads cost little a call at this size, and memory stays that of the
// result.
constexpr qint64 kReadSize = qint64{64} * 1024;
constexpr qint64 kMebibyte = qint64{1024} * 1024;

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
qint64 LargestImageBytes() {
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
  const qint64 mebibytes = QImageReader::allocationLimit();
  return mebibytes > 0 ? mebibytes * kMebibyte : std::numeric_limits<qint64>::max();
#else
  return qint64{256} * kMebibyte;
#endif
}

// The huge page size of x86-64, and of arm64 with 4 KiB pages.
constexpr std::uintptr_t kHugePageSize = std::uintptr_t{2} * 1024 * 1024;

// The mapping begins with its length, where Qt's cleanup finds it.
void Unmap(void* mapping) { static_cast<void>(munmap(mapping, *static_cast<std::size_t*>(mapping))); }

// A picture's pixels are thousands of pages, and the kernel's work when each
// is first touched costs more than decoding them, as for the gdk-pixbuf
// loader; huge pages, where the kernel gives them, cut that to a few dozen
// touches. The kernel places the mapping at any page, but makes a huge page
// only of whole aligned ones: the pixels start at the first boundary past
// the length's page, where up to 512 pages of them were otherwise touched one
// by one. Rows are aligned as Qt aligns its own.
bool AllocateImage(QSize size, QImage& image) {
  const qint64 rowstride = (qint64{size.width()} * static_cast<qint64>(kRgbBytes) + 3) & ~qint64{3};
  const qint64 bytes = rowstride * size.height();
  if (bytes > LargestImageBytes()) {
    return false;
  }
  const std::size_t length = static_cast<std::size_t>(bytes) + kHugePageSize;
  void* const mapping = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mapping == MAP_FAILED) {
    return false;
  }
  *static_cast<std::size_t*>(mapping) = length;
  uchar* const pixels =
      static_cast<uchar*>(mapping) + (kHugePageSize - reinterpret_cast<std::uintptr_t>(mapping) % kHugePageSize);
  static_cast<void>(madvise(pixels, static_cast<std::size_t>(bytes), MADV_HUGEPAGE));
  image =
      QImage(pixels, size.width(), size.height(), static_cast<int>(rowstride), QImage::Format_RGB888, Unmap, mapping);
  if (image.isNull()) {
    Unmap(mapping);
    return false;
  }
  return true;
}

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
