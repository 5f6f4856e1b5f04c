// SPDX-License-Identifier: MIT
#pragma once

#include <string>

// Makes gdk-pixbuf read pictures through the built loader, as an installed
// one is read: writes at `cache` the loaders' cache that
// gdk-pixbuf-query-loaders makes of the system's modules and the built one,
// and points this process's gdk-pixbuf at it and GIO at the file type in
// `mime_data_dir`. Call it before gdk-pixbuf first loads anything: both
// read their settings once. Throws when the cache cannot be made.
void UseBuiltLoader(const std::string& cache, const std::string& mime_data_dir);
