#include "solver/connection.h"

#include <climits>

namespace solver {

namespace {
bool list_has_member(const int* members, int key) {
  for (int s = 1; s < GROUP_LIST_SLOTS && members[s] != GROUP_END_MARKER; ++s)
    if (members[s] == key) return true;
  return false;
}
bool list_has_key(const float* keys, float key) {
  for (int s = 1; s < GROUP_LIST_SLOTS && keys[s] != static_cast<float>(GROUP_END_MARKER); ++s)
    if (keys[s] == key) return true;
  return false;
}

// A key truncated toward zero; a key beyond the integers matches no member.
int member_key(float key) {
  if (!(key > -2147483520.0f && key < 2147483520.0f)) return INT_MIN;
  return static_cast<int>(key);
}
}  // namespace

GroupMembership group_membership(const Problem& problem, float key) {
  static_assert(GROUP_ROWS <= 33, "one bit per group");
  const int k = member_key(key);
  GroupMembership m;
  for (int g = 1; g <= problem.num_groups && g < GROUP_ROWS; ++g) {
    const Group& group = problem.groups[g];
    const uint32_t bit = 1u << (g - 1);
    if (list_has_member(group.members, k)) m.member |= bit;
    if (list_has_key(group.from_keys, key)) m.from |= bit;
    if (list_has_key(group.to_keys, key)) m.to |= bit;
  }
  return m;
}

bool group_link_allowed(const Problem& problem, const GroupMembership& a, const GroupMembership& b) {
  // The flags carry over from one group to the next: a member match in an
  // earlier group still counts when a later group is examined.
  bool fa = false, fb = false;
  for (int g = 1; g <= problem.num_groups && g < GROUP_ROWS; ++g) {
    const uint32_t bit = 1u << (g - 1);
    if (a.member & bit) fa = true;
    if (b.member & bit) fb = true;
    if (fa && fb) {
      fa = (a.from & bit) != 0;
      fb = (b.to & bit) != 0;
    }
    if (fa && fb) return true;
  }
  return false;
}

bool group_link_allowed(const Problem& problem, float a, float b) {
  return group_link_allowed(problem, group_membership(problem, a), group_membership(problem, b));
}

GroupLinkTable make_group_link_table(const Problem& problem) {
  GroupLinkTable table;
  table.class_of_trip.assign(problem.num_trips + 1, 0);
  for (int i = 1; i <= problem.num_trips; ++i) {
    const GroupMembership m = group_membership(problem, problem.trips[i].group_key);
    size_t c = 0;
    while (c < table.classes.size() && !(table.classes[c] == m)) ++c;
    if (c == table.classes.size()) table.classes.push_back(m);
    table.class_of_trip[i] = static_cast<int>(c);
  }
  table.allowed.assign(table.classes.size() * table.classes.size(), -1);
  return table;
}

bool GroupLinkTable::allowed_for(const Problem& problem, int i, int j) {
  return classes_allowed(problem, static_cast<size_t>(class_of_trip[i]), class_of_trip[j]);
}

const std::vector<uint64_t>& GroupLinkTable::trips_allowed_from(const Problem& problem, size_t a) {
  if (allowed_trips.empty()) allowed_trips.resize(classes.size());
  std::vector<uint64_t>& bits = allowed_trips[a];
  if (!bits.empty()) return bits;
  bits.assign(class_of_trip.size() / 64 + 1, 0);
  for (size_t j = 1; j < class_of_trip.size(); ++j)
    if (classes_allowed(problem, a, class_of_trip[j])) bits[j / 64] |= 1ull << (j % 64);
  return bits;
}

bool GroupLinkTable::classes_allowed(const Problem& problem, size_t a, int b) {
  signed char& known = allowed[a * classes.size() + static_cast<size_t>(b)];
  if (known < 0) known = group_link_allowed(problem, classes[a], classes[static_cast<size_t>(b)]) ? 1 : 0;
  return known != 0;
}

Connection decide_connection(const Problem& problem, int i, int j) { return decide_connection(problem, i, j, nullptr); }

Connection decide_connection(const Problem& problem, int i, int j, GroupLinkTable* links) {
  const Trip& from = problem.trips[i];
  const Trip& to = problem.trips[j];
  if (problem.link_preference_cost > 0 && !(links ? links->allowed_for(problem, i, j)
                                                  : group_link_allowed(problem, from.group_key, to.group_key)))
    return Connection{};
  return connect_allowed(problem, connection_from(problem, from), to);
}

}  // namespace solver
