# SPDX-License-Identifier: MIT
# One Debian package per program, for the architecture the build is for.
# Each takes its component of the install, and what only a package wants,
# left out of a plain install by EXCLUDE_FROM_ALL: the manual pages gzipped,
# Debian's own files, and the programs stripped. The packages always hold
# the thumbnailer.
if(NOT BUILD_THUMBNAILER)
  message(FATAL_ERROR "The packages hold rastel-thumbnailer: configure with THUMBNAILER=ON and libpng-dev installed")
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
set(package_programs_rastel ${CMAKE_INSTALL_BINDIR}/rastel ${CMAKE_INSTALL_BINDIR}/rastel-thumbnailer)
set(gzipped_pages)
foreach(package bytel rastel)
  foreach(page ${package_pages_${package}})
    add_gzipped(${PROJECT_BINARY_DIR}/man/${page}.1 ${compressed}/${page}.1.gz)
    install(FILES ${compressed}/${page}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT ${package}
            EXCLUDE_FROM_ALL)
    list(APPEND gzipped_pages ${compressed}/${page}.1.gz)
  endforeach()
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright ${compressed}/changelog.Debian.gz
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package} COMPONENT ${package} EXCLUDE_FROM_ALL)
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
set(CPACK_COMPONENTS_ALL bytel rastel)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "The rastel-bytel developers <rastel-bytel@example.org>")
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Dependencies come from the libraries the programs load: the C library for
# bytel, and SDL 1.2 as well for rastel.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)

# A description's first line is the summary; CPack indents the others.
set(CPACK_DEBIAN_BYTEL_PACKAGE_NAME bytel)
set(CPACK_DEBIAN_BYTEL_PACKAGE_SECTION utils)
set(CPACK_COMPONENT_BYTEL_DESCRIPTION "hex dump that prints eight bytes to a line
bytel prints the name of a file and then every byte of it as two lowercase
hexadecimal digits and a space, eight bytes to a line, with no offsets and
no character column. It reads and writes in large blocks and is many times
faster than the common dumpers. Failures are told by the exit status.")

set(CPACK_DEBIAN_RASTEL_PACKAGE_NAME rastel)
set(CPACK_DEBIAN_RASTEL_PACKAGE_SECTION graphics)
# to-rastel and from-rastel run ffmpeg.
set(CPACK_DEBIAN_RASTEL_PACKAGE_SUGGESTS ffmpeg)
set(CPACK_COMPONENT_RASTEL_DESCRIPTION "viewer for raw RGB 3-3-2 pictures
rastel shows a picture stored as a 12-byte header (a magic value, the width
and the height) and one RGB 3-3-2 byte per pixel, bottom row first. It
opens an SDL 1.2 window of the picture's size with an 8-bit surface, draws
the picture once and waits until a key is pressed or the window is closed.
to-rastel makes such pictures of any picture ffmpeg reads and from-rastel
exports them as PNG; rastel-thumbnailer gives file managers (GNOME's
Files, Thunar, Nemo, Caja) their thumbnails.")

include(CPack)
