// SPDX-License-Identifier: MIT
#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

struct ProgramResult {
  std::string out;
  std::string err;
  int exit_status = -1;  // -1 when a signal ended the program
  int signal = 0;        // the signal that ended it, or 0
};

// Starts argv[0] with the given descriptors as its standard streams and with
// `extra_env` ("NAME=value") added to, or replacing, this process's
// environment; an entry "NAME" alone removes NAME from it. SIGPIPE, SIGINT and SIGTERM are reset to their defaults and
// no signal is blocked, whatever the test runner did with them (a shell starts background jobs with SIGINT ignored, and
// SDL then leaves it so). Programs built like this one run under the emulator when the build has one.
pid_t StartProgram(const std::vector<std::string>& argv, int stdin_fd, int stdout_fd, int stderr_fd,
                   const std::vector<std::string>& extra_env = {});

// NAME of "NAME=value", or of "NAME".
std::string_view VariableName(std::string_view setting);

// What a shell command must put before one of our programs: the emulator
// that runs them when they are built for another machine, or nothing.
std::string EmulatorPrefix();

// Whether the program at `path` is built for this process's byte order,
// which under an emulator may differ from the host's programs'.
bool HasTheByteOrderOfThisProcess(const std::string& path);

// Waits for the program and fills in exit_status and signal.
void WaitProgram(pid_t pid, ProgramResult& result);

struct RunningProgram {
  pid_t pid = -1;
  int out_fd = -1;  // -1 when standard output goes to a file
  int err_fd = -1;
};

// Starts the program with no standard input, its standard error and, unless
// `stdout_path` names a file to write it to, its standard output on pipes.
RunningProgram LaunchProgram(const std::vector<std::string>& argv, const std::vector<std::string>& extra_env = {},
                             const std::string& stdout_path = "");

// Where the programs run under an emulator, each wait below lasts six times
// the time given.

// Collects the program's output until it ends. When `timeout_ms` (if not
// negative) runs out first, the program is killed and `signal` says SIGKILL.
ProgramResult FinishProgram(const RunningProgram& program, int timeout_ms = -1);

// Runs the program to its end, or kills it after two minutes: LaunchProgram,
// then FinishProgram.
ProgramResult RunProgram(const std::vector<std::string>& argv, const std::vector<std::string>& extra_env = {},
                         const std::string& stdout_path = "");

// Reads from `fd` until `text` has arrived or `timeout_ms` has passed.
std::string ReadUntil(int fd, const std::string& text, int timeout_ms);

std::string ReadAll(int fd);

// Asks `done` every `interval` until it holds, or until `timeout_ms` has
// passed and a last answer is no; returns that answer.
bool PollUntil(const std::function<bool()>& done, int timeout_ms, std::chrono::milliseconds interval);
