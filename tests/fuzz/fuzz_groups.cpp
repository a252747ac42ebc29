// The groups file Tarsel.prr, and the link rule on whatever it yields.
#include <cstdint>
#include <memory>
#include <string>

#include "common/common.h"
#include "common/text_cursor.h"
#include "solver/network.h"
#include "solver/problem.h"
#include "tests/fuzz/fuzz_support.h"

using namespace common;
using namespace solver;

namespace {
// Slot of the end marker, or -1 when the list has none within its slots.
int end_of_members(const int* members) {
  for (int s = 1; s < GROUP_LIST_SLOTS; ++s)
    if (members[s] == GROUP_END_MARKER) return s;
  return -1;
}
int end_of_keys(const float* keys) {
  for (int s = 1; s < GROUP_LIST_SLOTS; ++s)
    if (keys[s] == static_cast<float>(GROUP_END_MARKER)) return s;
  return -1;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  silence_console();
  TextCursor cursor;
  load_text(std::string(reinterpret_cast<const char*>(data), size), cursor);
  auto problem = std::make_unique<Problem>();
  int cost = 0;
  try {
    cost = parse_groups("Tarsel.prr", cursor, *problem);
  } catch (const FatalError& error) {
    FUZZ_CHECK(error.exit_code == 1);
    return 0;
  }
  const Problem& p = *problem;
  FUZZ_CHECK(p.num_groups >= 1 && p.num_groups < GROUP_ROWS);
  FUZZ_CHECK(cost == p.link_preference_cost);
  for (int g = 1; g <= p.num_groups; ++g) {
    const Group& group = p.groups[g];
    FUZZ_CHECK(end_of_members(group.members) >= 1);
    FUZZ_CHECK(end_of_keys(group.from_keys) >= 1);
    FUZZ_CHECK(end_of_keys(group.to_keys) >= 1);
  }
  // Every key the file names, against every other: the rule must stay inside
  // the lists whatever they hold.
  for (int g = 1; g <= p.num_groups; ++g) {
    const Group& group = p.groups[g];
    for (int s = 1; s < GROUP_LIST_SLOTS && group.from_keys[s] != static_cast<float>(GROUP_END_MARKER); ++s)
      for (int u = 1; u < GROUP_LIST_SLOTS && group.to_keys[u] != static_cast<float>(GROUP_END_MARKER); ++u)
        (void)group_link_allowed(p, group.from_keys[s], group.to_keys[u]);
  }
  return 0;
}
