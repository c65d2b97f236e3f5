// Billboards and statues. (Minimal: the tables stay empty.)
#include "race/scenery.h"

Billboard *billboards = nullptr;
int billboard_count = 0;
Statue *statues = nullptr;
int statue_count = 0;
int first_file_billboard = 0, first_file_statue = 0;

int billboard_create(float, float, float, float, float, const char *) { return -1; }
int statue_create(float, float, float, float, const char *, const char *, const char *) {
  return -1;
}
void statue_place(int) {}
void obstacle_grid_build() {}
int obstacle_cell(float, float, const int **list) {
  *list = nullptr;
  return 0;
}
void scenery_free() {}
