// The ground's drawing against the recording GL table: what the stream
// uploads and draws with which level, the decals drawn into a level, the
// order levels are rebuilt in and what invalidates them.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "gfx/render.h"
#include "gfx/terrain_render.h"
#include "terrain/terrain_lod.h"
#include "tests/gfx/recording_gl.h"
#include "tests/gfx/test_files.h"
#include "tests/terrain/deform_fixture.h"

namespace {

float bumpy(float x, float z) { return 2 * sinf(x * 0.37f) * cosf(z * 0.23f) + 0.3f * sinf(x * z * 0.01f); }

struct Draw {
  GLuint tex[3];
  float offset[2], scale;
  int count;
};

// What the stream's draws are made with, followed through the table.
struct StreamSpy {
  static StreamSpy *on;
  GLenum unit = GL_TEXTURE0;
  GLuint bound[8] = {};
  float offset[2] = {0, 0}, scale = 0;
  long max_upload = 0;
  int uploads = 0;
  std::vector<Draw> draws;

  void install() {
    on = this;
    gl.ActiveTexture = [](GLenum u) { on->unit = u; };
    gl.BindTexture = [](GLenum, GLuint t) { on->bound[on->unit - GL_TEXTURE0] = t; };
    gl.GetUniformLocation = [](GLuint, const GLchar *name) -> GLint {
      if (!strcmp(name, "u_texoffset")) return 20;
      if (!strcmp(name, "u_texscale")) return 21;
      return -1;
    };
    gl.Uniform2f = [](GLint loc, GLfloat a, GLfloat b) {
      if (loc == 20) on->offset[0] = a, on->offset[1] = b;
    };
    gl.Uniform1f = [](GLint loc, GLfloat v) {
      if (loc == 21) on->scale = v;
    };
    gl.BufferSubData = [](GLenum target, GLintptr, GLsizeiptr size, const void *) {
      if (target != GL_ARRAY_BUFFER) return;
      on->max_upload = std::max(on->max_upload, long(size));
      on->uploads++;
    };
    gl.DrawArrays = [](GLenum mode, GLint, GLsizei count) {
      if (mode != GL_TRIANGLES) return;
      on->draws.push_back({{on->bound[0], on->bound[1], on->bound[2]},
                           {on->offset[0], on->offset[1]}, on->scale, count});
    };
  }
};
StreamSpy *StreamSpy::on;

class GroundDrawing : public ::testing::Test {
 protected:
  DeformGround ground;
  GroundSettings keep = ground_settings;
  TerrainHooks hooks = terrain_hooks;
  void SetUp() override {
    recording_gl_install();
    capture_begin();
    ground_stats = GroundStats{};
    decals_hidden = 0;
  }
  void TearDown() override {
    terrain_render_free();
    decals_free();
    ground_settings = keep;
    terrain_hooks = hooks;
    decals_hidden = 0;
  }
  // Steps the level rebuilding until idle: the levels rebuilt, in order.
  std::vector<int> rebuild_all(const float viewer[3]) {
    std::vector<int> order;
    for (int i = 0; i < 64; i++) {
      terrain_texture_step(viewer);
      int pass = 0, l = ground_level_rebuilding(&pass);
      if (l >= 0 && pass == 1) order.push_back(l);
      if (l < 0 && i > 0) {
        bool all = true;
        for (int k = 0; k < ground_level_count(); k++) all = all && ground_level(k)->state >= 0;
        if (all) break;
      }
    }
    return order;
  }
};

TEST_F(GroundDrawing, TheStreamUploadsInBuffersOfAtMost16384VerticesWithEachLevelsTextures) {
  ground.build(9, 1.0f, bumpy);  // levels of 64, 256 and 512 samples
  ground_settings.tolerance = 0.0002f;
  ASSERT_EQ(terrain_render_create(), 1);
  ASSERT_EQ(ground_level_count(), 3);
  const float viewer[3] = {200, 5, 300}, dir[3] = {0, -1, 0};
  terrain_set_viewer(viewer, dir);
  rebuild_all(viewer);
  StreamSpy spy;
  spy.install();
  terrain_draw(viewer);
  EXPECT_GT(ground_stats.triangles, 3 * LOD_STREAM_VERTICES / 3);
  EXPECT_GT(spy.uploads, 2);
  EXPECT_LE(spy.max_upload, 196608);
  ASSERT_FALSE(spy.draws.empty());
  std::map<int, int> seen;
  for (const Draw &d : spy.draws) {
    int level = -1;
    for (int l = 0; l < ground_level_count(); l++)
      if (ground_level(l)->tex[0] == d.tex[0]) level = l;
    ASSERT_GE(level, 0);
    const GroundLevel *L = ground_level(level);
    EXPECT_EQ(d.tex[1], L->tex[1]);
    EXPECT_EQ(d.tex[2], L->tex[2]);
    EXPECT_FLOAT_EQ(d.offset[0], -float(L->ox));
    EXPECT_FLOAT_EQ(d.offset[1], -float(L->oz));
    EXPECT_FLOAT_EQ(d.scale, 1.0f / float(L->g));
    EXPECT_EQ(d.count % 3, 0);
    seen[level] += d.count / 3;
  }
  EXPECT_EQ(seen.size(), 3u);
  int total = 0;
  for (auto &[l, n] : seen) total += n;
  EXPECT_EQ(total, ground_stats.triangles);
  // The program is back to the plain one, the heights left unit 3.
  EXPECT_EQ(twgl_current_program(), PROGRAM_UNLIT);
}

TEST_F(GroundDrawing, LevelsAreBuiltCoarsestFirstAndRecentredPastAQuarter) {
  ground.build(9, 1.0f, bumpy);
  ASSERT_EQ(terrain_render_create(), 1);
  std::string log = captured_log();
  for (const char *line : {"Detail level 0 is 256x256 covering 64x64 height elements\n",
                           "Detail level 1 is 256x256 covering 256x256 height elements\n",
                           "Detail level 2 is 256x256 covering 1024x1024 height elements\n",
                           "Detail level 16 is 256x256 covering 0x0 height elements\n"})
    EXPECT_NE(log.find(line), std::string::npos) << line << log;
  float viewer[3] = {500, 5, 500};
  // The first step builds the whole terrain's level at once.
  terrain_texture_step(viewer);
  EXPECT_EQ(ground_level(2)->state, 0);
  EXPECT_EQ(ground_level(1)->state, -1);
  EXPECT_EQ(rebuild_all(viewer), (std::vector<int>{1, 0}));
  const GroundLevel *fine = ground_level(0);
  int ox = fine->ox;
  EXPECT_EQ(ox, 500 + 8 - (500 + 8) % 16 - 32);
  // 4 x 15 samples is still within the level; 4 x 17 is not.
  viewer[0] = float(ox + 32 + 15);
  EXPECT_TRUE(rebuild_all(viewer).empty());
  viewer[0] = float(ox + 32 + 17);
  EXPECT_EQ(rebuild_all(viewer), (std::vector<int>{0}));
  EXPECT_EQ(ground_level(0)->ox, ox + 16);
  // Without mipmaps no level texture gets any.
  rec.calls.clear();
  terrain_set_mipmaps(0);
  rebuild_all(viewer);
  EXPECT_TRUE(calls_named("GenerateMipmap").empty());
}

// ------------------------------------------------------------------ decals

std::map<std::string, int> &fake_textures() {
  static std::map<std::string, int> t;
  return t;
}
int fake_load(const char *name) {
  auto it = fake_textures().find(name);
  return it == fake_textures().end() ? 0 : it->second;
}

class GroundDecals : public GroundDrawing {
 protected:
  TempDir dir;
  void load(const std::string &text) {
    terrain_hooks.load_texture = fake_load;
    fake_textures() = {{"a.png", 901}, {"b.png", 902}, {"b_tnorm.png", 903}, {"c.png", 902}};
    dir.write("decals", text);
    ASSERT_EQ(decals_load_dir(dir.dir.c_str()), 1);
  }
  // The ground quads drawn: (x, z) of each corner.
  struct Quad {
    float x[4], z[4];
  };
  std::vector<Quad> drawn(const float rect[4], int pass) {
    std::vector<Quad> out;
    twglUseProgram(PROGRAM_UNLIT);
    rec.calls.clear();
    rec.vertices.clear();
    decals_draw(rect, pass);
    twgl_flush();
    size_t quads = rec.vertices.size() / 48;
    for (size_t q = 0; q < quads; q++) {
      Quad d;
      for (int k = 0; k < 4; k++) {
        d.x[k] = rec.vertices[(4 * q + k) * 12];
        d.z[k] = rec.vertices[(4 * q + k) * 12 + 2];
      }
      out.push_back(d);
    }
    return out;
  }
};

TEST_F(GroundDecals, DrawnOnceInFileOrderWithTheirPassTextureAndCorners) {
  ground.build(5, 1.0f);  // extent 64: buckets of 8
  load("[10 20] 0 2 3 a.png\n"      // x 7 .. 13, z 19 .. 21
       "[16 4] 0 2 2 b.png\n"       // x 14 .. 18: two buckets
       "[17 5] 0.5 1 1 c.png\n"     // same picture as b, no normal map
       "[60 60] 0 1 1 a.png\n");    // outside the rectangle
  const float rect[4] = {0, 0, 23.9f, 23.9f};  // 3 x 3 buckets
  std::vector<Quad> colour = drawn(rect, 0);
  ASSERT_EQ(colour.size(), 3u);
  EXPECT_EQ(ground_stats.decals, 3);
  // Corners (0,0), (1,0), (1,1), (0,1) of the first.
  const float want_x[4] = {7, 13, 13, 7}, want_z[4] = {19, 19, 21, 21};
  for (int k = 0; k < 4; k++) {
    EXPECT_FLOAT_EQ(colour[0].x[k], want_x[k]);
    EXPECT_FLOAT_EQ(colour[0].z[k], want_z[k]);
  }
  EXPECT_FLOAT_EQ(colour[1].x[0], 14);
  EXPECT_FLOAT_EQ(colour[1].x[1], 18);
  // a, then b and c in one run: two binds, standard alpha blending.
  EXPECT_EQ(calls_named("BindTexture").size(), 2u);
  EXPECT_EQ(calls_named("BindTexture")[0], "BindTexture 0xde1 901");
  EXPECT_EQ(calls_named("BindTexture")[1], "BindTexture 0xde1 902");
  EXPECT_EQ(calls_named("BlendFunc"), std::vector<std::string>{"BlendFunc 0x302 0x303"});
  // Normal maps: only b has one.
  std::vector<Quad> normal = drawn(rect, 1);
  ASSERT_EQ(normal.size(), 1u);
  EXPECT_FLOAT_EQ(normal[0].x[0], 14);
  EXPECT_EQ(calls_named("BindTexture"), std::vector<std::string>{"BindTexture 0xde1 903"});
  EXPECT_TRUE(drawn(rect, 2).empty());
  // Hidden decals draw nothing.
  decals_toggle();
  EXPECT_TRUE(drawn(rect, 0).empty());
}

TEST_F(GroundDecals, AMovedDecalInvalidatesOnlyTheLevelsItTouches) {
  ground.build(9, 1.0f, bumpy);
  load("[100 100] 0 2 2 a.png\n");
  ASSERT_EQ(terrain_render_create(), 1);
  const float viewer[3] = {500, 5, 500};
  rebuild_all(viewer);
  for (int l = 0; l < 3; l++) ASSERT_EQ(ground_level(l)->state, 1);
  // Inside the middle level but not the finest one.
  const GroundLevel *mid = ground_level(1);
  decals[0].x = float(mid->ox + 5), decals[0].z = float(mid->oz + 5);
  decals_rebucket();
  terrain_decal_changed(0);
  EXPECT_EQ(ground_level(0)->state, 1);
  EXPECT_EQ(ground_level(1)->state, -1);
  EXPECT_EQ(ground_level(2)->state, -1);
  EXPECT_EQ(rebuild_all(viewer), (std::vector<int>{2, 1}));
  // Hiding the decals redraws every level.
  decals_toggle();
  EXPECT_EQ(rebuild_all(viewer), (std::vector<int>{2, 1, 0}));
}

TEST_F(GroundDecals, AnIncompleteFramebufferIsReportedAndItsPassDrawsNothing) {
  ground.build(7, 1.0f, bumpy);
  load("[60 60] 0 8 1 a.png\n");
  ASSERT_EQ(terrain_render_create(), 1);
  gl.CheckFramebufferStatus = [](GLenum) -> GLenum { return GL_FRAMEBUFFER_INCOMPLETE_ATTACHMENT; };
  captured_messages().clear();
  rec.calls.clear();
  const float viewer[3] = {60, 5, 60};
  terrain_texture_step(viewer);
  ASSERT_FALSE(captured_messages().empty());
  EXPECT_EQ(captured_messages()[0], "Framebuffer error 8cd6");
  EXPECT_TRUE(calls_named("Draw").empty());
  // The level still swaps in what its textures hold.
  EXPECT_EQ(ground_level(ground_level_count() - 1)->state, 1);
}

TEST_F(GroundDrawing, HeightsGoUpInChangedBlocksAtTheConfiguredRate) {
  ground.build(9, 1.0f, bumpy);  // 8 x 8 blocks
  ASSERT_EQ(terrain_render_create(), 1);
  // Four rows of eight blocks.
  for (int bz = 0; bz < 4; bz++) terrain_mark_dirty(0, bz * 128 + 1, 1023, bz * 128 + 1);
  rec.calls.clear();
  ground_settings.resync_rate = 1;
  terrain_update_frame();
  EXPECT_EQ(calls_named("TexSubImage2D 0 128x128").size(), 2u);
  rec.calls.clear();
  terrain_refresh_all();
  EXPECT_EQ(calls_named("TexSubImage2D 0 128x128").size(), 30u);
  rec.calls.clear();
  terrain_update_frame();
  EXPECT_TRUE(calls_named("TexSubImage2D 0 128x128").empty());
}

TEST_F(GroundDrawing, WithoutRenderStateNothingHappens) {
  ground.build(5, 1.0f, bumpy);
  rec.calls.clear();
  const float v[3] = {1, 2, 3};
  terrain_update_frame();
  terrain_set_viewer(v, v);
  terrain_texture_step(v);
  terrain_draw(v);
  EXPECT_TRUE(rec.calls.empty());
  EXPECT_EQ(lod.front, nullptr);
}

}  // namespace
