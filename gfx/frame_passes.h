// The passes one frame of the world is made of, in the order draw_world
// calls them: the ground's upkeep and drawing, the sky and the sun, the
// riders, the statues, the billboards, the labels and the lens flares.
#pragma once

void terrain_set_viewer(const float position[3], const float direction[3]);
void terrain_texture_step(const float viewer[3]);
void terrain_draw(const float viewer[3]);
void sky_draw();
void light_position_update(const float R[9]);
void flares_draw(const float camera[3], const float R[9]);
void rider_draw(int slot, int first_person_flag, const float camera[3]);
void statues_draw(const float camera[3]);
void billboards_draw(const float camera[3], const float R[9]);
void labels_draw(const float camera[3], const float R[9]);
