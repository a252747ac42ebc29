// The out-of-kilter method: node prices, the labeling search from an arc that
// is out of kilter, the flow change around a cycle and the price change. Flows
// and prices carry over from one solve to the next (warm start).
#pragma once

#include <cstdio>
#include <vector>

#include "solver/network.h"

inline constexpr int INFINITE_DELTA = 999999;

struct KilterState {
  std::vector<int> price = std::vector<int>(MAX_NODES + 1);
  // 0 unlabeled; +p labeled from p through a forward arc, -p through a backward arc.
  std::vector<int> label = std::vector<int>(MAX_NODES + 1);
  std::vector<int> pred_arc = std::vector<int>(MAX_NODES + 1);
  std::vector<int> queue = std::vector<int>(MAX_NODES + 1);
  int queue_in = 0;
  int queue_out = 0;
  int scan_arc = 1;
  int search_start = 0;
  int search_target = 0;
  int search_sign = 0;
  int solve_iterations = 0;
};

// Counters of a whole solver run (all solves and passes).
struct RunCounters {
  int problems_solved = 0;
  int total_iterations = 0;
  int calc_seconds = 0;
  int longs_included = 0;
  int disc_seconds = 0;
  int num_arcs_before_generation = 0;
  int num_buses = 0;
  int total_cost = 0;
  int num_flow_arcs = 0;
};

inline int reduced_cost(const Network& net, const KilterState& ks, int e) {
  return net.cost[e] + ks.price[net.tail[e]] - ks.price[net.head[e]];
}

// Sets every node's price, label and predecessor to 0 (a new network).
void reset_kilter(KilterState& ks);

// Runs the method to its end on the current network and appends the solve's
// time ("\t%02d:%02d:%02d") to the iteration file when one is given.
void solve_circulation(Network& net, KilterState& ks, RunCounters& counters, FILE* iteration_file);

// The steps, for tests.
int find_out_of_kilter_arc(const Network& net, KilterState& ks, bool& rise);
void label_and_repair(Network& net, KilterState& ks, int a, bool rise);
bool change_flow(Network& net, KilterState& ks);
void change_prices(Network& net, KilterState& ks, int a);
