// The built-in bike table and the rider setup: which bike a rider rides,
// its fixed constants, and the player's adjustments turned into physical
// values. No ODE, no drawing: the physics (bike/rider.h), the menus and the
// configuration read these.
#pragma once
#include <cstdint>

struct DataFile;

// ------------------------------------------------------------- bike table
// Units: feet, slugs, seconds, pounds-force, radians; rpm where named.
// Positions are in the bike's own frame at rest: x right, y up, z rearwards.

enum { BIKE_MODEL_COUNT = 80, TORQUE_POINTS = 50, GEAR_COUNT = 6 };

// Engine speed step of the torque curves: point i is at i * 500 rpm.
constexpr float TORQUE_RPM_STEP = 500.0f;

// The 23 part files of a row, in table order.
enum PartFile {
  PART_FRAME_MODEL,
  PART_FRAME_SHAPE,
  PART_BIKE_TEXTURE,
  PART_FORK_UPPER_MODEL,
  PART_FORK_UPPER_SHAPE,
  PART_FORK_LOWER_MODEL,
  PART_FORK_LOWER_SHAPE,
  PART_SWINGARM_MODEL,
  PART_SWINGARM_SHAPE,
  PART_FRONT_WHEEL_MODEL,
  PART_FRONT_WHEEL_SHAPE,
  PART_REAR_WHEEL_MODEL,
  PART_REAR_WHEEL_SHAPE,
  PART_WHEEL_TEXTURE,
  PART_HEAD_MODEL,
  PART_HEAD_TEXTURE,
  PART_RIDER_BODY_MODEL,
  PART_RIDER_BODY_FP_MODEL,
  PART_RIDER_SHAPE,
  PART_RIDER_TEXTURE,
  PART_SIDE_PLATES_MODEL,
  PART_FRONT_PLATE_MODEL,
  PART_RIDER_PLATE_MODEL,
  PART_FILE_COUNT
};

// Bone rest centres of the skinned rider body, in bone order.
enum FigureBone {
  BONE_LEFT_ELBOW,
  BONE_RIGHT_ELBOW,
  BONE_LEFT_SHOULDER,
  BONE_RIGHT_SHOULDER,
  BONE_LEFT_KNEE,
  BONE_RIGHT_KNEE,
  BONE_LEFT_HIP,
  BONE_RIGHT_HIP,
  BONE_PELVIS,
  FIGURE_BONE_COUNT
};

struct BikeModel {
  char name[16];
  char engine_class[16];  // "125", "250", "250f", "450f" or "50"

  float front_wheel_pos[3];
  float front_rim_radius;   // torus major radius
  float front_tire_radius;  // torus minor radius
  float front_tire_mass;
  float front_hub_radius;
  float front_hub_mass;

  float rear_wheel_pos[3];
  float rear_rim_radius;
  float rear_tire_radius;
  float rear_tire_mass;
  float rear_hub_radius;
  float rear_hub_mass;

  float frame_pos[3];
  float frame_mass;
  float frame_box[3];
  float steering_head_pos[3];
  float swingarm_pos[3];
  float swingarm_pivot[3];
  float fork_lower_pos[3];
  float fork_leg_spacing;
  float fork_length;
  float fork_mass;  // each of FORK_UPPER and FORK_LOWER

  float fork_spring_min, fork_spring_max;    // lbf/ft, both legs
  float fork_preload_min, fork_preload_max;  // ft
  float fork_oil_min, fork_oil_max;          // air gap, ft
  float fork_hs_compression;
  float fork_ls_compression;
  float fork_hs_rebound;
  float fork_ls_rebound;
  float fork_travel;

  float swingarm_half_mass;
  float shock_spring_min, shock_spring_max;    // lbf/ft
  float shock_preload_min, shock_preload_max;  // ft
  float shock_hs_compression;
  float shock_ls_compression;
  float shock_hs_rebound;
  float shock_ls_rebound;

  float linkage_mid_travel;
  float linkage_full_travel;
  float swingarm_travel;
  float linkage_break;
  float linkage_slope_start;
  float linkage_slope_mid;
  float linkage_slope_end;

  float primary_ratio;
  float front_sprocket;
  float rear_sprocket;
  float gear_ratios[GEAR_COUNT];  // <= 0: no such gear
  float engine_inertia;
  float driveline_stiffness;
  float driveline_damping;
  float closed_throttle_torque[TORQUE_POINTS];
  float full_throttle_torque[TORQUE_POINTS];
  float downshift_rpm;
  float upshift_rpm;
  float rev_limit_rpm;

  float rider_slide_axis[3];  // normalise before use
  float rider_pos[3];
  float rider_slide_min, rider_slide_max;
  float rider_mass;

  char part_files[PART_FILE_COUNT][64];

