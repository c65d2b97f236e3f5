// Data files and folders: the search folders, the sorted index of loose files
// and ".saf" archive members, and the DataFile reader/writer with streaming
// gzip decompression.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "core/core.h"
#include "core/log.h"

const char *const GAME_DATA_MARK = "base.saf";

namespace {

const int MAX_FOLDERS = 2;
const int PATH_SIZE = 1024;
// Data names joined to a search folder must fit in this many characters.
const int JOINED_MAX = 511;
const int IN_SIZE = 16384;
const int OUT_SIZE = 1024;
const int WHOLE_FILE_MAX = 16777216;

}  // namespace

struct DataFile {
  FILE *file;
  long long base;
  int limit;
  int pos;
  int pushback;
  int writing;
  int archived;  // reading a member: a short read means a damaged archive
  int error;
  int gz;
  int packed_limit;
  int packed_used;
  int at_end;
  int zs_ready;
  z_stream zs;
  uLong crc;
  uint32_t total;
  unsigned char *out_ptr;
  unsigned char *out_end;
  unsigned char *owned;  // memory-backed data
  char what[PATH_SIZE];  // for messages
  char tmp_path[PATH_SIZE];    // data_create: the file being written
  char final_path[PATH_SIZE];  // data_create: where it goes on commit
  unsigned char in_buf[IN_SIZE];
  unsigned char out_buf[OUT_SIZE];
};

