#include "core/camera.h"

#include <cmath>

PublishedCamera published_camera;

void camera_publish(const double position[3], const double R[9], double fov, double dt) {
  PublishedCamera &c = published_camera;
  if (c.valid && dt > 0) {
    for (int i = 0; i < 3; i++) {
      double v = (position[i] - c.position[i]) / dt;
      c.velocity[i] = std::isfinite(v) ? v : 0;
    }
  } else if (!c.valid) {
    c.velocity[0] = c.velocity[1] = c.velocity[2] = 0;
  }
  for (int i = 0; i < 3; i++) c.position[i] = position[i];
  for (int i = 0; i < 9; i++) c.R[i] = R[i];
  c.fov = fov;
  c.valid = 1;
}
