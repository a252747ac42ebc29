// The out-of-kilter method: node prices, the labeling search from an arc that
// is out of kilter, the flow change around a cycle and the price change. Flows
// and prices carry over from one solve to the next (warm start).
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

#include "solver/network.h"

inline constexpr int INFINITE_DELTA = 999999;

// Working tables of solve_circulation, rebuilt from the network at the start
// of every solve. The lists hold the arcs in the order of the forward-star
// lists, packed per node, so that a search reads them front to back.
struct OutEntry {
  int head;  // 0 while the arc has no room to rise: node 0 always counts as reached
  int cost;
};

// An arc that carries more than its lower bound, as its head's in-list holds
// it for going back over it.
struct BackEntry {
  int arc;
  int tail;
  int cost;
  int above_upper;  // flow above the upper bound: usable whatever its reduced cost
};

struct HeapItem {
  int key;
  int node;
};

struct KilterWork {
  // Out-lists: positions out_begin[n] .. out_begin[n + 1] - 1.
  std::vector<int> out_begin;
  std::vector<OutEntry> out;
  std::vector<int> out_arc;
  std::vector<int> arc_out_pos;
  // In-lists, kept only as the arcs that carry more than their lower bound
  // (the only ones a search can go back over), in list order: back_count[n]
  // of them, in node n's few near slots of back_near while they fit, else at
  // back[in_begin[n]] onwards.
  std::vector<int> in_begin;
  std::vector<int> in_arc;
  std::vector<int> arc_in_pos;
  std::vector<BackEntry, ZeroedAllocator<BackEntry>> back;
  std::vector<BackEntry> back_near;
  std::vector<int> back_count;
  // Out-arcs below their lower bound, per tail node: they are usable whatever
  // their reduced cost.
  std::vector<int> below_lower;

  // The set of nodes that the searches from one out-of-kilter arc have
  // reached so far, and the unreached nodes next to it, keyed by the total
  // price change at which an arc to them becomes usable (a binary heap).
  // bound is the key plus the node's price; the lowest int for reached nodes
  // and node 0, the highest for nodes without a key.
  std::vector<int> bound;
  std::vector<int> members;    // in the order they joined
  std::vector<HeapItem> heap;  // positions 1..heap_size
  std::vector<int> heap_pos;   // 0 when not in the heap
  int heap_size = 0;
  // Per node, for laying out the labels of a breadth-first search.
  std::vector<int> limit;
};

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
  KilterWork work;
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

// The steps one at a time, each doing exactly what one iteration of the method
// does; solve_circulation reaches the same flows, reduced costs and iteration
// counts by a faster road.
int find_out_of_kilter_arc(const Network& net, KilterState& ks, bool& rise);
void label_and_repair(Network& net, KilterState& ks, int a, bool rise);
bool change_flow(Network& net, KilterState& ks);
void change_prices(Network& net, KilterState& ks, int a);
