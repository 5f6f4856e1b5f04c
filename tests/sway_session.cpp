// SPDX-License-Identifier: MIT
#include "sway_session.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "run_program.h"
#include "test_support.h"

namespace {

constexpr int kStartTimeoutMs = 20000;
constexpr int kStopTimeoutMs = 5000;
constexpr auto kPoll = std::chrono::milliseconds(50);

// Every window floats at the size its program asks for, so that the picture
// lies in it pixel for pixel, on an output with nothing else on it; the
// ready file tells the test the variables sway sets for its programs once it
// runs them.
std::string Config(const std::string& ready_file) {
  return "xwayland force\n"
         "swaybg_command -\n"
         "default_border none\n"
         "default_floating_border none\n"
         "floating_minimum_size -1 x -1\n"
         "floating_maximum_size -1 x -1\n"
         "for_window [all] floating enable\n"
         "exec env > " +
         ready_file + ".part && mv " + ready_file + ".part " + ready_file + "\n";
}

bool Running(pid_t pid) { return waitpid(pid, nullptr, WNOHANG) == 0; }

// Ends the process, by force when it does not end in time.
void Stop(pid_t pid) {
  kill(pid, SIGTERM);
  if (!PollUntil([&] { return !Running(pid); }, kStopTimeoutMs, kPoll)) {
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
  }
}

ProgramResult Run(const SwaySession& session, const std::vector<std::string>& argv) {
  return RunProgram(argv, session.env);
}

bool HasKeyboard(const SwaySession& session) {
  return Run(session, {SWAYMSG, "-r", "-t", "get_inputs"}).out.find("\"keyboard\"") != std::string::npos;
}

// The number after `"key":` at or after `from` in sway's JSON, or -1.
long NumberAfter(const std::string& json, std::size_t from, const std::string& key) {
  const std::size_t at = json.find("\"" + key + "\":", from);
  if (at == std::string::npos) {
    return -1;
  }
  return std::strtol(json.c_str() + at + key.size() + 3, nullptr, 10);
}

std::string StringAfter(const std::string& json, std::size_t from, const std::string& key) {
  const std::size_t at = json.find("\"" + key + "\":", from);
  const std::size_t open = at == std::string::npos ? at : json.find('"', at + key.size() + 3);
  const std::size_t close = open == std::string::npos ? open : json.find('"', open + 1);
  return close == std::string::npos ? "" : json.substr(open + 1, close - open - 1);
}

// A view's own keys come before its (empty) lists of children, so the last
// "rect" before its "pid" is its own.
SwayWindow FindWindow(const std::string& tree, pid_t pid) {
  for (std::size_t at = tree.find("\"pid\":"); at != std::string::npos; at = tree.find("\"pid\":", at + 1)) {
    if (NumberAfter(tree, at, "pid") != pid) {
      continue;
    }
    const std::size_t rect = tree.rfind("\"rect\":", at);
    if (rect == std::string::npos) {
      continue;
    }
    return {static_cast<int>(NumberAfter(tree, rect, "x")), static_cast<int>(NumberAfter(tree, rect, "y")),
            static_cast<int>(NumberAfter(tree, rect, "width")), static_cast<int>(NumberAfter(tree, rect, "height")),
            StringAfter(tree, at, "shell")};
  }
  return {};
}

// The pixels of a binary PPM with 8-bit channels, or none.
std::vector<std::uint32_t> FromPpm(const std::string& ppm) {
  std::istringstream in(ppm);
  std::string magic;
  int width = 0;
  int height = 0;
  int max = 0;
  in >> magic >> width >> height >> max;
  in.get();
  const std::size_t count = static_cast<std::size_t>(width) * height;
  const auto start = static_cast<std::size_t>(in.tellg());
  if (!in || magic != "P6" || max != 255 || ppm.size() - start != count * 3) {
    return {};
  }
  std::vector<std::uint32_t> pixels(count);
  for (std::size_t i = 0; i < count; ++i) {
    const auto* rgb = reinterpret_cast<const unsigned char*>(ppm.data() + start + i * 3);
    pixels[i] = std::uint32_t{rgb[0]} << 16 | std::uint32_t{rgb[1]} << 8 | rgb[2];
  }
  return pixels;
}

}  // namespace

