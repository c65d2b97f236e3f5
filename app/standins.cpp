// Minimal bodies for the subsystems the spine reaches before they exist.
// Each group is taken over by its subsystem, which then removes it here.
#include <cstring>

#include "app/app.h"
#include "core/core.h"
#include "app/standins.h"

// ---------------------------------------------------------- configuration
void config_read() {}
void config_write() {}
void apply_detail_preset(int) {}
void config_set_defaults() {}

void server_history_push(const char *name) {
  if (!name[0] || !strcmp(name, config.server_name_hist[0])) return;
  memmove(config.server_name_hist[1], config.server_name_hist[0],
          sizeof config.server_name_hist[0] * 15);
  snprintf(config.server_name_hist[0], sizeof config.server_name_hist[0], "%s", name);
  config.server_hist_pos = -1;
}

// ----------------------------------------------- message window, console
void message_window_clear() {}
void message_window_add(const char *) {}
void message_window_scroll(double) {}

// ---------------------------------------------------------------- audio
static int audio_state = 0;  // 0 closed, 1 device, 2 read-back
static int16_t silent_block[690];
int audio_open_device() { return 0; }
int audio_open_readback(int, int) {
  audio_state = 2;
  return 1;
}
void audio_close() { audio_state = 0; }
int audio_is_open() { return audio_state != 0; }
void audio_pump() {}
const int16_t *audio_readback_block() { return silent_block; }
void engine_sounds_set_level(float) {}
void track_sounds_free() {}

// -------------------------------------------------------------- terrain
void terrain_update_step(int) {}
void terrain_bring_up_to_date() {}
void erosion_step(float, const double *) {}
double ground_height_at(double, double) { return 0; }
void terrain_set_mipmaps(int) {}

// ------------------------------------------------------- riders, physics
void physics_world_create() {}
void physics_world_destroy() {}
void contact_group_destroy() {}
void contact_group_empty() {}
void rider_free(int) {}
void rider_take_inputs(Rider *, const RiderInputs &) {}
float rider_clutch_value(Rider *) { return 1; }
void rider_pose(Rider *, double pos[3], double rot[9], double vel[3]) {
  for (int i = 0; i < 3; i++) pos[i] = vel[i] = 0;
  for (int i = 0; i < 9; i++) rot[i] = i % 4 == 0;
}
int rider_touches_ground(Rider *) { return 0; }
void rider_move_up(Rider *, double) {}
int setup_reversed_steering() { return 0; }
int setup_sticky_dab() { return 0; }
const char *setup_bike_graphics_prefix() { return "yz250f-"; }
const char *setup_saved_picture(int) { return ""; }
void robot_lines_save(int) {}
void robot_lines_free() {}

// ---------------------------------------------------------------- race
int rider_roles[160];
Rider *riders[160];
int running_order[160];
int running_count = 0;
int lineup[160];
int now_tic = 0, drop_tic = 0;

static char selected_track[256];
void track_menu_select(const char *name) {
  snprintf(selected_track, sizeof selected_track, "%s", name);
}
const char *track_menu_selected() { return selected_track; }
int track_loaded() { return 0; }
int load_track(const int *, int, int, int, int, int) { return 0; }
void free_track() {}
void race_tic() { now_tic++; }
int race_leader_finished() { return 0; }
void time_trial_abort_rule() {}
void rotate_lineup(int) {}
int trackside_camera_count() { return 0; }
int trackside_camera_for_rider(int) { return -1; }

int demo_open_playback(const char *, char *, int) { return 0; }
int demo_playing() { return 0; }
void demo_seek(double) {}
void demo_close() {}
void demo_finish_recording() {}

int series_load(const char *) { return 1; }
void series_finish_event() {}
void series_free() {}

// ------------------------------------------------------------- network
int net_server_set() { return config.server_name[0] != 0 && settings.connect_given; }
int net_connecting() { return 0; }
int net_connected() { return 0; }
int net_socket_open() { return 0; }
int net_has_race_slot() { return 0; }
int net_sending_tics() { return 0; }
double net_server_tic() { return 0; }
void net_start(const char *, const char *) {}
void net_step() {}
void net_disconnect() {}
void net_reset() {}
void net_send_chat(const char *) {}
void net_library_shutdown() {}

// -------------------------------------------------------------- scripts
void script_shutdown() {}

// ------------------------------------------------------------ drawing
void draw_set_projection(int, int, double) {}
void draw_world_rider(int) {}
void draw_world_camera(const double *, const double *, double) {}
void draw_world_trackside(int) {}
void draw_suspension_graph() {}
int suspension_graph_on() { return 0; }
void draw_rider_name(int) {}
void draw_hud() {}
void models_delete() {}

// ----------------------------------------------------------- menus, editor
void menu_draw() {}
void menu_key(int) {}
void menu_pointer(int, int, int, int, int) {}
void editor_tic() {}
int editor_key(int) { return 0; }
void editor_draw() {}

int race_over() { return 0; }
void free_camera_move(double) {}
void menu_select_first() {}
