// The whole circulation network of a problem, long connections included, as
// one min-cost circulation solved by LEMON's network simplex. It serves as an
// independent reference for the solver's answer: the solver holds only the
// short connections and adds long ones by pricing, but its optimum must equal
// the optimum over every connection at once.
//
// Nothing here uses the solver's network code; only the problem tables and
// their readers are shared.
#pragma once

#include <cstdint>
#include <vector>

#include "solver/problem.h"

using namespace solver;

enum class FullArcKind { pull_out, trip, short_connection, long_connection, pull_in, return_arc };

struct FullArc {
  int tail = 0;
  int head = 0;
  int lower = 0;
  int upper = 0;
  int64_t cost = 0;
  FullArcKind kind = FullArcKind::pull_out;
};

// Nodes are numbered as in the solver: trip i starts at i and ends at T + i,
// the depot out node is 2T + 1, the depot in node 2T + 2. Arcs stand in the
// order the solver creates them (trip by trip: pull-out, trip, connections by
// increasing later trip, pull-in; the return arc last), long connections in
// the place where the solver writes their records.
struct FullNetwork {
  int num_nodes = 0;
  std::vector<FullArc> arcs;
  int num_short_connections = 0;
  int num_long_connections = 0;
  // Arcs the solver keeps in memory, counted as its "Total of Short Arcs":
  // every arc but the long connections.
  int num_short_arcs = 0;
  // False when an arc cost leaves the 32-bit range the solver computes in.
  bool costs_fit_int32 = true;
};

enum class FullNetworkStatus { optimal, infeasible, unbounded };

struct UsedConnection {
  int from_trip = 0;
  int to_trip = 0;
  bool long_arc = false;
};

struct FullNetworkResult {
  FullNetworkStatus status = FullNetworkStatus::infeasible;
  int64_t optimum = 0;   // total cost; 0 unless optimal
  int64_t vehicles = 0;  // flow on the return arc; 0 unless optimal
  int num_arcs = 0;
  int num_short_arcs = 0;
  int num_short_connections = 0;
  int num_long_arcs = 0;
  double solve_seconds = 0;
  // False when an arc cost or the optimum does not fit the solver's 32 bits,
  // so that the solver's total is bound to differ from this one.
  bool fits_int32 = true;
  // Connections that carry a vehicle, by increasing earlier trip.
  std::vector<UsedConnection> connections;
};

// The link preference rule for an earlier trip of key a and a later trip of
// key b. The member flags carry over from group to group.
bool full_network_link_allowed(const Problem& problem, float a, float b);

FullNetwork build_full_network(const Problem& problem);
FullNetworkResult solve_full_network(const Problem& problem);

const char* full_network_status_name(FullNetworkStatus status);  // "OPTIMAL", "INFEASIBLE", "UNBOUNDED"
