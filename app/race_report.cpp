// Races started from the command line: their settings, their lineup, and
// what a headless run tells of them on standard output.
#include <cstdio>
#include <cstring>

#include "app/app.h"
#include "bike/rider.h"
#include "race/race.h"

NewRace new_race_settings() {
  NewRace n;
  n.record = settings.race_given ? settings.record_demo : config.record;
  double minutes = settings.race_minutes >= 0 ? settings.race_minutes : config.minutes;
  double laps = settings.race_laps >= 0 ? settings.race_laps : config.laps;
  n.time_limit_tics = int(minutes * 60 / TIC_SECONDS);
  n.laps = int(laps);
  n.skill = settings.race_skill >= 0 ? settings.race_skill : config.skill;
  return n;
}

void lineup_from_text(const char *slots, int out[RIDER_SLOTS]) {
  for (int i = 0; i < RIDER_SLOTS; i++) out[i] = SLOT_EMPTY;
  for (int i = 0; i < 40 && slots && slots[i]; i++) {
    switch (slots[i]) {
      case 'H': out[i] = SLOT_LOCAL; break;
      case 'R': out[i] = SLOT_ROBOT; break;
      case '2': out[i] = SLOT_ROBOT_125; break;
      case '4': out[i] = SLOT_ROBOT_250; break;
      default: break;
    }
  }
}

namespace {

void clock_text(int tics, char *out, size_t size) {
  if (tics < 0) tics = 0;
  long ms = long(tics) * 1000 / TICS_PER_SECOND;
  snprintf(out, size, "%ld:%02ld.%03ld", ms / 60000, ms / 1000 % 60, ms % 1000);
}

const char *number_of(int slot) {
  const Rider *r = rider_in_slot(slot);
  return r ? r->number : "";
}

void print_lap(int slot, int lap, int tics) {
  printf("lap %d slot %d #%s: %.3f s\n", lap, slot, number_of(slot), tics * TIC_SECONDS);
  fflush(stdout);
}

void print_final_order() {
  printf("final order:\n");
  ResultRow row;
  for (int place = 0; race_result_row(place, &row); place++) {
    char total[32], best[32];
    clock_text(row.tics, total, sizeof total);
    clock_text(row.best_tics, best, sizeof best);
    printf("%2d. slot %d #%s: %d laps %s, best lap %d %s%s\n", place + 1, row.slot,
           number_of(row.slot), row.laps, total, row.best_lap, best,
           row.finished ? "" : " (not finished)");
  }
  fflush(stdout);
}

void print_trial_lap(int lap, int tics, int valid) {
  if (lap == 0) printf("time trial: flying start\n");
  else if (!valid) printf("time trial lap %d: not valid, a checkpoint was missed\n", lap);
  else printf("time trial lap %d: %.3f s (flying start)\n", lap, tics * TIC_SECONDS);
  fflush(stdout);
}

}  // namespace

void race_report_install() {
  race_hooks.lap_completed = print_lap;
  race_hooks.results_final = print_final_order;
  race_hooks.time_trial_lap = print_trial_lap;
}
