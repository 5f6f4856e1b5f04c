// SPDX-License-Identifier: MIT
#pragma once

// What the Qt image plugin does with the device Qt hands it, as free
// functions, which the plugin's two classes only call: the tests and the
// fuzz harness call them as the handler does.

#include <QIODevice>
#include <QImage>
#include <QSize>

// Whether the device's next bytes are the magic value a picture begins
// with, looked at without taking them.
bool StartsLikePicture(QIODevice& device);

// The size of the picture whose header the device holds next, looked at
// without taking it; an invalid size where that is no picture rastel shows.
QSize PeekPictureSize(QIODevice& device);

// Reads the picture the device holds next at `asked`, or at its own size
// where `asked` is invalid. A side smaller than the picture's is averaged
// as the thumbnailer does, in pieces as they are read, so that memory
// follows the result; a larger one is Qt's smooth scaling of the picture.
// False, with `image` as it was, for anything that is not a picture rastel
// shows, a size with a side of 0, a read error or a lack of memory.
bool ReadPicture(QIODevice& device, QSize asked, QImage& image);
