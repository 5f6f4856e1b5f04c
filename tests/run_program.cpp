// SPDX-License-Identifier: MIT
#include "run_program.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <stdexcept>
#include <thread>

// POSIX leaves declaring it to the program; glibc does only for _GNU_SOURCE.
extern char** environ;  // NOLINT(readability-redundant-declaration)

namespace {

std::vector<char*> Pointers(std::vector<std::string>& strings) {
  std::vector<char*> pointers;
  pointers.reserve(strings.size() + 1);
  for (std::string& s : strings) {
    pointers.push_back(s.data());
  }
  pointers.push_back(nullptr);
  return pointers;
}

void AppendAvailable(int fd, std::string& text, bool& open) {
  char buffer[65536];
  const ssize_t got = read(fd, buffer, sizeof buffer);
  if (got > 0) {
    text.append(buffer, static_cast<std::size_t>(got));
  } else {
    open = false;
  }
}

// What an ELF header says of the machine a program is for: its class, byte
// order and machine number. Empty for a file that is not ELF.
std::string ElfMachine(const std::string& path) {
  constexpr std::size_t kHeaderBytes = 20;
  unsigned char header[kHeaderBytes] = {};
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  const bool read_all = fd >= 0 && read(fd, header, sizeof header) == static_cast<ssize_t>(sizeof header);
  if (fd >= 0) {
    close(fd);
  }
  if (!read_all || std::memcmp(header, "\177ELF", 4) != 0) {
    return {};
  }
  constexpr std::size_t kClassAndData = 4;
  constexpr std::size_t kMachine = 18;
  std::string machine(header + kClassAndData, header + kClassAndData + 2);
  return machine.append(header + kMachine, header + kMachine + 2);
}

#ifdef PROGRAM_EMULATOR

// An executable for the machine this process is for is one of ours, which
// the emulator stands in for; the host's own programs run as they are. The
// emulator shows this process as the program it runs.
bool IsBuiltLikeThisProcess(const std::string& path) {
  const std::string machine = ElfMachine(path);
  return !machine.empty() && machine == ElfMachine("/proc/self/exe");
}

// The emulator is a program of the host's kind and would try to load a
// preloaded library itself, so the library goes to the program through it.
void RunUnderEmulator(std::vector<std::string>& args, std::vector<std::string>& env) {
  std::vector<std::string> emulator = {PROGRAM_EMULATOR};
  for (auto entry = env.begin(); entry != env.end();) {
    if (entry->starts_with("LD_PRELOAD=")) {
      emulator.insert(emulator.end(), {"-E", *entry});
      entry = env.erase(entry);
    } else {
      ++entry;
    }
  }
  args.insert(args.begin(), emulator.begin(), emulator.end());
}

#endif

#ifdef VALGRIND

// Where the tests run under memcheck (the suites registered again as
// memcheck.*), each program of the project's own, built here or installed
// by a test, runs under it; the host's programs (ffmpeg, a shell, D-Bus)
// run as they are. Only memory that nothing points to any more counts as
// lost: a block still reachable at exit is one the program may use until
// then. An error fails the run through its status and shows on standard
// error.
constexpr int kMemcheckFoundErrors = 99;

bool UnderMemcheck() { return std::getenv("PROGRAM_MEMCHECK") != nullptr; }

bool IsOurs(const std::string& path) {
  return !ElfMachine(path).empty() && !path.starts_with("/usr/") && !path.starts_with("/bin/");
}

// A library preloaded into Valgrind itself would meet Valgrind's own calls,
// so it goes to the program through env, which Valgrind follows.
void RunUnderMemcheck(std::vector<std::string>& args, std::vector<std::string>& env) {
  std::vector<std::string> memcheck = {VALGRIND,
                                       "--tool=memcheck",
                                       "--quiet",
                                       "--error-exitcode=" + std::to_string(kMemcheckFoundErrors),
                                       "--leak-check=full",
                                       "--show-leak-kinds=definite,indirect",
                                       "--errors-for-leak-kinds=definite,indirect",
                                       "--track-origins=yes",
                                       std::string("--suppressions=") + VALGRIND_SUPPRESSIONS};
  const auto preload =
      std::find_if(env.begin(), env.end(), [](const std::string& entry) { return entry.starts_with("LD_PRELOAD="); });
  if (preload != env.end()) {
    memcheck.insert(memcheck.end(), {"--trace-children=yes", "/usr/bin/env", *preload});
    env.erase(preload);
  }
  args.insert(args.begin(), memcheck.begin(), memcheck.end());
}

#else

bool UnderMemcheck() { return false; }

#endif

// A wait that polls costs nothing when the program is quick. Under an
// emulator on a machine busy with other builds (a load of 7 on 2 cores),
// SDL alone has taken longer to start than the tests' 10-second waits, and
// memcheck runs a program some tens of times slower, so there every wait is
// this many times as long.
int Patience() {
#ifdef PROGRAM_EMULATOR
  constexpr bool kEmulated = true;
#else
  constexpr bool kEmulated = false;
#endif
  return kEmulated || UnderMemcheck() ? 6 : 1;
}

std::chrono::steady_clock::time_point Deadline(int timeout_ms) {
  return std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms) * Patience();
}

}  // namespace

std::string_view VariableName(std::string_view setting) { return setting.substr(0, setting.find('=')); }

bool HasTheByteOrderOfThisProcess(const std::string& path) {
  constexpr std::size_t kByteOrder = 1;
  const std::string machine = ElfMachine(path);
  const std::string own = ElfMachine("/proc/self/exe");
  return !machine.empty() && !own.empty() && machine[kByteOrder] == own[kByteOrder];
}

