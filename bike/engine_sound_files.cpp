// Engine sound definitions (".braap" lines) and sound tables: the table
// text, the raw 16-bit sample files and the caches that keep both for the
// run.
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bike/engine_sound.h"
#include "core/core.h"

namespace {

struct SampleEntry {
  char *name;
  float *samples;
  int length;
};
SampleEntry *sample_cache = nullptr;
int sample_count = 0, sample_capacity = 0;
SoundTable *table_cache = nullptr;

// ------------------------------------------------------------ the tokens
struct Tokens {
  const char *p, *end;
};

void skip_space(Tokens *t) {
  while (t->p < t->end && isspace(uint8_t(*t->p))) t->p++;
}

// The next white-space separated token into out (cut at size - 1): its
// length, 0 at the end.
int next_token(Tokens *t, char *out, int size) {
  skip_space(t);
  int n = 0;
  while (t->p < t->end && !isspace(uint8_t(*t->p))) {
    if (n < size - 1) out[n++] = *t->p;
    t->p++;
  }
  out[n] = 0;
  return n;
}

int read_int(Tokens *t, long *v) {
  char tok[64];
  if (!next_token(t, tok, sizeof tok)) return 0;
  char *e;
  *v = strtol(tok, &e, 10);
  return *e == 0;
}

int read_float(Tokens *t, float *v) {
  char tok[64];
  if (!next_token(t, tok, sizeof tok)) return 0;
  char *e;
  *v = strtof(tok, &e);
  return *e == 0 && std::isfinite(*v);
}

// A raw 16-bit signed little-endian mono file through the data files.
int load_sample_file(const char *name, float **samples, int *length) {
  DataFile *f = data_open(name, "rb");
  if (!f) return 0;
  int cap = 4096, n = 0;
  float *s = static_cast<float *>(mem_alloc(sizeof(float) * size_t(cap)));
  uint8_t buf[4096];
  int got, ok = s != nullptr;
  while (ok && (got = data_read(f, buf, sizeof buf)) > 0) {
    // A trailing odd byte is dropped; reads come in even chunks except the last.
    for (int i = 0; i + 1 < got; i += 2) {
      if (n == cap) {
        if (cap >= SOUND_FILE_MAX_SAMPLES) {
          ok = 0;
          break;
        }
        cap *= 2;
        float *g = static_cast<float *>(mem_realloc(s, sizeof(float) * size_t(cap)));
        if (!g) {
          ok = 0;
          break;
        }
        s = g;
      }
      s[n++] = float(int16_t(uint16_t(buf[i] | (buf[i + 1] << 8)))) / 32768.0f;
    }
  }
  if (data_error(f)) ok = 0;
  data_close(f);
  if (!ok || n == 0) {
    mem_free(s);
    return 0;
  }
  *samples = s;
  *length = n;
  return 1;
}

int cached_sample_file(const char *name, float **samples, int *length) {
  for (int i = 0; i < sample_count; i++)
    if (strcmp(sample_cache[i].name, name) == 0) {
      *samples = sample_cache[i].samples;
      *length = sample_cache[i].length;
      return 1;
    }
  if (!load_sample_file(name, samples, length)) return 0;
  if (sample_count == sample_capacity) {
    int cap = sample_capacity ? sample_capacity * 2 : 16;
    auto *g = static_cast<SampleEntry *>(mem_realloc(sample_cache, sizeof(SampleEntry) * size_t(cap)));
    if (!g) {
      mem_free(*samples);
      return 0;
    }
    sample_cache = g;
    sample_capacity = cap;
  }
  size_t len = strlen(name) + 1;
  char *copy = static_cast<char *>(mem_alloc_or_die(len));
  memcpy(copy, name, len);
  sample_cache[sample_count++] = {copy, *samples, *length};
  return 1;
}

SoundTable *load_table(const char *name) {
  for (SoundTable *t = table_cache; t; t = t->next)
    if (strcmp(t->name, name) == 0) return t;
  int size = 0;
  char *text = file_to_string(name, &size);
  if (!text) {
    add_messagef("Error reading '%.512s'", name);
    return nullptr;
  }
  SoundTable *t = sound_table_parse(name, text, size, cached_sample_file);
  mem_free(text);
  if (!t) return nullptr;
  t->next = table_cache;
  table_cache = t;
  return t;
}

// "word" at the start of the line after white space, followed by white
// space or the end: the rest, or nullptr.
const char *keyword(const char *line, const char *word) {
  while (isspace(uint8_t(*line))) line++;
  size_t n = strlen(word);
  if (strncmp(line, word, n) != 0) return nullptr;
  if (line[n] && !isspace(uint8_t(line[n]))) return nullptr;
  return line + n;
}

int read_list(const char *p, float *out) {
  int n = 0;
  while (n < ENGINE_LIST_MAX) {
    char *e;
    float v = strtof(p, &e);
    if (e == p || !std::isfinite(v)) break;
    out[n++] = v;
    p = e;
  }
  return n;
}

}  // namespace

