// Collision shapes: ".shp" files of spheres, their cache, and the default
// shapes of a bike row that the data generator writes.
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

#include "core/core.h"
#include "bike/rider.h"
#include "core/log.h"

static std::map<std::string, CollisionShape> shape_cache;

static void fail(char *error, int size, const char *text) {
  if (error && size > 0) snprintf(error, size, "%s", text);
}

// One "%f"-style number; 0 when there is none.
static int read_number(const char **p, float *out) {
  char *end;
  errno = 0;
  float v = strtof(*p, &end);
  if (end == *p) return 0;
  *out = v;
  *p = end;
  return 1;
}

int shape_parse(const char *text, CollisionShape *out, char *error, int error_size) {
  if (!text) {
    fail(error, error_size, "no text");
    return 0;
  }
  const char *p = text;
  char *end;
  long n = strtol(p, &end, 10);
  if (end == p) {
    fail(error, error_size, "no sphere count");
    return 0;
  }
  if (n < 1 || n > SHAPE_MAX_SPHERES) {
    fail(error, error_size, "bad sphere count");
    return 0;
  }
  p = end;
  CollisionShape s;
  s.spheres.resize(size_t(n));
  float bound = 0;
  for (long i = 0; i < n; i++) {
    float v[7];
    for (int k = 0; k < 7; k++)
      if (!read_number(&p, &v[k])) {
        fail(error, error_size, "missing number");
        return 0;
      }
    for (float x : v)
      if (!std::isfinite(x)) {
        fail(error, error_size, "number not finite");
        return 0;
      }
    CollisionSphere &c = s.spheres[size_t(i)];
    c = {{v[0], v[1], v[2]}, v[3], v[4], v[5], v[6]};
    if (!(c.radius > 0) || c.radius > SHAPE_MAX_RADIUS) {
      fail(error, error_size, "bad radius");
      return 0;
    }
    if (c.friction < 0 || c.stiffness < 0 || c.damping < 0) {
      fail(error, error_size, "negative material value");
      return 0;
    }
    float len = sqrtf(c.centre[0] * c.centre[0] + c.centre[1] * c.centre[1] +
                      c.centre[2] * c.centre[2]);
    if (len > 1000) {
      fail(error, error_size, "sphere too far from its body");
      return 0;
    }
    if (len + c.radius > bound) bound = len + c.radius;
  }
  s.bound_radius = bound;
  s.name[0] = 0;
  *out = std::move(s);
  return 1;
}

int shape_load(const char *name, CollisionShape *out) {
  if (!name || !*name) return 0;
  auto it = shape_cache.find(name);
  if (it == shape_cache.end()) {
    char *text = file_to_string(name);
    if (!text) {
      log_printf("Can't open shape '%.900s'\n", name);
      return 0;
    }
    CollisionShape s;
    char error[128];
    int ok = shape_parse(text, &s, error, sizeof error);
    mem_free(text);
    if (!ok) {
      log_printf("Bad shape '%.900s': %s\n", name, error);
      return 0;
    }
    snprintf(s.name, sizeof s.name, "%.63s", name);
    it = shape_cache.emplace(name, std::move(s)).first;
  }
  *out = it->second;
  return 1;
}

void shape_cache_put(const char *name, const CollisionShape &shape) {
  CollisionShape s = shape;
  snprintf(s.name, sizeof s.name, "%.63s", name);
  shape_cache[name] = std::move(s);
}

void shape_cache_purge() { shape_cache.clear(); }

int shape_format(const std::vector<CollisionSphere> &spheres, char *out, int size) {
  int used = snprintf(out, size_t(size), "%d\n", int(spheres.size()));
  for (const CollisionSphere &s : spheres) {
    if (used < 0 || used >= size) return 0;
    used += snprintf(out + used, size_t(size - used), "%f %f %f %f %f %f %f\n", s.centre[0],
                     s.centre[1], s.centre[2], s.radius, s.friction, s.stiffness, s.damping);
  }
  return used >= 0 && used < size;
}

// ----------------------------------------------------------- default shapes
// Spheres along the parts of the bike at rest, in each body's own
// coordinates (its origin is its start position).
static void add(std::vector<CollisionSphere> &v, const float *origin, double x, double y, double z,
                double radius, double friction) {
  CollisionSphere s;
  s.centre[0] = float(x - origin[0]);
  s.centre[1] = float(y - origin[1]);
  s.centre[2] = float(z - origin[2]);
  s.radius = float(radius);
  s.friction = float(friction);
  s.stiffness = 2500;
  s.damping = 250;
  v.push_back(s);
}

