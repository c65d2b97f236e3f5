// The message window arrives with the console's own work; until then lines
// go to the log only.
#include "app/console.h"

void message_window_clear() {}
void message_window_add(const char *) {}
void message_window_scroll(double) {}
