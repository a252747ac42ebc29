// Arc generation: after each solve, every long connection record in the
// long-arc file is priced with the node prices; up to LONG_ARCS_PER_NODE
// records per tail node with negative reduced cost join the network, and are
// marked in the file so that they never join twice.
#pragma once

#include <cstdio>
#include <string>

#include "solver/kilter.h"
#include "solver/network.h"

namespace solver {

inline constexpr int LONG_ARCS_PER_NODE = 40;
inline constexpr int SELECTION_CAPACITY = 109400;

// Links a new arc a at the ends of its lists.
void append_arc(Network& net, int a, int tail, int head, int upper, int cost);

// Total of flow x cost over all arcs; the return arc's flow goes to vehicles.
int objective_value(const Network& net, int num_trips, int& vehicles);

// One pass over the open long-arc file, after a solve that left the network
// as it stands. Writes the rest of the iteration file's row when a file is
// given. Returns true when at least one long arc was added.
bool generate_arcs(Network& net, KilterState& ks, RunCounters& counters, int num_trips,
                   const LongArcFile& long_arcs, FILE* iteration_file);
// The same on the file long_arc_path, opened for the pass.
bool generate_arcs(Network& net, KilterState& ks, RunCounters& counters, int num_trips,
                   const std::string& long_arc_path, FILE* iteration_file);

}  // namespace solver