std::string EmulatorPrefix() {
  std::string prefix;
#ifdef PROGRAM_EMULATOR
  for (const char* item : {PROGRAM_EMULATOR}) {
    prefix.append(item).append(" ");
  }
#endif
  return prefix;
}

pid_t StartProgram(const std::vector<std::string>& argv, int stdin_fd, int stdout_fd, int stderr_fd,
                   const std::vector<std::string>& extra_env) {
  std::vector<std::string> args = argv;
  std::vector<std::string> env;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string_view name(*entry, std::strcspn(*entry, "="));
    const bool replaced = std::any_of(extra_env.begin(), extra_env.end(),
                                      [&](const std::string& extra) { return VariableName(extra) == name; });
    if (!replaced) {
      env.emplace_back(*entry);
    }
  }
  std::copy_if(extra_env.begin(), extra_env.end(), std::back_inserter(env),
               [](const std::string& extra) { return extra.find('=') != std::string::npos; });
#ifdef PROGRAM_EMULATOR
  if (IsBuiltLikeThisProcess(args[0])) {
    RunUnderEmulator(args, env);
  }
#endif
#ifdef VALGRIND
  if (UnderMemcheck() && IsOurs(args[0])) {
    RunUnderMemcheck(args, env);
  }
#endif

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, stdin_fd, STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, stdout_fd, STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, stderr_fd, STDERR_FILENO);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t defaults;
  sigemptyset(&defaults);
  for (const int signal : {SIGPIPE, SIGINT, SIGTERM}) {
    sigaddset(&defaults, signal);
  }
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

  pid_t pid = 0;
  const int error =
      posix_spawn(&pid, args[0].c_str(), &actions, &attributes, Pointers(args).data(), Pointers(env).data());
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  if (error != 0) {
    throw std::runtime_error("cannot start " + args[0]);
  }
  return pid;
}

void WaitProgram(pid_t pid, ProgramResult& result) {
  int status = 0;
  waitpid(pid, &status, 0);
  if (WIFEXITED(status)) {
    result.exit_status = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    result.signal = WTERMSIG(status);
  }
}

RunningProgram LaunchProgram(const std::vector<std::string>& argv, const std::vector<std::string>& extra_env,
                             const std::string& stdout_path) {
  int out_pipe[2];
  int err_pipe[2];
  if (pipe2(out_pipe, O_CLOEXEC) != 0 || pipe2(err_pipe, O_CLOEXEC) != 0) {
    throw std::runtime_error("cannot make the pipes for " + argv[0]);
  }
  const int out_fd =
      stdout_path.empty() ? out_pipe[1] : open(stdout_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (out_fd < 0) {
    for (const int fd : {out_pipe[0], out_pipe[1], err_pipe[0], err_pipe[1]}) {
      close(fd);
    }
    throw std::runtime_error("cannot open " + stdout_path + " for " + argv[0]);
  }
  const int null_in = open("/dev/null", O_RDONLY | O_CLOEXEC);
  const pid_t pid = StartProgram(argv, null_in, out_fd, err_pipe[1], extra_env);
  close(null_in);
  close(out_pipe[1]);
  close(err_pipe[1]);
  if (out_fd != out_pipe[1]) {
    close(out_fd);
    close(out_pipe[0]);
    return {pid, -1, err_pipe[0]};
  }
  return {pid, out_pipe[0], err_pipe[0]};
}

ProgramResult FinishProgram(const RunningProgram& program, int timeout_ms) {
  const auto deadline = Deadline(timeout_ms);
  ProgramResult result;
  bool out_open = program.out_fd >= 0;
  bool err_open = true;
  while (out_open || err_open) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    const int wait_ms = timeout_ms < 0 ? -1 : static_cast<int>(std::max<std::int64_t>(0, left.count()));
    pollfd fds[2] = {{out_open ? program.out_fd : -1, POLLIN, 0}, {err_open ? program.err_fd : -1, POLLIN, 0}};
    if (poll(fds, 2, wait_ms) == 0) {
      kill(program.pid, SIGKILL);
      break;
    }
    if (fds[0].revents != 0) {
      AppendAvailable(program.out_fd, result.out, out_open);
    }
    if (fds[1].revents != 0) {
      AppendAvailable(program.err_fd, result.err, err_open);
    }
  }
  if (program.out_fd >= 0) {
    close(program.out_fd);
  }
  close(program.err_fd);
  WaitProgram(program.pid, result);
  return result;
}

ProgramResult RunProgram(const std::vector<std::string>& argv, const std::vector<std::string>& extra_env,
                         const std::string& stdout_path) {
  // Far beyond any run here, the largest dumps under an emulator included,
  // so that a program that hangs fails its test rather than stalling it.
  constexpr int kRunTimeoutMs = 120000;
  return FinishProgram(LaunchProgram(argv, extra_env, stdout_path), kRunTimeoutMs);
}

std::string ReadUntil(int fd, const std::string& text, int timeout_ms) {
  const auto deadline = Deadline(timeout_ms);
  std::string received;
  bool open = true;
  while (open && received.find(text) == std::string::npos) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    pollfd fds[1] = {{fd, POLLIN, 0}};
    if (left.count() <= 0 || poll(fds, 1, static_cast<int>(left.count())) <= 0) {
      break;
    }
    AppendAvailable(fd, received, open);
  }
  return received;
}

std::string ReadAll(int fd) {
  std::string received;
  bool open = true;
  while (open) {
    AppendAvailable(fd, received, open);
  }
  return received;
}

bool PollUntil(const std::function<bool()>& done, int timeout_ms, std::chrono::milliseconds interval) {
  const auto deadline = Deadline(timeout_ms);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) {
      return false;
    }
    std::this_thread::sleep_for(interval);
  }
  return true;
}
