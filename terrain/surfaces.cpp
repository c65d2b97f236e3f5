// Surface types: the "tileinfo" keyword file, the older one-line-per-type
// "texturelist", and the transition codes the editor's tile painting uses.
#include <cfloat>
#include <cstddef>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>

#include "core/core.h"
#include "core/mathutil.h"
#include "core/shared.h"
#include "terrain/terrain_internal.h"

static const float MIN_ROLL_SPEED = 0.00000095367431640625f;  // 2^-20
static const float MAX_FRICTION_SPEED = 1048575.0f;
// Radii feed the deformation kernel's loop bounds: a few dozen feet is
// already a crater; more would make each rut entry scan millions of samples.
static const float MAX_ERODE_RADIUS = 32.0f;
// The roost pool holds 2000 particles; drag past 128 per second would turn
// the per-tic damping factor negative and make particles oscillate.
static const float MAX_ROOST_COUNT = 2000.0f;
static const float MAX_ROOST_DRAG = 128.0f;

// ------------------------------------------------------------------ numbers

static int is_blank(int c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; }
static int is_digit(int c) { return c >= '0' && c <= '9'; }

int parse_decimal_float(const char **pp, float *out) {
  const char *p = *pp;
  while (is_blank(*p)) p++;
  const char *start = p;
  if (*p == '+' || *p == '-') p++;
  int digits = 0;
  while (is_digit(*p)) p++, digits++;
  if (*p == '.') {
    p++;
    while (is_digit(*p)) p++, digits++;
  }
  if (!digits) return 0;
  if (*p == 'e' || *p == 'E') {
    const char *e = p + 1;
    if (*e == '+' || *e == '-') e++;
    if (is_digit(*e)) {
      while (is_digit(*e)) e++;
      p = e;
    }
  }
  // Copy the span: strtod alone would also take hex, "nan" and "inf".
  std::string span(start, p - start);
  double d = strtod(span.c_str(), nullptr);
  if (!std::isfinite(d) || fabs(d) > FLT_MAX) return 0;
  *out = float(d);
  *pp = p;
  return 1;
}

static int parse_int(const char **pp, int *out) {
  const char *p = *pp;
  while (is_blank(*p)) p++;
  const char *start = p;
  if (*p == '+' || *p == '-') p++;
  if (!is_digit(*p)) return 0;
  while (is_digit(*p)) p++;
  std::string span(start, p - start);
  long long v = strtoll(span.c_str(), nullptr, 10);
  if (v < -2147483647LL - 1 || v > 2147483647LL || span.size() > 12) return 0;
  *out = int(v);
  *pp = p;
  return 1;
}

static int parse_floats(const char *p, float *out, int n) {
  for (int i = 0; i < n; i++)
    if (!parse_decimal_float(&p, &out[i])) return 0;
  return 1;
}

static void copy_cut(char *dst, const char *src, int max) {
  int n = int(strnlen(src, max));
  memcpy(dst, src, n);
  dst[n] = 0;
}

static int load_texture(const char *name) {
  return terrain_hooks.load_texture && name[0] ? terrain_hooks.load_texture(name) : 0;
}

// ------------------------------------------------------------------ defaults

void surface_roost_defaults(SurfaceRoost *r) {
  memset(r, 0, sizeof *r);
  r->mode = ROOST_NONE;
  r->count = 10;
  r->dig = 1;
  r->slip_threshold = 4;
  r->slow_angle = 1.5707964f;
  r->fast_angle = 0.19634955f;
  r->slow_speed = 0;
  r->fast_speed = 64;
  r->size = 0.25f;
  r->grow = 4;
  r->drag = 0.5f;
  r->vscale = 1;
  r->randomize = 15;
  for (int i = 0; i < 4; i++) r->color[i] = 255;
  r->fade[3] = -2;
  strcpy(r->texture_name, "@roost.png");
}

void surface_erode_defaults(SurfaceErode *e) {
  static const float head[16] = {1, 50, 150, 2, 4, 0.125f, 2, -0.5f, 0.5f, 10, 15, 0, 5, 1, 1.5f, 0};
  memset(e, 0, sizeof *e);
  memcpy(e->s, head, sizeof head);
  for (int i = 0; i < ERODE_LIMITS_MAX; i++) {
    e->s[ERODE_LIMIT_DEPTH + i] = 0;
    e->s[ERODE_LIMIT_OUTER + i] = 1;
    e->s[ERODE_LIMIT_INNER + i] = 1;
  }
  e->s[ERODE_PROJECT_TO_GROUND] = 1;
  e->s[ERODE_LATERAL_SCALE] = 1;
  e->s[ERODE_FRONT_SCALE] = 1;
  e->limit_count = 1;
}

