// Riding the default track headless, for the ride tool, the benchmark and
// the tests: a stock rider placed on the course, steering along the centre
// line, and a planned rider that plans its speed for bends, jumps and
// whoops, holds the bike steady in the air and times its laps. The planned
// rider drives the bike only through tic commands.
#pragma once
#include <vector>

#include "bike/physics.h"
#include "tools/course/track_layout.h"

// The stock setup a new player gets (stability 0..100, arcade 0 or 1),
// applied without the mechanic's checks.
void course_stock_setup(Rider *r, int stability, int arcade);

// Start pose on the line at lap distance s, `sideways` ft to the left of
// it: the frame over the point, heading along the course, lifted until
// nothing touches.
void place_on_course(Rider *r, float s, float sideways);

struct CourseFollower {
  int index = -1;  // nearest line point last tic
};

// Nearest line point to the frame, searched near the last one (the whole
// line the first time); -1 when the line is empty.
int course_nearest(const GenTrackLayout &l, CourseFollower *f, const Rider *r);
// Steering input (-1..1) towards a point further along the line, further
// the faster the bike goes.
float follow_course(const GenTrackLayout &l, CourseFollower *f, Rider *r);
// A speed for the coming stretch: the tightest bend within the next
// stretch taken at a lean the tires can hold.
double course_speed(const GenTrackLayout &l, const CourseFollower *f);

// ------------------------------------------------------------ planned ride

// A jump of the course: the foot of its take-off face, the lip, and the
// run-up speed wanted at the foot.
struct CourseJump {
  const char *kind;
  float face, lip, speed;
};

// How the planned rider takes the course. The take-off speeds put the bike
// on the far side's downslope (or, for the step-up, well onto its top).
struct CourseStyle {
  float bend_grip = 20;     // ft/s^2 across the bike in a bend
  float braking = 14;       // ft/s^2 the plan slows down at
  float whoops = 20;        // through the whoops
  float roller = 62;        // up a roller, so it comes down on the far side
  float tabletop = 52;      // run-up speeds at the foot of the face
  float double_jump = 53;
  float step_up = 44;
};

// The target speed at every line point, the jumps and the whoops.
struct CoursePlan {
  std::vector<float> speed;
  std::vector<CourseJump> jumps;
  float whoops0 = 0, whoops1 = 0;  // the whoops section
};

// The line point at or before lap distance s (wrapping).
int course_index_at(const GenTrackLayout &l, float s);
void course_plan(const GenTrackLayout &l, const CourseStyle &style, CoursePlan *plan);

// The planned rider's state between tics.
struct CourseRider {
  CourseFollower follow;
  double progress = 0;   // distance ridden along the line since the start
  int air_tics = 0;      // tics with neither wheel down
  float air_throttle = 0;
  int laps = 0;
  int lap_start_tic = 0;
  int last_lap_tics = 0;
  int best_lap_tics = 0;
};

// The frame's nose-up angle from level, radians.
double frame_pitch(const Rider *r);

// The planned rider changes gear itself: call once when it takes the bike
// (turns the automatic shifting off).
void course_take_bike(Rider *r);
// One tic of the planned rider: steering along the line, throttle and
// brakes to the plan's speed, a steady throttle and level bike in the air,
// gear changes, and the lap count. `tic` is the tics since the start. The
// command starts from the rider's current one, so the clutch, sit/dab and
// back-up stay as they are.
void course_ride(const GenTrackLayout &l, const CoursePlan &plan, CourseRider *cr, Rider *r,
                 int tic, TicCommand *out);
