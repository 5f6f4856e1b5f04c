// SPDX-License-Identifier: MIT
// Loaded with LD_PRELOAD into the viewer: every wait for an event fails, as
// it does when SDL's event queue is gone.

#include <SDL.h>

extern "C" int SDL_WaitEvent(SDL_Event* /*event*/) { return 0; }
