// Which trip may follow which, and at what cost: the one rule that every
// network of this system builds its connection arcs by. A connection is
// short (an arc in memory), long (a record priced by arc generation; the
// vehicle has time to go back to the depot) or none; the link preference
// groups, where in force, further decide which pairs may connect at all.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "solver/problem.h"

namespace solver {

inline constexpr int VEHICLE_COST = 1000;  // on the return arc: one per vehicle in every total

inline int min_of(int a, int b) { return a < b ? a : b; }

// Connection of a trip to a later one.
enum class ConnectionKind { none, short_arc, long_record };
struct Connection {
  ConnectionKind kind = ConnectionKind::none;
  long long cost = 0;  // checked against the solver's 32-bit range when the arc is made
};

// What a connection from one trip depends on, taken once for all the trips
// that may follow it.
struct ConnectionFrom {
  const int* dead_runs;  // from the trip's destination terminal
  int min_layover;
  int ready;             // arrival plus minimum layover
};

inline ConnectionFrom connection_from(const Problem& problem, const Trip& from) {
  return ConnectionFrom{problem.deadrun_matrix[from.destination_terminal], from.min_layover,
                        from.arrival_time + from.min_layover};
}

// The minutes the rule weighs for a connection from a trip to `to`.
struct ConnectionGap {
  int direct;     // dead run from the trip's end terminal to to's start terminal
  int via_depot;  // the same through the depot
  int available;  // to's departure less the time the trip's vehicle is ready
};

inline ConnectionGap connection_gap(const Problem& problem, const ConnectionFrom& from, const Trip& to) {
  int st = to.origin_terminal;
  // Readers bound every value in minutes, so these sums cannot overflow.
  return ConnectionGap{from.dead_runs[st], from.dead_runs[0] + problem.deadrun_matrix[0][st],
                       to.departure_time - from.ready};
}

// The same gap once `to` has moved by `minutes` relative to the trip: a
// network whose departures move asks the rule at each relative shift.
inline ConnectionGap moved_by(ConnectionGap gap, int minutes) {
  gap.available += minutes;
  return gap;
}

// The minutes to spare after the dead run; a connection needs them not
// negative. Where the groups are in force the run may go through the depot.
inline int connection_slack(const Problem& problem, const ConnectionGap& gap) {
  bool groups = problem.link_preference_cost > 0;
  return gap.available - (groups ? min_of(gap.direct, gap.via_depot) : gap.direct);
}

// Whether a connection with this gap is long: the vehicle has time to go back
// to the depot. In 64 bits: a short-arc parameter near the top of the
// integers makes every connection short, and must not wrap around.
inline bool goes_through_depot(const Problem& problem, const ConnectionGap& gap) {
  return gap.available >= static_cast<long long>(gap.via_depot) + problem.params.short_arc_param;
}

// The cost of a short connection; the direct dead run is charged even when
// the slack was measured via the depot.
inline long long short_connection_cost(const Problem& problem, int min_layover, const ConnectionGap& gap,
                                       int slack) {
  const Parameters& p = problem.params;
  return static_cast<long long>(p.deadrun_weight) * gap.direct +
         static_cast<long long>(p.layover_weight) * (min_layover + slack);
}

// The connection from a trip to `to` once the groups' rule allows the pair
// (or is not in force). Inline: network generation asks it for every pair.
inline Connection connect_allowed(const Problem& problem, const ConnectionFrom& from, const Trip& to) {
  const ConnectionGap gap = connection_gap(problem, from, to);
  int slack = connection_slack(problem, gap);
  Connection c;
  if (slack < 0) return c;
  if (!goes_through_depot(problem, gap)) {
    c.kind = ConnectionKind::short_arc;
    c.cost = short_connection_cost(problem, from.min_layover, gap, slack);
  } else {
    c.kind = ConnectionKind::long_record;
    c.cost = static_cast<long long>(problem.params.deadrun_weight) * gap.via_depot + problem.params.short_arc_param;
  }
  return c;
}

// A long connection in terms of each trip alone, for a network that routes
// long connections through a line of depot times: the first trip's vehicle is
// ready there at depot_ready, the later trip takes it up until depot_leave,
// and goes_through_depot holds exactly when ready <= leave.
inline long long depot_ready(const Problem& problem, const Trip& from) {
  return static_cast<long long>(from.arrival_time) + from.min_layover +
         problem.deadrun_matrix[from.destination_terminal][0] + problem.params.short_arc_param;
}
inline long long depot_leave(const Problem& problem, const Trip& to) {
  return static_cast<long long>(to.departure_time) - problem.deadrun_matrix[0][to.origin_terminal];
}

// The pull-out from the depot to a trip's start and the pull-in from its end.
inline long long pull_out_cost(const Problem& problem, const Trip& trip) {
  return static_cast<long long>(problem.params.deadrun_weight) * problem.deadrun_matrix[0][trip.origin_terminal];
}
inline long long pull_in_cost(const Problem& problem, const Trip& trip) {
  return static_cast<long long>(problem.params.deadrun_weight) *
         problem.deadrun_matrix[trip.destination_terminal][0];
}

// Whether the link preference groups allow a trip whose group key is a to be
// followed by one whose key is b.
bool group_link_allowed(const Problem& problem, float a, float b);

// One bit per group (group g is bit g - 1): the groups whose members hold the
// key truncated, whose from-keys and whose to-keys hold the key itself. The
// rule above depends on the two keys only through these.
struct GroupMembership {
  uint32_t member = 0, from = 0, to = 0;
  bool operator==(const GroupMembership&) const = default;
};
GroupMembership group_membership(const Problem& problem, float key);
bool group_link_allowed(const Problem& problem, const GroupMembership& a, const GroupMembership& b);

// The rule for every pair of trips, worked out once per pair of distinct
// memberships when first asked.
struct GroupLinkTable {
  std::vector<GroupMembership> classes;
  std::vector<int> class_of_trip;     // by trip number
  std::vector<signed char> allowed;   // classes x classes; -1 not yet known
  bool allowed_for(const Problem& problem, int i, int j);
  // The rule for classes a and b, worked out and kept when first asked.
  bool classes_allowed(const Problem& problem, size_t a, int b);
  // One bit per trip number: the trips a trip of class a may be followed by.
  std::vector<std::vector<uint64_t>> allowed_trips;  // by class; empty until asked
  const std::vector<uint64_t>& trips_allowed_from(const Problem& problem, size_t a);
};
GroupLinkTable make_group_link_table(const Problem& problem);

// The whole rule, groups included, for trip i followed by a later trip j.
Connection decide_connection(const Problem& problem, int i, int j);
// The same with the groups' rule looked up in links (none: worked out).
Connection decide_connection(const Problem& problem, int i, int j, GroupLinkTable* links);

}  // namespace solver