// n spheres from a to b (world rest positions).
static void line(std::vector<CollisionSphere> &v, const float *origin, const float *a,
                 const float *b, int n, double radius, double friction) {
  for (int i = 0; i < n; i++) {
    double t = n > 1 ? double(i) / (n - 1) : 0.5;
    add(v, origin, a[0] + (b[0] - a[0]) * t, a[1] + (b[1] - a[1]) * t, a[2] + (b[2] - a[2]) * t,
        radius, friction);
  }
}

std::vector<CollisionSphere> default_shape_spheres(const BikeModel *m, int part) {
  std::vector<CollisionSphere> v;
  const float *fp = m->frame_pos;
  switch (part) {
    case PART_FRAME_SHAPE: {
      // Engine low in the middle, the tank and seat above, the rear fender.
      float engine[3] = {0, fp[1] - 0.45f, fp[2] - 0.55f};
      float head[3] = {m->steering_head_pos[0], m->steering_head_pos[1] - 0.1f,
                       m->steering_head_pos[2] + 0.3f};
      float seat[3] = {0, fp[1] + 0.55f, fp[2] + 0.9f};
      float tail[3] = {0, fp[1] + 0.75f, m->rear_wheel_pos[2] - 0.3f};
      add(v, fp, engine[0], engine[1], engine[2], 0.5, 0.5);
      add(v, fp, 0, fp[1] - 0.35, fp[2] + 0.2, 0.4, 0.5);
      line(v, fp, head, seat, 3, 0.4, 0.5);
      // On to the tail from halfway: a smaller sphere at the seat itself
      // would lie inside the one there and double its contact.
      float past_seat[3] = {(seat[0] + tail[0]) / 2, (seat[1] + tail[1]) / 2,
                            (seat[2] + tail[2]) / 2};
      line(v, fp, past_seat, tail, 2, 0.3, 0.5);
      break;
    }
    case PART_FORK_UPPER_SHAPE: {
      const float *o = m->steering_head_pos;
      // Handlebar ends at the grips and the top clamp.
      add(v, o, 0, o[1] + 0.1, o[2], 0.3, 0.5);
      for (int s = 0; s < 2; s++) {
        const float *g = m->grip_points[s];
        add(v, o, o[0] + g[0], o[1] + g[1], o[2] + g[2], 0.2, 0.5);
      }
      break;
    }
    case PART_FORK_LOWER_SHAPE: {
      const float *o = m->fork_lower_pos;
      float top[3] = {o[0], o[1] + 0.3f, o[2] + 0.15f};
      float axle[3] = {m->front_wheel_pos[0], m->front_wheel_pos[1] + 0.2f,
                       m->front_wheel_pos[2] + 0.1f};
      for (int s = -1; s <= 1; s += 2) {
        float a[3] = {top[0] + s * m->fork_leg_spacing / 2, top[1], top[2]};
        float b[3] = {axle[0] + s * m->fork_leg_spacing / 2, axle[1], axle[2]};
        line(v, o, a, b, 2, 0.15, 0.5);
      }
      break;
    }
    case PART_SWINGARM_SHAPE: {
      const float *o = m->swingarm_pos;
      line(v, o, m->swingarm_pivot, m->rear_wheel_pos, 3, 0.2, 0.5);
      break;
    }
    case PART_FRONT_WHEEL_SHAPE:
    case PART_REAR_WHEEL_SHAPE: {
      int rear = part == PART_REAR_WHEEL_SHAPE;
      const float *o = rear ? m->rear_wheel_pos : m->front_wheel_pos;
      double R = rear ? m->rear_rim_radius : m->front_rim_radius;
      double r = rear ? m->rear_tire_radius : m->front_tire_radius;
      for (int i = 0; i < 8; i++) {
        double a = i * M_PI / 4;
        add(v, o, o[0], o[1] + R * cos(a), o[2] + R * sin(a), r, 1.0);
      }
      break;
    }
    case PART_RIDER_SHAPE: {
      // Torso, head and hips of the rider figure.
      const float *o = m->rider_pos;
      add(v, o, o[0], o[1], o[2], 0.6, 0.8);
      const float *h = m->head_point;
      add(v, o, o[0] + h[0], o[1] + h[1], o[2] + h[2], 0.45, 0.8);
      for (int s = 0; s < 2; s++) {
        const float *p = m->hip_points[s];
        add(v, o, o[0] + p[0], o[1] + p[1], o[2] + p[2], 0.35, 0.8);
        const float *q = m->shoulder_points[s];
        add(v, o, o[0] + q[0], o[1] + q[1], o[2] + q[2], 0.3, 0.8);
      }
      break;
    }
    default: break;
  }
  return v;
}
