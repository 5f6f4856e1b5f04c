// SPDX-License-Identifier: MIT
// Times bytel against other hex dumpers and against cat of the finished dump
// (the cost of just reading and writing that many bytes), all writing to
// /dev/null, and prints medians, ratios and peak memory. Exits 1 when a
// target is missed, 2 when the benchmark itself cannot run.
//
// Usage: bytel_bench [runs] [MiB]

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/ptrace.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench_main.h"

// POSIX leaves declaring it to the program; glibc does only for _GNU_SOURCE.
extern char** environ;  // NOLINT(readability-redundant-declaration)

namespace {

constexpr int kDefaultRuns = 5;
constexpr long kDefaultMebibytes = 64;
constexpr double kMinSpeedupOverXxd = 25.0;
constexpr double kMaxRatioToCat = 2.0;
constexpr long kMaxPeakKib = 8L * 1024;
constexpr long kUnmeasured = -1;
constexpr std::uintmax_t kLargeFileBytes = std::uintmax_t{1} << 30;

struct Peer {
  const char* name;
  std::vector<std::string> argv;
};

// Rows of the table that the targets compare.
constexpr std::size_t kBytelRow = 0;
constexpr std::size_t kCatRow = 1;
constexpr std::size_t kXxdRow = 2;

struct Timing {
  double median_ms;
  long peak_kib;
};

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

// Runs argv with standard output on `out_path` and returns the wall time in
// milliseconds.
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

long ReadPeakKib(pid_t pid) {
  std::ifstream proc_status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(proc_status, line);) {
    if (line.rfind("VmHWM:", 0) == 0) {
      return std::strtol(line.c_str() + 6, nullptr, 10);
    }
  }
  return kUnmeasured;
}

// The peak resident memory of the program alone. wait4's figure would also
// count this process, whose memory the child shares until it execs, so the
// child is stopped at its exit and its own high-water mark is read instead.
// Where tracing is not allowed the figure is kUnmeasured.
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

Timing Measure(const std::vector<std::string>& argv, int runs) {
  RunOnce(argv, "/dev/null");  // warm the page cache
  std::vector<double> times(static_cast<std::size_t>(runs));
  for (double& time : times) {
    time = RunOnce(argv, "/dev/null");
  }
  std::sort(times.begin(), times.end());
  return {times[times.size() / 2], PeakKib(argv)};
}

void WriteRandomFile(const std::string& path, long mebibytes) {
  std::mt19937_64 generator(20261208);
  std::vector<std::uint64_t> block(std::size_t{1024} * 1024 / sizeof(std::uint64_t));
  std::ofstream file(path, std::ios::binary);
  for (long i = 0; i < mebibytes; ++i) {
    std::generate(block.begin(), block.end(), generator);
    file.write(reinterpret_cast<const char*>(block.data()),
               static_cast<std::streamsize>(block.size() * sizeof(block[0])));
  }
}

bool SameContents(const std::string& a, const std::string& b) {
  std::ifstream first(a, std::ios::binary);
  std::ifstream second(b, std::ios::binary);
  return std::equal(std::istreambuf_iterator<char>(first), std::istreambuf_iterator<char>(),
                    std::istreambuf_iterator<char>(second), std::istreambuf_iterator<char>());
}

bool Check(const char* what, bool met) {
  std::printf("  %-44s %s\n", what, met ? "met" : "MISSED");
  return met;
}

bool PeakWithinTarget(long peak_kib) { return peak_kib != kUnmeasured && peak_kib < kMaxPeakKib; }

// Returns whether every target was met.
bool RunBenchmark(const std::string& dir, int runs, long mebibytes) {
  const std::string input = dir + "/random.bin";
  const std::string expected = dir + "/expected.txt";
  const std::string actual = dir + "/actual.txt";
  WriteRandomFile(input, mebibytes);
  RunOnce({BYTEL_REFERENCE, input}, expected);
  RunOnce({BYTEL, input}, actual);
  if (!SameContents(expected, actual)) {
    throw std::runtime_error("bytel's output differs from the byte-at-a-time reference");
  }

  const std::vector<Peer> peers = {
      {"bytel", {BYTEL, input}},
      {"cat (limit)", {"cat", expected}},
      {"xxd -c8 -g1", {"xxd", "-c8", "-g1", input}},
      {"od -An -tx1 -w8 -v", {"od", "-An", "-tx1", "-w8", "-v", input}},
      {"hexdump -v -e '8/1 \"%02x \" \"\\n\"'", {"hexdump", "-v", "-e", "8/1 \"%02x \" \"\\n\"", input}},
      {"byte-at-a-time reference", {BYTEL_REFERENCE, input}},
  };
  std::printf("%ld MiB of random bytes, median of %d runs each, output to /dev/null\n\n", mebibytes, runs);
  std::printf("%-40s %10s %12s %14s\n", "command", "median ms", "x bytel", "peak KiB");
  std::vector<Timing> timings;
  for (const Peer& peer : peers) {
    timings.push_back(Measure(peer.argv, runs));
    const Timing& t = timings.back();
    std::printf("%-40s %10.1f %12.2f %14ld\n", peer.name, t.median_ms, t.median_ms / timings[kBytelRow].median_ms,
                t.peak_kib);
    static_cast<void>(std::fflush(stdout));
  }

  // A sparse file costs nothing to make and shows that memory does not grow
  // with the input.
  const std::string large = dir + "/sparse.bin";
  std::ofstream(large).close();
  std::filesystem::resize_file(large, kLargeFileBytes);
  const long large_peak_kib = PeakKib({BYTEL, large});
  std::printf("\nbytel's peak on a %ju MiB sparse file: %ld KiB\n", kLargeFileBytes >> 20, large_peak_kib);

  const double bytel_ms = timings[kBytelRow].median_ms;
  std::printf("\ntargets:\n");
  bool met = Check("at least 25 times faster than xxd", timings[kXxdRow].median_ms / bytel_ms >= kMinSpeedupOverXxd);
  met = Check("at most 2 times the time of cat", bytel_ms / timings[kCatRow].median_ms <= kMaxRatioToCat) && met;
  met = Check("peak memory under 8 MiB",
              PeakWithinTarget(timings[kBytelRow].peak_kib) && PeakWithinTarget(large_peak_kib)) &&
        met;
  return met;
}

}  // namespace

int main(int argc, char** argv) {
  int runs = kDefaultRuns;
  long mebibytes = kDefaultMebibytes;
  if ((argc > 1 && !ParseNumber(argv[1], runs)) || (argc > 2 && !ParseNumber(argv[2], mebibytes)) || runs <= 0 ||
      mebibytes <= 0) {
    static_cast<void>(std::fprintf(stderr, "usage: bytel_bench [runs] [MiB], both at least 1\n"));
    return 2;
  }
  return RunInNewFolder("bytel_bench", [&](const std::string& dir) { return RunBenchmark(dir, runs, mebibytes); });
}
