// The menu screens drawn over the view.
#pragma once

void menu_draw();
void menu_key(int code);
// The pointer at (x, y); `dragging` while the left button is held, with
// the movement since the last call.
void menu_pointer(int x, int y, int dragging, int dx, int dy);
// The first entry of the screen becomes the selected one.
void menu_select_first();

// What the menus need from the program; set at start-up, each may be null.
struct MenuHooks {
  int (*shown)();            // a menu screen is open
  int (*is_enter)(int code);  // the key confirms
  void (*quick_race)();       // a race on the selected track, now
  const char *(*track)();     // the selected track's name
};
extern MenuHooks menu_hooks;