void StartSway(SwaySession& session) {
  std::string pattern = ::testing::TempDir() + "sway-runtime.XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) {
    throw std::runtime_error("cannot make " + pattern);
  }
  session.runtime_dir = pattern;
  const std::string config = session.runtime_dir + "/config";
  const std::string ready = session.runtime_dir + "/ready";
  const std::string log = session.runtime_dir + "/sway.log";
  std::ofstream(config) << Config(ready);

  // Whatever session the tests run in stays out of this one.
  const int null_in = open("/dev/null", O_RDONLY | O_CLOEXEC);
  const int log_fd = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  session.pid = StartProgram({SWAY, "--config", config}, null_in, log_fd, log_fd,
                             {"XDG_RUNTIME_DIR=" + session.runtime_dir, "WLR_BACKENDS=headless",
                              "WLR_HEADLESS_OUTPUTS=1", "WLR_RENDERER=pixman", "WLR_LIBINPUT_NO_DEVICES=1",
                              "WAYLAND_DISPLAY", "DISPLAY", "SWAYSOCK", "I3SOCK", "SDL_VIDEODRIVER"});
  close(null_in);
  close(log_fd);

  PollUntil([&] { return std::filesystem::exists(ready) || !Running(session.pid); }, kStartTimeoutMs, kPoll);
  std::istringstream variables(ReadWholeFile(ready));
  session.env = {"XDG_RUNTIME_DIR=" + session.runtime_dir};
  for (std::string line; std::getline(variables, line);) {
    for (const std::string name : {"WAYLAND_DISPLAY=", "DISPLAY=", "SWAYSOCK="}) {
      if (line.starts_with(name)) {
        session.env.push_back(line);
      }
    }
  }
  if (session.env.size() != 4) {
    throw std::runtime_error("sway did not start; its log:\n" + ReadWholeFile(log));
  }

  // One keyboard from the start to the end, as a desktop has: without it
  // sway's seat gains a keyboard and loses it again with each key pressed,
  // and SDL loses most keys; on Debian 13 its Wayland keyboard code crashes
  // when a keyboard appears while it waits. This one only sleeps.
  const int null_fd = open("/dev/null", O_RDWR | O_CLOEXEC);
  constexpr const char* kAnHour = "3600000";
  session.keyboard_pid = StartProgram({WTYPE, "-s", kAnHour}, null_fd, null_fd, null_fd, session.env);
  close(null_fd);
  if (!PollUntil([&] { return HasKeyboard(session); }, kStartTimeoutMs, kPoll)) {
    throw std::runtime_error("sway has no keyboard");
  }
}

void StopSway(SwaySession& session) {
  if (session.keyboard_pid > 0) {
    Stop(session.keyboard_pid);
    session.keyboard_pid = -1;
  }
  if (session.pid > 0) {
    Stop(session.pid);
    session.pid = -1;
  }
  if (!session.runtime_dir.empty()) {
    std::filesystem::remove_all(session.runtime_dir);
    session.runtime_dir.clear();
  }
}

SwayWindow WaitForWindowOf(const SwaySession& session, pid_t pid, int timeout_ms) {
  SwayWindow window;
  PollUntil(
      [&] {
        window = FindWindow(Run(session, {SWAYMSG, "-r", "-t", "get_tree"}).out, pid);
        return window.width > 0;
      },
      timeout_ms, kPoll);
  return window;
}

std::vector<std::uint32_t> ReadPixels(const SwaySession& session, const SwayWindow& window) {
  const std::string geometry = std::to_string(window.x) + "," + std::to_string(window.y) + " " +
                               std::to_string(window.width) + "x" + std::to_string(window.height);
  return FromPpm(Run(session, {GRIM, "-t", "ppm", "-g", geometry, "-"}).out);
}

void PressKey(const SwaySession& session) {
  const ProgramResult result = Run(session, {WTYPE, "-k", "space"});
  EXPECT_EQ(result.exit_status, 0) << result.err;
}

void RequestClose(const SwaySession& session, pid_t pid) {
  const ProgramResult result = Run(session, {SWAYMSG, "[pid=" + std::to_string(pid) + "]", "kill"});
  EXPECT_EQ(result.exit_status, 0) << result.out << result.err;
}