void surface_defaults(Surface *s) {
  memset(s, 0, sizeof *s);
  for (int i = 0; i < SURFACE_CURVE_POINTS; i++) {
    s->friction_coef[i] = 1;
    s->friction_speed[i] = i == 0 ? 1.0f : FRICTION_END_SPEED;
    s->roll_a[i] = 5;
    s->roll_b[i] = 15;
    s->roll_speed[i] = i == 0 ? 1.0f : 0.0f;
  }
  s->slip_function = 0;
  for (int i = 0; i < SURFACE_ROOSTS; i++) surface_roost_defaults(&s->roost[i]);
  surface_erode_defaults(&s->erode);
}

// --------------------------------------------------------- transition codes

// The texture's file name without a leading '@' and without its folders.
static const char *texture_base(const char *full) {
  if (full[0] == '@') full++;
  const char *slash = strrchr(full, '/');
  return slash ? slash + 1 : full;
}

// The first surface whose texture base is `stem` followed by '.'.
static int find_stem(const char *stem, size_t len, int count) {
  for (int k = 0; k < count; k++) {
    const char *b = texture_base(terrain.surface[k].texture_name);
    if (strncmp(b, stem, len) == 0 && b[len] == '.') return k;
  }
  return -1;
}

static void compute_transitions(int count) {
  for (int t = 0; t < count; t++) {
    const char *name = texture_base(terrain.surface[t].texture_name);
    int code = t * 65536 + t * 256;
    const char *dash = strchr(name, '-');
    int j = dash ? find_stem(name, dash - name, count) : -1;
    if (j >= 0) {
      const char *after = dash + 1;
      if (strncmp(after, "alt", 3) == 0 && is_digit(after[3])) {
        code = j * 65536 + j * 256;
      } else {
        const char *next = strchr(after, '-');
        size_t blen = next ? size_t(next - after) : strlen(after);
        int l = find_stem(after, blen, count);
        if (l < 0) {
          code = -256;
        } else {
          code = j * 65536 + l * 256;
          if (next) {
            int bits = 0, ok = 1;
            for (int k = 1; k <= 4 && ok; k++) {
              if (next[k] == '0' || next[k] == '1')
                bits = bits * 2 + (next[k] - '0');
              else
                ok = 0;
            }
            if (ok) code += bits;
          }
        }
      }
    }
    terrain.surface[t].transition = code;
  }
}

// ------------------------------------------------------------------ tileinfo

