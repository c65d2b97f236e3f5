// The main loop: one frame draws, measures the real time that passed and
// runs as many fixed tics as it allows.
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "app/app.h"
#include "core/core.h"
#include "core/mathutil.h"
#include "app/console.h"
#include "bike/bike.h"
#include "bike/engine_sound.h"
#include "bike/physics.h"
#include "editor/editor.h"
#include "gfx/camera_math.h"
#include "gfx/frame.h"
#include "gfx/hud.h"
#include "gfx/render.h"
#include "menu/menu.h"
#include "net/net.h"
#include "platform/audio.h"
#include "race/demo.h"
#include "race/history.h"
#include "race/race.h"
#include "terrain/deform.h"
#include "gfx/gfx.h"
#include "platform/platform.h"

LoopState loop;
LoopIo loop_io;

// ------------------------------------------------------------ clock, events
static double real_now() { return double(clock_ms()) / 1000; }

// Whole milliseconds, rounded up: the clock has no finer steps, and a sleep
// rounded down to nothing would spin.
static void real_sleep(double seconds) {
  if (seconds <= 0) return;
  // A lock-fps rate near zero asks for ages; keep the conversion defined.
  if (seconds > 1e9) seconds = 1e9;
  int64_t ms = int64_t(ceil(seconds * 1000));
  sleep_for(int(ms / 1000), int(ms % 1000) * 1000);
}

static int window_event(double until, int *code, int *down) {
  Window *w = window_current();
  if (!w) return 0;
  if (std::isinf(until)) return events_next(w, code, down);
  int64_t us = int64_t(floor(until * 1e6));
  return events_next_until(w, code, down, us / 1000000, int(us % 1000000));
}

// Frames drawn faster than the display shows them only burn processor time.
// 60 per second when the display does not say (or says something unusable).
static double display_frame_interval() {
  Window *w = window_current();
  if (!w || !w->gl_context) return 0;  // nothing is drawn
  int hz = window_refresh_rate(w);
  return 1.0 / (hz >= 24 ? hz : 60);
}

void loop_io_default() {
  loop_io = {real_now, real_sleep, window_event, nullptr, display_frame_interval};
}

// ---------------------------------------------------------------- state
void loop_init() {
  if (!loop_io.now) loop_io_default();
  float *log = loop.frame_time_log;
  loop = LoopState();
  loop.frame_time_log = log;
  loop.last_frame_time = loop_io.now();
  loop.lock_interval = settings.lock_fps > 0 ? 1.0 / settings.lock_fps : 0;
  loop.next_setup_check = 5;
}

void stutter_checkpoint(const char *label) {
  if (frame_stats_on()) frame_stats_checkpoint(label);
  if (loop.stutter_threshold == 0) return;
  double t = loop_io.now();
  if (loop.last_checkpoint_time != 0 && t - loop.last_checkpoint_time > loop.stutter_threshold)
    add_messagef("Stutter in %s - %f seconds", label, t - loop.last_checkpoint_time);
  loop.last_checkpoint_time = t;
}

// ------------------------------------------------------- the frame's step
int frame_histogram_bucket(double seconds) {
  double tics = seconds / TIC_SECONDS;
  int b = 0;
  for (double limit = 1; b < 7 && tics >= limit; limit *= 2) b++;
  return b;
}


double server_step_scale(double server_tic, int now_tic_, int drop_tic_) {
  double d = (server_tic - now_tic_ - 1) * TIC_SECONDS;
  if (d < 0) return (clampd(d + 1, 0, 1) + 1) / 2;  // ahead: half to full speed
  if (now_tic_ < drop_tic_) return clampd(d, 0, 1) * 3 + 1;  // catch up before the drop
  return clampd(8 * d, 0, 1) * 0.125 + 1;
}

void measure_frame_step() {
  double now = loop_io.now();
  double elapsed = now - loop.last_frame_time;
  loop.frame_time_histogram[frame_histogram_bucket(elapsed)]++;
  double step;
  bool offline = !net_connected();
  if (offline && loop.lock_interval > 0) {
    double wake = loop.last_frame_time + loop.lock_interval;
    if (wake > now) loop_io.sleep(wake - now);
    now = loop_io.now();
    step = loop.lock_interval;
  } else if (offline && settings.warp) {
    step = WARP_TICS * TIC_SECONDS;
  } else {
    // Never a frame shorter than one tic, nor frames drawn faster than the
    // display refreshes: sleep instead of spinning. Never so long that the
    // step cap would slow the game.
    double shortest = loop_io.frame_interval ? loop_io.frame_interval() : 0;
    if (shortest < TIC_SECONDS) shortest = TIC_SECONDS;
    if (shortest > FRAME_STEP_CAP) shortest = FRAME_STEP_CAP;
    double e = elapsed;
    while (e < shortest) {
      loop_io.sleep(shortest - e);
      now = loop_io.now();
      e = now - loop.last_frame_time;
    }
    step = e < FRAME_STEP_CAP ? e : FRAME_STEP_CAP;
  }
  if (step < loop.min_frame_step) loop.min_frame_step = step;
  if (step > loop.max_frame_step) loop.max_frame_step = step;
  if (net_socket_open()) step *= server_step_scale(net_server_tic(), race_now_tic(), race_drop_tic());
  if (loop.frame_time_log && loop.frame_time_count < FRAME_TIME_LOG_SIZE)
    loop.frame_time_log[loop.frame_time_count++] = float(elapsed);
  loop.accumulated_time += step;
  loop.game_clock += step;
  loop.frame_step = step;
  loop.frame_now = now;
}

