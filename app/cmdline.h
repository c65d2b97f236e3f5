// The option table: one typed record per command-line option, the only list
// of options there is. The parser, "--help" and what lands in Settings all
// come from it; the configuration file and the console can look the same
// records up and set values through option_set.
#pragma once
#include <string>

#include "app/app.h"

// How an option's value is read.
enum OptionKind {
  OPT_FLAG,      // no value; matches only its exact spelling; stores flag_value
  OPT_INT,       // "%d"; "Bad arg" when it does not scan
  OPT_INT_KEEP,  // "%d"; keeps the previous value when it does not scan
  OPT_ATOI,      // atoi: never fails, empty text gives 0
  OPT_FLOAT,     // "%f", finite; "Bad arg" otherwise
  OPT_TEXT,      // the text as given
};

// Where a value is stored: one member of Settings, of the member's own type.
enum ValueType { VAL_NONE, VAL_INT, VAL_FLOAT, VAL_DOUBLE, VAL_TEXT };
struct ValueRef {
  ValueType type = VAL_NONE;
  int Settings::*i = nullptr;
  float Settings::*f = nullptr;
  double Settings::*d = nullptr;
  std::string Settings::*s = nullptr;
};
constexpr ValueRef value_at(int Settings::*m) { return {VAL_INT, m, nullptr, nullptr, nullptr}; }
constexpr ValueRef value_at(float Settings::*m) { return {VAL_FLOAT, nullptr, m, nullptr, nullptr}; }
constexpr ValueRef value_at(double Settings::*m) { return {VAL_DOUBLE, nullptr, nullptr, m, nullptr}; }
constexpr ValueRef value_at(std::string Settings::*m) {
  return {VAL_TEXT, nullptr, nullptr, nullptr, m};
}

struct OptionDef;
// Irregular options: called with the text and, for numbers, the value as
// scanned; does the storing itself (option_store does the regular part).
// Returns 0, or 1 after adding its message to errors.
typedef int (*OptionSpecial)(const OptionDef &o, const char *text, double value, Settings *s,
                             std::string *errors);

struct OptionDef {
  const char *name;
  OptionKind kind;
  ValueRef to = {};        // nowhere for options that are only accepted
  // A number is multiplied by scale (option units to stored units), then
  // limited to lo..hi when lo < hi, then stored (rounded down for an int).
  double scale = 1;
  double lo = 0, hi = 0;
  int flag_value = 1;      // what a flag stores
  int Settings::*given = nullptr;  // set to 1 whenever the option is taken
  OptionSpecial special = nullptr;
  const char *help = "";   // "VALUE: what it does"
};

// The table, in the order "--help" lists it.
extern const OptionDef OPTION_TABLE[];
extern const int OPTION_COUNT;

// The record of an option by its exact name, or null.
const OptionDef *option_find(const char *name);
// Sets an option from its value text ("" when none was given) as the
// command line does. Returns 0, or 1 after adding the message to errors
// (warnings may be added with 0).
int option_set(const OptionDef &o, const char *text, Settings *s, std::string *errors);
// The regular store of a scanned number: scaled, limited, converted.
void option_store(const OptionDef &o, double value, Settings *s);
