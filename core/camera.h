// The camera of the current frame, published for the listener (its
// velocity gives the Doppler factor) and the script. Worked out without
// drawing, so headless runs and recordings have one too.
#pragma once

struct PublishedCamera {
  double position[3] = {0, 0, 0};
  // Row-major; columns are right, up and backward in world axes: the camera
  // looks along minus the third column.
  double R[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
  double velocity[3] = {0, 0, 0};  // feet per second
  double fov = 110;                // degrees across a 4:3 picture
  int valid = 0;                   // 0 until a camera was published
};

extern PublishedCamera published_camera;

// Publishes this frame's camera; the velocity comes from the previous
// camera over `dt` seconds (kept when dt is not positive).
void camera_publish(const double position[3], const double R[9], double fov, double dt);
