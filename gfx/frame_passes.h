// The passes one frame of the world is made of, in the order draw_world
// calls them: the ground's upkeep and drawing, the sky and the sun, the
// riders, the statues, the billboards, the labels and the lens flares.
#pragma once
#include "gfx/lighting.h"
#include "gfx/rider_draw.h"
#include "gfx/scenery_draw.h"
#include "gfx/terrain_render.h"
