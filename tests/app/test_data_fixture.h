// A throw-away pair of search folders (home and install) for data-file tests.
#pragma once
#include <ftw.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "app/core.h"

class DataFolders : public ::testing::Test {
 protected:
  std::string root, home, install;
  std::string old_xdg, old_tw;
  bool had_xdg = false, had_tw = false;

  void SetUp() override {
    char tmpl[] = "/tmp/tw_data_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    root = tmpl;
    home = root + "/xdg/Tarnwick/";
    install = root + "/install/";
    if (const char *v = getenv("XDG_DATA_HOME")) had_xdg = true, old_xdg = v;
    if (const char *v = getenv("TW_HOME")) had_tw = true, old_tw = v;
    setenv("XDG_DATA_HOME", (root + "/xdg").c_str(), 1);
    setenv("TW_HOME", (root + "/install").c_str(), 1);
    mkdir((root + "/xdg").c_str(), 0755);
    mkdir(home.c_str(), 0755);
    mkdir(install.c_str(), 0755);
    file_index_free();
  }

  void TearDown() override {
    file_index_free();
    if (had_xdg) setenv("XDG_DATA_HOME", old_xdg.c_str(), 1); else unsetenv("XDG_DATA_HOME");
    if (had_tw) setenv("TW_HOME", old_tw.c_str(), 1); else unsetenv("TW_HOME");
    nftw(root.c_str(), [](const char *p, const struct stat *, int, struct FTW *) { return remove(p); }, 16,
         FTW_DEPTH | FTW_PHYS);
  }

  static void put(const std::string &path, const std::string &data) {
    make_folders(path.c_str());
    FILE *fp = fopen(path.c_str(), "wb");
    ASSERT_NE(fp, nullptr) << path;
    fwrite(data.data(), 1, data.size(), fp);
    fclose(fp);
  }

  static std::string get(const std::string &path) {
    std::string s;
    if (FILE *fp = fopen(path.c_str(), "rb")) {
      int c;
      while ((c = getc(fp)) != EOF) s += static_cast<char>(c);
      fclose(fp);
    }
    return s;
  }

  static bool exists(const std::string &path) { return access(path.c_str(), F_OK) == 0; }

  // A ".saf" archive: the header lines, "-", then the members' bytes.
  static std::string archive(const std::vector<std::pair<std::string, std::string>> &members) {
    std::string head, body;
    for (auto &m : members) {
      head += std::to_string(m.second.size()) + " " + m.first + "\n";
      body += m.second;
    }
    return head + "-\n" + body;
  }

  // A gzip stream made by zlib.
  static std::string gzip(const std::string &data) {
    z_stream zs{};
    deflateInit2(&zs, 9, Z_DEFLATED, 31, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&zs, data.size()) + 32, '\0');
    zs.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data.data()));
    zs.avail_in = data.size();
    zs.next_out = reinterpret_cast<Bytef *>(out.data());
    zs.avail_out = out.size();
    deflate(&zs, Z_FINISH);
    out.resize(zs.total_out);
    deflateEnd(&zs);
    return out;
  }

  // The whole remaining content of f.
  static std::string rest(DataFile *f) {
    std::string s;
    int c;
    while ((c = data_getc(f)) >= 0) s += static_cast<char>(c);
    return s;
  }

  static std::string read_all(const char *name) {
    DataFile *f = data_open(name, "rb");
    if (!f) return "<none>";
    std::string s = rest(f);
    data_close(f);
    return s;
  }
};
