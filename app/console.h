// The message window over every view, and the chat line's console commands.
#pragma once

// ------------------------------------------------------------ message store
enum { MESSAGE_RING = 1000, MESSAGE_SIZE = 256 };

// The most recent lines; how many of the newest are shown follows
// config.message_lines and the game clock.
struct MessageStore {
  char lines[MESSAGE_RING][MESSAGE_SIZE];  // each cut to 255 bytes
  int next_line;       // ring position written next
  int showing;         // newest lines shown, at most config.message_lines
  double next_scroll;  // game clock at which the oldest shown line goes
  int hide_spam;       // drop lines holding "[SPAM]"
  double last_chat;    // game clock of the last chat line sent
};
extern MessageStore messages;

// Empties the ring (start-up).
void message_window_clear();
// add_message's body: the spam filter, the log (colour codes reset), the
// ring, and the window's timing on loop.game_clock.
void message_store_add(const char *text);
// Hides the oldest shown line once the game clock passes next_scroll, then
// one every 5 s.
void message_window_scroll(double game_clock);
// The i-th shown line, oldest first (i < messages.showing).
const char *message_shown(int i);
// Draws the shown lines with their colour codes (the main loop, over every
// view).
void message_window_draw();

// Flips *flag between 0 and 1 and adds "<label> ON" or "<label> OFF".
void toggle_notice(const char *label, int *flag);

// ----------------------------------------------------------------- console
// One finished line of the chat line: a command after "/" or "\", else chat.
// 0 for chat refused by the spam limit and for a command matching nothing.
int console_line(const char *text);

// Switches of the console that live nowhere else.
struct ConsoleState {
  int suspension_graph;
  int keycam_mode;
  int hide_decals;
  int render_stats;
  int log_flags;       // bit 1: tire-contact labels
  double log_spacing;  // travel between labels
  int force_reload;
};
extern ConsoleState console_state;

// The chat line (menu screen 16): the line being typed, its cursor and the
// lines typed this run.
enum { CHAT_LINE_SIZE = 256, CHAT_HISTORY = 32, CHAT_SCREEN = 16 };
struct ChatLine {
  char text[CHAT_LINE_SIZE];
  int length, cursor;
  char history[CHAT_HISTORY][CHAT_LINE_SIZE];
  int history_count;  // newest last
  int browse;         // history position shown, history_count when none
};
extern ChatLine chat_line;
// Empties the line (when the screen opens).
void chat_line_open();
// A key on the chat screen (codes from ui_keys): editing, Enter runs the line
// and closes the screen, Esc closes it. 1 when the key was taken.
int chat_line_key(int code);
// A typed character (printable bytes only).
void chat_line_char(int c);
void chat_line_draw();
