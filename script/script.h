// The track's JavaScript and the sounds it loads.
#pragma once

void script_shutdown();
// Every sound the track's script loaded.
void track_sounds_free();
