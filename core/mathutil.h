// Clamps and three-component vector helpers, once for the whole game.
// The physics relies on these being exactly the operations written here, in
// this order and type: a float and a double form are separate functions
// because they round differently, and the NaN cases differ on purpose.
#pragma once
#include <cmath>

// v held to lo..hi; NaN passes through.
inline float clampf(float v, float lo, float hi) { return v < lo ? lo : (v > hi ? hi : v); }
inline double clampd(double v, double lo, double hi) { return v < lo ? lo : (v > hi ? hi : v); }
inline int clampi(int v, int lo, int hi) { return v < lo ? lo : (v > hi ? hi : v); }

// v held to lo..hi, NaN becoming lo: for values from outside (controls,
// settings) that must never carry NaN inward.
inline float clampf_nan_lo(float v, float lo, float hi) {
  return !(v >= lo) ? lo : (v > hi ? hi : v);
}
inline double clampd_nan_lo(double v, double lo, double hi) {
  return !(v >= lo) ? lo : (v > hi ? hi : v);
}

// v held to 0..hi (0..1), NaN and -0 becoming +0.
inline float clamp0f(float v, float hi) { return v > 0.0f ? (v < hi ? v : hi) : 0.0f; }
inline float clamp01f(float v) { return clamp0f(v, 1.0f); }

inline float dot3(const float a[3], const float b[3]) {
  return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}
inline double dot3(const double a[3], const double b[3]) {
  return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}

// out = a x b; out may be a or b.
inline void cross3(const float a[3], const float b[3], float out[3]) {
  float x = a[1] * b[2] - a[2] * b[1];
  float y = a[2] * b[0] - a[0] * b[2];
  float z = a[0] * b[1] - a[1] * b[0];
  out[0] = x, out[1] = y, out[2] = z;
}
inline void cross3(const double a[3], const double b[3], double out[3]) {
  double x = a[1] * b[2] - a[2] * b[1];
  double y = a[2] * b[0] - a[0] * b[2];
  double z = a[0] * b[1] - a[1] * b[0];
  out[0] = x, out[1] = y, out[2] = z;
}

// out = a - b.
inline void sub3(const double a[3], const double b[3], double out[3]) {
  out[0] = a[0] - b[0];
  out[1] = a[1] - b[1];
  out[2] = a[2] - b[2];
}

inline float length3(const float v[3]) { return sqrtf(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]); }
inline double length3(const double v[3]) { return sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]); }
