#include "gfx/lighting.h"

Lighting lighting;
