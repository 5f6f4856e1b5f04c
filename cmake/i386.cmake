# SPDX-License-Identifier: MIT
# Builds 32-bit x86 programs with the host's g++ (-m32, from g++-multilib)
# against Debian's i386 multiarch libraries. Where the host cannot run them
# itself, they run under qemu-i386.

set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)
set(CMAKE_CXX_COMPILER g++)
set(CMAKE_CXX_FLAGS_INIT -m32)
set(CMAKE_EXE_LINKER_FLAGS_INIT -m32)
set(CMAKE_SHARED_LINKER_FLAGS_INIT -m32)
set(CMAKE_MODULE_LINKER_FLAGS_INIT -m32)

if(NOT CMAKE_HOST_SYSTEM_PROCESSOR MATCHES "^(i.86|x86)$")
  find_program(QEMU_I386 qemu-i386 REQUIRED)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${QEMU_I386})
endif()

# libsdl1.2-dev cannot be installed for two architectures at once, so the
# i386 build takes the headers of the installed one (they are the same for
# both) and the i386 library of libsdl1.2debian:i386, through a pkg-config
# file of its own. Compiler checks read this file again in a scratch folder
# and need none of it.
get_property(in_try_compile GLOBAL PROPERTY IN_TRY_COMPILE)
if(NOT in_try_compile)
  execute_process(COMMAND pkg-config --modversion sdl OUTPUT_VARIABLE sdl_version OUTPUT_STRIP_TRAILING_WHITESPACE
                  COMMAND_ERROR_IS_FATAL ANY)
  set(I386_SDL_DIR ${CMAKE_BINARY_DIR}/i386-sdl)
  file(MAKE_DIRECTORY ${I386_SDL_DIR})
  file(CREATE_LINK /usr/lib/i386-linux-gnu/libSDL-1.2.so.0 ${I386_SDL_DIR}/libSDL.so SYMBOLIC)
  file(WRITE ${I386_SDL_DIR}/sdl.pc "Name: sdl
Description: SDL 1.2 for i386
Version: ${sdl_version}
Libs: -L${I386_SDL_DIR} -lSDL
Cflags: -I/usr/include/SDL -D_GNU_SOURCE=1 -D_REENTRANT
")
  set(ENV{PKG_CONFIG_LIBDIR} ${I386_SDL_DIR}:/usr/lib/i386-linux-gnu/pkgconfig:/usr/share/pkgconfig)
  # The programs find libSDL-1.2.so.0 where the system keeps it. A run path
  # into the build folder, even one removed on installing, would leave its
  # length in the binaries, which would then differ from folder to folder.
  set(CMAKE_SKIP_BUILD_RPATH ON)
endif()
