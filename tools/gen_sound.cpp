// Engine sounds for every engine class: a ".braap" definition fitted to the
// class's torque curves and a sound table of cycles made by a small physical
// model (firing pulses ringing an exhaust resonance). Fixed seeds: the same
// bytes on every build.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "bike/bike.h"
#include "tools/gen.h"

namespace {

constexpr int RATE = 44100;
constexpr int ROWS = 7;
constexpr int PERIODS = 4;
const float LOADS[] = {0, 0.5f, 1};
constexpr int COLUMNS = 3;
constexpr double LOWEST_RPM = 1500;

struct EngineClass {
  const char *name;
  int four_stroke;
  double resonance;   // Hz of the exhaust's ring
  double ring_decay;  // per second
  double pipe_length, pipe_taper, pipe_gain;  // the definition's "pipe"
};

const EngineClass CLASSES[] = {
    {"50", 0, 820, 260, 1.2, 0.3, -0.35},
    {"125", 0, 610, 200, 1.6, 0.35, -0.4},
    {"250", 0, 470, 170, 1.9, 0.4, -0.4},
    {"250f", 1, 300, 110, 3.5, 0.7, -0.45},
    {"450f", 1, 240, 90, 4.2, 0.8, -0.5},
};

// A small deterministic generator (xorshift32), seeded per class and cell.
struct Noise {
  uint32_t s;
  double next() {
    s ^= s << 13;
    s ^= s >> 17;
    s ^= s << 5;
    return double(s) / 4294967296.0 * 2 - 1;
  }
};

// What the bike table says of a class: its rev limit, and the torque the
// engine gives with the throttle shut and wide open.
struct ClassCurves {
  double rev_limit = 0, closed = 0, open = 0;
  int rows = 0;
};

ClassCurves class_curves(const char *name) {
  ClassCurves c;
  double closed_sum = 0, open_sum = 0;
  int closed_n = 0;
  for (int i = 0; i < BIKE_MODEL_COUNT; i++) {
    const BikeModel *m = bike_model(i);
    if (!m || strcmp(m->engine_class, name) != 0) continue;
    c.rows++;
    if (m->rev_limit_rpm > c.rev_limit) c.rev_limit = m->rev_limit_rpm;
    double peak = 0;
    for (int k = 0; k < TORQUE_POINTS; k++) {
      double rpm = k * 500.0;
      if (rpm < 2000 || rpm > m->rev_limit_rpm) continue;
      closed_sum += m->closed_throttle_torque[k];
      closed_n++;
      if (m->full_throttle_torque[k] > peak) peak = m->full_throttle_torque[k];
    }
    open_sum += peak;
  }
  if (c.rows) {
    c.closed = closed_n ? closed_sum / closed_n : 0;
    // Load 1 a little below the peak: wide open through the usable band.
    c.open = 0.8 * open_sum / c.rows;
  }
  return c;
}

// One cell: PERIODS engine cycles at `rpm` and `load`.
std::string make_cell(const EngineClass &k, double rpm, double rev_limit, double load, uint32_t seed) {
  double cycle_hz = (k.four_stroke ? 0.5 : 1.0) * rpm / 60;
  int period = int(std::lround(RATE / cycle_hz));
  double speed = rpm / rev_limit;  // 0..1
  // Louder with load and revs; brighter (less damped, more hiss) as well.
  double amp = 0.1 + 0.3 * load + 0.1 * speed;
  double decay = k.ring_decay * (1.3 - 0.5 * load);
  double hiss = 0.02 + 0.06 * load * (0.5 + speed);
  Noise noise{seed};
  std::string out;
  out.reserve(size_t(period) * PERIODS * 2);
  double lowpass = 0;
  for (int p = 0; p < PERIODS; p++) {
    // Each firing a little different from the last.
    double strength = amp * (1 + 0.04 * noise.next());
    double ring_hz = k.resonance * (1 + 0.15 * speed) * (1 + 0.01 * noise.next());
    for (int i = 0; i < period; i++) {
      double t = double(i) / RATE;
      double phase = double(i) / period;
      // The pulse: pressure from the opening port, then the pipe's ring.
      double pulse = std::exp(-t * 900) * (1 - std::exp(-t * 6000));
      double ring = std::exp(-t * decay) * std::sin(2 * M_PI * ring_hz * t);
      double body = std::exp(-phase * 3) * std::sin(2 * M_PI * phase);
      double v = strength * (1.2 * pulse + 0.8 * ring + 0.5 * body);
      if (k.four_stroke) {
        // The induction stroke half a cycle on: a soft, lower thump.
        double t2 = t - 0.5 / cycle_hz;
        if (t2 > 0) v += 0.12 * strength * std::exp(-t2 * 400) * std::sin(2 * M_PI * 0.5 * ring_hz * t2);
      } else {
        // The two-stroke's scavenging rasp right after the port opens.
        v += 0.15 * strength * std::exp(-t * 300) * std::sin(2 * M_PI * 2.7 * ring_hz * t);
      }
      lowpass += 0.5 * (noise.next() - lowpass);
      v += hiss * std::exp(-phase * 4) * lowpass;
      double s = v < -0.99 ? -0.99 : (v > 0.99 ? 0.99 : v);
      long q = std::lround(s * 32767);
      out += char(q & 255);
      out += char((q >> 8) & 255);
    }
  }
  return out;
}

int gen_class(const char *out, const EngineClass &k, uint32_t class_seed) {
  ClassCurves c = class_curves(k.name);
  if (!c.rows || c.rev_limit <= LOWEST_RPM || !(c.open > c.closed)) {
    fprintf(stderr, "gen_sound: no usable bikes of class %s\n", k.name);
    return 0;
  }
  std::string folder = std::string("sounds/") + k.name;
  std::string table = "SOUNDTABLE " + std::to_string(ROWS) + " " + std::to_string(COLUMNS) + "\n";
  double rpm[ROWS];
  char num[64];
  for (int r = 0; r < ROWS; r++) {
    rpm[r] = std::round(LOWEST_RPM + (c.rev_limit - LOWEST_RPM) * r / (ROWS - 1));
    snprintf(num, sizeof num, "%s%.0f", r ? " " : "", rpm[r]);
    table += num;
  }
  table += "\n";
  for (int col = 0; col < COLUMNS; col++) {
    snprintf(num, sizeof num, "%s%g", col ? " " : "", double(LOADS[col]));
    table += num;
  }
  table += "\n";
  for (int r = 0; r < ROWS; r++)
    for (int col = 0; col < COLUMNS; col++) {
      uint32_t seed = class_seed * 7919u + uint32_t(r * COLUMNS + col) * 104729u + 1;
      std::string file = folder + "/r" + std::to_string(r) + "c" + std::to_string(col) + ".raw";
      if (!gen_write(out, file, make_cell(k, rpm[r], c.rev_limit, LOADS[col], seed))) return 0;
      // Played in an order of their own, so the four cycles do not march.
      table += (r + col) % 2 ? "0 2 1 3 -1" : "1 3 0 2 -1";
      table += " " + std::to_string(PERIODS) + " @" + file + "\n";
    }
  std::string table_name = "sounds/" + std::string(k.name) + ".soundtable";
  if (!gen_write(out, table_name, table)) return 0;
  char braap[512];
  snprintf(braap, sizeof braap,
           "# Engine sound of the %s class\n"
           "pipe %g %g %g\n"
           "minrpm %.0f\n"
           "lowtorque %.3f\n"
           "hightorque %.3f\n"
           "soundtable @%s\n",
           k.name, k.pipe_length, k.pipe_taper, k.pipe_gain, LOWEST_RPM * 0.8, c.closed, c.open,
           table_name.c_str());
  return gen_write(out, std::string("default") + k.name + ".braap", braap);
}

}  // namespace

int gen_sound(const char *out) {
  uint32_t seed = 1;
  for (const EngineClass &k : CLASSES)
    if (!gen_class(out, k, seed++)) return 0;
  return 1;
}
