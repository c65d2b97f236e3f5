// The list of tracks: every folder of the data files that holds a height
// field, described by the first line of its "desc".
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "core/core.h"
#include "core/log.h"
#include "terrain/terrain.h"

int track_count = 0;
char **track_folders = nullptr;
char **track_descriptions = nullptr;

static const size_t MAX_DESCRIPTION = 255;

static char *copy_text(const std::string &s) {
  char *p = static_cast<char *>(mem_alloc(s.size() + 1));
  if (p) memcpy(p, s.c_str(), s.size() + 1);
  return p;
}

void track_list_free() {
  for (int i = 0; i < track_count; i++) {
    mem_free(track_folders[i]);
    mem_free(track_descriptions[i]);
  }
  mem_free(track_folders);
  mem_free(track_descriptions);
  track_folders = track_descriptions = nullptr;
  track_count = 0;
}

static int ends_with(const char *s, const char *tail) {
  size_t n = strlen(s), m = strlen(tail);
  return n >= m && memcmp(s + n - m, tail, m) == 0;
}

static std::string first_line(const std::string &folder) {
  std::string path = "@" + folder + "/desc";
  DataFile *f = data_open(path.c_str(), "rb");
  if (!f) return folder;
  std::string line;
  int c;
  while (line.size() < MAX_DESCRIPTION && (c = data_getc(f)) != -1 && c != 0 && c != '\n' && c != '\r')
    line += char(c);
  data_close(f);
  return line;
}

static int compare_nocase(const std::string &a, const std::string &b) {
  size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; i++) {
    int x = (a[i] >= 'A' && a[i] <= 'Z') ? a[i] + 32 : (unsigned char)a[i];
    int y = (b[i] >= 'A' && b[i] <= 'Z') ? b[i] + 32 : (unsigned char)b[i];
    if (x != y) return x - y;
  }
  return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
}

int track_list_build() {
  track_list_free();
  struct Track {
    std::string folder, description;
  };
  std::vector<Track> tracks;
  const char *const *names = file_index_build();
  for (int k = 0; names && names[k]; k++) {
    const char *name = names[k];
    if (!ends_with(name, "/terrain.hf") && !ends_with(name, "/terrain.hf.gz")) continue;
    std::string folder(name, strrchr(name, '/') - name);
    // A plain and a compressed height field in one folder are one track.
    bool seen = false;
    for (const Track &t : tracks) seen = seen || t.folder == folder;
    if (!seen) tracks.push_back({folder, std::string()});
  }
  for (Track &t : tracks) t.description = first_line(t.folder);
  std::stable_sort(tracks.begin(), tracks.end(), [](const Track &a, const Track &b) {
    return compare_nocase(a.description, b.description) < 0;
  });
  if (tracks.empty()) return 0;
  track_folders = static_cast<char **>(mem_alloc(sizeof(char *) * tracks.size()));
  track_descriptions = static_cast<char **>(mem_alloc(sizeof(char *) * tracks.size()));
  if (!track_folders || !track_descriptions) {
    track_list_free();
    return 0;
  }
  for (const Track &t : tracks) {
    char *folder = copy_text(t.folder), *description = copy_text(t.description);
    if (!folder || !description) {
      mem_free(folder);
      mem_free(description);
      continue;
    }
    track_folders[track_count] = folder;
    track_descriptions[track_count] = description;
    track_count++;
    if (log_verbosity >= 1) log_printf("%s -> %s\n", folder, description);
  }
  return track_count;
}
