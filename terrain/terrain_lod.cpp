// The ground's quadtree: how much each node may be coarsened (its value),
// which nodes a viewer needs, and their triangle fans back to front.
#include "terrain/terrain_lod.h"

#include <climits>
#include <cmath>
#include <cstring>

#include "core/core.h"
#include "terrain/terrain.h"

Lod lod;

namespace {

inline float *height_row(int z) { return terrain.heights + size_t(z) * size_t(terrain.size); }

inline void mark(int k, int index) {
  uint32_t &w = lod.active[index >> 5];
  uint32_t bit = 1u << (index & 31);
  if (w & bit) return;
  w |= bit;
  int base = ((1 << (2 * k)) - 1) / 3;
  lod.list[base + lod.list_count[k]++] = index;
}

// ----------------------------------------------------------- node values

// One of a node's two right triangles: the corner with the right angle and
// the directions of its legs along x and z.
struct Tri {
  int px, pz, sx, sz;
  float hp, dx, dz;
};

Tri tri_setup(int row, int col, int tri, int s) {
  int x0 = col * s, z0 = row * s;
  Tri t;
  if (((row + col) & 1) == 0) {
    t.px = tri ? x0 + s : x0, t.pz = tri ? z0 + s : z0;
    t.sx = tri ? -1 : 1, t.sz = tri ? -1 : 1;
  } else {
    t.px = tri ? x0 + s : x0, t.pz = tri ? z0 : z0 + s;
    t.sx = tri ? -1 : 1, t.sz = tri ? 1 : -1;
  }
  t.hp = height_row(t.pz)[t.px];
  t.dx = height_row(t.pz)[t.px + t.sx * s] - t.hp;
  t.dz = height_row(t.pz + t.sz * s)[t.px] - t.hp;
  return t;
}

// Largest distance from the triangle's plane along its sample row u.
float scan_row(const Tri &t, int u, int s) {
  // s is a power of two: multiplying by its inverse is the exact quotient.
  float inv = 1.0f / float(s);
  float zu = float(u) * inv * t.dz;
  const float *row = height_row(t.pz + t.sz * u) + t.px;
  float m = 0;
  int last = s - u;
  for (int k = 0; k <= last; k++) {
    float plane = t.hp + float(k) * inv * t.dx + zu;
    float d = fabsf(row[t.sx * k] - plane);
    m = d > m ? d : m;
  }
  return m;
}

float node_value(int k, int row, int col, float error) {
  float diag = terrain.extent * ldexpf(1.0f, -k) * 0.7071067811865476f;
  float own = error / lod.tolerance + diag;
  float v = own * own;
  if (k >= lod.n) return v;
  int side = 2 << k, r = 2 * row, c = 2 * col;
  const float *b = lod.back;
  auto at = [&](int i, int j) {
    return i < 0 || j < 0 || i >= side || j >= side ? 0.0f : b[lod_index(k + 1, i, j)];
  };
  float kids = fmaxf(fmaxf(at(r, c), at(r, c + 1)), fmaxf(at(r + 1, c), at(r + 1, c + 1)));
  float m = 0;
  for (int d = 0; d < 2; d++) {
    m = fmaxf(m, at(r - 1, c + d));
    m = fmaxf(m, at(r + 2, c + d));
    m = fmaxf(m, at(r + d, c - 1));
    m = fmaxf(m, at(r + d, c + 2));
  }
  float reach = sqrtf(m) + terrain.extent * 1.5826829301659018f * ldexpf(1.0f, -(k + 1));
  return fmaxf(v, fmaxf(kids, reach * reach));
}

// ------------------------------------------------------------------ fans

const int OFFSETS[8][2] = {{-1, -1}, {-1, 0}, {-1, 1}, {0, 1}, {1, 1}, {1, 0}, {1, -1}, {0, -1}};
// Quadrants in the fan's turning order (their corner is boundary vertex
// 2m), as child offsets (x, z).
const int QUADRANT[4][2] = {{0, 0}, {0, 1}, {1, 1}, {1, 0}};
// Children farthest first, by which side of the centre the viewer is on.
const int ORDER[4][4][2] = {{{1, 1}, {0, 1}, {1, 0}, {0, 0}},
                            {{0, 1}, {0, 0}, {1, 1}, {1, 0}},
                            {{1, 0}, {1, 1}, {0, 0}, {0, 1}},
                            {{0, 0}, {1, 0}, {0, 1}, {1, 1}}};

struct EmitContext {
  const float *viewer, *dir;
  const LodArea *areas;
  int area_count;
  LodStream *s;
};

void stream_flush(LodStream *s) {
  if (s->count == 0) return;
  int last = s->batch_count ? s->batch[s->batch_count - 1].level : 0;
  for (int b = 0; b < s->batch_count; b++) {
    int end = b + 1 < s->batch_count ? s->batch[b + 1].first : s->count;
    if (end > s->batch[b].first) s->batches++;
  }
  if (s->flush) s->flush(s, s->user);
  s->flushes++;
  s->count = 0;
  s->batch[0] = {0, last};
  s->batch_count = 1;
}

int level_for(const EmitContext &e, int x0, int z0, int x1, int z1) {
  for (int a = 0; a + 1 < e.area_count; a++) {
    const LodArea &r = e.areas[a];
    if (r.g > 0 && r.ox <= x0 && r.oz <= z0 && x1 <= r.ox + r.g && z1 <= r.oz + r.g) return a;
  }
  return e.area_count > 0 ? e.area_count - 1 : 0;
}

// Makes room for one fan and opens a batch for its level.
void fan_begin(const EmitContext &e, int level) {
  LodStream *s = e.s;
  if (s->count + LOD_FAN_VERTICES > LOD_STREAM_VERTICES) stream_flush(s);
  if (s->batch_count > 0) {
    LodBatch &b = s->batch[s->batch_count - 1];
    if (b.level == level) return;
    if (b.first == s->count) {
      b.level = level;
      return;
    }
  }
  s->batch[s->batch_count++] = {s->count, level};
}

inline void put(LodStream *s, int x, int z) {
  float *v = s->v + 3 * s->count++;
  v[0] = float(x) * terrain.spacing;
  v[1] = height_row(z)[x];
  v[2] = float(z) * terrain.spacing;
}

// Triangles from the centre over boundary vertices first .. last (indices
// into OFFSETS, wrapping), skipping midpoints not in `used`.
void fan_run(const EmitContext &e, int cx, int cz, int half, int first, int last,
             unsigned used) {
  LodStream *s = e.s;
  int prev = -1;
  for (int p = first; p <= last; p++) {
    int q = p & 7;
    if ((q & 1) && !(used >> q & 1)) continue;
    int x = cx + OFFSETS[q][0] * half, z = cz + OFFSETS[q][1] * half;
    if (prev >= 0) {
      put(s, cx, cz);
      put(s, cx + OFFSETS[prev][0] * half, cz + OFFSETS[prev][1] * half);
      put(s, x, z);
      s->triangles++;
    }
    prev = q;
  }
}

void emit_node(const EmitContext &e, int k, int row, int col) {
  int size = (terrain.size - 1) >> k, half = size / 2;
  int x0 = col * size, z0 = row * size;
  const float *v = e.viewer;
  if (e.dir) {
    const float *d = e.dir;
    float sp = terrain.spacing;
    float cx = float(d[0] >= 0 ? x0 + size : x0) * sp;
    float cy = d[1] >= 0 ? terrain.max_height : terrain.min_height;
    float cz = float(d[2] >= 0 ? z0 + size : z0) * sp;
    if ((cx - v[0]) * d[0] + (cy - v[1]) * d[1] + (cz - v[2]) * d[2] < 0) return;
  }
  int side = 1 << k;
  int act[2][2] = {{0, 0}, {0, 0}};  // [x offset][z offset]
  int any = 0;
  if (k < lod.n)
    for (int a = 0; a < 2; a++)
      for (int b = 0; b < 2; b++) {
        act[a][b] = lod_active(lod_index(k + 1, 2 * row + b, 2 * col + a));
        any |= act[a][b];
      }
  // Midpoints towards active neighbours (or the terrain's edge).
  auto open = [&](int i, int j) {
    return i < 0 || j < 0 || i >= side || j >= side || lod_active(lod_index(k, i, j));
  };
  unsigned used = 0;
  if (open(row, col - 1)) used |= 1u << 1;
  if (open(row + 1, col)) used |= 1u << 3;
  if (open(row, col + 1)) used |= 1u << 5;
  if (open(row - 1, col)) used |= 1u << 7;
  int cx = x0 + half, cz = z0 + half;
  int level = level_for(e, x0, z0, x0 + size, z0 + size);
  if (!any) {
    fan_begin(e, level);
    fan_run(e, cx, cz, half, 0, 8, used);
    return;
  }
  // A midpoint beside an active child is that child's corner.
  int on[4];
  for (int m = 0; m < 4; m++) on[m] = act[QUADRANT[m][0]][QUADRANT[m][1]];
  for (int m = 0; m < 4; m++)
    if (on[m]) used |= 1u << ((2 * m + 7) & 7) | 1u << (2 * m + 1);
  auto partial_fans = [&]() {
    for (int m = 0; m < 4; m++) {
      if (on[m] || !on[(m + 3) & 3]) continue;
      int last = m;
      while (!on[(last + 1) & 3]) last++;
      fan_begin(e, level);
      fan_run(e, cx, cz, half, 2 * m - 1 + 8, 2 * last + 1 + 8, used);
    }
  };
  float sp = terrain.spacing;
  int quadrant = (v[0] >= float(cx) * sp) | (v[2] >= float(cz) * sp) << 1;
  const int(*o)[2] = ORDER[quadrant];
  auto child = [&](int n) {
    int a = o[n][0], b = o[n][1];
    if (act[a][b]) emit_node(e, k + 1, 2 * row + b, 2 * col + a);
  };
  if (act[o[0][0]][o[0][1]]) {
    child(0), child(1), child(2);
    partial_fans();
    child(3);
  } else {
    partial_fans();
    child(0), child(1), child(2), child(3);
  }
}

// The root is always drawn: nothing else would cover the ground.
void descend(const float *v, int k, int row, int col) {
  int index = lod_index(k, row, col);
  if (k == 0) {
    mark(0, 0);
  } else if (!lod_active(index)) {
    float s = float((terrain.size - 1) >> k) * terrain.spacing;
    float dx = (float(col) + 0.5f) * s - v[0], dz = (float(row) + 0.5f) * s - v[2];
    if (!(lod.front[index] > dx * dx + dz * dz)) return;
    mark(k, index);
  }
  if (k >= lod.n) return;
  for (int b = 0; b < 2; b++)
    for (int a = 0; a < 2; a++) descend(v, k + 1, 2 * row + b, 2 * col + a);
}

}  // namespace

