// Shared helpers of the ground tests: temporary track folders, captured
// player messages and hand-made terrains.
#pragma once
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/core.h"
#include "terrain/terrain.h"

// A fresh folder under /tmp, removed with everything in it at the end.
struct TempDir {
  std::string path;
  TempDir() {
    char tmpl[] = "/tmp/tw_ground_XXXXXX";
    path = mkdtemp(tmpl);
  }
  ~TempDir() { std::system(("rm -rf '" + path + "'").c_str()); }
  std::string file(const std::string &name) const { return path + "/" + name; }
  void write(const std::string &name, const std::string &bytes) const {
    FILE *f = fopen(file(name).c_str(), "wb");
    fwrite(bytes.data(), 1, bytes.size(), f);
    fclose(f);
  }
  std::string read(const std::string &name) const {
    std::string out;
    FILE *f = fopen(file(name).c_str(), "rb");
    if (!f) return out;
    char buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
    fclose(f);
    return out;
  }
};

// Collects the message window's lines while alive.
struct Messages {
  static std::vector<std::string> &lines() {
    static std::vector<std::string> v;
    return v;
  }
  static void take(const char *text) { lines().push_back(text); }
  void (*old)(const char *);
  Messages() : old(ui_hooks.message) {
    lines().clear();
    ui_hooks.message = take;
  }
  ~Messages() { ui_hooks.message = old; }
  bool has(const std::string &text) const {
    for (const std::string &l : lines())
      if (l == text) return true;
    return false;
  }
  std::string all() const {
    std::string s;
    for (const std::string &l : lines()) s += "[" + l + "]";
    return s;
  }
};

// Inline-sample height field of 2^(n+1) + 1 samples a side.
inline std::string inline_hf(int n, float spacing, float low, float high,
                             const std::vector<uint16_t> &samples) {
  char header[128];
  snprintf(header, sizeof header, "%d %f %f %f\n:", n, spacing, low, high);
  std::string s = header;
  for (uint16_t v : samples) {
    s += char(v & 255);
    s += char(v >> 8);
  }
  return s;
}

// A complete small track: inline heights, two surfaces, a tile map.
inline void write_small_track(const TempDir &d, int n, float spacing, float low, float high,
                              const std::vector<uint16_t> &samples) {
  d.write("terrain.hf", inline_hf(n, spacing, low, high, samples));
  d.write("texturelist", "dirt.png\ngrass.png\n");
  d.write("tilemap", std::string(size_t(1) << (2 * n), '\1'));
}
