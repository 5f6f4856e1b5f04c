# SPDX-License-Identifier: MIT
# The Debian packages, for the architecture the build is for: bytel; rastel
# with the commands that make and export pictures, the thumbnailer and the
# file type; rastel-gdk-pixbuf, the loader, named as Debian's own
# heif-gdk-pixbuf and libavif-gdk-pixbuf are; and where they are built (not
# yet in the builds for other architectures), the Qt image plugins,
# qt5-image-formats-plugin-rastel and qt6-image-formats-plugin-rastel, named
# as Debian names a Qt image plugin of one format
# (qt6-image-formats-plugin-pdf). Each takes its component of the install, and what only a package wants, left out of a plain install by
# EXCLUDE_FROM_ALL: the manual pages gzipped, Debian's own files, and the
# programs and the module stripped.
if(NOT BUILD_THUMBNAILER OR NOT BUILD_PIXBUF_LOADER)
  message(FATAL_ERROR "The packages hold rastel-thumbnailer and the gdk-pixbuf loader: configure with THUMBNAILER=ON "
                      "and PIXBUF_LOADER=ON, with libpng-dev and libgdk-pixbuf-2.0-dev installed")
endif()

# The version is said once, in project(); the changelog's newest entry must
# be that release's first package of it.
file(STRINGS ${PROJECT_SOURCE_DIR}/packaging/changelog newest_entry LIMIT_COUNT 1)
if(NOT newest_entry MATCHES "^rastel-bytel \\(${PROJECT_VERSION}-1\\) ")
  message(FATAL_ERROR "packaging/changelog's newest entry is not for ${PROJECT_VERSION}-1: ${newest_entry}")
endif()

set(compressed ${CMAKE_BINARY_DIR}/compressed)
file(MAKE_DIRECTORY ${compressed})
function(add_gzipped source output)
  add_custom_command(OUTPUT ${output} COMMAND gzip -9 -n -c ${source} > ${output} DEPENDS ${source} VERBATIM)
endfunction()
add_gzipped(${PROJECT_SOURCE_DIR}/packaging/changelog ${compressed}/changelog.Debian.gz)

# What each package takes of the manual pages and the programs.
set(package_pages_bytel bytel)
set(package_programs_bytel ${CMAKE_INSTALL_BINDIR}/bytel)
set(package_pages_rastel rastel to-rastel from-rastel rastel-thumbnailer)
set(package_programs_rastel rastel to-rastel from-rastel rastel-thumbnailer)
list(TRANSFORM package_programs_rastel PREPEND ${CMAKE_INSTALL_BINDIR}/)
set(package_pages_pixbuf_loader)
set(package_programs_pixbuf_loader ${PIXBUF_LOADER_DIR}/libpixbufloader-rastel.so)
set(package_name_bytel bytel)
set(package_name_rastel rastel)
set(package_name_pixbuf_loader rastel-gdk-pixbuf)
set(packages bytel rastel pixbuf_loader)
foreach(major 5 6)
  if(BUILD_QT${major}_PLUGIN)
    list(APPEND packages qt${major}_plugin)
    set(package_pages_qt${major}_plugin)
    set(package_programs_qt${major}_plugin ${QT${major}_PLUGIN_DIR}/libqrastel.so)
    set(package_name_qt${major}_plugin qt${major}-image-formats-plugin-rastel)
  endif()
endforeach()
set(gzipped_pages)
foreach(package ${packages})
  foreach(page ${package_pages_${package}})
    add_gzipped(${PROJECT_BINARY_DIR}/man/${page}.1 ${compressed}/${page}.1.gz)
    install(FILES ${compressed}/${page}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT ${package}
            EXCLUDE_FROM_ALL)
    list(APPEND gzipped_pages ${compressed}/${page}.1.gz)
  endforeach()
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright ${compressed}/changelog.Debian.gz
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package_name_${package}} COMPONENT ${package} EXCLUDE_FROM_ALL)
  # Stripped as Debian strips its own: the symbols, and the compiler's
  # .comment and .note sections, which nothing reads.
  foreach(program ${package_programs_${package}})
    install(CODE "execute_process(COMMAND ${CMAKE_STRIP} --strip-unneeded --remove-section=.comment --remove-section=.note
                                  \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${program}\"
                                  COMMAND_ERROR_IS_FATAL ANY)"
            COMPONENT ${package} EXCLUDE_FROM_ALL)
  endforeach()
endforeach()
install(FILES ${PROJECT_SOURCE_DIR}/packaging/bytel.lintian-overrides DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides
        RENAME bytel COMPONENT bytel EXCLUDE_FROM_ALL)
add_custom_target(compressed_docs ALL DEPENDS ${compressed}/changelog.Debian.gz ${gzipped_pages})

