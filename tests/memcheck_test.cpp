// SPDX-License-Identifier: MIT
// Runs the programs under Valgrind's memcheck, on ordinary inputs and on
// each way they fail: every memory error or leak fails the test, and the
// programs must still print and end exactly as they do without it. Reports
// that belong to SDL are suppressed in valgrind.supp, each with its reason.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "picture_file.h"
#include "run_program.h"
#include "test_support.h"

namespace {

// Valgrind's status when it reported an error: none of the programs' own.
constexpr int kMemcheckFoundErrors = 99;
constexpr int kExitFailure = 1;
constexpr int kOpenOrReadFailed = 255;
// Far beyond any run: memcheck runs a program some tens of times slower.
constexpr int kRunTimeoutMs = 60000;

class MemcheckTest : public TestWithFiles {
 protected:
  RunningProgram Launch(const std::vector<std::string>& argv, const std::vector<std::string>& extra_env = {},
                        const std::string& stdout_path = "") {
    // Only memory that nothing points to any more counts as lost: a block
    // still reachable at exit is one the program may use until then.
    std::vector<std::string> command = {VALGRIND,
                                        "--tool=memcheck",
                                        "--quiet",
                                        "--error-exitcode=" + std::to_string(kMemcheckFoundErrors),
                                        "--leak-check=full",
                                        "--show-leak-kinds=definite,indirect",
                                        "--errors-for-leak-kinds=definite,indirect",
                                        "--track-origins=yes",
                                        std::string("--suppressions=") + VALGRIND_SUPPRESSIONS,
                                        "--log-file=" + LogPath()};
    command.insert(command.end(), argv.begin(), argv.end());
    return LaunchProgram(command, extra_env, stdout_path);
  }

  ProgramResult Run(const std::vector<std::string>& argv, const std::string& stdout_path = "") {
    return FinishProgram(Launch(argv, {}, stdout_path), kRunTimeoutMs);
  }

  // The viewer waits for events until something ends it: here an interrupt,
  // which kills it instead when it comes before SDL has set up its handler.
  // So it is sent once the preloaded wait_ready says the viewer waits.
  ProgramResult ShowThenInterrupt(const std::string& path) {
    int ready[2];
    EXPECT_EQ(pipe2(ready, O_CLOEXEC), 0);
    fcntl(ready[1], F_SETFD, 0);
    const RunningProgram viewer = Launch({RASTEL, path}, {"SDL_VIDEODRIVER=dummy", "LD_PRELOAD=" WAIT_READY,
                                                          "WAIT_READY_FD=" + std::to_string(ready[1])});
    close(ready[1]);
    const bool waiting = !ReadUntil(ready[0], "r", kRunTimeoutMs).empty();
    close(ready[0]);
    if (waiting) {
      kill(viewer.pid, SIGINT);
    } else {
      ADD_FAILURE() << "the viewer never waited for events";
    }
    return FinishProgram(viewer, kRunTimeoutMs);
  }

  void ExpectCleanRun(const ProgramResult& result, const std::string& out, int status) {
    std::ifstream log(LogPath());
    const std::string report{std::istreambuf_iterator<char>(log), std::istreambuf_iterator<char>()};
    EXPECT_NE(result.exit_status, kMemcheckFoundErrors) << "memcheck found errors:\n" << report;
    EXPECT_EQ(result.signal, 0) << report;
    ExpectRun(result, out, status);
  }

