// The shared clamps keep the NaN and signed-zero behaviour each family
// promises (the physics depends on them bit for bit), and the vector
// helpers may write over their own inputs.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "core/mathutil.h"

namespace {

TEST(MathUtil, ClampFamiliesDifferOnlyWhereTheySay) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  // In range, out of range, the ends: all agree.
  for (float v : {-2.0f, 0.0f, 0.25f, 1.0f, 3.0f}) {
    float want = v < 0 ? 0 : v > 1 ? 1 : v;
    EXPECT_EQ(clampf(v, 0, 1), want);
    EXPECT_EQ(clampf_nan_lo(v, 0, 1), want);
    EXPECT_EQ(clamp01f(v), want);
    EXPECT_EQ(clampd(v, 0, 1), want);
    EXPECT_EQ(clampd_nan_lo(v, 0, 1), want);
  }
  EXPECT_TRUE(std::isnan(clampf(nan, 0, 1)));
  EXPECT_TRUE(std::isnan(clampd(nan, 0, 1)));
  EXPECT_EQ(clampf_nan_lo(nan, -1, 1), -1);
  EXPECT_EQ(clampd_nan_lo(nan, -1, 1), -1);
  EXPECT_EQ(clamp01f(nan), 0);
  EXPECT_EQ(clamp0f(nan, 5), 0);
  // -0 stays -0 except in the clamp0f family.
  EXPECT_TRUE(std::signbit(clampf(-0.0f, 0, 1)));
  EXPECT_TRUE(std::signbit(clampf_nan_lo(-0.0f, 0, 1)));
  EXPECT_FALSE(std::signbit(clamp01f(-0.0f)));
  EXPECT_FALSE(std::signbit(clamp0f(-0.0f, 5)));
  EXPECT_EQ(clamp0f(7, 5), 5);
  EXPECT_EQ(clampi(-40000, -32768, 32767), -32768);
  EXPECT_EQ(clampi(5, -32768, 32767), 5);
}

TEST(MathUtil, VectorHelpers) {
  double a[3] = {1, 2, 3}, b[3] = {4, 5, 6}, d[3];
  EXPECT_EQ(dot3(a, b), 32);
  sub3(b, a, d);
  EXPECT_EQ(d[0], 3);
  EXPECT_EQ(d[2], 3);
  cross3(a, b, a);  // in place
  EXPECT_EQ(a[0], -3);
  EXPECT_EQ(a[1], 6);
  EXPECT_EQ(a[2], -3);
  float f[3] = {2, 3, 6}, g[3] = {1, 0, 0};
  EXPECT_EQ(length3(f), 7.0f);
  cross3(g, f, f);
  EXPECT_EQ(f[1], -6.0f);
  EXPECT_EQ(f[2], 3.0f);
  double e[3] = {2, 3, 6};
  EXPECT_EQ(length3(e), 7.0);
}

}  // namespace
