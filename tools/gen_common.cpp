#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "core/core.h"
#include "core/png.h"
#include "tools/gen.h"

static void make_parent_folders(const std::string &path) {
  for (size_t i = 1; i < path.size(); i++)
    if (path[i] == '/') mkdir(path.substr(0, i).c_str(), 0755);
}

int gen_write(const char *out, const std::string &relpath, const std::string &bytes) {
  std::string path = std::string(out) + "/" + relpath;
  std::string tmp = path + ".tmp";
  make_parent_folders(path);
  FILE *f = fopen(tmp.c_str(), "wb");
  if (!f) {
    fprintf(stderr, "gen_data: can't write %s: %s\n", tmp.c_str(), strerror(errno));
    return 0;
  }
  size_t n = fwrite(bytes.data(), 1, bytes.size(), f);
  int bad = ferror(f) | fclose(f);
  if (n != bytes.size() || bad || rename(tmp.c_str(), path.c_str()) != 0) {
    fprintf(stderr, "gen_data: failed writing %s\n", path.c_str());
    remove(tmp.c_str());
    return 0;
  }
  return 1;
}

int gen_write_archive(const char *out, const std::string &relpath,
                      const std::vector<GenMember> &members) {
  std::string bytes;
  for (const GenMember &m : members)
    bytes += std::to_string(m.bytes.size()) + " " + m.name + "\n";
  bytes += "-\n";
  for (const GenMember &m : members) bytes += m.bytes;
  return gen_write(out, relpath, bytes);
}

std::string gen_png(int width, int height, int channels, int depth, const void *pixels) {
  // A fixed compression level keeps the output byte-identical run to run.
  PngWrite p = {width, height, channels, depth, pixels, 0, 9};
  int size = 0;
  uint8_t *bytes = png_write_picture_memory(&p, &size);
  if (!bytes) return std::string();
  std::string out(reinterpret_cast<const char *>(bytes), size_t(size));
  mem_free(bytes);
  return out;
}