  // Rider figure: points on RIDER_BODY unless noted.
  float head_point[3];
  float shoulder_points[2][3];  // left, right
  float hip_points[2][3];
  float grip_points[2][3];  // on FORK_UPPER
  float foot_points[2][3];  // on FRAME, for dabbing
  float upper_arm_length;
  float forearm_length;
  float thigh_length;
  float shin_length;
  float bone_centres[FIGURE_BONE_COUNT][3];
};

extern const BikeModel bike_models[BIKE_MODEL_COUNT];

// Exact name match, else the first "125" row for names containing "125",
// else the first "250f" row, with a message naming both. Always a row.
int find_bike_model(const char *name);
// Exact name match only: the row, or -1.
int lookup_bike_model(const char *name);
// The row's name, or "none" for -1 and other bad indices.
const char *bike_model_name(int index);
// The row, or nullptr for a bad index.
const BikeModel *bike_model(int index);

// The 80 names in the order of the bike menu.
extern const char *const bike_menu_names[BIKE_MODEL_COUNT];

// ------------------------------------------------ graphics file selection
// Decisions only: the drawing code loads what these name. `exists` answers
// whether a data file can be opened; nullptr uses file_index_exists.
typedef int (*FileExistsFn)(const char *name);

enum GraphicsGroup { GFX_BIKE, GFX_WHEELS, GFX_RIDER, GFX_HEAD, GFX_GROUP_COUNT };

// The part files drawn with a group's texture (models only), in load order;
// the count is returned, `parts` gets up to 8 entries.
int graphics_group_parts(int group, int parts[8]);
// The row's own texture for a group.
int graphics_group_texture_part(int group);
// Whether a part reports its model load failures as warnings.
int graphics_part_warns(int part);

// The variant model name for `model` drawn with `texture`, or 0 when the
// texture names no variant (fewer than two "-" in its file name).
int variant_model_name(const char *model, const char *texture, char *out, int size);
// The same file name placed in the texture's own folder: 0 when it does not
// fit or the texture has no folder part.
int variant_in_texture_folder(const char *variant, const char *texture, char *out, int size);

enum ModelChoice { MODEL_NONE, MODEL_ROW, MODEL_VARIANT, MODEL_VARIANT_FOLDER };
// Which file to load for one part drawn with `texture` (may be nullptr for
// the row's own): the variant, the variant in the texture's folder, or the
// row's model. On failure `warning` (when not nullptr) receives the text to
// show ("" when the part stays silent) and MODEL_NONE is returned.
int choose_part_model(const char *model, const char *texture, int warns, FileExistsFn exists,
                      char *out, int size, char *warning, int warning_size);

// Normal and specular maps for `texture`: tries "_norm"/"_spec" with ".seq",
// ".png", ".ppm" beside the texture, then beside the variant-style name of
// the texture, then beside `fallback` (the row's texture). 1 when both were
// found (in one of the three places), else 0 with both outputs empty.
int find_texture_maps(const char *texture, const char *fallback, FileExistsFn exists,
                      char *normal, char *specular, int size);

// The start of the names of a row's choosable bike pictures: its bike
// texture's file name without folder, "@" and extension, then "-"
// ("yz250fv2014-" for "@yz250fv2014.png"). "" for a null row.
void bike_graphics_prefix(const BikeModel *m, char *out, int size);

// A graphics name from the setup, or nullptr for "default" and empty names
// (the row's own files).
const char *custom_texture(const char *name);

// Every file that draws one rider. Each group gets the player's texture when
// `texture_loads` accepts it (nullptr: file_index_exists), else the row's own;
// its models are chosen as choose_part_model says and its maps as
// find_texture_maps says. Warnings go to the message window.
struct GraphicsPlan {
  char texture[GFX_GROUP_COUNT][1024];
  int custom[GFX_GROUP_COUNT];          // 1: the player's texture
  char model[PART_FILE_COUNT][1024];    // model parts only; "": not drawn
  char normal[GFX_GROUP_COUNT][1024];   // both "" when no pair was found
  char specular[GFX_GROUP_COUNT][1024];
};
// `names` in GraphicsGroup order (bike, wheels, rider, head); entries may be
// nullptr or "default".
void plan_rider_graphics(const BikeModel *m, const char *const names[GFX_GROUP_COUNT], FileExistsFn texture_loads,
                         FileExistsFn exists, GraphicsPlan *out);

// Number plate colours from the text kept with a bike texture image.
struct PlateColours {
  uint8_t background[3];
  uint8_t foreground[3];
};
// Defaults (white background, black digits) overwritten by any
// "[numberbackground:r,g,b" / "[numberforeground:r,g,b" found in `text`
// (may be nullptr).
PlateColours parse_plate_colours(const char *text);

