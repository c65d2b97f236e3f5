// The texture cache: one GL texture per picture name, kept while tracks keep
// asking for it, plus animated sequences, links and script paint buffers.
#include <cctype>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "core/core.h"
#include "gfx/gl_table.h"
#include "gfx/images_internal.h"
#include "core/log.h"

int texture_generation = 0;
int64_t texture_bytes = 0;

namespace {

struct Texture {
  GLuint tid;
  int generation;
  int64_t bytes;
  char *text;
  std::string name;
  TextureFacts facts;
};

// What the last upload held, for the record its load makes next.
GLuint facts_tid = 0;
TextureFacts facts_pending;

struct TextureLink {
  std::string name, target;
};

struct TextureAnim {
  GLuint tid;
  int steps, frame_count, current, tics_per_step, loop, start_tic, stopped;
  std::vector<SeqFrame> frames;
  uint8_t *custom;
  std::vector<int> sequence;
};

std::vector<Texture *> textures;
std::vector<TextureLink> links;
std::vector<TextureAnim *> anims;

bool is_pow2(int v) { return v > 0 && (v & (v - 1)) == 0; }

bool same_ci(const std::string &a, const char *b) {
  size_t n = strlen(b);
  if (a.size() != n) return false;
  for (size_t i = 0; i < n; i++)
    if (tolower((unsigned char)a[i]) != tolower((unsigned char)b[i])) return false;
  return true;
}

Texture *find_by_tid(GLuint tid) {
  for (Texture *t : textures)
    if (t->tid == tid) return t;
  return nullptr;
}

TextureAnim *find_anim(GLuint tid) {
  for (TextureAnim *a : anims)
    if (a->tid == tid) return a;
  return nullptr;
}

// Step 3 of a load: the first exact or case-blind match in creation order.
Texture *cache_lookup(const char *name) {
  for (Texture *t : textures) {
    if (t->name == name) return t;
    if (same_ci(t->name, name)) {
      add_messagef("Warning: case mismatch on '%.900s'", name);
      return t;
    }
  }
  return nullptr;
}

GLuint cache_hit(Texture *t) {
  if (t->generation != 0 && t->generation != texture_generation) {
    texture_bytes += t->bytes;
    t->generation = texture_generation;
  }
  return t->tid;
}

int wrap_flags(const char *name) {
  if (strstr(name, "-repeat.")) return TEX_REPEAT_S | TEX_REPEAT_T;
  int f = 0;
  if (strstr(name, "-hrepeat.")) f |= TEX_REPEAT_S;
  if (strstr(name, "-vrepeat.")) f |= TEX_REPEAT_T;
  return f;
}

void replace_levels(const uint8_t *chain, int w, int h, int b, GLuint tid) {
  // Frames and paint differ from what was uploaded first.
  if (Texture *t = find_by_tid(tid)) t->facts.known = 0;
  GLenum format = b == 4 ? GL_RGBA : GL_RGB;
  twglBindTexture(GL_TEXTURE_2D, tid);
  twglPixelStorei(GL_UNPACK_ALIGNMENT, 1);
  const uint8_t *p = chain;
  for (int i = 0;; i++) {
    int lw = w >> i, lh = h >> i;
    lw = lw < 1 ? 1 : lw, lh = lh < 1 ? 1 : lh;
    twglTexSubImage2D(GL_TEXTURE_2D, i, 0, 0, lw, lh, format, GL_UNSIGNED_BYTE, p);
    p += size_t(lw) * lh * b;
    if (lw == 1 && lh == 1) break;
  }
  twglBindTexture(GL_TEXTURE_2D, 0);
}

// Splits a "[mip_custom]" picture (levels laid out below and beside level
// 0) into an ordinary chain. *h becomes the height of level 0.
uint8_t *custom_mip_chain(const uint8_t *img, int w, int *h, int b, const char *name) {
  int H = *h;
  if (H % 3 != 0 || H < 3) {
    add_messagef("Warning: Invalid height for custom MIP map in '%.950s'", name);
    // Kept as its own level 0, the smaller levels built from it.
    uint8_t *c = chain_alloc(w, H, b);
    memcpy(c, img, size_t(w) * H * b);
    mip_build(c, w, H, b, 0);
    return c;
  }
  int h0 = 2 * H / 3;
  uint8_t *c = chain_alloc(w, h0, b);
  uint8_t *out = c;
  // Level 1 sits below level 0 at the left edge, level 2 to its right, and
  // every further level below the previous one in that column.
  int x = 0, y = 0, prev_h = 0;
  for (int k = 0;; k++) {
    int lw = w >> k, lh = h0 >> k;
    lw = lw < 1 ? 1 : lw, lh = lh < 1 ? 1 : lh;
    if (k == 1) x = 0, y = h0;
    else if (k == 2) x = w / 2, y = h0;
    else if (k > 2) y += prev_h;
    for (int row = 0; row < lh; row++)
      for (int col = 0; col < lw; col++, out += b) {
        int sy = y + row, sx = x + col;
        if (sy < H && sx < w) memcpy(out, img + (size_t(sy) * w + sx) * b, b);
        else memset(out, 0, b);
      }
    prev_h = lh;
    if (lw == 1 && lh == 1) break;
  }
  *h = h0;
  return c;
}

GLuint finish_load(GLuint tid, const char *name, int w, int h, bool check_pow2, char *text,
                   int64_t bytes_before) {
  if (check_pow2 && (!is_pow2(w) || !is_pow2(h)))
    add_messagef("Warning: Non power of 2 texture '%.950s'", name);
  Texture *t = new Texture;
  t->tid = tid;
  t->generation = texture_generation;
  t->bytes = texture_bytes - bytes_before;
  t->text = text;
  t->name = name;
  t->facts = facts_tid == tid ? facts_pending : TextureFacts{};
  facts_tid = 0;
  textures.push_back(t);
  return tid;
}

GLuint load_sequence(DataFile *f, const char *name, int flags, int64_t bytes_before) {
  SeqData s;
  std::string message;
  if (!seq_read(f, &s, &message)) {
    if (!message.empty()) add_message(message.c_str());
    return 0;
  }
  const SeqFrame &first = s.frames[size_t(s.sequence[0])];
  GLuint tid = texture_upload(first.chain, first.w, first.h, first.b, flags & ~TEX_COMPRESS);
  TextureAnim *a = new TextureAnim;
  a->tid = tid;
  a->steps = s.steps, a->frame_count = s.frame_count;
  a->current = s.sequence[0];
  a->tics_per_step = s.tics_per_step, a->loop = s.loop;
  a->start_tic = 0, a->stopped = 0;
  a->frames = s.frames;
  a->custom = nullptr;
  a->sequence = s.sequence;
  anims.push_back(a);
  facts_tid = 0;  // the first frame is not the only one
  return finish_load(tid, name, first.w, first.h, false, nullptr, bytes_before);
}

GLuint load_link(DataFile *f, const char *name) {
  char target[1024];
  links.push_back({name, "@colors/white.png"});
  size_t index = links.size() - 1;
  link_read_target(f, target, sizeof target);
  data_close(f);
  GLuint tid = texture_load(target);
  Texture *t = tid ? find_by_tid(tid) : nullptr;
  if (t) links[index].target = t->name;
  return tid;
}

}  // namespace

