// Helpers shared by the test programs: a throw-away pair of search folders
// and a catcher for the lines the program shows the player.
#pragma once
#include <ftw.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/core.h"

// A fresh home folder (XDG_DATA_HOME/Tarnwick/) and install folder
// (TW_HOME) for as long as it lives; the old environment comes back after.
struct TempFolders {
  std::string root, home, install;

  explicit TempFolders(const char *tag = "tw_test") {
    std::string tmpl = std::string("/tmp/") + tag + "_XXXXXX";
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back(0);
    if (mkdtemp(buf.data())) root = buf.data();
    home = root + "/xdg/Tarnwick/";
    install = root + "/install/";
    save("XDG_DATA_HOME", &had_xdg, &old_xdg);
    save("TW_HOME", &had_tw, &old_tw);
    setenv("XDG_DATA_HOME", (root + "/xdg").c_str(), 1);
    setenv("TW_HOME", (root + "/install").c_str(), 1);
    make_folders(home.c_str());
    make_folders(install.c_str());
    file_index_free();
  }

  ~TempFolders() {
    file_index_free();
    restore("XDG_DATA_HOME", had_xdg, old_xdg);
    restore("TW_HOME", had_tw, old_tw);
    if (!root.empty())
      nftw(root.c_str(), [](const char *p, const struct stat *, int, struct FTW *) { return remove(p); },
           16, FTW_DEPTH | FTW_PHYS);
  }

  TempFolders(const TempFolders &) = delete;
  TempFolders &operator=(const TempFolders &) = delete;

 private:
  bool had_xdg = false, had_tw = false;
  std::string old_xdg, old_tw;

  static void save(const char *name, bool *had, std::string *old) {
    if (const char *v = getenv(name)) *had = true, *old = v;
  }
  static void restore(const char *name, bool had, const std::string &old) {
    if (had) setenv(name, old.c_str(), 1);
    else unsetenv(name);
  }
};

// Writes a whole file, making its folders; false when it cannot.
inline bool write_file(const std::string &path, const std::string &data) {
  make_folders(path.c_str());
  FILE *fp = fopen(path.c_str(), "wb");
  if (!fp) return false;
  bool ok = fwrite(data.data(), 1, data.size(), fp) == data.size();
  return fclose(fp) == 0 && ok;
}

// The whole content of a file, or "" when it cannot be read.
inline std::string read_file(const std::string &path) {
  std::string s;
  if (FILE *fp = fopen(path.c_str(), "rb")) {
    int c;
    while ((c = getc(fp)) != EOF) s += static_cast<char>(c);
    fclose(fp);
  }
  return s;
}

// Collects the player's messages (add_message) while it lives.
struct MessageCatcher {
  std::vector<std::string> lines;

  MessageCatcher() : old(ui_hooks.message) {
    current() = this;
    ui_hooks.message = [](const char *text) { current()->lines.push_back(text); };
  }
  ~MessageCatcher() {
    ui_hooks.message = old;
    current() = nullptr;
  }
  MessageCatcher(const MessageCatcher &) = delete;
  MessageCatcher &operator=(const MessageCatcher &) = delete;

 private:
  void (*old)(const char *);
  static MessageCatcher *&current() {
    static MessageCatcher *c = nullptr;
    return c;
  }
};