// ------------------------------------------------------------ rider setup
enum SetupKind { SETUP_NUMBER, SETUP_CHOICE, SETUP_TEXT };

// Every setup key, in file order.
enum SetupKey {
  SETUP_BIKE,
  SETUP_NAME,
  SETUP_NUMBER_TEXT,
  SETUP_RIDER_TEXTURE,
  SETUP_HEAD_TEXTURE,
  SETUP_BIKE_TEXTURE,
  SETUP_WHEEL_TEXTURE,
  SETUP_STABILITY,
  SETUP_LEVELING,  // the 16 stability values start here
  SETUP_ROLL_DAMPING,
  SETUP_ROLL_LIMIT_ANGLE,
  SETUP_ROLL_LIMIT_FACTOR,
  SETUP_STEERING_DAMPING,
  SETUP_STEERING_STRENGTH,
  SETUP_MAX_STEERING_FORCE,
  SETUP_DIRECT_STEERING,
  SETUP_SLOW_DAMPING_SPEED,
  SETUP_SLOW_DAMPING_FACTOR,
  SETUP_LAND_DAMPING_RAMPUP,
  SETUP_LAND_DAMPING_FALLOFF,
  SETUP_LAND_DAMPING_FACTOR,
  SETUP_FULL_LOCK_SPEED,
  SETUP_RESTRICTED_LOCK_SPEED,
  SETUP_RESTRICTED_LOCK,
  SETUP_ARCADE,
  SETUP_FRONT_BRAKE,
  SETUP_REAR_BRAKE,
  SETUP_STOP_WHEELIES,
  SETUP_AUTO_SHIFT,
  SETUP_AUTO_DAB,
  SETUP_AUTO_ALIGN,
  SETUP_STICKY_DAB,
  SETUP_REVERSE_STEERING,
  SETUP_LEAN_INDICATOR,
  SETUP_AUTO_CLUTCH_RPMS,
  SETUP_BRAKE_TORQUE,
  SETUP_REAR_BRAKE_TORQUE,
  SETUP_MAX_DAB_SPEED,
  SETUP_FRONT_SPROCKET,
  SETUP_REAR_SPROCKET,
  SETUP_FORK_COMPRESSION,
  SETUP_FORK_SLOW_COMPRESSION,
  SETUP_FORK_REBOUND,
  SETUP_FORK_SLOW_REBOUND,
  SETUP_FORK_SPRING_RATE,
  SETUP_FORK_PRELOAD,
  SETUP_FORK_OIL_LEVEL,
  SETUP_SHOCK_COMPRESSION,
  SETUP_SHOCK_SLOW_COMPRESSION,
  SETUP_SHOCK_REBOUND,
  SETUP_SHOCK_SLOW_REBOUND,
  SETUP_SHOCK_SPRING_RATE,
  SETUP_SHOCK_PRELOAD,
  SETUP_RIDER_YSPRING,
  SETUP_RIDER_YDAMPING,
  SETUP_RIDER_ZSPRING,
  SETUP_RIDER_ZDAMPING,
  SETUP_RIDER_MASS_DISTRIBUTION,
  SETUP_KEY_COUNT
};

enum { STABILITY_VALUE_COUNT = 16, SETUP_TEXT_SIZE = 1024 };

struct SetupOption {
  const char *key;
  const char *label;
  int kind;  // SetupKind
  // numeric
  double value, step, minimum, maximum;
  // choice (the bike choice lists bike_menu_names)
  const char *const *choices;
  int choice_count;
  int selected;
  // text: maximum length without the terminator
  int text_max;
  char letter;  // stands for the value in the setup-change report; 0: none
};

// The player's setup. Text values live in `texts`, indexed by the key's
// position among the text keys (setup_text gives them by key).
struct RiderSetup {
  SetupOption options[SETUP_KEY_COUNT];
  char texts[6][SETUP_TEXT_SIZE];
};

// The local player's setup, holding the defaults until changed.
extern RiderSetup rider_setup;

void setup_defaults(RiderSetup *s);
// The key's position, or -1.
int setup_find_key(const char *key);
// Text of a text key ("" for other keys).
const char *setup_text(const RiderSetup *s, int key);
// The value shown for a choice key (its selected text), "" for others.
const char *setup_choice_text(const RiderSetup *s, int key);
// The bike row the setup names (with the table's fallback).
int setup_bike_model(const RiderSetup *s);

// Sets a numeric option, clamped; non-finite values are refused (0). The
// stability option runs the preset with the value truncated.
int setup_set_number(RiderSetup *s, int key, double value);
// One key/value pair from a setup file or the configuration. 1 when the key
// is a setup key (even if its value was refused and kept), 0 when it is not.
int set_setup_value(RiderSetup *s, const char *key, const char *text);
// Every key in table order, "key=value\n"; 1, or 0 on a write error.
int write_setup(RiderSetup *s, DataFile *f);

