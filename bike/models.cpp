// Lookups in the bike table by name and index, and the bike menu order.
#include <cstring>

#include "core/core.h"
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
