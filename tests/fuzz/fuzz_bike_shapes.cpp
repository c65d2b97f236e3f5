// ".shp" text: any bytes either fail with a reason or give a shape whose
// spheres the contact code can use as read, and which reads back the same
// after it is written out again.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "bike/rider.h"

static void check_shape(const CollisionShape &s) {
  size_t n = s.spheres.size();
  if (n < 1 || n > SHAPE_MAX_SPHERES) abort();
  if (!std::isfinite(s.bound_radius)) abort();
  for (const CollisionSphere &c : s.spheres) {
    for (float x : {c.centre[0], c.centre[1], c.centre[2], c.radius, c.friction, c.stiffness,
                    c.damping})
      if (!std::isfinite(x)) abort();
    if (!(c.radius > 0) || c.radius > SHAPE_MAX_RADIUS) abort();
    if (c.friction < 0 || c.stiffness < 0 || c.damping < 0) abort();
    // The bounding test skips pairs beyond it: no sphere may stick out.
    double len = std::sqrt(double(c.centre[0]) * c.centre[0] + double(c.centre[1]) * c.centre[1] +
                           double(c.centre[2]) * c.centre[2]);
    if (len + c.radius > s.bound_radius * (1 + 1e-5) + 1e-5) abort();
  }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::string text(reinterpret_cast<const char *>(data), size);
  CollisionShape s;
  char error[8];
  memset(error, 'x', sizeof error);
  if (!shape_parse(text.c_str(), &s, error, sizeof error)) {
    // A failure says why, within the buffer it was given.
    if (!memchr(error, 0, sizeof error) || error[0] == 0) abort();
    return 0;
  }
  check_shape(s);
  // Written out and read again: the same spheres, to the text's precision.
  static char out[SHAPE_MAX_SPHERES * 7 * 48 + 16];
  if (!shape_format(s.spheres, out, int(sizeof out))) abort();
  CollisionShape again;
  char why[128];
  if (!shape_parse(out, &again, why, sizeof why)) {
    // "%f" keeps six decimals: a radius below that reads back as 0, and a
    // centre on the distance limit may round past it.
    for (const CollisionSphere &c : s.spheres) {
      double len = std::sqrt(double(c.centre[0]) * c.centre[0] +
                             double(c.centre[1]) * c.centre[1] + double(c.centre[2]) * c.centre[2]);
      if (c.radius < 1e-6f || len > 999.99) return 0;
    }
    abort();
  }
  if (again.spheres.size() != s.spheres.size()) abort();
  for (size_t i = 0; i < s.spheres.size(); i++)
    if (std::fabs(again.spheres[i].radius - s.spheres[i].radius) >
        1e-6f + 1e-6f * s.spheres[i].radius)
      abort();
  return 0;
}
