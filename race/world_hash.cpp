// The world hash. Byte order, every number little-endian whatever the host:
//   samples a side of the height field (4 bytes), then every height sample
//   in storage order (row by row), each the 4 bytes of its float;
//   then for each rider slot in use, in slot order: the slot number
//   (4 bytes); for each of the seven bodies in BodyPart order its position
//   (3), rotation quaternion (4), linear (3) and angular velocity (3), each
//   the 8 bytes of its double; the engine speed and the crank phase
//   (doubles); for the front wheel then the rear its contact depth (what
//   the controls and the dab see between tics) and, with strict friction
//   only, the friction load ratio learnt from earlier steps (floats).
// Values are written field by field, so padding and layout never enter it.
#include "race/world_hash.h"

#include <cstring>

#include "bike/rider.h"
#include "core/core.h"
#include "terrain/terrain.h"

static_assert(sizeof(dReal) == 8, "the physics runs in double precision");

namespace {

struct HashWriter {
  Ripemd160 md;
  uint8_t buf[4096];
  size_t fill = 0;

  HashWriter() { ripemd160_init(&md); }
  void flush() {
    ripemd160_update(&md, buf, fill);
    fill = 0;
  }
  void u32(uint32_t v) {
    if (fill + 4 > sizeof buf) flush();
    for (int i = 0; i < 4; i++) buf[fill++] = uint8_t(v >> (8 * i));
  }
  void u64(uint64_t v) {
    if (fill + 8 > sizeof buf) flush();
    for (int i = 0; i < 8; i++) buf[fill++] = uint8_t(v >> (8 * i));
  }
  void f32(float v) {
    uint32_t bits;
    memcpy(&bits, &v, 4);
    u32(bits);
  }
  void f64(double v) {
    uint64_t bits;
    memcpy(&bits, &v, 8);
    u64(bits);
  }
  void f64s(const dReal *v, int n) {
    for (int i = 0; i < n; i++) f64(v[i]);
  }
};

}  // namespace

void world_hash(uint8_t out[20]) {
  HashWriter w;
  int size = terrain.heights ? terrain.size : 0;
  w.u32(uint32_t(size));
  size_t samples = size_t(size) * size_t(size);
  for (size_t k = 0; k < samples; k++) w.f32(terrain.heights[k]);
  for (int slot = 0; slot < RIDER_SLOTS; slot++) {
    const Rider *r = rider_in_slot(slot);
    if (!r) continue;
    w.u32(uint32_t(slot));
    for (int b = 0; b < BODY_PART_COUNT; b++) {
      dBodyID body = r->body[b];
      w.f64s(dBodyGetPosition(body), 3);
      w.f64s(dBodyGetQuaternion(body), 4);
      w.f64s(dBodyGetLinearVel(body), 3);
      w.f64s(dBodyGetAngularVel(body), 3);
    }
    w.f64(r->engine_speed);
    w.f64(r->phase);
    for (const WheelContact &c : r->wheel) {
      w.f32(c.depth);
      if (physics_options.strict_friction) w.f32(c.load_ratio);
    }
  }
  w.flush();
  ripemd160_final(&w.md, out);
}

void world_hash_text(char out[41]) {
  static const char hex[] = "0123456789abcdef";
  uint8_t h[20];
  world_hash(h);
  for (int i = 0; i < 20; i++) {
    out[2 * i] = hex[h[i] >> 4];
    out[2 * i + 1] = hex[h[i] & 15];
  }
  out[40] = 0;
}
