// SPDX-License-Identifier: MIT
#include "process_timing.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/ptrace.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <stdexcept>

// POSIX leaves declaring it to the program; glibc does only for _GNU_SOURCE.
extern char** environ;  // NOLINT(readability-redundant-declaration)

namespace {

std::vector<char*> ArgPointers(const std::vector<std::string>& argv) {
  std::vector<char*> args;
  args.reserve(argv.size() + 1);
  for (const std::string& arg : argv) {
    args.push_back(const_cast<char*>(arg.c_str()));
  }
  args.push_back(nullptr);
  return args;
}

void ExpectSuccess(int status, const std::string& name) {
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    throw std::runtime_error(name + " failed");
  }
}

long ReadPeakKib(pid_t pid) {
  std::ifstream proc_status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(proc_status, line);) {
    if (line.rfind("VmHWM:", 0) == 0) {
      return std::strtol(line.c_str() + 6, nullptr, 10);
    }
  }
  return kUnmeasured;
}

}  // namespace

double RunOnce(const std::vector<std::string>& argv, const std::string& out_path) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  std::vector<char*> args = ArgPointers(argv);

  const auto start = std::chrono::steady_clock::now();
  pid_t pid = 0;
  const int error = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (error != 0) {
    throw std::runtime_error("cannot start " + argv[0]);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  const auto stop = std::chrono::steady_clock::now();
  ExpectSuccess(status, argv[0]);
  return std::chrono::duration<double, std::milli>(stop - start).count();
}

// wait4's figure would also count this process, whose memory the child
// shares until it execs, so the child is stopped at its exit and its own
// high-water mark is read instead.
long PeakKib(const std::vector<std::string>& argv) {
  std::vector<char*> args = ArgPointers(argv);
  const pid_t pid = fork();
  if (pid == 0) {
    const int null_fd = open("/dev/null", O_WRONLY);
    dup2(null_fd, STDOUT_FILENO);
    dup2(null_fd, STDERR_FILENO);
    if (ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) != 0) {
      static_cast<void>(raise(SIGKILL));
    }
    execvp(args[0], args.data());
    _exit(127);
  }
  long peak_kib = kUnmeasured;
  int status = 0;
  const bool stopped_at_exec = waitpid(pid, &status, 0) == pid && WIFSTOPPED(status);
  if (stopped_at_exec && ptrace(PTRACE_SETOPTIONS, pid, nullptr, PTRACE_O_TRACEEXIT) == 0 &&
      ptrace(PTRACE_CONT, pid, nullptr, nullptr) == 0 && waitpid(pid, &status, 0) == pid &&
      status >> 8 == (SIGTRAP | (PTRACE_EVENT_EXIT << 8))) {
    peak_kib = ReadPeakKib(pid);  // stopped at its exit, memory still mapped
  }
  if (WIFSTOPPED(status)) {
    ptrace(PTRACE_CONT, pid, nullptr, nullptr);
    waitpid(pid, &status, 0);
  }
  if (!WIFSIGNALED(status)) {
    ExpectSuccess(status, argv[0]);
  }
  return peak_kib;
}

double Median(std::vector<double> times) {
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

Timing Measure(const std::vector<std::string>& argv, int runs) {
  RunOnce(argv, "/dev/null");
  std::vector<double> times(static_cast<std::size_t>(runs));
  for (double& time : times) {
    time = RunOnce(argv, "/dev/null");
  }
  return {Median(times), PeakKib(argv)};
}
