// The window's queue of time-stamped input events.
#include <climits>

#include "platform/internal.h"

static int64_t stamp_us(int64_t seconds, int microseconds) {
  return seconds * 1000000 + microseconds;
}

static InputEvent &slot(EventQueue *q, int i) {
  return q->ring[(q->head + i) % EVENT_QUEUE_SIZE];
}

static void remove_at(EventQueue *q, int i) {
  for (; i < q->count - 1; i++) slot(q, i) = slot(q, i + 1);
  q->count--;
}

int event_queue_push(EventQueue *q, int code, int down, int64_t time_us) {
  uint32_t word = uint32_t(code) & ~CODE_RELEASE_FLAG;
  if (!down) word |= CODE_RELEASE_FLAG;
  if (q->count >= EVENT_QUEUE_SIZE) {
    if (down && code != CODE_CLOSE) return 0;
    // A release must get through, or its control stays held, and so must a
    // close request: give up the newest press instead (a missed press costs
    // far less), but never Close.
    int victim = -1;
    for (int i = q->count - 1; i >= 0 && victim < 0; i--) {
      uint32_t w = slot(q, i).word;
      if (!(w & CODE_RELEASE_FLAG) && w != uint32_t(CODE_CLOSE)) victim = i;
    }
    // Only releases queued: an older release of the same code says nothing
    // the new one does not.
    for (int i = 0; i < q->count && victim < 0; i++)
      if (slot(q, i).word == word) victim = i;
    if (victim < 0) {
      log_printf("Event queue full: release of %d dropped\n", code);
      return 0;
    }
    remove_at(q, victim);
  }
  // Keep time order: go before every queued event stamped later.
  int at = q->count;
  while (at > 0 && slot(q, at - 1).time_us > time_us) {
    slot(q, at) = slot(q, at - 1);
    at--;
  }
  slot(q, at) = InputEvent{word, time_us};
  q->count++;
  return 1;
}

int event_queue_pop(EventQueue *q, int *code, int *down, int64_t limit_us) {
  if (q->count == 0) return 0;
  InputEvent &e = slot(q, 0);
  if (e.time_us > limit_us) return 0;
  *code = int(e.word & ~CODE_RELEASE_FLAG);
  *down = (e.word & CODE_RELEASE_FLAG) ? 0 : 1;
  q->head = (q->head + 1) % EVENT_QUEUE_SIZE;
  q->count--;
  return 1;
}

int events_push(Window *w, int code, int down, int64_t seconds, int microseconds) {
  if (!w) return 0;
  std::lock_guard<std::mutex> hold(w->event_lock);
  return event_queue_push(&w->events, code, down, stamp_us(seconds, microseconds));
}

int events_push_now(Window *w, int code, int down) {
  int64_t ms = clock_ms();
  return events_push(w, code, down, ms / 1000, int(ms % 1000) * 1000);
}

static int take(Window *w, int *code, int *down, int64_t limit_us) {
  std::lock_guard<std::mutex> hold(w->event_lock);
  return event_queue_pop(&w->events, code, down, limit_us);
}

static int next_event(Window *w, int *code, int *down, int64_t limit_us) {
  if (!w) return 0;
  // A caught signal is a close request, stamped now like the window's own.
  if (platform_signal_take()) events_push_now(w, CODE_CLOSE, 1);
  window_pump(w);
  if (take(w, code, down, limit_us)) return 1;
  // Device buttons are polled only when nothing else is waiting.
  devices_poll_buttons();
  return take(w, code, down, limit_us);
}

int events_next(Window *w, int *code, int *down) {
  return next_event(w, code, down, INT64_MAX);
}

int events_next_until(Window *w, int *code, int *down, int64_t seconds, int microseconds) {
  return next_event(w, code, down, stamp_us(seconds, microseconds));
}
