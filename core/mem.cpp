#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/core.h"

namespace {

const int MAX_LIVE = 1048576;

struct LiveBlock {
  void *address;
  int serial;
  size_t size;
};

int check_state = -1;  // -1 undecided, 0 off, 1 on
LiveBlock *live = nullptr;
int live_count = 0;
int next_serial = 0;
// Set when the table filled: the report can no longer tell leaks from
// blocks released since.
bool report_incomplete = false;

void decide() {
  if (check_state != -1) return;
  const char *v = getenv("TW_CHECK_ALLOC");
  check_state = (v && atoi(v) > 0) ? 1 : 0;
  if (check_state) {
    // The table lives for the whole run and is never freed.
    live = static_cast<LiveBlock *>(malloc(sizeof(LiveBlock) * MAX_LIVE));
    if (!live) check_state = 0;
  }
}

void record(void *block, size_t size) {
  if (check_state != 1) return;
  if (live_count == MAX_LIVE) {
    fprintf(stderr, "Too many allocations to check!\n");
    check_state = 0;
    report_incomplete = true;
    return;
  }
  live[live_count++] = {block, next_serial++, size};
}

// Newest first: short-lived blocks are found after few comparisons.
int find_live(const void *block) {
  for (int i = live_count - 1; i >= 0; i--)
    if (live[i].address == block) return i;
  fprintf(stderr, "Allocation not found for %p!\n", block);
  return -1;
}

void remove_live(int i) {
  memmove(live + i, live + i + 1, sizeof(LiveBlock) * (live_count - i - 1));
  live_count--;
}

[[noreturn]] void default_fatal() {
  fprintf(stderr, "Error: Out of virtual memory\n");
  exit(1);
}

}  // namespace

void (*mem_fatal_hook)() = default_fatal;

void *mem_alloc(size_t size) {
  decide();
  void *p = malloc(size);
  if (p && check_state == 1) record(p, size);
  return p;
}

void *mem_realloc(void *block, size_t size) {
  decide();
  // The old block is looked up first but forgotten only once the
  // reallocation worked: on failure it is still live and still the caller's.
  int at = (check_state == 1 && block) ? find_live(block) : -1;
  // A zero size would release the block and return none (glibc), leaving a
  // stale entry; one byte keeps the block and the table in step.
  void *p = realloc(block, size ? size : 1);
  if (p && check_state == 1) {
    if (at >= 0) remove_live(at);
    record(p, size);
  }
  return p;
}

void mem_free(void *block) {
  decide();
  if (check_state == 1) {
    // An unknown address is reported and never released.
    int at = block ? find_live(block) : -1;
    if (at < 0) return;
    memset(block, 0, live[at].size);
    remove_live(at);
    free(block);
    return;
  }
  free(block);
}

void *mem_alloc_or_die(size_t size) {
  void *p = mem_alloc(size);
  if (!p) {
    mem_fatal_hook();
    default_fatal();
  }
  return p;
}

void mem_report() {
  if (!live) return;
  if (report_incomplete && live_count > 0)
    fprintf(stderr, "Allocation report incomplete: checking stopped when the table filled\n");
  for (int i = 0; i < live_count; i++) fprintf(stderr, "%p:%d\n", live[i].address, live[i].serial);
}
