// Lookups in the bike table and the graphics file choices of a rider.
#include "bike/bike.h"
