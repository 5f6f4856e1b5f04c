#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

struct ProgramResult {
  std::string out;
  std::string err;
  int exit_status = -1;  // -1 when a signal ended the program
  int signal = 0;        // the signal that ended it, or 0
};

// Starts argv[0] with the given descriptors as its standard streams and with
// `extra_env` ("NAME=value") added to, or replacing, this process's
// environment. SIGPIPE is reset to its default and no signal is blocked,
// whatever the test runner did with them.
pid_t StartProgram(const std::vector<std::string>& argv, int stdin_fd, int stdout_fd, int stderr_fd,
                   const std::vector<std::string>& extra_env = {});

// Waits for the program and fills in exit_status and signal.
void WaitProgram(pid_t pid, ProgramResult& result);

// Runs the program to its end with no standard input, capturing standard
// error and, unless `stdout_path` names a file to write it to, standard output.
ProgramResult RunProgram(const std::vector<std::string>& argv, const std::vector<std::string>& extra_env = {},
                         const std::string& stdout_path = "");

// Reads from `fd` until `text` has arrived or `timeout_ms` has passed.
std::string ReadUntil(int fd, const std::string& text, int timeout_ms);

std::string ReadAll(int fd);
