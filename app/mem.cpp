#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/core.h"

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

// Looks the block up by its address value only: after a reallocation the old
// pointer must not be used, only compared.
bool forget(uintptr_t block, bool clear) {
  if (!block) return false;
  for (int i = live_count - 1; i >= 0; i--) {
    if (uintptr_t(live[i].address) != block) continue;
    if (clear) memset(live[i].address, 0, live[i].size);
    memmove(live + i, live + i + 1, sizeof(LiveBlock) * (live_count - i - 1));
    live_count--;
    return true;
  }
  fprintf(stderr, "Allocation not found for %p!\n", reinterpret_cast<void *>(block));
  return false;
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
  uintptr_t old = reinterpret_cast<uintptr_t>(block);
  void *p = realloc(block, size);
  // The old block is forgotten only once the reallocation worked: on failure
  // it is still live and still the caller's.
  if (p && check_state == 1) {
    if (old) forget(old, false);
    record(p, size);
  }
  return p;
}

void mem_free(void *block) {
  decide();
  if (check_state == 1) {
    if (forget(reinterpret_cast<uintptr_t>(block), true)) free(block);
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
