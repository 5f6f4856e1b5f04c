// SPDX-License-Identifier: MIT
// The gdk-pixbuf module for rastel pictures, through which every program
// that reads pictures with gdk-pixbuf opens them: Eye of GNOME, Ristretto,
// gThumb, geeqie and the rest. A load is one context, made by BeginLoad, fed
// by LoadIncrement with pieces of any size, ended by StopLoad; the picture is
// decoded straight into a pixbuf of the size the caller asks for, so that
// memory follows that size, not the one a file claims. It runs inside other
// people's programs on files nobody chose: whatever the bytes and however
// they are cut, it ends in a picture or a GError, nothing else. At a
// smaller size each pixel is the mean of those it covers.

#define GDK_PIXBUF_ENABLE_BACKEND
#include <gdk-pixbuf/gdk-pixbuf-io.h>
#undef GDK_PIXBUF_ENABLE_BACKEND

#include <sys/mman.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>

#include "decoder.h"
#include "image_format.h"
#include "picture_file.h"

namespace {

struct LoadContext {
  GdkPixbufModuleSizeFunc size_func;
  GdkPixbufModulePreparedFunc prepared_func;
  GdkPixbufModuleUpdatedFunc updated_func;
  gpointer user_data;
  std::uint8_t header[kHeaderSize];
  std::size_t header_bytes;
  bool failed;
  GdkPixbuf* pixbuf;  // made once the header is read
  PictureDecoder decoder;
  std::int32_t rows_shown;  // rows the updated callback was told of, from the bottom up
};

void FreePixels(guchar* pixels, gpointer bytes) { munmap(pixels, GPOINTER_TO_SIZE(bytes)); }

// A picture's pixels are thousands of pages, and the kernel's work when each
// is first touched costs more than decoding them (on a virtual machine here,
// 150 ms for a 4096 x 4096 picture against 20 ms); huge pages, where the
// kernel gives them, cut it to a few dozen touches. The memory comes zeroed:
// black, as the viewer shows a pixel it has no byte for, until its row
// arrives. Rows are aligned as gdk-pixbuf aligns its own.
GdkPixbuf* NewPixbuf(int width, int height) {
  const std::uint64_t rowstride =
      (std::uint64_t{static_cast<std::uint32_t>(width)} * kRgbBytes + 3) & ~std::uint64_t{3};
  const std::uint64_t bytes = rowstride * static_cast<std::uint32_t>(height);
  if (bytes > std::numeric_limits<std::size_t>::max()) {
    return nullptr;
  }
  void* const pixels = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (pixels == MAP_FAILED) {
    return nullptr;
  }
  static_cast<void>(madvise(pixels, bytes, MADV_HUGEPAGE));
  return gdk_pixbuf_new_from_data(static_cast<guchar*>(pixels), GDK_COLORSPACE_RGB, FALSE, 8, width, height,
                                  static_cast<int>(rowstride), FreePixels, GSIZE_TO_POINTER(bytes));
}

bool Refuse(LoadContext* context, GError** error, GdkPixbufError code, const char* message) {
  context->failed = true;
  g_set_error_literal(error, GDK_PIXBUF_ERROR, code, message);
  return false;
}

// The caller's size function may ask for another size, for none at all
// (gdk_pixbuf_get_file_info wants only the picture's) or for a larger one,
// which gdk-pixbuf then scales up from the picture's own.
bool MakePixbuf(LoadContext* context, const ImageHeader& header, GError** error) {
  int width = header.width;
  int height = header.height;
  if (context->size_func != nullptr) {
    context->size_func(&width, &height, context->user_data);
  }
  if (width <= 0 || height <= 0) {
    return Refuse(context, error, GDK_PIXBUF_ERROR_FAILED, "No size was asked of the rastel picture");
  }
  const PictureSize size = {std::min(width, header.width), std::min(height, header.height)};
  context->pixbuf = NewPixbuf(size.width, size.height);
  if (context->pixbuf == nullptr ||
      !StartDecoding(context->decoder, {header.width, header.height}, size, gdk_pixbuf_get_pixels(context->pixbuf),
                     static_cast<std::size_t>(gdk_pixbuf_get_rowstride(context->pixbuf)))) {
    return Refuse(context, error, GDK_PIXBUF_ERROR_INSUFFICIENT_MEMORY,
                  "Not enough memory for the rastel picture at the size asked");
  }
  if (context->prepared_func != nullptr) {
    context->prepared_func(context->pixbuf, nullptr, context->user_data);
  }
  return true;
}

bool ReadHeader(LoadContext* context, GError** error) {
  ImageHeader header{};
  Problem problem{};
  if (!CheckHeader(context->header, context->header_bytes, header, problem)) {
    char message[sizeof problem + 16];
    static_cast<void>(std::snprintf(message, sizeof message, "The file %s", problem.data()));
    return Refuse(context, error, GDK_PIXBUF_ERROR_CORRUPT_IMAGE, message);
  }
  return MakePixbuf(context, header, error);
}

// The rows decoded since the last call, which come from the bottom up.
void ShowNewRows(LoadContext* context) {
  const std::int32_t done = context->decoder.rows_done;
  if (done > context->rows_shown && context->updated_func != nullptr) {
    const PictureSize size = context->decoder.result;
    context->updated_func(context->pixbuf, 0, size.height - done, size.width, done - context->rows_shown,
                          context->user_data);
  }
  context->rows_shown = done;
}

gpointer BeginLoad(GdkPixbufModuleSizeFunc size_func, GdkPixbufModulePreparedFunc prepared_func,
                   GdkPixbufModuleUpdatedFunc updated_func, gpointer user_data, GError** /*error*/) {
  auto* const context = g_new0(LoadContext, 1);
  context->size_func = size_func;
  context->prepared_func = prepared_func;
  context->updated_func = updated_func;
  context->user_data = user_data;
  return context;
}

gboolean LoadIncrement(gpointer data, const guchar* bytes, guint size, GError** error) {
  auto* const context = static_cast<LoadContext*>(data);
  if (context->failed) {
    g_set_error_literal(error, GDK_PIXBUF_ERROR, GDK_PIXBUF_ERROR_FAILED, "The rastel picture has failed to load");
    return FALSE;
  }
  if (context->pixbuf == nullptr) {
    const std::size_t count = std::min<std::size_t>(size, kHeaderSize - context->header_bytes);
    std::memcpy(context->header + context->header_bytes, bytes, count);
    context->header_bytes += count;
    bytes += count;
    size -= static_cast<guint>(count);
    if (context->header_bytes < kHeaderSize) {
      return TRUE;
    }
    if (!ReadHeader(context, error)) {
      return FALSE;
    }
  }
  TakePixels(context->decoder, bytes, size);
  ShowNewRows(context);
  return TRUE;
}

// A picture whose data ends early is whole once the rest takes the last
// byte's colour.
gboolean StopLoad(gpointer data, GError** error) {
  auto* const context = static_cast<LoadContext*>(data);
  bool loaded = !context->failed;
  if (loaded && context->pixbuf == nullptr) {
    loaded = ReadHeader(context, error);
  }
  if (loaded) {
    FinishDecoding(context->decoder);
    ShowNewRows(context);
  }
  StopDecoding(context->decoder);
  g_clear_object(&context->pixbuf);
  g_free(context);
  return loaded ? TRUE : FALSE;
}

}  // namespace

extern "C" {

G_MODULE_EXPORT void fill_vtable(GdkPixbufModule* module) {
  module->begin_load = BeginLoad;
  module->stop_load = StopLoad;
  module->load_increment = LoadIncrement;
}

// gdk-pixbuf keeps pointers to these for as long as it runs.
G_MODULE_EXPORT void fill_info(GdkPixbufFormat* info) {
  static GdkPixbufModulePattern signature[] = {{const_cast<char*>("\x37\x13\xAD\xDE"), nullptr, 100},
                                               {nullptr, nullptr, 0}};
  static const gchar* mime_types[] = {"image/x-rastel", nullptr};
  static const gchar* extensions[] = {"rastel", nullptr};
  info->name = const_cast<gchar*>("rastel");
  info->signature = signature;
  info->description = const_cast<gchar*>("rastel picture");
  info->mime_types = const_cast<gchar**>(mime_types);
  info->extensions = const_cast<gchar**>(extensions);
  info->flags = GDK_PIXBUF_FORMAT_THREADSAFE;
  info->license = const_cast<gchar*>("MIT");
}

}  // extern "C"
