// Data files: search folders, opening by name, reading, writing and the
// replace-by-rename writers.
#include <sys/resource.h>

#include <climits>
#include <csignal>
#include <cstring>

#include "core/log.h"
#include "test_data_fixture.h"

namespace {

using DataOpen = DataFolders;

TEST_F(DataOpen, SearchFoldersFromEnvironment) {
  EXPECT_EQ(std::string(search_folder(0)), home);
  EXPECT_EQ(std::string(search_folder(1)), install);
  EXPECT_EQ(search_folder(2), nullptr);

  // Backslashes and doubled separators are tidied; an unset XDG_DATA_HOME
  // falls back to ~/.local/share.
  file_index_free();
  setenv("TW_HOME", (root + "\\\\inst//x").c_str(), 1);
  unsetenv("XDG_DATA_HOME");
  std::string saved_home = getenv("HOME") ? getenv("HOME") : "";
  setenv("HOME", (root + "/h/").c_str(), 1);
  EXPECT_EQ(std::string(search_folder(0)), root + "/h/.local/share/Tarnwick/");
  EXPECT_EQ(std::string(search_folder(1)), root + "/inst/x/");

  // Without TW_HOME the program's own folder is searched.
  file_index_free();
  unsetenv("TW_HOME");
  setenv("XDG_DATA_HOME", "", 1);
  char exe[1024];
  ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
  ASSERT_GT(n, 0);
  exe[n] = 0;
  *strrchr(exe, '/') = 0;
  EXPECT_EQ(std::string(search_folder(1)), std::string(exe) + "/");
  setenv("HOME", saved_home.c_str(), 1);
}

TEST_F(DataOpen, GameDataMark) {
  EXPECT_EQ(find_game_data(), -1);
  put(install + GAME_DATA_MARK, "-\n");
  EXPECT_EQ(find_game_data(), 1);
  put(home + GAME_DATA_MARK, "-\n");
  EXPECT_EQ(find_game_data(), 0);
}

TEST_F(DataOpen, HomeThenInstallThenPlainPath) {
  put(install + "config", "install");
  EXPECT_EQ(read_all("@config"), "install");
  put(home + "config", "home");
  EXPECT_EQ(read_all("@config"), "home");
  EXPECT_EQ(read_all((install + "config").c_str()), "install");
  EXPECT_EQ(data_open("@missing", "rb"), nullptr);
  EXPECT_EQ(data_open("@", "rb"), nullptr);  // a folder is not a file
  EXPECT_EQ(data_open((root + "/none").c_str(), "r"), nullptr);
}

TEST_F(DataOpen, OverlongJoinedPathFailsInsteadOfCutting) {
  // Cut to 511 characters the name would be "<folder>aaa...a", which exists.
  std::string name;
  while (name.size() < 600) name += std::string(99, 'a') + "/";
  name += "file";
  std::string cut = name.substr(0, 511 - home.size());
  if (cut.back() == '/') cut.pop_back();
  put(home + cut, "wrong file");
  EXPECT_EQ(data_open(("@" + name).c_str(), "rb"), nullptr);
  EXPECT_EQ(data_open(("@" + name).c_str(), "wb"), nullptr);
  char out[2048];
  EXPECT_EQ(data_path(("@" + name).c_str(), out, sizeof out), 0);
  EXPECT_EQ(data_create(("@" + name).c_str()), nullptr);
}

TEST_F(DataOpen, GetsPeekReadAndLimits) {
  put(home + "lines", "ab\ncdef\nlast");
  DataFile *f = data_open("@lines", "rb");
  ASSERT_NE(f, nullptr);
  char buf[8];
  EXPECT_EQ(data_peekc(f), 'a');
  EXPECT_EQ(data_peekc(f), 'a');
  EXPECT_STREQ(data_gets(f, buf, 2), "a");  // room for one character
  EXPECT_STREQ(data_gets(f, buf, sizeof buf), "b\n");
  EXPECT_STREQ(data_gets(f, buf, 4), "cde");
  EXPECT_STREQ(data_gets(f, buf, sizeof buf), "f\n");
  EXPECT_EQ(data_peekc(f), 'l');
  EXPECT_EQ(data_read(f, buf, 8), 4);  // the pushback comes first
  EXPECT_EQ(std::string(buf, 4), "last");
  EXPECT_EQ(data_gets(f, buf, sizeof buf), nullptr);
  EXPECT_EQ(data_getc(f), -1);
  EXPECT_EQ(data_peekc(f), -1);
  EXPECT_EQ(data_error(f), 0);
  EXPECT_EQ(data_seek(f, 3), 1);
  EXPECT_EQ(data_getc(f), 'c');
  EXPECT_EQ(data_seek(f, -1), 0);
  data_close(f);
}

TEST_F(DataOpen, NumbersAndComments) {
  put(home + "nums", "# heading\n#\n   # indented\n  12 -7 x\n#tail");
  DataFile *f = data_open("@nums", "rb");
  ASSERT_NE(f, nullptr);
  data_skip_comments(f);
  EXPECT_EQ(data_read_int(f), 12);
  data_skip_comments(f);
  EXPECT_EQ(data_read_int(f), -7);
  EXPECT_EQ(data_read_int(f), INT_MIN);
  EXPECT_EQ(data_getc(f), 'x');
  data_skip_comments(f);
  EXPECT_EQ(data_getc(f), -1);
  data_close(f);
}

TEST_F(DataOpen, WritingGoesToHomeAndMakesFolders) {
  DataFile *f = data_open("@deep/er/out.txt", "w");
  ASSERT_NE(f, nullptr);
  data_putc(f, 'A');
  data_puts(f, "bc");
  data_write(f, "de", 2);
  data_printf(f, "%d|", 42);
  data_flush(f);
  data_close(f);
  EXPECT_EQ(get(home + "deep/er/out.txt"), "Abcde42|");
  // "r+" opens for writing; a plain path is used as given.
  put(root + "/plain", "xyz");
  f = data_open((root + "/plain").c_str(), "r+");
  ASSERT_NE(f, nullptr);
  data_putc(f, 'X');
  data_close(f);
  EXPECT_EQ(get(root + "/plain"), "Xyz");
  char out[1024];
  ASSERT_EQ(data_path("@a/b", out, sizeof out), 1);
  EXPECT_EQ(std::string(out), home + "a/b");
  EXPECT_EQ(data_path("@a/b", out, 5), 0);
}

TEST_F(DataOpen, CommitReplacesAbandonKeeps) {
  put(home + "config", "old");
  DataFile *f = data_create("@config");
  ASSERT_NE(f, nullptr);
  data_puts(f, "new");
  EXPECT_TRUE(exists(home + "config.tmp"));
  EXPECT_EQ(get(home + "config"), "old");
  EXPECT_EQ(data_commit(f), 1);
  EXPECT_EQ(get(home + "config"), "new");
  EXPECT_FALSE(exists(home + "config.tmp"));

  f = data_create("@config");
  ASSERT_NE(f, nullptr);
  data_puts(f, "half");
  data_abandon(f);
  EXPECT_EQ(get(home + "config"), "new");
  EXPECT_FALSE(exists(home + "config.tmp"));

  // Closing without committing is abandoning.
  f = data_create("@config");
  data_puts(f, "dropped");
  data_close(f);
  EXPECT_EQ(get(home + "config"), "new");
  EXPECT_FALSE(exists(home + "config.tmp"));
}

TEST_F(DataOpen, CommitFailureKeepsOldFile) {
  put(home + "config", "old");
  // A write error, as on a full disk: the file size limit makes writes fail.
  DataFile *f = data_create("@config");
  ASSERT_NE(f, nullptr);
  struct rlimit saved;
  getrlimit(RLIMIT_FSIZE, &saved);
  struct rlimit small = saved;
  small.rlim_cur = 4096;
  signal(SIGXFSZ, SIG_IGN);
  setrlimit(RLIMIT_FSIZE, &small);
  std::string big(1 << 16, 'x');
  data_write(f, big.data(), big.size());
  int ok = data_commit(f);
  setrlimit(RLIMIT_FSIZE, &saved);
  signal(SIGXFSZ, SIG_DFL);
  EXPECT_EQ(ok, 0);
  EXPECT_EQ(get(home + "config"), "old");
  EXPECT_FALSE(exists(home + "config.tmp"));

  // The target is a folder that is not empty: the rename fails.
  put(home + "dir/config/x", "x");
  f = data_create("@dir/config");
  ASSERT_NE(f, nullptr);
  data_puts(f, "new");
  EXPECT_EQ(data_commit(f), 0);
  EXPECT_FALSE(exists(home + "dir/config.tmp"));
  EXPECT_EQ(get(home + "dir/config/x"), "x");
}

TEST_F(DataOpen, RenameReplacesAtomically) {
  put(home + "a", "A");
  put(home + "b", "B");
  EXPECT_EQ(data_rename("@a", "@b"), 1);
  EXPECT_EQ(get(home + "b"), "A");
  EXPECT_FALSE(exists(home + "a"));
  EXPECT_EQ(data_rename("@a", "@b"), 0);  // nothing to move: b untouched
  EXPECT_EQ(get(home + "b"), "A");
  EXPECT_EQ(data_rename((home + "b").c_str(), (root + "/c").c_str()), 1);
  EXPECT_EQ(get(root + "/c"), "A");
  // Plain paths are not held to the limit of joined data names.
  std::string deep = root;
  for (char c : {'p', 'q', 'r'}) deep += "/" + std::string(200, c);
  put(deep + "/from", "D");
  EXPECT_EQ(data_rename((deep + "/from").c_str(), (deep + "/to").c_str()), 1);
  EXPECT_EQ(get(deep + "/to"), "D");
}

TEST_F(DataOpen, OpenHomeFolderStartsTheBrowser) {
  // A stand-in browser on PATH records what it was asked to open.
  std::string saved_path = getenv("PATH") ? getenv("PATH") : "";
  put(root + "/bin/xdg-open", "#!/bin/sh\nPATH=/usr/bin:/bin\necho \"$1\" > " + root + "/opened.tmp && mv " + root + "/opened.tmp " +
                                  root + "/opened\n");
  chmod((root + "/bin/xdg-open").c_str(), 0755);
  rmdir(home.c_str());
  setenv("PATH", (root + "/bin").c_str(), 1);
  open_home_folder();
  setenv("PATH", saved_path.c_str(), 1);
  for (int i = 0; i < 200 && !exists(root + "/opened"); i++) usleep(10000);
  EXPECT_EQ(get(root + "/opened"), home.substr(0, home.size() - 1) + "\n");
  EXPECT_TRUE(exists(home));

  // No browser at all: said in the log, nothing else happens.
  korb_reset_for_tests();
  setenv("KORB_LOGFILE", (root + "/log").c_str(), 1);
  setenv("PATH", (root + "/nothing").c_str(), 1);
  open_home_folder();
  setenv("PATH", saved_path.c_str(), 1);
  korb_reset_for_tests();
  unsetenv("KORB_LOGFILE");
  EXPECT_NE(get(root + "/log").find("Could not start xdg-open"), std::string::npos);
}

TEST(DataNames, SafeNames) {
  struct {
    const char *name;
    int safe;
  } cases[] = {{"track1", 1}, {"my.demo", 1}, {"", 0}, {"a/b", 0}, {"a\\b", 0}, {"..", 0}, {"x..y", 0}, {".hidden", 1}};
  for (auto &c : cases) EXPECT_EQ(data_safe_name(c.name), c.safe) << c.name;
}

TEST_F(DataOpen, WholeFileLimit) {
  const int limit = 16777216;
  std::string big(limit - 1, 'q');
  put(home + "big", big);
  int len = 0;
  char *s = file_to_string("@big", &len);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(len, limit - 1);
  EXPECT_EQ(s[limit - 2], 'q');
  EXPECT_EQ(s[limit - 1], 0);
  mem_free(s);
  big += 'q';
  put(home + "big", big);
  korb_reset_for_tests();
  setenv("KORB_LOGFILE", (root + "/log").c_str(), 1);
  EXPECT_EQ(file_to_string("@big"), nullptr);
  korb_reset_for_tests();
  unsetenv("KORB_LOGFILE");
  EXPECT_NE(get(root + "/log").find("] File @big too long for file_to_string\n"), std::string::npos);
  put(home + "small", "hi");
  s = file_to_string("@small", &len);
  EXPECT_STREQ(s, "hi");
  EXPECT_EQ(len, 2);
  mem_free(s);
  EXPECT_EQ(file_to_string("@nothing"), nullptr);
}

TEST_F(DataOpen, MemoryReader) {
  DataFile *f = data_open_memory("12 ab", 5, 0);
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(data_read_int(f), 12);
  EXPECT_EQ(rest(f), " ab");
  data_close(f);
  f = data_open_memory("", 0, 0);
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(data_getc(f), -1);
  data_close(f);
  std::string z = gzip("packed");
  f = data_open_memory(z.data(), z.size(), 1);
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(rest(f), "packed");
  data_close(f);
}

}  // namespace
