// SPDX-License-Identifier: MIT
// Preloaded into the viewer: the first time it waits for events, one byte
// goes to the descriptor named in WAIT_READY_FD. SDL_Init has set up the
// handler that turns an interrupt into a quit request by then, so from that
// byte on an interrupt ends the viewer as a quit request rather than killing
// it. Nothing is allocated here, so it adds nothing to what memcheck sees.

#include <dlfcn.h>
#include <unistd.h>

#include <cstdlib>

union SDL_Event;

namespace {

constexpr char kReadyFdVariable[] = "WAIT_READY_FD";

}  // namespace

extern "C" int SDL_WaitEvent(SDL_Event* event) {
  using WaitFunction = int (*)(SDL_Event*);
  const auto real_wait = reinterpret_cast<WaitFunction>(dlsym(RTLD_NEXT, "SDL_WaitEvent"));
  if (const char* const fd_text = std::getenv(kReadyFdVariable); fd_text != nullptr) {
    const auto fd = static_cast<int>(std::strtol(fd_text, nullptr, 10));
    // Said once: the listener may be gone by the next wait.
    unsetenv(kReadyFdVariable);
    [[maybe_unused]] const ssize_t written = write(fd, "r", 1);
    close(fd);
  }
  return real_wait(event);
}
