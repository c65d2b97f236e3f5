// What the main loop asks of the drawing besides the world and the HUD
// (gfx/frame.h, gfx/hud.h): the overlays still to come and the ground
// drawing's upkeep.
#pragma once

void draw_suspension_graph();
int suspension_graph_on();
void models_delete();

// The ground drawing's copy of the heights follows the changed blocks,
// at most `budget` cells a frame; the editor brings it up to date at once.
void terrain_update_step(int budget);
void terrain_bring_up_to_date();
void terrain_set_mipmaps(int on);
