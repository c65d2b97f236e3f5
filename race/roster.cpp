// The robot roster: the 80 built-in robot riders a race draws from, their
// shuffle at every track load, and the bike names riders are created with.
#include <cstring>

#include "core/core.h"
#include "race/track.h"

#define PLAIN(n, who, bike) {n, who, bike, {nullptr, nullptr, nullptr, nullptr}}
#define DRESSED(n, bike, alt)                                                          \
  {n, "rannock", bike, {"@rider_body-" alt ".png", "@rider_head-" alt ".png",          \
                        "@" bike "-" alt ".png", "@wheels-" alt ".png"}}

const RosterRow robot_roster[ROSTER_SIZE] = {
    // 125s
    PLAIN("20", "tolly", "kx125"), PLAIN("21", "tolly", "kx125"), PLAIN("22", "tolly", "kx125"),
    PLAIN("23", "tolly", "kx125"), PLAIN("24", "tolly", "kx125"), PLAIN("25", "tolly", "yz125"),
    PLAIN("26", "tolly", "yz125"), PLAIN("27", "tolly", "yz125"), PLAIN("28", "tolly", "yz125"),
    PLAIN("29", "tolly", "yz125"), PLAIN("30", "tolly", "cr125"), PLAIN("31", "tolly", "cr125"),
    PLAIN("32", "tolly", "cr125"), PLAIN("33", "tolly", "cr125"), PLAIN("34", "tolly", "cr125"),
    PLAIN("35", "tolly", "rm125"), PLAIN("36", "tolly", "rm125"), PLAIN("37", "tolly", "rm125"),
    PLAIN("38", "tolly", "rm125"), PLAIN("39", "tolly", "rm125"),
    // 250 four-strokes
    PLAIN("40", "vesk", "crf250"), PLAIN("41", "vesk", "crf250"), PLAIN("42", "vesk", "crf250"),
    PLAIN("43", "vesk", "crf250"), PLAIN("44", "vesk", "crf250"), PLAIN("45", "vesk", "kx250f"),
    PLAIN("46", "vesk", "kx250f"), PLAIN("47", "vesk", "kx250f"), PLAIN("48", "vesk", "kx250f"),
    PLAIN("49", "vesk", "kx250f"), PLAIN("50", "vesk", "rmz250"), PLAIN("51", "vesk", "rmz250"),
    PLAIN("52", "vesk", "rmz250"), PLAIN("53", "vesk", "rmz250"), PLAIN("54", "vesk", "rmz250"),
    PLAIN("55", "vesk", "yz250f"), PLAIN("56", "vesk", "yz250f"), PLAIN("57", "vesk", "yz250f"),
    PLAIN("58", "vesk", "yz250f"), PLAIN("59", "vesk", "yz250f_se(2006)"),
    PLAIN("60", "tolly", "crf250"), PLAIN("61", "tolly", "crf250"), PLAIN("62", "tolly", "crf250"),
    PLAIN("63", "tolly", "crf250"), PLAIN("64", "tolly", "crf250"), PLAIN("65", "tolly", "kx250f"),
    PLAIN("66", "tolly", "kx250f"), PLAIN("67", "tolly", "kx250f"), PLAIN("68", "tolly", "kx250f"),
    PLAIN("69", "tolly", "kx250f"), PLAIN("70", "tolly", "rmz250"), PLAIN("71", "tolly", "rmz250"),
    PLAIN("72", "tolly", "rmz250"), PLAIN("73", "tolly", "rmz250"), PLAIN("74", "tolly", "rmz250"),
    PLAIN("75", "tolly", "yz250f"), PLAIN("76", "tolly", "yz250f"), PLAIN("77", "tolly", "yz250f"),
    PLAIN("78", "tolly", "yz250f"), PLAIN("79", "tolly", "yz250f_se(2006)"),
    // In their own colours.
    DRESSED("80", "crf250", "alt1"), DRESSED("81", "crf250", "alt2"),
    DRESSED("82", "crf250", "alt3"), DRESSED("83", "crf250", "alt4"),
    DRESSED("84", "crf250", "alt5"), DRESSED("85", "kx250f", "alt1"),
    DRESSED("86", "kx250f", "alt2"), DRESSED("87", "kx250f", "alt3"),
    DRESSED("88", "kx250f", "alt4"), DRESSED("89", "kx250f", "alt5"),
    DRESSED("90", "rmz250", "alt1"), DRESSED("91", "rmz250", "alt2"),
    DRESSED("92", "rmz250", "alt3"), DRESSED("93", "rmz250", "alt4"),
    DRESSED("94", "rmz250", "alt5"), DRESSED("95", "yz250f", "alt1"),
    DRESSED("96", "yz250f", "alt2"), DRESSED("97", "yz250f", "alt3"),
    DRESSED("98", "yz250f", "alt4"), DRESSED("99", "yz250f", "alt5"),
};

int roster_order[ROSTER_SIZE];
int roster_next = 0;

void roster_shuffle() {
  for (int i = 0; i < ROSTER_SIZE; i++) roster_order[i] = i;
  for (int i = ROSTER_SIZE - 1; i >= 1; i--) {
    uint32_t r = rng_next();
    int j = int((r / 65536) % uint32_t(i));
    int t = roster_order[i];
    roster_order[i] = roster_order[j];
    roster_order[j] = t;
  }
  roster_next = 0;
}

int roster_take(const char *want, int by_number) {
  // A series may ask for more robots than there are rows: the roster
  // starts over rather than reading past its end.
  int at = roster_next % ROSTER_SIZE;
  roster_next++;
  if (want) {
    for (int q = ROSTER_SIZE - 1; q >= at; q--) {
      const RosterRow &row = robot_roster[roster_order[q]];
      if (by_number ? strcmp(row.number, want) != 0 : !strstr(row.bike, want)) continue;
      int t = roster_order[q];
      roster_order[q] = roster_order[at];
      roster_order[at] = t;
      break;
    }
  }
  return roster_order[at];
}

const char *bike_alias(const char *name) {
  static const char *const from[4] = {"crf250", "kx250f", "rmz250", "yz250f"};
  static const char *const to[4] = {"crf250(2008)", "kx250f(2008)", "rmz250(2008)",
                                    "yz250f(2008)"};
  for (int i = 0; i < 4; i++)
    if (name && !strcmp(name, from[i])) return to[i];
  return name;
}
