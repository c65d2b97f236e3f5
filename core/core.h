// The application core shared by every subsystem: data files and folders,
// the allocation checker, player messages and loading progress, the random
// number generator and the RIPEMD-160 digest. No SDL, no GL: the headless
// simulation, the tools and the tests link this.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdarg>

// ---------------------------------------------------------------- data files
// Names beginning with "@" are data names: read from the home folder, the
// install folder or the ".saf" archives (a ".gz" variant serves for the plain
// name), written into the first writable search folder. Other names are plain
// paths.

struct DataFile;

// The i-th search folder ("/"-terminated), or nullptr past the end.
// 0 is the home folder, then TW_HOME or the program's own folder.
const char *search_folder(int i);
// Creates every folder named by a prefix of `path` that ends before a "/".
void make_folders(const char *path);
// Creates the home folder and opens it in the desktop's file browser.
void open_home_folder();
// The first search folder that holds the game data, or -1.
int find_game_data();
// Name of the file whose presence marks a folder as holding the game data.
extern const char *const GAME_DATA_MARK;

// The sorted index of every loose file and archive member.
const char *const *file_index_build();  // the distinct names, null-terminated
int file_index_find(const char *name);    // entry position, or -1 ("@" optional)
int file_index_exists(const char *name);
int file_index_describe(int i, char *out, int size);
void file_index_free();

DataFile *data_open(const char *name, const char *mode);
// A reader over a copy of n bytes in memory (gzip = 1: a gzip stream), for
// data that arrives by other means than a file.
DataFile *data_open_memory(const void *data, int n, int gzip);
// Closing a file from data_create without data_commit abandons it.
void data_close(DataFile *f);
// Parses a ".saf" archive of n bytes: the member count, or -1 when the
// archive would be rejected.
int data_archive_scan(const void *data, int n);

int data_getc(DataFile *f);
int data_peekc(DataFile *f);
// Puts one byte back (only one, and only into an empty pushback): c, or -1.
int data_ungetc(DataFile *f, int c);
char *data_gets(DataFile *f, char *buf, int size);
int data_read(DataFile *f, void *buf, int n);
int data_scanf(DataFile *f, const char *format, ...) __attribute__((format(scanf, 2, 3)));
int data_vscanf(DataFile *f, const char *format, va_list ap);
int data_read_int(DataFile *f);
void data_skip_comments(DataFile *f);
int data_seek(DataFile *f, int offset);
// 1 when the last read failed because the data is corrupt (bad gzip stream,
// CRC or length trailer, short archive member): never a normal end.
int data_error(DataFile *f);

int data_putc(DataFile *f, int c);
int data_puts(DataFile *f, const char *s);
int data_write(DataFile *f, const void *data, int n);
int data_printf(DataFile *f, const char *format, ...) __attribute__((format(printf, 2, 3)));
int data_flush(DataFile *f);

// Files the program rewrites are written whole to "<name>.tmp" and renamed
// into place, so a crash or a full disk never leaves a half-written file.
DataFile *data_create(const char *name);
// Flushes, checks for write errors, closes and renames into place: 1 on
// success; 0 (the temporary file removed, the old file kept) on failure.
int data_commit(DataFile *f);
// Closes and removes the temporary file; the old file stays.
void data_abandon(DataFile *f);

// The whole content as a new zero-terminated text (free with mem_free), or
// nullptr; `length` (optional) receives the byte count.
char *file_to_string(const char *name, int *length = nullptr);
// Atomic rename; "@" names are inside the home folder. 1 on success.
int data_rename(const char *from, const char *to);
// The path a data name is written to (home folder for "@" names): 1, or 0
// when there is no such folder or the path does not fit.
int data_path(const char *name, char *out, int size);
// 1 when a file name taken from a player, a script or a peer is safe to join
// to a folder: not empty, no "/", "\\" or "..".
int data_safe_name(const char *name);

// ------------------------------------------------------ allocation checker
void *mem_alloc(size_t size);
void *mem_realloc(void *block, size_t size);
void mem_free(void *block);
void *mem_alloc_or_die(size_t size);
void mem_report();
// What the program does when memory runs out (set by start-up to close audio
// and the window and show "Out of virtual memory"); must not return.
extern void (*mem_fatal_hook)();

// ------------------------------------------------- messages and progress
// A line for the player: the message window and the log.
void add_message(const char *text);
void add_messagef(const char *format, ...) __attribute__((format(printf, 1, 2)));
// A loading-screen line; also logged.
void show_progress(const char *text);
// The cycling form: the text cut to 64 characters with 0..3 dots, redrawn
// at most every 0.125 s.
void show_progress_cycling(const char *text);
// Called from long loading loops: drains input, advances the spinner.
void loading_refresh();

// The window and drawing layers replace these; the defaults only log.
struct UiHooks {
  void (*message)(const char *text);
  void (*progress)(const char *text, int cycling);
  void (*refresh)();
};
extern UiHooks ui_hooks;

// ------------------------------------------------------------ random numbers
// The one MT19937 generator shared by robots and scripts.
void rng_seed(uint32_t seed);
uint32_t rng_next();

// ------------------------------------------------------------------ digest
struct Ripemd160 {
  uint32_t h[5];
  uint64_t length;
  uint8_t block[64];
  int fill;
};
void ripemd160_init(Ripemd160 *r);
void ripemd160_update(Ripemd160 *r, const void *data, size_t n);
// The five result words, each stored little-endian.
void ripemd160_final(Ripemd160 *r, uint8_t out[20]);
void ripemd160(const void *data, size_t n, uint8_t out[20]);