void link_read_target(DataFile *f, char *out, int size) {
  int n = data_read(f, out, size - 1);
  if (n < 0) n = 0;
  out[n] = 0;
  char *s = out;
  while (*s && isspace((unsigned char)*s)) s++;
  char *e = s + strlen(s);
  while (e > s && isspace((unsigned char)e[-1])) e--;
  *e = 0;
  memmove(out, s, size_t(e - s) + 1);
}

GLuint texture_load(const char *name) {
  if (!name) return 0;
  int reduction = gfx_settings.texture_reduction;
  if (name[0] == '!') {
    reduction = 0;
    name++;
  }
  std::string req = name;
  for (const TextureLink &l : links)
    if (l.name == req && !l.target.empty()) {
      req = l.target;
      break;
    }
  name = req.c_str();
  if (Texture *t = cache_lookup(name)) return cache_hit(t);

  int64_t bytes_before = texture_bytes;
  DataFile *f = data_open(name, "rb");
  if (!f) {
    if (log_verbosity >= 1) add_messagef("Can't open texture \"%.900s\"", name);
    return 0;
  }
  char token[16];
  if (data_scanf(f, "%15s", token) != 1) {
    data_close(f);
    return 0;
  }
  int flags = wrap_flags(name);
  uint8_t *chain = nullptr;
  int w = 0, h = 0, b = 3;
  if (!strcmp(token, "K7")) {
    b = 4;
    chain = image_read_delta(f, 4, &w, &h);
  } else if (!strcmp(token, "K6")) {
    chain = image_read_delta(f, 3, &w, &h);
  } else if (!strcmp(token, "P3") || !strcmp(token, "P6")) {
    chain = image_read_ppm(f, token, &w, &h);
  } else if (!strcmp(token, "ANIM1")) {
    GLuint tid = load_sequence(f, name, flags, bytes_before);
    data_close(f);
    return tid;
  } else if (!strcmp(token, "LINK")) {
    return load_link(f, name);
  }
  data_close(f);
  if (chain) {
    GLuint tid = texture_create(chain, w, h, b, reduction, flags, name);
    mem_free(chain);
    if (tid) return finish_load(tid, name, w, h, true, nullptr, bytes_before);
  }

  char *text = nullptr;
  chain = image_read_png(name, &w, &h, &b, &text);
  if (!chain) return 0;
  int compress = gfx_settings.texture_compress;
  if (compress == 2 || (compress == 1 && text && strstr(text, "[compress]")))
    flags |= TEX_COMPRESS;
  if (text && strstr(text, "[mip_custom]")) {
    uint8_t *c = custom_mip_chain(chain, w, &h, b, name);
    mem_free(chain);
    chain = c;
  }
  GLuint tid = texture_create(chain, w, h, b, reduction, flags, name);
  mem_free(chain);
  if (!tid) {
    mem_free(text);
    return 0;
  }
  return finish_load(tid, name, w, h, true, text, bytes_before);
}

