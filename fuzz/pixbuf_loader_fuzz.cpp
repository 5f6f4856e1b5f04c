// SPDX-License-Identifier: MIT
// Calls the gdk-pixbuf module's own entry points as gdk-pixbuf does, with
// any file, cut into any pieces, and any size asked through the size
// function. The load must end either in a picture that is the reference's at
// the size asked, announced once and with every updated area inside it, or
// in a GError of GDK_PIXBUF_ERROR, and in the error exactly when the file
// holds no picture the viewer would show or no size was asked.
//
// Input: options, asked width, asked height, plan length, the plan (piece
// sizes; 0 for a call with no bytes, then one of a byte), then the file
// itself.

#define GDK_PIXBUF_ENABLE_BACKEND
#include <gdk-pixbuf/gdk-pixbuf-io.h>
#undef GDK_PIXBUF_ENABLE_BACKEND

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "image_format.h"
#include "picture_reference.h"

extern "C" void fill_vtable(GdkPixbufModule* module);

namespace {

constexpr std::size_t kControlBytes = 4;
constexpr std::size_t kMaxPlan = 8;
constexpr std::uint8_t kOwnSize = 0x01;  // options bit: ask for the picture's own size, up to kLargestAsked
constexpr int kLargestAsked = 256;

[[noreturn]] void Fail(const char* what) {
  static_cast<void>(std::fprintf(stderr, "pixbuf_loader_fuzz: %s\n", what));
  std::abort();
}

struct Load {
  std::uint8_t options;
  int asked_width;
  int asked_height;
  GdkPixbuf* pixbuf;
  int prepared;
};

void AskSize(gint* width, gint* height, gpointer data) {
  const auto* const load = static_cast<Load*>(data);
  if ((load->options & kOwnSize) != 0) {
    *width = std::min(*width, kLargestAsked);
    *height = std::min(*height, kLargestAsked);
  } else {
    *width = load->asked_width;
    *height = load->asked_height;
  }
}

void Prepared(GdkPixbuf* pixbuf, GdkPixbufAnimation* /*animation*/, gpointer data) {
  auto* const load = static_cast<Load*>(data);
  if (load->prepared++ > 0) {
    Fail("the picture was announced twice");
  }
  load->pixbuf = GDK_PIXBUF(g_object_ref(pixbuf));
}

void Updated(GdkPixbuf* pixbuf, int x, int y, int width, int height, gpointer data) {
  const auto* const load = static_cast<Load*>(data);
  if (pixbuf != load->pixbuf || x < 0 || y < 0 || width <= 0 || height <= 0 ||
      x + width > gdk_pixbuf_get_width(pixbuf) || y + height > gdk_pixbuf_get_height(pixbuf)) {
    Fail("an updated area does not lie in the picture announced");
  }
}

// Whether the file holds a picture the viewer shows and a size was asked.
bool ShouldLoad(const Load& load, const std::uint8_t* file, std::size_t size) {
  if (size < kHeaderSize) {
    return false;
  }
  const ImageHeader header = HeaderFromBytes(file);
  const bool asked = (load.options & kOwnSize) != 0 || (load.asked_width > 0 && load.asked_height > 0);
  return header.magic == kMagic && HasDrawableSize(header) && asked;
}

void CheckPicture(const Load& load, const std::uint8_t* file, std::size_t size) {
  const ImageHeader header = HeaderFromBytes(file);
  const int width = gdk_pixbuf_get_width(load.pixbuf);
  const int height = gdk_pixbuf_get_height(load.pixbuf);
  const int asked_width = (load.options & kOwnSize) != 0 ? std::min(header.width, kLargestAsked) : load.asked_width;
  const int asked_height = (load.options & kOwnSize) != 0 ? std::min(header.height, kLargestAsked) : load.asked_height;
  if (width != std::min(asked_width, header.width) || height != std::min(asked_height, header.height) ||
      gdk_pixbuf_get_n_channels(load.pixbuf) != 3 || gdk_pixbuf_get_has_alpha(load.pixbuf) != FALSE) {
    Fail("the picture is not RGB at the size asked");
  }
  const std::vector<std::uint8_t> expected =
      ReducedReference(file + kHeaderSize, size - kHeaderSize, header.width, header.height, width, height);
  const guint8* const pixels = gdk_pixbuf_read_pixels(load.pixbuf);
  const auto row = static_cast<std::ptrdiff_t>(width) * static_cast<std::ptrdiff_t>(kRgbBytes);
  for (int y = 0; y < height; ++y) {
    const guint8* const start = pixels + static_cast<std::ptrdiff_t>(y) * gdk_pixbuf_get_rowstride(load.pixbuf);
    if (!std::equal(start, start + row, expected.begin() + y * row)) {
      Fail("a row of the picture differs from the reference's");
    }
  }
}

}  // namespace

// GLib says of a loader that breaks its rules, setting an error twice, say,
// only in a warning.
extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  g_log_set_always_fatal(static_cast<GLogLevelFlags>(G_LOG_LEVEL_WARNING | G_LOG_LEVEL_CRITICAL));
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < kControlBytes) {
    return 0;
  }
  Load load = {data[0], data[1], data[2], nullptr, 0};
  const std::size_t plan_size = std::min<std::size_t>(data[3] % (kMaxPlan + 1), size - kControlBytes);
  const std::vector<std::uint8_t> plan(data + kControlBytes, data + kControlBytes + plan_size);
  const std::uint8_t* const file = data + kControlBytes + plan_size;
  const std::size_t file_size = size - kControlBytes - plan_size;

  GdkPixbufModule module = {};
  fill_vtable(&module);
  GError* error = nullptr;
  gpointer context = module.begin_load(AskSize, Prepared, Updated, &load, &error);
  bool fed = true;
  for (std::size_t at = 0, piece = 0; fed && at < file_size; ++piece) {
    std::size_t count = plan.empty() ? file_size : plan[piece % plan.size()];
    if (count == 0) {
      fed = module.load_increment(context, file + at, 0, &error) != FALSE;
      count = 1;
    }
    count = std::min(count, file_size - at);
    fed = fed && module.load_increment(context, file + at, static_cast<guint>(count), &error) != FALSE;
    at += count;
  }
  // gdk-pixbuf stops a load that failed without asking for another error.
  const bool loaded = module.stop_load(context, fed ? &error : nullptr) != FALSE && fed;
  if (loaded != ShouldLoad(load, file, file_size)) {
    Fail(loaded ? "a file the viewer would refuse was loaded" : "a picture the viewer shows was refused");
  }
  if (!loaded && (error == nullptr || error->domain != GDK_PIXBUF_ERROR)) {
    Fail("a refusal is not a GError of GDK_PIXBUF_ERROR");
  }
  if (loaded && (error != nullptr || load.prepared != 1)) {
    Fail("a loaded picture left an error or was not announced once");
  }
  if (loaded) {
    CheckPicture(load, file, file_size);
  }
  g_clear_error(&error);
  if (load.pixbuf != nullptr) {
    g_object_unref(load.pixbuf);
  }
  return 0;
}
