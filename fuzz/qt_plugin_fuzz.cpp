// SPDX-License-Identifier: MIT
// Reads any file through the Qt plugin's reading as its handler does, from
// a stream that hands the bytes over in pieces of any size, at any size
// asked. Looking at the first bytes and the size must never mistake them,
// must tell them where the stream gives them at once, and must take
// nothing; the read must end in
// the reference's picture at the size asked exactly when the file holds a
// picture the viewer shows and no side of 0 is asked, and in false
// otherwise.
//
// Input: options, asked width, asked height, plan length, the plan (piece
// sizes), then the file itself.

#include <QIODevice>
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "decoder.h"
#include "image_format.h"
#include "picture_reference.h"
#include "qt_picture.h"

namespace {

constexpr std::size_t kControlBytes = 4;
constexpr std::size_t kMaxPlan = 8;
constexpr std::uint8_t kOwnSize = 0x01;  // options bit: no size asked, up to kLargest on a side
constexpr int kLargest = 256;
// The reference takes a pixel at a time: a picture larger than this, which
// a short file may claim, is checked for its size alone, or one input
// would take minutes.
constexpr std::int64_t kLargestChecked = std::int64_t{1} << 22;

[[noreturn]] void Fail(const char* what) {
  static_cast<void>(std::fprintf(stderr, "qt_plugin_fuzz: %s\n", what));
  std::abort();
}

// A stream such as a socket or a pipe: it cannot seek, hands over what the
// plan says at a time, and says -1 once closed.
class PiecesDevice final : public QIODevice {
 public:
  PiecesDevice(const std::uint8_t* bytes, std::size_t size, const std::vector<std::uint8_t>& plan)
      : bytes_(bytes), size_(size), plan_(plan) {}
  bool isSequential() const override { return true; }
  qint64 bytesAvailable() const override { return static_cast<qint64>(size_ - at_) + QIODevice::bytesAvailable(); }

 protected:
  qint64 readData(char* data, qint64 most) override {
    if (at_ == size_) {
      return -1;
    }
    std::size_t count = plan_.empty() ? size_ : std::max<std::size_t>(plan_[piece_++ % plan_.size()], 1);
    count = std::min({count, size_ - at_, static_cast<std::size_t>(most)});
    std::memcpy(data, bytes_ + at_, count);
    at_ += count;
    return static_cast<qint64>(count);
  }
  qint64 writeData(const char* /*data*/, qint64 /*count*/) override { return -1; }

 private:
  const std::uint8_t* bytes_;
  std::size_t size_;
  std::vector<std::uint8_t> plan_;
  std::size_t at_ = 0;
  std::size_t piece_ = 0;
};

void CheckPicture(const QImage& image, QSize size, const ImageHeader& header, const std::uint8_t* file,
                  std::size_t file_size) {
  if (image.size() != size || image.format() != QImage::Format_RGB888) {
    Fail("the picture is not RGB at the size asked");
  }
  if (size.width() > header.width || size.height() > header.height ||
      std::int64_t{header.width} * header.height > kLargestChecked) {
    return;  // Qt's own scaling made it larger, or the reference would take too long
  }
  const std::vector<std::uint8_t> expected = ReducedReference(file + kHeaderSize, file_size - kHeaderSize, header.width,
                                                              header.height, size.width(), size.height());
  const auto row = static_cast<std::ptrdiff_t>(size.width()) * static_cast<std::ptrdiff_t>(kRgbBytes);
  for (int y = 0; y < size.height(); ++y) {
    if (!std::equal(image.constScanLine(y), image.constScanLine(y) + row, expected.begin() + y * row)) {
      Fail("a row of the picture differs from the reference's");
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < kControlBytes) {
    return 0;
  }
  const std::size_t plan_size = std::min<std::size_t>(data[3] % (kMaxPlan + 1), size - kControlBytes);
  const std::vector<std::uint8_t> plan(data + kControlBytes, data + kControlBytes + plan_size);
  const std::uint8_t* const file = data + kControlBytes + plan_size;
  const std::size_t file_size = size - kControlBytes - plan_size;
  const ImageHeader header = file_size >= kHeaderSize ? HeaderFromBytes(file) : ImageHeader{};
  const bool picture = file_size >= kHeaderSize && header.magic == kMagic && HasDrawableSize(header);

  QSize asked(data[1], data[2]);
  if ((data[0] & kOwnSize) != 0 && picture) {
    const PictureSize fit = FitWithin(header.width, header.height, kLargest);
    asked = fit.width == header.width && fit.height == header.height ? QSize() : QSize(fit.width, fit.height);
  }
  PiecesDevice device(file, file_size, plan);
  device.open(QIODevice::ReadOnly);
  // A stream gives a look only what has arrived, which may be less than a
  // header: then the look says nothing.
  const QSize peeked = PeekPictureSize(device);
  if (peeked.isValid() && (!picture || peeked != QSize(header.width, header.height))) {
    Fail("the size looked at first is not the header's");
  }
  const bool magic = file_size >= kFieldSize && FieldFromBytes(file) == kMagic;
  if ((StartsLikePicture(device) && !magic) || (plan.empty() && StartsLikePicture(device) != magic) ||
      (plan.empty() && peeked.isValid() != picture)) {
    Fail("the first bytes were taken for a picture's, or a picture's for not");
  }
  QImage image;
  const bool read = ReadPicture(device, asked, image);
  if (read != (picture && (!asked.isValid() || !asked.isEmpty()))) {
    Fail(read ? "a file the viewer would refuse, or no size, was read" : "a picture the viewer shows was refused");
  }
  if (read) {
    CheckPicture(image, asked.isValid() ? asked : QSize(header.width, header.height), header, file, file_size);
  }
  return 0;
}