GLuint texture_find(const char *name) {
  if (!name) return 0;
  if (name[0] == '!') name++;
  Texture *t = cache_lookup(name);
  return t ? cache_hit(t) : 0;
}

const char *texture_name(GLuint tid) {
  Texture *t = find_by_tid(tid);
  return t ? t->name.c_str() : nullptr;
}

const char *texture_text(GLuint tid) {
  Texture *t = find_by_tid(tid);
  return t ? t->text : nullptr;
}

void texture_purge(int all) {
  for (size_t i = textures.size(); i-- > 0;) {
    Texture *t = textures[i];
    if (!all && (t->generation == 0 || t->generation == texture_generation)) continue;
    if (log_verbosity >= 1) add_messagef("deleting tid %d (%.900s)", int(t->tid), t->name.c_str());
    twglDeleteTextures(1, &t->tid);
    mem_free(t->text);
    delete t;
    textures.erase(textures.begin() + long(i));
  }
  for (size_t i = anims.size(); i-- > 0;) {
    TextureAnim *a = anims[i];
    if (find_by_tid(a->tid)) continue;
    if (log_verbosity >= 1) add_messagef("deleting anim %d for tid %d", int(i), int(a->tid));
    for (SeqFrame &fr : a->frames) mem_free(fr.chain);
    mem_free(a->custom);
    delete a;
    anims.erase(anims.begin() + long(i));
  }
  if (all) {
    textures.clear();
    anims.clear();
    links.clear();
  }
}

