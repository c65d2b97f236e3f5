// The physics' two seams: a tic command drives a rider, a pose shows it.
#include <cstring>

#include "bike/rider_internal.h"

Rider *rider_in_slot(int slot) {
  if (slot < 0 || slot >= RIDER_SLOTS || !riders[slot].in_use) return nullptr;
  return &riders[slot];
}

int rider_slot(const Rider *r) { return r ? r->slot : NO_SLOT; }

void rider_apply_command(Rider *r, const TicCommand &c) {
  if (!r) return;
  rider_set_steering(r, c.steering);
  rider_set_throttle(r, c.throttle);
  rider_set_front_brake(r, c.front_brake);
  rider_set_rear_brake(r, c.rear_brake);
  rider_set_lean(r, c.lean);
  rider_set_clutch(r, c.clutch);
  rider_set_sit_dab(r, c.sit_dab);
  rider_set_back_up(r, c.back_up);
  // The shift request is a level: the gear changes when it moves off zero.
  shift(r, c.shift);
}

TicCommand rider_current_command(const Rider *r) {
  TicCommand c{};
  if (!r) return c;
  c.throttle = r->throttle;
  c.front_brake = r->front_brake;
  c.rear_brake = r->rear_brake;
  c.steering = r->steering;
  c.lean = r->lean;
  c.clutch = r->clutch;
  c.sit_dab = r->sit_dab_input;
  c.back_up = r->back_up;
  c.shift = r->shift_request;
  return c;
}

void rider_get_pose(const Rider *r, RiderPose *out) {
  memset(out, 0, sizeof *out);
  if (!r || !r->in_use) return;
  for (int i = 0; i < BODY_PART_COUNT; i++) {
    dBodyID b = r->body[i];
    BodyPose &p = out->body[i];
    const dReal *pos = dBodyGetPosition(b), *rot = dBodyGetRotation(b), *vel = dBodyGetLinearVel(b);
    for (int k = 0; k < 3; k++) {
      p.position[k] = pos[k];
      p.velocity[k] = vel[k];
      // The library keeps 3 x 4 rows.
      for (int j = 0; j < 3; j++) p.rotation[3 * k + j] = rot[4 * k + j];
    }
  }
  out->wheel_angle[0] = float(dJointGetHingeAngle(r->joint[JOINT_FRONT_AXLE]));
  out->wheel_angle[1] = float(dJointGetHingeAngle(r->joint[JOINT_REAR_AXLE]));
  out->steering_angle = float(dJointGetHingeAngle(r->joint[JOINT_STEERING]));
  out->rpm = rider_rpm(r);
  out->gear = r->gear;
  out->throttle = r->throttle;
  out->clutch = r->clutch;
  out->crash_timer = r->crash_timer;
  out->crash_count = r->crash_count;
}