namespace {

struct Builder {
  Surface cur;
  int friction_points, roll_points, roosts, limits;
  int named;
  char name[SURFACE_NAME_MAX + 1];
  int count;
};

void builder_reset(Builder *b) {
  surface_defaults(&b->cur);
  b->friction_points = b->roll_points = b->roosts = b->limits = 0;
  b->named = 0;
  b->name[0] = 0;
}

void warn(const char *what) {
  char text[1100];
  snprintf(text, sizeof text, "tileinfo warning: %s\n", what);
  add_message(text);
}

struct ErodeKey {
  const char *key;
  int index;
};
const ErodeKey erode_keys[] = {
    {"erode_depth", ERODE_DEPTH},
    {"erode_lower", ERODE_LOWER},
    {"erode_upper", ERODE_UPPER},
    {"erode_displacement", ERODE_DISPLACEMENT},
    {"erode_radius", ERODE_RADIUS},
    {"erode_inner_depth", ERODE_INNER_DEPTH},
    {"erode_inner_radius", ERODE_INNER_RADIUS},
    {"erode_min_slope", ERODE_MIN_SLOPE},
    {"erode_max_slope", ERODE_MAX_SLOPE},
    {"erode_off_speed", ERODE_OFF_SPEED},
    {"erode_on_speed", ERODE_ON_SPEED},
    {"erode_slip_lower", ERODE_SLIP_LOWER},
    {"erode_slip_upper", ERODE_SLIP_UPPER},
    {"erode_slip_base_scale", ERODE_SLIP_BASE_SCALE},
    {"erode_slip_scale", ERODE_SLIP_SCALE},
    {"erode_downhill_scale", ERODE_DOWNHILL_SCALE},
    {"erode_project_to_ground", ERODE_PROJECT_TO_GROUND},
    {"erode_lateral_scale", ERODE_LATERAL_SCALE},
    {"erode_front_scale", ERODE_FRONT_SCALE},
};

// Roost tokens: float fields by offset, colour and fade bytes by channel.
enum RoostKind { RK_TEXTURE, RK_SPLASH, RK_FLOAT, RK_COLOR, RK_FADE };
struct RoostKey {
  const char *key;  // without the '='
  RoostKind kind;
  size_t offset;    // float field, or channel for colour and fade
};
const RoostKey roost_keys[] = {
    {"texture", RK_TEXTURE, 0},
    {"splash", RK_SPLASH, 0},
    {"count", RK_FLOAT, offsetof(SurfaceRoost, count)},
    {"dig", RK_FLOAT, offsetof(SurfaceRoost, dig)},
    {"slip_threshold", RK_FLOAT, offsetof(SurfaceRoost, slip_threshold)},
    {"slow_angle", RK_FLOAT, offsetof(SurfaceRoost, slow_angle)},
    {"fast_angle", RK_FLOAT, offsetof(SurfaceRoost, fast_angle)},
    {"slow_speed", RK_FLOAT, offsetof(SurfaceRoost, slow_speed)},
    {"fast_speed", RK_FLOAT, offsetof(SurfaceRoost, fast_speed)},
    {"size", RK_FLOAT, offsetof(SurfaceRoost, size)},
    {"grow", RK_FLOAT, offsetof(SurfaceRoost, grow)},
    {"drag", RK_FLOAT, offsetof(SurfaceRoost, drag)},
    {"vscale", RK_FLOAT, offsetof(SurfaceRoost, vscale)},
    {"randomize", RK_FLOAT, offsetof(SurfaceRoost, randomize)},
    {"r", RK_COLOR, 0},
    {"g", RK_COLOR, 1},
    {"b", RK_COLOR, 2},
    {"a", RK_COLOR, 3},
    {"fade_r", RK_FADE, 0},
    {"fade_g", RK_FADE, 1},
    {"fade_b", RK_FADE, 2},
    {"fade_a", RK_FADE, 3},
};

void roost_token(SurfaceRoost *r, const char *token) {
  for (const RoostKey &k : roost_keys) {
    size_t n = strlen(k.key);
    if (strncmp(token, k.key, n) != 0 || token[n] != '=') continue;
    const char *p = token + n + 1;
    if (k.kind == RK_TEXTURE) {
      copy_cut(r->texture_name, p, SURFACE_FILE_MAX);
      return;
    }
    float v = 0;
    // The number must start right after '=': the longest decimal prefix.
    int ok = !is_blank(*p) && parse_decimal_float(&p, &v);
    if (!ok) v = 0;
    switch (k.kind) {
      case RK_SPLASH:
        if (v != 0) r->mode = ROOST_SPLASH;
        return;
      case RK_FLOAT: {
        if (k.offset == offsetof(SurfaceRoost, count)) v = clampf(v, 0, MAX_ROOST_COUNT);
        if (k.offset == offsetof(SurfaceRoost, drag)) v = clampf(v, 0, MAX_ROOST_DRAG);
        float *field = reinterpret_cast<float *>(reinterpret_cast<char *>(r) + k.offset);
        *field = v;
        break;
      }
      case RK_COLOR:
        r->color[k.offset] = uint8_t(int(clampf(v, 0, 255)));
        break;
      case RK_FADE:
        // A change per second, stored per tic; truncated toward zero.
        r->fade[k.offset] = int8_t(int(clampf(v * float(TIC_SECONDS), -128, 127)));
        break;
      default:
        break;
    }
    if (!ok) {
      char text[64];
      snprintf(text, sizeof text, "bad %s", k.key);
      warn(text);
    }
    return;
  }
  char text[80];
  snprintf(text, sizeof text, "unknown roost parameter '%.40s'", token);
  warn(text);
}

void parse_roost(Builder *b, const char *value) {
  if (b->roosts == SURFACE_ROOSTS) {
    warn("too many roost types");
    return;
  }
  SurfaceRoost *r = &b->cur.roost[b->roosts];
  surface_roost_defaults(r);
  r->mode = ROOST_THROW;
  static const char separators[] = " \t\f\b\r\n";
  const char *p = value;
  std::string token;
  while (*p) {
    while (*p && strchr(separators, *p)) p++;
    if (!*p) break;
    token.clear();
    int quoted = 0;
    while (*p && (quoted || !strchr(separators, *p))) {
      if (*p == '"')
        quoted = !quoted;
      else
        token += *p;
      p++;
    }
    roost_token(r, token.c_str());
  }
  r->texture = load_texture(r->texture_name);
  b->roosts++;
}

void parse_erode_limit(Builder *b, const char *value) {
  if (b->limits == ERODE_LIMITS_MAX) {
    warn("too many erode limits");
    return;
  }
  float v[3];
  if (!parse_floats(value, v, 3)) {
    warn("bad erode_limit");
    return;
  }
  float *s = b->cur.erode.s;
  if (b->limits > 0 && !(v[0] > s[ERODE_LIMIT_DEPTH + b->limits - 1])) {
    warn("erode_limit depth <= prev depth");
    return;
  }
  s[ERODE_LIMIT_DEPTH + b->limits] = v[0];
  s[ERODE_LIMIT_OUTER + b->limits] = v[1];
  s[ERODE_LIMIT_INNER + b->limits] = v[2];
  b->limits++;
}

void commit(Builder *b) {
  Surface *s = &b->cur;
  copy_cut(s->name, b->named ? b->name : s->texture_name, SURFACE_NAME_MAX);
  for (int i = 0; i < b->friction_points; i++)
    for (int k = i + 1; k < b->friction_points; k++)
      if (s->friction_speed[k] < s->friction_speed[i]) {
        std::swap(s->friction_speed[k], s->friction_speed[i]);
        std::swap(s->friction_coef[k], s->friction_coef[i]);
      }
  for (int i = 0; i < b->roll_points; i++)
    for (int k = i + 1; k < b->roll_points; k++)
      if (s->roll_speed[k] < s->roll_speed[i]) {
        std::swap(s->roll_speed[k], s->roll_speed[i]);
        std::swap(s->roll_a[k], s->roll_a[i]);
        std::swap(s->roll_b[k], s->roll_b[i]);
      }
  s->erode.limit_count = b->limits ? b->limits : 1;
  terrain.surface[b->count++] = *s;
  builder_reset(b);
}

// One line; 0 once no more surfaces can be taken.
int tileinfo_line(Builder *b, char *line) {
  char *p = line;
  while (*p == ' ' || *p == '\t' || *p == '\r' || *p == '\n') p++;
  if (!*p) return 1;
  char *key = p;
  while (*p && *p != ' ' && *p != '\t' && *p != '\r' && *p != '\n') p++;
  char *value = p;
  if (*p) {
    *p = 0;
    value = p + 1;
    while (*value == ' ' || *value == '\t') value++;
  }
  char *end = value + strcspn(value, "\r\n");
  *end = 0;

  if (strcmp(key, "addtile") == 0) {
    commit(b);
    return b->count < SURFACE_MAX;
  }
  Surface *s = &b->cur;
  if (strcmp(key, "name") == 0) {
    copy_cut(b->name, value, SURFACE_NAME_MAX);
    b->named = 1;
  } else if (strcmp(key, "texture") == 0) {
    copy_cut(s->texture_name, value, SURFACE_FILE_MAX);
    s->texture = load_texture(s->texture_name);
  } else if (strcmp(key, "friction") == 0) {
    float v[2];
    if (b->friction_points == SURFACE_CURVE_POINTS) {
      warn("too many friction points");
    } else if (!parse_floats(value, v, 2)) {
      warn("bad friction parameters");
    } else {
      s->friction_coef[b->friction_points] = v[0] < 0 ? 0 : v[0];
      s->friction_speed[b->friction_points] = v[1] > MAX_FRICTION_SPEED ? MAX_FRICTION_SPEED : v[1];
      b->friction_points++;
    }
  } else if (strcmp(key, "slip_function") == 0) {
    const char *q = value;
    int v;
    if (parse_int(&q, &v) && v >= 0 && v <= 2) {
      s->slip_function = v;
    } else {
      // An unknown interpolation would leave the tire model without one.
      s->slip_function = 0;
      warn("bad slip_function");
    }
  } else if (strcmp(key, "roll_resist") == 0) {
    float v[3];
    if (b->roll_points == SURFACE_CURVE_POINTS) {
      warn("too many roll_resist points");
    } else if (!parse_floats(value, v, 3)) {
      warn("bad roll_resist parameters");
    } else {
      s->roll_a[b->roll_points] = v[0] < 0 ? 0 : v[0];
      s->roll_b[b->roll_points] = v[1] < 0 ? 0 : v[1];
      s->roll_speed[b->roll_points] = v[2] < MIN_ROLL_SPEED ? MIN_ROLL_SPEED : v[2];
      b->roll_points++;
    }
  } else if (strcmp(key, "roost") == 0) {
    parse_roost(b, value);
  } else if (strcmp(key, "erode_limit") == 0) {
    parse_erode_limit(b, value);
  } else {
    for (const ErodeKey &k : erode_keys) {
      if (strcmp(key, k.key) != 0) continue;
      const char *q = value;
      float v;
      if (!parse_decimal_float(&q, &v)) {
        char text[64];
        snprintf(text, sizeof text, "bad %s", k.key);
        warn(text);
      } else {
        if (k.index == ERODE_RADIUS || k.index == ERODE_INNER_RADIUS)
          v = clampf(v, 0, MAX_ERODE_RADIUS);
        s->erode.s[k.index] = v;
      }
      return 1;
    }
    char text[1000];
    snprintf(text, sizeof text, "Unknown identifier '%.950s'", key);
    warn(text);
  }
  return 1;
}

}  // namespace

