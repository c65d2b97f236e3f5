// Ruts and roost for the riders: the physics hooks that turn each tic's
// wheel contacts into terrain wheel inputs, and the rut state of every
// rider slot's two wheels.
#pragma once
#include "bike/rider.h"
#include "terrain/deform.h"

// Installs the wheel_rut and wheel_roost hooks and chains rider_reset
// (whatever was installed there before is still called).
void dig_attach();
// Every slot's rut state emptied; with erode_queue_clear and
// roost_pool_reset at each track load.
void dig_reset_all();

void dig_wheel_input(const WheelContact *w, WheelInput *in);
WheelRutState *dig_rut_state(int slot, int wheel);  // wheel 0 front, 1 rear
void dig_wheel_rut(Rider *r, const WheelContact *w);
void dig_wheel_roost(Rider *r, const WheelContact *w, float max_angle);
void dig_rider_reset(Rider *r);
