// Times bytel against other hex dumpers and against cat of the finished dump
// (the cost of just reading and writing that many bytes), all writing to
// /dev/null, and prints medians, ratios and peak memory.
//
// Usage: bytel_bench [runs] [MiB]

#include <fcntl.h>
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
#include <string>
#include <vector>

extern char** environ;

namespace {

constexpr int kDefaultRuns = 5;
constexpr long kDefaultMebibytes = 64;
constexpr double kMinSpeedupOverXxd = 25.0;
constexpr double kMaxRatioToCat = 2.0;
constexpr long kMaxPeakKib = 8 * 1024;
constexpr std::uintmax_t kLargeFileBytes = std::uintmax_t{1} << 30;

struct Timing {
  double median_ms;
  long peak_kib;
};

std::vector<char*> ArgPointers(const std::vector<std::string>& argv) {
  std::vector<char*> args;
  for (const std::string& arg : argv) {
    args.push_back(const_cast<char*>(arg.c_str()));
  }
  args.push_back(nullptr);
  return args;
}

void ExpectSuccess(int status, const std::string& name) {
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "%s failed\n", name.c_str());
    std::exit(2);
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
  if (posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ) != 0) {
    std::fprintf(stderr, "cannot start %s\n", args[0]);
    std::exit(2);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  const auto stop = std::chrono::steady_clock::now();
  posix_spawn_file_actions_destroy(&actions);
  ExpectSuccess(status, argv[0]);
  return std::chrono::duration<double, std::milli>(stop - start).count();
}

// The peak resident memory of the program alone. wait4's figure would also
// count this process, whose memory the child shares until it execs, so the
// child is stopped at its exit and its own high-water mark is read instead.
long PeakKib(const std::vector<std::string>& argv) {
  std::vector<char*> args = ArgPointers(argv);
  const pid_t pid = fork();
  if (pid == 0) {
    const int null_fd = open("/dev/null", O_WRONLY);
    dup2(null_fd, STDOUT_FILENO);
    dup2(null_fd, STDERR_FILENO);
    ptrace(PTRACE_TRACEME, 0, nullptr, nullptr);
    execvp(args[0], args.data());
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);  // stopped at exec
  ptrace(PTRACE_SETOPTIONS, pid, nullptr, PTRACE_O_TRACEEXIT);
  ptrace(PTRACE_CONT, pid, nullptr, nullptr);
  waitpid(pid, &status, 0);  // stopped at exit, memory still mapped
  long peak_kib = -1;
  std::ifstream proc_status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(proc_status, line);) {
    if (line.rfind("VmHWM:", 0) == 0) {
      peak_kib = std::atol(line.c_str() + 6);
    }
  }
  ptrace(PTRACE_CONT, pid, nullptr, nullptr);
  waitpid(pid, &status, 0);
  ExpectSuccess(status, argv[0]);
  return peak_kib;
}

Timing Measure(const std::vector<std::string>& argv, int runs) {
  const long peak_kib = PeakKib(argv);  // also warms the page cache
  std::vector<double> times;
  for (int run = 0; run < runs; ++run) {
    times.push_back(RunOnce(argv, "/dev/null"));
  }
  std::sort(times.begin(), times.end());
  return {times[times.size() / 2], peak_kib};
}

void WriteRandomFile(const std::string& path, long mebibytes) {
  std::mt19937_64 generator(20261208);
  std::vector<std::uint64_t> block(1024 * 1024 / sizeof(std::uint64_t));
  std::ofstream file(path, std::ios::binary);
  for (long i = 0; i < mebibytes; ++i) {
    std::generate(block.begin(), block.end(), generator);
    file.write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(block.size() * sizeof(block[0])));
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

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::atoi(argv[1]) : kDefaultRuns;
  const long mebibytes = argc > 2 ? std::atol(argv[2]) : kDefaultMebibytes;
  char dir_template[] = "/tmp/bytel-bench.XXXXXX";
  const std::string dir = mkdtemp(dir_template);
  const std::string input = dir + "/random.bin";
  const std::string expected = dir + "/expected.txt";
  const std::string actual = dir + "/actual.txt";

  WriteRandomFile(input, mebibytes);
  RunOnce({BYTEL_REFERENCE, input}, expected);
  RunOnce({BYTEL, input}, actual);
  if (!SameContents(expected, actual)) {
    std::printf("bytel's output differs from the byte-at-a-time reference\n");
    return 1;
  }

  struct Peer {
    const char* name;
    std::vector<std::string> argv;
  };
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
    std::printf("%-40s %10.1f %12.2f %14ld\n", peer.name, t.median_ms, t.median_ms / timings[0].median_ms, t.peak_kib);
    std::fflush(stdout);
  }

  // A sparse file costs nothing to make and shows that memory does not grow
  // with the input.
  const std::string large = dir + "/sparse.bin";
  std::ofstream{large};
  std::filesystem::resize_file(large, kLargeFileBytes);
  const long large_peak_kib = PeakKib({BYTEL, large});
  std::printf("\nbytel's peak on a %ju MiB sparse file: %ld KiB\n", kLargeFileBytes >> 20, large_peak_kib);

  const double bytel_ms = timings[0].median_ms;
  std::printf("\ntargets:\n");
  bool met = Check("at least 25 times faster than xxd", timings[2].median_ms / bytel_ms >= kMinSpeedupOverXxd);
  met = Check("at most 2 times the time of cat", bytel_ms / timings[1].median_ms <= kMaxRatioToCat) && met;
  met = Check("peak memory under 8 MiB", std::max(timings[0].peak_kib, large_peak_kib) < kMaxPeakKib) && met;

  std::remove(input.c_str());
  std::remove(expected.c_str());
  std::remove(actual.c_str());
  std::remove(large.c_str());
  rmdir(dir.c_str());
  return met ? 0 : 1;
}
