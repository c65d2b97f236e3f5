// The program's spine: command line, start-up and shutdown, the main loop
// and its tics, the views and their cameras, and the controls as the game
// sees them. Other subsystems read the settings and loop state declared here.
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "core/shared.h"

extern const char *const VERSION_STRING;

// ------------------------------------------------------------------ timing
const double FRAME_STEP_CAP = 0.125;  // largest step of one frame (16 tics)
const int WARP_TICS = 100;            // frame step under "--warp"
const int FRAME_TIME_LOG_SIZE = 1048576;

// ------------------------------------------------------------- view modes
enum ViewMode {
  VIEW_RIDER = 0,
  VIEW_EDITOR = 2,
  VIEW_ORBIT = 3,
  VIEW_TRACKSIDE = 4,
  VIEW_NO_TRACK = 5,
};

// ------------------------------------------------------------ settings
// The configuration file's values, one field per key under the key's own
// name (slot00..slot39 and the history are arrays). The item table in
// app/config.cpp points at these fields; the rest of the program reads them.
// The command line may override derived detail settings but never these.
// Choices hold the selected index into the item's texts.
struct Config {
  int xres = 640, yres = 480;
  int draw_fps = 0, draw_time = 0, draw_ping = 1, draw_speed = 0;
  int spy = 0;
  char track[256] = "";
  int record = 0, skill = 0;  // "No"/"Yes"; "Novice", "Amateur", "Expert"
  double minutes = 0, laps = 5;
  int slot[40] = {};  // "Empty", "Human", "Robot", "Robot (2 stroke)", "Robot (4 stroke)"
  double ghost_fade_distance = 10;
  int time_trial_abort = 1;
  // Index into the video mode list: 0 the desktop in full screen, 1 a window.
  // A window until a configuration says otherwise: a first start must not
  // take over the whole screen.
  int video_mode = 1;
  char server_name[128] = "localhost";
  char server_name_hist[16][127] = {};
  int server_hist_pos = -1;  // browsing position in the history, -1 none
  double ground_detail = 70, ground_texture_detail = 9;
  int ground_texture_dim = 2;      // 32 << index texels (older setting)
  int ground_texture_dim_new = 1;  // 128 << index texels
  int ground_mipmaps = 1;          // "No" 0, "Yes" 1
  int texture_compress = 0;        // "No", "Yes", "Always"
  int render_texture = 0;          // "Software", "Hardware/Copy", "Hardware/Direct",
                                   // "Shaders/Copy", "Shaders/Direct"
  int use_shader = 1;
  int use_fbo = 1;                 // read only: the older form of render_texture
  double roost_density = 1000, reshade_delay = 0, terrain_resync_rate = 0;
  int lens_flare = 1, reflections = 1, hide_rider = 0, rigid_camera = 0;
  double model_detail = 50, model_texture_detail = 9;
  double fov = 110;
  double first_person_height = 0, first_person_angle = 0, first_person_gimbal = 0;
  double third_person_height = 5, third_person_distance = 10;
  double volume = 10, comp_volume = 8;
  int playback_mode = 0;  // "Playback Only", "Race Against"
  int billboard_optimize_lookahead = 8;
  int message_lines = 5;
  int demo_backups = 0;
  double map_scale = 1;
  int draw_render_stats = 0;
};
extern Config config;

// The detail record and everything the command line sets.
struct Settings {
  // window
  int width = 640, height = 480;
  int depth = 16, zdepth = 16;
  int gl_major = 3, gl_minor = 1, gl_dialect = 1;  // 0 compatibility, 1 core, 2 es
  // detail, derived from the configuration
  float terrain_detail = 0;
  float max_detail_distance = -1, fade_distance = -1;  // -1: the terrain's own
  int model_texture_reduction = 0, ground_texture_reduction = 0;
  int ground_texture_size = 256;
  float lod_scale = 1, lod_bias = 50;
  float roost_frequency = 1000;
  int texture_compress = 0, reflections = 1;
  int erode = 0;  // automatic erosion amount, 1024ths
  // switches
  int fugly = 0, nosound = 0, novertexarrays = 0, learn = 0, practice = 0;
  int warp = 0, record_video = 0, editor = 0, hidden_pause = 0, hidden_hud = 0;
  int accurate_skip = 0, glfinish = 0, print_orientation = 0, open_home = 0;
  int draw_fps = 0, draw_time = 0, draw_ping = 0, draw_speed = 0, draw_render_stats = 0;
  int verbosity = 0;
  double lock_fps = 0;
  double fake_lag = 0;  // seconds
  int fake_loss = 0;    // percent
  int rotate_lineup = 0;
  float chase_center[3] = {0, 2.52f, 0.52f};
  std::string record_audio, track, connect, password, demo_file;
  int record_audio_given = 0, connect_given = 0;
  // batch runs
  int headless = 0;
  int seed_given = 0;
  uint32_t seed = 0;
  int64_t tics_limit = 0;  // 0: no limit
  int exit_after_race = 0;
  // A race started without menus: this run's New Race settings, never saved.
  std::string race_slots;  // "--race": one character per gate, H R 2 4 or .
  int race_given = 0;
  int race_minutes = -1, race_laps = -1, race_skill = -1;  // -1: the menu's
  int record_demo = 0, time_trial = 0;
  std::string drive;  // "follow" or a control script for the local player
  int print_hash = 0;  // print the world hash when a headless run ends
  std::vector<std::string> console_lines;  // "--console": run once start-up is done
  int help = 0;
};
extern Settings settings;

