// Rider-tics per second: N riders (1, 10, 40 by default) ride the default
// track headless, each following the course from its own grid spot with
// the throttle open, in the full race order of a tic (contacts, rider
// against rider, step, updates).
//
//   bench_bike [TRACK_DIR] [SECONDS]
//
// Each rider count runs twice: on fixed ground, then with ruts dug and
// roost thrown as in a race (rut records queued and applied every second
// tic, roost particles moved every tic), so the difference is their cost.
//
// TRACK_DIR defaults to $TW_BUILD_DIR/tracks/hollow_creek, else
// ./tracks/hollow_creek (run from the build folder).
#include <chrono>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "bike/dig.h"
#include "bike/rider.h"
#include "core/log.h"
#include "terrain/terrain.h"
#include "tools/course/course_rider.h"

static double run(int count, double seconds, bool ruts) {
  const GenTrackLayout &layout = gen_track_layout();
  physics_init();
  CourseFollower follow[RIDER_SLOTS];
  static double target[RIDER_SLOTS];
  for (int i = 0; i < count; i++) {
    Rider *r = create_rider(i, "yz250f(2017)", 1, "1", nullptr, nullptr, nullptr, nullptr);
    course_stock_setup(r, 100, 0);
    // A start grid: rows of eight across the course, 8 ft apart.
    place_on_course(r, layout.start_s - 8.0f * float(i / 8), -10.5f + 3.0f * float(i % 8));
    TicCommand c = rider_current_command(r);
    c.clutch = c.throttle = 1;
    rider_apply_command(r, c);
  }
  int tics = int(seconds * 128);
  auto t0 = std::chrono::steady_clock::now();
  std::clock_t c0 = std::clock();
  for (int t = 0; t < tics; t++) {
    for (int i = 0; i < count; i++) {
      Rider *r = &riders[i];
      TicCommand c = rider_current_command(r);
      c.steering = follow_course(layout, &follow[i], r);
      // The bend ahead changes slowly: look every eighth tic.
      if ((t & 7) == 0 || t == 0) target[i] = course_speed(layout, &follow[i]);
      double over = rider_speed(r) - target[i];
      c.throttle = over > 0 ? 0.0f : 1.0f;
      c.front_brake = over > 4 ? 0.8f : 0.0f;
      rider_apply_command(r, c);
    }
    physics_tic();
    if (ruts) {
      roost_update();
      if (t & 1) erode_process(nullptr, 1.0f, physics.now_tic);
    }
  }
  double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  double cpu = double(std::clock() - c0) / CLOCKS_PER_SEC;
  int crashes = 0;
  double along = 0;
  for (int i = 0; i < count; i++) {
    crashes += riders[i].crash_count;
    if (follow[i].index >= 0) along += layout.line[follow[i].index].s - layout.start_s;
  }
  physics_shutdown();
  // CPU time is what one core gives while others share the machine.
  double rate = count * double(tics) / cpu;
  printf("%3d riders%s: %8.0f rider-tics/s of CPU time (%.0f by the wall clock; %d tics, %d crashes, "
         "%.0f ft along the course on average)\n",
         count, ruts ? " with ruts and roost" : "", rate, count * double(tics) / s, tics, crashes, along / count);
  return rate;
}

int main(int argc, char **argv) {
  std::string track;
  if (argc > 1)
    track = argv[1];
  else if (getenv("TW_BUILD_DIR"))
    track = std::string(getenv("TW_BUILD_DIR")) + "/tracks/hollow_creek";
  else
    track = "tracks/hollow_creek";
  double seconds = argc > 2 ? atof(argv[2]) : 20;
  if (!(seconds > 0) || seconds > 3600) seconds = 20;
  dig_attach();
  PhysicsHooks with_ruts = physics_hooks;
  for (int n : {1, 10, 40}) {
    double us[2];
    for (int ruts = 0; ruts < 2; ruts++) {
      // Every run starts from the unrutted ground.
      terrain_free();
      if (!terrain_load(track.c_str())) {
        fprintf(stderr, "bench_bike: can't load %s\n", track.c_str());
        return 1;
      }
      erode_queue_clear();
      dig_reset_all();
      roost_pool_reset();
      // Roost and ruts are off in the first run: no hooks, no queue.
      physics_hooks.wheel_rut = ruts ? with_ruts.wheel_rut : nullptr;
      physics_hooks.wheel_roost = ruts ? with_ruts.wheel_roost : nullptr;
      us[ruts] = 1e6 / run(n, seconds, ruts != 0);
    }
    printf("%3d riders: ruts and roost cost %.2f us per rider-tic (%.2f -> %.2f)\n", n,
           us[1] - us[0], us[0], us[1]);
  }
  terrain_free();
  return 0;
}
