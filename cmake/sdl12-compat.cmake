# SPDX-License-Identifier: MIT
# Builds against sdl12-compat, the SDL 1.2 that runs on SDL2. As an installed
# package it conflicts with libsdl1.2-dev, so its two Debian packages are
# unpacked into a prefix under the build folder and found from there;
# SDL2 itself is installed as usual.

# Which packages hold it differs by release (scripts/releases); where it is
# the release's own SDL 1.2, the default build tests it and there is nothing
# separate to build.
execute_process(COMMAND ${CMAKE_CURRENT_LIST_DIR}/../scripts/release compat OUTPUT_VARIABLE compat_packages
                OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND ${CMAKE_CURRENT_LIST_DIR}/../scripts/release version OUTPUT_VARIABLE release_version
                OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
if(compat_packages STREQUAL "-")
  message(FATAL_ERROR "sdl12-compat is Debian ${release_version}'s own SDL 1.2, which the default build uses: "
                      "there is no separate sdl12-compat build here")
endif()
string(REPLACE "," ";" compat_packages "${compat_packages}")

set(SDL12_COMPAT_PREFIX ${CMAKE_BINARY_DIR}/sdl12-compat)
# Written once both packages are unpacked, so that an unpacking cut short
# is done again.
set(unpacked ${SDL12_COMPAT_PREFIX}/unpacked)
if(NOT EXISTS ${unpacked})
  set(debs ${SDL12_COMPAT_PREFIX}/debs)
  file(REMOVE_RECURSE ${SDL12_COMPAT_PREFIX})
  file(MAKE_DIRECTORY ${debs})
  execute_process(COMMAND apt-get download ${compat_packages} WORKING_DIRECTORY ${debs} RESULT_VARIABLE failed
                  ERROR_QUIET)
  file(GLOB packages ${debs}/*.deb)
  if(failed OR NOT packages)
    message(FATAL_ERROR "cannot download ${compat_packages} (are the package lists current? sudo apt-get update)")
  endif()
  foreach(package ${packages})
    execute_process(COMMAND dpkg -x ${package} ${SDL12_COMPAT_PREFIX} COMMAND_ERROR_IS_FATAL ANY)
  endforeach()
  file(TOUCH ${unpacked})
endif()
file(GLOB SDL12_COMPAT_PC ${SDL12_COMPAT_PREFIX}/usr/lib/*/pkgconfig/sdl12_compat.pc)
list(LENGTH SDL12_COMPAT_PC found)
if(NOT found EQUAL 1)
  message(FATAL_ERROR "${compat_packages} unpacked into ${SDL12_COMPAT_PREFIX} hold no single sdl12_compat.pc")
endif()

# The package's pkg-config file names /usr, and its library's soname link is
# made by the package's install scripts, which dpkg -x does not run.
get_filename_component(libdir ${SDL12_COMPAT_PC} DIRECTORY)
get_filename_component(libdir ${libdir} DIRECTORY)
file(CREATE_LINK sdl12-compat/libSDL-1.2.so.0 ${libdir}/libSDL-1.2.so.0 SYMBOLIC)
set(pc_dir ${SDL12_COMPAT_PREFIX}/pkgconfig)
file(READ ${SDL12_COMPAT_PC} pc)
string(REGEX REPLACE "\nlibdir=[^\n]*" "\nlibdir=${libdir}" pc "${pc}")
string(REGEX REPLACE "\nincludedir=[^\n]*" "\nincludedir=${SDL12_COMPAT_PREFIX}/usr/include" pc "${pc}")
string(REPLACE "Name: sdl12_compat" "Name: sdl" pc "${pc}")
file(WRITE ${pc_dir}/sdl.pc "${pc}")
set(ENV{PKG_CONFIG_PATH} ${pc_dir})
message(STATUS "SDL 1.2: sdl12-compat from ${SDL12_COMPAT_PREFIX}")
