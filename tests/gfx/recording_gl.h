// A GL table that records every call instead of drawing, and test helpers
// for the log and the message window.
#pragma once
#include <string>
#include <vector>

#include "gfx/gl_table.h"

struct RecordedGl {
  std::vector<std::string> calls;  // "Name arg arg ..." in call order
  std::vector<float> vertices;     // the last vertex upload, 12 floats a vertex
  std::vector<uint16_t> indices;   // the last index upload
  // Each draw expanded to triangles of positions (x, y) as GL would make them.
  std::vector<std::vector<float>> triangles;
  std::vector<std::string> uniforms;  // "program:location" of matrix uploads
  int vertex_uploads = 0;
  // Level 0 of the last full or partial texture upload.
  std::vector<uint8_t> level0;
  // The first byte of every level given to TexImage2D.
  std::vector<int> level_first_bytes;
  GLuint bound_program = 0;
};
extern RecordedGl rec;

// Installs the recording table and initialises the layer on it (a desktop
// 4.5 context unless `version` says otherwise).
void recording_gl_install(const char *version = "4.5 (Core Profile) Mesa");
// The calls whose text starts with the prefix.
std::vector<std::string> calls_named(const char *prefix);

// Log and message-window capture.
void capture_begin();
std::string captured_log();
std::vector<std::string> &captured_messages();
