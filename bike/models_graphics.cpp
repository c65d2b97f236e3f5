// Which model, texture and map files draw a rider, decided without drawing
// anything, and the number plate colours of a bike texture.
#include <cmath>
#include <cstdio>
#include <cstring>

#include "core/core.h"
#include "bike/bike.h"
#include "core/mathutil.h"

// ------------------------------------------------ graphics file selection

int graphics_group_parts(int group, int parts[8]) {
  static const int bike[] = {PART_FRAME_MODEL,      PART_SIDE_PLATES_MODEL, PART_FORK_UPPER_MODEL,
                             PART_FRONT_PLATE_MODEL, PART_FORK_LOWER_MODEL,  PART_SWINGARM_MODEL};
  static const int wheels[] = {PART_FRONT_WHEEL_MODEL, PART_REAR_WHEEL_MODEL};
  static const int rider[] = {PART_RIDER_PLATE_MODEL, PART_RIDER_BODY_MODEL, PART_RIDER_BODY_FP_MODEL};
  static const int head[] = {PART_HEAD_MODEL};
  const int *list = nullptr;
  int n = 0;
  switch (group) {
    case GFX_BIKE: list = bike, n = 6; break;
    case GFX_WHEELS: list = wheels, n = 2; break;
    case GFX_RIDER: list = rider, n = 3; break;
    case GFX_HEAD: list = head, n = 1; break;
    default: return 0;
  }
  for (int i = 0; i < n; i++) parts[i] = list[i];
  return n;
}

int graphics_group_texture_part(int group) {
  switch (group) {
    case GFX_BIKE: return PART_BIKE_TEXTURE;
    case GFX_WHEELS: return PART_WHEEL_TEXTURE;
    case GFX_RIDER: return PART_RIDER_TEXTURE;
    case GFX_HEAD: return PART_HEAD_TEXTURE;
  }
  return -1;
}

int graphics_part_warns(int part) {
  // Plates and the rider's body are optional decoration: missing ones are
  // simply not drawn.
  switch (part) {
    case PART_RIDER_PLATE_MODEL:
    case PART_RIDER_BODY_MODEL:
    case PART_RIDER_BODY_FP_MODEL:
    case PART_SIDE_PLATES_MODEL:
    case PART_FRONT_PLATE_MODEL: return 0;
  }
  return 1;
}

static const char *after_last_slash(const char *s) {
  const char *slash = strrchr(s, '/');
  return slash ? slash + 1 : s;
}

// The base name up to its first "-" after the last "/", or up to its
// extension, followed by the texture's "-part" and `ext`.
static int build_variant(const char *base, const char *texture, const char *ext, char *out, int size) {
  if (!base || !texture || size <= 0) return 0;
  const char *tex = after_last_slash(texture);
  const char *dash1 = strchr(tex, '-');
  const char *dash2 = dash1 ? strchr(dash1 + 1, '-') : nullptr;
  if (!dash2) return 0;
  const char *file = after_last_slash(base);
  const char *end = strchr(file, '-');
  if (!end) {
    end = strrchr(file, '.');
    if (!end) end = file + strlen(file);
  }
  int n = snprintf(out, size, "%.*s%.*s%s", static_cast<int>(end - base), base,
                   static_cast<int>(dash2 - dash1), dash1, ext);
  if (n < 0 || n >= size) {
    out[0] = 0;
    return 0;
  }
  return 1;
}

int variant_model_name(const char *model, const char *texture, char *out, int size) {
  return build_variant(model, texture, ".jm", out, size);
}

int variant_in_texture_folder(const char *variant, const char *texture, char *out, int size) {
  if (!variant || !texture || size <= 0) return 0;
  const char *slash = strrchr(texture, '/');
  if (!slash) return 0;
  const char *file = after_last_slash(variant);
  if (file == variant && file[0] == '@') file++;  // a data name's marker is not part of the file name
  int n = snprintf(out, size, "%.*s%s", static_cast<int>(slash + 1 - texture), texture, file);
  if (n < 0 || n >= size) {
    out[0] = 0;
    return 0;
  }
  return 1;
}

static FileExistsFn exists_or_index(FileExistsFn exists) { return exists ? exists : file_index_exists; }

int choose_part_model(const char *model, const char *texture, int warns, FileExistsFn exists,
                      char *out, int size, char *warning, int warning_size) {
  exists = exists_or_index(exists);
  if (warning && warning_size > 0) warning[0] = 0;
  if (size <= 0) return MODEL_NONE;
  out[0] = 0;
  char variant[1024], folder[1024];
  if (texture && variant_model_name(model, texture, variant, sizeof variant)) {
    if (exists(variant)) {
      snprintf(out, size, "%s", variant);
      return MODEL_VARIANT;
    }
    int has_folder = variant_in_texture_folder(variant, texture, folder, sizeof folder);
    if (has_folder && exists(folder)) {
      snprintf(out, size, "%s", folder);
      return MODEL_VARIANT_FOLDER;
    }
    if (warns && warning && warning_size > 0)
      snprintf(warning, warning_size, "Warning: Can't load %.450s or %.450s", variant,
               has_folder ? folder : variant);
    return MODEL_NONE;
  }
  if (model && model[0] && exists(model)) {
    snprintf(out, size, "%s", model);
    return MODEL_ROW;
  }
  if (warns && warning && warning_size > 0)
    snprintf(warning, warning_size, "Warning: Can't load %.900s", model ? model : "");
  return MODEL_NONE;
}

