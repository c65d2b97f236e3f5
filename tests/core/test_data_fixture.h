// A throw-away pair of search folders (home and install) for data-file tests.
#pragma once
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "core/core.h"
#include "tests/common/test_util.h"

class DataFolders : public ::testing::Test {
 protected:
  std::unique_ptr<TempFolders> folders;
  std::string root, home, install;

  void SetUp() override {
    folders = std::make_unique<TempFolders>("tw_data");
    ASSERT_FALSE(folders->root.empty());
    root = folders->root;
    home = folders->home;
    install = folders->install;
  }

  void TearDown() override { folders.reset(); }

  static void put(const std::string &path, const std::string &data) {
    ASSERT_TRUE(write_file(path, data)) << path;
  }

  static std::string get(const std::string &path) { return read_file(path); }

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
