// The script host arrives with its own work; until then tracks run no
// script.
#include "script/script.h"

void script_shutdown() {}
void track_sounds_free() {}
