// The world drawing arrives with its own work (ground, models, scenery,
// frames); until then a loaded track draws as the clear colour.
#include "gfx/render.h"

void draw_set_projection(int, int, double) {}
void draw_world_rider(int) {}
void draw_world_camera(const double *, const double *, double) {}
void draw_world_trackside(int) {}
void draw_suspension_graph() {}
int suspension_graph_on() { return 0; }
void draw_rider_name(int) {}
void draw_hud() {}
void free_camera_move(double) {}
