// The default track's layout: the generator places everything along it
// (timing gates, start gates, robot lines, scenery), and the planned rider,
// the benchmark and the tests ride it. Built from code alone, so it needs no
// data files.
#pragma once
#include <vector>

// One point of the course's centre line, in world units (feet; x east,
// z south, y up). (tx, tz) is the unit direction of travel.
struct GenTrackPoint {
  float x, z, y;
  float s;  // distance along the lap from the start of the start straight
  float tx, tz;
};

struct GenTrackLayout {
  const char *folder;  // data folder, e.g. "tracks/hollow_creek"
  const char *description;
  int shift;           // height field of 2^(shift+1) + 1 samples a side
  float spacing;
  float half_width;    // the groomed course is 2 * half_width wide
  float length;        // lap length along the centre line
  float start_s;       // where the start gate stands on the start straight
  std::vector<GenTrackPoint> line;  // every 0.5 ft; closes back on line[0]
};

// Built once, deterministically; the heights (y) are those of the
// generated height field at the centre line.
const GenTrackLayout &gen_track_layout();
// The centre line at any distance along the lap (wraps around).
GenTrackPoint gen_track_point_at(float s);

// The course's named sections by lap distance, in lap order: "start",
// "berm", "tabletop", "roller", "mud", "whoops", "double", "step_up".
struct GenTrackFeature {
  const char *kind;
  float s0, s1;
};
std::vector<GenTrackFeature> gen_track_features();

// Unit vector towards the sun the shadows are baked for; the track's
// lighting should use the same.
extern const float GEN_TRACK_SUN[3];
