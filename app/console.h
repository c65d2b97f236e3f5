// The message window over the view and the console commands typed into it.
#pragma once

void message_window_clear();
// Stores a line (the caller logs it).
void message_window_add(const char *text);
// Hides the oldest line every 5 s of game clock.
void message_window_scroll(double game_clock);
