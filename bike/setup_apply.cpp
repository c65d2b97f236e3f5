// The setup turned into the physical values a rider uses, the mechanic who
// refuses to work on a moving bike, and the setup-change watch list.
#include <cmath>
#include <cstdio>

#include "core/core.h"
#include "bike/bike.h"
#include "core/mathutil.h"

namespace {

constexpr double PI = 3.14159265358979323846;
constexpr double MPH_TO_FPS = 1.4666666666666666;
constexpr double FT_TO_MM = 304.8;
// lbf/ft in kgf/mm: a pound-force is 0.45359237 kgf.
constexpr double LBF_FT_TO_KG_MM = 0.45359237 / 304.8;

// NaN lands on the low end, so a bad value never reaches the physics.
double value(const RiderSetup *s, int key) {
  const SetupOption &o = s->options[key];
  return clampd_nan_lo(o.value, o.minimum, o.maximum);
}

double lerp(double a, double b, double t) { return a + (b - a) * t; }

// Stock damping at 50; doubles or halves every 25 clicks.
double high_speed(double stock, double v) { return stock * clampd_nan_lo(std::exp2(0.04 * v - 2), 0.25, 4); }
double low_speed(double scale, double v) { return scale * clampd_nan_lo(0.02 * v - 1, -1, 1); }
double fraction(double v) { return clampd_nan_lo(v / 100, 0, 1); }

int teeth(float stock, double adjustment) {
  int n = static_cast<int>(std::floor(stock + clampd_nan_lo(adjustment, -2, 2)));
  return n < 3 ? 3 : n;
}

int selected(const RiderSetup *s, int key) { return s->options[key].selected; }

double last_refusal = -20;

}  // namespace

void setup_convert(const RiderSetup *s, const BikeModel *m, int arcade_allowed, RiderAdjust *out) {
  RiderAdjust a{};
  a.leveling = value(s, SETUP_LEVELING);
  a.roll_damping = value(s, SETUP_ROLL_DAMPING);
  a.roll_limit_angle = clampd_nan_lo(value(s, SETUP_ROLL_LIMIT_ANGLE) * PI / 180, 0, PI);
  a.roll_limit_factor = value(s, SETUP_ROLL_LIMIT_FACTOR);
  a.steering_damping = value(s, SETUP_STEERING_DAMPING);
  a.steering_strength = value(s, SETUP_STEERING_STRENGTH);
  a.max_steering_force = value(s, SETUP_MAX_STEERING_FORCE);
  a.arcade = arcade_allowed && selected(s, SETUP_ARCADE) == 1;
  a.front_antilock = selected(s, SETUP_FRONT_BRAKE) == 1;
  a.rear_antilock = selected(s, SETUP_REAR_BRAKE) == 1;
  static const int wheelie_modes[3] = {0, 3, 2};
  int w = selected(s, SETUP_STOP_WHEELIES);
  a.stop_wheelies = w >= 0 && w < 3 ? wheelie_modes[w] : 0;
  a.auto_shift = selected(s, SETUP_AUTO_SHIFT) == 1;
  a.auto_dab = selected(s, SETUP_AUTO_DAB) == 1;
  a.auto_align = selected(s, SETUP_AUTO_ALIGN) == 1;
  a.direct_steering = value(s, SETUP_DIRECT_STEERING);
  a.slow_damping_speed = value(s, SETUP_SLOW_DAMPING_SPEED);
  a.slow_damping_factor = value(s, SETUP_SLOW_DAMPING_FACTOR);
  a.land_damping_rampup = value(s, SETUP_LAND_DAMPING_RAMPUP);
  a.land_damping_falloff = value(s, SETUP_LAND_DAMPING_FALLOFF);
  a.land_damping_factor = value(s, SETUP_LAND_DAMPING_FACTOR);
  a.full_lock_speed = value(s, SETUP_FULL_LOCK_SPEED);
  a.restricted_lock_speed = value(s, SETUP_RESTRICTED_LOCK_SPEED);
  a.restricted_lock = clampd_nan_lo(value(s, SETUP_RESTRICTED_LOCK) * PI / 180, 0, PI / 4);
  a.auto_clutch_rpms = value(s, SETUP_AUTO_CLUTCH_RPMS);
  a.brake_torque = value(s, SETUP_BRAKE_TORQUE);
  a.rear_brake_torque = value(s, SETUP_REAR_BRAKE_TORQUE);
  a.max_dab_speed = clampd_nan_lo(value(s, SETUP_MAX_DAB_SPEED) * MPH_TO_FPS, 7, 100);

  a.front_teeth = teeth(m->front_sprocket, value(s, SETUP_FRONT_SPROCKET));
  a.rear_teeth = teeth(m->rear_sprocket, value(s, SETUP_REAR_SPROCKET));
  a.final_drive_ratio = static_cast<double>(a.rear_teeth) / a.front_teeth;

  a.fork_hs_compression = high_speed(m->fork_hs_compression, value(s, SETUP_FORK_COMPRESSION));
  a.fork_ls_compression = low_speed(m->fork_ls_compression, value(s, SETUP_FORK_SLOW_COMPRESSION));
  a.fork_hs_rebound = high_speed(m->fork_hs_rebound, value(s, SETUP_FORK_REBOUND));
  a.fork_ls_rebound = low_speed(m->fork_ls_rebound, value(s, SETUP_FORK_SLOW_REBOUND));
  a.fork_spring = lerp(m->fork_spring_min, m->fork_spring_max, fraction(value(s, SETUP_FORK_SPRING_RATE)));
  a.fork_preload = lerp(m->fork_preload_min, m->fork_preload_max, fraction(value(s, SETUP_FORK_PRELOAD)));
  a.fork_air_gap = lerp(m->fork_oil_min, m->fork_oil_max, fraction(value(s, SETUP_FORK_OIL_LEVEL)));

  a.shock_hs_compression = high_speed(m->shock_hs_compression, value(s, SETUP_SHOCK_COMPRESSION));
  a.shock_ls_compression = low_speed(m->shock_ls_compression, value(s, SETUP_SHOCK_SLOW_COMPRESSION));
  a.shock_hs_rebound = high_speed(m->shock_hs_rebound, value(s, SETUP_SHOCK_REBOUND));
  a.shock_ls_rebound = low_speed(m->shock_ls_rebound, value(s, SETUP_SHOCK_SLOW_REBOUND));
  a.shock_spring = lerp(m->shock_spring_min, m->shock_spring_max, fraction(value(s, SETUP_SHOCK_SPRING_RATE)));
  a.shock_preload = lerp(m->shock_preload_min, m->shock_preload_max, fraction(value(s, SETUP_SHOCK_PRELOAD)));

  a.rider_yspring = fraction(value(s, SETUP_RIDER_YSPRING));
  a.rider_zspring = fraction(value(s, SETUP_RIDER_ZSPRING));
  a.rider_ydamping = fraction(value(s, SETUP_RIDER_YDAMPING));
  a.rider_zdamping = fraction(value(s, SETUP_RIDER_ZDAMPING));
  a.rider_mass_distribution = clampd_nan_lo(value(s, SETUP_RIDER_MASS_DISTRIBUTION), 0.33, 0.5);
  *out = a;
}

