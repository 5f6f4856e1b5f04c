// SPDX-License-Identifier: MIT
// Runs the built bytel and compares its standard output, standard error and
// exit status byte for byte.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "run_program.h"
#include "test_support.h"

namespace {

constexpr int kReadFailed = 255;
constexpr int kOutputFailed = 1;
constexpr int kPipeTimeoutMs = 10000;

using BytelTest = TestWithFiles;

// Names the first difference rather than printing two large outputs whole.
void ExpectSameText(const std::string& actual, const std::string& expected) {
  const auto [at, unused] = std::mismatch(actual.begin(), actual.end(), expected.begin(), expected.end());
  EXPECT_TRUE(actual == expected) << "lengths " << actual.size() << " and " << expected.size()
                                  << ", first difference at offset " << (at - actual.begin());
}

TEST_F(BytelTest, DumpsEightGroupsToALineWithAClosingNewlineAndRefusesPathsThatDoNotOpen) {
  const auto dump = [&](const std::string& name, const std::string& bytes, const std::string& lines) {
    const std::string path = WriteFile(name, bytes);
    return RunCase{name, {BYTEL, path}, "File: " + path + "\n" + lines, 0};
  };
  const auto refused = [&](const std::string& name, const std::string& path) {
    return RunCase{name, {BYTEL, path}, "File: " + path + "\nErrorz opening file\n", kReadFailed};
  };
  const std::string dangling = dir_ + "/dangling";
  std::filesystem::create_symlink(dir_ + "/missing", dangling);
  const std::string first = WriteFile("first", "ab");
  ExpectCases({
      dump("empty", "", "\n"),
      dump("three bytes", std::string("\x41\x0a\xff", 3), "41 0a ff \n"),
      dump("one full line", std::string("\0\1\2\3\4\5\6\7", 8), "00 01 02 03 04 05 06 07 \n\n"),
      dump("nine bytes", std::string("\0\1\2\3\4\5\6\7\x10", 9), "00 01 02 03 04 05 06 07 \n10 \n"),
      dump("high bytes unsigned", "\x80\x9f\xa0\xc3\xfe\xff\x7f", "80 9f a0 c3 fe ff 7f \n"),
      {"only the first argument", {BYTEL, first, dir_ + "/missing", "--help"}, "File: " + first + "\n61 62 \n", 0},
      {"/dev/null", {BYTEL, "/dev/null"}, "File: /dev/null\n\n", 0},
      {"no argument", {BYTEL}, "Please enter a filename\n", 1},
      refused("missing", dir_ + "/missing"),
      refused("through a file", first + "/x"),
      refused("dangling symbolic link", dangling),
  });
}

TEST_F(BytelTest, RefusesAFileItsUserMayNotRead) {
  const std::string path = WriteFile("secret", "abc");
  std::string why_not;
  const std::vector<std::string> command = CommandWithoutReadAccess(BYTEL, path, why_not);
  if (command.empty()) {
    GTEST_SKIP() << why_not;
  }
  ExpectRun(RunProgram(command), "File: " + path + "\nErrorz opening file\n", kReadFailed);
}

// A FIFO ends when its writer is done, like a file.
TEST_F(BytelTest, DumpsWhatAFifoGives) {
  const std::pair<std::string, std::string> writes[] = {{"", "\n"}, {"\x01\x02\xfe", "01 02 fe \n"}};
  for (const auto& [bytes, dump] : writes) {
    const std::string name = "fifo" + std::to_string(bytes.size());
    const std::string path = dir_ + "/" + name;
    std::thread writer = FeedFifo(name, bytes);
    const ProgramResult result = RunProgram({BYTEL, path});
    writer.join();
    std::string expected = "File: " + path + "\n";
    expected += dump;
    ExpectRun(result, expected, 0);
  }
}

// A read error is not the end of the file: what was read is shown, then the
// failure is said and reported in the status.
TEST_F(BytelTest, ReadErrorIsReportedAfterTheBytesReadSoFar) {
  ExpectRun(RunProgram({BYTEL, dir_}), "File: " + dir_ + "\n\nErrorz reading file\n", kReadFailed);

  const std::string path = WriteFile("input", RandomBytes(20, 1).replace(0, 10, "0123456789"));
  const std::vector<std::string> env = {std::string("LD_PRELOAD=") + READ_FAULT, "READ_FAULT_AFTER=10",
                                        AsanOptionsAllowingPreload()};
  ExpectRun(RunProgram({BYTEL, path}, env),
            "File: " + path + "\n30 31 32 33 34 35 36 37 \n38 39 \nErrorz reading file\n", kReadFailed);
}

TEST_F(BytelTest, OutputThatCannotBeWrittenFails) {
  const std::string large = WriteFile("large", RandomBytes(1 << 20, 2));
  const std::vector<std::string> paths = {WriteFile("small", "abc"), large, dir_ + "/missing"};
  for (const std::string& path : paths) {
    SCOPED_TRACE(path);
    const ProgramResult result = RunProgram({BYTEL, path}, {}, "/dev/full");
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.exit_status, kOutputFailed);
  }

  // A disk that fills part way: the first writes succeed, a later one fails.
  const std::string limited = dir_ + "/limited";
  const ProgramResult result =
      RunProgram({"/bin/sh", "-c", "trap '' XFSZ; ulimit -f 64; exec " + EmulatorPrefix() + "\"$0\" \"$1\" > \"$2\"",
                  BYTEL, large, limited});
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.exit_status, kOutputFailed);
  EXPECT_GT(std::filesystem::file_size(limited), 0U);
}