// Sets the 16 stability values from the preset tables (s in 0..100).
void stability_preset(RiderSetup *setup, int s);

// Every "key=value" line of `f` through set_setup_value; lines without "="
// and over-long lines are skipped. 0 when the data turns out corrupt (the
// pairs read before stay).
int read_setup(RiderSetup *s, DataFile *f);
// "@setups/" + the trimmed name. Unsafe names, unreadable files and write
// failures give a message and 0; a read keeps every pair read before a bad
// line. Messages: "Setup updated", "Error reading setup", "Setup written",
// "Error writing setup".
int read_setup_file(RiderSetup *s, const char *name);
int write_setup_file(RiderSetup *s, const char *name);
// Run after every read_setup_file, good or not, once its message is shown
// (the game rebuilds the graphics lists, marks its rider description for
// resending and applies the setup to the local rider); may be nullptr.
extern void (*setup_read_hook)(RiderSetup *s);

// ----------------------------------------------------- physical values
// The setup converted for one bike and clamped; what the rider applies.
struct RiderAdjust {
  double leveling;
  double roll_damping;
  double roll_limit_angle;  // rad
  double roll_limit_factor;
  double steering_damping;
  double steering_strength;
  double max_steering_force;
  int arcade;
  int front_antilock;
  int rear_antilock;
  int stop_wheelies;  // 0, 3 (both ends) or 2 (front only)
  int auto_shift;
  int auto_dab;
  int auto_align;
  double direct_steering;
  double slow_damping_speed;
  double slow_damping_factor;
  double land_damping_rampup;
  double land_damping_falloff;
  double land_damping_factor;
  double full_lock_speed;
  double restricted_lock_speed;
  double restricted_lock;  // rad
  double auto_clutch_rpms;
  double brake_torque;
  double rear_brake_torque;
  double max_dab_speed;  // ft/s
  int front_teeth;
  int rear_teeth;
  double final_drive_ratio;  // rear teeth / front teeth
  double fork_hs_compression;
  double fork_ls_compression;
  double fork_hs_rebound;
  double fork_ls_rebound;
  double fork_spring;   // lbf/ft
  double fork_preload;  // ft
  double fork_air_gap;  // ft
  double shock_hs_compression;
  double shock_ls_compression;
  double shock_hs_rebound;
  double shock_ls_rebound;
  double shock_spring;
  double shock_preload;
  double rider_yspring;  // 0..1
  double rider_zspring;
  double rider_ydamping;
  double rider_zdamping;
  double rider_mass_distribution;  // share of the rider's mass in RIDER_BODY
};

// Converts without side effects. `arcade_allowed` 0 forces arcade off (the
// server may disable it).
void setup_convert(const RiderSetup *s, const BikeModel *m, int arcade_allowed, RiderAdjust *out);

// Body masses for a mass distribution x (clamped 0.33..0.5).
double frame_mass_with_rider(const BikeModel *m, double x);
double rider_body_mass(const BikeModel *m, double x);

// The text a suspension and gearing screen shows beside a value in physical
// units ("%.3f kg/mm", "%.2f kg/mm", "%.2f mm", "%.2f teeth"): 1, or 0 for keys
// without one.
int setup_physical_text(const RiderSetup *s, int key, const BikeModel *m, char *out, int size);

// The mechanic: a moving bike (frame faster than 0.125 ft/s) refuses the
// setup; a second refusal within 10 s of game time shows "Settings not
// applied.  Mechanic can't keep up error.". Otherwise `out` is filled and the
// watch list updated. 1 when applied. The physics wraps this for its Rider
// (and sets the body masses from out->rider_mass_distribution).
int apply_setup(const RiderSetup *s, const BikeModel *m, int arcade_allowed, double frame_speed,
                double game_time, RiderAdjust *out);
// Forgets the refusal time (a new session).
void setup_mechanic_reset();

// ------------------------------------------------------- setup-change watch
enum { SETUP_WATCH_COUNT = 40 };
struct SetupWatch {
  int key;  // SetupKey
  char letter;
  double value;  // last announced
  int changed;
};
extern SetupWatch setup_watch[SETUP_WATCH_COUNT];
// Every entry's last value becomes the live one, flags cleared.
void setup_watch_reset(const RiderSetup *s);
// Flags entries whose live value differs from the last announced one.
void setup_watch_update(const RiderSetup *s);
// When an entry is flagged: "[SPAM] Setup change " and one character per
// entry (its letter when changed, else "-") and "\n" into `out`, the list
// reset from `s`, and 1. Otherwise 0 and nothing changes.
int setup_watch_report(const RiderSetup *s, char *out, int size);