// Where a level's texels are not clear, as the texture coordinates whose
// bilinear samples can reach them (a little wider, for the sampler's
// rounding); everything on a repeating axis.
static void level_cover(const uint8_t *level, int lw, int lh, int flags, float *rect) {
  int x0 = lw, x1 = -1, y0 = lh, y1 = -1;
  for (int y = 0; y < lh; y++)
    for (int x = 0; x < lw; x++)
      if (level[(size_t(y) * lw + x) * 4 + 3]) {
        x0 = x < x0 ? x : x0, x1 = x > x1 ? x : x1;
        y0 = y < y0 ? y : y0, y1 = y > y1 ? y : y1;
      }
  if (x1 < 0) {
    rect[0] = rect[1] = 1, rect[2] = rect[3] = 0;
    return;
  }
  auto span = [](int a, int b, int n, bool repeat, float *lo, float *hi) {
    const float slack = 0.05f;
    *lo = repeat ? 0 : std::fmax(0.0f, (float(a) - 0.5f - slack) / float(n));
    *hi = repeat ? 1 : std::fmin(1.0f, (float(b) + 1.5f + slack) / float(n));
  };
  span(x0, x1, lw, flags & TEX_REPEAT_S, &rect[0], &rect[2]);
  span(y0, y1, lh, flags & TEX_REPEAT_T, &rect[1], &rect[3]);
}

static TextureFacts facts_of(const uint8_t *chain, int w, int h, int b, int flags) {
  TextureFacts f{};
  f.known = 1;
  f.width = w, f.height = h;
  int64_t texels = 0;
  const uint8_t *level = chain;
  for (int i = 0;; i++) {
    int lw = w >> i, lh = h >> i;
    lw = lw < 1 ? 1 : lw, lh = lh < 1 ? 1 : lh;
    texels += int64_t(lw) * lh;
    if (i < 16) {
      float *c = f.cover[i];
      if (b == 4) level_cover(level, lw, lh, flags, c);
      else c[0] = c[1] = 0, c[2] = c[3] = 1;
      // Everything the levels before reach too (an empty rectangle, low
      // corner 1 and high corner 0, takes nothing from the union).
      for (int k = 0; i > 0 && k < 2; k++) {
        c[k] = std::fmin(c[k], f.cover[i - 1][k]);
        c[k + 2] = std::fmax(c[k + 2], f.cover[i - 1][k + 2]);
      }
      f.levels = i + 1;
    }
    level += size_t(lw) * lh * size_t(b);
    if (lw == 1 && lh == 1) break;
  }
  f.uniform = 1;
  f.opaque = 1;
  for (int64_t i = 0; i < texels; i++) {
    const uint8_t *t = chain + i * b;
    if (memcmp(t, chain, size_t(b)) != 0) f.uniform = 0;
    if (b == 4 && t[3] != 255) f.opaque = 0;
  }
  // As the shaders read it: red only for one channel, alpha 1 without one.
  for (int k = 0; k < 4; k++) f.value[k] = k < b ? chain[k] / 255.0f : k == 3 ? 1.0f : 0.0f;
  if (b == 1) f.value[1] = f.value[2] = 0;
  return f;
}

const TextureFacts *texture_facts(GLuint tid) {
  static const TextureFacts white = {1, 1, {1, 1, 1, 1}, 1, 1, 1, 1, {{0, 0, 1, 1}}},
                            flat = {1, 1, {128 / 255.0f, 128 / 255.0f, 1, 1}, 1, 1, 1, 1, {{0, 0, 1, 1}}};
  if (!tid) return nullptr;
  if (tid == twgl_white_texture) return &white;
  if (tid == twgl_normal_texture) return &flat;
  Texture *t = find_by_tid(tid);
  return t && t->facts.known ? &t->facts : nullptr;
}

