#include <ftw.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "core/log.h"

namespace {

std::string read_file(const std::string &path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

int64_t hundred_hours() { return int64_t(100) * 3600 * 1000; }
int64_t fixed_time() { return int64_t(3725) * 1000 + 420; }  // 1:02:05.42

class LogTest : public ::testing::Test {
 protected:
  std::string dir;
  void SetUp() override {
    char tmpl[] = "/tmp/tw_log_XXXXXX";
    dir = mkdtemp(tmpl);
    unsetenv("KORB_LOGFILE");
    unsetenv("KORB_LOGFILE_FLAGS");
    unsetenv("KORB_OPTIONS");
    korb_reset_for_tests();
    clock_override_for_tests(fixed_time);
  }
  void TearDown() override {
    korb_reset_for_tests();
    clock_override_for_tests(nullptr);
    std::string cmd = "rm -rf " + dir;
    if (system(cmd.c_str())) {}
  }
  std::string path(const char *name) { return dir + "/" + name; }
};

TEST_F(LogTest, DirectiveOpensTruncatesAndPrefixesEveryLine) {
  std::string p = path("lastlog.txt");
  { std::ofstream(p) << "old contents\n"; }
  log_printf("KORB_LOGFILE=%s", p.c_str());
  log_printf("hello %d\n", 7);
  EXPECT_EQ(read_file(p),
            "[1:02:05.42] Logfile \"" + p + "\" opened\n"
            "[1:02:05.42] KORB 0.31\n"
            "[1:02:05.42] hello 7\n");
}

TEST_F(LogTest, OpenModes) {
  struct Case {
    const char *env_path_prefix;  // nullptr: directive path
    const char *flags;
    bool appends;
  } cases[] = {
      {">>", nullptr, true},
      {">", nullptr, false},
      {"", "a", true},
      {">>", "w", false},
  };
  for (const Case &c : cases) {
    korb_reset_for_tests();
    std::string p = path("mode.txt");
    { std::ofstream(p) << "kept\n"; }
    std::string env = std::string(c.env_path_prefix) + p;
    setenv("KORB_LOGFILE", env.c_str(), 1);
    if (c.flags) setenv("KORB_LOGFILE_FLAGS", c.flags, 1);
    else unsetenv("KORB_LOGFILE_FLAGS");
    log_printf("KORB_LOGFILE=%s", path("ignored.txt").c_str());
    log_printf("x\n");
    log_close();
    std::string text = read_file(p);
    EXPECT_EQ(text.rfind("kept\n", 0) == 0, c.appends) << env;
    // The "Logfile" line names the path without the ">" characters.
    EXPECT_NE(text.find("Logfile \"" + p + "\" opened"), std::string::npos) << env;
    EXPECT_EQ(read_file(path("ignored.txt")), "");
  }
}

TEST_F(LogTest, WithoutDirectiveOrEnvironmentTheLogStaysSilent) {
  log_printf("first message %s\n", path("nowhere").c_str());
  log_printf("KORB_LOGFILE=%s", path("late.txt").c_str());
  EXPECT_FALSE(std::ifstream(path("late.txt")).good());
  // Only the format makes a directive: a message that prints such text is
  // an ordinary first message.
  korb_reset_for_tests();
  log_printf("%s", ("KORB_LOGFILE=" + path("printed.txt")).c_str());
  log_printf("KORB_LOGFILE=%s", path("after.txt").c_str());
  EXPECT_FALSE(std::ifstream(path("printed.txt")).good());
  EXPECT_FALSE(std::ifstream(path("after.txt")).good());
}

TEST_F(LogTest, LongDirectivePathIsNeverCut) {
  // Deep folders make a path well past any fixed buffer; the log must go to
  // that path, not to a shortened name in one of its folders.
  std::string folder = dir;
  for (int i = 0; i < 6; i++) {
    folder += "/" + std::string(200, char('a' + i));
    ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
  }
  std::string p = folder + "/" + std::string(200, 'z') + ".txt";
  log_printf("KORB_LOGFILE=%s", p.c_str());
  log_printf("deep\n");
  EXPECT_NE(read_file(p).find("] deep\n"), std::string::npos);
  static int files;
  files = 0;
  nftw(dir.c_str(), [](const char *, const struct stat *st, int, FTW *) { return files += S_ISREG(st->st_mode), 0; },
       16, FTW_PHYS);
  EXPECT_EQ(files, 1);
}

TEST_F(LogTest, ClosedLogDropsMessagesAndHidesByte19) {
  std::string p = path("l.txt");
  log_printf("KORB_LOGFILE=%s", p.c_str());
  log_printf("\x13secret\n");
  log_printf("shown\n");
  log_close();
  log_printf("dropped\n");
  std::string text = read_file(p);
  EXPECT_EQ(text.find("secret"), std::string::npos);
  EXPECT_NE(text.find("shown"), std::string::npos);
  EXPECT_EQ(text.find("dropped"), std::string::npos);
}

TEST_F(LogTest, HoursAreNotWrapped) {
  clock_override_for_tests(hundred_hours);
  std::string p = path("h.txt");
  log_printf("KORB_LOGFILE=%s", p.c_str());
  log_printf("t\n");
  EXPECT_NE(read_file(p).find("[100:00:00.00] t\n"), std::string::npos);
}

TEST_F(LogTest, Options) {
  std::string p = path("opt.txt");
  log_printf("KORB_LOGFILE=%s", p.c_str());
  setenv("KORB_OPTIONS", "[threaded:yes][dsnd:NO][waveout:1][xinput:off][gles:on]"
                         "[sound-rate:44100x][sound-channels:][sound-mixahead: -5]"
                         "[glmajor:3][glmajor:4]", 1);
  EXPECT_EQ(option_flag("threaded", 0), 1);
  EXPECT_EQ(option_flag("dsnd", 1), 1);
  EXPECT_EQ(option_flag("waveout", 1), 1);
  EXPECT_EQ(option_flag("xinput", 1), 0);
  EXPECT_EQ(option_flag("gles", 0), 1);
  EXPECT_EQ(option_flag("absent", 1), 1);
  EXPECT_EQ(option_int("sound-rate", 22050), 44100);
  EXPECT_EQ(option_int("sound-channels", 16), 16);
  EXPECT_EQ(option_int("sound-mixahead", 125), -5);
  EXPECT_EQ(option_int("glmajor", 0), 3);  // the first entry counts
  // Names are case-sensitive.
  EXPECT_EQ(option_flag("Threaded", 0), 0);
  std::string text = read_file(p);
  EXPECT_NE(text.find("unrecognized setting for dsnd\n"), std::string::npos);
  EXPECT_NE(text.find("unrecognized setting for waveout\n"), std::string::npos);
  EXPECT_NE(text.find("unrecognized setting for sound-channels\n"), std::string::npos);
  EXPECT_EQ(text.find("unrecognized setting for sound-rate"), std::string::npos);
}

}  // namespace
