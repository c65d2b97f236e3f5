// The rider state snapshot: 39 bytes that carry a rider's pose, wheels,
// suspension, controls and engine to a demo file or across the network,
// and the two ways between it and a simulated rider. GL-free.
#pragma once
#include <cstdint>

struct Rider;

enum { SNAPSHOT_BYTES = 39 };

// The decoded fields, in the units of the physics.
struct SnapshotFields {
  double position[3];          // FRAME, world
  double orientation[4];       // FRAME quaternion w, x, y, z
  double steering;             // FORK_UPPER about the steering head, rad
  double rear_suspension;      // swingarm hinge angle, <= 0 compressed
  double front_suspension;     // fork slider position, <= 0 compressed
  int rear_exact;              // bit 0 of byte 18: a recorded, not blended, pose
  double rider_offset[3];      // RIDER_BODY from FRAME along the world axes
  double rider_orientation[4];
  double wheel_angle[2];       // front, rear axle hinge angles, rad
  int gear;                    // 0..6
  int dab;                     // the dab assist was positive
  float throttle;              // 0..1 in fifteenths
  int down;                    // 0 riding, else the down counter 1..128
  double rpm;
};

// What the fractions are taken of: the terrain's extent and lowest height,
// the bike's suspension travels.
struct SnapshotScale {
  double extent, min_height;
  double rear_travel, front_travel;
};

void snapshot_encode(const SnapshotFields &f, const SnapshotScale &s, uint8_t out[SNAPSHOT_BYTES]);
// Quaternions come back normalised (the identity when near zero).
void snapshot_decode(const uint8_t in[SNAPSHOT_BYTES], const SnapshotScale &s, SnapshotFields *f);

// The blend of two snapshots at fraction f: the frame position with f
// itself (it may run past b), everything else with min(f, 1); quaternions
// by slerp, wheels assuming a turn of -1/8..+7/8 from a to b, the drive
// flags of a, bit 0 of byte 18 cleared.
void snapshot_blend(const uint8_t a[SNAPSHOT_BYTES], const uint8_t b[SNAPSHOT_BYTES], double f,
                    uint8_t out[SNAPSHOT_BYTES]);

// The scale a rider's snapshots use (the loaded terrain, its bike).
SnapshotScale snapshot_scale(const Rider *r);
void snapshot_from_rider(const Rider *r, uint8_t out[SNAPSHOT_BYTES]);
// Poses the rider's seven bodies from `pose`, each placed as its joints
// hold it. With `a` and `b` (tics apart, > 0) the bodies move at the speed
// that takes them from a's pose to b's; without, they stand still.
void rider_pose_from_snapshot(Rider *r, const uint8_t pose[SNAPSHOT_BYTES],
                              const uint8_t *a, const uint8_t *b, int tics);