// ---------------------------------------------------------------- tics
static int followed_is_local() { return rider_roles[loop.followed_rider] == ROLE_LOCAL; }

static void record_audio_block() {
  // The read-back output advances by one block per tic even when the file
  // could not be opened.
  const int16_t *block = audio_readback_block();
  if (!record_audio_file || !block) return;
  uint8_t bytes[690 * 2];
  for (int i = 0; i < 690; i++) {
    bytes[2 * i] = uint8_t(block[i] & 0xff);
    bytes[2 * i + 1] = uint8_t((uint16_t(block[i]) >> 8) & 0xff);
  }
  fwrite(bytes, 1, sizeof bytes, record_audio_file);
}

static void run_tic(double moment) {
  // Events are taken up to the tic's own moment so that an input counts in
  // the tic nearest to when it happened.
  double until = moment >= loop.frame_now ? INFINITY : moment;
  int code, down;
  while (loop_io.next_event(until, &code, &down)) {
    stutter_checkpoint("getmessage");
    handle_key(code, down);
  }
  stutter_checkpoint("processmessage");
  if (learn_binding()) learn_tic(loop.game_clock);
  poll_control_slots();

  int f = loop.followed_rider;
  bool menu = loop.menu_screen >= 0;
  bool local = followed_is_local();
  if (!menu) {
    if (loop.view_mode == VIEW_EDITOR) {
      editor_tic();
      if (!net_server_set()) return;
    } else if (local) {
      // A program riding the player's bike takes its controls too.
      if (!drive_active()) {
        time_trial_abort_rule(loop.control_slots[CTL_THROTTLE], loop.control_slots[CTL_BACK_UP]);
        if (!config.spy && rider_in_slot(f)) apply_controls(rider_in_slot(f));
      }
    } else if (loop.view_mode == VIEW_ORBIT) {
      orbit_camera_controls();
    } else if (loop.view_mode == VIEW_TRACKSIDE) {
      trackside_camera_controls();
    }
  } else if ((local || loop.view_mode == VIEW_EDITOR) && !net_server_set()) {
    // A single-player session stands still behind a menu.
    if (loop.view_mode == VIEW_EDITOR) editor_tic();
    return;
  }
  stutter_checkpoint("action");
  if (net_server_set()) {
    net_step();
    stutter_checkpoint("net");
  }
  if (!track_loaded()) {
    loop.view_mode = VIEW_NO_TRACK;
    return;
  }
  if (!loop.paused && loop.view_mode != VIEW_NO_TRACK &&
      !(net_connected() && !net_sending_tics())) {
    drive_tic();
    race_tic();
  }
  stutter_checkpoint("tic");
  if (settings.record_audio_given) record_audio_block();
}

void run_tics() {
  loop.tics_this_frame = 0;
  while (loop.sim_time < loop.accumulated_time) {
    loop.sim_time += TIC_SECONDS;
    double moment = loop.frame_now - (loop.accumulated_time - loop.sim_time);
    run_tic(moment);
    if (loop_io.tic_done) loop_io.tic_done();
    loop.tics_run++;
    loop.tics_this_frame++;
    if (settings.tics_limit && loop.tics_run >= settings.tics_limit) {
      loop.quit_requested = 1;
      break;
    }
  }
}

// ------------------------------------------------------------ after tics
static void setup_change_notice() {
  if (loop.game_clock < loop.next_setup_check) return;
  loop.next_setup_check = loop.game_clock + 5;
  // Entries are flagged when a setup is applied; the report also resets
  // the list from the current setup.
  char text[80];
  if (!setup_watch_report(&rider_setup, text, sizeof text)) return;
  if (net_connected()) net_send_chat(text);
  else add_message(text);
}