GLuint texture_upload(const uint8_t *chain, int w, int h, int b, int flags) {
  GLenum format = b == 4 ? GL_RGBA : b == 1 ? GL_RED : GL_RGB;
  GLint internal = b == 4 ? GL_RGBA8 : b == 1 ? GL_R8 : GL_RGB8;
  // Generic compressed formats exist on desktop GL only.
  bool compress = (flags & TEX_COMPRESS) && !twgl_gles && twgl_gl_major > 1 && b >= 3;
  if (compress) internal = b == 4 ? GL_COMPRESSED_RGBA : GL_COMPRESSED_RGB;
  GLuint tid = 0;
  twglGenTextures(1, &tid);
  twglBindTexture(GL_TEXTURE_2D, tid);
  twglTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S,
                    flags & TEX_REPEAT_S ? GL_REPEAT : GL_CLAMP_TO_EDGE);
  twglTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T,
                    flags & TEX_REPEAT_T ? GL_REPEAT : GL_CLAMP_TO_EDGE);
  twglTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR_MIPMAP_LINEAR);
  twglTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
  // RGB rows are rarely 4-byte multiples.
  twglPixelStorei(GL_UNPACK_ALIGNMENT, 1);
  const uint8_t *p = chain;
  for (int i = 0;; i++) {
    int lw = w >> i, lh = h >> i;
    lw = lw < 1 ? 1 : lw, lh = lh < 1 ? 1 : lh;
    twglTexImage2D(GL_TEXTURE_2D, i, internal, lw, lh, format, GL_UNSIGNED_BYTE, p);
    int64_t size = int64_t(lw) * lh * b;
    if (compress && gl.GetTexLevelParameteriv) {
      GLint is_compressed = 0, csize = 0;
      gl.GetTexLevelParameteriv(GL_TEXTURE_2D, i, GL_TEXTURE_COMPRESSED, &is_compressed);
      if (is_compressed) {
        gl.GetTexLevelParameteriv(GL_TEXTURE_2D, i, GL_TEXTURE_COMPRESSED_IMAGE_SIZE, &csize);
        size = csize;
      }
    }
    texture_bytes += size;
    p += size_t(lw) * lh * b;
    if (lw == 1 && lh == 1) break;
  }
  twglBindTexture(GL_TEXTURE_2D, 0);
  twgl_flush();
  facts_tid = tid;
  facts_pending = compress ? TextureFacts{} : facts_of(chain, w, h, b, flags);
  return tid;
}

GLuint texture_create(const uint8_t *chain, int w, int h, int b, int reduction, int flags,
                      const char *name) {
  if (!is_pow2(w) || !is_pow2(h)) {
    int w2 = 1, h2 = 1;
    while (w2 * 2 < w) w2 *= 2;
    while (h2 * 2 < h) h2 *= 2;
    uint8_t *c = chain_resample(chain, w, h, b, w2, h2);
    if (!c) return 0;
    GLuint tid = texture_create(c, w2, h2, b, reduction, flags, name);
    mem_free(c);
    return tid;
  }
  int w0 = w, h0 = h;
  const uint8_t *level = chain;
  auto drop = [&]() {
    level += size_t(w) * h * b;
    w = w > 1 ? w / 2 : 1;
    h = h > 1 ? h / 2 : 1;
  };
  bool test = true;
  if (reduction > 0 && w > 128 && h > 128) {
    for (int i = 0; i < reduction; i++) {
      drop();
      if (w <= 128 || h <= 128) break;
    }
  } else if (w <= 16 && h <= 16) {
    test = false;
  }
  int dropped = 0;
  while (test) {
    const uint8_t *next = level + size_t(w) * h * b;
    if (!level_lacks_detail(level, next, w, h, b)) break;
    bool small = w <= 33 && h <= 33;
    drop();
    dropped++;
    if (small) break;
  }
  if (dropped > 0)
    add_messagef("%.64s reduced to %dx%d (originally %dx%d)", name, w, h, w0, h0);
  return texture_upload(level, w, h, b, flags);
}

// ------------------------------------------------------------------ animations
void anim_update(int now_tic) {
  for (TextureAnim *a : anims) {
    if (a->stopped) continue;
    int s = now_tic - a->start_tic;
    if (s < 0) s = 0;
    s /= a->tics_per_step;
    s = a->loop ? s % a->steps : (s < a->steps - 1 ? s : a->steps - 1);
    int f = a->sequence[size_t(s)];
    if (f == a->current) continue;
    const SeqFrame &fr = a->frames[size_t(f)];
    replace_levels(fr.chain, fr.w, fr.h, fr.b, a->tid);
    a->current = f;
  }
}

