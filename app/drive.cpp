// "--drive": the local player's rider ridden by a program instead of the
// controls: the planned rider of the default course, or a control script.
#include <cstring>
#include <string>
#include <vector>

#include "app/app.h"
#include "bike/rider.h"
#include "race/race.h"
#include "tools/course/control_script.h"
#include "tools/course/course_rider.h"

namespace {

struct Drive {
  int active = 0;
  int follow = 0;  // the planned rider; else the script
  std::vector<ControlStep> steps;
  // The ride in progress, started again with every race.
  Rider *rider = nullptr;
  int last_now = -1;
  int tics = 0;  // since this race's start
  size_t next_step = 0;
  TicCommand held = {};
  CourseRider course;
  CoursePlan plan;
};
Drive drive;

// A new race (or a restart) gives the program a fresh bike.
void take_bike(Rider *r) {
  drive.rider = r;
  drive.tics = 0;
  drive.next_step = 0;
  drive.course = CourseRider();
  drive.held = rider_current_command(r);
  if (drive.follow) {
    // The planned rider was planned for the stock bike, clutch out.
    course_stock_setup(r, 100, 0);
    course_take_bike(r);
    drive.held.clutch = 1;
    rider_apply_command(r, drive.held);
  }
}

}  // namespace

int drive_setup(const char *source, const char *track_folder, std::string *errors) {
  drive = Drive();
  if (!source || !*source) return 0;
  if (!strcmp(source, "follow")) {
    const GenTrackLayout &layout = gen_track_layout();
    if (!track_folder || strcmp(track_folder, layout.folder) != 0) {
      *errors += std::string("--drive follow knows only the course of ") + layout.folder + "\n";
      return 1;
    }
    drive.follow = 1;
    course_plan(layout, CourseStyle(), &drive.plan);
  } else {
    std::string why;
    if (!control_script_read(source, &drive.steps, &why)) {
      *errors += "--drive: " + why;
      return 1;
    }
    for (const ControlStep &s : drive.steps)
      if (!control_key_known(s.key)) {
        *errors += "--drive: unknown control '" + s.key + "' in " + source + "\n";
        return 1;
      }
    control_sort(&drive.steps);
  }
  drive.active = 1;
  return 0;
}

int drive_active() { return drive.active; }

void drive_tic() {
  if (!drive.active) return;
  Rider *r = nullptr;
  for (int s = 0; s < RIDER_SLOTS && !r; s++)
    if (rider_roles[s] == ROLE_LOCAL) r = rider_in_slot(s);
  if (!r) return;
  int now = race_now_tic();
  if (r != drive.rider || now < drive.last_now) take_bike(r);
  drive.last_now = now;
  TicCommand c = drive.held;
  if (drive.follow) {
    if (now <= race_drop_tic()) {
      // A gate the bike leans on stays up: wait on the brakes.
      c = rider_current_command(r);
      c.throttle = 0;
      c.front_brake = c.rear_brake = 1;
      c.clutch = 1;
    } else {
      course_ride(gen_track_layout(), drive.plan, &drive.course, r, drive.tics, &c);
    }
  } else {
    double t = drive.tics * TIC_SECONDS;
    while (drive.next_step < drive.steps.size() && drive.steps[drive.next_step].time <= t)
      control_apply(r, drive.steps[drive.next_step++], &drive.held);
    c = drive.held;
  }
  time_trial_abort_rule(c.throttle, c.back_up);
  rider_apply_command(r, c);
  drive.tics++;
}
