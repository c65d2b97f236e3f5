// What the robots see of the race: the counted checkpoints, progress and
// crossing times, who leads, each robot's personality; and the realign
// target with its line rule in front of the checkpoint's point.
#include "race/robot_link.h"

#include <algorithm>

#include "bike/rider.h"
#include "bike/robot.h"
#include "race/race.h"
#include "race/timing.h"

namespace {

int entry_counted(int e) { return e < UNCOUNTED_ENTRY; }

void counted_lengths(int *first, int *normal) {
  *first = *normal = 0;
  if (!timing.enabled) return;
  *first = timing.first_counted;
  *normal = timing.normal_counted;
}

int progress(int slot) {
  return slot >= 0 && slot < RIDER_SLOTS ? rider_timing[slot].progress : 0;
}

int is_counted(int index) {
  if (!timing.enabled || index < 0) return 0;
  const int F = timing.first_count, N = timing.normal_count;
  return entry_counted(index < F ? timing.entries[index] : timing.entries[F + (index - F) % N]);
}

int counted_before(int index) {
  if (!timing.enabled || index <= 0) return 0;
  const int F = timing.first_count, N = timing.normal_count;
  int k = 0;
  if (index <= F) {
    for (int i = 0; i < index; i++) k += entry_counted(timing.entries[i]);
    return k;
  }
  k = timing.first_counted + (index - F) / N * timing.normal_counted;
  for (int i = 0; i < (index - F) % N; i++) k += entry_counted(timing.entries[F + i]);
  return k;
}

// The sequence index of counted index k.
int index_of_counted(int k) {
  const int F = timing.first_count, N = timing.normal_count;
  const int Fc = timing.first_counted, Nc = timing.normal_counted;
  if (k < Fc) {
    for (int i = 0; i < F; i++)
      if (entry_counted(timing.entries[i]) && k-- == 0) return i;
    return -1;
  }
  int lap = (k - Fc) / Nc, left = (k - Fc) % Nc;
  for (int i = 0; i < N; i++)
    if (entry_counted(timing.entries[F + i]) && left-- == 0) return F + lap * N + i;
  return -1;
}

int counted_tic(int slot, int k) {
  if (!timing.enabled || slot < 0 || slot >= RIDER_SLOTS || k < -1) return -1;
  if (k == -1) return race_drop_tic();
  int i = index_of_counted(k);
  return i < 0 ? -1 : rider_crossing_time(slot, i);
}

int finished(int slot) { return rider_finished(slot); }

int lead_gap(int slot) {
  if (running_count < 2 || running_order[0] != slot) return -1;
  int second = running_order[1];
  int last = std::min(rider_timing[slot].progress, rider_timing[second].progress) - 1;
  for (int i = last; i >= 0; i--) {
    int a = rider_crossing_time(slot, i), b = rider_crossing_time(second, i);
    if (a >= 0 && b >= 0) return b - a >= 0 ? b - a : -1;
  }
  return -1;
}

int realign_target(Rider *r, float out[3]) {
  if (!r || !timing.enabled || r->slot < 0 || r->slot >= RIDER_SLOTS) return 0;
  const RiderTiming &t = rider_timing[r->slot];
  if (t.progress < 1 || rider_finished(r->slot)) return 0;
  if (robot_realign_point(r, counted_before(t.progress), out)) return 1;
  return timing_realign_target(r, out);
}

}  // namespace

void robot_link_attach() {
  robot_race.counted_lengths = counted_lengths;
  robot_race.progress = progress;
  robot_race.counted_before = counted_before;
  robot_race.is_counted = is_counted;
  robot_race.counted_tic = counted_tic;
  robot_race.finished = finished;
  robot_race.lead_gap = lead_gap;
  robot_race.personality = rider_personality;
  robot_attach();
  physics_hooks.realign_target = realign_target;
}