void anim_restart(GLuint tid, int now_tic) {
  if (TextureAnim *a = find_anim(tid)) a->start_tic = now_tic, a->stopped = 0;
}

void anim_stop(GLuint tid) {
  if (TextureAnim *a = find_anim(tid)) a->stopped = 1;
}

int custom_frame_begin(GLuint tid) {
  TextureAnim *a = find_anim(tid);
  if (!a) return 0;
  const SeqFrame &f0 = a->frames[0];
  if (!a->custom) a->custom = chain_alloc(f0.w, f0.h, f0.b);
  memset(a->custom, 0, size_t(f0.w) * f0.h * f0.b);
  return 1;
}

int custom_frame_paste(GLuint tid, int frame, float sx, float sy, float dx, float dy, float fw,
                       float fh) {
  TextureAnim *a = find_anim(tid);
  if (!a || !a->custom || frame < 0 || frame >= a->frame_count) return 0;
  const SeqFrame &src = a->frames[size_t(frame)];
  int W = src.w, H = src.h, b = src.b;
  // Values come from scripts: anything not finite lands far outside.
  auto bounded = [](double p) { return !(p > -1e9) ? -1000000000 : p > 1e9 ? 1000000000 : int(p); };
  auto to_px = [&](float v, int size) { return bounded(std::ceil(double(v) * size - 0.5)); };
  auto to_len = [&](float v, int size) { return bounded(std::floor(double(v) * size)); };
  int sxp = to_px(sx, W), dxp = to_px(dx, W), syp = to_px(sy, H), dyp = to_px(dy, H);
  int n = to_len(fw, W), m = to_len(fh, H);
  int xm = sxp > dxp ? sxp : dxp, ym = syp > dyp ? syp : dyp;
  if (W - xm < n) n = W - xm;
  if (H - ym < m) m = H - ym;
  if (sxp < 0) n += sxp, dxp -= sxp, sxp = 0;
  if (sxp >= W || n < 0) return 0;
  if (syp < 0) m += syp, dyp -= syp, syp = 0;
  if (syp >= H || m < 0) return 0;
  if (dxp < 0) n += dxp, sxp -= dxp, dxp = 0;
  if (dxp >= W || n < 0) return 0;
  if (dyp < 0) m += dyp, syp -= dyp, dyp = 0;
  if (dyp >= H || m < 0) return 0;
  if (n <= 0 || m <= 0) return 0;
  // Clipping on the destination may push the source past its edge.
  if (sxp + n > W) n = W - sxp;
  if (syp + m > H) m = H - syp;
  if (dxp + n > W) n = W - dxp;
  if (dyp + m > H) m = H - dyp;
  if (n <= 0 || m <= 0) return 0;
  for (int row = 0; row < m; row++) {
    const uint8_t *s = src.chain + (size_t(syp + row) * W + sxp) * b;
    uint8_t *d = a->custom + (size_t(dyp + row) * W + dxp) * b;
    for (int i = 0; i < n; i++, s += b, d += b) {
      if (b != 4) {
        memcpy(d, s, b);
        continue;
      }
      int I = s[3], J = d[3];
      if (I == 0) {
        if (J == 0) memcpy(d, s, 4);
      } else if (I == 255 || J == 0) {
        memcpy(d, s, 4);
      } else if (J == 255) {
        for (int c = 0; c < 3; c++) d[c] = uint8_t((s[c] * I + d[c] * (255 - I)) / 255);
        d[3] = 255;
      } else {
        int D = J * (255 - I) + I * 255;
        for (int c = 0; c < 3; c++)
          d[c] = uint8_t((s[c] * I * 255 + d[c] * J * (255 - I)) / D);
        d[3] = uint8_t(I + J * (255 - I) / 255);
      }
    }
  }
  return 1;
}

int custom_frame_end(GLuint tid) {
  TextureAnim *a = find_anim(tid);
  if (!a || !a->custom) return 0;
  const SeqFrame &f0 = a->frames[0];
  mip_build(a->custom, f0.w, f0.h, f0.b, 0);
  replace_levels(a->custom, f0.w, f0.h, f0.b, a->tid);
  return 1;
}

