// Start-up and shutdown: everything is brought up in a fixed order before
// the main loop and taken down in the reverse order after it.
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "app/app.h"
#include "core/core.h"
#include "app/config.h"
#include "app/console.h"
#include "bike/bike.h"
#include "bike/engine_sound.h"
#include "bike/physics.h"
#include "bike/rider.h"
#include "bike/robot.h"
#include "gfx/render.h"
#include "gfx/terrain_render.h"
#include "net/net.h"
#include "platform/audio.h"
#include "race/demo.h"
#include "race/race.h"
#include "race/series.h"
#include "race/world_hash.h"
#include "script/script.h"
#include "gfx/gfx.h"
#include "gfx/lighting.h"
#include "gfx/model.h"
#include "gfx/rider_draw.h"
#include "gfx/scenery_draw.h"
#include "platform/platform.h"
#include "terrain/deform.h"
#include "terrain/terrain.h"

const char *const VERSION_STRING = "2022-11-03-1628 snapshot";

FILE *record_audio_file = nullptr;

namespace {

Window *window = nullptr;
bool gfx_ready = false;

std::vector<std::string> video_modes;
// Choosable pictures: riding gear, helmet, bike graphics, wheels.
std::vector<std::string> picture_lists[4];
int picture_selected[4];
struct DemoEntry {
  std::string name, display;
};
std::vector<DemoEntry> demo_list;

int headless_run = 0;

// ------------------------------------------------------------ fatal faults
// Nothing that could need memory: the context goes with the window.
void out_of_memory() {
  audio_close();
  if (window) window_close(window);
  window = nullptr;
  message_box("Error", "Out of virtual memory");
  exit(1);
}

void gfx_fatal(const char *text) {
  audio_close();
  if (window) window_close(window);
  window = nullptr;
  message_box("Error", "%s", text);
  exit(1);
}

// ------------------------------------------------------------ start-up
void build_video_modes() {
  video_modes.clear();
  video_modes.push_back("Default Fullscreen");
  video_modes.push_back("Windowed");
  const DisplayMode *m = display_modes();
  for (int i = 0; m[i].width; i++) {
    if (m[i].bits != m[0].bits) continue;
    char label[32];
    snprintf(label, sizeof label, "%dx%d", m[i].width, m[i].height);
    video_modes.push_back(label);
  }
}

bool starts_with(const char *s, const char *prefix) {
  return strncmp(s, prefix, strlen(prefix)) == 0;
}

bool ends_with(const char *s, const char *suffix) {
  size_t n = strlen(s), k = strlen(suffix);
  return n >= k && strcmp(s + n - k, suffix) == 0;
}

void build_picture_lists(const char *const *names) {
  char bike_prefix[64];
  bike_graphics_prefix(bike_model(setup_bike_model(&rider_setup)), bike_prefix, sizeof bike_prefix);
  const char *prefixes[4] = {"rider_body-", "rider_head-", bike_prefix, "wheels-"};
  const int saved_keys[4] = {SETUP_RIDER_TEXTURE, SETUP_HEAD_TEXTURE, SETUP_BIKE_TEXTURE,
                             SETUP_WHEEL_TEXTURE};
  for (int l = 0; l < 4; l++) {
    picture_lists[l].clear();
    picture_selected[l] = 0;
    for (int i = 0; names && names[i]; i++)
      if (starts_with(names[i], prefixes[l])) picture_lists[l].push_back(names[i]);
    const char *saved = setup_text(&rider_setup, saved_keys[l]);
    for (size_t i = 0; saved && i < picture_lists[l].size(); i++)
      if (picture_lists[l][i] == saved) picture_selected[l] = int(i);
  }
}

// After "readsetup", good or not: the bike's graphics list and the saved
// pictures, the server's copy of the player, and the player's own bike.
void setup_was_read(RiderSetup *s) {
  build_picture_lists(file_index_build());
  net_client_info_changed();
  int f = loop.followed_rider;
  Rider *r = rider_in_slot(f);
  if (r && rider_roles[f] == ROLE_LOCAL) rider_apply_setup(r, s, !net_connected(), loop.game_clock);
}

void build_demo_list(const char *const *names) {
  demo_list.clear();
  for (int i = 0; names && names[i]; i++) {
    const char *n = names[i];
    if (!starts_with(n, "demos/") || !ends_with(n, ".twdemo")) continue;
    const char *base = strrchr(n, '/') + 1;
    const char *dot = strrchr(base, '.');
    std::string display = dot ? std::string(base, size_t(dot - base)) : std::string(base);
    if (log_verbosity >= 1) log_printf("%s -> %s\n", n, display.c_str());
    demo_list.push_back({n, display});
  }
}

void load_series(const char *const *names) {
  for (int i = 0; names && names[i]; i++)
    if (ends_with(names[i], ".series")) series_load(names[i]);
}

void open_audio() {
  if (settings.record_audio_given) {
    record_audio_file = fopen(settings.record_audio.c_str(), "wb");
    // The run still uses the read-back output; the user should know that
    // nothing is being written.
    if (!record_audio_file)
      fprintf(stderr, "Can't open \"%s\" for writing\n", settings.record_audio.c_str());
    audio_open_readback(88320, int(88320 * TIC_SECONDS));
  } else if (!settings.nosound && !headless_run) {
    audio_open_device();
  }
  if (audio_is_open())
    engine_sound_output = EngineSoundOutput{sound_create,   sound_free,       sound_play,
                                            sound_set_rate, sound_set_volume, sound_set_pan,
                                            sound_set_loop, sound_position,   sound_write};
}

// Drains the window's events, keeping a close request.
void drain_events() {
  int code, down;
  while (window && events_next(window, &code, &down))
    if (code == CODE_CLOSE) loop.quit_requested = 1;
}

void wait_until_drawable() {
  if (!window || !window->sdl_window) return;
  while ((window->hidden || window->busy) && !loop.quit_requested) {
    drain_events();
    sleep_for(0, 62500);
  }
}

void set_initial_gl_state() {
  gfx_initial_state();
  if (config.ground_mipmaps == 0) terrain_set_mipmaps(0);
}

// -------------------------------------------------------------- shutdown
void shutdown_first_half() {
  if (net_connected()) net_disconnect();
  net_reset();
  series_finish_event();
  if (settings.learn) robot_lines_save(config.skill);
  robot_lines_free();
  log_printf("Deallocating bikes\n");
  for (int i = 0; i < RIDER_SLOTS; i++) {
    engine_sound_free(i);
    if (Rider *r = rider_in_slot(i)) destroy_rider(r);
  }
  log_printf("Finished deallocating bikes\n");
  script_shutdown();
  track_sounds_free();
  demo_close();
  demo_finish_recording();
  free_track();
  physics_shutdown();
  log_printf("Freeing memory (1)\n");
  log_printf("Closing input devices\n");
  loop_close_cursor();
  controls_release_all();
}

int shutdown_second_half(int status) {
  log_printf("Closing audio\n");
  audio_close();
  engine_sound_output = EngineSoundOutput{};
  engine_sound_shutdown();
  if (record_audio_file) fclose(record_audio_file);
  record_audio_file = nullptr;
  log_printf("Writing config files\n");
  const char *t = track_menu_selected();
  if (t && t[0]) snprintf(config.track, sizeof config.track, "%s", t);
  config_write();
  net_library_shutdown();
  log_printf("Freeing memory (2)\n");
  series_free();
  track_list_free();
  log_printf("Freeing memory (3)\n");
  for (auto &l : picture_lists) l.clear();
  demo_list.clear();
  video_modes.clear();
  log_printf("Freeing file list\n");
  file_index_free();
  log_printf("Freeing memory (4)\n");
  log_printf("Deleting textures\n");
  if (gfx_ready) texture_purge(1);
  log_printf("Deleting models\n");
  models_delete();
  // The fonts, then the programs; the context goes with the window.
  if (gfx_ready) gfx_shutdown();
  gfx_ready = false;
  if (window) window_close(window);
  window = nullptr;
  log_close();
  mem_report();
  // Gives the audio thread time to fall silent; nothing to wait for without it.
  if (!headless_run) sleep_for(1, 0);
  return status;
}

// The game runs on without a writable home folder, but the user should know
// that nothing of this session will be kept.
void warn_unless_writable(const char *folder) {
  std::string probe = std::string(folder) + ".write-test-XXXXXX";
  int fd = mkstemp(probe.data());
  if (fd >= 0) {
    close(fd);
    unlink(probe.c_str());
    return;
  }
  fprintf(stderr, "Warning: can't write to the home folder %s (%s): nothing will be saved\n",
          folder, strerror(errno));
}

// The fixed lists of options that matter before the command line is read.
bool early_flag(int argc, char **argv, const char *flag) {
  for (int i = 1; i < argc && strcmp(argv[i], "--") != 0; i++)
    if (!strcmp(argv[i], flag)) return true;
  return false;
}

// Two names of the same file (a data name resolves in the home folder).
bool same_file(const char *a, const char *data_name) {
  char path[1400];
  if (!data_path(data_name, path, sizeof path)) return false;
  char *ra = realpath(a, nullptr), *rb = realpath(path, nullptr);
  bool same = ra && rb && !strcmp(ra, rb);
  free(ra);
  free(rb);
  return same;
}

// The ground as a headless run leaves it, its queued ruts dug first, so
// a race and its replay can be compared.
void print_height_digest() {
  if (!terrain.heights) return;
  float rate = float(settings.erode) / 1024;
  for (int guard = 0; rate > 0 && erode_queue_length() > 0 && guard < 1000000; guard++)
    erode_process(nullptr, rate, race_now_tic());
  uint8_t d[20];
  ripemd160(terrain.heights, sizeof(float) * size_t(terrain.size) * size_t(terrain.size), d);
  printf("height field digest ");
  for (uint8_t b : d) printf("%02x", b);
  printf("\n");
  fflush(stdout);
}

}  // namespace

