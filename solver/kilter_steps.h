// The out-of-kilter method one iteration at a time, written the plain way:
// every search clears all labels and labels breadth-first from the arc out of
// kilter, every price change walks the lists of all labeled nodes and then
// every node. The fast solve (kilter.h) gives the same flows, reduced costs
// and iteration counts; these steps are its measure and its fallback.
//
// Tables of KilterState used here:
//  - price[v]: the node's dual value; changed only by change_prices.
//  - label[v]: 0 unlabeled in the current search; +p labeled from p over a
//    forward arc, -p labeled from p over a backward arc.
//  - pred_arc[v]: +e or -e, the arc that labeled v, forward or backward.
//  - queue[1..queue_in]: the labeled nodes in the order they were labeled;
//    queue_out is the last one taken out.
//  - scan_arc: where the search for an arc out of kilter resumes.
//  - search_start, search_target, search_sign: the ends of the search and +1
//    when the arc's flow is to rise, -1 when it is to fall.
#pragma once

#include <cstdio>
#include <ctime>

#include "solver/kilter.h"
#include "solver/network.h"

namespace solver {

// The first arc from scan_arc on that is out of kilter (0 if none), with
// rise true when its flow must rise; scan_arc moves to it.
int find_out_of_kilter_arc(const Network& net, KilterState& ks, bool& rise);

// One search from arc a, ending in a flow change around a cycle or in a
// price change.
void label_and_repair(Network& net, KilterState& ks, int a, bool rise);

// The room of the cycle that the labels describe, read backwards from start
// (the first arc met is the one out of kilter); INFINITE_DELTA when nothing
// limits it.
int cycle_room(const Network& net, const KilterState& ks, int start);

// The flow change around the labels' cycle; false when its room is not
// between 1 and INFINITE_DELTA - 1 (then no flow changes).
bool change_flow(Network& net, KilterState& ks);

// The price change after a search from arc a without breakthrough; clears
// net.feasible when nothing bounds it.
void change_prices(Network& net, KilterState& ks, int a);

// The iterations of one solve: until no arc is out of kilter or the
// circulation is found infeasible.
void iterate_steps(Network& net, KilterState& ks);

// A whole solve by the steps, counted and timed as solve_circulation does it.
SolveStatus solve_circulation_by_steps(Network& net, KilterState& ks, RunCounters& counters, FILE* iteration_file);

// Adds a finished solve (started at t0) to the counters and writes its time
// to the iteration file if given.
void record_solve(const KilterState& ks, RunCounters& counters, std::time_t t0, FILE* iteration_file);

}  // namespace solver
