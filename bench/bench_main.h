// SPDX-License-Identifier: MIT
#pragma once

// What each benchmark's main shares: reading its numbers, and a folder of its
// own for its files, with one exit status for each outcome.

#include <stdlib.h>

#include <charconv>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

// The whole text as a decimal number, so that a slip such as "1O" is refused
// rather than taken as a smaller count.
template <typename Number>
bool ParseNumber(std::string_view text, Number& value) {
  const char* const end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  return error == std::errc{} && stop == end;
}

// Runs the benchmark in a new folder under /tmp, removed afterwards, and
// returns its exit status: 0 when `run` says every target was met, 1 when
// not, 2 when the benchmark itself could not run.
inline int RunInNewFolder(const std::string& program, const std::function<bool(const std::string&)>& run) {
  std::string dir = "/tmp/" + program + ".XXXXXX";
  if (mkdtemp(dir.data()) == nullptr) {
    std::perror((program + ": mkdtemp").c_str());
    return 2;
  }
  int status = 2;
  try {
    status = run(dir) ? 0 : 1;
  } catch (const std::exception& error) {
    static_cast<void>(std::fprintf(stderr, "%s: %s\n", program.c_str(), error.what()));
  }
  std::filesystem::remove_all(dir);
  return status;
}
