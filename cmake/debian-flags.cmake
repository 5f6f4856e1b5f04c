# SPDX-License-Identifier: MIT
# Compiles and links with the flags Debian builds its own packages with,
# hardening=+all, for the architecture this build is for: stack protector,
# _FORTIFY_SOURCE, format security, RELRO, BIND_NOW and PIE, and where the
# release has them stack-clash and control-flow protection. They come from
# dpkg-buildflags itself, so that each release's defaults follow. Run from
# the source folder, its -ffile-prefix-map keeps that folder's path out of
# the binaries.

find_program(DPKG_ARCHITECTURE dpkg-architecture)
if(NOT DPKG_ARCHITECTURE)
  message(FATAL_ERROR "dpkg-architecture and dpkg-buildflags are missing: scripts/install-deps deb installs dpkg-dev")
endif()

function(debian_build_flag name result)
  # dpkg-architecture warns that the host's C compiler is not the target's:
  # a cross build names its own C++ compiler.
  execute_process(COMMAND env DEB_BUILD_MAINT_OPTIONS=hardening=+all ${DPKG_ARCHITECTURE} -a${DEBIAN_ARCH} -c
                          dpkg-buildflags --get ${name}
                  WORKING_DIRECTORY ${PROJECT_SOURCE_DIR} OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE
                  ERROR_QUIET COMMAND_ERROR_IS_FATAL ANY)
  set(${result} "${flags}" PARENT_SCOPE)
endfunction()

debian_build_flag(CPPFLAGS debian_cppflags)
debian_build_flag(CXXFLAGS debian_cxxflags)
debian_build_flag(LDFLAGS debian_ldflags)
string(APPEND CMAKE_CXX_FLAGS " ${debian_cppflags} ${debian_cxxflags}")
# Another architecture's headers lie unpacked in a folder of the builder's
# own: they are named in the binaries as the system installs them. The
# compiler takes the last of the maps that match, so this one comes after
# the source folder's, which may hold that folder.
if(FOREIGN_SYSROOT_DIR)
  string(APPEND CMAKE_CXX_FLAGS " -ffile-prefix-map=${FOREIGN_SYSROOT_DIR}=")
endif()
foreach(kind EXE SHARED MODULE)
  string(APPEND CMAKE_${kind}_LINKER_FLAGS " ${debian_ldflags}")
endforeach()
message(STATUS "Debian's build flags for ${DEBIAN_ARCH}: ${debian_cppflags} ${debian_cxxflags} ${debian_ldflags}")