int lod_create(float tolerance) {
  lod_free();
  if (!terrain.heights || terrain.shift < 0 || terrain.shift > TERRAIN_MAX_SHIFT) return 0;
  lod.n = terrain.shift;
  lod.node_count = int(((int64_t(1) << (2 * (lod.n + 1))) - 1) / 3);
  size_t nodes = size_t(lod.node_count);
  lod.front = static_cast<float *>(mem_alloc(nodes * sizeof(float)));
  lod.back = static_cast<float *>(mem_alloc(nodes * sizeof(float)));
  lod.active = static_cast<uint32_t *>(mem_alloc((nodes + 31) / 32 * 4));
  lod.list = static_cast<int *>(mem_alloc(nodes * sizeof(int)));
  if (!lod.front || !lod.back || !lod.active || !lod.list) {
    lod_free();
    return 0;
  }
  memset(lod.front, 0, nodes * sizeof(float));
  memset(lod.back, 0, nodes * sizeof(float));
  memset(lod.active, 0, (nodes + 31) / 32 * 4);
  lod_set_tolerance(tolerance);
  lod_pass(LONG_MAX);
  return 1;
}

void lod_free() {
  mem_free(lod.front);
  mem_free(lod.back);
  mem_free(lod.active);
  mem_free(lod.list);
  memset(&lod, 0, sizeof lod);
}

