// Ctrl-C and SIGTERM as a close request. The handler only sets a flag; the
// event fetch turns it into a Close event on the main thread.
#include <SDL2/SDL.h>

#include <csignal>

#include "platform/internal.h"

static volatile sig_atomic_t signalled;

static void on_signal(int) { signalled = 1; }

void platform_catch_signals() {
  struct sigaction sa = {};
  sa.sa_handler = on_signal;
  sigemptyset(&sa.sa_mask);
  // One orderly attempt: a second signal finds the default action again and
  // ends a shutdown that hangs. Interrupted reads are restarted, not failed.
  sa.sa_flags = SA_RESETHAND | SA_RESTART;
  for (int sig : {SIGINT, SIGTERM}) {
    // An ignored signal stays ignored (a shell's background job ignores
    // Ctrl-C meant for the foreground).
    struct sigaction old = {};
    if (sigaction(sig, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;
    sigaction(sig, &sa, nullptr);
  }
  // SDL would put its own handlers in place (turning the signals into its
  // quit event) when video or the controllers start; these are the only ones.
  SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
}

int platform_signal_take() {
  if (!signalled) return 0;
  signalled = 0;
  return 1;
}