// The detail settings that follow from the configuration.
void derive_detail_settings(const Config &c, Settings *s);

// Fills `s` from the arguments after the program name. Returns 0 to go on,
// 1 for a bad command line; `errors` receives what belongs on standard error
// (also warnings when the result is 0). "--help" sets s->help.
int parse_command_line(int argc, const char *const *argv, Settings *s, std::string *errors);
// The "--help" text.
const char *command_line_help();

// -------------------------------------------------------------- loop state
struct LoopState {
  double last_frame_time = 0;
  double accumulated_time = 0;
  double sim_time = 0;
  double game_clock = 0;
  double frame_step = 0;
  double frame_now = 0;  // the clock as read when the step was measured
  double min_frame_step = 1e30, max_frame_step = 0;
  int frame_time_histogram[8] = {};
  float *frame_time_log = nullptr;
  int frame_time_count = 0;
  double stutter_threshold = 0;
  double last_checkpoint_time = 0;
  int quit_requested = 0;
  int paused = 0;
  int view_mode = VIEW_NO_TRACK;
  int menu_screen = 0;
  int followed_rider = 0;
  float control_slots[CONTROL_SLOT_COUNT] = {};
  double lock_interval = 0;  // 1 / "--lock-fps", 0 when off
  int64_t tics_run = 0;      // tics since the loop began
  int tics_this_frame = 0;
  int mouse_left = 0;
  // orbit camera
  double orbit_distance = 10, orbit_height = 5, orbit_angle = 0;
  // trackside camera
  int trackside_camera = -1;  // -1 the free camera
  int auto_camera = 0;
  double zoom_speed = 0;
  int sticky_dab_held = 0;
  float prev_dab_slot = 0, prev_auto_slot = 0;
  double next_setup_check = 5;
  int screenshot_next = -1;  // -1 before the first screenshot
  int screenshot_pending = 0;  // taken from the next drawn frame, HUD and all
};
extern LoopState loop;

// Resets the loop state as at start-up, with the clock read now.
void loop_init();
// Runs frames until quit is requested or the buffer swap fails.
void main_loop();
// One frame: draw, audio, measure the step, run the tics, after-tic steps.
// Returns 0 when the buffer swap failed.
int run_frame();
// The measuring and tic halves of a frame, separately for tests.
void measure_frame_step();
void run_tics();
void after_tics();
void stutter_checkpoint(const char *label);
// 1 when the menu screen changed since the frame began.
int menu_changed_this_frame();
// Marks the start of a frame for that test (tests drive handle_key alone).
void menu_frame_begin_for_tests();
// The mouse pointer axes the menus follow.
void loop_open_cursor();
void loop_close_cursor();
// A notice over the view ("Paused"): white, 30 lines per screen height.
void draw_big_text(const char *text);
// Drawable size of the last drawn frame.
extern int frame_width, frame_height;
// The "--record-audio" file, or null.
extern FILE *record_audio_file;
// Bucket 0..7 of a frame duration in seconds for the histogram.
int frame_histogram_bucket(double seconds);
// Server clock scaling of a frame step: s server tic, l race tic, drop tic.
double server_step_scale(double server_tic, int now_tic, int drop_tic);

// Clock and event source of the loop; tests replace them. Times are seconds.
struct LoopIo {
  double (*now)();
  void (*sleep)(double seconds);
  // The oldest pending input event stamped no later than `until` (seconds):
  // 1 with code and down flag, 0 when none.
  int (*next_event)(double until, int *code, int *down);
  // Called after every tic when set (tests and batch tools watch the run).
  void (*tic_done)();
  // The shortest time between drawn frames (the display's refresh), 0 for
  // none; null counts as 0.
  double (*frame_interval)() = nullptr;
};
extern LoopIo loop_io;
void loop_io_default();

// ----------------------------------------------------------------- controls
// The bindings themselves live in the platform layer (control_bindings).
// Key codes of the user-interface keys, looked up at start-up (0 unknown).
struct UiKeys {
  int up, down, left, right, enter, keypad_enter, esc, pause, cursor_left,
      cursor_right, page_up, page_down, close, tab;
  int digit[10];
};
extern UiKeys ui_keys;
void ui_keys_lookup();

