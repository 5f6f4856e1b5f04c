// SPDX-License-Identifier: MIT
// What the built programs hold rather than what they do. First, what no run
// of them can show under qemu-i386: the emulator opens large files for a
// 32-bit program whether or not it asked, so only the calls our code makes
// tell that a 32-bit build would open them on an i386 host; the objects are
// read, so that only our own calls count. Then the libraries the programs
// need, which are those of a C program: readelf reads any machine's ELF.

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "run_program.h"
#include "test_support.h"

namespace {

TEST(BuildTest, ThirtyTwoBitProgramsOpenFilesWithLargeFileCalls) {
  if (sizeof(void*) != 4) {
    GTEST_SKIP() << "a 64-bit build has only the one set of calls";
  }
  struct Case {
    const char* program;
    const char* large_call;
    const char* small_call;
  };
  for (const Case& c : {Case{BYTEL_MAIN, " open64\n", " open\n"}, Case{RASTEL_MAIN, " fopen64\n", " fopen\n"}}) {
    const ProgramResult imports = RunProgram({"/usr/bin/nm", "--undefined-only", c.program});
    ASSERT_EQ(imports.exit_status, 0) << imports.err;
    EXPECT_NE(imports.out.find(c.large_call), std::string::npos) << c.program;
    EXPECT_EQ(imports.out.find(c.small_call), std::string::npos) << c.program;
  }
}

// The libraries in readelf's "(NEEDED) Shared library: [name]" lines,
// sorted, but for the program's own dynamic loader, which on ARM holds the C
// library's stack guard.
std::vector<std::string> NeededLibraries(const std::string& readelf_output) {
  constexpr std::string_view kInterpreter = "program interpreter: ";
  std::string loader;
  std::vector<std::string> needed;
  std::istringstream lines(readelf_output);
  for (std::string line; std::getline(lines, line);) {
    const std::size_t name_end = line.rfind(']');
    if (line.find(kInterpreter) != std::string::npos && name_end != std::string::npos) {
      const std::size_t name = line.rfind('/', name_end) + 1;
      loader = line.substr(name, name_end - name);
    } else if (line.find("(NEEDED)") != std::string::npos && name_end != std::string::npos) {
      const std::size_t name = line.find('[') + 1;
      needed.push_back(line.substr(name, name_end - name));
    }
  }
  // A module has no interpreter line, but needs the loader all the same.
  std::erase_if(needed, [&](const std::string& name) { return name == loader || name.starts_with("ld-linux"); });
  std::sort(needed.begin(), needed.end());
  return needed;
}

// Built without exceptions and RTTI, the programs and the loader use no part
// of the C++ runtime library, and so need neither it nor a symbol of its
// versions.
// The sanitizers bring runtimes of their own.
TEST(BuildTest, ProgramsNeedOnlyTheCLibraryAndTheirOwnLibraries) {
#ifdef __SANITIZE_ADDRESS__
  GTEST_SKIP() << "a sanitizer build links the sanitizers' runtimes";
#endif
  struct Case {
    const char* program;
    std::vector<std::string> needed;
  };
  const std::vector<std::string> png = {"libc.so.6", "libpng16.so.16"};
  for (const Case& c : {Case{BYTEL, {"libc.so.6"}}, Case{RASTEL, {"libSDL-1.2.so.0", "libc.so.6"}},
                        Case{TO_RASTEL, {"libc.so.6"}}, Case{FROM_RASTEL, png}, Case{RASTEL_THUMBNAILER, png},
                        Case{PIXBUFLOADER_RASTEL,
                             {"libc.so.6", "libgdk_pixbuf-2.0.so.0", "libglib-2.0.so.0", "libgobject-2.0.so.0"}}}) {
    const ProgramResult dynamic =
        RunProgram({"/usr/bin/readelf", "--program-headers", "--dynamic", "--dyn-syms", "--wide", c.program});
    ASSERT_EQ(dynamic.exit_status, 0) << dynamic.err;
    EXPECT_EQ(NeededLibraries(dynamic.out), c.needed) << c.program;
    for (const char* version : {"GLIBCXX", "CXXABI"}) {
      EXPECT_EQ(dynamic.out.find(version), std::string::npos) << c.program << " needs " << version;
    }
  }
}

}  // namespace