void lod_set_tolerance(float tolerance) {
  // Also catches NaN.
  lod.tolerance = tolerance > LOD_TOLERANCE_MIN ? tolerance : LOD_TOLERANCE_MIN;
  if (!(lod.tolerance < 1e30f)) lod.tolerance = 1e30f;
  lod.force = 1;
}

int lod_pass(long budget) {
  if (!lod.front) return 0;
  if (!lod.running) {
    if (!lod.force && terrain.change_count == lod.done_count) return 0;
    lod.running = 1;
    lod.force = 0;
    lod.start_count = terrain.change_count;
    lod.depth = lod.n;
    lod.row = lod.col = lod.tri = lod.srow = 0;
    lod.node_max = 0;
  }
  long work = 0;
  while (lod.depth >= 0) {
    int k = lod.depth, side = 1 << k, s = (terrain.size - 1) >> k;
    while (lod.row < side) {
      while (lod.col < side) {
        while (lod.tri < 2) {
          Tri t = tri_setup(lod.row, lod.col, lod.tri, s);
          if (lod.srow == 0) work += 10;
          while (lod.srow <= s) {
            float m = scan_row(t, lod.srow, s);
            lod.node_max = m > lod.node_max ? m : lod.node_max;
            work += s - lod.srow + 1;
            lod.srow++;
            if (work >= budget) return 0;
          }
          lod.srow = 0;
          lod.tri++;
        }
        lod.back[lod_index(k, lod.row, lod.col)] = node_value(k, lod.row, lod.col, lod.node_max);
        lod.node_max = 0;
        lod.tri = 0;
        lod.col++;
      }
      lod.col = 0;
      lod.row++;
    }
    lod.row = 0;
    lod.depth--;
  }
  float *swap = lod.front;
  lod.front = lod.back;
  lod.back = swap;
  lod.running = 0;
  lod.done_count = lod.start_count;
  return 1;
}