void after_tics() {
  if (settings.exit_after_race) {
    // The run ends with this race, also under "--warp": no restart.
    // A replay watched alone ends with its last block (demo_replay_over).
    int over = demo_replay_only() ? demo_replay_over() : race_over();
    if (track_loaded() && over) {
      race_give_up();
      loop.quit_requested = 1;
    }
  } else if (settings.warp && track_loaded() && race_leader_finished()) {
    rotate_lineup(1);
    NewRace n = new_race_settings();
    load_track(lineup, 0, n.record, n.time_limit_tics, n.laps, n.skill);
  }
  if (track_loaded()) {
    // Queued ruts are applied every frame; the rate is the automatic
    // erosion amount (0 leaves the ground as it is).
    const float *at = nullptr;
    float viewer[3];
    for (int i = 0; i < RIDER_SLOTS; i++) {
      Rider *r = rider_in_slot(i);
      if (rider_roles[i] != ROLE_LOCAL || !r) continue;
      RiderPose pose;
      rider_get_pose(r, &pose);
      for (int k = 0; k < 3; k++) viewer[k] = float(pose.body[FRAME].position[k]);
      at = viewer;
      break;
    }
    erode_process(at, float(settings.erode) / 1024, race_now_tic());
    if (settings.erode > 0) stutter_checkpoint("erode");
  }
  // A configured rate of 31 or more would not fit an int.
  double work = pow(2.0, config.terrain_resync_rate);
  int budget = loop.view_mode == VIEW_EDITOR || !(work < INT_MAX) ? INT_MAX : int(work);
  terrain_update_step(budget);
  message_window_scroll(loop.game_clock);
  stutter_checkpoint("update");
  setup_change_notice();
  loop.last_frame_time = loop.frame_now;
}

// ---------------------------------------------------------------- frame
static Axis *cursor_axes[2];
static int cursor_last[2];
static int menu_at_frame_start = -1;

void loop_open_cursor() {
  cursor_axes[0] = axis_open("cursor-x");
  cursor_axes[1] = axis_open("cursor-y");
}

void loop_close_cursor() {
  for (Axis *&a : cursor_axes) {
    if (a) axis_close(a);
    a = nullptr;
  }
}

int menu_changed_this_frame() { return loop.menu_screen != menu_at_frame_start; }
void menu_frame_begin_for_tests() { menu_at_frame_start = loop.menu_screen; }

static void pointer_step() {
  if (!cursor_axes[0] || !cursor_axes[1]) return;
  int x = axis_read(cursor_axes[0]), y = axis_read(cursor_axes[1]);
  int dx = x - cursor_last[0], dy = y - cursor_last[1];
  cursor_last[0] = x;
  cursor_last[1] = y;
  if (loop.menu_screen < 0 || (dx == 0 && dy == 0)) return;
  if (loop.mouse_left) {
    if (!menu_changed_this_frame()) menu_pointer(x, y, 1, dx, dy);
  } else if (!learn_binding()) {
    menu_pointer(x, y, 0, dx, dy);
  }
}

void draw_big_text(const char *text) {
  text_mode_begin(30);
  text_draw(1, 1, 1, 1, text);
  text_mode_end();
  twgl_flush();
}

static void write_video_frame(int width, int height) {
  size_t row = size_t(width) * 3;
  uint8_t *pixels = static_cast<uint8_t *>(mem_alloc(row * size_t(height)));
  if (!pixels) return;
  gfx_read_frame_rgb(pixels, width, height);
  printf("P6\n%d %d\n255\n", width, height);
  // The GL's rows run bottom-up; pictures run top-down.
  for (int y = height - 1; y >= 0; y--) fwrite(pixels + row * size_t(y), 1, row, stdout);
  fflush(stdout);
  mem_free(pixels);
}

int frame_width = 0, frame_height = 0;

// The warm-up of a server race: the local player rides apart unless it is
// the one followed. A replayed rider shows only while its recorded states
// reach to within a second of now on both sides.
static int rider_hidden_by_race(int slot) {
  if (slot < 0 || slot >= RIDER_SLOTS || !rider_in_slot(slot)) return 1;
  if (rider_roles[slot] == ROLE_LOCAL)
    return slot != loop.followed_rider && net_connected() && !net_has_race_slot();
  if (rider_roles[slot] != ROLE_REPLAYED) return 0;
  const SlotHistory &h = histories[slot];
  if (h.count == 0) return 1;
  const int now = int(race_now_tic()), second = TICS_PER_SECOND;
  return h.entries[h.count - 1].tic < now - second || h.entries[0].tic > now + second;
}

