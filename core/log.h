// KORB core: the process-wide log, the options text from the environment and
// the platform clock. Safe to link from headless code (no SDL here).
#pragma once
#include <cstdint>

// printf-style message into the log; the caller supplies the line feed.
// The first call decides where the log goes: a format that begins with
// "KORB_LOGFILE=" names the file (KORB_LOGFILE in the environment wins).
void log_printf(const char *format, ...) __attribute__((format(printf, 1, 2)));
// Closes the log for good; later messages are dropped.
void log_close();
// "Error: %s\n" with the text.
void log_error(const char *text);

// Diagnostics level: 0 normal, 1 "--debug", 2 "--super-debug".
extern int log_verbosity;

// Options from KORB_OPTIONS, "[name:value]" entries.
int option_flag(const char *name, int def);
int option_int(const char *name, int def);

// Platform clock: milliseconds since system start (64-bit, monotonic), and
// the same split into whole seconds and microseconds (a multiple of 1000).
int64_t clock_ms();
void clock_now(int64_t *seconds, int *microseconds);
// Sleeps until the clock has advanced by the given time (wakes 1 ms early
// and yields for the rest, for exact frame pacing).
void sleep_for(int seconds, int microseconds);

// Tests only: forget the log's and the options' state so they start afresh,
// and replace the clock by a function (nullptr restores the real one).
void korb_reset_for_tests();
void clock_override_for_tests(int64_t (*now_ms)());