// Zeroes every control value and the mouse button (loading screens).
void clear_controls();
// Recomputes the control slots from the controls and polled axes.
void poll_control_slots();
// One input event, in the order the loop handles them.
void handle_key(int code, int down);
// The local player's controls applied to a rider: the control slots turned
// into a tic command (clutch ramp from the rider's clutch value, sticky sit/dab
// kept in the loop state), then handed over.
struct Rider;
struct TicCommand;
TicCommand controls_to_command(const float *slots, float clutch, int reversed, int sticky);
void apply_controls(Rider *r);
// Next (+1) or previous (-1) rider in the running order.
void follow_next_rider(int direction);
// Saves a screenshot of the current frame.
void take_screenshot();
// The number the first screenshot of a session gets: one past the highest
// "screenshot<n>" among the names (null-terminated list).
int next_screenshot_number(const char *const *names);

// ------------------------------------------------------------------ views
void update_view_mode();
void next_view_mode();  // Tab
void orbit_camera_controls();
void trackside_camera_controls();
// Where the orbit camera stands and what it looks at, for the drawing.
struct OrbitCamera {
  double eye[3], target[3];
};
// The orbit camera around a rider slot, from the settings and loop state.
OrbitCamera orbit_camera_for(int slot);
// Inputs of the orbit camera: the target point, the rider's forward axis
// and velocity, whether the local player is followed, the ground height
// under a point.
struct OrbitInput {
  double target[3];
  double forward[3];
  double velocity[3];
  int local;
  int rigid;
  double distance, height;  // used when the local player is followed
  double orbit_distance, orbit_height, orbit_angle;
  double (*ground_height)(double x, double z);
};
OrbitCamera orbit_camera(const OrbitInput &in);
// The keyframe camera of the trackside view: keyframes kept sorted by tic.
struct Keyframe {
  double pos[3], rot[4];  // position, orientation quaternion
  double fov;
  int tic;
};
enum { KEYFRAME_MAX = 1024 };
// A keyframe from the free trackside camera at the tic.
void keycam_add(int tic);
// The first keyframe later than the tic, else the last (all of them when
// fewer than two exist).
void keycam_delete(int tic);
void keycam_clear();
int keycam_count();
const Keyframe *keycam_get(int i);
void keycam_replace(const Keyframe *frames, int count);
// Lifts every rider clear of the ground when leaving the editor.
void lift_riders_clear();
// The camera of this frame's view mode (rider, orbit, trackside): 0 when
// the view shows no world. Works without a window.
struct FrameCamera;
int frame_camera(FrameCamera *out);
// The rider view of a slot, printing its orientation when asked.
int rider_camera(int slot, FrameCamera *out);
// The selected trackside camera, the free one or the keyframe path, turned
// towards the followed rider.
int trackside_camera(FrameCamera *out);
// Works out this frame's camera and publishes it (also headless); 1 when
// there is a world to draw from it.
int frame_camera_publish(FrameCamera *out);
// The free trackside camera: placed by track loading, moved by the zoom.
void free_camera_at(const float position[3]);
void free_camera_move(double distance);

// ------------------------------------------------------------------ races
// "--drive": the local player ridden by the planned rider of the default
// course ("follow") or by a control script file. Call once the track is
// loaded: 0, or 1 after adding the reason to errors.
int drive_setup(const char *source, const char *track_folder, std::string *errors);
int drive_active();
// This tic's command for the local player's rider (before the race tic).
void drive_tic();
// A headless run prints each lap and the final order on standard output.
void race_report_install();
// This run's New Race settings: the command line's, else the menu's.
struct NewRace {
  int record;
  int time_limit_tics;
  int laps;
  int skill;
};
NewRace new_race_settings();
// The lineup of "--race": gate i from character i (H local, R robot,
// 2 and 4 two- and four-stroke robots, . empty), the rest empty.
void lineup_from_text(const char *slots, int out[RIDER_SLOTS]);

// Frame statistics for the benchmark (TW_FRAME_STATS, TW_FRAME_STATS_FINISH).
void frame_stats_open();
void frame_stats_close();
int frame_stats_on();
void frame_stats_checkpoint(const char *label);
void frame_stats_frame_begin();

// The menu's quick race: the player and nine robots on the selected track.
void quick_race();
void menu_hooks_install();

// ---------------------------------------------------------------- start-up
// The whole program: start-up, loop, shutdown. Returns the exit status.
int app_main(int argc, char **argv);
// 1 when running without a window.
int app_headless();
// The loading screen (progress texts, spinner); installs itself in ui_hooks.
void loading_screen_install();
