// SPDX-License-Identifier: MIT
#pragma once

// Small helpers that every suite shares.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "run_program.h"

inline std::string RandomBytes(std::size_t count, unsigned seed) {
  std::mt19937 generator(seed);
  std::string bytes(count, '\0');
  for (char& byte : bytes) {
    byte = static_cast<char>(generator());
  }
  return bytes;
}

inline std::string ReadWholeFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

inline void ExpectRun(const ProgramResult& result, const std::string& out, int status) {
  EXPECT_EQ(result.out, out);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.exit_status, status);
}

// One run of a program and what it must give: its standard output exactly,
// its status, and on standard error nothing, or where `err_part` is set
// that part of a message. Where `no_output` is set, it must not be made.
struct RunCase {
  std::string name;
  std::vector<std::string> argv;
  std::string out;
  int status;
  std::string err_part{};
  std::vector<std::string> env{};
  std::string stdout_path{};
  std::string no_output{};
};

inline void ExpectCases(const std::vector<RunCase>& cases) {
  for (const RunCase& c : cases) {
    SCOPED_TRACE(c.name);
    const ProgramResult result = RunProgram(c.argv, c.env, c.stdout_path);
    EXPECT_EQ(result.out, c.out);
    EXPECT_EQ(result.exit_status, c.status);
    EXPECT_EQ(result.signal, 0);
    if (c.err_part.empty()) {
      EXPECT_EQ(result.err, "");
    } else {
      EXPECT_NE(result.err.find(c.err_part), std::string::npos) << result.err;
    }
    if (!c.no_output.empty()) {
      EXPECT_FALSE(std::filesystem::exists(c.no_output)) << c.no_output;
    }
  }
}

#ifdef FFMPEG
// Runs ffmpeg quietly and expects it to succeed; its standard output.
inline std::string Ffmpeg(std::vector<std::string> args) {
  args.insert(args.begin(), {FFMPEG, "-v", "error"});
  const ProgramResult result = RunProgram(args);
  EXPECT_EQ(result.exit_status, 0) << result.err;
  return result.out;
}
#endif

// The sanitizer runtime insists on being loaded first; a library preloaded
// ahead of it is harmless here, so the check is turned off, keeping the
// other options the test run set.
inline std::string AsanOptionsAllowingPreload() {
  const char* const options = std::getenv("ASAN_OPTIONS");
  return std::string("ASAN_OPTIONS=") + (options != nullptr ? options : "") + ":verify_asan_link_order=0";
}

// A fixture with a folder of its own for the files a test writes.
class TestWithFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = ::testing::TempDir() + "rastel-bytel-test.XXXXXX";
    ASSERT_NE(mkdtemp(pattern.data()), nullptr) << pattern;
    dir_ = pattern;
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::string WriteFile(const std::string& name, const std::string& bytes) {
    std::string path = dir_ + "/" + name;
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
  }

  // A FIFO at `name` that, once the program opens it, gets `bytes` and is
  // closed by its writer. Join the thread after the program ends.
  std::thread FeedFifo(const std::string& name, const std::string& bytes) {
    const std::string path = dir_ + "/" + name;
    EXPECT_EQ(mkfifo(path.c_str(), 0600), 0);
    return std::thread([path, bytes] {
      constexpr int kPatienceMs = 20000;
      int fd = -1;
      PollUntil([&] { return (fd = open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC)) >= 0 || errno != ENXIO; },
                kPatienceMs, std::chrono::milliseconds(5));
      if (fd >= 0) {
        fcntl(fd, F_SETFL, 0);
        EXPECT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
        close(fd);
      }
    });
  }

  // The command that runs `program` on `path` as a user who may not read
  // it. Root reads any file through its capabilities, so as root it runs
  // without them: still the owner of every folder on the way, wherever the
  // build lies, a private one included, but held to the file's mode. Empty,
  // with the reason in `why_not`, when that cannot be arranged here.
  static std::vector<std::string> CommandWithoutReadAccess(const std::string& program, const std::string& path,
                                                           std::string& why_not) {
    chmod(path.c_str(), 0);
    if (geteuid() != 0) {
      if (access(path.c_str(), R_OK) == 0) {
        why_not = "this user reads files whatever their mode";
        return {};
      }
      return {program, path};
    }
    const std::string without_capabilities = "exec setpriv --inh-caps=-all --bounding-set=-all ";
    const ProgramResult probe = RunProgram({"/bin/sh", "-c", without_capabilities + "cat \"$0\"", path});
    if (probe.exit_status == 0 || probe.err.find("Permission denied") == std::string::npos) {
      why_not = "root cannot give up its capabilities here: " + probe.err;
      return {};
    }
    return {"/bin/sh", "-c", without_capabilities + EmulatorPrefix() + "\"$0\" \"$1\"", program, path};
  }

  std::string dir_;
};
