// The race's side of the robots: fills robot_race and the physics hooks
// the robots own, and the realign target with its line rule.
#pragma once

void robot_link_attach();
