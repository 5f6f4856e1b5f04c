# SPDX-License-Identifier: MIT
# Builds for another Debian architecture, DEBIAN_ARCH (i386, arm64, armhf,
# s390x), with Debian's cross compiler for it. Where the host is not of that
# architecture the programs and tests run under qemu-user.
#
# The libraries come from that architecture's Debian packages, unpacked by
# scripts/make-sysroot into the folder FOREIGN_SYSROOT_DIR names before
# configuring (make build-ARCH and make deb-ARCH do it): configuring itself
# never downloads. They are not installed beside the host's through
# multiarch, which needs both architectures at the very same versions and
# fails whenever the archive updates one before the other.

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

set(sysroot ${FOREIGN_SYSROOT_DIR})
if(NOT EXISTS ${sysroot}/.made)
  message(FATAL_ERROR "${sysroot} holds no ${DEBIAN_ARCH} libraries: scripts/make-sysroot ${DEBIAN_ARCH} ${sysroot} "
                      "unpacks them (make build-${DEBIAN_ARCH} and make deb-${DEBIAN_ARCH} do)")
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

# Qt's tools, such as moc, run on the builder: Qt 6 takes them from the
# builder's own Qt, which QT_HOST_PATH names (Qt 5's moc is imported in
# CMakeLists.txt).
set(QT_HOST_PATH /usr)
execute_process(COMMAND dpkg-architecture -qDEB_BUILD_MULTIARCH OUTPUT_VARIABLE build_multiarch
                OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET COMMAND_ERROR_IS_FATAL ANY)
set(QT_HOST_PATH_CMAKE_DIR /usr/lib/${build_multiarch}/cmake)

# dpkg-architecture calls the machine that builds the build one.
debian_arch_value(DEB_BUILD_ARCH host_arch)
if(NOT host_arch STREQUAL DEBIAN_ARCH)
  string(REGEX REPLACE "^i.86$" "i386" qemu_cpu ${gnu_cpu})
  # Only what runs the programs needs qemu: the packages are built without it.
  find_program(QEMU qemu-${qemu_cpu})
  if(QEMU)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${QEMU} -L ${sysroot})
  elseif(BUILD_TESTING OR BUILD_BENCHMARKS)
    message(FATAL_ERROR "qemu-${qemu_cpu} is missing: scripts/install-deps test-all installs qemu-user")
  endif()
endif()

get_property(in_try_compile GLOBAL PROPERTY IN_TRY_COMPILE)
if(in_try_compile)
  return()
endif()

# SDL 1.2 and the other libraries through pkg-config, with that
# architecture's own development files.
set(ENV{PKG_CONFIG_SYSROOT_DIR} ${sysroot})
set(ENV{PKG_CONFIG_LIBDIR} ${sysroot}/usr/lib/${multiarch}/pkgconfig:${sysroot}/usr/share/pkgconfig)

# The programs find their libraries where the system keeps them. A run path
# into the build folder, even one removed on installing, would leave its
# length in the binaries, which would then differ from folder to folder.
set(CMAKE_SKIP_BUILD_RPATH ON)
