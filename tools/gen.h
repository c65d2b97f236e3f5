// The default data generator. Each part writes its files below the install
// folder `out` (no trailing "/"), deterministically from fixed seeds, and
// returns 1 on success or 0 after printing what went wrong.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

int gen_base(const char *out);    // the base archive that marks the game data
int gen_track(const char *out);   // the default track
int gen_course(const char *out);  // its timing gates, start gate shape and cameras
int gen_images(const char *out);  // fonts, HUD pictures, sky
int gen_shapes(const char *out);  // collision shapes of the bikes and riders
int gen_ground(const char *out);  // ground pictures and the default track's decals
int gen_sound(const char *out);   // engine sounds of every class
int gen_models(const char *out);  // bike, rider and start gate models and their pictures
int gen_scenery(const char *out); // the default track's scenery, flaggers, lighting and sky
int gen_lines(const char *out);   // the default track's racing lines (after the course)

// Shared helpers for the generators.
struct GenMember {
  std::string name;
  std::string bytes;
};
// Writes bytes to out/relpath, creating folders; 1 on success.
int gen_write(const char *out, const std::string &relpath, const std::string &bytes);
// Writes a ".saf" archive of the members to out/relpath.
int gen_write_archive(const char *out, const std::string &relpath,
                      const std::vector<GenMember> &members);
// PNG encoding: channels 1 (grey), 2 (grey+alpha), 3 (RGB) or 4 (RGBA);
// depth 8 (bytes) or 16 (uint16_t samples).
std::string gen_png(int width, int height, int channels, int depth, const void *pixels);
