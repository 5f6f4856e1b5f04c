// SPDX-License-Identifier: MIT
// The Qt image plugin for rastel pictures, through which KDE's programs and
// every program that reads pictures with QImageReader open them: Gwenview,
// Dolphin's previews on Plasma 5, Okular, Krita and the rest. Qt makes one
// handler a picture; both classes only hand Qt's calls on to the free
// functions of qt_picture.h. It runs inside other people's programs on
// files nobody chose: whatever the bytes, a read ends in a picture or in
// false, and no exception leaves it.

#include <QImageIOHandler>
#include <QImageIOPlugin>
#include <new>

#include "qt_picture.h"

namespace {

constexpr const char* kFormat = "rastel";

class RastelHandler final : public QImageIOHandler {
 public:
  // Programs such as Gwenview and Dolphin name no format: Qt then asks each
  // handler whether the bytes are its own.
  bool canRead() const override {
    if (device() == nullptr || !StartsLikePicture(*device())) {
      return false;
    }
    setFormat(kFormat);
    return true;
  }

  bool read(QImage* image) override {
    return image != nullptr && device() != nullptr && ReadPicture(*device(), scaled_size_, *image);
  }

  bool supportsOption(ImageOption option) const override {
    return option == Size || option == ScaledSize || option == ImageFormat;
  }

  QVariant option(ImageOption option) const override {
    if (option == Size && device() != nullptr) {
      const QSize size = PeekPictureSize(*device());
      return size.isValid() ? QVariant(size) : QVariant();
    }
    if (option == ScaledSize) {
      return scaled_size_;
    }
    if (option == ImageFormat) {
      return QImage::Format_RGB888;
    }
    return {};
  }

  void setOption(ImageOption option, const QVariant& value) override {
    if (option == ScaledSize) {
      scaled_size_ = value.toSize();
    }
  }

 private:
  QSize scaled_size_;
};

}  // namespace

class RastelPlugin final : public QImageIOPlugin {
  Q_OBJECT
  Q_PLUGIN_METADATA(IID "org.qt-project.Qt.QImageIOHandlerFactoryInterface" FILE "rastel.json")

 public:
  Capabilities capabilities(QIODevice* device, const QByteArray& format) const override {
    if (format == kFormat) {
      return CanRead;
    }
    if (!format.isEmpty() || device == nullptr || !device->isReadable()) {
      return {};
    }
    return StartsLikePicture(*device) ? Capabilities(CanRead) : Capabilities();
  }

  // Qt gives up on the picture where no handler is made.
  QImageIOHandler* create(QIODevice* device, const QByteArray& format) const override {
    auto* const handler = new (std::nothrow) RastelHandler;
    if (handler != nullptr) {
      handler->setDevice(device);
      handler->setFormat(format.isEmpty() ? QByteArray(kFormat) : format);
    }
    return handler;
  }
};

#include "plugin.moc"