// A descriptor left non-blocking by another program fills up; that is a
// reason to wait, not to give up.
TEST_F(BytelTest, WaitsForANonBlockingOutputToDrain) {
  const std::string path = WriteFile("large", RandomBytes(1 << 20, 4));
  int out[2];
  ASSERT_EQ(pipe2(out, O_CLOEXEC), 0);
  ASSERT_EQ(fcntl(out[1], F_SETFL, O_NONBLOCK), 0);
  const int null_fd = open("/dev/null", O_RDWR | O_CLOEXEC);
  const pid_t pid = StartProgram({BYTEL, path}, null_fd, out[1], null_fd);
  close(out[1]);
  close(null_fd);
  const std::string shown = ReadAll(out[0]);
  close(out[0]);
  ProgramResult result;
  WaitProgram(pid, result);
  EXPECT_EQ(result.exit_status, 0);
  ExpectSameText(shown, RunProgram({BYTEL_REFERENCE, path}).out);
}

TEST_F(BytelTest, ClosedPipeEndsItBySigpipe) {
  const std::string path = WriteFile("large", RandomBytes(1 << 20, 3));
  int out[2];
  ASSERT_EQ(pipe2(out, O_CLOEXEC), 0);
  const int null_fd = open("/dev/null", O_RDWR | O_CLOEXEC);
  close(out[0]);
  const pid_t pid = StartProgram({BYTEL, path}, null_fd, out[1], null_fd);
  close(out[1]);
  close(null_fd);
  ProgramResult result;
  WaitProgram(pid, result);
  EXPECT_EQ(result.signal, SIGPIPE);
}

TEST_F(BytelTest, MatchesTheByteAtATimeDumpOnEveryInput) {
  std::vector<std::string> inputs;
  for (std::size_t length = 0; length <= 100; ++length) {
    inputs.push_back(RandomBytes(length, static_cast<unsigned>(length)));
  }
  std::string every_value;
  for (int value = 0; value < 256; ++value) {
    every_value += static_cast<char>(value);
  }
  inputs.push_back(every_value);
  for (const std::size_t length : {65535U, 65536U, 65537U, (1U << 20) + 3, (5U << 20) + 1}) {
    inputs.push_back(RandomBytes(length, static_cast<unsigned>(length)));
  }
  for (const std::string& bytes : inputs) {
    SCOPED_TRACE(bytes.size());
    const std::string path = WriteFile("input", bytes);
    const ProgramResult expected = RunProgram({BYTEL_REFERENCE, path});
    const ProgramResult actual = RunProgram({BYTEL, path});
    ExpectSameText(actual.out, expected.out);
    EXPECT_EQ(actual.exit_status, expected.exit_status);
    EXPECT_EQ(actual.err, "");
    if (HasFailure()) {
      return;
    }
  }
}

// Bytes trickling in through a pipe must show as they come, not when a
// block fills or the writer closes, and a line split between two reads must
// go on where it stopped.
TEST_F(BytelTest, BytesAppearAsTheyArriveAndLinesGoOnAcrossReads) {
  int in[2];
  int out[2];
  ASSERT_EQ(pipe2(in, O_CLOEXEC), 0);
  ASSERT_EQ(pipe2(out, O_CLOEXEC), 0);
  const int null_fd = open("/dev/null", O_WRONLY | O_CLOEXEC);
  const pid_t pid = StartProgram({BYTEL, "/dev/stdin"}, in[0], out[1], null_fd);
  close(in[0]);
  close(out[1]);
  close(null_fd);

  const std::vector<std::string> pieces = {std::string("\0\1\2\3\4\5\6\7", 8), "\x10\x11\x12",
                                           "\x13\x14\x15\x16\x17\x18", "\x19\x1a\x1b\x1c\x1d\x1e\x1f"};
  const std::vector<std::string> last_groups = {"07 \n", "12 ", "18 ", "1f \n"};
  std::string shown;
  for (std::size_t i = 0; i < pieces.size(); ++i) {
    ASSERT_EQ(write(in[1], pieces[i].data(), pieces[i].size()), static_cast<ssize_t>(pieces[i].size()));
    shown += ReadUntil(out[0], last_groups[i], kPipeTimeoutMs);
    ASSERT_EQ(shown.substr(shown.size() - last_groups[i].size()), last_groups[i]) << "piece " << i << " not shown";
  }
  close(in[1]);
  shown += ReadAll(out[0]);
  close(out[0]);
  EXPECT_EQ(shown,
            "File: /dev/stdin\n00 01 02 03 04 05 06 07 \n10 11 12 13 14 15 16 17 \n18 19 1a 1b 1c 1d 1e 1f \n\n");
  ProgramResult result;
  WaitProgram(pid, result);
  EXPECT_EQ(result.exit_status, 0);
}

// Every build, 32-bit ones included, opens files past 4 GiB.
TEST_F(BytelTest, DumpsTheStartOfAFileLargerThanFourGiB) {
  const std::string path = WriteFile("large", "ABCDEFGHI");
  std::filesystem::resize_file(path, (std::uintmax_t{5} << 30) + 3);
  const RunningProgram dump = LaunchProgram({BYTEL, path});
  const std::string expected = "File: " + path + "\n41 42 43 44 45 46 47 48 \n49 00 00 00 00 00 00 00 \n";
  const std::string shown = ReadUntil(dump.out_fd, expected, kPipeTimeoutMs);
  kill(dump.pid, SIGKILL);
  FinishProgram(dump);
  EXPECT_EQ(shown.substr(0, expected.size()), expected);
}

}  // namespace
