// The engine sound synthesiser: one period of four table cells per engine
// cycle, weighted by engine speed and load, fed through sixteen delay taps
// of the exhaust pipe; then the voice placed round the listener.
#include "bike/engine_sound.h"

#include <ode/ode.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "bike/bike.h"
#include "bike/physics.h"
#include "bike/rider.h"
#include "core/camera.h"
#include "core/core.h"
#include "core/log.h"
#include "core/shared.h"

EngineVoice engine_voices[ENGINE_VOICES];
EngineSoundOutput engine_sound_output;
EngineSoundSettings engine_sound_settings;
EngineListener engine_listener = {{0, 0, 0}, {0, 0, 0}, {1, 0, 0}};
EngineSoundHooks engine_sound_hooks;

namespace {

enum { BUILTIN_FOUR, BUILTIN_TWO, BUILTIN_FIFTY, BUILTIN_SETS };
EngineSoundDef builtin[BUILTIN_SETS];
SoundTable builtin_table[2];
SoundCell builtin_cells[2][2];
float builtin_wave[2][2][1024];
int builtins_made = 0;

constexpr int RING_MASK = ENGINE_RING - 1;
constexpr int CYCLE_ONE = 1 << 24;

void make_builtin_table(int which, const char *name) {
  for (int i = 0; i < 1024; i++) {
    float d = float(i) / 1023.0f;
    float w;
    if (which == 0) {
      float e = (std::fabs(std::sin(3.0f * float(M_PI) * d + 0.5246f)) - 0.5f) * 0.5f;
      w = e + (d < 0.25f ? (1 - 4 * d) * std::sin(16.0f * float(M_PI) * d) : 0.0f);
    } else {
      w = d < 0.25f ? (1 - 4 * d) * std::sin(8.0f * float(M_PI) * d) : 0.0f;
    }
    builtin_wave[which][1][i] = w;
    builtin_wave[which][0][i] = 0.25f * w;
  }
  SoundTable &t = builtin_table[which];
  snprintf(t.name, sizeof t.name, "%s", name);
  t.rows = 1;
  t.columns = 2;
  t.cells = builtin_cells[which];
  for (int c = 0; c < 2; c++)
    t.cells[c] = SoundCell{builtin_wave[which][c], 1024, 1, nullptr, 0, 0.0f, float(c)};
}

void make_builtins() {
  if (builtins_made) return;
  make_builtin_table(0, "default_four_stroke");
  make_builtin_table(1, "default_two_stroke");
  struct {
    int table;
    float fpr, low, high, a, b, c;
  } sets[BUILTIN_SETS] = {
      {0, 0.5f, -2.5f, 2.5f, 5, 0.9182071685791016f, -0.85f},
      {1, 1.0f, -3.5f, 3.5f, 1.75f, 0.3f, -0.75f},
      {1, 1.0f, -3.5f, 1.5f, 1.75f, 0.3f, -0.75f},
  };
  for (int i = 0; i < BUILTIN_SETS; i++) {
    EngineSoundDef &d = builtin[i];
    memset(&d, 0, sizeof d);
    d.table = &builtin_table[sets[i].table];
    d.firings_per_rev = sets[i].fpr;
    d.low_torque = sets[i].low;
    d.high_torque = sets[i].high;
    d.min_rpm = 1000;
    set_pipe(&d, sets[i].a, sets[i].b, sets[i].c, 0, 15);
    d.bias[0] = 0;
    d.bias_count = 1;
    d.scale[0] = 1;
    d.scale_count = 1;
  }
  builtins_made = 1;
}

int ends_with_f(const char *s) {
  size_t n = strlen(s);
  return n > 0 && s[n - 1] == 'f';
}

// Tries the definition at `text`: 1 when it was read.
int read_definition(EngineSoundDef *d, const char *name) {
  DataFile *f = data_open(name, "rb");
  if (!f) return 0;
  // A definition without a "pipe" line has no resonance.
  set_pipe(d, 1, 1, 0, 0, 15);
  char line[1024];
  while (data_gets(f, line, sizeof line)) engine_definition_line(d, line);
  data_close(f);
  return 1;
}

// The search from a texture name: its extension replaced by ".braap", then
// the part from each last "-" on.
int search_definition(EngineSoundDef *d, const char *base) {
  char text[1100];
  if (!base || snprintf(text, sizeof text, "%s", base) >= int(sizeof text) - 8) return 0;
  char *slash = strrchr(text, '/');
  char *from = slash ? slash + 1 : text;
  char *dot = strrchr(from, '.');
  if (!dot) return 0;
  strcpy(dot, ".braap");
  while (!read_definition(d, text)) {
    char *dash = strrchr(from, '-');
    if (!dash) return 0;
    strcpy(dash, ".braap");
  }
  return 1;
}

const char *class_default(const char *engine_class) {
  if (!engine_class) return nullptr;
  static const char *const names[][2] = {{"50", "@default50.braap"},
                                         {"125", "@default125.braap"},
                                         {"250f", "@default250f.braap"},
                                         {"250", "@default250.braap"},
                                         {"450f", "@default450f.braap"}};
  for (auto &n : names)
    if (strcmp(engine_class, n[0]) == 0) return n[1];
  return nullptr;
}

float clampf(float v, float lo, float hi) { return v < lo ? lo : (v > hi ? hi : v); }

// The last index whose value <= q and the next one, by the table's rules;
// *w the weight of the second.
void bracket(const SoundCell *cells, int count, int stride, bool rows, float q, int *g, int *h,
             float *w) {
  auto value = [&](int i) { return rows ? cells[i * stride].rpm : cells[i].load; };
  int last = count - 1;
  if (!(q >= value(0))) {
    *g = *h = 0;
  } else if (q >= value(last)) {
    *g = *h = last;
  } else {
    int i = 0;
    while (i < last && value(i + 1) <= q) i++;
    *g = i;
    *h = i + 1 < last ? i + 1 : last;
  }
  if (*g == *h) {
    *w = rows ? 1.0f : 0.0f;
    return;
  }
  // In double: neighbours near the float range's ends would overflow a
  // float difference into inf/inf. Equal neighbours weigh nothing.
  double span = double(value(*h)) - double(value(*g));
  *w = span > 0 ? clampf(float((double(q) - double(value(*g))) / span), 0, 1) : 0.0f;
}

int cycle_inc(float rate) { return int(std::lround(double(rate) * CYCLE_ONE / ENGINE_RATE)); }

void start_player(EnginePlayer *p, const SoundCell *cell, float gain, int count, float rate) {
  p->cell = cell;
  p->gain = gain;
  float P = float(cell->length) / float(cell->periods);
  int s = cell->remap ? cell->remap[count % cell->remap_count] : count;
  s %= cell->periods;
  if (s < 0) s += cell->periods;
  p->phase = int64_t(float(s) * P) * 1024;
  p->step = int64_t(P * rate / float(ENGINE_RATE) * 1024.0f);
}

void new_cycle(EngineVoice *v, int k, int n, float rpm, float load, int *inc) {
  EngineSoundDef &d = v->def;
  const SoundTable *t = d.table;
  float r = v->prev_rpm + (float(k) / float(n)) * (rpm - v->prev_rpm);
  int count = v->cycle_count;
  float q = (r + d.bias[count % d.bias_count]) * d.scale[count % d.scale_count];
  if (!(q >= d.min_rpm)) q = d.min_rpm;
  int g, h, e, f;
  float x, y;
  bracket(t->cells, t->rows, t->columns, true, q, &g, &h, &x);
  bracket(t->cells, t->columns, 1, false, load, &e, &f, &y);
  v->cycle_count = count + 1 < 0 ? 0 : count + 1;
  // 5..22050 cycles a second keeps the fixed-point steps in range.
  float rate = d.firings_per_rev * q / 60.0f;
  v->cycle_rate = !(rate >= 5) ? 5 : (rate > 22050 ? 22050 : rate);
  *inc = cycle_inc(v->cycle_rate);
  const SoundCell *c = t->cells;
  int K = t->columns;
  float gains[4];
  if (e == f) {
    gains[0] = gains[1] = 0;
    gains[2] = 1 - x;
    gains[3] = x;
  } else {
    gains[0] = (1 - x) * (1 - y);
    gains[1] = x * (1 - y);
    gains[2] = (1 - x) * y;
    gains[3] = x * y;
  }
  const SoundCell *cells[4] = {&c[g * K + e], &c[h * K + e], &c[g * K + f], &c[h * K + f]};
  for (int i = 0; i < 4; i++)
    start_player(&v->players[i], cells[i], gains[i], v->cycle_count, v->cycle_rate);
}

void listener_from_camera() {
  if (published_camera.valid) {
    const PublishedCamera &c = published_camera;
    for (int i = 0; i < 3; i++) {
      engine_listener.position[i] = c.position[i];
      engine_listener.velocity[i] = c.velocity[i];
      engine_listener.right[i] = c.R[i * 3];
    }
    return;
  }
  // No camera yet: the followed rider's ears.
  Rider *r = rider_in_slot(engine_sound_settings.followed);
  if (!r) return;
  const dReal *p = dBodyGetPosition(r->body[FRAME]);
  const dReal *R = dBodyGetRotation(r->body[FRAME]);
  for (int i = 0; i < 3; i++) {
    engine_listener.position[i] = p[i];
    engine_listener.velocity[i] = 0;
    engine_listener.right[i] = R[i * 4];
  }
}

}  // namespace

