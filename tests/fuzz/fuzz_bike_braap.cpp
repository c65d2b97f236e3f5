// ".braap" definition text: any lines leave a definition the synthesiser
// can play without reading outside its ring or its cells, and whose output
// stays finite.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "bike/engine_sound.h"

static EngineVoice voice;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  engine_voice_setup(&voice, "125", nullptr);
  std::string text(reinterpret_cast<const char *>(data), size);
  size_t at = 0;
  while (at <= text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(at, end - at < 1023 ? end - at : 1023);
    engine_definition_line(&voice.def, line.c_str());
    at = end + 1;
  }
  EngineSoundDef &d = voice.def;
  for (int i = 0; i < ENGINE_TAPS; i++) {
    int delay = ENGINE_RING - d.tap_offset[i];
    if (delay < 0 || delay >= ENGINE_RING) abort();
  }
  if (d.bias_count < 0 || d.bias_count > ENGINE_LIST_MAX) abort();
  if (d.scale_count < 0 || d.scale_count > ENGINE_LIST_MAX) abort();
  if (d.bias_count == 0) d.bias_count = 1, d.bias[0] = 0;
  if (d.scale_count == 0) d.scale_count = 1, d.scale[0] = 1;
  for (float rpm : {0.0f, 1e7f})
    for (float torque : {-100.0f, 100.0f}) engine_voice_synthesise(&voice, 1000, rpm, torque);
  for (float x : voice.ring)
    if (!std::isfinite(x) || std::fabs(x) > 16) abort();
  return 0;
}
