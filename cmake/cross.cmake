# SPDX-License-Identifier: MIT
# Builds for another Debian architecture, DEBIAN_ARCH (i386, arm64, armhf,
# s390x), with Debian's cross compiler for it. Where the host is not of that
# architecture the programs and tests run under qemu-user.
#
# The libraries come from that architecture's Debian packages: installed
# beside the host's through multiarch, or unpacked by scripts/make-sysroot
# into the folder FOREIGN_SYSROOT_DIR names, before configuring (make
# build-s390x does it): configuring itself never downloads. The second is for
# an architecture whose packages cannot be installed beside the host's: a
# release that no longer updates it (Debian 12's s390x gets no security
# updates) holds it at older versions of libraries the host has newer.

if(NOT DEBIAN_ARCH)
  message(FATAL_ERROR "cmake/cross.cmake needs DEBIAN_ARCH, the Debian architecture to build for")
endif()
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES DEBIAN_ARCH FOREIGN_SYSROOT_DIR)

function(debian_arch_value name result)
  execute_process(COMMAND dpkg-architecture -a${DEBIAN_ARCH} -q${name} OUTPUT_VARIABLE value
                  OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET COMMAND_ERROR_IS_FATAL ANY)
  set(${result} ${value} PARENT_SCOPE)
endfunction()
debian_arch_value(DEB_HOST_GNU_TYPE gnu_type)
debian_arch_value(DEB_HOST_GNU_CPU gnu_cpu)
debian_arch_value(DEB_HOST_MULTIARCH multiarch)

set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR ${gnu_cpu})
set(CMAKE_LIBRARY_ARCHITECTURE ${multiarch})
find_program(CROSS_CXX ${gnu_type}-g++)
if(NOT CROSS_CXX)
  message(FATAL_ERROR "${gnu_type}-g++ is missing: scripts/install-deps deb-${DEBIAN_ARCH} installs it")
endif()
set(CMAKE_CXX_COMPILER ${CROSS_CXX})

if(FOREIGN_SYSROOT_DIR)
  set(sysroot ${FOREIGN_SYSROOT_DIR})
  if(NOT EXISTS ${sysroot}/.made)
    message(FATAL_ERROR "${sysroot} holds no ${DEBIAN_ARCH} libraries: scripts/make-sysroot ${DEBIAN_ARCH} ${sysroot} "
                        "unpacks them (make build-${DEBIAN_ARCH} does)")
  endif()
  set(CMAKE_FIND_ROOT_PATH ${sysroot})
  set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
  set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
  set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
  set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
  # The linker finds what the libraries need in turn there too, in the
  # folders of their own that some keep it in.
  file(GLOB_RECURSE libraries ${sysroot}/lib/${multiarch}/*.so.* ${sysroot}/usr/lib/${multiarch}/*.so*)
  set(library_dirs)
  foreach(library IN LISTS libraries)
    get_filename_component(library_dir ${library} DIRECTORY)
    list(APPEND library_dirs ${library_dir})
  endforeach()
  list(REMOVE_DUPLICATES library_dirs)
  list(JOIN library_dirs : library_path)
  foreach(kind EXE SHARED MODULE)
    set(CMAKE_${kind}_LINKER_FLAGS_INIT "-Wl,-rpath-link,${library_path}")
  endforeach()
endif()

# dpkg-architecture calls the machine that builds the build one.
debian_arch_value(DEB_BUILD_ARCH host_arch)
if(NOT host_arch STREQUAL DEBIAN_ARCH)
  string(REGEX REPLACE "^i.86$" "i386" qemu_cpu ${gnu_cpu})
  # Only what runs the programs needs qemu: the packages are built without it.
  find_program(QEMU qemu-${qemu_cpu})
  if(QEMU)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${QEMU})
    if(FOREIGN_SYSROOT_DIR)
      list(APPEND CMAKE_CROSSCOMPILING_EMULATOR -L ${sysroot})
    endif()
  elseif(BUILD_TESTING OR BUILD_BENCHMARKS)
    message(FATAL_ERROR "qemu-${qemu_cpu} is missing: scripts/install-deps test-all installs qemu-user")
  endif()
endif()

get_property(in_try_compile GLOBAL PROPERTY IN_TRY_COMPILE)
if(in_try_compile)
  return()
endif()

# SDL 1.2 through pkg-config. Unpacked, the sysroot has that architecture's
# own development files. Installed, libsdl1.2-dev cannot be there for two
# architectures at once: the build takes the host's headers, the same for
# every little-endian architecture, and the library of libsdl1.2debian for
# its own, through a pkg-config file of its own.
if(FOREIGN_SYSROOT_DIR)
  set(ENV{PKG_CONFIG_SYSROOT_DIR} ${sysroot})
  set(ENV{PKG_CONFIG_LIBDIR} ${sysroot}/usr/lib/${multiarch}/pkgconfig:${sysroot}/usr/share/pkgconfig)
else()
  debian_arch_value(DEB_BUILD_ARCH_ENDIAN host_endian)
  debian_arch_value(DEB_HOST_ARCH_ENDIAN target_endian)
  if(NOT host_endian STREQUAL target_endian)
    message(FATAL_ERROR "${DEBIAN_ARCH} is ${target_endian}-endian and cannot use this host's SDL headers: "
                        "build it with FOREIGN_SYSROOT_DIR")
  endif()
  execute_process(COMMAND pkg-config --modversion sdl OUTPUT_VARIABLE sdl_version OUTPUT_STRIP_TRAILING_WHITESPACE
                  COMMAND_ERROR_IS_FATAL ANY)
  set(sdl_dir ${CMAKE_BINARY_DIR}/${DEBIAN_ARCH}-sdl)
  file(MAKE_DIRECTORY ${sdl_dir})
  file(CREATE_LINK /usr/lib/${multiarch}/libSDL-1.2.so.0 ${sdl_dir}/libSDL.so SYMBOLIC)
  file(WRITE ${sdl_dir}/sdl.pc "Name: sdl
Description: SDL 1.2 for ${DEBIAN_ARCH}
Version: ${sdl_version}
Libs: -L${sdl_dir} -lSDL
Cflags: -I/usr/include/SDL -D_GNU_SOURCE=1 -D_REENTRANT
")
  set(ENV{PKG_CONFIG_LIBDIR} ${sdl_dir}:/usr/lib/${multiarch}/pkgconfig:/usr/share/pkgconfig)
endif()

# The programs find their libraries where the system keeps them. A run path
# into the build folder, even one removed on installing, would leave its
# length in the binaries, which would then differ from folder to folder.
set(CMAKE_SKIP_BUILD_RPATH ON)
