// SPDX-License-Identifier: MIT
#pragma once

// Timing other programs and reading their peak memory, for the benchmarks
// that compare ours with their peers.

#include <string>
#include <vector>

inline constexpr long kUnmeasured = -1;

// Runs argv with standard output on `out_path` and standard error on
// /dev/null; returns the wall time in milliseconds. Throws when it cannot
// start or does not end with status 0.
double RunOnce(const std::vector<std::string>& argv, const std::string& out_path);

// The peak resident memory of the program alone, in KiB, or kUnmeasured
// where tracing is not allowed. Throws as RunOnce does.
long PeakKib(const std::vector<std::string>& argv);

double Median(std::vector<double> times);

struct Timing {
  double median_ms;
  long peak_kib;
};

// The median time of `runs` runs of argv, its output to /dev/null, after one
// that warms the page cache, and its peak memory.
Timing Measure(const std::vector<std::string>& argv, int runs);
