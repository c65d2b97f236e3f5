#include <sched.h>
#include <time.h>

#include "core/log.h"

static int64_t (*clock_source)() = nullptr;

// A 64-bit monotonic count: no wrap after 49 days, no jumps when the wall
// clock is set.
static int64_t real_clock_ms() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return int64_t(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

int64_t clock_ms() { return clock_source ? clock_source() : real_clock_ms(); }

void clock_now(int64_t *seconds, int *microseconds) {
  int64_t ms = clock_ms();
  *seconds = ms / 1000;
  *microseconds = int(ms % 1000) * 1000;
}

void sleep_for(int seconds, int microseconds) {
  int64_t wake = clock_ms() + int64_t(seconds) * 1000 + microseconds / 1000;
  int64_t left = wake - clock_ms();
  if (left > 1) {
    timespec ts = {time_t((left - 1) / 1000), long((left - 1) % 1000) * 1000000};
    nanosleep(&ts, nullptr);
  }
  while (clock_ms() < wake) sched_yield();
}

void clock_override_for_tests(int64_t (*now_ms)()) { clock_source = now_ms; }
