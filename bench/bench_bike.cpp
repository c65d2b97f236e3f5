// The bike simulation's cost per rider and tic: N riders (1, 10, 40) ride
// the default track headless from a start grid, in the full race order of
// a tic (contacts, rider against rider, step, updates), each run beside the
// floor, the bare ODE step of the same body layout (bike_floor.h), so the
// ratio between them holds however busy the machine is.
//
//   bench_bike [--strict-friction] [--riders N] [TRACK_DIR] [SECONDS]
//
// The riders' controls are worked out first, by the course follower in a
// ride of its own, and then replayed as tic commands: the timed ride is the
// simulation alone (the follower's cost is printed apart). Each rider
// count runs twice: on fixed ground, then with ruts dug and roost thrown
// as in a race (rut records applied every second tic, roost particles
// moved every tic). The shares of a tic are timed here: contacts (world
// and rider against rider), the world step, the rider updates, and ruts
// and roost (the hooks, the particles and the queued ruts). Ride and floor
// run by turns three times each; the quickest of each is reported.
// --riders N runs that count alone; --strict-friction rides with the
// physics' strict friction setting.
//
// The bodies' collision shapes are read from the data folders: run from
// the build folder without TW_HOME there are none, and the riders touch
// the ground with their wheels only.
//
// TRACK_DIR defaults to $TW_BUILD_DIR/tracks/hollow_creek, else
// ./tracks/hollow_creek (run from the build folder).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "bench/bike_floor.h"
#include "bike/dig.h"
#include "bike/rider.h"
#include "core/log.h"
#include "terrain/terrain.h"
#include "tools/course/course_rider.h"

using Clock = std::chrono::steady_clock;
static double seconds_since(Clock::time_point t) {
  return std::chrono::duration<double>(Clock::now() - t).count();
}

// Ruts and roost hooks with a stopwatch round them.
static PhysicsHooks dig_hooks;
static double dig_seconds;
static void timed_rut(Rider *r, const WheelContact *w) {
  Clock::time_point t = Clock::now();
  dig_hooks.wheel_rut(r, w);
  dig_seconds += seconds_since(t);
}
static void timed_roost(Rider *r, const WheelContact *w, float max_angle) {
  Clock::time_point t = Clock::now();
  dig_hooks.wheel_roost(r, w, max_angle);
  dig_seconds += seconds_since(t);
}

static std::string track;
enum { REPEATS = 3 };

// Fresh ground, the rut and roost state of a track load, and `count`
// riders on the grid with the stock setup, clutch in.
static int start_race(int count, bool ruts) {
  terrain_free();
  if (!terrain_load(track.c_str())) {
    fprintf(stderr, "bench_bike: can't load %s\n", track.c_str());
    return 0;
  }
  erode_queue_clear();
  dig_reset_all();
  roost_pool_reset();
  // Roost and ruts are off on fixed ground: no hooks, no queue.
  physics_hooks.wheel_rut = ruts ? timed_rut : nullptr;
  physics_hooks.wheel_roost = ruts ? timed_roost : nullptr;
  if (!physics_init()) return 0;
  const GenTrackLayout &layout = gen_track_layout();
  for (int i = 0; i < count; i++) {
    Rider *r = create_rider(i, "yz250f(2017)", 1, "1", nullptr, nullptr, nullptr, nullptr);
    if (!r) return 0;
    course_stock_setup(r, 100, 0);
    // Rows of eight across the course, 8 ft apart.
    place_on_course(r, layout.start_s - 8.0f * float(i / 8), -10.5f + 3.0f * float(i % 8));
    TicCommand c = rider_current_command(r);
    c.clutch = 1;
    c.throttle = 1;
    rider_apply_command(r, c);
  }
  return 1;
}

static void dig_tic(bool ruts, int t) {
  if (!ruts) return;
  roost_update();
  if (t & 1) erode_process(nullptr, 1.0f, physics.now_tic);
}

static uint64_t riders_hash(int count) {
  uint64_t h = 1469598103934665603ull;
  for (int i = 0; i < count; i++) h = rider_state_hash(&riders[i], h);
  return h;
}

struct Recorded {
  std::vector<TicCommand> commands;  // tic * count + rider
  double driver_us;                  // the follower's CPU time per rider-tic
  uint64_t hash;                     // every rider's state at the end
};

// The follower rides: full throttle below the speed for the bend ahead,
// off it and on the front brake above.
static int record(int count, int tics, bool ruts, Recorded *out) {
  if (!start_race(count, ruts)) return 0;
  const GenTrackLayout &layout = gen_track_layout();
  std::vector<CourseFollower> follow(count);
  std::vector<double> target(count);
  out->commands.resize(size_t(tics) * count);
  double driver = 0;
  for (int t = 0; t < tics; t++) {
    std::clock_t c0 = std::clock();
    for (int i = 0; i < count; i++) {
      Rider *r = &riders[i];
      TicCommand c = rider_current_command(r);
      c.steering = follow_course(layout, &follow[i], r);
      // The bend ahead changes slowly: look every eighth tic.
      if ((t & 7) == 0) target[i] = course_speed(layout, &follow[i]);
      double over = rider_speed(r) - target[i];
      c.throttle = over > 0 ? 0.0f : 1.0f;
      c.front_brake = over > 4 ? 0.8f : 0.0f;
      out->commands[size_t(t) * count + i] = c;
    }
    driver += double(std::clock() - c0) / CLOCKS_PER_SEC;
    for (int i = 0; i < count; i++) rider_apply_command(&riders[i], out->commands[size_t(t) * count + i]);
    physics_tic();
    dig_tic(ruts, t);
  }
  out->driver_us = 1e6 * driver / (double(count) * tics);
  out->hash = riders_hash(count);
  physics_shutdown();
  return 1;
}