// A file that names no surface still yields one, so that tile indices,
// clamped to tile_count - 1, always land on a record.
static int finish(int count, const char *what) {
  if (count == 0) {
    surface_defaults(&terrain.surface[0]);
    count = 1;
    add_message(what);
  }
  terrain.tile_count = count;
  compute_transitions(count);
  return 1;
}

int tileinfo_parse(DataFile *f) {
  static Builder b;
  memset(terrain.surface, 0, sizeof terrain.surface);
  builder_reset(&b);
  b.count = 0;
  char line[1024];
  while (data_gets(f, line, sizeof line)) {
    show_progress_cycling("Loading tileinfo");
    if (!tileinfo_line(&b, line)) break;
  }
  return finish(b.count, "tileinfo warning: no tiles defined, using a default surface\n");
}

// --------------------------------------------------------------- texturelist

int texturelist_parse(DataFile *f) {
  memset(terrain.surface, 0, sizeof terrain.surface);
  int count = 0;
  char line[1024];
  while (count < SURFACE_MAX && data_gets(f, line, sizeof line)) {
    char *p = line;
    while (is_blank(*p)) p++;
    if (!*p) continue;
    float friction = 1, roll_a = 5, roll_b = 15;
    const char *name = p;
    float v[3];
    const char *q = p;
    if (parse_floats(q, v, 3)) {
      for (int i = 0; i < 3; i++) parse_decimal_float(&q, &v[i]);
      while (is_blank(*q)) q++;
      friction = v[0] < 0 ? 0 : v[0];
      roll_a = v[1] < 0 ? 0 : v[1];
      roll_b = v[2] < 0 ? 0 : v[2];
      name = q;
    }
    // The line's end is no part of the name (nor a CR from a CRLF file).
    std::string texture = std::string("@") + name;
    while (!texture.empty() && (texture.back() == '\n' || texture.back() == '\r')) texture.pop_back();

    Surface *s = &terrain.surface[count++];
    surface_defaults(s);
    copy_cut(s->texture_name, texture.c_str(), SURFACE_FILE_MAX);
    copy_cut(s->name, s->texture_name + 1, SURFACE_NAME_MAX);
    s->texture = load_texture(s->texture_name);
    for (int i = 0; i < SURFACE_CURVE_POINTS; i++) {
      s->friction_coef[i] = friction;
      s->roll_a[i] = roll_a;
      s->roll_b[i] = roll_b;
    }
    s->roost[0].mode = ROOST_THROW;
    s->roost[0].texture = load_texture(s->roost[0].texture_name);
  }
  return finish(count, "texturelist warning: no textures listed, using a default surface\n");
}
