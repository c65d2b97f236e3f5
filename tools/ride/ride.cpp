// ride: a headless rider. Loads a track folder, puts a bike on the start
// of the default course (or at a given point), applies a scripted control
// sequence and prints the rider's state every N tics.
//
//   ride [--track DIR] [--bike NAME] [--seconds S] [--every N] [--follow]
//        [--script FILE] [--at X,Z,HEADING] [--stability N] [--arcade]
//        [--strict-friction] [--style KEY=VALUE...] [--gates] [CONTROL...]
//
// A control is "TIME:key=value[,key=value...]" (also one per line in a
// script file, '#' starts a comment). Keys: throttle, front, rear, steer,
// lean, clutch, sit, backup (0..1 or -1..1), gear (1..6), shift (+1/-1).
// Values hold until changed. --follow rides the default course: it steers
// along the line, plans its speed for bends, jumps and whoops, changes gear
// itself, and prints each lap's time (a lap is the course's length along
// its centre line from where the ride began, the start gate unless --at)
// and each flight's take-off and landing. The rider has the stock setup
// (stability 100, automatic shifting), arcade off. --strict-friction rides
// with the physics' strict friction setting. --gates reads the track's
// "timing_gates" and prints every checkpoint the rider crosses (sequence
// index, checkpoint, counted or not, time) and each lap's tally of entries
// crossed and skipped.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/core.h"
#include "bike/rider.h"
#include "core/log.h"
#include "race/race_internal.h"
#include "race/timing.h"
#include "terrain/terrain.h"
#include "tools/course/control_script.h"
#include "tools/course/course_rider.h"

static int parse_style(const char *text, CourseStyle *style) {
  const char *eq = strchr(text, '=');
  if (!eq) return 0;
  char *end;
  float v = strtof(eq + 1, &end);
  if (end == eq + 1 || *end || !std::isfinite(v) || v <= 0) return 0;
  std::string k(text, eq);
  if (k == "grip") style->bend_grip = v;
  else if (k == "braking") style->braking = v;
  else if (k == "whoops") style->whoops = v;
  else if (k == "roller") style->roller = v;
  else if (k == "tabletop") style->tabletop = v;
  else if (k == "double") style->double_jump = v;
  else if (k == "step_up") style->step_up = v;
  else return 0;
  return 1;
}

static float script_throttle;  // the script's, which the follower holds back

// A control step drives the bike the way every rider is driven: one tic
// command, the controls it does not name left as they are.
static int apply_step(Rider *r, const ControlStep &s) {
  TicCommand c = rider_current_command(r);
  if (!control_apply(r, s, &c)) {
    fprintf(stderr, "ride: unknown control '%s'\n", s.key.c_str());
    return 0;
  }
  if (s.key == "throttle") script_throttle = c.throttle;
  if (s.key != "gear") rider_apply_command(r, c);
  return 1;
}

// The crossings the timing test took this tic, and at a lap line the lap's
// tally.
static void print_crossings(Rider *r, const GenTrackLayout &layout) {
  static int seen = 0;
  const RiderTiming &t = rider_timing[r->slot];
  update_rider_timing(r);
  const int F = timing.first_count, N = timing.normal_count;
  for (; seen < t.progress; seen++) {
    int time = t.crossing_times[size_t(seen)];
    if (time < 0) continue;
    int entry = seen < F ? timing.entries[seen] : timing.entries[F + (seen - F) % N];
    // Where it stands along the lap.
    const Checkpoint &c = timing.checkpoints[timing_checkpoint_for(seen)];
    size_t near = 0;
    double best = 1e30;
    for (size_t i = 0; i < layout.line.size(); i++) {
      double d = hypot(layout.line[i].x - c.x, layout.line[i].z - c.z);
      if (d < best) best = d, near = i;
    }
    printf("# cross %d checkpoint %d%s at %.3f s (s=%.0f)\n", seen, timing_checkpoint_for(seen),
           entry >= UNCOUNTED_ENTRY ? " uncounted" : "", time / 128.0, layout.line[near].s);
    if (timing_is_lap_line(seen)) {
      int lap = rider_completed_laps(r->slot);
      int from = lap == 1 ? 0 : timing_lap_line(lap - 1) + 1, skipped = 0;
      for (int i = from; i <= seen; i++) skipped += t.crossing_times[size_t(i)] < 0;
      printf("# timing lap %d: %d entries crossed, %d skipped, %.3f s\n", lap, seen + 1 - from - skipped,
             skipped, rider_lap_time(r->slot, lap));
    }
  }
}