// `name` with its extension replaced by `suffix`; 0 when it does not fit.
static int replace_extension(const char *name, const char *suffix, char *out, int size) {
  const char *file = after_last_slash(name);
  const char *dot = strrchr(file, '.');
  int keep = static_cast<int>(dot ? dot - name : static_cast<long>(strlen(name)));
  int n = snprintf(out, size, "%.*s%s", keep, name, suffix);
  return n >= 0 && n < size;
}

static int find_map(const char *texture, const char *kind, FileExistsFn exists, char *out, int size) {
  static const char *const exts[] = {".seq", ".png", ".ppm"};
  char suffix[16];
  for (const char *ext : exts) {
    snprintf(suffix, sizeof suffix, "%s%s", kind, ext);
    if (replace_extension(texture, suffix, out, size) && exists(out)) return 1;
  }
  out[0] = 0;
  return 0;
}

int find_texture_maps(const char *texture, const char *fallback, FileExistsFn exists, char *normal,
                      char *specular, int size) {
  if (size <= 0) return 0;
  exists = exists_or_index(exists);
  char variant[1024];
  const char *places[3] = {texture, nullptr, fallback};
  if (texture && build_variant(texture, texture, ".foo", variant, sizeof variant)) places[1] = variant;
  for (const char *place : places) {
    if (!place || !place[0]) continue;
    if (find_map(place, "_norm", exists, normal, size) &&
        find_map(place, "_spec", exists, specular, size))
      return 1;
  }
  normal[0] = specular[0] = 0;
  return 0;
}

const char *custom_texture(const char *name) {
  if (!name || !name[0] || strcmp(name, "default") == 0) return nullptr;
  return name;
}

void plan_rider_graphics(const BikeModel *m, const char *const names[GFX_GROUP_COUNT], FileExistsFn texture_loads,
                         FileExistsFn exists, GraphicsPlan *out) {
  texture_loads = exists_or_index(texture_loads);
  memset(out, 0, sizeof *out);
  for (int g = 0; g < GFX_GROUP_COUNT; g++) {
    const char *own = m->part_files[graphics_group_texture_part(g)];
    const char *custom = custom_texture(names ? names[g] : nullptr);
    if (custom && !texture_loads(custom)) custom = nullptr;
    out->custom[g] = custom != nullptr;
    snprintf(out->texture[g], sizeof out->texture[g], "%s", custom ? custom : own);

    int parts[8];
    int n = graphics_group_parts(g, parts);
    for (int i = 0; i < n; i++) {
      char warning[1024];
      int p = parts[i];
      choose_part_model(m->part_files[p], custom, graphics_part_warns(p), exists, out->model[p],
                        sizeof out->model[p], warning, sizeof warning);
      if (warning[0]) add_message(warning);
    }
    find_texture_maps(out->texture[g], own, exists, out->normal[g], out->specular[g], sizeof out->normal[g]);
  }
}

// ------------------------------------------------------- number plates

static void parse_colour(const char *text, const char *tag, uint8_t rgb[3]) {
  const char *p = strstr(text, tag);
  if (!p) return;
  float c[3] = {1, 1, 1};
  sscanf(p + strlen(tag), "%f,%f,%f", &c[0], &c[1], &c[2]);
  for (int i = 0; i < 3; i++) {
    float v = std::isnan(c[i]) ? 1.0f : c[i];  // a non-number is a missing number
    v = clampf(v, 0, 1);
    rgb[i] = static_cast<uint8_t>(v * 255.0f);
  }
}

PlateColours parse_plate_colours(const char *text) {
  PlateColours c = {{255, 255, 255}, {0, 0, 0}};
  if (!text) return c;
  parse_colour(text, "[numberbackground:", c.background);
  parse_colour(text, "[numberforeground:", c.foreground);
  return c;
}

void bike_graphics_prefix(const BikeModel *m, char *out, int size) {
  if (size <= 0) return;
  out[0] = 0;
  if (!m) return;
  const char *t = m->part_files[PART_BIKE_TEXTURE];
  const char *slash = strrchr(t, '/');
  const char *base = slash ? slash + 1 : (t[0] == '@' ? t + 1 : t);
  const char *dot = strrchr(base, '.');
  int n = dot ? int(dot - base) : int(strlen(base));
  snprintf(out, size_t(size), "%.*s-", n, base);
}
