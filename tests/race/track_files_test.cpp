// The track's scenery files, statues on the ground, and the obstacle grid.
#include "tests/race/track_fixture.h"

namespace {

// Reads `text` with one of the file readers on empty tables.
int read_text(int (*reader)(DataFile *), const std::string &text) {
  scenery_free();
  track_tables_clear();
  DataFile *f = data_open_memory(text.data(), int(text.size()), 0);
  int n = reader(f);
  data_close(f);
  return n;
}

const char *STARTER = "[ 1 0 2 ] [ 3 0 4 ] 6 0.5 2 s1.png s2.png s3.png s4.png s5.png\n";
const char *FINISH = "[ 10 0 20 ] 5 0.4 f1 f2 f3 f4\n";

TEST(TrackFiles, Flaggers) {
  timing_clear();
  timing.enabled = 1;
  timing.checkpoint_count = 5;
  std::string all = std::string(STARTER) + FINISH +
                    "[ 30 0 30 ] 5 0.5 0 4 9 -3 idle.png wave.png\n"
                    "[ 31 0 31 ] 5 0.5 1 -1 2 3 idle2.png wave2.png\n";
  ASSERT_EQ(read_text(flaggers_read, all), 4);
  EXPECT_EQ(starter.billboard, 0);
  EXPECT_STREQ(billboards[0].texture_name, "s1.png");
  EXPECT_EQ(starter.b[2], 4.0f);
  EXPECT_EQ(starter.walk_seconds, 2.0f);
  EXPECT_STREQ(starter.textures[4], "s5.png");
  EXPECT_EQ(finish_flagger.billboard, 1);
  EXPECT_STREQ(finish_flagger.textures[3], "f4");
  ASSERT_EQ(flagger_count, 2);
  const int clamped[4] = {0, 4, 4, -1};
  for (int k = 0; k < 4; k++) EXPECT_EQ(flaggers[0].checkpoints[k], clamped[k]);
  EXPECT_STREQ(flaggers[1].waving, "wave2.png");
  EXPECT_EQ(billboards[flaggers[1].billboard].x, 31.0f);
  EXPECT_EQ(billboards[flaggers[1].billboard].height, 5.0f);

  // Reading stops at the first item that fails, or is not a number.
  struct Case {
    std::string text;
    int records, flaggers;
  } cases[] = {
      {"", 0, 0},
      {"[ nan 0 2 ] [ 3 0 4 ] 6 0.5 2 s1 s2 s3 s4 s5\n" + std::string(FINISH), 0, 0},
      {std::string(STARTER) + "[ 10 0 20 ] inf 0.4 f1 f2 f3 f4\n", 1, 0},
      {std::string(STARTER) + FINISH + "[ 30 0 30 ] 5 0.5 0 1 2 3 idle\n", 2, 0},
      {std::string(STARTER) + FINISH + "[ 30 0 30 ] 5 0.5 0 1 2 3 a b\n[ 1 0 1 ] 5 nan 0 1 2 3 a b",
       3, 1},
  };
  for (const Case &c : cases) {
    EXPECT_EQ(read_text(flaggers_read, c.text), c.records) << c.text;
    EXPECT_EQ(flagger_count, c.flaggers) << c.text;
  }
  // Without timing there are no checkpoints to watch.
  timing.enabled = 0;
  read_text(flaggers_read, all);
  EXPECT_EQ(flaggers[0].checkpoints[1], -1);
  timing_clear();
}

TEST(TrackFiles, Billboards) {
  EXPECT_EQ(read_text(billboards_read,
                      "[ 1 2 3 ] 4 0.5 tree.png\n[ 5 0 6 ] 2 1 #ff8000#cone.png\n"
                      "[ 7 0 8 ] 2 1 #ff80#cone.png\n[ 9 0 9 ] nan 1 x.png\n[ 1 1 1 ] 1 1 y.png\n"),
            3);
  EXPECT_EQ(billboards[0].y_offset, 2.0f);
  EXPECT_EQ(billboards[0].y, 2.0f);  // no ground loaded: height 0
  EXPECT_EQ(billboards[0].width_ratio, 0.5f);
  EXPECT_STREQ(billboards[1].texture_name, "cone.png");
  EXPECT_EQ(billboards[1].color[0], 255);
  EXPECT_EQ(billboards[1].color[1], 128);
  EXPECT_EQ(billboards[1].color[2], 0);
  EXPECT_EQ(billboards[1].color[3], 255);
  EXPECT_STREQ(billboards[2].texture_name, "#ff80#cone.png");
  EXPECT_EQ(billboards[2].color[1], 255);
  EXPECT_EQ(read_text(billboards_read, "[ 1 2 3 ] 4 0.5\n"), 0);
  scenery_free();
}

TEST(TrackFiles, StatuesAndTheirOrientation) {
  MessageCatcher messages;
  EXPECT_EQ(read_text(statues_read,
                      "[ 1 0.5 2 ] 0 shed.jm shed.png null\n"
                      "[ 3 0 4 ] 4 sign.jm null missing.shp\n"
                      "[ 5 0 6 ] -7 pole.jm pole.png null\n"
                      "[ inf 0 6 ] 0 a b c\n[ 1 1 1 ] 0 a b c\n"),
            3);
  EXPECT_STREQ(statues[0].model_name, "shed.jm");
  EXPECT_STREQ(statues[0].shape_name, "");
  EXPECT_EQ(statues[0].y, 0.5f);
  EXPECT_STREQ(statues[1].texture_name, "");
  EXPECT_EQ(statues[1].shape, nullptr);
  ASSERT_EQ(messages.lines.size(), 1u);
  EXPECT_EQ(messages.lines[0], "Warning: missing shape file missing.shp");
  // Camera-facing: identity, seen from 2^angle.
  const float I[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
  for (int i = 0; i < 9; i++) EXPECT_EQ(statues[1].orientation[i], I[i]);
  EXPECT_EQ(statues[1].facing_distance, 16.0f);
  // At or below -2 pi: upright, heading still from the angle.
  const float *o = statues[2].orientation;
  float s = sinf(-7), c = cosf(-7);
  EXPECT_NEAR(o[1 * 3 + 1], 1, 1e-6);  // up is up
  EXPECT_NEAR(o[0 * 3 + 2], s, 1e-6);  // forward (s, 0, c)
  EXPECT_NEAR(o[2 * 3 + 2], c, 1e-6);
  EXPECT_EQ(statues[2].facing_distance, 0.0f);
  scenery_free();
}

TEST_F(TrackTest, StatuesLeanWithTheGround) {
  // A slope rising 1 ft per 4 ft eastwards.
  std::string hf = "5 4 0 64\n:";
  for (int j = 0; j < 65; j++)
    for (int i = 0; i < 65; i++) {
      uint16_t v = uint16_t(i * 65535 / 64);
      hf += char(v & 255);
      hf += char(v >> 8);
    }
  write_track("slope", {{"terrain.hf", hf}, {"statues", "[ 100 0 100 ] 0 a.jm a.png null\n"}});
  select("slope");
  ASSERT_EQ(load_track(table({SLOT_ROBOT}).data(), 0, 0, 0, 3, 0), 1);
  ASSERT_EQ(statue_count, 1);
  const Statue &st = statues[0];
  EXPECT_NEAR(st.y, terrain_height(100, 100), 1e-4);
  // Local y is the ground normal over one-unit steps; local z stays in
  // the north-south plane, tilted by nothing.
  float n[3] = {-0.25f, 1, 0};
  float l = std::sqrt(n[0] * n[0] + 1);
  EXPECT_NEAR(st.orientation[0 * 3 + 1], n[0] / l, 1e-4);
  EXPECT_NEAR(st.orientation[1 * 3 + 1], 1 / l, 1e-4);
  EXPECT_NEAR(st.orientation[2 * 3 + 2], 1, 1e-6);
  // A tilt turns it about its own sideways axis, lifting its far side.
  statue_tilt(0, 0.5f);
  float lz[3] = {-st.orientation[2], -st.orientation[5], -st.orientation[8]};  // local -z
  EXPECT_NEAR(lz[1], sinf(0.5f) / l, 1e-5);
  statue_place(0);
  EXPECT_NEAR(st.orientation[8], 1, 1e-6);
}

TEST(TrackFiles, Cameras) {
  std::string text =
      "gate 3 7\n"
      "addcamera 10 5 20\n"
      "fov -60\nautofovsize 12\n"
      "gate 1 300 2\n"
      "addcamera 30 1 40\n"
      "addcamera 50 nan 60\n"
      "gate x 4\n"
      "addcamera 70 2 80\n"
      "gatekeeper 9\n" +
      std::string(2000, 'x') + " gate 5\n";
  EXPECT_EQ(read_text(cameras_read, text), 3);
  EXPECT_EQ(gate_camera[3], 0);
  EXPECT_EQ(gate_camera[7], 0);
  EXPECT_EQ(gate_camera[1], 1);
  EXPECT_EQ(gate_camera[2], -1) << "reading stops at an integer out of range";
  EXPECT_EQ(gate_camera[4], -1);
  EXPECT_EQ(gate_camera[9], -1);
  EXPECT_EQ(gate_camera[5], -1) << "the rest of a long line is no line of its own";
  EXPECT_EQ(track_cameras[0].fov, 90.0f);
  EXPECT_EQ(track_cameras[1].fov, 60.0f);
  EXPECT_EQ(track_cameras[1].auto_fov_size, 12.0f);
  EXPECT_EQ(track_cameras[1].y, 1.0f);
  EXPECT_EQ(track_cameras[2].fov, 90.0f) << "the pending values go with one camera";
  EXPECT_EQ(track_cameras[2].x, 70.0f);
}

TEST(TrackFiles, ObstacleGrid) {
  float saved = terrain.extent;
  terrain.extent = 2048;
  EXPECT_EQ(obstacle_cell(1021), 3);
  EXPECT_EQ(obstacle_cell(1027), 4);
  EXPECT_EQ(obstacle_cell(0), 0);
  EXPECT_EQ(obstacle_cell(2048), 7);
  EXPECT_EQ(obstacle_cell(NAN), 0);

  scenery_free();
  CollisionShape post;
  post.spheres = {{{0, 1, 0}, 1, 0.5f, 2500, 250}};
  post.bound_radius = 3;
  shape_cache_put("post.shp", post);
  statue_create(1024, 0, 1024, 0, nullptr, nullptr, "post.shp");
  statue_create(0, 0, 2048, 0, nullptr, nullptr, "post.shp");
  statue_create(500, 0, 500, 0, nullptr, nullptr, nullptr);  // no shape: no obstacle
  obstacle_grid_build();
  const int *list;
  int in[8][8] = {};
  for (int gz = 0; gz < 8; gz++)
    for (int gx = 0; gx < 8; gx++) {
      int n = obstacle_grid_list(gx, gz, &list);
      for (int i = 0; i < n; i++) in[gz][gx] |= 1 << list[i];
    }
  EXPECT_EQ(in[3][3], 1);
  EXPECT_EQ(in[4][4], 1);
  EXPECT_EQ(in[4][3], 1);
  EXPECT_EQ(in[7][0], 2);
  EXPECT_EQ(in[2][2], 0);
  EXPECT_EQ(in[0][7], 0);
  EXPECT_NE(physics_hooks.obstacles_near, nullptr);
  Obstacle found[4];
  EXPECT_EQ(physics_hooks.obstacles_near(1030, 1020, found, 4), 1);
  EXPECT_EQ(found[0].contact_tic, &statues[0].contact_tic);
  EXPECT_EQ(physics_hooks.obstacles_near(800, 800, found, 4), 0);
  physics_hooks = PhysicsHooks();
  scenery_free();
  shape_cache_purge();
  terrain.extent = saved;
}

}  // namespace
