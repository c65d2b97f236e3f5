// The menus arrive with their own work; until then the title shows alone.
#include "menu/menu.h"

void menu_draw() {}
void menu_key(int) {}
void menu_pointer(int, int, int, int, int) {}
void menu_select_first() {}
