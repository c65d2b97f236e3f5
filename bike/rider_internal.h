// Pieces shared by the physics files of the bike folder; not an interface
// for other subsystems.
#pragma once
#include "bike/rider.h"
#include "core/mathutil.h"

void rider_set_masses(Rider *r, double rider_share);
double fork_force(const Rider *r, double slider_pos, double slider_rate);
double shock_torque(const Rider *r, double angle, double rate);
// A soft contact joint in the contact group: pushes b1 along `normal`
// (b2 may be 0 for the static world).
void soft_joint(dBodyID b1, dBodyID b2, const double pos[3], const double normal[3],
                double depth, double kp, double kd, double mu);
// A one-sided spring between two body points, active beyond `length`.
void tether(dBodyID b1, const double p1[3], dBodyID b2, const double p2[3], double length,
            double kp, double kd);
// Where the rider body sits on the bike, in world coordinates.
void riding_point(Rider *r, double out[3]);
int rider_finite(const Rider *r);
// Puts a rider whose state is not finite back on its wheels (with a log
// line) before it can reach the world step.
void rider_guard(Rider *r);
// Reset to the start pose at the last good position, lifted clear.
void rider_mend(Rider *r);
// Right before the step: what ODE would give up the whole step on (forces
// or torques that are not finite, joint anchors that are not) is mended
// here, the forces dropped for the tic, a bad joint by rider_mend with the
// tic's contacts cut loose. 1 when nothing needed mending.
int rider_step_check(Rider *r);
// Velocity servo on the frame: towards `target` with at most `fmax`.
void velocity_servo(Rider *r, const double target[3], double fmax);
// Speed of a body's centre.
inline double body_speed(dBodyID b) { return length3(dBodyGetLinearVel(b)); }
// The surface record under a world point.
const Surface *surface_at(float x, float z, int *index);
