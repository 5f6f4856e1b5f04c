# SPDX-License-Identifier: MIT
# The fuzz harnesses, fuzz/NAME_fuzz.cpp, each with the libraries it links
# (the loader's and the Qt plugin's where they are built: the plugin's on
# Qt 6 where it is, the code being the same on both): the fuzz build makes them, every test build replays their inputs, and
# scripts/fuzz and scripts/fuzz-coverage run what the fuzz build made.
set(FUZZ_HARNESSES render hex_format decoder)
set(FUZZ_LIBRARIES_render rastel_render render_reference)
set(FUZZ_LIBRARIES_hex_format hex_format hex_reference)
set(FUZZ_LIBRARIES_decoder picture picture_reference)
if(BUILD_PIXBUF_LOADER)
  list(APPEND FUZZ_HARNESSES pixbuf_loader)
  set(FUZZ_LIBRARIES_pixbuf_loader pixbuf_loader picture_reference)
endif()
if(BUILD_QT6_PLUGIN)
  list(APPEND FUZZ_HARNESSES qt_plugin)
  set(FUZZ_LIBRARIES_qt_plugin qt6_picture picture_reference)
elseif(BUILD_QT5_PLUGIN)
  list(APPEND FUZZ_HARNESSES qt_plugin)
  set(FUZZ_LIBRARIES_qt_plugin qt5_picture picture_reference)
endif()
