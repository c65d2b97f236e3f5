// Robot riders: racing lines recorded from earlier rides, one table of up
// to 45 lines for every counted checkpoint of the lap, the choice of the
// next line, learning from the outcome, the personalities, and the auto
// pilot that drives a robot along its chosen lines. Checkpoints, progress
// and crossing times belong to the race; it reaches us through robot_race.
#pragma once
#include <cstdint>
#include <vector>

struct Rider;

enum {
  LINE_SLOTS = 45,
  LINE_POINT_TICS = 32,      // a point every quarter second
  LINE_UNPROVEN = 1000000,   // cost of a line without enough successes
  LINE_MAX_POINTS = 100000,  // a file claiming more is not a lines file
  PERSONALITY_COUNT = 5,
};

// A point of a line: the frame's position, its speed (negative while
// neither wheel touches the ground) and its lean.
struct LinePoint {
  float x, y, z, speed, lean;
};

struct RacingLine {
  std::vector<LinePoint> points;  // empty: a free slot
  int t1, t2;                     // tics: own segment; with the next one
  int successes, failures;
  int best1, best2;
  int64_t sum1, sum2;
  int last_picked;
  int id;
};

struct LineTable {
  RacingLine line[LINE_SLOTS];
  int best_id[3];  // the best lap's line here per cost mode, 0 none
  // connects[i] bit j: line i here continues into line j of the next table
  uint64_t connects[LINE_SLOTS];
  int connects_valid;
};

struct LineTables {
  int first, normal;  // counted entries of the first and the normal lap
  std::vector<LineTable> table;  // first + normal of them, or none
  int loaded;   // read from a file
  int learned;  // a line stored or a use counted since
  int next_id;
  int skill;
  char folder[256];
};
extern LineTables lines;

struct Personality {
  const char *name;
  int mode, leading_mode;
  float leading_threshold;  // s
  float reaction_min, reaction_max;
};
extern const Personality personalities[PERSONALITY_COUNT];

// What the robots need to know of the race. Sequence indexes are those of
// the lap sequences; a counted index k counts only the counted entries,
// lap after lap (0 is the first counted checkpoint of the race).
struct RobotRaceHooks {
  // Counted entries of the first and the normal lap; 0 without timing.
  void (*counted_lengths)(int *first, int *normal);
  int (*progress)(int slot);
  // Counted entries before sequence index i; whether entry i is counted.
  int (*counted_before)(int index);
  int (*is_counted)(int index);
  // Tic the slot crossed counted index k (-1 skipped or not yet; k = -1
  // is the drop).
  int (*counted_tic)(int slot, int k);
  int (*finished)(int slot);
  // When the slot leads the race: tics the second rider lost on it at the
  // last checkpoint both passed; -1 when it does not lead or runs alone.
  int (*lead_gap)(int slot);
  const char *(*personality)(int slot);
};
extern RobotRaceHooks robot_race;

// ---------------------------------------------------------------- lines
// Files "lines_novice", "lines_amateur", "lines_expert" in the track folder.
const char *lines_file_name(int skill);
// Sizes the tables for the race's counted entries and empties them.
void lines_prepare(int first, int normal);
// Parses a lines file's text into the tables: 1, or 0 (tables left empty)
// when it cannot be parsed or its checkpoint count is not the tables'.
int lines_parse(const char *text, int length);
// The tables as the file's text.
void lines_format(std::vector<char> *out);
int read_lines(const char *folder, int skill);
// 1 when written; 0 when it failed or there was nothing to write.
int write_lines(const char *folder, int skill);
void analyze_lines();

// Statistics kept within the file's bounds: halved while too large, then
// capped; negative values become 0.
void line_rescale(RacingLine *l);
// Cost of a line in mode 0..3 (tics).
double line_cost(const RacingLine &l, int mode);
// Whether line b (of the next checkpoint) continues line a.
int lines_connect(const RacingLine &a, const RacingLine &b);
// Where a line's first two points lie against the curve through the last
// three of `followed` (distance from its centre less its radius); 0 when
// those make no curve.
int robot_line_match_offsets(const std::vector<LinePoint> &followed, const RacingLine &l,
                             double *d0, double *d1);
// The table of counted index k, the first lap's tables then the normal
// lap's over and over.
int line_table_of(int k);
// Look-ahead score of every line of table t in a mode (1 for the best
// chain and for lines without one).
void line_scores(int t, int mode, float out[LINE_SLOTS]);
// Offers a recorded segment to table t: the slot it went to, or -1.
int line_offer(int t, const std::vector<LinePoint> &points, int t1, int t2);
// The slot a full table gives up for a new line.
int line_evict_choice(int t);
RacingLine *line_by_id(int t, int id);

// The whole table set as the race keeps it. Saving writes the file of the
// skill the tables were loaded for (the argument is the caller's setting).
void robot_lines_save(int skill);
void robot_lines_free();
void robot_lines_clear();
int robot_lines_load(const char *folder, int skill);
void robot_lines_analyze();
void robot_lines_reset_bookkeeping();

// ---------------------------------------------------------------- robots
// Line ids kept per robot, by checkpoint: a robot keeps ten points ahead
// and a line may hold only a few, so it can be several lines ahead of the
// one it is credited for on crossing.
enum { ROBOT_RING = 16 };  // a power of two

struct RobotState {
  int personality;  // -1 until given one
  std::vector<LinePoint> followed;
  int next;           // n
  int progress_tic;
  int recovery;
  int lines_taken;
  int ring[ROBOT_RING];  // line ids of the last checkpoints picked, by c mod ROBOT_RING
  float start_timer;  // 0 unset; negative while the throttle blips
  float last_throttle;
  int grip_tic;
  float target_speed, target_lean;  // the control law's last, for tests and logs
  // recording
  std::vector<LinePoint> buffer[2];
  int spoiled[2];
  int taint;  // 0 clean, 1 tainted, 2 counted as a failure
  int last_progress;
  int record_tic;
};

// The ring entry for checkpoint counter c.
inline int &robot_ring(RobotState &s, int c) { return s.ring[c & (ROBOT_RING - 1)]; }
inline int robot_ring(const RobotState &s, int c) { return s.ring[c & (ROBOT_RING - 1)]; }
extern RobotState robot_states[];

void robot_state_reset(int slot);
// Unknown names log and take entry 1.
void set_personality(Rider *r, const char *name);
int personality_index(const char *name);
int robot_cost_mode(Rider *r);
// Picks the line for counted index k: its slot in table line_table_of(k),
// or -1.
int pick_line(Rider *r, int k);
// Appends a line to the robot's followed line and smooths the join.
void robot_append_line(Rider *r, const RacingLine &l);
void record_line(Rider *r);
void robot_drive(Rider *r);
void robot_control(Rider *r);
void robot_speed_control(Rider *r, float m, float d);
float line_position(Rider *r);
int next_takeoff(Rider *r, int i);
// Turn radius towards an aim offset (world, from the frame) given the
// current turn radius (infinite when not turning).
float pursuit_radius(Rider *r, const float aim[3], float rc);
// Zones of two riders overlap so that the second is traffic for the first.
int robot_traffic(Rider *a, Rider *b);
// The realign target's line rule: 1 with a point when the rider has a line
// for its next checkpoint or a followed line.
int robot_realign_point(Rider *r, int counted_next, float out[3]);
// physics_hooks gets robot_drive, line_record, rider_reset, realign_spoiled.
void robot_attach();