double frame_mass_with_rider(const BikeModel *m, double x) {
  return m->frame_mass + m->rider_mass * (1 - clampd_nan_lo(x, 0.33, 0.5));
}

double rider_body_mass(const BikeModel *m, double x) { return clampd_nan_lo(x, 0.33, 0.5) * m->rider_mass; }

int setup_physical_text(const RiderSetup *s, int key, const BikeModel *m, char *out, int size) {
  if (size <= 0) return 0;
  out[0] = 0;
  RiderAdjust a;
  setup_convert(s, m, 1, &a);
  int n;
  switch (key) {
    case SETUP_FORK_SPRING_RATE: n = snprintf(out, size, "%.3f kg/mm", a.fork_spring * LBF_FT_TO_KG_MM); break;
    case SETUP_SHOCK_SPRING_RATE: n = snprintf(out, size, "%.2f kg/mm", a.shock_spring * LBF_FT_TO_KG_MM); break;
    case SETUP_FORK_PRELOAD: n = snprintf(out, size, "%.2f mm", a.fork_preload * FT_TO_MM); break;
    case SETUP_SHOCK_PRELOAD: n = snprintf(out, size, "%.2f mm", a.shock_preload * FT_TO_MM); break;
    case SETUP_FORK_OIL_LEVEL: n = snprintf(out, size, "%.2f mm", a.fork_air_gap * FT_TO_MM); break;
    case SETUP_FRONT_SPROCKET: n = snprintf(out, size, "%.2f teeth", static_cast<double>(a.front_teeth)); break;
    case SETUP_REAR_SPROCKET: n = snprintf(out, size, "%.2f teeth", static_cast<double>(a.rear_teeth)); break;
    default: return 0;
  }
  return n >= 0;
}

