// gen_data OUTDIR: writes the install data into OUTDIR.
#include <cstdio>
#include "tools/gen.h"

int main(int argc, char **argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: gen_data OUTDIR\n");
    return 2;
  }
  const char *out = argv[1];
  int ok = gen_base(out) && gen_images(out) && gen_track(out) && gen_course(out) && gen_shapes(out) &&
           gen_ground(out) && gen_sound(out) && gen_models(out) && gen_scenery(out) &&
           gen_lines(out);
  return ok ? 0 : 1;
}