void set_pipe(EngineSoundDef *d, float a, float b, float c, int first, int last) {
  int f = first > 15 ? 15 : first;
  if (f < 0) f = 0;
  if (last < f) return;
  int t = last < 15 ? last : 15;
  int u = t - f;
  float taper = a < b ? a : b;
  for (int i = f; i <= t; i++) {
    int j = i - f;
    double delay;
    if (u == 0) {
      delay = double(a) * PIPE_SAMPLES_PER_FOOT;
    } else {
      float q = float(j) / float(u);
      float bracket_ft = a - (float(j) + q * q) * taper / float(u + 1);
      delay = PIPE_SAMPLES_PER_FOOT * double(bracket_ft);
    }
    // The ring holds 32768 samples: no tap reaches further back.
    int n = !(delay >= 0) ? 0 : (delay > RING_MASK ? RING_MASK : int(delay));
    d->tap_offset[i] = ENGINE_RING - n;
    d->tap_gain[i] = c / float(u + 1);
  }
}

void engine_voice_setup(EngineVoice *v, const char *engine_class, const char *name) {
  make_builtins();
  if (v->stream && engine_sound_output.free) engine_sound_output.free(v->stream);
  v->stream = nullptr;
  if (engine_sound_output.create) {
    static uint8_t silence[ENGINE_RING];
    memset(silence, 128, sizeof silence);
    v->stream = engine_sound_output.create(ENGINE_RING, silence, 0);
    if (v->stream) {
      engine_sound_output.set_loop(v->stream, 1);
      engine_sound_output.set_volume(v->stream, 0);
      engine_sound_output.play(v->stream);
    }
  }
  memset(v->ring, 0, sizeof v->ring);
  v->write_pos = ENGINE_FIRST_WRITE;
  v->cycle_phase = 0;
  v->cycle_count = 0;
  v->cycle_rate = 10;
  v->prev_rpm = 1000;
  if (!engine_class) v->def = builtin[BUILTIN_FOUR];
  else if (strcmp(engine_class, "50") == 0) v->def = builtin[BUILTIN_FIFTY];
  else if (ends_with_f(engine_class)) v->def = builtin[BUILTIN_FOUR];
  else v->def = builtin[BUILTIN_TWO];
  EngineSoundDef &d = v->def;
  if (!search_definition(&d, name)) {
    const char *fallback = class_default(engine_class);
    if (fallback) read_definition(&d, fallback);
  }
  if (d.scale_count == 0) {
    d.scale[0] = 1;
    d.scale_count = 1;
  }
  if (d.bias_count == 0) {
    d.bias[0] = 0;
    d.bias_count = 1;
  }
  for (auto &p : v->players) p = EnginePlayer{&d.table->cells[0], 0, 0, 0};
}

