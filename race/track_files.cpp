// The track's scenery files: "flaggers", "billboards", "statues" and
// "cameras". Each is read in sequence and ends quietly at its first record
// that does not match; a value that is not a finite number ends it too
// (a rider or a camera placed at NaN would spoil everything after it).
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/core.h"
#include "race/race.h"
#include "race/timing.h"
#include "race/track.h"
#include "terrain/terrain.h"

Starter starter;
FinishFlagger finish_flagger;
Flagger flaggers[MAX_FLAGGERS];
int flagger_count = 0;
TrackCamera track_cameras[MAX_TRACK_CAMERAS];
int track_camera_count = 0;
int gate_camera[GATE_CAMERA_ENTRIES];

static int all_finite(const float *v, int n) {
  for (int i = 0; i < n; i++)
    if (!std::isfinite(v[i])) return 0;
  return 1;
}

// One " %1023s " name: 1 when read.
static int read_name(DataFile *f, char *out) { return data_scanf(f, " %1023s ", out) == 1; }

void track_tables_clear() {
  int reference = starter.reference_tic;  // the race's, not the file's
  memset(&starter, 0, sizeof starter);
  starter.reference_tic = reference;
  memset(&finish_flagger, 0, sizeof finish_flagger);
  starter.billboard = finish_flagger.billboard = -1;
  flagger_count = 0;
  track_camera_count = 0;
  for (int &g : gate_camera) g = -1;
}

// ---------------------------------------------------------------- flaggers
static int clamp_checkpoint(int c) {
  int last = (timing.enabled ? timing.checkpoint_count : 0) - 1;
  if (c > last) c = last;
  return c < -1 ? -1 : c;
}

int flaggers_read(DataFile *f) {
  if (!f) return 0;
  // The starter walks from A to B.
  float v[9];
  if (data_scanf(f, " [ %f %f %f ] [ %f %f %f ] %f %f %f ", &v[0], &v[1], &v[2], &v[3], &v[4],
                 &v[5], &v[6], &v[7], &v[8]) != 9 ||
      !all_finite(v, 9))
    return 0;
  Starter s = starter;
  memcpy(s.a, v, sizeof s.a);
  memcpy(s.b, v + 3, sizeof s.b);
  s.size[0] = v[6];
  s.size[1] = v[7];
  s.walk_seconds = v[8];
  for (auto &t : s.textures)
    if (!read_name(f, t)) return 0;
  s.billboard = billboard_create(s.a[0], s.a[1], s.a[2], s.size[0], s.size[1], s.textures[0]);
  starter = s;
  int count = 1;

  // The finish flagger stands still.
  float p[5];
  if (data_scanf(f, " [ %f %f %f ] %f %f ", &p[0], &p[1], &p[2], &p[3], &p[4]) != 5 ||
      !all_finite(p, 5))
    return count;
  FinishFlagger ff = finish_flagger;
  ff.size[0] = p[3];
  ff.size[1] = p[4];
  for (auto &t : ff.textures)
    if (!read_name(f, t)) return count;
  ff.billboard = billboard_create(p[0], p[1], p[2], p[3], p[4], ff.textures[0]);
  finish_flagger = ff;
  count++;

  // Then any number of flaggers, each watching up to four checkpoints.
  while (flagger_count < MAX_FLAGGERS) {
    int c[4];
    if (data_scanf(f, " [ %f %f %f ] %f %f %d %d %d %d", &p[0], &p[1], &p[2], &p[3], &p[4],
                   &c[0], &c[1], &c[2], &c[3]) != 9 ||
        !all_finite(p, 5))
      break;
    Flagger &g = flaggers[flagger_count];
    if (!read_name(f, g.idle) || !read_name(f, g.waving)) break;
    for (int k = 0; k < 4; k++) g.checkpoints[k] = clamp_checkpoint(c[k]);
    g.billboard = billboard_create(p[0], p[1], p[2], p[3], p[4], g.idle);
    if (g.billboard < 0) break;
    flagger_count++;
    count++;
  }
  return count;
}

// ------------------------------------------------------ billboards, statues
int billboards_read(DataFile *f) {
  if (!f) return 0;
  int count = 0;
  static char name[SCENERY_NAME_MAX];
  for (;;) {
    float v[5];
    if (data_scanf(f, "[ %f %f %f ] %f %f %1023s ", &v[0], &v[1], &v[2], &v[3], &v[4], name) !=
            6 ||
        !all_finite(v, 5))
      break;
    if (billboard_create(v[0], v[1], v[2], v[3], v[4], name) < 0) break;
    count++;
  }
  return count;
}

int statues_read(DataFile *f) {
  if (!f) return 0;
  int count = 0;
  static char model[SCENERY_NAME_MAX], texture[SCENERY_NAME_MAX], shape[SCENERY_NAME_MAX];
  for (;;) {
    float v[4];
    if (data_scanf(f, "[ %f %f %f ] %f %1023s %1023s %1023s ", &v[0], &v[1], &v[2], &v[3], model,
                   texture, shape) != 7 ||
        !all_finite(v, 4))
      break;
    if (statue_create(v[0], v[1], v[2], v[3], model, texture, shape) < 0) break;
    count++;
  }
  return count;
}

// ----------------------------------------------------------------- cameras
static int word_is(const char *line, const char *word) {
  size_t n = strlen(word);
  return !strncmp(line, word, n) && (!line[n] || isspace((unsigned char)line[n]));
}

int cameras_read(DataFile *f) {
  if (!f) return 0;
  float fov = 90, auto_size = 0;
  char line[1024];
  while (data_gets(f, line, sizeof line)) {
    size_t len = strlen(line);
    // The rest of an over-long line is not read as a line of its own.
    if (len == sizeof line - 1 && line[len - 1] != '\n') {
      int c;
      while ((c = data_getc(f)) >= 0 && c != '\n') {
      }
    }
    float v[3];
    if (sscanf(line, "addcamera %f %f %f", &v[0], &v[1], &v[2]) == 3) {
      if (!all_finite(v, 3) || track_camera_count >= MAX_TRACK_CAMERAS) continue;
      TrackCamera &c = track_cameras[track_camera_count++];
      memset(&c, 0, sizeof c);
      c.x = v[0];
      c.y = v[1] + terrain_height(v[0], v[2]);
      c.z = v[2];
      c.fov = fov;
      c.auto_fov_size = auto_size;
      fov = 90;
      auto_size = 0;
    } else if (sscanf(line, "fov %f", &v[0]) == 1) {
      if (std::isfinite(v[0])) fov = fabsf(v[0]);
    } else if (sscanf(line, "autofovsize %f", &v[0]) == 1) {
      if (std::isfinite(v[0])) auto_size = fabsf(v[0]);
    } else if (word_is(line, "gate")) {
      // Checkpoints watched by the camera the next "addcamera" makes.
      const char *p = line + 4;
      for (;;) {
        char *end;
        long g = strtol(p, &end, 10);
        if (end == p || g < 0 || g >= GATE_CAMERA_ENTRIES) break;
        gate_camera[g] = track_camera_count;
        p = end;
      }
    }
  }
  return track_camera_count;
}

int trackside_camera_count() { return track_camera_count; }

int trackside_camera_for_rider(int slot) {
  if (slot < 0 || slot >= RIDER_SLOTS) return -1;
  int c = timing_checkpoint_for(rider_timing[slot].progress);
  if (c < 0 || c >= GATE_CAMERA_ENTRIES) return -1;
  return gate_camera[c];
}