namespace {

// ------------------------------------------------------------ path helpers

// Backslashes become "/" and runs of "/" collapse to one.
void normalise(char *p) {
  char *w = p;
  for (char *r = p; *r; r++) {
    char c = *r == '\\' ? '/' : *r;
    if (c == '/' && w > p && w[-1] == '/') continue;
    *w++ = c;
  }
  *w = 0;
}

// Joins a and b into out; 0 when the result would not fit in `max` characters.
int join(char *out, int max, const char *a, const char *b) {
  size_t la = strlen(a), lb = strlen(b);
  if (la + lb > static_cast<size_t>(max)) return 0;
  memcpy(out, a, la);
  memcpy(out + la, b, lb + 1);
  return 1;
}

int lower(int c) { return c >= 'A' && c <= 'Z' ? c + 32 : c; }

int ci_compare(const char *a, const char *b) {
  for (;; a++, b++) {
    int ca = lower(static_cast<unsigned char>(*a)), cb = lower(static_cast<unsigned char>(*b));
    if (ca != cb) return ca - cb;
    if (!ca) return 0;
  }
}

int ends_with_ci(const char *s, const char *tail) {
  size_t ls = strlen(s), lt = strlen(tail);
  return ls >= lt && ci_compare(s + ls - lt, tail) == 0;
}

// -------------------------------------------------------------- folders

char folders[MAX_FOLDERS][PATH_SIZE];
int folder_count = -1;
int home_found = 0;

void build_folders() {
  folder_count = 0;
  home_found = 0;
  char path[PATH_SIZE];
  const char *xdg = getenv("XDG_DATA_HOME");
  const char *home = getenv("HOME");
  int n = -1;
  if (xdg && *xdg)
    n = snprintf(path, sizeof path, "%s/Tarnwick/", xdg);
  else if (home && *home)
    n = snprintf(path, sizeof path, "%s/.local/share/Tarnwick/", home);
  if (n > 0 && n < PATH_SIZE) {
    normalise(path);
    strcpy(folders[folder_count++], path);
    home_found = 1;
  }
  // An empty TW_HOME would make the root folder a search folder.
  const char *tw = getenv("TW_HOME");
  n = -1;
  if (tw && *tw) {
    n = snprintf(path, sizeof path, "%s/", tw);
  } else {
    char exe[PATH_SIZE];
    ssize_t len = readlink("/proc/self/exe", exe, sizeof exe - 1);
    // A full buffer may hold a cut path: no folder rather than a wrong one.
    if (len > 0 && len < static_cast<ssize_t>(sizeof exe - 1)) {
      exe[len] = 0;
      char *slash = strrchr(exe, '/');
      if (slash) {
        slash[1] = 0;
        n = snprintf(path, sizeof path, "%s", exe);
      }
    }
  }
  if (n > 0 && n < PATH_SIZE) {
    normalise(path);
    strcpy(folders[folder_count++], path);
  }
}

// ---------------------------------------------------------------- index

struct IndexEntry {
  std::string name;
  std::string container;
  long long offset;
  int size;
  int priority;
};

std::vector<IndexEntry> entries;
std::vector<const char *> name_list;
bool index_built = false;

bool entry_less(const IndexEntry &a, const IndexEntry &b) {
  int c = ci_compare(a.name.c_str(), b.name.c_str());
  return c != 0 ? c < 0 : a.priority < b.priority;
}

void sort_index() { std::stable_sort(entries.begin(), entries.end(), entry_less); }

void add_entry(IndexEntry &&e) {
  // Growth failure skips the entry rather than ending the program.
  try {
    entries.push_back(std::move(e));
  } catch (...) {
  }
}

// Folders already listed (device, inode): a symlinked folder that leads back
// up the tree is listed once, never forever.
using FolderId = std::pair<dev_t, ino_t>;

void list_folder(const std::string &dir, size_t prefix, int priority, std::set<FolderId> &seen) {
  struct stat st;
  if (stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return;
  if (!seen.insert({st.st_dev, st.st_ino}).second) return;
  DIR *d = opendir(dir.c_str());
  if (!d) return;
  loading_refresh();
  while (struct dirent *de = readdir(d)) {
    if (!strcmp(de->d_name, ".") || !strcmp(de->d_name, "..")) continue;
    std::string path = (dir == "/" ? dir : dir + "/") + de->d_name;
    if (stat(path.c_str(), &st) != 0) continue;
    if (S_ISDIR(st.st_mode)) {
      list_folder(path, prefix, priority, seen);
    } else if (S_ISREG(st.st_mode) && st.st_size <= INT_MAX) {
      add_entry({path.substr(prefix), path, 0, static_cast<int>(st.st_size), priority});
    }
  }
  closedir(d);
}

// ------------------------------------------------------------- archives

struct Member {
  std::string name;
  long long offset;
  int size;
};

// Reads one header line (with its line feed) of at most 1023 bytes.
// 1 on success; 0 with *why set otherwise.
int archive_line(FILE *fp, char *line, int *len, const char **why) {
  int n = 0;
  for (;;) {
    int c = getc(fp);
    if (c == EOF) {
      *why = n ? "header line without line feed" : "header without end line";
      return 0;
    }
    if (n == 1022 && c != '\n') {
      *why = "header line too long";
      return 0;
    }
    line[n++] = static_cast<char>(c);
    if (c == '\n') break;
  }
  line[n] = 0;
  *len = n;
  return 1;
}

// Parses an archive header from fp (positioned at the start of the archive,
// which is `file_size` bytes long). The members with their offsets, or -1.
int archive_parse(FILE *fp, long long file_size, std::vector<Member> &out, const char **why) {
  char line[PATH_SIZE];
  long long header = 0;
  std::vector<Member> members;
  for (;;) {
    int len;
    if (!archive_line(fp, line, &len, why)) return -1;
    header += len;
    if (static_cast<int>(strlen(line)) != len) {
      *why = "zero byte in header";
      return -1;
    }
    if (!strcmp(line, "-\n")) break;
    const char *p = line;
    if (*p < '0' || *p > '9') {
      *why = "header line does not begin with a size";
      return -1;
    }
    long long size = 0;
    while (*p >= '0' && *p <= '9') {
      size = size * 10 + (*p++ - '0');
      if (size > INT_MAX) {
        *why = "member size too large";
        return -1;
      }
    }
    // Exactly one separator, then the name up to the line feed.
    if (*p == '\n' || p[1] == '\n') {
      *why = "member without a name";
      return -1;
    }
    std::string name(p + 1, line + len - 1 - (p + 1));
    char buf[PATH_SIZE];
    strcpy(buf, name.c_str());
    for (char *r = buf, *w = buf;; r++) {
      if (*r == '/' && w > buf && w[-1] == '/') continue;
      *w++ = *r;
      if (!*r) break;
    }
    members.push_back({buf, 0, static_cast<int>(size)});
  }
  long long offset = header;
  for (Member &m : members) {
    m.offset = offset;
    offset += m.size;
    if (offset > file_size) {
      *why = "member runs past the end of the archive";
      return -1;
    }
  }
  out = std::move(members);
  return static_cast<int>(out.size());
}

void read_archive(const std::string &path, int priority) {
  FILE *fp = fopen(path.c_str(), "rb");
  if (!fp) return;
  struct stat st;
  std::vector<Member> members;
  const char *why = "cannot read it";
  int n = fstat(fileno(fp), &st) == 0 ? archive_parse(fp, st.st_size, members, &why) : -1;
  fclose(fp);
  if (n < 0) {
    log_printf("Archive %s ignored: %s\n", path.c_str(), why);
    return;
  }
  for (Member &m : members) add_entry({std::move(m.name), path, m.offset, m.size, priority});
}

int find_entry(const char *name) {
  if (!index_built) return -1;
  if (*name == '@') name++;
  size_t lo = 0, hi = entries.size();
  while (lo < hi) {
    size_t mid = (lo + hi) / 2;
    if (ci_compare(entries[mid].name.c_str(), name) < 0)
      lo = mid + 1;
    else
      hi = mid;
  }
  if (lo < entries.size() && ci_compare(entries[lo].name.c_str(), name) == 0) return static_cast<int>(lo);
  return -1;
}

// ------------------------------------------------------------- DataFile

DataFile *new_file(FILE *fp, const char *what) {
  DataFile *f = static_cast<DataFile *>(mem_alloc(sizeof(DataFile)));
  if (!f) {
    fclose(fp);
    return nullptr;
  }
  memset(static_cast<void *>(f), 0, offsetof(DataFile, in_buf));
  f->file = fp;
  f->limit = INT_MAX;
  f->pushback = -1;
  snprintf(f->what, sizeof f->what, "%s", what);
  return f;
}

void free_file(DataFile *f) {
  if (f->zs_ready) inflateEnd(&f->zs);
  if (f->file) fclose(f->file);
  if (f->owned) mem_free(f->owned);
  mem_free(f);
}

void corrupt(DataFile *f, const char *why) {
  if (!f->error) log_printf("Corrupt data in %s: %s\n", f->what, why);
  f->error = 1;
}

// Reads the gzip header from the first input block and starts raw inflate.
int gz_start(DataFile *f, int packed_size) {
  f->gz = 1;
  f->packed_limit = packed_size;
  f->limit = INT_MAX;
  int want = std::min(IN_SIZE, packed_size);
  int n = want > 0 ? static_cast<int>(fread(f->in_buf, 1, want, f->file)) : 0;
  f->packed_used = n;
  const unsigned char *b = f->in_buf;
  if (n < 10 || b[0] != 31 || b[1] != 139 || b[2] != 8 || b[3] >= 32) return 0;
  int flags = b[3];
  int at = 10;
  if (flags & 4) {
    if (at + 2 > n) return 0;
    at += 2 + (b[at] | b[at + 1] << 8);
  }
  for (int bit : {8, 16}) {
    if (!(flags & bit)) continue;
    while (at < n && b[at]) at++;
    if (at >= n) return 0;
    at++;
  }
  if (flags & 2) at += 2;
  if (at > n) return 0;
  f->zs.next_in = f->in_buf + at;
  f->zs.avail_in = n - at;
  if (inflateInit2(&f->zs, -15) != Z_OK) return 0;
  f->zs_ready = 1;
  f->crc = crc32(0, nullptr, 0);
  f->out_ptr = f->out_end = f->out_buf;
  return 1;
}

// Takes the next compressed input block; 0 when none is left.
int gz_input(DataFile *f) {
  int want = std::min(IN_SIZE, f->packed_limit - f->packed_used);
  int n = want > 0 ? static_cast<int>(fread(f->in_buf, 1, want, f->file)) : 0;
  f->packed_used += n;
  f->zs.next_in = f->in_buf;
  f->zs.avail_in = n;
  return n > 0;
}

// The CRC-32 and length after the deflate data must match what came out.
int gz_trailer_ok(DataFile *f) {
  unsigned char t[8];
  for (int i = 0; i < 8; i++) {
    if (f->zs.avail_in == 0 && !gz_input(f)) return 0;
    t[i] = *f->zs.next_in++;
    f->zs.avail_in--;
  }
  uint32_t crc = t[0] | t[1] << 8 | t[2] << 16 | static_cast<uint32_t>(t[3]) << 24;
  uint32_t len = t[4] | t[5] << 8 | t[6] << 16 | static_cast<uint32_t>(t[7]) << 24;
  return crc == static_cast<uint32_t>(f->crc) && len == f->total;
}

// Refills the output window; 0 at the end of the data or on an error.
int gz_fill(DataFile *f) {
  if (f->error || f->at_end) return 0;
  f->zs.next_out = f->out_buf;
  f->zs.avail_out = OUT_SIZE;
  int ended = 0;
  while (f->zs.avail_out == OUT_SIZE) {
    if (f->zs.avail_in == 0 && !gz_input(f)) {
      corrupt(f, "compressed data cut short");
      return 0;
    }
    int r = inflate(&f->zs, Z_NO_FLUSH);
    if (r == Z_STREAM_END) {
      ended = 1;
      break;
    }
    if (r != Z_OK) {
      corrupt(f, f->zs.msg ? f->zs.msg : "inflate failed");
      return 0;
    }
  }
  int produced = OUT_SIZE - f->zs.avail_out;
  f->crc = crc32(f->crc, f->out_buf, produced);
  f->total += produced;
  if (ended) {
    f->at_end = 1;
    if (!gz_trailer_ok(f)) {
      corrupt(f, "checksum or length mismatch");
      return 0;
    }
  }
  f->out_ptr = f->out_buf;
  f->out_end = f->out_buf + produced;
  return produced > 0;
}

// Reads up to n raw bytes of the (uncompressed) data at the current place.
int raw_read(DataFile *f, unsigned char *buf, int n) {
  if (f->error || f->writing) return 0;
  if (f->gz) {
    int got = 0;
    while (got < n) {
      if (f->out_ptr == f->out_end && !gz_fill(f)) break;
      int k = std::min(n - got, static_cast<int>(f->out_end - f->out_ptr));
      memcpy(buf + got, f->out_ptr, k);
      f->out_ptr += k;
      got += k;
    }
    return got;
  }
  int want = std::min(n, f->limit - f->pos);
  if (want <= 0) return 0;
  int got = static_cast<int>(fread(buf, 1, want, f->file));
  f->pos += got;
  if (got < want && (f->archived || ferror(f->file)))
    corrupt(f, f->archived ? "archive member cut short" : "read error");
  return got;
}

FILE *open_regular(const char *path, const char *mode) {
  FILE *fp = fopen(path, mode);
  if (!fp) return nullptr;
  struct stat st;
  if (fstat(fileno(fp), &st) != 0 || S_ISDIR(st.st_mode)) {
    fclose(fp);
    return nullptr;
  }
  return fp;
}

// A plain path, or its ".gz" variant as compressed data.
DataFile *open_path(const char *path) {
  if (FILE *fp = open_regular(path, "rb")) return new_file(fp, path);
  char gz[PATH_SIZE];
  if (!join(gz, PATH_SIZE - 2, path, ".gz")) return nullptr;
  FILE *fp = open_regular(gz, "rb");
  if (!fp) return nullptr;
  DataFile *f = new_file(fp, gz);
  if (f && !gz_start(f, INT_MAX)) {
    free_file(f);
    return nullptr;
  }
  return f;
}

DataFile *open_entry(const IndexEntry &e, int gz) {
  FILE *fp = fopen(e.container.c_str(), "rb");
  if (!fp) return nullptr;
  if (fseeko(fp, e.offset, SEEK_SET) != 0) {
    fclose(fp);
    return nullptr;
  }
  char what[PATH_SIZE];
  snprintf(what, sizeof what, "%s (%s)", e.name.c_str(), e.container.c_str());
  DataFile *f = new_file(fp, what);
  if (!f) return nullptr;
  f->base = e.offset;
  f->limit = e.size;
  f->archived = 1;
  if (gz && !gz_start(f, e.size)) {
    free_file(f);
    return nullptr;
  }
  return f;
}

DataFile *open_read(const char *name) {
  if (*name != '@') return open_path(name);
  const char *rest = name + 1;
  for (int i = 0; const char *folder = search_folder(i); i++) {
    char path[PATH_SIZE];
    if (!join(path, JOINED_MAX, folder, rest)) continue;
    if (DataFile *f = open_path(path)) return f;
  }
  int plain = find_entry(rest);
  std::string gzname = std::string(rest) + ".gz";
  int packed = find_entry(gzname.c_str());
  if (packed >= 0 && (plain < 0 || entries[packed].priority < entries[plain].priority))
    return open_entry(entries[packed], 1);
  if (plain >= 0) return open_entry(entries[plain], 0);
  return nullptr;
}

DataFile *open_write(const char *name, const char *mode) {
  if (*name != '@') {
    make_folders(name);
    FILE *fp = fopen(name, mode);
    if (!fp) return nullptr;
    DataFile *f = new_file(fp, name);
    if (f) f->writing = 1;
    return f;
  }
  for (int i = 0; const char *folder = search_folder(i); i++) {
    char path[PATH_SIZE];
    if (!join(path, JOINED_MAX, folder, name + 1)) continue;
    make_folders(path);
    if (FILE *fp = fopen(path, mode)) {
      DataFile *f = new_file(fp, path);
      if (f) f->writing = 1;
      return f;
    }
  }
  return nullptr;
}

}  // namespace

// ================================================================ folders

const char *search_folder(int i) {
  if (folder_count < 0) build_folders();
  return i >= 0 && i < folder_count ? folders[i] : nullptr;
}

void make_folders(const char *path) {
  size_t len = strlen(path);
  if (len >= PATH_SIZE) return;
  char buf[PATH_SIZE];
  memcpy(buf, path, len + 1);
  for (size_t i = 1; i < len; i++) {
    if (buf[i] != '/' || buf[i - 1] == '/') continue;
    buf[i] = 0;
    mkdir(buf, 0755);
    buf[i] = '/';
  }
}

void open_home_folder() {
  if (search_folder(0) == nullptr || !home_found) {
    log_printf("No home folder to open\n");
    return;
  }
  char path[PATH_SIZE];
  strcpy(path, folders[0]);
  make_folders(path);
  size_t n = strlen(path);
  while (n > 1 && path[n - 1] == '/') path[--n] = 0;
  // The browser is started by a short-lived child so it is never left a
  // zombie; a pipe closed on exec tells whether it could be started.
  int pipefd[2];
  if (pipe2(pipefd, O_CLOEXEC) != 0) {
    log_printf("Could not open %s: %s\n", path, strerror(errno));
    return;
  }
  pid_t child = fork();
  if (child < 0) {
    log_printf("Could not open %s: %s\n", path, strerror(errno));
    close(pipefd[0]);
    close(pipefd[1]);
    return;
  }
  if (child == 0) {
    close(pipefd[0]);
    if (fork() == 0) {
      execlp("xdg-open", "xdg-open", path, static_cast<char *>(nullptr));
      int e = errno;
      if (write(pipefd[1], &e, sizeof e) < 0) _exit(127);
      _exit(127);
    }
    _exit(0);
  }
  close(pipefd[1]);
  waitpid(child, nullptr, 0);
  int e = 0;
  ssize_t got;
  do got = read(pipefd[0], &e, sizeof e);
  while (got < 0 && errno == EINTR);
  close(pipefd[0]);
  if (got == static_cast<ssize_t>(sizeof e)) log_printf("Could not start xdg-open for %s: %s\n", path, strerror(e));
}

int find_game_data() {
  for (int i = 0; const char *folder = search_folder(i); i++) {
    char path[PATH_SIZE];
    struct stat st;
    if (join(path, PATH_SIZE - 1, folder, GAME_DATA_MARK) && stat(path, &st) == 0 && S_ISREG(st.st_mode))
      return i;
  }
  return -1;
}

// ================================================================== index

const char *const *file_index_build() {
  if (index_built) return name_list.data();
  log_printf("Listing directories\n");
  int count = 0;
  for (int i = 0; const char *folder = search_folder(i); i++, count++) {
    std::string dir = folder;
    size_t prefix = dir.size();
    while (!dir.empty() && dir.back() == '/') dir.pop_back();
    std::set<FolderId> seen;
    list_folder(dir.empty() ? "/" : dir, prefix, i, seen);
  }
  sort_index();
  log_printf("Listing archives\n");
  std::vector<std::string> archives;
  for (const IndexEntry &e : entries)
    if (e.name.size() > 4 && ends_with_ci(e.name.c_str(), ".saf")) archives.push_back(e.container);
  for (const std::string &a : archives) read_archive(a, count++);
  sort_index();
  log_printf("Creating file list\n");
  name_list.clear();
  for (const IndexEntry &e : entries)
    if (name_list.empty() || ci_compare(name_list.back(), e.name.c_str()) != 0) name_list.push_back(e.name.c_str());
  name_list.push_back(nullptr);
  index_built = true;
  log_printf("File index complete\n");
  return name_list.data();
}

int file_index_find(const char *name) { return find_entry(name); }

int file_index_exists(const char *name) { return find_entry(name) >= 0; }

int file_index_describe(int i, char *out, int size) {
  if (!index_built || i < 0 || i >= static_cast<int>(entries.size()) || size <= 0) return 0;
  snprintf(out, size, "%s -> %s", entries[i].name.c_str(), entries[i].container.c_str());
  return 1;
}

void file_index_free() {
  entries.clear();
  entries.shrink_to_fit();
  name_list.clear();
  name_list.shrink_to_fit();
  index_built = false;
  folder_count = -1;
}

int data_archive_scan(const void *data, int n) {
  if (n <= 0) return -1;
  FILE *fp = fmemopen(const_cast<void *>(data), n, "rb");
  if (!fp) return -1;
  std::vector<Member> members;
  const char *why;
  int r = archive_parse(fp, n, members, &why);
  fclose(fp);
  return r;
}

// ======================================================== opening, closing

DataFile *data_open(const char *name, const char *mode) {
  if (!name || !mode || !*name) return nullptr;
  if (strchr(mode, 'r') && !strchr(mode, '+')) return open_read(name);
  return open_write(name, mode);
}

DataFile *data_open_memory(const void *data, int n, int gzip) {
  if (n < 0) return nullptr;
  unsigned char *copy = static_cast<unsigned char *>(mem_alloc(n > 0 ? n : 1));
  if (!copy) return nullptr;
  if (n > 0) memcpy(copy, data, n);
  // An empty buffer still needs a stream: one byte, none of it readable.
  FILE *fp = fmemopen(copy, n > 0 ? n : 1, "rb");
  if (!fp) {
    mem_free(copy);
    return nullptr;
  }
  DataFile *f = new_file(fp, "(memory)");
  if (!f) {
    mem_free(copy);
    return nullptr;
  }
  f->owned = copy;
  f->limit = n;
  f->archived = 1;
  if (gzip && !gz_start(f, n)) {
    free_file(f);
    return nullptr;
  }
  return f;
}

void data_close(DataFile *f) {
  if (!f) return;
  if (f->tmp_path[0]) {
    data_abandon(f);
    return;
  }
  free_file(f);
}

// ================================================================ reading

int data_getc(DataFile *f) {
  if (f->pushback >= 0) {
    int c = f->pushback;
    f->pushback = -1;
    return c;
  }
  if (f->gz && f->out_ptr < f->out_end) return *f->out_ptr++;
  unsigned char c;
  return raw_read(f, &c, 1) == 1 ? c : -1;
}

int data_peekc(DataFile *f) {
  if (f->pushback < 0) f->pushback = data_getc(f);
  return f->pushback;
}

int data_ungetc(DataFile *f, int c) {
  if (c < 0 || c > 255 || f->pushback >= 0) return -1;
  f->pushback = c;
  return c;
}

char *data_gets(DataFile *f, char *buf, int size) {
  if (size <= 0) return nullptr;
  int n = 0;
  while (n < size - 1) {
    int c = data_getc(f);
    if (c < 0) break;
    buf[n++] = static_cast<char>(c);
    if (c == '\n') break;
  }
  buf[n] = 0;
  return n > 0 ? buf : nullptr;
}

int data_read(DataFile *f, void *buf, int n) {
  if (n <= 0) return 0;
  unsigned char *out = static_cast<unsigned char *>(buf);
  int got = 0;
  if (f->pushback >= 0) {
    out[got++] = static_cast<unsigned char>(f->pushback);
    f->pushback = -1;
  }
  while (got < n) {
    int k = raw_read(f, out + got, n - got);
    if (k <= 0) break;
    got += k;
  }
  return got;
}

int data_seek(DataFile *f, int offset) {
  if (f->gz || f->writing || offset < 0 || offset >= f->limit) return 0;
  if (fseeko(f->file, f->base + offset, SEEK_SET) != 0) return 0;
  f->pushback = -1;
  f->pos = offset;
  return 1;
}

int data_error(DataFile *f) { return f->error; }

// ================================================================ writing

int data_putc(DataFile *f, int c) { return fputc(c, f->file); }
int data_puts(DataFile *f, const char *s) { return fputs(s, f->file); }
int data_write(DataFile *f, const void *data, int n) {
  return n > 0 ? static_cast<int>(fwrite(data, 1, n, f->file)) : 0;
}
int data_printf(DataFile *f, const char *format, ...) {
  va_list ap;
  va_start(ap, format);
  int r = vfprintf(f->file, format, ap);
  va_end(ap);
  return r;
}
int data_flush(DataFile *f) { return fflush(f->file); }

DataFile *data_create(const char *name) {
  if (!name || !*name) return nullptr;
  char path[PATH_SIZE], tmp[PATH_SIZE];
  for (int i = 0;; i++) {
    const char *folder = "";
    const char *rest = name;
    if (*name == '@') {
      folder = search_folder(i);
      if (!folder) return nullptr;
      rest = name + 1;
    } else if (i > 0) {
      return nullptr;
    }
    if (!join(path, JOINED_MAX, folder, rest) || !join(tmp, PATH_SIZE - 1, path, ".tmp")) continue;
    make_folders(path);
    FILE *fp = fopen(tmp, "wb");
    if (!fp) continue;
    DataFile *f = new_file(fp, path);
    if (!f) {
      remove(tmp);
      return nullptr;
    }
    f->writing = 1;
    strcpy(f->tmp_path, tmp);
    strcpy(f->final_path, path);
    return f;
  }
}

int data_commit(DataFile *f) {
  if (!f) return 0;
  if (!f->tmp_path[0]) {
    int ok = fflush(f->file) == 0 && !ferror(f->file);
    free_file(f);
    return ok;
  }
  int ok = fflush(f->file) == 0 && !ferror(f->file) && fsync(fileno(f->file)) == 0;
  ok = (fclose(f->file) == 0) && ok;
  f->file = nullptr;
  if (ok && rename(f->tmp_path, f->final_path) != 0) ok = 0;
  if (!ok) {
    log_printf("Could not write %s: %s\n", f->final_path, strerror(errno));
    remove(f->tmp_path);
  }
  free_file(f);
  return ok;
}

void data_abandon(DataFile *f) {
  if (!f) return;
  if (f->file) fclose(f->file);
  f->file = nullptr;
  if (f->tmp_path[0]) remove(f->tmp_path);
  free_file(f);
}

// ========================================================== whole files

char *file_to_string(const char *name, int *length) {
  DataFile *f = data_open(name, "rb");
  if (!f) return nullptr;
  char *buf = static_cast<char *>(mem_alloc(WHOLE_FILE_MAX));
  if (!buf) {
    data_close(f);
    return nullptr;
  }
  int n = data_read(f, buf, WHOLE_FILE_MAX);
  int bad = data_error(f);
  data_close(f);
  if (n == WHOLE_FILE_MAX) log_printf("File %s too long for file_to_string\n", name);
  if (n == WHOLE_FILE_MAX || bad) {
    mem_free(buf);
    return nullptr;
  }
  buf[n] = 0;
  if (char *small = static_cast<char *>(mem_realloc(buf, n + 1))) buf = small;
  if (length) *length = n;
  return buf;
}

int data_path(const char *name, char *out, int size) {
  if (!name || size <= 0) return 0;
  if (*name != '@') return join(out, size - 1, "", name);
  const char *folder = search_folder(0);
  return folder && join(out, std::min(size - 1, JOINED_MAX), folder, name + 1);
}

int data_rename(const char *from, const char *to) {
  // "@" names are held to the joined limit by data_path; plain paths may be
  // as long as any other path.
  char a[PATH_SIZE], b[PATH_SIZE];
  if (!from || !to || !data_path(from, a, sizeof a) || !data_path(to, b, sizeof b)) return 0;
  return rename(a, b) == 0;
}

int data_safe_name(const char *name) {
  return name && *name && !strchr(name, '/') && !strchr(name, '\\') && !strstr(name, "..");
}
