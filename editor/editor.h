// The track editor's view: its own tic, keys and drawing.
#pragma once

void editor_tic();
int editor_key(int code);  // 1 when consumed
void editor_draw();
