// pitch_track AUDIO LOG: compares the recording's fundamental with the
// followed engine's rpm the log gives, wherever the rpm held steady for a
// quarter second. Prints each window; exits 1 when one is off by more than
// 3 %, or when fewer than three steady windows above 40 Hz were found.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <vector>

#include "tests/common/pitch.h"

int main(int argc, char **argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: pitch_track AUDIO LOG\n");
    return 2;
  }
  const int RATE = 88320, BLOCK = 690;
  std::vector<int16_t> audio;
  if (FILE *f = fopen(argv[1], "rb")) {
    int lo, hi;
    while ((lo = getc(f)) != EOF && (hi = getc(f)) != EOF) audio.push_back(int16_t(lo | (hi << 8)));
    fclose(f);
  }
  std::map<int, double> hz;  // tic -> expected cycle rate
  if (FILE *f = fopen(argv[2], "r")) {
    char line[512];
    int first = -1;
    while (fgets(line, sizeof line, f)) {
      int tic;
      double rpm, per_rev;
      const char *at = strstr(line, "Engine sound: tic");
      if (!at || sscanf(at, "Engine sound: tic %d, %lf rpm, %lf cycles", &tic, &rpm, &per_rev) != 3)
        continue;
      // The first line comes before the first recorded tic.
      if (first < 0) first = tic;
      hz[tic - first] = per_rev * (rpm > 1000 ? rpm : 1000) / 60;
    }
    fclose(f);
  }
  // The writer runs 4410 samples (0.1 s, 12.8 tics) ahead of what is heard.
  const int LAG = 13, HALF = 16;
  int windows = 0, bad = 0, riding = 0;
  int last = -1000;
  for (auto &[tic, want] : hz) {
    if (tic < last + 4 * HALF) continue;
    bool steady = true;
    int seen = 0;
    for (auto it = hz.lower_bound(tic - HALF); it != hz.end() && it->first <= tic + HALF; ++it, seen++)
      if (std::fabs(it->second - want) > 0.01 * want) steady = false;
    if (!steady || seen < 8) continue;
    size_t from = size_t(tic + LAG - HALF) * BLOCK, n = size_t(2 * HALF) * BLOCK;
    // Searched down to half the wanted pitch, so an octave slip still shows.
    double got = fundamental(audio, from, n, RATE, int(want / 2) > 5 ? int(want / 2) : 5);
    if (got <= 0) continue;
    last = tic;
    windows++;
    bool ok = std::fabs(got - want) <= 0.03 * want;
    if (!ok) bad++;
    if (want > 40) riding++;
    printf("tic %d: %.2f Hz wanted, %.2f Hz heard%s\n", tic, want, got, ok ? "" : "  <- off");
  }
  printf("%d steady windows (%d above 40 Hz), %d off\n", windows, riding, bad);
  return riding >= 3 && bad == 0 ? 0 : 1;
}
