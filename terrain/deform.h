// Ruts, roost and decals: wheels dig the ground through rut records that
// every participant decodes and applies alike, throw dirt particles, and the
// track's decals are bucketed for the ground texture. No physics engine here:
// the bike code fills a WheelInput per wheel and tic.
#pragma once
#include <cstdint>

#include "terrain/terrain.h"

// What one wheel shows this tic, in world coordinates.
struct WheelInput {
  float position[3];  // contact point
  float depth;        // penetration, > 0 when touching
  float normal[3];    // contact normal, unit
  float slip[3];      // velocity of the tire's material at the contact
  float force[3];     // force of the ground on the wheel in the last step
  float center[3];    // wheel body position
  float velocity[3];  // wheel body linear velocity
  float angular[3];   // wheel body angular velocity
  float axle[3];      // wheel body's local +x axis, unit
};

// ------------------------------------------------------------------ ruts

const int RUT_ENTRIES = 64;
const int RUT_RECORD_MIN = 17;
const int RUT_RECORD_MAX = 17 + 4 * (RUT_ENTRIES - 1);  // 269
const int ERODE_QUEUE_SIZE = 0x20000;
// An average closes at this many samples: the record's count field has
// four bits.
const int RUT_MAX_SAMPLES = 15;

// One queued dig (20 bytes); gx, gz in -1 .. 63/32 - 1 once decoded.
struct DigEntry {
  float x, z, gx, gz;
  int32_t n;
};

struct WheelRutState {
  DigEntry entries[RUT_ENTRIES];
  float min_dx, min_dz, max_dx, max_dz;
  int last_push_tic;
  int entry_count;
  float last_x, last_z;
  float sum_x, sum_z, sum_gx, sum_gz;
  float travel;
  int sample_count;
};

// Plug-ins of the network and the demo recorder; both may be null.
struct ErodeHooks {
  // Takes a record for the server when connected: 1, else 0 and the record
  // is applied locally.
  int (*send)(const uint8_t *record, int length);
  // Sees every record applied locally through erode_send (demo recording).
  void (*sent_offline)(const uint8_t *record, int length);
};
extern ErodeHooks erode_hooks;

// Per simulated rider and tic after the physics step, front wheel then rear.
void erode_wheel_update(WheelRutState *w, const WheelInput *in, int is_front, int now_tic);
void erode_wheel_reset(WheelRutState *w);
// The dig vector a contact gives this tic: 1 with (gx, gz) set, or 0.
int erode_dig_vector(const WheelInput *in, int is_front, float *gx, float *gz);

// Packs the wheel's entries into `out`: the record length, 0 when empty.
int erode_pack(const WheelRutState *w, uint8_t out[RUT_RECORD_MAX]);
// Decodes a record: the entry count, 0 when malformed.
int erode_decode(const uint8_t *record, int length, DigEntry out[RUT_ENTRIES]);
void erode_send(const uint8_t *record, int length);
void erode_receive(const uint8_t *record, int length);

void erode_queue_clear();
int erode_queue_length();
// Applies queued entries; once per main-loop iteration. `viewer` is the
// local rider's (x, y, z) or null; `rate` the erosion amount / 1024.
void erode_process(const float *viewer, float rate, int now_tic);
// One entry with the given rate, as erode_process applies it: 1 when the
// ground was changed, 0 when the entry was skipped.
int erode_apply_entry(const DigEntry *e, float rate);

// Bump kernels on the height field: radius in world units, amplitude in
// height units. terrain_dig returns the kernel's total (negative when
// digging); terrain_deposit spreads `amount` over the same window.
float terrain_dig(float x, float z, float r, float amplitude);
void terrain_deposit(float x, float z, float r, float amount);

// ------------------------------------------------------------------ roost

const int ROOST_PARTICLES = 2000;

struct RoostParticle {
  float x, y, z;
  float vx, vy, vz;
  const SurfaceRoost *roost;
  // Its billboard: texture 0 hides it.
  float size;
  int texture;
  uint8_t color[4];
  int next;  // -1 ends a list
};

struct RoostPool {
  RoostParticle p[ROOST_PARTICLES];
  int free_head;
  int active_head;
  int active_count;
};
extern RoostPool roost_pool;
// "roost_density": per tic and rider, density / 100 particles per record
// at most.
extern int roost_density;

// Puts every particle on the free list, hidden, and reseeds the roost's own
// random numbers (the shared generator is left to robots and scripts).
void roost_pool_reset();
// The emission cap of one rider for this tic.
int roost_cap(int density);
void roost_emit(const WheelInput *in, int cap, float max_angle, int now_tic);
void roost_update();

// ------------------------------------------------------------------ decals

struct Decal {
  int texture;
  int normal_texture;
  int spec_texture;
  float x, z;
  float angle;
  float size;
  float aspect;
  float sin_angle, cos_angle;
  char name[1024];
};

const int DECAL_BUCKETS = 8;

extern Decal *decals;
extern int decal_count;
extern int decals_hidden;

// Reads an open "decals" file, appending to the list, then rebuilds the
// buckets: the number of decals added.
int decals_load(DataFile *f);
// The terrain's hooks: create the lists and read "<dir>/decals" if present
// (1), free them, write them (1, or 0 after a message).
int decals_load_dir(const char *dir);
void decals_free();
int decals_save_dir(const char *dir);
// Sets those three in terrain_hooks.
void decals_attach();
void decals_rebucket();
// The ascending, duplicate-free decal indices of the buckets the rectangle
// covers; the list stays valid until the next call or rebucket.
int decals_in_rect(float x0, float z0, float x1, float z1, const int **list);
// Flips decal hiding, says so, rebuilds the buckets. The renderer must
// still redraw its ground textures.
void decals_toggle();
