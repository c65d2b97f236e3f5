// The default track's racing lines: the planned rider rides the course a
// few times per skill, slower for the lower skills and a little to either
// side of the centre line, and every segment it rides goes through the
// game's own recording into the tables, which are written as the game
// writes them. Robots so lap the track before anyone has raced it.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bike/bike.h"
#include "bike/rider.h"
#include "bike/robot.h"
#include "core/core.h"
#include "race/race_internal.h"
#include "race/robot_link.h"
#include "race/timing.h"
#include "terrain/terrain.h"
#include "tools/course/course_rider.h"
#include "tools/gen.h"

namespace {

const char *const BIKE = "yz250f(2017)";
const int LAPS = 2;
const float SPEEDS[3] = {0.8f, 0.9f, 1.0f};  // of the plan's bend speeds, per skill
const float OFFSETS[] = {0, -3, 3, -6, 6};   // ft right of the centre line
const int GATE_COUNTED = 6;  // checkpoints ridden from a gate

void put_shapes() {
  const BikeModel *m = &bike_models[find_bike_model(BIKE)];
  for (int part : {PART_FRAME_SHAPE, PART_FORK_UPPER_SHAPE, PART_FORK_LOWER_SHAPE,
                   PART_SWINGARM_SHAPE, PART_FRONT_WHEEL_SHAPE, PART_REAR_WHEEL_SHAPE,
                   PART_RIDER_SHAPE}) {
    CollisionShape s;
    s.spheres = default_shape_spheres(m, part);
    float bound = 0;
    for (const CollisionSphere &c : s.spheres) {
      float l = std::sqrt(c.centre[0] * c.centre[0] + c.centre[1] * c.centre[1] +
                          c.centre[2] * c.centre[2]) + c.radius;
      bound = l > bound ? l : bound;
    }
    s.bound_radius = bound;
    shape_cache_put(m->part_files[part], s);
  }
}

// The planned rider's steering law towards a point ahead on the centre
// line moved `lane` ft to the right.
float lane_steering(const GenTrackLayout &l, float lane, int index, Rider *r) {
  const dReal *p = dBodyGetPosition(r->body[FRAME]);
  float s = l.line[size_t(index)].s + float(14 + 0.7 * rider_speed(r));
  GenTrackPoint t = gen_track_point_at(s);
  double tx = t.x - t.tz * lane - p[0], tz = t.z + t.tx * lane - p[2];
  const dReal *R = dBodyGetRotation(r->body[FRAME]);
  double fx = -R[2], fz = -R[10];
  double e = atan2(fx * tz - fz * tx, fx * tx + fz * tz) * 3.0;
  return float(e < -1 ? -1 : (e > 1 ? 1 : e));
}

// Laps of the planned rider in a lane from lap distance `start_s`,
// recorded. 1 unless it crashed.
int ride(const GenTrackLayout &base, float speed, float lane, float start_s, int counted) {
  const GenTrackLayout &l = base;
  // Slower in the bends and the whoops; the jumps want their own speeds.
  CourseStyle style;
  style.bend_grip *= speed * speed;
  style.whoops *= speed;
  CoursePlan plan;
  course_plan(l, style, &plan);
  Rider *r = create_rider(0, BIKE, 1, "1", nullptr, nullptr, nullptr, nullptr);
  if (!r) return 0;
  course_stock_setup(r, 100, 0);
  place_on_course(r, start_s, lane);
  TicCommand c = rider_current_command(r);
  c.clutch = 1;
  rider_apply_command(r, c);
  course_take_bike(r);
  physics.now_tic = 0;
  physics.drop_tic = 0;
  timing_rider_reset(0);
  robot_state_reset(0);
  CourseRider cr;
  int crashes = 0;
  for (int tic = 0; tic < 128 * 300; tic++) {
    if (robot_race.counted_before(rider_timing[0].progress) >= counted) break;
    course_ride(l, plan, &cr, r, tic, &c);
    // The same law, aimed into the lane, scaled as the rider scales it on
    // faces and in the whoops (straight bars in the air stay straight).
    if (c.steering != 0 && cr.follow.index >= 0) {
      float centre = lane_steering(l, 0, cr.follow.index, r);
      float k = fabsf(centre) > 1e-3f ? c.steering / centre : 1;
      k = k < 0 ? 0 : (k > 1 ? 1 : k);
      c.steering = k * lane_steering(l, lane, cr.follow.index, r);
    }
    rider_apply_command(r, c);
    physics_tic();
    update_rider_timing(r);
    record_line(r);
    crashes = r->crash_count;
  }
  destroy_rider(r);
  if (getenv("TW_GEN_VERBOSE"))
    fprintf(stderr, "  speed %.1f lane %.1f: %d laps, %d crashes, best %.2f s\n",
            double(speed), double(lane), cr.laps, crashes,
            cr.best_lap_tics / 128.0);
  return crashes == 0;
}

}  // namespace

int gen_lines(const char *out) {
  const GenTrackLayout &layout = gen_track_layout();
  std::string dir = std::string(out) + "/" + layout.folder;
  if (!terrain_load(dir.c_str())) {
    fprintf(stderr, "gen_data: can't load %s for its lines\n", dir.c_str());
    return 0;
  }
  if (!read_timing_gates((dir + "/timing_gates").c_str()) || !timing.enabled ||
      !physics_init()) {
    fprintf(stderr, "gen_data: %s has no laps to record lines on\n", dir.c_str());
    terrain_free();
    return 0;
  }
  put_shapes();
  robot_link_attach();
  race.total_laps = race.halfway_lap = 1000000;
  int ok = 1;
  for (int skill = 0; skill < 3 && ok; skill++) {
    lines_prepare(timing.first_counted, timing.normal_counted);
    int clean = 0;
    // Whole laps in each lane, one checkpoint past the last lap line (a
    // segment is offered when the one after it ends).
    const int laps = timing.first_counted + (LAPS - 1) * timing.normal_counted + 1;
    for (float offset : OFFSETS) clean += ride(layout, SPEEDS[skill], offset, layout.start_s, laps);
    // From every gate in the gate's own lane: the grid starts spread out,
    // and no two neighbours on the grid are led into one lane (merging,
    // they met within the first few seconds).
    for (int g = 0; g < timing.gate_count; g++) {
      const StartGate &gate = timing.gates[g];
      size_t near = 0;
      double best = 1e30;
      for (size_t i = 0; i < layout.line.size(); i++) {
        double d = hypot(layout.line[i].x - gate.x, layout.line[i].z - gate.z);
        if (d < best) best = d, near = i;
      }
      const GenTrackPoint &c = layout.line[near];
      float lane = float((gate.x - c.x) * -c.tz + (gate.z - c.z) * c.tx);
      clean += ride(layout, SPEEDS[skill], lane, c.s - 0.625f, GATE_COUNTED);
    }
    int stored = 0;
    for (const LineTable &t : lines.table)
      for (const RacingLine &l : t.line) stored += !l.points.empty();
    std::vector<char> text;
    lines_format(&text);
    ok = stored > 0 && gen_write(out, std::string(layout.folder) + "/" + lines_file_name(skill),
                                std::string(text.begin(), text.end()));
    if (!ok) fprintf(stderr, "gen_data: no clean ride for %s\n", lines_file_name(skill));
    if (getenv("TW_GEN_VERBOSE"))
      fprintf(stderr, "%s: %d clean rides, %d lines\n", lines_file_name(skill), clean, stored);
  }
  lines_prepare(0, 0);
  physics_shutdown();
  terrain_free();
  timing_clear();
  return ok;
}