  std::string LogPath() const { return dir_ + "/memcheck.log"; }
};

TEST_F(MemcheckTest, BytelOnFilesThatItDumpsAndFilesThatItCannot) {
  const std::string empty = WriteFile("empty", "");
  const std::string few = WriteFile("few", "ABCDEFGHIJ");
  const std::string random = WriteFile("random", RandomBytes(std::size_t{100} * 1024, 1));
  const std::string missing = dir_ + "/missing";
  const std::string header = "File: " + random + "\n";
  const std::string dump = RunProgram({BYTEL_REFERENCE, random}).out;
  ASSERT_EQ(dump.substr(0, header.size()), header);
  struct Case {
    const char* name;
    std::vector<std::string> args;
    std::string out;
    int status;
    std::string stdout_path{};
  };
  const std::vector<Case> cases = {
      {"no argument", {}, "Please enter a filename\n", kExitFailure},
      {"empty file", {empty}, "File: " + empty + "\n\n", 0},
      {"a line and a part", {few}, "File: " + few + "\n41 42 43 44 45 46 47 48 \n49 4a \n", 0},
      {"100 KiB of random bytes", {random}, dump, 0},
      {"a directory", {dir_}, "File: " + dir_ + "\n\nErrorz reading file\n", kOpenOrReadFailed},
      {"a missing path", {missing}, "File: " + missing + "\nErrorz opening file\n", kOpenOrReadFailed},
      {"output to a full disk", {random}, "", kExitFailure, "/dev/full"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> argv = {BYTEL};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    ExpectCleanRun(Run(argv, c.stdout_path), c.out, c.status);
  }
}

TEST_F(MemcheckTest, RastelShowsPicturesUntilInterrupted) {
  struct Case {
    const char* name;
    std::string path;
    std::string out;
  };
  const std::vector<Case> cases = {
      {"rows of an odd width", WriteFile("odd", Picture(37, 23, RandomBytes(std::size_t{37} * 23, 2))),
       SizeLines(37, 23)},
      {"one byte short", WriteFile("short", Picture(40, 30, RandomBytes(40 * 30 - 1, 3))), SizeLines(40, 30)},
      {"no pixels at all", WriteFile("bare", Picture(3, 2, "")), SizeLines(3, 2)},
      {"the test card", TESTCARD, SizeLines(256, 320)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ExpectCleanRun(ShowThenInterrupt(c.path), c.out, 0);
  }
}

TEST_F(MemcheckTest, RastelRefusesFilesItCannotShow) {
  const std::string refused = "This file format can not be displayed\n";
  const std::string wrong_magic = WriteFile("wrong magic", Field(0x12) + Field(1) + Field(1) + "x");
  const std::string short_header = WriteFile("short header", Picture(1, 1, "").substr(0, 11));
  ExpectCleanRun(Run({RASTEL, wrong_magic}), "Magic number: 0x12\nCorrect magic number: 0xdead1337\n" + refused,
                 kExitFailure);
  ExpectCleanRun(Run({RASTEL, short_header}), refused, kExitFailure);
  ExpectCleanRun(Run({RASTEL, dir_ + "/missing"}), "Couldn't open file\n", kOpenOrReadFailed);
}

TEST_F(MemcheckTest, ThumbnailerMakesThumbnailsAndRefusesWhatItCannot) {
  const std::string output = dir_ + "/thumbnail.png";
  struct Case {
    const char* name;
    std::string input;
    std::string output;
    int status;
  };
  const std::vector<Case> cases = {
      {"the test card", TESTCARD, output, 0},
      {"data that ends early", WriteFile("short", Picture(300, 200, RandomBytes(5000, 4))), output, 0},
      {"a short file that claims the largest size", WriteFile("claims", Picture(32767, 32767, "ab")), output, 0},
      {"no header", WriteFile("empty", ""), output, kExitFailure},
      {"wrong magic", WriteFile("magic", Field(0x12) + Field(1) + Field(1)), output, kExitFailure},
      {"zero width", WriteFile("zero", Picture(0, 3, "")), output, kExitFailure},
      {"missing file", dir_ + "/missing", output, kExitFailure},
      {"output on a full disk", TESTCARD, "/dev/full", kExitFailure},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ProgramResult result = Run({RASTEL_THUMBNAILER, "-s", "128", c.input, c.output});
    EXPECT_EQ(result.exit_status == 0, result.err.empty()) << result.err;
    result.err.clear();
    ExpectCleanRun(result, "", c.status);
  }
}

}  // namespace