int apply_setup(const RiderSetup *s, const BikeModel *m, int arcade_allowed, double frame_speed,
                double game_time, RiderAdjust *out) {
  // Adjusting a bike in motion would make it jump; a NaN speed counts as
  // moving.
  if (!(frame_speed <= 0.125)) {
    if (game_time - last_refusal < 10) add_message("Settings not applied.  Mechanic can't keep up error.");
    last_refusal = game_time;
    return 0;
  }
  setup_convert(s, m, arcade_allowed, out);
  setup_watch_update(s);
  return 1;
}

void setup_mechanic_reset() { last_refusal = -20; }

// ------------------------------------------------------- setup-change watch

SetupWatch setup_watch[SETUP_WATCH_COUNT] = {
    {SETUP_LEVELING, 'l', 0, 0},
    {SETUP_ROLL_DAMPING, 'd', 0, 0},
    {SETUP_ROLL_LIMIT_ANGLE, 'a', 0, 0},
    {SETUP_ROLL_LIMIT_FACTOR, 'x', 0, 0},
    {SETUP_STEERING_DAMPING, 'd', 0, 0},
    {SETUP_STEERING_STRENGTH, 's', 0, 0},
    {SETUP_MAX_STEERING_FORCE, 'm', 0, 0},
    {SETUP_DIRECT_STEERING, 'd', 0, 0},
    {SETUP_SLOW_DAMPING_SPEED, 's', 0, 0},
    {SETUP_SLOW_DAMPING_FACTOR, 'x', 0, 0},
    {SETUP_LAND_DAMPING_RAMPUP, 'r', 0, 0},
    {SETUP_LAND_DAMPING_FALLOFF, 'l', 0, 0},
    {SETUP_LAND_DAMPING_FACTOR, 'x', 0, 0},
    {SETUP_FULL_LOCK_SPEED, 'l', 0, 0},
    {SETUP_RESTRICTED_LOCK_SPEED, 's', 0, 0},
    {SETUP_RESTRICTED_LOCK, 'a', 0, 0},
    {SETUP_AUTO_CLUTCH_RPMS, 'c', 0, 0},
    {SETUP_BRAKE_TORQUE, 'f', 0, 0},
    {SETUP_REAR_BRAKE_TORQUE, 'r', 0, 0},
    {SETUP_MAX_DAB_SPEED, 'd', 0, 0},
    {SETUP_FRONT_SPROCKET, 'g', 0, 0},
    {SETUP_REAR_SPROCKET, 'g', 0, 0},
    {SETUP_FORK_COMPRESSION, 'C', 0, 0},
    {SETUP_FORK_SLOW_COMPRESSION, 'c', 0, 0},
    {SETUP_FORK_REBOUND, 'R', 0, 0},
    {SETUP_FORK_SLOW_REBOUND, 'r', 0, 0},
    {SETUP_FORK_SPRING_RATE, 's', 0, 0},
    {SETUP_FORK_PRELOAD, 'p', 0, 0},
    {SETUP_FORK_OIL_LEVEL, 'l', 0, 0},
    {SETUP_SHOCK_COMPRESSION, 'C', 0, 0},
    {SETUP_SHOCK_SLOW_COMPRESSION, 'c', 0, 0},
    {SETUP_SHOCK_REBOUND, 'R', 0, 0},
    {SETUP_SHOCK_SLOW_REBOUND, 'r', 0, 0},
    {SETUP_SHOCK_SPRING_RATE, 's', 0, 0},
    {SETUP_SHOCK_PRELOAD, 'p', 0, 0},
    {SETUP_RIDER_YSPRING, 'y', 0, 0},
    {SETUP_RIDER_ZSPRING, 'z', 0, 0},
    {SETUP_RIDER_YDAMPING, 'Y', 0, 0},
    {SETUP_RIDER_ZDAMPING, 'Z', 0, 0},
    {SETUP_RIDER_MASS_DISTRIBUTION, 'm', 0, 0},
};

void setup_watch_reset(const RiderSetup *s) {
  for (SetupWatch &w : setup_watch) {
    w.value = s->options[w.key].value;
    w.changed = 0;
  }
}

void setup_watch_update(const RiderSetup *s) {
  for (SetupWatch &w : setup_watch)
    if (s->options[w.key].value != w.value) w.changed = 1;
}

int setup_watch_report(const RiderSetup *s, char *out, int size) {
  int any = 0;
  for (const SetupWatch &w : setup_watch) any |= w.changed;
  if (!any || size <= 0) return 0;
  char marks[SETUP_WATCH_COUNT + 1];
  for (int i = 0; i < SETUP_WATCH_COUNT; i++) marks[i] = setup_watch[i].changed ? setup_watch[i].letter : '-';
  marks[SETUP_WATCH_COUNT] = 0;
  snprintf(out, size, "[SPAM] Setup change %s\n", marks);
  setup_watch_reset(s);
  return 1;
}