static void frame_settings_fill(int width, int height) {
  FrameSettings &s = frame_settings;
  s.width = width;
  s.height = height;
  s.fugly = settings.fugly;
  s.hide_rider = config.hide_rider;
  s.ghost_fade_distance = float(config.ghost_fade_distance);
  s.lens_flare = config.lens_flare;
  s.verbosity = settings.verbosity;
  s.checkpoint = stutter_checkpoint;
  s.connected = net_connected;
  s.rider_hidden = rider_hidden_by_race;
  engine_sound_hooks.rider_hidden = rider_hidden_by_race;
}

static void draw_overlays(int mode) {
  int f = loop.followed_rider;
  if (suspension_graph_on() && (mode == VIEW_RIDER || mode == VIEW_ORBIT)) draw_suspension_graph();
  bool track_camera = loop.trackside_camera >= 0 && loop.trackside_camera < trackside_camera_count();
  if (mode == VIEW_TRACKSIDE && loop.auto_camera && !followed_is_local()) hud_draw_rider_name(f);
  HudInput in{};
  in.followed = f;
  in.trackside = mode == VIEW_TRACKSIDE;
  in.track_camera = mode == VIEW_TRACKSIDE && track_camera && !keyframe_mode;
  in.lean_indicator = rider_setup.options[SETUP_LEAN_INDICATOR].value != 0;
  in.info = {config.draw_fps, config.draw_time, config.draw_ping, config.draw_speed, config.draw_render_stats};
  in.fps = loop.frame_step > 0 ? 1 / loop.frame_step : 0;
  in.connected = net_connected();
  if (track_loaded()) hud_draw(in);
}

static int draw_frame(Window *w, const FrameCamera *cam) {
  int width, height;
  if (!w || !frame_begin(w, &width, &height)) return 1;
  frame_width = width;
  frame_height = height;
  frame_stats_frame_begin();
  int mode = loop.view_mode;
  frame_settings_fill(width, height);
  // A minimised window has nothing to draw into.
  bool drawable = width > 0 && height > 0;
  if (drawable) {
    twglUseProgram(PROGRAM_UNLIT);
    set_projection(width, height, float(config.fov));
    if (mode == VIEW_EDITOR) {
      editor_draw();
    } else if (cam) {
      const float pos[3] = {float(cam->position[0]), float(cam->position[1]), float(cam->position[2])};
      float R[9];
      for (int i = 0; i < 9; i++) R[i] = float(cam->R[i]);
      draw_world(pos, R, float(cam->fov), cam->own_slot);
      twgl_flush();
    } else {
      draw_title_screen(width, height);
    }
    if (!settings.hidden_hud) draw_overlays(mode);
    if (loop.paused && !settings.hidden_pause) draw_big_text("Paused");
    if (loop.screenshot_pending) {
      twgl_flush();
      take_screenshot();
      loop.screenshot_pending = 0;
    }
    if (settings.record_video && track_loaded()) write_video_frame(width, height);
    if (followed_is_local() && net_connected() && !net_has_race_slot())
      draw_big_text("Warmup mode - collisions disabled");
    message_window_draw();
    if (loop.menu_screen == CHAT_SCREEN) chat_line_draw();
    else menu_draw();
  }
  stutter_checkpoint("draw");
  if (settings.glfinish) twglFinish();
  twglFlush();
  if (!frame_end(w)) return 0;
  stutter_checkpoint("flip");
  return 1;
}

int run_frame() {
  update_view_mode();
  menu_at_frame_start = loop.menu_screen;
  FrameCamera cam;
  int have_camera = frame_camera_publish(&cam);
  if (!draw_frame(window_current(), have_camera ? &cam : nullptr)) return 0;
  if (audio_is_open()) {
    float level;
    if (loop.paused || loop.view_mode == VIEW_EDITOR) level = 0;
    else if (loop.menu_screen < 0) level = 1;
    else level = followed_is_local() ? 0 : 0.25f;
    engine_sound_settings.volume = config.volume;
    engine_sound_settings.comp_volume = config.comp_volume;
    engine_sound_settings.followed = loop.followed_rider;
    engine_sound_frame(level);
    audio_pump();
    stutter_checkpoint("sound");
  }
  measure_frame_step();
  pointer_step();
  run_tics();
  after_tics();
  return 1;
}

void main_loop() {
  frame_stats_open();
  if (!loop.frame_time_log)
    loop.frame_time_log = static_cast<float *>(mem_alloc(sizeof(float) * FRAME_TIME_LOG_SIZE));
  while (!loop.quit_requested) {
    if (!run_frame()) {
      fputs("The buffer swap failed (the OpenGL context was lost): ending\n", stderr);
      break;
    }
  }
  frame_stats_close();
  mem_free(loop.frame_time_log);
  loop.frame_time_log = nullptr;
  loop.frame_time_count = 0;
}
