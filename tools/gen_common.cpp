#include <png.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

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

static void png_append(png_structp png, png_bytep data, png_size_t n) {
  static_cast<std::string *>(png_get_io_ptr(png))->append(reinterpret_cast<char *>(data), n);
}

std::string gen_png(int width, int height, int channels, int depth, const uint8_t *pixels) {
  static const int types[5] = {0, PNG_COLOR_TYPE_GRAY, PNG_COLOR_TYPE_GRAY_ALPHA,
                               PNG_COLOR_TYPE_RGB, PNG_COLOR_TYPE_RGB_ALPHA};
  std::string bytes;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (!info || setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return std::string();
  }
  png_set_write_fn(png, &bytes, png_append, nullptr);
  // Fixed compression settings keep the output byte-identical run to run.
  png_set_compression_level(png, 9);
  png_set_IHDR(png, info, width, height, depth, types[channels], PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  size_t stride = size_t(width) * channels * (depth / 8);
  for (int y = 0; y < height; y++)
    png_write_row(png, const_cast<png_bytep>(pixels + stride * y));
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return bytes;
}
