// What the spine calls in the subsystems that are built elsewhere (terrain,
// riders, race, demos, network, scripts, drawing, audio, menus, editor,
// configuration, console). Each group is a small interface; until its
// subsystem takes it over, app/standins.cpp gives it a minimal body.
#pragma once
#include <cstdint>

struct Rider;

// ---------------------------------------------------------- configuration
void config_read();
void config_write();
void apply_detail_preset(int n);
void server_history_push(const char *name);
// Start-up defaults the configuration may override: the bike choice, the
// stability preset, the lighting.
void config_set_defaults();

// ----------------------------------------------- message window, console
void message_window_clear();
void message_window_add(const char *text);  // store only; the caller logs
void message_window_scroll(double game_clock);

// ---------------------------------------------------------------- audio
// Normal output; 0 when no device could be opened (the game runs silent).
int audio_open_device();
// Read-back output (no device): rate and samples per tic.
int audio_open_readback(int rate, int block);
void audio_close();
int audio_is_open();
void audio_pump();
// The next tic's mixed block of the read-back output (block samples).
const int16_t *audio_readback_block();
void engine_sounds_set_level(float level);
void track_sounds_free();

// -------------------------------------------------------------- terrain
void terrain_update_step(int budget);
void terrain_bring_up_to_date();
void erosion_step(float strength, const double *position);  // position may be null
double ground_height_at(double x, double z);
void terrain_set_mipmaps(int on);

// ------------------------------------------------------- riders, physics
void physics_world_create();  // gravity (0, -32, 0) and the contact group
void physics_world_destroy();
void contact_group_destroy();
void contact_group_empty();
void rider_free(int slot);  // its engine sound and rider object
// The local player's controls as the rider takes them each tic.
struct RiderInputs {
  float steer, throttle, front_brake, rear_brake, sit_dab, back_up, lean, clutch;
  int shift;  // +1 up, -1 down, 0 none
};
void rider_take_inputs(Rider *r, const RiderInputs &in);
float rider_clutch_value(Rider *r);
// Pose for the cameras: frame position, rotation (row-major 3x3), velocity.
void rider_pose(Rider *r, double pos[3], double rot[9], double vel[3]);
int rider_touches_ground(Rider *r);  // runs the contact test
void rider_move_up(Rider *r, double dy);
// Rider setup switches.
int setup_reversed_steering();
int setup_sticky_dab();
const char *setup_bike_graphics_prefix();
const char *setup_saved_picture(int list);  // 0 gear, 1 helmet, 2 bike, 3 wheels
void robot_lines_save(int skill);
void robot_lines_free();

// ---------------------------------------------------------------- race
enum RiderRole { ROLE_LOCAL = 0, ROLE_REPLAYED = 1, ROLE_ROBOT = 2 };
extern int rider_roles[160];
extern Rider *riders[160];
extern int running_order[160];
extern int running_count;
extern int lineup[160];
extern int now_tic, drop_tic;

// The track chosen in the New Race menu (the list itself is the terrain's).
void track_menu_select(const char *name);
const char *track_menu_selected();
int track_loaded();
// Starts every kind of race on the track chosen in the menu (or the demo's):
// 1 on success.
int load_track(const int *slot_table, int replay_demo, int record_demo, int time_limit_tics,
               int laps, int robot_skill);
void free_track();
void race_tic();
// The leader has completed the race's laps.
int race_leader_finished();
void time_trial_abort_rule();
void rotate_lineup(int places);
int trackside_camera_count();
int trackside_camera_for_rider(int slot);  // -1 when the track has no sections

int demo_open_playback(const char *file, char *track, int size);  // 1 on success
int demo_playing();
void demo_seek(double seconds);  // Rewind and Skip
void demo_close();
void demo_finish_recording();

int series_load(const char *name);  // 1 when loaded
void series_finish_event();
void series_free();

// ------------------------------------------------------------- network
int net_server_set();        // a server name is set
int net_connecting();        // a connection is being made
int net_connected();
int net_socket_open();
int net_has_race_slot();
int net_sending_tics();      // the server has started sending tics
double net_server_tic();
void net_start(const char *server, const char *password);
void net_step();
void net_disconnect();
void net_reset();
void net_send_chat(const char *text);
void net_library_shutdown();

// -------------------------------------------------------------- scripts
void script_shutdown();

// ------------------------------------------------------------ drawing
void draw_set_projection(int width, int height, double fov);
void draw_world_rider(int slot);
void draw_world_camera(const double eye[3], const double target[3], double fov);
void draw_world_trackside(int camera);
void draw_suspension_graph();
int suspension_graph_on();
void draw_rider_name(int slot);
void draw_hud();
void models_delete();

// ----------------------------------------------------------- menus, editor
void menu_draw();
void menu_key(int code);
void menu_pointer(int x, int y, int dragging, int dx, int dy);
void editor_tic();
int editor_key(int code);  // 1 when consumed
void editor_draw();

// ------------------------------------------------------------ late additions
int race_over();                        // the session has ended
void free_camera_move(double distance);  // along the free camera's view
void menu_select_first();
