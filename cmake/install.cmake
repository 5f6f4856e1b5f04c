# SPDX-License-Identifier: MIT
# What `make install` (cmake --install) puts under the prefix: the programs,
# their manual pages, the test card and the scripts that make and export
# pictures, and the desktop's file type for the pictures with the viewer as
# what opens it. Each program is a component of its own, which the Debian
# packages take one at a time.

include(GNUInstallDirs)

foreach(program bytel rastel)
  install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT ${program})
  install(FILES ${PROJECT_BINARY_DIR}/man/${program}.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT manuals)
endforeach()
install(FILES ${PROJECT_SOURCE_DIR}/samples/testcard.rastel DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/rastel/examples
        COMPONENT rastel)
# Making pictures of one's own and exporting them, through ffmpeg.
install(PROGRAMS ${PROJECT_SOURCE_DIR}/samples/to-rastel ${PROJECT_SOURCE_DIR}/samples/from-rastel
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/rastel/examples COMPONENT rastel)
install(FILES ${PROJECT_SOURCE_DIR}/rastel/rastel.desktop DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/applications
        COMPONENT rastel)
install(FILES ${PROJECT_SOURCE_DIR}/rastel/rastel-mime.xml DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/mime/packages
        RENAME rastel.xml COMPONENT rastel)
