// A temporary folder for fixture files, removed afterwards.
#pragma once
#include <string>

struct TempDir {
  std::string dir;
  TempDir();
  ~TempDir();
  std::string path(const std::string &name) const { return dir + "/" + name; }
  void write(const std::string &name, const std::string &bytes) const;
  std::string read(const std::string &name) const;
  // Runs a shell command inside the folder; true on exit status 0.
  bool run(const std::string &command) const;
};

bool have_tool(const char *name);