GLuint number_texture(const char *text, int w, int h, const uint8_t background[3],
                      const uint8_t foreground[3]) {
  uint8_t *c = chain_alloc(w, h, 4);
  if (!c) return 0;
  for (int64_t i = 0; i < int64_t(w) * h; i++) c[i * 4] = c[i * 4 + 1] = c[i * 4 + 2] = 255, c[i * 4 + 3] = 0;
  number_draw(c, w, h, 1, 1, 1, 1, text);
  for (int64_t i = 0; i < int64_t(w) * h; i++)
    for (int k = 0; k < 3; k++) {
      float fg = foreground[k], bg = background[k];
      c[i * 4 + k] = uint8_t(fg + (bg - fg) * c[i * 4 + k] / 255.0f);
    }
  mip_build(c, w, h, 4, 0);
  GLuint tid = texture_upload(c, w, h, 4, 0);
  mem_free(c);
  return tid;
}

// ------------------------------------------------------------------ sequences
void seq_free(SeqData *s) {
  for (SeqFrame &f : s->frames) mem_free(f.chain);
  s->frames.clear();
}

int seq_read(DataFile *f, SeqData *s, std::string *message) {
  message->clear();
  s->frames.clear();
  s->sequence.clear();
  if (data_scanf(f, "%d %d %d %d", &s->steps, &s->frame_count, &s->tics_per_step, &s->loop) != 4 ||
      s->steps <= 0 || s->frame_count <= 0)
    return 0;
  // Beyond what the format allows: checked here so that a broken file can
  // never index past its frames or divide by zero.
  if (s->tics_per_step < 1 || s->steps > 65536 || s->frame_count > 4096) {
    *message = "Error reading .seq header";
    return 0;
  }
  for (int i = 0; i < s->steps; i++) {
    int v;
    if (data_scanf(f, "%d", &v) != 1) return 0;
    if (v < 0 || v >= s->frame_count) {
      *message = "Error reading .seq sequence";
      return 0;
    }
    s->sequence.push_back(v);
  }
  for (int i = 0; i < s->frame_count; i++) {
    char token[16];
    SeqFrame fr = {0, 0, 0, nullptr};
    if (data_scanf(f, "%15s", token) != 1) token[0] = 0;
    if (!strcmp(token, "K7")) {
      fr.b = 4;
      fr.chain = image_read_delta(f, 4, &fr.w, &fr.h);
    } else if (!strcmp(token, "PNG")) {
      char line[1024];
      if (!data_gets(f, line, sizeof line)) {
        *message = "EOF while reading .seq";
        seq_free(s);
        return 0;
      }
      char *p = line;
      while (*p && isspace((unsigned char)*p)) p++;
      char *e = p + strlen(p);
      while (e > p && isspace((unsigned char)e[-1])) e--;
      *e = 0;
      fr.chain = image_read_png(p, &fr.w, &fr.h, &fr.b, nullptr);
      if (!fr.chain) {
        *message = std::string("Can't read ") + std::string(p).substr(0, 900);
        seq_free(s);
        return 0;
      }
    } else {
      *message = "Error reading .seq frame " + std::to_string(i);
      seq_free(s);
      return 0;
    }
    if (!fr.chain) {
      *message = "Error reading .seq frame " + std::to_string(i);
      seq_free(s);
      return 0;
    }
    if (!image_fit(&fr.chain, &fr.w, &fr.h, fr.b, 65536, 0)) {
      mem_free(fr.chain);
      seq_free(s);
      return 0;
    }
    s->frames.push_back(fr);
    const SeqFrame &f0 = s->frames[0];
    if (fr.w != f0.w || fr.h != f0.h) {
      *message = "Width/height mismatch reading .seq";
      seq_free(s);
      return 0;
    }
    if (fr.b != f0.b) {
      *message = "Depth mismatch reading .seq";
      seq_free(s);
      return 0;
    }
  }
  return 1;
}