void lod_activate(const float viewer[3], const LodArea *areas, int area_count) {
  if (!lod.front) return;
  memset(lod.active, 0, (size_t(lod.node_count) + 31) / 32 * 4);
  memset(lod.list_count, 0, sizeof lod.list_count);
  const int n = lod.n, cells = terrain.size - 1;
  // 1. Each level's area is tiled exactly by nodes a quarter its size, so
  // no fan straddles its edge; their ancestors make them reachable.
  for (int a = 0; a < area_count; a++) {
    const LodArea &r = areas[a];
    if (r.g < 8 || r.ox < 0 || r.oz < 0 || r.ox + r.g > cells || r.oz + r.g > cells) continue;
    int quarter = r.g / 4, k = n;
    while (k > 0 && (cells >> k) < quarter) k--;
    int s = cells >> k;
    int x0 = r.ox / s, x1 = (r.ox + r.g - 1) / s, z0 = r.oz / s, z1 = (r.oz + r.g - 1) / s;
    for (; k >= 0; k--) {
      for (int i = z0; i <= z1; i++)
        for (int j = x0; j <= x1; j++) mark(k, lod_index(k, i, j));
      x0 >>= 1, x1 >>= 1, z0 >>= 1, z1 >>= 1;
    }
  }
  // 2. By distance from the root.
  descend(viewer, 0, 0, 0);
  // 3. A node with an active child shares that child's corner with the
  // neighbours along the child's sides: they must be active too, or their
  // longer edge would leave a crack there.
  for (int k = n - 1; k >= 0; k--) {
    int base = ((1 << (2 * (k + 1))) - 1) / 3;
    for (int c = 0; c < lod.list_count[k + 1]; c++) {
      int local = lod.list[base + c] - base;
      int i = local >> (k + 1), j = local & ((2 << k) - 1);
      int pi = i >> 1, pj = j >> 1, side = 1 << k;
      mark(k, lod_index(k, pi, pj));
      int nj = pj + ((j & 1) ? 1 : -1), ni = pi + ((i & 1) ? 1 : -1);
      if (nj >= 0 && nj < side) mark(k, lod_index(k, pi, nj));
      if (ni >= 0 && ni < side) mark(k, lod_index(k, ni, pj));
    }
  }
}

void lod_emit(const float viewer[3], const float direction[3], const LodArea *areas,
              int area_count, LodStream *s) {
  s->count = 0;
  s->batch_count = 0;
  s->triangles = s->flushes = s->batches = 0;
  if (!lod.front || !lod_active(0)) return;
  EmitContext e{viewer, direction, areas, area_count, s};
  emit_node(e, 0, 0, 0);
  stream_flush(s);
}

// ------------------------------------------------------------ detail levels

int lod_level_sizes(int sizes[3]) {
  int cells = terrain.size - 1, count = 0;
  int o = 8;
  while (float(o) * terrain.spacing < 64.0f && o < cells) o *= 2;
  for (int g = o; count < 2 && g < cells; g *= 4) sizes[count++] = g;
  sizes[count++] = cells;
  return count;
}

int lod_level_origin(int g, int viewer_sample) {
  int step = g / 4 > 0 ? g / 4 : 1;
  long a = long(viewer_sample) + g / 8;
  long snapped = a >= 0 ? a / step * step : -((-a + step - 1) / step) * step;
  long o = snapped - g / 2;
  long hi = long(terrain.size) - 1 - g;
  if (o > hi) o = hi;
  if (o < 0) o = 0;
  return int(o);
}

int lod_level_stale(const LodArea &area, int vx, int vz) {
  long cx = long(area.ox) + area.g / 2, cz = long(area.oz) + area.g / 2;
  return 4 * labs(cx - vx) > area.g || 4 * labs(cz - vz) > area.g;
}
