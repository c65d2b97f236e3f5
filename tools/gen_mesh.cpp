// Primitive meshes, the ".jm" writer and palette pictures for the
// generated models.
#include "tools/gen_mesh.h"

#include <zlib.h>

#include <cmath>
#include <cstdio>
#include <cstring>

#include "tools/gen.h"

namespace {

const float PI_F = 3.14159265358979f;

void normalize(float *v) {
  float l = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
  if (l > 0) v[0] /= l, v[1] /= l, v[2] /= l;
}

void cross(const float *a, const float *b, float *o) {
  o[0] = a[1] * b[2] - a[2] * b[1];
  o[1] = a[2] * b[0] - a[0] * b[2];
  o[2] = a[0] * b[1] - a[1] * b[0];
}

uint32_t add_vertex(GenPart &p, const float pos[3], const float n[3], const float uv[2]) {
  GenVertex v = {};
  for (int i = 0; i < 3; i++) v.p[i] = pos[i], v.n[i] = n[i];
  v.uv[0] = uv[0], v.uv[1] = uv[1];
  v.w[0] = 1;
  p.v.push_back(v);
  return uint32_t(p.v.size() - 1);
}

void tri(GenPart &p, uint32_t a, uint32_t b, uint32_t c) { p.t.insert(p.t.end(), {a, b, c}); }

void cell_or(int cell, float u, float v, float uv[2]) {
  if (cell >= 0) {
    gen_cell_uv(cell, uv);
  } else {
    uv[0] = u, uv[1] = v;
  }
}

uint32_t crc_of(const std::string &type, const std::string &data) {
  uLong c = crc32(0, reinterpret_cast<const Bytef *>(type.data()), uInt(type.size()));
  return uint32_t(crc32(c, reinterpret_cast<const Bytef *>(data.data()), uInt(data.size())));
}

void put32(std::string &s, uint32_t v) {
  for (int i = 3; i >= 0; i--) s += char((v >> (8 * i)) & 255);
}

}  // namespace

GenPart &GenMesh::part(float shininess, float second, float r, float g, float b) {
  parts.emplace_back();
  GenPart &p = parts.back();
  p.shininess = shininess, p.second = second;
  p.color[0] = r, p.color[1] = g, p.color[2] = b;
  return p;
}

void gen_cell_uv(int cell, float uv[2]) {
  uv[0] = (float(cell % 4) + 0.5f) / 4;
  uv[1] = (float(cell / 4) + 0.5f) / 4;
}

void gen_box(GenPart &p, const float c[3], const float h[3], int cell) {
  for (int axis = 0; axis < 3; axis++)
    for (int sign = -1; sign <= 1; sign += 2) {
      int a = (axis + 1) % 3, b = (axis + 2) % 3;
      float n[3] = {0, 0, 0};
      n[axis] = float(sign);
      uint32_t idx[4];
      const float su[4] = {-1, 1, 1, -1}, sv[4] = {-1, -1, 1, 1};
      for (int k = 0; k < 4; k++) {
        float pos[3], uv[2];
        pos[axis] = c[axis] + sign * h[axis];
        pos[a] = c[a] + su[k] * h[a];
        pos[b] = c[b] + sv[k] * h[b];
        cell_or(cell, (su[k] + 1) / 2, (sv[k] + 1) / 2, uv);
        idx[k] = add_vertex(p, pos, n, uv);
      }
      if (sign > 0) {
        tri(p, idx[0], idx[1], idx[2]), tri(p, idx[0], idx[2], idx[3]);
      } else {
        tri(p, idx[0], idx[2], idx[1]), tri(p, idx[0], idx[3], idx[2]);
      }
    }
}

