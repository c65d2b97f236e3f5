// The file index: priorities between folders and archives, archive headers,
// compressed data and folder listing.
#include <cstring>

#include "core/log.h"
#include "test_data_fixture.h"

namespace {

using DataIndex = DataFolders;

std::string describe(const char *name) {
  int i = file_index_find(name);
  if (i < 0) return "<none>";
  char out[1024];
  EXPECT_EQ(file_index_describe(i, out, sizeof out), 1);
  return out;
}

std::vector<std::string> names() {
  std::vector<std::string> v;
  for (const char *const *p = file_index_build(); *p; p++) v.push_back(*p);
  return v;
}

TEST_F(DataIndex, LooseBeatsArchiveAndHomeBeatsInstall) {
  put(install + "base.saf", archive({{"tracks/a/terrain.hf", "archive"}, {"config", "arch config"}}));
  put(install + "tracks/a/terrain.hf", "install");
  EXPECT_EQ(file_index_find("tracks/a/terrain.hf"), -1);  // not built yet
  file_index_build();
  EXPECT_EQ(describe("tracks/a/terrain.hf"), "tracks/a/terrain.hf -> " + install + "tracks/a/terrain.hf");
  EXPECT_EQ(describe("@config"), "config -> " + install + "base.saf");
  EXPECT_EQ(read_all("@config"), "arch config");
  EXPECT_EQ(read_all("@Tracks/A/Terrain.HF"), "install");  // case-insensitive through the index
  EXPECT_EQ(file_index_exists("TRACKS/a/TERRAIN.hf"), 1);

  put(home + "tracks/a/terrain.hf", "home");
  file_index_free();
  file_index_build();
  EXPECT_EQ(describe("tracks/a/terrain.hf"), "tracks/a/terrain.hf -> " + home + "tracks/a/terrain.hf");
  EXPECT_EQ(read_all("@tracks/a/terrain.hf"), "home");
  std::vector<std::string> want = {"base.saf", "config", "tracks/a/terrain.hf"};
  EXPECT_EQ(names(), want);
}

TEST_F(DataIndex, CaseVariantsAreOneName) {
  put(home + "Readme", "1");
  put(install + "README", "2");
  put(install + "b", "3");
  std::vector<std::string> want = {"b", "Readme"};
  EXPECT_EQ(names(), want);
  EXPECT_EQ(describe("readme"), "Readme -> " + home + "Readme");
}

TEST_F(DataIndex, DescribeBoundsAndCut) {
  put(home + "abc", "x");
  char out[8];
  EXPECT_EQ(file_index_describe(0, out, sizeof out), 0);  // not built
  file_index_build();
  EXPECT_EQ(file_index_describe(0, out, sizeof out), 1);
  EXPECT_STREQ(out, "abc -> ");
  EXPECT_EQ(file_index_describe(1, out, sizeof out), 0);
  EXPECT_EQ(file_index_describe(-1, out, sizeof out), 0);
}

TEST_F(DataIndex, ArchivesInNameOrder) {
  // Two archives with the same member: the one whose name sorts first wins,
  // case-insensitively; the member name's runs of "/" collapse.
  put(install + "B.saf", archive({{"same", "from B"}, {"only/b", "bb"}}));
  put(install + "a.saf", "10 a//b.png\n6 same\n-\n0123456789from a");
  file_index_build();
  EXPECT_EQ(read_all("@same"), "from a");
  EXPECT_EQ(read_all("@a/b.png"), "0123456789");
  EXPECT_EQ(read_all("@only/b"), "bb");
  EXPECT_EQ(describe("a/b.png"), "a/b.png -> " + install + "a.saf");
}

TEST_F(DataIndex, CompressedOnlyAtLowerPriority) {
  // A ".gz" member serves for the plain name only when nothing plain comes
  // before it; an equal priority keeps the plain one.
  put(install + "a.saf", archive({{"x.png.gz", gzip("packed x")}, {"y.png", "plain y"}, {"y.png.gz", gzip("packed y")}}));
  put(install + "b.saf", archive({{"x.png", "plain x in b"}, {"z.png", "plain z"}}));
  put(install + "c.saf", archive({{"z.png.gz", gzip("packed z")}}));
  file_index_build();
  EXPECT_EQ(read_all("@x.png"), "packed x");
  EXPECT_EQ(read_all("@y.png"), "plain y");
  EXPECT_EQ(read_all("@z.png"), "plain z");
  put(install + "x.png", "loose x");  // found before the index is asked
  EXPECT_EQ(read_all("@x.png"), "loose x");
}

TEST_F(DataIndex, BadArchivesAddNothing) {
  const std::string long_name(1100, 'n');
  struct {
    const char *what;
    std::string data;
  } bad[] = {
      {"no line feed at the end", "1 x\n5 y"},
      {"no end line", "1 x\n"},
      {"last line cut", "1 x\n-"},
      {"line without a size", "1 x\nabc y\n-\nab"},
      {"negative size", "1 x\n-5 y\n-\nab"},
      {"size overflows", "1 x\n99999999999 y\n-\nab"},
      {"sizes add past the end", "1 x\n2147483647 y\n-\nab"},
      {"member past the end", "1 x\n3 y\n-\nab"},
      {"no name", "1 x\n1\n-\nab"},
      {"line too long", "1 x\n1 " + long_name + "\n-\nab"},
      {"zero byte in a name", std::string("1 x\n1 y\0z\n-\nab", 15)},
  };
  for (auto &b : bad) {
    SCOPED_TRACE(b.what);
    EXPECT_EQ(data_archive_scan(b.data.data(), b.data.size()), -1);
    file_index_free();
    put(install + "bad.saf", b.data);
    put(install + "good.saf", archive({{"g", "good"}}));
    file_index_build();
    EXPECT_EQ(file_index_exists("x"), 0);
    EXPECT_EQ(file_index_exists("y"), 0);
    EXPECT_EQ(read_all("@g"), "good");
  }
  std::string ok = archive({{"x", "1"}, {"y", ""}});
  EXPECT_EQ(data_archive_scan(ok.data(), ok.size()), 2);
  EXPECT_EQ(data_archive_scan("-\n", 2), 0);
}

TEST_F(DataIndex, ArchiveMemberReading) {
  put(install + "m.saf", archive({{"first", "line one\nline two\n"}, {"second", "NEXT"}}));
  file_index_build();
  DataFile *f = data_open("@first", "rb");
  ASSERT_NE(f, nullptr);
  char buf[64];
  EXPECT_STREQ(data_gets(f, buf, sizeof buf), "line one\n");
  EXPECT_EQ(data_peekc(f), 'l');
  EXPECT_EQ(data_seek(f, 5), 1);
  EXPECT_EQ(data_peekc(f), 'o');
  EXPECT_EQ(rest(f), "one\nline two\n");  // never runs into the next member
  EXPECT_EQ(data_seek(f, 18), 0);          // the member is 18 bytes
  EXPECT_EQ(data_seek(f, 17), 1);
  EXPECT_EQ(rest(f), "\n");
  EXPECT_EQ(data_error(f), 0);
  data_close(f);

  // The archive shrank after the index was built: a damaged member, not an end.
  std::string whole = get(install + "m.saf");
  put(install + "m.saf", whole.substr(0, whole.size() - 10));
  f = data_open("@first", "rb");
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(rest(f), "line one\nlin");
  EXPECT_EQ(data_error(f), 1);
  data_close(f);
}

TEST_F(DataIndex, SymlinkedFolderCycleIsListedOnce) {
  put(install + "sub/file", "f");
  put(root + "/elsewhere/other", "o");
  ASSERT_EQ(symlink("..", (install + "sub/up").c_str()), 0);
  ASSERT_EQ(symlink(install.c_str(), (install + "loop").c_str()), 0);
  ASSERT_EQ(symlink((root + "/elsewhere").c_str(), (install + "linked").c_str()), 0);
  ASSERT_EQ(symlink((root + "/nowhere").c_str(), (install + "dangling").c_str()), 0);
  std::vector<std::string> want = {"linked/other", "sub/file"};
  EXPECT_EQ(names(), want);
}

// -------------------------------------------------------------- gzip data

std::string sample_text() {
  std::string s;
  for (int i = 0; i < 5000; i++) s += "line " + std::to_string(i * 7919 % 10007) + " of the sample\n";
  return s;  // about 100 KB: many input blocks and output windows
}

TEST_F(DataIndex, GzipFromZlibAndFromTheGzipCommand) {
  std::string text = sample_text();
  put(home + "z.txt.gz", gzip(text));
  put(root + "/g.txt", text);
  ASSERT_EQ(system(("gzip -9 '" + root + "/g.txt'").c_str()), 0);  // stores the name too
  std::rename((root + "/g.txt.gz").c_str(), (install + "g.txt.gz").c_str());
  for (const char *name : {"@z.txt", "@g.txt"}) {
    SCOPED_TRACE(name);
    DataFile *f = data_open(name, "rb");
    ASSERT_NE(f, nullptr);
    char line[64];
    EXPECT_STREQ(data_gets(f, line, sizeof line), "line 0 of the sample\n");
    EXPECT_EQ(data_peekc(f), 'l');
    EXPECT_EQ(data_seek(f, 0), 0);  // compressed data cannot seek...
    EXPECT_EQ(data_getc(f), 'l');   // ...and the position stays
    std::string got = "l";
    char buf[3000];
    int n;
    while ((n = data_read(f, buf, sizeof buf)) > 0) got.append(buf, n);
    EXPECT_EQ(got, text.substr(strlen("line 0 of the sample\n")));
    EXPECT_EQ(data_error(f), 0);
    data_close(f);
  }
  // A plain path tries the ".gz" variant too.
  EXPECT_EQ(read_all((home + "z.txt").c_str()), text);
  int len = 0;
  char *s = file_to_string("@g.txt", &len);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(len, static_cast<int>(text.size()));
  mem_free(s);
}

TEST_F(DataIndex, GzipHeaderFields) {
  // Extra field, name, comment and header CRC are all skipped.
  std::string plain = gzip("payload");
  std::string head = plain.substr(0, 10), body = plain.substr(10);
  head[3] = 2 | 4 | 8 | 16;
  std::string full = head + std::string("\3\0xyz", 5) + "name" + '\0' + "comment" + '\0' + "cc" + body;
  DataFile *f = data_open_memory(full.data(), full.size(), 1);
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(rest(f), "payload");
  EXPECT_EQ(data_error(f), 0);
  data_close(f);

  struct {
    const char *what;
    std::string data;
  } refused[] = {
      {"empty", ""},
      {"wrong magic", "\x1f\x8c" + plain.substr(2)},
      {"wrong method", plain.substr(0, 2) + '\7' + plain.substr(3)},
      {"flag byte 32", plain.substr(0, 3) + ' ' + plain.substr(4)},
      {"name runs off the block", plain.substr(0, 3) + '\x08' + plain.substr(4, 6) + "endless"},
      {"short header", plain.substr(0, 6)},
  };
  for (auto &r : refused) {
    SCOPED_TRACE(r.what);
    EXPECT_EQ(data_open_memory(r.data.data(), r.data.size(), 1), nullptr);
  }
}

TEST_F(DataIndex, DamagedGzipIsAnErrorNotAnEnd) {
  std::string text = sample_text();
  std::string z = gzip(text);
  std::string flipped = z;
  flipped[z.size() / 2] ^= 0x55;
  std::string bad_crc = z;
  bad_crc[z.size() - 8] ^= 1;
  std::string bad_length = z;
  bad_length[z.size() - 1] ^= 1;
  struct {
    const char *what;
    std::string data;
  } cases[] = {
      {"corrupt deflate data", flipped},
      {"cut in the middle", z.substr(0, z.size() / 2)},
      {"trailer missing", z.substr(0, z.size() - 8)},
      {"trailer cut", z.substr(0, z.size() - 3)},
      {"wrong CRC", bad_crc},
      {"wrong length", bad_length},
  };
  // The log says which file is damaged.
  korb_reset_for_tests();
  setenv("KORB_LOGFILE", (root + "/log").c_str(), 1);
  for (auto &c : cases) {
    SCOPED_TRACE(c.what);
    put(home + "bad.gz", c.data);
    DataFile *f = data_open((home + "bad").c_str(), "rb");
    ASSERT_NE(f, nullptr);
    std::string got = rest(f);
    EXPECT_EQ(data_error(f), 1);
    EXPECT_LT(got.size(), text.size());
    EXPECT_EQ(data_getc(f), -1);
    data_close(f);
    EXPECT_EQ(file_to_string((home + "bad").c_str()), nullptr);
  }
  korb_reset_for_tests();
  unsetenv("KORB_LOGFILE");
  EXPECT_NE(get(root + "/log").find("Corrupt data in " + home + "bad.gz"), std::string::npos);
  // The same stream cut short inside an archive member.
  put(install + "a.saf", archive({{"m.gz", z.substr(0, z.size() - 4)}, {"next", "tail bytes"}}));
  file_index_build();
  DataFile *f = data_open("@m", "rb");
  ASSERT_NE(f, nullptr);
  rest(f);
  EXPECT_EQ(data_error(f), 1);
  data_close(f);
}

}  // namespace
