# SPDX-License-Identifier: MIT
# What `make install` (cmake --install) puts under the prefix: the programs
# and their manual pages, the commands that make and export pictures, the
# test card, the desktop's file type for the pictures with the viewer as what
# opens it, and, where they are built, the thumbnailer with its entry for
# the file managers, the gdk-pixbuf loader in gdk-pixbuf's module folder and
# the Qt image plugins in each Qt's.
# Each package takes its component of the install.

install(TARGETS bytel RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT bytel)
install(TARGETS rastel RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT rastel)
# Making pictures of one's own through ffmpeg, and exporting them.
install(TARGETS to-rastel RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT rastel)
foreach(page ${MANUAL_PAGES})
  install(FILES ${PROJECT_BINARY_DIR}/man/${page}.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT manuals)
endforeach()
install(FILES ${PROJECT_SOURCE_DIR}/samples/testcard.rastel DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/rastel/examples
        COMPONENT rastel)
install(FILES ${PROJECT_SOURCE_DIR}/rastel/rastel.desktop DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/applications
        COMPONENT rastel)
install(FILES ${PROJECT_SOURCE_DIR}/rastel/rastel-mime.xml DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/mime/packages
        RENAME rastel.xml COMPONENT rastel)
if(BUILD_PIXBUF_LOADER)
  install(TARGETS pixbufloader-rastel LIBRARY DESTINATION ${PIXBUF_LOADER_DIR} COMPONENT pixbuf_loader)
endif()
foreach(major 5 6)
  if(BUILD_QT${major}_PLUGIN)
    install(TARGETS qt${major}_image_plugin LIBRARY DESTINATION ${QT${major}_PLUGIN_DIR} COMPONENT qt${major}_plugin)
  endif()
endforeach()
if(BUILD_THUMBNAILER)
  install(TARGETS rastel-thumbnailer from-rastel RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT rastel)
  install(FILES ${PROJECT_SOURCE_DIR}/thumbnailer/rastel.thumbnailer
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/thumbnailers COMPONENT rastel)
endif()
