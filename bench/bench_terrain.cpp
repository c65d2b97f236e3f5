// Height, normal and tile queries at random points of the default track.
// bench_terrain [TRACK_FOLDER]: the folder defaults to the generated
// tracks/hollow_creek beside the build; without it a synthetic field of the
// same size is timed instead.
#include <unistd.h>

#include <ctime>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "core/core.h"
#include "terrain/terrain.h"

static void quiet(const char *) {}
static void quiet_progress(const char *, int) {}

static std::string default_folder() {
  char exe[4096];
  ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
  if (n <= 0) return "tracks/hollow_creek";
  exe[n] = 0;
  std::string path = exe;
  path = path.substr(0, path.rfind('/'));          // build/bench
  return path.substr(0, path.rfind('/')) + "/tracks/hollow_creek";
}

static void synthetic() {
  Terrain &t = terrain;
  t.shift = 10;
  t.size = 2049;
  t.spacing = 0.5f;
  t.inv_spacing = 2.0f;
  t.extent = 1024.0f;
  t.tile_size = 1.0f;
  size_t count = size_t(t.size) * t.size;
  t.heights = static_cast<float *>(mem_alloc(sizeof(float) * count * 2));
  t.base_heights = t.heights + count;
  for (int j = 0; j < t.size; j++)
    for (int i = 0; i < t.size; i++) t.heights[size_t(j) * t.size + i] = 3 * sinf(i * 0.013f) * cosf(j * 0.021f);
  t.tilemap = static_cast<uint8_t *>(mem_alloc(1024 * 1024));
  memset(t.tilemap, 0, 1024 * 1024);
  t.tile_count = 1;
}

static double cpu_ns() {
  timespec ts;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return ts.tv_sec * 1e9 + ts.tv_nsec;
}

template <class F>
static double ns_per_query(const std::vector<float> &xs, const std::vector<float> &zs, F query) {
  double best = 1e30;
  for (int round = 0; round < 7; round++) {
    // Thread CPU time: other work on a shared machine does not count.
    double t0 = cpu_ns();
    float sum = 0;
    for (size_t k = 0; k < xs.size(); k++) sum += query(xs[k], zs[k]);
    double t1 = cpu_ns();
    volatile float keep = sum;
    (void)keep;
    double ns = (t1 - t0) / xs.size();
    if (ns < best) best = ns;
  }
  return best;
}

int main(int argc, char **argv) {
  ui_hooks.message = quiet;
  ui_hooks.progress = quiet_progress;
  std::string folder = argc > 1 ? argv[1] : default_folder();
  const char *source = folder.c_str();
  if (!terrain_load(folder.c_str())) {
    synthetic();
    source = "synthetic 2049 x 2049 field (no track found)";
  }
  printf("terrain: %s, %d x %d samples, spacing %g\n", source, terrain.size, terrain.size, terrain.spacing);

  // Two sets of random points in a fixed order: spread over the whole field
  // and a little beyond its edges (each query a fresh memory location), and
  // clustered as the wheels and bodies of riders ask (64 points within a
  // few feet of a place, then another place), and the same but staying at a
  // place for 4096 queries, as a rider's wheels do over many tics (the
  // samples are in the cache: this is the query's own cost).
  const int N = 1 << 22;
  std::vector<float> xs(N), zs(N), cx(N), cz(N), hx(N), hz(N);
  std::mt19937 rng(12345);
  auto unit = [&rng]() { return float(rng() >> 8) / 16777216.0f; };
  float lo = -8, span = terrain.extent + 16;
  float px = 0, pz = 0;
  for (int k = 0; k < N; k++) {
    xs[k] = lo + span * unit();
    zs[k] = lo + span * unit();
    if (k % 64 == 0) {
      px = terrain.extent * unit();
      pz = terrain.extent * unit();
    }
    cx[k] = px + 6 * (unit() - 0.5f);
    cz[k] = pz + 6 * (unit() - 0.5f);
  }
  for (int k = 0; k < N; k++) {
    if (k % 4096 == 0) {
      px = terrain.extent * unit();
      pz = terrain.extent * unit();
    }
    hx[k] = px + 6 * (unit() - 0.5f);
    hz[k] = pz + 6 * (unit() - 0.5f);
  }
  auto height = [](float x, float z) { return terrain_height(x, z); };
  auto normal = [](float x, float z) { return terrain_normal(x, z).x; };
  auto tile = [](float x, float z) { return float(terrain_tile_at(x, z)); };
  printf("                 spread     clustered   in cache   (ns/query)\n");
  printf("terrain_height   %6.2f     %6.2f     %6.2f\n", ns_per_query(xs, zs, height),
         ns_per_query(cx, cz, height), ns_per_query(hx, hz, height));
  printf("terrain_normal   %6.2f     %6.2f     %6.2f\n", ns_per_query(xs, zs, normal),
         ns_per_query(cx, cz, normal), ns_per_query(hx, hz, normal));
  printf("terrain_tile_at  %6.2f     %6.2f     %6.2f\n", ns_per_query(xs, zs, tile),
         ns_per_query(cx, cz, tile), ns_per_query(hx, hz, tile));
  printf("(%d points each, best of 7 rounds, thread CPU time, one core)\n", N);
  terrain_free();
  return 0;
}