struct Timed {
  double us;  // CPU time per rider-tic
  double share[4];  // contacts, step, rider updates, ruts and roost
  int crashes;
  bool same;  // ended in the recorded state
};

// The recorded commands again, the phases timed by the wall clock (cheap
// to read; their shares come out right however the run is interrupted),
// the whole by the CPU time.
static int replay(int count, int tics, bool ruts, const Recorded &rec, Timed *out) {
  if (!start_race(count, ruts)) return 0;
  double phase[4] = {0, 0, 0, 0};
  dig_seconds = 0;
  std::clock_t c0 = std::clock();
  for (int t = 0; t < tics; t++) {
    for (int i = 0; i < count; i++) rider_apply_command(&riders[i], rec.commands[size_t(t) * count + i]);
    double dig0 = dig_seconds;
    Clock::time_point a = Clock::now();
    physics_contacts();
    Clock::time_point b = Clock::now();
    double roost = dig_seconds - dig0;
    physics_step();
    Clock::time_point c = Clock::now();
    double rut = dig_seconds - dig0 - roost;
    physics_update_riders();
    physics.now_tic++;
    Clock::time_point d = Clock::now();
    dig_tic(ruts, t);
    Clock::time_point e = Clock::now();
    phase[0] += std::chrono::duration<double>(b - a).count() - roost;
    phase[1] += std::chrono::duration<double>(c - b).count() - rut;
    phase[2] += std::chrono::duration<double>(d - c).count();
    phase[3] += std::chrono::duration<double>(e - d).count() + roost + rut;
  }
  double cpu = double(std::clock() - c0) / CLOCKS_PER_SEC;
  out->us = 1e6 * cpu / (double(count) * tics);
  double all = phase[0] + phase[1] + phase[2] + phase[3];
  for (int k = 0; k < 4; k++) out->share[k] = all > 0 ? phase[k] / all : 0;
  out->crashes = 0;
  for (int i = 0; i < count; i++) out->crashes += riders[i].crash_count;
  out->same = riders_hash(count) == rec.hash;
  physics_shutdown();
  return 1;
}

int main(int argc, char **argv) {
  int strict = 0, only = 0;
  std::vector<const char *> args;
  for (int i = 1; i < argc; i++) {
    if (!strcmp(argv[i], "--strict-friction"))
      strict = 1;
    else if (!strcmp(argv[i], "--riders") && i + 1 < argc)
      only = atoi(argv[++i]);
    else
      args.push_back(argv[i]);
  }
  if (only < 0 || only > RIDER_SLOTS) only = 0;
  if (!args.empty())
    track = args[0];
  else if (getenv("TW_BUILD_DIR"))
    track = std::string(getenv("TW_BUILD_DIR")) + "/tracks/hollow_creek";
  else
    track = "tracks/hollow_creek";
  double seconds = args.size() > 1 ? atof(args[1]) : 20;
  if (!(seconds > 0) || seconds > 3600) seconds = 20;
  int tics = int(seconds * 128);
  physics_options.strict_friction = strict;
  dig_attach();
  dig_hooks = physics_hooks;
  printf("bench_bike: %s, %d tics a run%s; CPU microseconds per rider-tic, the floor measured "
         "by turns with the ride\n",
         track.c_str(), tics, strict ? ", strict friction" : "");
  for (int n : {1, 10, 40}) {
    if (only) n = only;
    for (int ruts = 0; ruts < 2; ruts++) {
      Recorded rec;
      if (!record(n, tics, ruts != 0, &rec)) return 1;
      // Ride and floor by turns, a few times each, and the quickest of
      // each: what another program took from this one weighs least there.
      Timed run{};
      double floor = 1e300;
      bool fell = false, same = true;
      for (int k = 0; k < REPEATS; k++) {
        double f = floor_rider_tic_us(n, tics);
        fell = fell || f < 0;
        floor = std::min(floor, f < 0 ? -f : f);
        Timed t;
        if (!replay(n, tics, ruts != 0, rec, &t)) return 1;
        same = same && t.same;
        if (k == 0 || t.us < run.us) run = t;
      }
      run.same = same;
      if (fell) floor = -floor;
      printf("%3d riders%-21s %6.2f us = %4.2f x floor (%5.2f)  contacts %4.1f%%  step %4.1f%%  "
             "riders %4.1f%%  ruts+roost %4.1f%%  | driver %.2f us apart, %d crashes%s%s\n",
             n, ruts ? " with ruts and roost" : "", run.us, run.us / (floor > 0 ? floor : -floor),
             floor > 0 ? floor : -floor, 100 * run.share[0], 100 * run.share[1],
             100 * run.share[2], 100 * run.share[3], rec.driver_us, run.crashes,
             run.same ? "" : ", REPLAY DIFFERS FROM THE RIDE", floor > 0 ? "" : ", FLOOR RIG FELL");
      fflush(stdout);
    }
    if (only) break;
  }
  terrain_free();
  return 0;
}
