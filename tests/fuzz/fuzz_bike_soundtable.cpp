// SOUNDTABLE text: any bytes either fail or give a table whose cells the
// synthesiser can play (rows and columns at least one, remap entries inside
// the period count), with finite output.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "bike/engine_sound.h"

static EngineVoice voice;
static float samples[5000];

// Sample files made up from their names: "empty..." has none.
static int fake_load(const char *name, float **out, int *length) {
  if (strncmp(name, "empty", 5) == 0) return 0;
  uint32_t h = 2166136261u;
  for (const char *p = name; *p; p++) h = (h ^ uint8_t(*p)) * 16777619u;
  *length = int(h % 5000) + 1;
  for (int i = 0; i < *length; i++) samples[i] = float(int((uint32_t(i) * 37u + h) % 200u) - 100) / 100;
  *out = samples;
  return 1;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  SoundTable *t = sound_table_parse("fuzz", reinterpret_cast<const char *>(data), int(size), fake_load);
  if (!t) return 0;
  if (t->rows < 1 || t->columns < 1 || t->rows > SOUND_TABLE_MAX_ROWS ||
      t->columns > SOUND_TABLE_MAX_COLUMNS)
    abort();
  for (int i = 0; i < t->rows * t->columns; i++) {
    const SoundCell &c = t->cells[i];
    if (c.periods < 1 || c.length < 1 || !std::isfinite(c.rpm) || !std::isfinite(c.load)) abort();
    for (int k = 0; k < c.remap_count; k++)
      if (c.remap[k] < 0 || c.remap[k] >= c.periods) abort();
  }
  engine_voice_setup(&voice, "125", nullptr);
  voice.def.table = t;
  for (auto &p : voice.players) p = EnginePlayer{&t->cells[0], 0, 0, 0};
  for (float rpm : {500.0f, 6000.0f, 20000.0f})
    for (float torque : {-10.0f, 0.0f, 10.0f}) engine_voice_synthesise(&voice, 3000, rpm, torque);
  for (float x : voice.ring)
    if (!std::isfinite(x)) abort();
  sound_table_free(t);
  return 0;
}
