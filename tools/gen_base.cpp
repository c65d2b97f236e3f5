#include "tools/gen.h"

// The base archive: its presence in a search folder tells start-up that the
// folder holds the game data.
int gen_base(const char *out) {
  std::vector<GenMember> members = {
      {"version", "Tarnwick " TW_VERSION "\n"},
  };
  return gen_write_archive(out, "base.saf", members);
}
