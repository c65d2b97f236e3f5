// Collision shapes of the bikes and riders: spheres along each part of a
// bike row at rest and over the rider figure, one ".shp" file per name the
// bike table uses (rows sharing a name share its file).
#include <cstdio>
#include <set>
#include <string>

#include "bike/rider.h"
#include "tools/gen.h"

int gen_shapes(const char *out) {
  static const int parts[] = {PART_FRAME_SHAPE,      PART_FORK_UPPER_SHAPE,  PART_FORK_LOWER_SHAPE,
                              PART_SWINGARM_SHAPE,   PART_FRONT_WHEEL_SHAPE, PART_REAR_WHEEL_SHAPE,
                              PART_RIDER_SHAPE};
  std::set<std::string> written;
  for (int row = 0; row < BIKE_MODEL_COUNT; row++) {
    const BikeModel *m = &bike_models[row];
    for (int part : parts) {
      const char *name = m->part_files[part];
      if (name[0] != '@' || !written.insert(name).second) continue;
      std::vector<CollisionSphere> spheres = default_shape_spheres(m, part);
      static char text[65536];
      if (spheres.empty() || !shape_format(spheres, text, sizeof text)) {
        fprintf(stderr, "gen_data: no shape for %s\n", name);
        return 0;
      }
      // Check what we write reads back.
      CollisionShape check;
      char error[128];
      if (!shape_parse(text, &check, error, sizeof error)) {
        fprintf(stderr, "gen_data: shape %s does not parse: %s\n", name, error);
        return 0;
      }
      if (!gen_write(out, name + 1, text)) return 0;
    }
  }
  return 1;
}
