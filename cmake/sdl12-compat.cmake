# SPDX-License-Identifier: MIT
# Builds against sdl12-compat, the SDL 1.2 that runs on SDL2, unpacked by
# scripts/fetch-sdl12-compat into the folder SDL12_COMPAT_DIR names before
# configuring (make build-sdl12-compat does it): configuring itself never
# downloads. SDL2 itself is installed as usual.

# Where it is the release's own SDL 1.2 (scripts/releases), the default
# build tests it and there is nothing separate to build.
execute_process(COMMAND ${CMAKE_CURRENT_LIST_DIR}/../scripts/release compat OUTPUT_VARIABLE compat_packages
                OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
if(compat_packages STREQUAL "-")
  message(FATAL_ERROR "sdl12-compat is this release's own SDL 1.2, which the check build uses: "
                      "there is no separate sdl12-compat build here")
endif()
set(SDL12_COMPAT_PREFIX ${SDL12_COMPAT_DIR})
if(NOT SDL12_COMPAT_DIR OR NOT EXISTS ${SDL12_COMPAT_DIR}/unpacked)
  message(FATAL_ERROR "sdl12-compat is not unpacked in '${SDL12_COMPAT_DIR}': scripts/fetch-sdl12-compat DIR "
                      "unpacks it (make build-sdl12-compat does)")
endif()
file(GLOB SDL12_COMPAT_PC ${SDL12_COMPAT_PREFIX}/usr/lib/*/pkgconfig/sdl12_compat.pc)
list(LENGTH SDL12_COMPAT_PC found)
if(NOT found EQUAL 1)
  message(FATAL_ERROR "${SDL12_COMPAT_PREFIX} holds no single sdl12_compat.pc")
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