void engine_voice_create(int slot, const Rider *r, const char *name) {
  if (slot < 0 || slot >= ENGINE_VOICES) return;
  const BikeModel *m = r ? rider_model(r) : nullptr;
  engine_voice_setup(&engine_voices[slot], m ? m->engine_class : nullptr, name);
}

void engine_sound_free(int slot) {
  if (slot < 0 || slot >= ENGINE_VOICES) return;
  EngineVoice &v = engine_voices[slot];
  if (v.stream && engine_sound_output.free) engine_sound_output.free(v.stream);
  v.stream = nullptr;
}

void engine_voice_synthesise(EngineVoice *v, int n, float rpm, float torque) {
  if (n <= 0) return;
  if (n > ENGINE_MOST) n = ENGINE_MOST;
  const EngineSoundDef &d = v->def;
  float span = d.high_torque - d.low_torque;
  // low = high: everything at or above it is full load, not 0/0.
  float load = span != 0 ? clampf((torque - d.low_torque) / span, 0, 1)
                         : (torque >= d.high_torque ? 1.0f : 0.0f);
  if (!std::isfinite(load)) load = 0;
  if (!std::isfinite(rpm)) rpm = 0;
  int inc = cycle_inc(v->cycle_rate);
  float *ring = v->ring;
  int w = v->write_pos;
  for (int k = 0; k < n; k++) {
    float y = 0;
    for (int i = 0; i < ENGINE_TAPS; i++) y += d.tap_gain[i] * ring[(w + d.tap_offset[i]) & RING_MASK];
    for (EnginePlayer &p : v->players) {
      int64_t at = p.phase >> 10;
      // Past the cell's end (rounding in the last period) reads silence.
      if (at >= 0 && at < p.cell->length) y += p.gain * p.cell->samples[at];
      p.phase += p.step;
    }
    ring[w] = std::isnan(y) ? 0 : (y < -16 ? -16 : (y > 16 ? 16 : y));
    v->cycle_phase += inc;
    if (v->cycle_phase > CYCLE_ONE - 1) {
      new_cycle(v, k, n, rpm, load, &inc);
      v->cycle_phase -= CYCLE_ONE;
    }
    w = (w + 1) & RING_MASK;
  }
  v->write_pos = w;
  v->prev_rpm = rpm;
  if (!v->stream || !engine_sound_output.write) return;
  static uint8_t bytes[ENGINE_MOST];
  int start = (w - n) & RING_MASK;
  for (int k = 0; k < n; k++) {
    long b = std::lround((double(ring[(start + k) & RING_MASK]) + 1) * 127);
    bytes[k] = uint8_t(b < 0 ? 0 : (b > 255 ? 255 : b));
  }
  engine_sound_output.write(v->stream, n, bytes, start);
}