set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${DEBIAN_ARCH})
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME rastel-bytel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL ${packages})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "The rastel-bytel developers <rastel-bytel@example.org>")
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Dependencies come from the libraries the programs load: the C library for
# bytel, SDL 1.2 and libpng as well for rastel, gdk-pixbuf and GLib for the
# loader.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Another architecture's libraries are unpacked, not installed: dpkg-shlibdeps
# finds them in their folder, and the packages they came from in its dpkg
# database.
if(FOREIGN_SYSROOT_DIR)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${FOREIGN_SYSROOT_DIR}/lib/${CMAKE_LIBRARY_ARCHITECTURE}
                                                  ${FOREIGN_SYSROOT_DIR}/usr/lib/${CMAKE_LIBRARY_ARCHITECTURE})
  set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_BINARY_DIR}/cpack-environment.cmake)
  file(WRITE ${CPACK_PROJECT_CONFIG_FILE} "set(ENV{DPKG_ADMINDIR} \"${FOREIGN_SYSROOT_DIR}/var/lib/dpkg\")
set(ENV{DEB_HOST_ARCH} ${DEBIAN_ARCH})
")
endif()

# A description's first line is the summary; CPack indents the others.
set(CPACK_DEBIAN_BYTEL_PACKAGE_NAME bytel)
set(CPACK_DEBIAN_BYTEL_PACKAGE_SECTION utils)
set(CPACK_COMPONENT_BYTEL_DESCRIPTION "hex dump that prints eight bytes to a line
bytel prints the name of a file and then every byte of it as two lowercase
hexadecimal digits and a space, eight bytes to a line, with no offsets and
no character column. It reads and writes in large blocks and is many times
faster than the common dumpers. Failures are told by the exit status.")

# CPack has no Multi-Arch field before CMake 3.31 or so; the field follows
# the section on a line of its own.
function(set_section_and_multiarch component section multiarch)
  set(CPACK_DEBIAN_${component}_PACKAGE_SECTION "${section}\nMulti-Arch: ${multiarch}" PARENT_SCOPE)
endfunction()

set(CPACK_DEBIAN_RASTEL_PACKAGE_NAME rastel)
# Its commands and file type serve programs of any architecture, such as
# the loader of another one installed beside this one.
set_section_and_multiarch(RASTEL graphics foreign)
# to-rastel runs ffmpeg.
set(CPACK_DEBIAN_RASTEL_PACKAGE_SUGGESTS ffmpeg)
set(CPACK_COMPONENT_RASTEL_DESCRIPTION "viewer for raw RGB 3-3-2 pictures
rastel shows a picture stored as a 12-byte header (a magic value, the width
and the height) and one RGB 3-3-2 byte per pixel, bottom row first. It
opens an SDL 1.2 window of the picture's size with an 8-bit surface, draws
the picture once and waits until a key is pressed or the window is closed.
to-rastel makes such pictures of any picture ffmpeg reads and from-rastel
exports them as PNG; rastel-thumbnailer gives file managers (GNOME's
Files, Thunar, Nemo, Caja) their thumbnails.")

# Installed for several architectures at once, for programs of each. gdk-pixbuf
# picks a loader by the file type that GIO guesses, which rastel brings;
# Debian's gdk-pixbuf adds the module to its cache through its own trigger,
# and takes it out on removal, save where the module was the last in its
# folder: the package's postrm does that.
set(CPACK_DEBIAN_PIXBUF_LOADER_PACKAGE_NAME rastel-gdk-pixbuf)
set_section_and_multiarch(PIXBUF_LOADER graphics same)
set(CPACK_DEBIAN_PIXBUF_LOADER_PACKAGE_DEPENDS rastel)
configure_file(${PROJECT_SOURCE_DIR}/packaging/rastel-gdk-pixbuf.postrm.in ${CMAKE_BINARY_DIR}/pixbuf-loader-scripts/postrm
               @ONLY)
set(CPACK_DEBIAN_PIXBUF_LOADER_PACKAGE_CONTROL_EXTRA ${CMAKE_BINARY_DIR}/pixbuf-loader-scripts/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_COMPONENT_PIXBUF_LOADER_DESCRIPTION "rastel pictures for every program that reads pictures with gdk-pixbuf
This gdk-pixbuf loader lets Eye of GNOME, Ristretto, gThumb, geeqie and
every other program that reads pictures through gdk-pixbuf open rastel's
raw RGB 3-3-2 pictures, whole, while they load, or straight at a smaller
size. Files that are not pictures end in an error, never a crash.")

# Installed for several architectures at once too. Qt picks the plugin by
# the bytes or by the file type, which rastel brings: Gwenview lists only the
# types its MIME database knows.
foreach(major 5 6)
  set(component QT${major}_PLUGIN)
  set(CPACK_DEBIAN_${component}_PACKAGE_NAME qt${major}-image-formats-plugin-rastel)
  set_section_and_multiarch(${component} graphics same)
  set(CPACK_DEBIAN_${component}_PACKAGE_DEPENDS rastel)
  set(CPACK_COMPONENT_${component}_DESCRIPTION "rastel pictures for every program that reads pictures with Qt ${major}
This Qt ${major} image plugin lets Gwenview and every other program that
reads pictures through QImageReader open rastel's raw RGB 3-3-2 pictures,
known by their first bytes, whole or straight at a smaller size. Files
that are not pictures fail to read, never crash.")
endforeach()
# Plasma 6's Dolphin makes its previews with rastel-thumbnailer instead.
string(APPEND CPACK_COMPONENT_QT5_PLUGIN_DESCRIPTION "\nOn Plasma 5 Dolphin's previews read them through it.")

include(CPack)
