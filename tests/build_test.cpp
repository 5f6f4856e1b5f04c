// SPDX-License-Identifier: MIT
// What no run of the programs can show under qemu-i386: the emulator opens
// large files for a 32-bit program whether or not it asked, so only the
// calls our code makes tell that a 32-bit build would open them on an i386
// host. The objects are read, not the programs, since the C++ runtime linked
// into those brings calls of its own.

#include <gtest/gtest.h>

#include <string>

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

}  // namespace