void gen_tube(GenPart &p, const float a[3], const float b[3], float radius, int sides, int rings, int cell) {
  float d[3] = {b[0] - a[0], b[1] - a[1], b[2] - a[2]}, ax[3] = {d[0], d[1], d[2]};
  normalize(ax);
  float ref[3] = {0, 1, 0};
  if (std::fabs(ax[1]) > 0.9f) ref[0] = 1, ref[1] = 0;
  float e1[3], e2[3];
  cross(ax, ref, e1);
  normalize(e1);
  cross(ax, e1, e2);
  uint32_t base = uint32_t(p.v.size());
  for (int r = 0; r <= rings; r++) {
    float f = float(r) / float(rings);
    for (int s = 0; s < sides; s++) {
      float ang = 2 * PI_F * float(s) / float(sides);
      float n[3], pos[3], uv[2];
      for (int i = 0; i < 3; i++) {
        n[i] = std::cos(ang) * e1[i] + std::sin(ang) * e2[i];
        pos[i] = a[i] + d[i] * f + n[i] * radius;
      }
      cell_or(cell, float(s) / float(sides), f, uv);
      add_vertex(p, pos, n, uv);
    }
  }
  for (int r = 0; r < rings; r++)
    for (int s = 0; s < sides; s++) {
      uint32_t i0 = base + uint32_t(r * sides + s), i1 = base + uint32_t(r * sides + (s + 1) % sides);
      uint32_t j0 = i0 + uint32_t(sides), j1 = i1 + uint32_t(sides);
      tri(p, i0, i1, j1), tri(p, i0, j1, j0);
    }
  // End caps.
  for (int end = 0; end < 2; end++) {
    float n[3] = {end ? ax[0] : -ax[0], end ? ax[1] : -ax[1], end ? ax[2] : -ax[2]}, uv[2];
    cell_or(cell, 0.5f, 0.5f, uv);
    uint32_t centre = add_vertex(p, end ? b : a, n, uv);
    uint32_t ring = base + uint32_t(end * rings * sides);
    for (int s = 0; s < sides; s++) {
      float pos[3];
      for (int i = 0; i < 3; i++) pos[i] = p.v[ring + uint32_t(s)].p[i];
      add_vertex(p, pos, n, uv);
    }
    uint32_t cap = centre + 1;
    for (int s = 0; s < sides; s++) {
      uint32_t x = cap + uint32_t(s), y = cap + uint32_t((s + 1) % sides);
      if (end)
        tri(p, centre, x, y);
      else
        tri(p, centre, y, x);
    }
  }
}

void gen_torus(GenPart &p, const float c[3], float R, float r, int seg, int sides, int cell) {
  uint32_t base = uint32_t(p.v.size());
  for (int i = 0; i < seg; i++) {
    float a = 2 * PI_F * float(i) / float(seg);
    float dir[3] = {0, std::cos(a), std::sin(a)};
    for (int j = 0; j < sides; j++) {
      float b = 2 * PI_F * float(j) / float(sides);
      float n[3] = {std::sin(b), dir[1] * std::cos(b), dir[2] * std::cos(b)}, pos[3], uv[2];
      for (int k = 0; k < 3; k++) pos[k] = c[k] + dir[k] * R + n[k] * r;
      cell_or(cell, float(i) / float(seg), float(j) / float(sides), uv);
      add_vertex(p, pos, n, uv);
    }
  }
  for (int i = 0; i < seg; i++)
    for (int j = 0; j < sides; j++) {
      uint32_t a = base + uint32_t(i * sides + j), b = base + uint32_t(i * sides + (j + 1) % sides);
      uint32_t c2 = base + uint32_t(((i + 1) % seg) * sides + j), d = base + uint32_t(((i + 1) % seg) * sides + (j + 1) % sides);
      tri(p, a, c2, d), tri(p, a, d, b);
    }
}

void gen_sphere(GenPart &p, const float c[3], const float scale[3], int seg, int cell) {
  uint32_t base = uint32_t(p.v.size());
  int rings = seg / 2;
  for (int i = 0; i <= rings; i++) {
    float th = PI_F * float(i) / float(rings);
    for (int j = 0; j <= seg; j++) {
      float ph = 2 * PI_F * float(j) / float(seg);
      float n[3] = {std::sin(th) * std::cos(ph), std::cos(th), std::sin(th) * std::sin(ph)}, pos[3], uv[2];
      for (int k = 0; k < 3; k++) pos[k] = c[k] + n[k] * scale[k];
      float m[3] = {n[0] / scale[0], n[1] / scale[1], n[2] / scale[2]};
      normalize(m);
      cell_or(cell, float(j) / float(seg), float(i) / float(rings), uv);
      add_vertex(p, pos, m, uv);
    }
  }
  for (int i = 0; i < rings; i++)
    for (int j = 0; j < seg; j++) {
      uint32_t a = base + uint32_t(i * (seg + 1) + j), b = a + 1, c2 = a + uint32_t(seg + 1), d = c2 + 1;
      if (i > 0) tri(p, a, b, d);
      if (i < rings - 1) tri(p, a, d, c2);
    }
}

void gen_quad(GenPart &p, const float c[3], const float u[3], const float v[3], int cell, float lift) {
  float n[3];
  cross(u, v, n);
  normalize(n);
  for (int face = 0; face < 2; face++) {
    float sign = face ? -1.0f : 1.0f, fn[3] = {n[0] * sign, n[1] * sign, n[2] * sign};
    const float su[4] = {-1, 1, 1, -1}, sv[4] = {-1, -1, 1, 1};
    uint32_t idx[4];
    for (int k = 0; k < 4; k++) {
      float pos[3], uv[2];
      // The picture's top row (t = 0) along +v, read left to right from
      // either side.
      cell_or(cell, face ? (1 - su[k]) / 2 : (su[k] + 1) / 2, (1 - sv[k]) / 2, uv);
      for (int i = 0; i < 3; i++) pos[i] = c[i] + su[k] * u[i] + sv[k] * v[i] + fn[i] * lift;
      idx[k] = add_vertex(p, pos, fn, uv);
    }
    if (face)
      tri(p, idx[0], idx[2], idx[1]), tri(p, idx[0], idx[3], idx[2]);
    else
      tri(p, idx[0], idx[1], idx[2]), tri(p, idx[0], idx[2], idx[3]);
  }
}

