// Control scripts: parsing the timed steps and applying them to a rider.
#include "tools/course/control_script.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bike/rider.h"

int control_parse(const char *text, std::vector<ControlStep> *out) {
  char *end;
  double t = strtod(text, &end);
  if (end == text || *end != ':' || !std::isfinite(t)) return 0;
  std::vector<ControlStep> steps;
  std::string rest(end + 1);
  size_t pos = 0;
  while (pos < rest.size()) {
    size_t comma = rest.find(',', pos);
    size_t n = comma == std::string::npos ? std::string::npos : comma - pos;
    std::string item = rest.substr(pos, n);
    if (!item.empty()) {
      size_t eq = item.find('=');
      if (eq == std::string::npos) return 0;
      const char *v = item.c_str() + eq + 1;
      double value = strtod(v, &end);
      if (end == v || *end || !std::isfinite(value)) return 0;
      steps.push_back({t, item.substr(0, eq), value});
    }
    if (comma == std::string::npos) break;
    pos = comma + 1;
  }
  out->insert(out->end(), steps.begin(), steps.end());
  return 1;
}

int control_script_read(const char *name, std::vector<ControlStep> *out, std::string *errors) {
  FILE *f = fopen(name, "r");
  if (!f) {
    *errors += std::string("can't open ") + name + "\n";
    return 0;
  }
  char line[1024];
  int n = 0, ok = 1;
  while (fgets(line, sizeof line, f)) {
    n++;
    char *hash = strchr(line, '#');
    if (hash) *hash = 0;
    char *p = line;
    while (*p == ' ' || *p == '\t') p++;
    size_t l = strlen(p);
    while (l > 0 && (p[l - 1] == '\n' || p[l - 1] == '\r' || p[l - 1] == ' ' || p[l - 1] == '\t'))
      p[--l] = 0;
    if (!*p) continue;
    // "TIME key=value ..." with spaces is accepted as well as commas.
    for (char *c = p; *c; c++)
      if (*c == ' ' || *c == '\t') *c = ',';
    char *first = strchr(p, ',');
    if (first && !strchr(p, ':')) *first = ':';
    if (!control_parse(p, out)) {
      char where[64];
      snprintf(where, sizeof where, ":%d: bad control line\n", n);
      *errors += name + std::string(where);
      ok = 0;
    }
  }
  fclose(f);
  return ok;
}

void control_sort(std::vector<ControlStep> *steps) {
  std::stable_sort(steps->begin(), steps->end(),
                   [](const ControlStep &a, const ControlStep &b) { return a.time < b.time; });
}

int control_key_known(const std::string &k) {
  static const char *const keys[] = {"throttle", "front", "rear",   "steer", "lean",
                                     "clutch",   "sit",   "backup", "gear",  "shift"};
  for (const char *key : keys)
    if (k == key) return 1;
  return 0;
}

int control_apply(Rider *r, const ControlStep &s, TicCommand *c) {
  float v = float(s.value);
  const std::string &k = s.key;
  if (k == "gear") {
    // Not a control: the bike is put in that gear outright.
    int g = int(s.value) - 1;
    r->gear = g < 0 ? 0 : (g > 5 ? 5 : g);
  } else if (k == "throttle") {
    c->throttle = v;
  } else if (k == "front") {
    c->front_brake = v;
  } else if (k == "rear") {
    c->rear_brake = v;
  } else if (k == "steer") {
    c->steering = v;
  } else if (k == "lean") {
    c->lean = v;
  } else if (k == "clutch") {
    c->clutch = v;
  } else if (k == "sit") {
    c->sit_dab = v;
  } else if (k == "backup") {
    c->back_up = v;
  } else if (k == "shift") {
    c->shift = s.value > 0 ? 1 : (s.value < 0 ? -1 : 0);
  } else {
    return 0;
  }
  return 1;
}
