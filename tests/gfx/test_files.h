// A temporary folder for fixture files, removed afterwards.
#pragma once
#include <cstdint>
#include <string>

struct TempDir {
  std::string dir;
  TempDir();
  ~TempDir();
  std::string path(const std::string &name) const { return dir + "/" + name; }
  void write(const std::string &name, const std::string &bytes) const;
  std::string read(const std::string &name) const;
  // Runs a shell command inside the folder; true on exit status 0.
  bool run(const std::string &command) const;
};

bool have_tool(const char *name);

// A K6 or K7 file of the given pixels, from an encoder written apart from
// the reader.
std::string delta_encode(const char *magic, const uint8_t *px, int w, int h, int b);
// A binary PPM whose pixel (x, y) is fn(x, y, channel).
template <class F>
std::string ppm_of(int w, int h, F fn) {
  std::string s = "P6\n" + std::to_string(w) + " " + std::to_string(h) + "\n255\n";
  for (int y = 0; y < h; y++)
    for (int x = 0; x < w; x++)
      for (int c = 0; c < 3; c++) s += char(fn(x, y, c));
  return s;
}
