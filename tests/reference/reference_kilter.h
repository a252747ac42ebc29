// The out-of-kilter method written the plain way: every search clears all
// labels, labels breadth-first from the out-of-kilter arc, and every price
// change walks the lists of all labeled nodes and then every node. It works on
// the solver's own network and state, so its flows, prices and iteration
// counts can be set against those of the solver's fast implementation.
#pragma once

#include <cstdio>

#include "solver/kilter.h"
#include "solver/network.h"

namespace reference {

inline int reduced_cost(const Network& net, const KilterState& ks, int e) {
  return net.cost[e] + ks.price[net.tail[e]] - ks.price[net.head[e]];
}

void reset_kilter(KilterState& ks);
void solve_circulation(Network& net, KilterState& ks, RunCounters& counters, FILE* iteration_file);

int find_out_of_kilter_arc(const Network& net, KilterState& ks, bool& rise);
void label_and_repair(Network& net, KilterState& ks, int a, bool rise);
bool change_flow(Network& net, KilterState& ks);
void change_prices(Network& net, KilterState& ks, int a);

}  // namespace reference
