// The default track's ground as functions: the generator's height field is
// sampled from them.
#pragma once

const double GEN_TRACK_HALF_WIDTH = 13;  // groomed course, each side
const double GEN_TRACK_SHOULDER = 14;    // blend from course to meadow
const double GEN_TRACK_BERM = 0.3;       // berm bowl steepness

// Surface type numbers, in the order of the track's "tileinfo".
enum { GEN_TRACK_GRASS = 0, GEN_TRACK_DIRT, GEN_TRACK_MUD, GEN_TRACK_HARDPACK, GEN_TRACK_SURFACES };

// The meadow's height at (x, z).
double gen_track_ground(double x, double z);
// The height at (x, z), given its distance d from the centre line, the
// nearest centre point's lap distance s and the signed offset to its left.
double gen_track_shape(double x, double z, double d, double s, double lateral);
// Which surface the course has at lap distance s.
int gen_track_surface_mark(double s);