std::string gen_jm(const GenMesh &m) {
  std::string s;
  char line[512];
  if (m.bones) {
    snprintf(line, sizeof line, "JM2\n%d skeleton\n", m.bones);
  } else {
    snprintf(line, sizeof line, "JM1\n");
  }
  s += line;
  for (const GenPart &p : m.parts) {
    snprintf(line, sizeof line, "%g %g %g %g %g %zu %zu\n", double(p.shininess), double(p.second), double(p.color[0]),
             double(p.color[1]), double(p.color[2]), p.v.size(), p.t.size() / 3);
    s += line;
    for (const GenVertex &v : p.v) {
      // The file's v runs up the picture.
      snprintf(line, sizeof line, "%.4f %.4f %.4f %.3f %.3f %.3f %.4f %.4f", double(v.p[0]), double(v.p[1]),
               double(v.p[2]), double(v.n[0]), double(v.n[1]), double(v.n[2]), double(v.uv[0]), double(1 - v.uv[1]));
      s += line;
      for (int b = 0; b < m.bones; b++) {
        float w = 0;
        for (int k = 0; k < 4; k++)
          if (v.b[k] == b) w += v.w[k];
        snprintf(line, sizeof line, w == 0 ? " 0" : " %.3f", double(w));
        s += line;
      }
      s += "\n";
    }
    for (size_t i = 0; i < p.t.size(); i += 3) {
      snprintf(line, sizeof line, "%u %u %u\n", p.t[i], p.t[i + 1], p.t[i + 2]);
      s += line;
    }
  }
  return s;
}

std::string gen_gzip(const std::string &bytes) {
  z_stream z = {};
  // A fixed header (no time stamp): the same bytes every run.
  if (deflateInit2(&z, 9, Z_DEFLATED, 31, 9, Z_DEFAULT_STRATEGY) != Z_OK) return "";
  std::string out(deflateBound(&z, uLong(bytes.size())) + 64, '\0');
  z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(bytes.data()));
  z.avail_in = uInt(bytes.size());
  z.next_out = reinterpret_cast<Bytef *>(out.data());
  z.avail_out = uInt(out.size());
  int rc = deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return rc == Z_STREAM_END ? out : "";
}

int gen_write_model(const char *out, const std::string &relpath, const GenMesh &m) {
  std::string text = gen_jm(m);
  if (text.size() > 32768) {
    std::string z = gen_gzip(text);
    if (z.empty()) return 0;
    return gen_write(out, relpath + ".gz", z);
  }
  return gen_write(out, relpath, text);
}

std::string gen_png_with_text(const std::string &png, const std::string &text) {
  if (text.empty() || png.size() < 33) return png;
  std::string data = "Comment";
  data += '\0';
  data += text;
  std::string chunk;
  put32(chunk, uint32_t(data.size()));
  chunk += "tEXt" + data;
  put32(chunk, crc_of("tEXt", data));
  return png.substr(0, 33) + chunk + png.substr(33);
}

std::string gen_palette_png(const uint8_t cells[16][3], int w, const std::string &text) {
  std::vector<uint8_t> px(size_t(w) * size_t(w) * 3);
  for (int y = 0; y < w; y++)
    for (int x = 0; x < w; x++) {
      int cell = (y * 4 / w) * 4 + x * 4 / w;
      // A faint weave keeps the plastic from looking painted on.
      int grain = ((x ^ y) & 3) - 1;
      for (int c = 0; c < 3; c++) {
        int v = cells[cell][c] + grain;
        px[(size_t(y) * size_t(w) + size_t(x)) * 3 + size_t(c)] = uint8_t(v < 0 ? 0 : v > 255 ? 255 : v);
      }
    }
  return gen_png_with_text(gen_png(w, w, 3, 8, px.data()), text);
}

std::string gen_flat_normal_png(int w) {
  std::vector<uint8_t> px(size_t(w) * size_t(w) * 3);
  for (size_t i = 0; i < px.size(); i += 3) px[i] = 128, px[i + 1] = 128, px[i + 2] = 255;
  return gen_png(w, w, 3, 8, px.data());
}

std::string gen_specular_png(int w, uint8_t level, uint8_t shininess) {
  std::vector<uint8_t> px(size_t(w) * size_t(w) * 4);
  for (size_t i = 0; i < px.size(); i += 4) px[i] = px[i + 1] = px[i + 2] = level, px[i + 3] = shininess;
  return gen_png(w, w, 4, 8, px.data());
}