double doppler_factor(const double S[3], const double V[3]) {
  const EngineListener &l = engine_listener;
  double D[3] = {l.position[0] - S[0], l.position[1] - S[1], l.position[2] - S[2]};
  double d2 = D[0] * D[0] + D[1] * D[1] + D[2] * D[2];
  if (d2 < 1.0 / 1024) return 1;
  double d = std::sqrt(d2);
  double vl = 0, vs = 0;
  for (int i = 0; i < 3; i++) {
    vl += l.velocity[i] * D[i] / d;
    vs += V[i] * D[i] / d;
  }
  double num = 1 - SOUND_SECONDS_PER_FOOT * vl;
  double den = 1 - SOUND_SECONDS_PER_FOOT * vs;
  if (num > 8 * den) return 0.125;
  return num / den;
}

void place_sound(Sound *s, const double S[3], const double V[3], double rate, double g) {
  const EngineListener &l = engine_listener;
  double D[3] = {l.position[0] - S[0], l.position[1] - S[1], l.position[2] - S[2]};
  double d = std::sqrt(D[0] * D[0] + D[1] * D[1] + D[2] * D[2]);
  double p = doppler_factor(S, V) * rate;
  int hz, volume, pan = 0;
  if (!std::isfinite(p) || !std::isfinite(d)) {
    hz = ENGINE_RATE;
    volume = 0;
  } else {
    hz = p < 100 ? 100 : (p > 1000000 ? 1000000 : int(p));
    double G = g / std::max(1.0, 1 + (d - 1) / 48);
    volume = !(G * 32767 >= 0) ? 0 : (G > 1 ? 32767 : int(G * 32767));
    if (d * d >= 1.0 / 1024) {
      double a = l.right[0] * D[0] + l.right[1] * D[1] + l.right[2] * D[2];
      double q = -32767 * a / d;
      pan = std::isfinite(q) ? int(q) : 0;
    }
  }
  engine_sound_output.set_rate(s, hz);
  engine_sound_output.set_volume(s, volume);
  engine_sound_output.set_pan(s, pan);
}

