# SPDX-License-Identifier: MIT
# Installing, and one Debian package per program, for the architecture the
# build is for.

include(GNUInstallDirs)

set(compressed ${CMAKE_BINARY_DIR}/compressed)
file(MAKE_DIRECTORY ${compressed})
function(add_gzipped source output)
  add_custom_command(OUTPUT ${output} COMMAND gzip -9 -n -c ${source} > ${output} DEPENDS ${source} VERBATIM)
endfunction()
add_gzipped(${PROJECT_SOURCE_DIR}/cmake/debian/changelog ${compressed}/changelog.Debian.gz)

# A plain `cmake --install` puts in the programs, the test card and the
# manual pages as they are. The packages install each program's component
# alone, which takes in what is EXCLUDE_FROM_ALL as well: the manual page
# gzipped and Debian's own files, none of which a plain install wants.
foreach(program bytel rastel)
  add_gzipped(${PROJECT_SOURCE_DIR}/man/${program}.1 ${compressed}/${program}.1.gz)
  install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT ${program})
  install(FILES ${PROJECT_SOURCE_DIR}/man/${program}.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT manuals)
  install(FILES ${compressed}/${program}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT ${program}
          EXCLUDE_FROM_ALL)
  install(FILES ${PROJECT_SOURCE_DIR}/cmake/debian/copyright ${compressed}/changelog.Debian.gz
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${program} COMPONENT ${program} EXCLUDE_FROM_ALL)
  # Stripped as Debian strips its own: the symbols, and the compiler's
  # .comment and .note sections, which nothing reads.
  install(CODE "execute_process(COMMAND ${CMAKE_STRIP} --strip-unneeded --remove-section=.comment --remove-section=.note
                                \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/${program}\"
                                COMMAND_ERROR_IS_FATAL ANY)"
          COMPONENT ${program} EXCLUDE_FROM_ALL)
endforeach()
install(FILES ${PROJECT_SOURCE_DIR}/cmake/debian/bytel.lintian-overrides DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides
        RENAME bytel COMPONENT bytel EXCLUDE_FROM_ALL)
install(FILES ${PROJECT_SOURCE_DIR}/samples/testcard.rastel DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/rastel/examples
        COMPONENT rastel)
# The desktop's file type for the pictures, and the viewer as what opens it.
install(FILES ${PROJECT_SOURCE_DIR}/rastel/rastel.desktop DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/applications
        COMPONENT rastel)
install(FILES ${PROJECT_SOURCE_DIR}/rastel/rastel-mime.xml DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/mime/packages
        RENAME rastel.xml COMPONENT rastel)
add_custom_target(compressed_docs ALL DEPENDS ${compressed}/changelog.Debian.gz ${compressed}/bytel.1.gz
                                              ${compressed}/rastel.1.gz)

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
set(CPACK_COMPONENT_RASTEL_DESCRIPTION "viewer for raw RGB 3-3-2 pictures
rastel shows a picture stored as a 12-byte header (a magic value, the width
and the height) and one RGB 3-3-2 byte per pixel, bottom row first. It
opens an SDL 1.2 window of the picture's size with an 8-bit surface, draws
the picture once and waits until a key is pressed or the window is closed.")

include(CPack)