int main(int argc, char **argv) {
  const GenTrackLayout &layout = gen_track_layout();
  std::string track = std::string(TW_BUILD_DIR) + "/" + layout.folder;
  const char *bike = "yz250f(2017)";
  double seconds = 20;
  int every = 64, follow = 0, have_at = 0, arcade = 0, stability = 100, gates = 0;
  double at[3] = {0, 0, 0};
  std::vector<ControlStep> steps;
  CourseStyle style;
  for (int i = 1; i < argc; i++) {
    const char *a = argv[i];
    auto next = [&](const char *what) -> const char * {
      if (i + 1 >= argc) {
        fprintf(stderr, "ride: %s needs a value\n", what);
        exit(2);
      }
      return argv[++i];
    };
    if (!strcmp(a, "--help")) {
      printf("usage: ride [--track DIR] [--bike NAME] [--seconds S] [--every N] [--follow]\n"
             "            [--script FILE] [--at X,Z,HEADING] [--stability N] [--arcade]\n"
             "            [--strict-friction] [--style KEY=VALUE]... [--gates]\n"
             "            [TIME:key=value[,key=value...]]...\n"
             "keys: throttle, front, rear, steer, lean, clutch, sit, backup (0..1 or -1..1),\n"
             "      gear (1..6), shift (+1/-1); values hold until changed.\n"
             "--follow rides the default course to a speed plan (the script's throttle,\n"
             "if any, is the most it opens), printing lap times and jumps; --style sets\n"
             "the plan: grip, braking, whoops, roller, tabletop, double, step_up (ft/s).\n"
             "--strict-friction limits each tire to mu times the load it carries.\n"
             "--gates prints every checkpoint of the track's timing gates crossed.\n"
             "The state is printed every N tics.\n");
      return 0;
    }
    if (!strcmp(a, "--track")) track = next(a);
    else if (!strcmp(a, "--bike")) bike = next(a);
    else if (!strcmp(a, "--seconds")) seconds = atof(next(a));
    else if (!strcmp(a, "--every")) every = atoi(next(a));
    else if (!strcmp(a, "--follow")) follow = 1;
    else if (!strcmp(a, "--arcade")) arcade = 1;
    else if (!strcmp(a, "--strict-friction")) physics_options.strict_friction = 1;
    else if (!strcmp(a, "--gates")) gates = 1;
    else if (!strcmp(a, "--stability")) stability = atoi(next(a));
    else if (!strcmp(a, "--style")) {
      if (!parse_style(next(a), &style)) {
        fprintf(stderr, "ride: --style wants KEY=VALUE with a known key\n");
        return 2;
      }
    }
    else if (!strcmp(a, "--script")) {
      std::string errors;
      if (!control_script_read(next(a), &steps, &errors)) {
        fprintf(stderr, "ride: %s", errors.c_str());
        return 2;
      }
    } else if (!strcmp(a, "--at")) {
      if (sscanf(next(a), "%lf,%lf,%lf", &at[0], &at[1], &at[2]) != 3) {
        fprintf(stderr, "ride: --at wants X,Z,HEADING\n");
        return 2;
      }
      have_at = 1;
    } else if (!control_parse(a, &steps)) {
      fprintf(stderr, "ride: bad argument '%s'\n", a);
      return 2;
    }
  }
  if (!(seconds > 0) || seconds > 36000 || every < 1) {
    fprintf(stderr, "ride: bad --seconds or --every\n");
    return 2;
  }
  // Following with no script: clutch in and throttle open from the start.
  if (follow && steps.empty()) control_parse("0:clutch=1,throttle=1", &steps);
  // Steps in time order; equal times keep their order.
  control_sort(&steps);

  if (!terrain_load(track.c_str())) {
    fprintf(stderr, "ride: can't load the track %s\n", track.c_str());
    return 1;
  }
  if (!physics_init()) return 1;
  if (gates) {
    if (!read_timing_gates((track + "/timing_gates").c_str()) || !timing.enabled) {
      fprintf(stderr, "ride: %s/timing_gates has no usable laps\n", track.c_str());
      return 1;
    }
    // Open-ended riding: the race's finish rule never stops the timing.
    race.total_laps = race.halfway_lap = 1000000;
    printf("# timing: %d checkpoints, first lap %d entries (%d counted), normal lap %d (%d)\n",
           timing.checkpoint_count, timing.first_count, timing.first_counted, timing.normal_count,
           timing.normal_counted);
  }
  Rider *r = create_rider(0, bike, 1, "1", nullptr, nullptr, nullptr, nullptr);
  if (!r) return 1;
  // The stock setup a new player gets, with the chosen aids.
  course_stock_setup(r, stability, arcade);
  if (have_at) {
    const double up[3] = {0, 1, 0};
    turn_rider(r, up, at[2]);
    const dReal *f = dBodyGetPosition(r->body[FRAME]);
    move_rider(r, at[0] - f[0], terrain_height(float(at[0]), float(at[1])) + 0.1, at[1] - f[2]);
    for (int i = 0; i < 200 && rider_intersects(r); i++) move_rider(r, 0, 0.25, 0);
  } else {
    place_on_course(r, layout.start_s, 0);
  }
  CoursePlan plan;
  course_plan(layout, style, &plan);
  CourseRider cr;
  if (follow) course_take_bike(r);
  int air_from = -1;
  float air_speed = 0;
  int air_tic = 0;
  size_t next_step = 0;
  int tics = int(seconds * 128);
  printf("# tic time x y z speed gear rpm lean crashed pitch throttle\n");
  for (int tic = 0; tic <= tics; tic++) {
    double t = tic / 128.0;
    while (next_step < steps.size() && steps[next_step].time <= t)
      if (!apply_step(r, steps[next_step++])) return 2;

    if (follow) {
      int laps = cr.laps;
      TicCommand c;
      course_ride(layout, plan, &cr, r, tic, &c);
      if (c.throttle > script_throttle) c.throttle = script_throttle;
      rider_apply_command(r, c);
      if (cr.laps > laps)
        printf("# lap %d %.3f s (crashes so far %d)\n", cr.laps, cr.last_lap_tics / 128.0, r->crash_count);
      // Each flight of a quarter second or more: where it left and landed.
      if (cr.air_tics == 1) {
        air_from = cr.follow.index;
        air_tic = tic;
        air_speed = rider_speed(r);
      } else if (cr.air_tics == 0 && air_from >= 0) {
        if (tic - air_tic >= 32)
          printf("# flight from s=%.0f at %.1f ft/s, %.2f s, down at s=%.0f, pitch %.2f rad\n",
                 layout.line[air_from].s, air_speed, (tic - air_tic) / 128.0,
                 layout.line[cr.follow.index].s, frame_pitch(r));
        air_from = -1;
      }
    }
    if (tic % every == 0) {
      const dReal *p = dBodyGetPosition(r->body[FRAME]);
      printf("%d %.3f %.2f %.2f %.2f %.2f %d %.0f %.3f %d %.3f %.2f\n", tic, t, p[0], p[1], p[2],
             rider_speed(r), r->gear + 1, rider_rpm(r), r->lean_angle, r->crash_timer > 0,
             frame_pitch(r), r->throttle);
    }
    if (tic < tics) physics_tic();
    if (gates) print_crossings(r, layout);
  }
  if (follow) printf("# laps %d, best %.3f s\n", cr.laps, cr.best_lap_tics / 128.0);
  printf("# crashes %d, non-finite resets %d\n", r->crash_count, r->nonfinite_resets);
  physics_shutdown();
  terrain_free();
  return 0;
}