int app_headless() { return headless_run; }

int app_main(int argc, char **argv) {
  if (argc == 2 && !strcmp(argv[1], "--open-home")) {
    open_home_folder();
    return 0;
  }
  // A first look at the command line: help needs no game data, and a
  // headless run must never block on a message box. The real parse (and its
  // messages) comes after the configuration.
  {
    Settings first;
    std::string ignored;
    int bad = parse_command_line(argc - 1, argv + 1, &first, &ignored);
    if (first.help) {
      fputs(command_line_help(), stdout);
      return 0;
    }
    headless_run = bad ? early_flag(argc, argv, "--headless") : first.headless;
  }
  platform_set_headless(headless_run);
  // Ctrl-C and SIGTERM arrive as a close request: the shutdown runs in full.
  platform_catch_signals();
  mem_fatal_hook = out_of_memory;
  gfx_fatal_hook = gfx_fatal;

  message_window_clear();
  ui_hooks.message = message_store_add;
  const char *home = search_folder(0);
  if (home) {
    make_folders(home);
    warn_unless_writable(home);
    log_printf("KORB_LOGFILE=%slastlog.txt", home);
  }
  if (find_game_data() < 0) {
    message_box("Problem starting Tarnwick", "Can't find game data\n");
    return 1;
  }
  log_printf("Tarnwick version %s\n", VERSION_STRING);
  build_video_modes();

  config_set_defaults();
  config_set_video_modes(video_modes);
  controls_set_defaults();
  apply_detail_preset(0);
  config_read();
  setup_watch_reset(&rider_setup);
  setup_read_hook = setup_was_read;
  time_trial_set_backup_aborts(config.time_trial_abort);

  settings = Settings();
  settings.width = config.xres;
  settings.height = config.yres;
  settings.draw_fps = config.draw_fps;
  settings.draw_time = config.draw_time;
  settings.draw_ping = config.draw_ping;
  settings.draw_speed = config.draw_speed;
  settings.draw_render_stats = config.draw_render_stats;
  derive_detail_settings(config, &settings);

  std::string errors;
  int bad = parse_command_line(argc - 1, argv + 1, &settings, &errors);
  fputs(errors.c_str(), stderr);
  if (bad) return 1;
  log_verbosity = settings.verbosity;
  config.draw_fps = settings.draw_fps;
  config.draw_time = settings.draw_time;
  config.draw_ping = settings.draw_ping;
  config.draw_speed = settings.draw_speed;
  config.draw_render_stats = settings.draw_render_stats;
  gfx_settings.texture_reduction = settings.model_texture_reduction;
  gfx_settings.texture_compress = settings.texture_compress;
  scene_settings.reflections = settings.reflections;
  scene_settings.model_detail = float(config.model_detail);
  scene_settings.lod_scale = settings.lod_scale;
  scene_settings.lod_bias = settings.lod_bias;
  scene_settings.lens_flare = config.lens_flare;
  scene_settings.hide_rider = config.hide_rider;
  scene_settings.billboard_lookahead = config.billboard_optimize_lookahead;
  roost_density = int(settings.roost_frequency);
  if (settings.open_home) {
    open_home_folder();
    return 0;
  }
  if (settings.connect_given) {
    snprintf(config.server_name, sizeof config.server_name, "%s", settings.connect.c_str());
    server_history_push(config.server_name);
  }
  // A headless run is a measurement: it repeats exactly unless asked not to.
  if (headless_run && !settings.seed_given) {
    settings.seed_given = 1;
    settings.seed = 0;
  }
  rng_seed(settings.seed_given ? settings.seed : uint32_t(time(nullptr)));
  race_set_seed(settings.seed_given, settings.seed);
  race_set_practice(settings.practice);

  // The window: windowed at the requested size, else full screen in the
  // chosen mode (0 x 0 for the desktop mode).
  set_gl_request(settings.gl_major, settings.gl_minor, settings.gl_dialect);
  int mode = config.video_mode;
  if (mode < 0 || mode >= int(video_modes.size())) mode = 1;
  int ww = 0, wh = 0, flags = settings.depth & 0xff;
  if (mode == 1) {
    ww = settings.width;
    wh = settings.height;
  } else {
    flags |= WINDOW_OPEN_FULLSCREEN;
    if (mode > 1) sscanf(video_modes[size_t(mode)].c_str(), "%dx%d", &ww, &wh);
  }
  window = window_open("Tarnwick", ww, wh, flags, 0, settings.zdepth, 0, 0);
  if (!window) {
    fprintf(stderr, "Can't open the window: %s\n", window_open_error());
    return 1;
  }

  if (!headless_run) {
    if (!gfx_log_context(get_gl_proc)) {
      // Nothing past the window was started: only the second half applies.
      log_printf("OpenGL version too old\n");
      fprintf(stderr, "OpenGL version too old: 3.1 or later is needed (%s)\n",
              gl_context_version());
      return shutdown_second_half(1);
    }
    if (!gfx_init(get_gl_proc, settings.gl_dialect == GL_DIALECT_ES)) {
      fputs("Can't initialize shaders\n", stderr);
      return shutdown_second_half(1);
    }
    gfx_ready = true;
    // The ground's drawing exists only with GL: a headless run has none.
    ground_settings.tolerance = settings.terrain_detail;
    ground_settings.texture_size = settings.ground_texture_size;
    ground_settings.mipmaps = config.ground_mipmaps != 0;
    ground_settings.resync_rate = int(config.terrain_resync_rate);
    ground_settings.texture_reduction = settings.ground_texture_reduction;
    terrain_render_attach();
  }

  loading_screen_install();
  show_progress("Building file index");
  const char *const *names = file_index_build();
  build_picture_lists(names);
  if (track_list_build() == 0) {
    fputs("No tracks found\n", stderr);
    return shutdown_second_half(1);
  }
  // A batch run must not ride something else than it was asked to.
  if (!settings.track.empty() && !track_find(settings.track.c_str())) {
    fprintf(stderr, "No track named \"%s\"\n", settings.track.c_str());
    return shutdown_second_half(1);
  }
  if (!settings.demo_file.empty()) {
    DataFile *f = data_open(settings.demo_file.c_str(), "rb");
    if (!f) {
      fprintf(stderr, "Can't open demo file \"%s\"\n", settings.demo_file.c_str());
      return shutdown_second_half(1);
    }
    data_close(f);
  }
  build_demo_list(names);
  load_series(names);
  track_menu_select(!settings.track.empty() ? settings.track.c_str() : config.track);

  open_audio();
  wait_until_drawable();
  if (gfx_ready) {
    set_initial_gl_state();
    gfx_load_pictures();  // fonts and HUD pictures; flushes the GL
  }

  loop_open_cursor();
  controls_resolve_all();
  ui_keys_lookup();
  if (!physics_init()) {
    fputs("Can't start the physics\n", stderr);
    return shutdown_second_half(1);
  }
  track_hooks.script_stop = [] {
    script_shutdown();
    track_sounds_free();
  };
  track_hooks.tune_process = tune_process;
  // Headless runs load no lighting, models or pictures.
  if (!headless_run) {
    track_hooks.lighting_load = [](const char *folder) {
      std::string path = std::string("@") + folder + "/lighting";
      lighting_load(path.c_str());
    };
    rider_graphics_install();
    track_hooks.new_texture_generation = [] {
      texture_generation++;
      model_generation++;
    };
    track_hooks.graphics_prepare = scenery_graphics_prepare;
    track_hooks.textures_purge_unused = [] {
      model_purge(0);
      texture_purge(0);
    };
  }
  track_hooks.free_camera_at = free_camera_at;
  menu_hooks_install();

  std::string track = settings.track;
  // A race asked for on the command line: this run's New Race (or Time
  // Trial), without menus.
  bool command_race = settings.race_given || settings.time_trial;
  // A headless run has nothing to show but the simulation, and a race needs
  // a track: without a named one, the one the menu would offer first.
  if ((headless_run || command_race) && track.empty() && !settings.connect_given) {
    track = config.track[0] ? config.track : track_folders[0];
    track_menu_select(track.c_str());
  }
  bool demo = false;
  if (!settings.demo_file.empty()) {
    char demo_track[256] = "";
    if (demo_open_playback(settings.demo_file.c_str(), demo_track, sizeof demo_track)) {
      demo = true;
      track = demo_track;
      track_menu_select(demo_track);
    }
  }
  for (int i = 0; i < RIDER_SLOTS; i++) {
    rider_roles[i] = ROLE_REPLAYED;
    lineup[i] = 0;
  }
  running_count = 0;
  if (!demo) lineup[0] = 2;
  if (settings.race_given) {
    lineup_from_text(settings.race_slots.c_str(), lineup);
    rotate_lineup(settings.rotate_lineup);
  }
  race_hooks.connected = net_connected;
  demo_hooks.erosion = [] { return settings.erode; };
  demo_hooks.set_erosion = [](int amount) { settings.erode = amount; };
  demo_set_backups(config.demo_backups);
  if (headless_run) race_report_install();
  int followed = 0;
  int loaded = 0;
  if (!track.empty()) {
    NewRace n = new_race_settings();
    if (settings.time_trial) loaded = load_track(nullptr, 0, 0, 0, 1000, n.skill);
    else if (settings.race_given) {
      // Racing against a demo: its riders fill the gates left empty.
      if (n.record && demo && same_file(settings.demo_file.c_str(), "@demos/default.twdemo")) {
        add_message("Can't record and play from same file - recording disabled");
        n.record = 0;
      }
      loaded = load_track(lineup, demo, n.record, n.time_limit_tics, n.laps, n.skill);
    }
    else loaded = load_track(lineup, demo, 0, 0, 1000, config.skill);
  }
  if (loaded) followed = race_first_followed();
  std::string race_errors;
  if (!settings.drive.empty() && !command_race)
    race_errors += "--drive rides in a race: give --race or --time-trial\n";
  else if (!settings.drive.empty() && loaded)
    drive_setup(settings.drive.c_str(), track_loaded_folder(), &race_errors);
  if (race_errors.empty() && settings.exit_after_race &&
      !(loaded && (command_race || demo) && race_has_laps()))
    race_errors += "Nothing to race: --exit-after-race ends the run (give --race or "
                   "--time-trial on a track with timing gates)\n";
  if (!race_errors.empty()) {
    fputs(race_errors.c_str(), stderr);
    shutdown_first_half();
    return shutdown_second_half(1);
  }
  if (settings.connect_given) net_start(config.server_name, settings.password.c_str());

  int quit = loop.quit_requested;  // a close while loading still counts
  loop_init();
  loop.quit_requested = quit;
  loop.followed_rider = followed;
  loop.menu_screen = settings.connect_given || command_race ? -1 : 0;
  loop.view_mode = VIEW_NO_TRACK;
  for (const std::string &line : settings.console_lines) console_line(line.c_str());
  main_loop();
  if (settings.print_hash) {
    // The world as the run left it, for comparing runs bit for bit.
    char hash[41];
    world_hash_text(hash);
    printf("world hash %s\n", hash);
    fflush(stdout);
  }
  if (headless_run) print_height_digest();

  shutdown_first_half();
  return shutdown_second_half(0);
}
