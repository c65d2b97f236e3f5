// Meshes for the generated models: primitives with texture coordinates and
// bone weights, written as ".jm" text, and flat-colour palette pictures with
// their normal and specular maps.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

struct GenVertex {
  float p[3], n[3], uv[2];
  float w[4];
  int b[4];
};

struct GenPart {
  float shininess = 24, second = 0, color[3] = {1, 1, 1};
  std::vector<GenVertex> v;
  std::vector<uint32_t> t;
};

struct GenMesh {
  int bones = 0;  // 0: JM1
  std::vector<GenPart> parts;
  GenPart &part(float shininess = 24, float second = 0, float r = 1, float g = 1, float b = 1);
};

// A palette picture is 4 x 4 cells; cell k's centre as a texture coordinate.
void gen_cell_uv(int cell, float uv[2]);

// Primitives appended to a part; `cell` picks the palette colour, or -1 to
// span the whole picture (plates).
void gen_box(GenPart &p, const float c[3], const float half[3], int cell);
// A tube of `sides` sides from a to b, `rings` sections along it.
void gen_tube(GenPart &p, const float a[3], const float b[3], float radius, int sides, int rings, int cell);
// A torus about the x axis through c: major radius R, minor r.
void gen_torus(GenPart &p, const float c[3], float R, float r, int seg, int sides, int cell);
// A sphere (squashed by `scale`) at c.
void gen_sphere(GenPart &p, const float c[3], const float scale[3], int seg, int cell);
// A flat rectangle (both faces, each lifted off the plane by `lift`) with
// corners c +- u +- v, its picture across the whole texture, or one cell's
// colour.
void gen_quad(GenPart &p, const float c[3], const float u[3], const float v[3], int cell = -1,
              float lift = 0.002f);

// ".jm" text of a mesh.
std::string gen_jm(const GenMesh &m);
// The text as written: gzip-compressed (with ".gz" added to the name by the
// caller) when large.
std::string gen_gzip(const std::string &bytes);
// Writes "name" or "name.gz" (when the text is large).
int gen_write_model(const char *out, const std::string &relpath, const GenMesh &m);

// A palette picture of 16 RGB cells (w x w pixels) as PNG, with an optional
// text chunk; its flat normal map; its specular map (RGB level, alpha the
// shininess / 128).
std::string gen_palette_png(const uint8_t cells[16][3], int w, const std::string &text = "");
std::string gen_flat_normal_png(int w);
std::string gen_specular_png(int w, uint8_t level, uint8_t shininess);
// A PNG with a text chunk added after the header.
std::string gen_png_with_text(const std::string &png, const std::string &text);
