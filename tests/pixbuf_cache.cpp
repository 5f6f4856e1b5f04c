// SPDX-License-Identifier: MIT
#include "pixbuf_cache.h"

#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <vector>

#include "run_program.h"

void UseBuiltLoader(const std::string& cache, const std::string& mime_data_dir) {
  std::vector<std::string> query = {PIXBUF_QUERY_LOADERS};
  // Debian 14's gdk-pixbuf reads most formats through glycin and has no
  // module of its own left.
  std::error_code none;
  for (const auto& entry : std::filesystem::directory_iterator(PIXBUF_MODULE_DIR, none)) {
    if (entry.path().extension() == ".so") {
      query.push_back(entry.path());
    }
  }
  query.emplace_back(PIXBUF_LOADER);
  // The sanitizer build's module is loaded into a program built without
  // them, which is fine for reading what it says of itself.
  const char* const asan_options = std::getenv("ASAN_OPTIONS");
  const std::string allow = std::string("ASAN_OPTIONS=") + (asan_options != nullptr ? asan_options : "") +
                            ":verify_asan_link_order=0:detect_leaks=0";
  const ProgramResult made = RunProgram(query, {allow}, cache);
  if (made.exit_status != 0) {
    throw std::runtime_error("gdk-pixbuf-query-loaders failed: " + made.err);
  }
  setenv("GDK_PIXBUF_MODULE_FILE", cache.c_str(), 1);
  setenv("XDG_DATA_DIRS", (mime_data_dir + ":/usr/share").c_str(), 1);
}
