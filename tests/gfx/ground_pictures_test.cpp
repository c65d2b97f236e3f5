// The generated ground pictures: tiles join without seams, and each
// surface's mean colour is its roost colour.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

#include "core/core.h"
#include "gfx/gfx.h"
#include "tests/gfx/test_files.h"

namespace {

TEST(GroundPictures, TilesJoinWithoutSeamsAndMeansMatchTheRoost) {
  struct {
    const char *name;
    int roost[3];
  } grounds[] = {{"@ground/grass.png", {70, 110, 50}},
                 {"@ground/dirt.png", {125, 100, 75}},
                 {"@ground/mud.png", {80, 62, 45}},
                 {"@ground/hardpack.png", {140, 120, 95}}};
  for (const auto &g : grounds) {
    int w = 0, h = 0, b = 0;
    char *text = nullptr;
    uint8_t *px = image_read_png(g.name, &w, &h, &b, &text);
    ASSERT_NE(px, nullptr) << g.name;
    mem_free(text);
    ASSERT_EQ(w, h);
    // A tile shows texels w/16 .. 15w/16 - 1; lay 3 x 3 of them out.
    int lo = w / 16, shown = w * 7 / 8, side = 3 * shown;
    auto texel = [&](int x, int y, int c) {
      return int(px[(size_t(lo + y % shown) * w + lo + x % shown) * b + c]);
    };
    int inside = 0, seam = 0;
    double mean[3] = {0, 0, 0};
    for (int y = 0; y < side; y++)
      for (int x = 0; x + 1 < side; x++)
        for (int c = 0; c < 3; c++) {
          int across = abs(texel(x + 1, y, c) - texel(x, y, c));
          int down = abs(texel(y, x + 1, c) - texel(y, x, c));
          bool at_seam = (x + 1) % shown == 0;
          (at_seam ? seam : inside) = std::max(at_seam ? seam : inside, std::max(across, down));
          if (x < shown && y < shown) mean[c] += texel(x, y, c);
        }
    EXPECT_LE(seam, inside) << g.name;
    for (int c = 0; c < 3; c++)
      EXPECT_NEAR(mean[c] / (shown * shown), g.roost[c], 8) << g.name << " channel " << c;
    mem_free(px);
  }
}

}  // namespace
