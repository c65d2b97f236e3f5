// The engine sound of every rider: recorded engine cycles played one firing
// at a time through a resonating pipe, streamed into a looping sound of the
// audio output, and placed round the listener (distance, pan, Doppler).
#pragma once
#include <cstdint>

struct Rider;
struct Sound;
struct DataFile;

// Synthesis rate, and sound's time over a foot (s/ft).
constexpr int ENGINE_RATE = 44100;
constexpr double SOUND_SECONDS_PER_FOOT = 0.0008767085;
// Samples for sound to run one foot of pipe and back.
constexpr double PIPE_SAMPLES_PER_FOOT = 77.32568794162944;
enum {
  ENGINE_RING = 32768,
  ENGINE_TAPS = 16,
  ENGINE_PLAYERS = 4,
  ENGINE_LIST_MAX = 100,
  ENGINE_VOICES = 160,
  ENGINE_AHEAD = 4410,      // samples the writer keeps ahead of the player
  ENGINE_MOST = 8820,       // samples written at most per frame
  ENGINE_FIRST_WRITE = 11025
};
// Bounds that keep a bad table file a read error rather than a huge
// allocation.
enum {
  SOUND_TABLE_MAX_ROWS = 256,
  SOUND_TABLE_MAX_COLUMNS = 64,
  SOUND_TABLE_MAX_REMAP = 4096,
  SOUND_FILE_MAX_SAMPLES = 1 << 20
};

struct SoundCell {
  const float *samples;  // -1..1, shared through the sample cache
  int length;
  int periods;  // engine cycles in the recording, >= 1
  int *remap;   // period indexes, each already modulo periods; or nullptr
  int remap_count;
  float rpm, load;
};

struct SoundTable {
  char name[1024];
  int rows, columns;
  SoundCell *cells;  // row-major: r * columns + c
  SoundTable *next;  // the table cache
};

struct EngineSoundDef {
  const SoundTable *table;
  float firings_per_rev;
  float low_torque, high_torque;
  float min_rpm;
  int tap_offset[ENGINE_TAPS];  // 32768 - delay
  float tap_gain[ENGINE_TAPS];
  float bias[ENGINE_LIST_MAX];
  int bias_count;
  float scale[ENGINE_LIST_MAX];
  int scale_count;
};

struct EnginePlayer {
  const SoundCell *cell;
  float gain;
  int64_t phase;  // 10 fractional bits
  int64_t step;
};

struct EngineVoice {
  Sound *stream;
  EngineSoundDef def;
  float ring[ENGINE_RING];
  int write_pos;
  int cycle_phase;  // 2^24 = one cycle
  int cycle_count;
  float cycle_rate;  // cycles per second
  float prev_rpm;
  EnginePlayer players[ENGINE_PLAYERS];
};
extern EngineVoice engine_voices[ENGINE_VOICES];

// The audio operations the voices use, filled in by the program while an
// output is open (create null: no output, voices get no stream).
struct EngineSoundOutput {
  Sound *(*create)(int length, const uint8_t *bytes, int source_rate);
  void (*free)(Sound *s);
  int (*play)(Sound *s);
  void (*set_rate)(Sound *s, int hertz);
  void (*set_volume)(Sound *s, int volume);
  void (*set_pan)(Sound *s, int pan);
  void (*set_loop)(Sound *s, int loop);
  int (*position)(Sound *s);
  void (*write)(Sound *s, int length, const uint8_t *bytes, int offset);
};
extern EngineSoundOutput engine_sound_output;

// What the program tells the frame pass: "volume" and "comp_volume" (0..10)
// and the followed rider's slot.
struct EngineSoundSettings {
  int volume = 10;
  int comp_volume = 8;
  int followed = 0;
};
extern EngineSoundSettings engine_sound_settings;

// The listener: position, velocity (ft/s) and the camera's right axis.
struct EngineListener {
  double position[3];
  double velocity[3];
  double right[3];
};
extern EngineListener engine_listener;

// Filled by higher floors; either may be null.
struct EngineSoundHooks {
  // 1 when the slot's rider is neither heard nor drawn beyond the rules
  // known here (replayed riders outside their history, spectators).
  int (*rider_hidden)(int slot);
  // Places the track script's sounds after the voices (level base).
  void (*place_script_sounds)(double base);
};
extern EngineSoundHooks engine_sound_hooks;

// Sets up a slot's voice after its rider was made; `name` is the bike
// texture's name (may be null).
void engine_voice_create(int slot, const Rider *r, const char *name);
// The same without a rider: `engine_class` null plays as no rider does.
void engine_voice_setup(EngineVoice *v, const char *engine_class, const char *name);
// Frees the slot's stream (race teardown).
void engine_sound_free(int slot);
// The exhaust pipe of a slot's engine voice: three shape values and two
// integer parameters.
void engine_sound_set_pipe(int slot, const float shape[3], const int params[2]);
// Once a drawn frame with the master level (0, 0.25 or 1).
void engine_sound_frame(float level);
// One voice's share of the frame pass: synthesis to the play position and
// placing at S moving at V, heard at level t.
void engine_voice_run(EngineVoice *v, float rpm, float torque, float t, const double S[3],
                      const double V[3]);
// Synthesises n samples (n <= ENGINE_MOST) into the ring and writes them
// into the stream when there is one.
void engine_voice_synthesise(EngineVoice *v, int n, float rpm, float torque);
// Rate, volume and pan of a sound at S moving at V heard at gain g.
void place_sound(Sound *s, const double S[3], const double V[3], double rate, double g);
double doppler_factor(const double S[3], const double V[3]);
int rider_hidden(int slot);
// Recomputes taps first..last for a pipe of length a, taper b (ft), total
// feedback gain c.
void set_pipe(EngineSoundDef *d, float a, float b, float c, int first, int last);
// Reads one definition line into d.
void engine_definition_line(EngineSoundDef *d, const char *line);
// A table from text (the sample files come from `load`, which returns 0 when
// the file cannot be had): nullptr on a read error, messages shown.
typedef int (*SampleLoader)(const char *name, float **samples, int *length);
SoundTable *sound_table_parse(const char *table_name, const char *text, int size, SampleLoader load);
void sound_table_free(SoundTable *t);
// Frees the cached tables and sample files (shutdown, tests).
void engine_sound_shutdown();
