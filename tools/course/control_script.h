// Control scripts: timed steps that set a rider's controls, for the ride
// tool and the program's "--drive FILE". A step is
// "TIME:key=value[,key=value...]" (TIME in seconds); a script file holds
// one per line, with spaces allowed for the ":" and ",", and "#" starting a
// comment. Keys: throttle, front, rear, steer, lean, clutch, sit, backup
// (0..1 or -1..1), gear (1..6, put in outright) and shift (+1/-1). Values
// hold until changed.
#pragma once
#include <string>
#include <vector>

#include "bike/physics.h"

struct ControlStep {
  double time;
  std::string key;
  double value;
};

// Appends the steps of one "TIME:key=value,..." text: 1, or 0 when it is
// malformed (nothing appended then).
int control_parse(const char *text, std::vector<ControlStep> *out);
// Reads a script file: 1, or 0 with every fault described in `errors`
// ("FILE:LINE: bad control line", or that it can't be opened).
int control_script_read(const char *name, std::vector<ControlStep> *out, std::string *errors);
// Puts the steps in time order; equal times keep their order.
void control_sort(std::vector<ControlStep> *steps);
// 1 when a key names a control this format knows.
int control_key_known(const std::string &key);
// Applies a step to the command the rider gets this tic (a gear is put in
// at once): 1, or 0 for an unknown key.
int control_apply(Rider *r, const ControlStep &s, TicCommand *c);
