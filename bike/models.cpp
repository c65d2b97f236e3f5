// Lookups in the bike table and the graphics file choices of a rider.
#include <cmath>
#include <cstdio>
#include <cstring>

#include "app/core.h"
#include "bike/bike.h"

const char *const bike_menu_names[BIKE_MODEL_COUNT] = {
    "450sxf(2018)", "crf450(2018)", "fc450(2018)", "kx450f(2018)", "rmz450(2018)", "yz450f(2018)",
    "450sxf(2017)", "crf450(2017)", "fc450(2017)", "kx450f(2017)", "rmz450(2017)", "yz450f(2017)",
    "450sxf(2016)", "crf450(2016)", "kx450f(2016)", "rmz450(2016)", "yz450f(2016)", "450sxf(2013)",
    "crf450(2013)", "kx450f(2013)", "rmz450(2013)", "yz450f(2013)", "450sxf(2011)", "crf450(2011)",
    "kx450f(2011)", "rmz450(2011)", "yz450f(2011)", "350sxf(2017)", "350sxf(2013)", "350sxf(2011)",
    "250sx(2012)", "cr250(2007)", "kx250(2006)", "rm250(2008)", "yz250(2012)", "250sxf(2018)",
    "crf250(2018)", "fc250(2018)", "kx250f(2018)", "rmz250(2018)", "yz250f(2018)", "250sxf(2017)",
    "crf250(2017)", "fc250(2017)", "kx250f(2017)", "rmz250(2017)", "yz250f(2017)", "250sxf(2016)",
    "crf250(2016)", "kx250f(2016)", "rmz250(2016)", "yz250f(2016)", "250sxf(2013)", "crf250(2013)",
    "kx250f(2013)", "rmz250(2013)", "yz250f(2013)", "250sxf(2009)", "crf250(2009)", "kx250f(2009)",
    "rmz250(2009)", "yz250f(2009)", "crf250(2008)", "kx250f(2008)", "rmz250(2008)", "yz250f(2008)",
    "crf250(2007)", "kx250f(2007)", "rmz250(2007)", "yz250f(2007)", "yz250f_se(2006)", "125sx",
    "cr125", "kx125", "rm125", "yz125", "rs50cr", "rs50kx", "rs50rm", "rs50yz",
};

int lookup_bike_model(const char *name) {
  if (!name) return -1;
  for (int i = 0; i < BIKE_MODEL_COUNT; i++)
    if (strcmp(bike_models[i].name, name) == 0) return i;
  return -1;
}

static int first_row_containing(const char *part) {
  for (int i = 0; i < BIKE_MODEL_COUNT; i++)
    if (strstr(bike_models[i].name, part)) return i;
  return 0;
}

int find_bike_model(const char *name) {
  if (!name) name = "";
  int i = lookup_bike_model(name);
  if (i >= 0) return i;
  // An unknown name still rides: a bike of the same small class when the name
  // says so, else the common four-stroke class.
  i = first_row_containing(strstr(name, "125") ? "125" : "250f");
  add_messagef("bike info for '%.20s' not found using '%.20s' instead", name, bike_models[i].name);
  return i;
}

const BikeModel *bike_model(int index) {
  if (index < 0 || index >= BIKE_MODEL_COUNT) return nullptr;
  return &bike_models[index];
}

const char *bike_model_name(int index) {
  const BikeModel *m = bike_model(index);
  return m ? m->name : "none";
}

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
    snprintf(suffix, sizeof suffix, "_%s%s", kind, ext);
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
    if (find_map(place, "norm", exists, normal, size) && find_map(place, "spec", exists, specular, size))
      return 1;
  }
  normal[0] = specular[0] = 0;
  return 0;
}

// ------------------------------------------------------- number plates

static void parse_colour(const char *text, const char *tag, uint8_t rgb[3]) {
  const char *p = strstr(text, tag);
  if (!p) return;
  float c[3] = {1, 1, 1};
  sscanf(p + strlen(tag), "%f,%f,%f", &c[0], &c[1], &c[2]);
  for (int i = 0; i < 3; i++) {
    float v = std::isfinite(c[i]) ? c[i] : 1.0f;  // a non-number is a missing number
    v = v < 0 ? 0 : v > 1 ? 1 : v;
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
