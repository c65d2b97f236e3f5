// What the main loop asks of the drawing besides the world and the HUD
// (gfx/frame.h, gfx/hud.h): the overlays still to come and the ground
// drawing's upkeep.
#pragma once

void draw_suspension_graph();
int suspension_graph_on();
void models_delete();

// The ground drawing (gfx/terrain_render.cpp) follows the changed heights:
// a slice of its node values and at most `blocks` changed blocks a frame;
// the editor brings it up to date at once.
void terrain_update_step(int blocks);
void terrain_bring_up_to_date();
void terrain_set_mipmaps(int on);

// The console's views onto the drawing.
// The render statistics display: its maxima cleared.
void render_stats_reset();
void suspension_graph_set(int on);
// Aims the free trackside camera: yaw and pitch in degrees, roll 0.
void free_camera_set_angles(double yaw, double pitch);
// Every decal of the whole terrain placed again (after hiding or showing).
// Tire-contact labels in the world: bit 1 of flags places one per rider
// every `spacing` units of travel; clearing removes them all.
void contact_labels_set(int flags, double spacing);
void contact_labels_clear();