void engine_voice_run(EngineVoice *v, float rpm, float torque, float t, const double S[3],
                      const double V[3]) {
  if (!v->stream) return;
  int play = engine_sound_output.position(v->stream);
  int n = (play + ENGINE_AHEAD - v->write_pos) & RING_MASK;
  if (n > 0) engine_voice_synthesise(v, n < ENGINE_MOST ? n : ENGINE_MOST, rpm, torque);
  place_sound(v->stream, S, V, ENGINE_RATE, t);
}

int rider_hidden(int slot) {
  if (!rider_in_slot(slot)) return 1;
  return engine_sound_hooks.rider_hidden ? engine_sound_hooks.rider_hidden(slot) : 0;
}

void engine_sound_frame(float level) {
  if (!engine_sound_output.create) return;
  listener_from_camera();
  const EngineSoundSettings &s = engine_sound_settings;
  double base = 0.1 * s.volume * level;
  for (int slot = 0; slot < ENGINE_VOICES; slot++) {
    EngineVoice &v = engine_voices[slot];
    Rider *r = rider_in_slot(slot);
    if (!r || !v.stream) continue;
    double t = rider_hidden(slot) ? 0 : (slot == s.followed ? base : 0.1 * s.comp_volume * base);
    float rpm = float(rider_rpm(r));
    // A replayed rider's load comes from the rpm and throttle its pose set.
    double torque = r->simulated ? r->torque : engine_torque(rider_model(r), rider_rpm(r), r->throttle);
    const dReal *p = dBodyGetPosition(r->body[FRAME]);
    const dReal *vel = dBodyGetLinearVel(r->body[FRAME]);
    double S[3] = {p[0], p[1], p[2]}, V[3] = {vel[0], vel[1], vel[2]};
    engine_voice_run(&v, rpm, float(torque), float(t), S, V);
    // What was asked of the followed voice, to check recordings against.
    if (log_verbosity >= 1 && slot == s.followed)
      log_printf("Engine sound: tic %d, %.1f rpm, %g cycles a revolution\n", physics.now_tic, double(rpm),
                 double(v.def.firings_per_rev));
  }
  if (engine_sound_hooks.place_script_sounds) engine_sound_hooks.place_script_sounds(base);
}

void engine_sound_set_pipe(int slot, const float shape[3], const int params[2]) {
  if (slot < 0 || slot >= ENGINE_VOICES) return;
  set_pipe(&engine_voices[slot].def, shape[0], shape[1], shape[2], params[0], params[1]);
}