SoundTable *sound_table_parse(const char *table_name, const char *text, int size, SampleLoader load) {
  Tokens t{text, text + (size > 0 ? size : 0)};
  char tok[1024];
  long rows = 0, columns = 0;
  auto fail = [&](SoundTable *table) -> SoundTable * {
    add_messagef("Error reading '%.512s'", table_name);
    sound_table_free(table);
    return nullptr;
  };
  if (!next_token(&t, tok, sizeof tok) || strcmp(tok, "SOUNDTABLE") != 0 || !read_int(&t, &rows) ||
      !read_int(&t, &columns))
    return fail(nullptr);
  if (rows < 1 || columns < 1 || rows > SOUND_TABLE_MAX_ROWS || columns > SOUND_TABLE_MAX_COLUMNS)
    return fail(nullptr);
  auto *table = static_cast<SoundTable *>(mem_alloc_or_die(sizeof(SoundTable)));
  memset(table, 0, sizeof *table);
  snprintf(table->name, sizeof table->name, "%s", table_name);
  table->rows = int(rows);
  table->columns = int(columns);
  size_t cells = size_t(rows * columns);
  table->cells = static_cast<SoundCell *>(mem_alloc_or_die(sizeof(SoundCell) * cells));
  memset(table->cells, 0, sizeof(SoundCell) * cells);
  float value;
  for (int r = 0; r < rows; r++) {
    if (!read_float(&t, &value)) return fail(table);
    for (int c = 0; c < columns; c++) table->cells[r * columns + c].rpm = value;
  }
  for (int c = 0; c < columns; c++) {
    if (!read_float(&t, &value)) return fail(table);
    for (int r = 0; r < rows; r++) table->cells[r * columns + c].load = value;
  }
  static int remap[SOUND_TABLE_MAX_REMAP];
  for (int r = 0; r < rows; r++)
    for (int c = 0; c < columns; c++) {
      SoundCell &cell = table->cells[r * columns + c];
      int count = 0;
      for (;;) {
        long v;
        if (!read_int(&t, &v)) {
          add_messagef("(%d, %d) Bad remap entry", r, c);
          return fail(table);
        }
        if (v == -1) break;
        if (count == SOUND_TABLE_MAX_REMAP) {
          add_messagef("(%d, %d) Bad remap entry", r, c);
          return fail(table);
        }
        remap[count++] = int(v < INT32_MIN ? INT32_MIN : (v > INT32_MAX ? INT32_MAX : v));
      }
      float periods;
      char file[1024] = "";
      int have = read_float(&t, &periods) && next_token(&t, file, sizeof file);
      if (!have) {
        add_messagef("(%d, %d) Error reading '%.512s'", r, c, file);
        return fail(table);
      }
      float *samples = nullptr;
      int length = 0;
      if (!(periods >= 1 && periods <= float(SOUND_FILE_MAX_SAMPLES)) || !load(file, &samples, &length) ||
          length <= 0) {
        add_messagef("(%d, %d) Error reading '%.512s'", r, c, file);
        return fail(table);
      }
      cell.samples = samples;
      cell.length = length;
      cell.periods = int(periods);
      if (count) {
        cell.remap = static_cast<int *>(mem_alloc_or_die(sizeof(int) * size_t(count)));
        for (int i = 0; i < count; i++) {
          int m = remap[i] % cell.periods;
          cell.remap[i] = m < 0 ? m + cell.periods : m;
        }
        cell.remap_count = count;
      }
    }
  return table;
}

void sound_table_free(SoundTable *t) {
  if (!t) return;
  if (t->cells)
    for (int i = 0; i < t->rows * t->columns; i++) mem_free(t->cells[i].remap);
  mem_free(t->cells);
  mem_free(t);
}

void engine_definition_line(EngineSoundDef *d, const char *text) {
  char line[1024];
  snprintf(line, sizeof line, "%s", text);
  if (char *hash = strchr(line, '#')) *hash = 0;
  float a = 5, b = 0.9182071685791016f, c = -0.85f, v;
  int first = 0, last = 15;
  int n = sscanf(line, "pipe %f %f %f %d %d", &a, &b, &c, &first, &last);
  if (n >= 1) {
    if (std::isfinite(a) && std::isfinite(b) && std::isfinite(c)) set_pipe(d, a, b, c, first, last);
    return;
  }
  if (sscanf(line, "minrpm %f", &v) == 1) {
    if (std::isfinite(v)) d->min_rpm = v;
    return;
  }
  if (sscanf(line, "lowtorque %f", &v) == 1) {
    if (std::isfinite(v)) d->low_torque = v;
    return;
  }
  if (sscanf(line, "hightorque %f", &v) == 1) {
    if (std::isfinite(v)) d->high_torque = v;
    return;
  }
  if (const char *p = keyword(line, "bias")) {
    d->bias_count = read_list(p, d->bias);
    return;
  }
  if (const char *p = keyword(line, "scale")) {
    d->scale_count = read_list(p, d->scale);
    return;
  }
  if (const char *p = keyword(line, "soundtable")) {
    while (isspace(uint8_t(*p))) p++;
    char name[1024];
    snprintf(name, sizeof name, "%s", p);
    size_t k = strlen(name);
    while (k > 0 && isspace(uint8_t(name[k - 1]))) name[--k] = 0;
    if (SoundTable *t = load_table(name)) d->table = t;
  }
}

void engine_sound_shutdown() {
  while (table_cache) {
    SoundTable *next = table_cache->next;
    sound_table_free(table_cache);
    table_cache = next;
  }
  for (int i = 0; i < sample_count; i++) {
    mem_free(sample_cache[i].name);
    mem_free(sample_cache[i].samples);
  }
  mem_free(sample_cache);
  sample_cache = nullptr;
  sample_count = sample_capacity = 0;
}
