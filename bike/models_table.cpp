// The 80 built-in bike rows.
//
// Six rows are given outright (TELLING below): "cr125", "cr250(2007)",
// "yz250f(2017)", "yz450f(2011)", "125sx" and "rs50cr". Every other row is
// its class's given row with the few differences of ROW_DIFFS applied:
//   - frame mass: added (ft-slug units; newer and lighter bikes negative);
//   - fork and shock spring ranges: moved by whole steps of 0.02 kg/mm (fork)
//     and 0.2 kg/mm (shock), both ends together;
//   - torque: the full-throttle curve of the class is the "yz250f(2017)" curve
//     stretched so that its shape ends at the row's rev limit, scaled to the
//     class peak times the row's factor; the closed-throttle curve is the
//     same stretch of its closed curve times the class's engine braking;
//   - rpm: added to the downshift, upshift and rev-limit speeds;
//   - sprockets: teeth added to the given row's.
// Shared values are the same in every row. The table is built at compile
// time, so it is a constant like any other.
#include <cstddef>
#include <initializer_list>

#include "bike/bike.h"

namespace {

enum Template { T_CR125, T_CR250, T_YZ250F, T_YZ450F, T_125SX, T_RS50, TEMPLATE_COUNT };

struct Telling {
  float frame_mass, fork_mass;
  float fork_spring_min, fork_spring_max;
  float swingarm_half_mass;
  float shock_spring_min, shock_spring_max;
  float primary_ratio, front_sprocket, rear_sprocket;
  float gears[GEAR_COUNT];
  float engine_inertia, driveline_stiffness, driveline_damping;
  float downshift_rpm, upshift_rpm, rev_limit_rpm;
  float rider_mass;
  float fork_hs_rebound, shock_hs_rebound;
  float peak_torque;    // full-throttle peak of the class
  float engine_braking;  // closed-throttle curve factor
};

constexpr Telling TELLING[TEMPLATE_COUNT] = {
    // cr125
    {3.65375f, 0.7396875f, 322.5451f, 860.1203f, 0.541875f, 1814.3163f, 4502.1919f, 3.15f, 13, 52,
     {2.3571f, 1.8667f, 1.5789f, 1.2941f, 1.1333f, -1}, 0.0048828f, 7500, 0.75f, 9400, 12000, 12750,
     4.6875f, 30, 600, 15.0f, 0.6f},
    // cr250(2007)
    {4.365625f, 0.75375f, 322.5451f, 860.1203f, 0.589375f, 2083.1038f, 4770.9800f, 3.0f, 13, 49,
     {1.8f, 1.4706f, 1.2105f, 1.0f, 0.8696f, -1}, 0.0068359f, 7500, 0.75f, 6000, 9000, 10500,
     5.46875f, 32, 650, 33.0f, 0.8f},
    // yz250f(2017)
    {4.24f, 0.703125f, 335.98447f, 873.55963f, 0.504375f, 2217.4978f, 4905.3735f, 3.3529f, 13, 50,
     {2.1429f, 1.75f, 1.4444f, 1.2222f, 1.0417f, -1}, 0.0048828f, 7500, 0.75f, 8000, 12500, 13250,
     4.6875f, 30, 600, 19.3453f, 1.0f},
    // yz450f(2011)
    {4.735f, 0.703125f, 376.3026f, 913.8778f, 0.5025f, 2486.2854f, 5174.1606f, 2.6522f, 13, 48,
     {1.9286f, 1.5333f, 1.2778f, 1.0909f, 0.9524f, -1}, 0.0088501f, 7500, 0.75f, 6000, 10500, 12000,
     5.46875f, 32, 650, 33.0f, 1.4f},
    // 125sx
    {3.65375f, 0.7396875f, 322.5451f, 860.1203f, 0.541875f, 1814.3163f, 4502.1919f, 3.0435f, 13, 50,
     {2.4615f, 2.0f, 1.6471f, 1.4f, 1.2105f, 1.0909f}, 0.0048828f, 7500, 0.75f, 9400, 12000, 12750,
     4.6875f, 30, 600, 15.0f, 0.6f},
    // rs50cr
    {3.34125f, 0.7396875f, 309.1057f, 846.6809f, 0.541875f, 1814.3163f, 4502.1919f, 3.7143f, 12, 55,
     {3.0909f, 2.0f, 1.5f, 1.2f, 1.0455f, 0.9565f}, 0.0011936f, 1200, 1.0f, 9400, 12000, 12750,
     4.6875f, 30, 600, 4.31f, 0.2f},
};

// The engine every curve is shaped from: "yz250f(2017)".
constexpr int REF_TEMPLATE = T_YZ250F;
constexpr float REF_CLOSED[TORQUE_POINTS] = {
    2,   2,   1,   0,   -1,  -1,  -2,  -2,  -3,  -3,  -4,  -4,  -5,  -5,  -6,  -6,  -7,
    -7,  -8,  -8,  -9,  -9,  -10, -10, -11, -11, -12, -12, -13, -13, -14, -14, -15, -15,
    -16, -16, -17, -17, -18, -18, -19, -19, -20, -20, -21, -21, -22, -22, -23, -23};
constexpr float REF_FULL[TORQUE_POINTS] = {
    5,       5,       5,       5,       5,       6.18f,   7.36f,   8.5399f, 9.7199f, 10.8999f,
    12.1009f, 13.9229f, 14.811f, 15.8452f, 16.8143f, 17.8922f, 18.5268f, 19.1362f, 19.3453f,
    19.1785f, 18.6082f, 17.9072f, 17.3367f, 16.8981f, 16.4741f, 15.9664f, 15.0251f, 7.5125f, 0,
    -13.5f,  -14,     -14.5f,  -15,     -15.5f,  -16,     -16.5f,  -17,     -17.5f,  -18,
    -18.5f,  -19,     -19.5f,  -20,     -20.5f,  -21,     -21.5f,  -22,     -22.5f,  -23,
    -23.5f};

// Differences of each row from the given row of its class (see the top).
struct RowDiff {
  const char *name;
  const char *engine_class;
  const char *stem;  // per-model part files are "@<stem>_frame.jm" and so on
  int base;          // Template
  float frame_mass;
  int fork_spring_steps, shock_spring_steps;
  float torque_factor;
  int rpm;
  int front_teeth, rear_teeth;
};

constexpr float FORK_SPRING_STEP = 13.439379f;   // 0.02 kg/mm in lbf/ft
constexpr float SHOCK_SPRING_STEP = 134.39379f;  // 0.2 kg/mm in lbf/ft

constexpr RowDiff ROW_DIFFS[BIKE_MODEL_COUNT] = {
    {"cr125", "125", "cr125", T_CR125, +0.000f, +0, +0, 1.000f, +0, +0, +0},
    {"crf250(2007)", "250f", "crf250", T_YZ250F, +0.260f, +0, +0, 0.880f, -250, +0, +1},
    {"crf250(2008)", "250f", "crf250", T_YZ250F, +0.230f, +0, +0, 0.892f, -250, +0, +1},
    {"crf250(2009)", "250f", "crf250", T_YZ250F, +0.200f, +0, +0, 0.904f, -250, +0, +1},
    {"crf250(2013)", "250f", "crf250v2010", T_YZ250F, +0.080f, +0, +0, 0.952f, +0, +0, +1},
    {"crf250(2016)", "250f", "crf250v2014", T_YZ250F, -0.010f, +0, +0, 0.988f, +0, +0, +1},
    {"crf250(2017)", "250f", "crf250v2014", T_YZ250F, -0.040f, +0, +0, 1.000f, +0, +0, +1},
    {"crf250(2018)", "250f", "crf250v2014", T_YZ250F, -0.070f, +0, +0, 1.012f, +0, +0, +1},
    {"cr250(2007)", "250", "cr250", T_CR250, +0.000f, +0, +0, 1.000f, +0, +0, +0},
    {"crf450(2011)", "450f", "crf450", T_YZ450F, -0.040f, +0, +0, 1.000f, +0, +0, +1},
    {"crf450(2013)", "450f", "crf450v2013", T_YZ450F, -0.090f, +0, +0, 1.010f, +0, +0, +1},
    {"crf450(2016)", "450f", "crf450v2016", T_YZ450F, -0.165f, +0, +0, 1.025f, +250, +0, +1},
    {"crf450(2017)", "450f", "crf450v2016", T_YZ450F, -0.190f, +0, +0, 1.030f, +250, +0, +1},
    {"crf450(2018)", "450f", "crf450v2016", T_YZ450F, -0.215f, +0, +0, 1.035f, +250, +0, +1},
    {"kx125", "125", "kx125", T_CR125, +0.020f, +1, +0, 1.010f, +0, +0, -1},
    {"kx250f(2007)", "250f", "kx250f", T_YZ250F, +0.280f, +1, +0, 0.890f, -250, +0, -1},
    {"kx250f(2008)", "250f", "kx250f", T_YZ250F, +0.250f, +1, +0, 0.902f, -250, +0, -1},
    {"kx250f(2009)", "250f", "kx250f", T_YZ250F, +0.220f, +1, +0, 0.914f, -250, +0, -1},
    {"kx250f(2013)", "250f", "kx250fv2010", T_YZ250F, +0.100f, +1, +0, 0.962f, +0, +0, -1},
    {"kx250f(2016)", "250f", "kx250fv2014", T_YZ250F, +0.010f, +1, +0, 0.998f, +0, +0, -1},
    {"kx250f(2017)", "250f", "kx250fv2014", T_YZ250F, -0.020f, +1, +0, 1.010f, +0, +0, -1},
    {"kx250f(2018)", "250f", "kx250fv2014", T_YZ250F, -0.050f, +1, +0, 1.022f, +0, +0, -1},
    {"kx250(2006)", "250", "kx250", T_CR250, +0.020f, +1, +0, 0.990f, +0, +0, +1},
    {"kx450f(2011)", "450f", "kx450f", T_YZ450F, -0.020f, +1, +0, 1.010f, +0, +0, +1},
    {"kx450f(2013)", "450f", "kx450fv2013", T_YZ450F, -0.070f, +1, +0, 1.020f, +0, +0, +1},
    {"kx450f(2016)", "450f", "kx450fv2016", T_YZ450F, -0.145f, +1, +0, 1.035f, +250, +0, +1},
    {"kx450f(2017)", "450f", "kx450fv2016", T_YZ450F, -0.170f, +1, +0, 1.040f, +250, +0, +1},
    {"kx450f(2018)", "450f", "kx450fv2016", T_YZ450F, -0.195f, +1, +0, 1.045f, +250, +0, +1},
    {"rm125", "125", "rm125", T_CR125, +0.040f, +0, +1, 0.990f, +0, +0, +1},
    {"rmz250(2007)", "250f", "rmz250", T_YZ250F, +0.300f, +0, +1, 0.870f, -250, +0, +1},
    {"rmz250(2008)", "250f", "rmz250", T_YZ250F, +0.270f, +0, +1, 0.882f, -250, +0, +1},
    {"rmz250(2009)", "250f", "rmz250", T_YZ250F, +0.240f, +0, +1, 0.894f, -250, +0, +1},
    {"rmz250(2013)", "250f", "rmz250v2010", T_YZ250F, +0.120f, +0, +1, 0.942f, +0, +0, +1},
    {"rmz250(2016)", "250f", "rmz250v2014", T_YZ250F, +0.030f, +0, +1, 0.978f, +0, +0, +1},
    {"rmz250(2017)", "250f", "rmz250v2014", T_YZ250F, +0.000f, +0, +1, 0.990f, +0, +0, +1},
    {"rmz250(2018)", "250f", "rmz250v2014", T_YZ250F, -0.030f, +0, +1, 1.002f, +0, +0, +1},
    {"rm250(2008)", "250", "rm250", T_CR250, +0.030f, +0, +1, 0.980f, +0, +0, +1},
    {"rmz450(2011)", "450f", "rmz450", T_YZ450F, +0.000f, +0, +1, 0.990f, +0, +0, +1},
    {"rmz450(2013)", "450f", "rmz450v2013", T_YZ450F, -0.050f, +0, +1, 1.000f, +0, +0, +1},
    {"rmz450(2016)", "450f", "rmz450v2016", T_YZ450F, -0.125f, +0, +1, 1.015f, +250, +0, +1},
    {"rmz450(2017)", "450f", "rmz450v2016", T_YZ450F, -0.150f, +0, +1, 1.020f, +250, +0, +1},
    {"rmz450(2018)", "450f", "rmz450v2016", T_YZ450F, -0.175f, +0, +1, 1.025f, +250, +0, +1},
    {"yz125", "125", "yz125", T_CR125, +0.010f, +0, +0, 1.000f, +0, +0, -1},
    {"yz250f(2007)", "250f", "yz250f", T_YZ250F, +0.300f, +0, +0, 0.880f, -250, +0, +0},
    {"yz250f_se(2006)", "250f", "yz250f_se", T_YZ250F, +0.330f, +1, +1, 0.888f, -250, +0, +0},
    {"yz250f(2008)", "250f", "yz250f", T_YZ250F, +0.270f, +0, +0, 0.892f, -250, +0, +0},
    {"yz250f(2009)", "250f", "yz250f", T_YZ250F, +0.240f, +0, +0, 0.904f, -250, +0, +0},
    {"yz250f(2013)", "250f", "yz250fv2010", T_YZ250F, +0.120f, +0, +0, 0.952f, +0, +0, +0},
    {"yz250f(2016)", "250f", "yz250fv2014", T_YZ250F, +0.030f, +0, +0, 0.988f, +0, +0, +0},
    {"yz250f(2017)", "250f", "yz250fv2014", T_YZ250F, +0.000f, +0, +0, 1.000f, +0, +0, +0},
    {"yz250f(2018)", "250f", "yz250fv2014", T_YZ250F, -0.030f, +0, +0, 1.012f, +0, +0, +0},
    {"yz250(2012)", "250", "yz250", T_CR250, -0.050f, +0, +0, 1.010f, +0, +0, -1},
    {"yz450f(2011)", "450f", "yz450f", T_YZ450F, +0.000f, +0, +0, 1.000f, +0, +0, +0},
    {"yz450f(2013)", "450f", "yz450fv2013", T_YZ450F, -0.050f, +0, +0, 1.010f, +0, +0, +0},
    {"yz450f(2016)", "450f", "yz450fv2016", T_YZ450F, -0.125f, +0, +0, 1.025f, +250, +0, +0},
    {"yz450f(2017)", "450f", "yz450fv2016", T_YZ450F, -0.150f, +0, +0, 1.030f, +250, +0, +0},
    {"yz450f(2018)", "450f", "yz450fv2016", T_YZ450F, -0.175f, +0, +0, 1.035f, +250, +0, +0},
    {"125sx", "125", "125sx", T_125SX, +0.000f, +0, +0, 1.000f, +0, +0, +0},
    {"250sxf(2009)", "250f", "250sxf", T_YZ250F, +0.120f, -1, +0, 0.924f, -250, +0, +2},
    {"250sxf(2013)", "250f", "250sxfv2010", T_YZ250F, +0.000f, -1, +0, 0.972f, +0, +0, +2},
    {"250sxf(2016)", "250f", "250sxfv2014", T_YZ250F, -0.090f, -1, +0, 1.008f, +0, +0, +2},
    {"250sxf(2017)", "250f", "250sxfv2014", T_YZ250F, -0.120f, -1, +0, 1.020f, +0, +0, +2},
    {"250sxf(2018)", "250f", "250sxfv2014", T_YZ250F, -0.150f, -1, +0, 1.032f, +0, +0, +2},
    {"250sx(2012)", "250", "250sx", T_CR250, -0.100f, -1, +0, 1.020f, +0, +0, +1},
    {"350sxf(2011)", "450f", "350sxf", T_YZ450F, -0.250f, -1, -1, 0.850f, +1000, +0, +3},
    {"350sxf(2013)", "250f", "350sxfv2013", T_YZ250F, +0.320f, +1, +1, 1.252f, -500, +1, +2},
    {"350sxf(2017)", "250f", "350sxfv2013", T_YZ250F, +0.200f, +1, +1, 1.300f, -500, +1, +2},
    {"450sxf(2011)", "450f", "450sxf", T_YZ450F, -0.120f, -1, +0, 1.020f, +0, +0, +2},
    {"450sxf(2013)", "450f", "450sxfv2013", T_YZ450F, -0.170f, -1, +0, 1.030f, +0, +0, +2},
    {"450sxf(2016)", "450f", "450sxfv2016", T_YZ450F, -0.245f, -1, +0, 1.045f, +250, +0, +2},
    {"450sxf(2017)", "450f", "450sxfv2016", T_YZ450F, -0.270f, -1, +0, 1.050f, +250, +0, +2},
    {"450sxf(2018)", "450f", "450sxfv2016", T_YZ450F, -0.295f, -1, +0, 1.055f, +250, +0, +2},
    {"fc250(2017)", "250f", "fc250", T_YZ250F, -0.100f, -1, +0, 1.020f, +0, +0, +1},
    {"fc250(2018)", "250f", "fc250", T_YZ250F, -0.130f, -1, +0, 1.032f, +0, +0, +1},
    {"fc450(2017)", "450f", "fc450", T_YZ450F, -0.250f, -1, +0, 1.050f, +250, +0, +2},
    {"fc450(2018)", "450f", "fc450", T_YZ450F, -0.275f, -1, +0, 1.055f, +250, +0, +2},
    {"rs50cr", "50", "rs50cr", T_RS50, +0.000f, +0, +0, 1.000f, +0, +0, +0},
    {"rs50kx", "50", "rs50kx", T_RS50, +0.010f, +0, +0, 1.020f, +0, +0, -1},
    {"rs50rm", "50", "rs50rm", T_RS50, +0.020f, +0, +0, 1.010f, +0, +0, +0},
    {"rs50yz", "50", "rs50yz", T_RS50, +0.015f, +0, +0, 1.030f, +0, +0, -2},
};

constexpr void copy_text(char *dst, size_t size, const char *a, const char *b = "", const char *c = "") {
  size_t n = 0;
  for (const char *s : {a, b, c})
    for (; *s && n + 1 < size; s++) dst[n++] = *s;
  dst[n] = 0;
}

constexpr void set3(float *v, float x, float y, float z) {
  v[0] = x;
  v[1] = y;
  v[2] = z;
}

constexpr bool same_text(const char *a, const char *b) {
  while (*a && *a == *b) a++, b++;
  return *a == *b;
}

// Samples a 500 rpm curve at fractional point x, continuing past the end with
// the given slope per point.
constexpr float sample_curve(const float *curve, float x, float tail_slope) {
  if (x >= TORQUE_POINTS - 1) return curve[TORQUE_POINTS - 1] + tail_slope * (x - (TORQUE_POINTS - 1));
  int i = static_cast<int>(x);
  float t = x - static_cast<float>(i);
  return curve[i] + (curve[i + 1] - curve[i]) * t;
}

constexpr void fill_torque(BikeModel *m, const RowDiff &d, const Telling &t) {
  if (d.base == REF_TEMPLATE && d.torque_factor == 1.0f && d.rpm == 0) {
    for (int i = 0; i < TORQUE_POINTS; i++) {
      m->closed_throttle_torque[i] = REF_CLOSED[i];
      m->full_throttle_torque[i] = REF_FULL[i];
    }
    return;
  }
  // Stretch so the reference's rev limit lands on this row's.
  const float stretch = TELLING[REF_TEMPLATE].rev_limit_rpm / m->rev_limit_rpm;
  float shape[TORQUE_POINTS] = {};
  float peak = 0;
  for (int i = 0; i < TORQUE_POINTS; i++) {
    float x = static_cast<float>(i) * stretch;
    shape[i] = sample_curve(REF_FULL, x, REF_FULL[TORQUE_POINTS - 1] - REF_FULL[TORQUE_POINTS - 2]);
    if (shape[i] > peak) peak = shape[i];
    m->closed_throttle_torque[i] = t.engine_braking * sample_curve(REF_CLOSED, x, -0.5f);
  }
  const float scale = t.peak_torque * d.torque_factor / peak;
  for (int i = 0; i < TORQUE_POINTS; i++) m->full_throttle_torque[i] = shape[i] * scale;
}

constexpr BikeModel make_row(int index) {
  const RowDiff &d = ROW_DIFFS[index];
  const Telling &t = TELLING[d.base];
  BikeModel m{};
  copy_text(m.name, sizeof m.name, d.name);
  copy_text(m.engine_class, sizeof m.engine_class, d.engine_class);

  set3(m.front_wheel_pos, 0, 1.09f, 1.11f);
  m.front_rim_radius = 5.0f / 6.0f;
  m.front_tire_radius = 1.0f / 3.0f;
  m.front_tire_mass = 0.40625f;
  m.front_hub_radius = 0.5f;
  m.front_hub_mass = 0.15625f;
  set3(m.rear_wheel_pos, 0, 1.04f, 6.0f);
  m.rear_rim_radius = 0.75f;
  m.rear_tire_radius = 1.0f / 3.0f;
  m.rear_tire_mass = 0.46875f;
  m.rear_hub_radius = 0.5f;
  m.rear_hub_mass = 0.3125f;

  set3(m.frame_pos, 0, 1.98f, 3.6f);
  m.frame_mass = t.frame_mass + d.frame_mass;
  set3(m.frame_box, 5.0f / 6.0f, 5.0f / 3.0f, 5.0f / 3.0f);
  set3(m.steering_head_pos, 0, 2.9f, 2.16f);
  set3(m.swingarm_pos, 0, 1.34f, 4.99f);
  set3(m.swingarm_pivot, 0, 1.6f, 4.08f);
  set3(m.fork_lower_pos, 0, 1.77f, 1.59f);
  m.fork_leg_spacing = 5.0f / 6.0f;
  m.fork_length = 3.0f;
  m.fork_mass = t.fork_mass;

  const float fork_shift = FORK_SPRING_STEP * static_cast<float>(d.fork_spring_steps);
  m.fork_spring_min = t.fork_spring_min + fork_shift;
  m.fork_spring_max = t.fork_spring_max + fork_shift;
  m.fork_preload_min = 0;
  m.fork_preload_max = 1.0f / 12.0f;
  m.fork_oil_min = 5.0f / 12.0f;
  m.fork_oil_max = 0.25f;
  m.fork_hs_compression = 60;
  m.fork_ls_compression = 60;
  m.fork_hs_rebound = t.fork_hs_rebound;
  m.fork_ls_rebound = 30;
  m.fork_travel = 1.0f;

  m.swingarm_half_mass = t.swingarm_half_mass;
  const float shock_shift = SHOCK_SPRING_STEP * static_cast<float>(d.shock_spring_steps);
  m.shock_spring_min = t.shock_spring_min + shock_shift;
  m.shock_spring_max = t.shock_spring_max + shock_shift;
  m.shock_preload_min = 0;
  m.shock_preload_max = 1.0f / 3.0f;
  m.shock_hs_compression = 800;
  m.shock_ls_compression = 200;
  m.shock_hs_rebound = t.shock_hs_rebound;
  m.shock_ls_rebound = 150;

  m.linkage_mid_travel = 0.28365156f;
  m.linkage_full_travel = 0.41338584f;
  m.swingarm_travel = 0.53030413f;
  m.linkage_break = 0.75f;
  m.linkage_slope_start = 0.31503919f;
  m.linkage_slope_mid = 0.46047905f;
  m.linkage_slope_end = 0.60704893f;

  m.primary_ratio = t.primary_ratio;
  m.front_sprocket = t.front_sprocket + static_cast<float>(d.front_teeth);
  m.rear_sprocket = t.rear_sprocket + static_cast<float>(d.rear_teeth);
  for (int i = 0; i < GEAR_COUNT; i++) m.gear_ratios[i] = t.gears[i];
  m.engine_inertia = t.engine_inertia;
  m.driveline_stiffness = t.driveline_stiffness;
  m.driveline_damping = t.driveline_damping;
  m.downshift_rpm = t.downshift_rpm + static_cast<float>(d.rpm);
  m.upshift_rpm = t.upshift_rpm + static_cast<float>(d.rpm);
  m.rev_limit_rpm = t.rev_limit_rpm + static_cast<float>(d.rpm);
  fill_torque(&m, d, t);

  set3(m.rider_slide_axis, 0, 1.0f / 12.0f, 1.0f / 12.0f);
  set3(m.rider_pos, 0, 4.5f, 4.12f);
  m.rider_slide_min = -2.0f / 3.0f;
  m.rider_slide_max = 0.5f;
  m.rider_mass = t.rider_mass;

  const auto part = [&](int p, const char *a, const char *b = "", const char *c = "") {
    copy_text(m.part_files[p], sizeof m.part_files[p], a, b, c);
  };
  part(PART_FRAME_MODEL, "@", d.stem, "_frame.jm");
  part(PART_FRAME_SHAPE, "@generic_frame.shp");
  part(PART_BIKE_TEXTURE, "@", d.stem, ".png");
  part(PART_FORK_UPPER_MODEL, "@", d.stem, "_fork_upper.jm");
  part(PART_FORK_UPPER_SHAPE, "@generic_fork_upper.shp");
  part(PART_FORK_LOWER_MODEL, "@", d.stem, "_fork_lower.jm");
  part(PART_FORK_LOWER_SHAPE, "@generic_fork_lower.shp");
  part(PART_SWINGARM_MODEL, "@", d.stem, "_swingarm.jm");
  part(PART_SWINGARM_SHAPE, "@generic_swingarm.shp");
  part(PART_FRONT_WHEEL_MODEL, "@front_wheel.jm");
  part(PART_FRONT_WHEEL_SHAPE, "@front_wheel.shp");
  part(PART_REAR_WHEEL_MODEL, "@rear_wheel.jm");
  part(PART_REAR_WHEEL_SHAPE, "@rear_wheel.shp");
  part(PART_WHEEL_TEXTURE, "@wheels.png");
  part(PART_HEAD_MODEL, "@rider_head.jm");
  part(PART_HEAD_TEXTURE, "@rider_head.png");
  part(PART_RIDER_BODY_MODEL, "@rider_body.jm");
  part(PART_RIDER_BODY_FP_MODEL, "@rider_body_fp.jm");
  part(PART_RIDER_SHAPE, "@generic_rider.shp");
  part(PART_RIDER_TEXTURE, "@rider_body.png");
  part(PART_SIDE_PLATES_MODEL, "@", d.stem, "_side_plates.jm");
  part(PART_FRONT_PLATE_MODEL, "@", d.stem, "_front_plate.jm");
  part(PART_RIDER_PLATE_MODEL, "@rider_plate.jm");

  set3(m.head_point, 0, 0.8084f, -0.9434f);
  for (int s = 0; s < 2; s++) {
    const float side = s == 0 ? -1.0f : 1.0f;
    set3(m.shoulder_points[s], side * 0.556f, 0.5804f, -0.6545f);
    set3(m.hip_points[s], side * 0.269f, -0.5709f, 0.6706f);
    set3(m.grip_points[s], side * 1.097f, 1.145f, 0.753f);
    set3(m.foot_points[s], side * 0.6f, -0.557f, 0.584f);
    set3(m.bone_centres[BONE_LEFT_ELBOW + s], side * 1.456f, 0.875f, 0.01f);
    set3(m.bone_centres[BONE_LEFT_SHOULDER + s], side * 0.556f, 0.875f, 0.01f);
    set3(m.bone_centres[BONE_LEFT_KNEE + s], side * 0.269f, -2.208f, 0.01f);
    set3(m.bone_centres[BONE_LEFT_HIP + s], side * 0.269f, -0.88f, 0.01f);
  }
  set3(m.bone_centres[BONE_PELVIS], 0, -0.88f, 0.01f);
  m.upper_arm_length = 0.9f;
  m.forearm_length = 1.15f;
  m.thigh_length = 1.328f;
  m.shin_length = 1.701f;
  return m;
}

struct Table {
  BikeModel rows[BIKE_MODEL_COUNT];
};

constexpr Table make_table() {
  Table t{};
  for (int i = 0; i < BIKE_MODEL_COUNT; i++) t.rows[i] = make_row(i);
  return t;
}

constexpr Table TABLE = make_table();

static_assert(same_text(TABLE.rows[49].name, "yz250f(2017)") && same_text(TABLE.rows[15].name, "kx250f(2007)") &&
              same_text(TABLE.rows[76].name, "rs50cr"));

}  // namespace

#define ROW(i) TABLE.rows[i]
#define ROWS10(b)                                                                                   \
  ROW(b + 0), ROW(b + 1), ROW(b + 2), ROW(b + 3), ROW(b + 4), ROW(b + 5), ROW(b + 6), ROW(b + 7), \
      ROW(b + 8), ROW(b + 9)
constinit const BikeModel bike_models[BIKE_MODEL_COUNT] = {
    ROWS10(0), ROWS10(10), ROWS10(20), ROWS10(30), ROWS10(40), ROWS10(50), ROWS10(60), ROWS10(70)};
#undef ROWS10
#undef ROW
