// The out-of-kilter steps on networks small enough to follow by hand.
#include <gtest/gtest.h>

#include <cstdio>

#include "solver/kilter.h"
#include "solver/kilter_steps.h"
#include "tests/support/certificate.h"

using namespace solver;

namespace {

struct ArcSpec {
  int tail, head, lower, upper, cost, flow;
};

void make_network(Network& net, int num_nodes, std::initializer_list<ArcSpec> arcs) {
  net.num_nodes = num_nodes;
  net.num_arcs = 0;
  for (const ArcSpec& a : arcs) {
    ++net.num_arcs;
    add_arc(net, net.num_arcs, a.tail, a.head, a.lower, a.upper, a.cost, 0);
  }
  prepare_network(net);
  int k = 0;
  for (const ArcSpec& a : arcs) net.flow[++k] = a.flow;
}

std::string solve_row(Network& net, KilterState& ks, RunCounters& counters) {
  char* text = nullptr;
  size_t size = 0;
  FILE* f = open_memstream(&text, &size);
  solve_circulation(net, ks, counters, f);
  std::fclose(f);
  EXPECT_EQ(certificate_failure(net, ks), "");
  std::string row(text, size);
  free(text);
  // The row is the solve's wall-clock time in whole seconds: a solve that starts just before a
  // second ticks over reads 00:00:01, so only the row's form is compared.
  if (row.size() == 9 && row[0] == '\t' && row[3] == ':' && row[6] == ':') row = "\thh:mm:ss";
  return row;
}

TEST(KilterState, OutOfKilterTestsInTheirOrder) {
  Network net;
  KilterState ks;
  // rc = cost, all prices 0.
  make_network(net, 2, {{1, 2, 0, 1, 5, 0},     // rc > 0 at lower: in kilter
                        {1, 2, 0, 1, -5, 1},    // rc < 0 at upper: in kilter
                        {1, 2, 0, 3, 0, 2},     // rc = 0 between bounds: in kilter
                        {1, 2, 0, 1, 5, 1},     // rc > 0 above lower: must fall
                        {1, 2, 2, 1, 0, 1}});   // below lower and at upper: rise wins
  bool rise = true;
  ks.scan_arc = 1;
  EXPECT_EQ(find_out_of_kilter_arc(net, ks, rise), 4);
  EXPECT_FALSE(rise);
  EXPECT_EQ(ks.scan_arc, 4);
  ks.scan_arc = 5;
  EXPECT_EQ(find_out_of_kilter_arc(net, ks, rise), 5);
  EXPECT_TRUE(rise);
  // No wrap-around: arcs below scan_arc are not looked at again.
  net.flow[5] = 1;
  net.lower[5] = 0;
  EXPECT_EQ(find_out_of_kilter_arc(net, ks, rise), 0);
  EXPECT_EQ(ks.scan_arc, 5);
}

TEST(KilterState, NetworkAlreadyInKilterTakesOneIteration) {
  Network net;
  KilterState ks;
  RunCounters counters;
  make_network(net, 2, {{1, 2, 0, 1, 5, 0}, {2, 1, 0, 1, 5, 0}});
  EXPECT_EQ(solve_row(net, ks, counters), "\thh:mm:ss");
  EXPECT_EQ(ks.solve_iterations, 1);
  EXPECT_EQ(counters.total_iterations, 1);
}

// One trip: pull-out 3->1 (100), trip 1->2 (1..1), pull-in 2->4 (150), return
// 4->3 (1000). From zero flows and prices the trip arc is repaired by three
// price changes and one breakthrough.
TEST(KilterSolve, OneTripByHand) {
  Network net;
  KilterState ks;
  RunCounters counters;
  make_network(net, 4, {{3, 1, 0, 1, 100, 0}, {1, 2, 1, 1, 0, 0}, {2, 4, 0, 1, 150, 0}, {4, 3, 0, 1, 1000, 0}});

  bool rise = false;
  ks.scan_arc = 1;
  ASSERT_EQ(find_out_of_kilter_arc(net, ks, rise), 2);
  ASSERT_TRUE(rise);
  label_and_repair(net, ks, 2, true);
  // Only the trip's end node was reached; the pull-in arc bounds the change.
  EXPECT_EQ(ks.queue_in, 1);
  EXPECT_EQ(ks.label[2], 1);
  EXPECT_EQ(ks.pred_arc[2], 2);
  EXPECT_EQ(ks.price[1], 150);
  EXPECT_EQ(ks.price[2], 0);
  EXPECT_EQ(ks.price[3], 150);
  EXPECT_EQ(ks.price[4], 150);

  label_and_repair(net, ks, 2, true);
  EXPECT_EQ(ks.label[4], 2);
  EXPECT_EQ(ks.pred_arc[4], 3);
  EXPECT_EQ(ks.price[1], 1150);
  EXPECT_EQ(ks.price[3], 1150);

  ks = KilterState{};
  make_network(net, 4, {{3, 1, 0, 1, 100, 0}, {1, 2, 1, 1, 0, 0}, {2, 4, 0, 1, 150, 0}, {4, 3, 0, 1, 1000, 0}});
  EXPECT_EQ(solve_row(net, ks, counters), "\thh:mm:ss");
  EXPECT_EQ(ks.solve_iterations, 5);  // three price changes, one flow change, the empty scan
  for (int k = 1; k <= 4; ++k) EXPECT_EQ(net.flow[k], 1) << k;
  EXPECT_EQ(ks.price[1] - ks.price[2], 1250);
  for (int k = 1; k <= 4; ++k) EXPECT_EQ(reduced_cost(net, ks, k), k == 2 ? 1250 : 0) << k;

  // A second solve without new arcs finds nothing to do.
  EXPECT_EQ(solve_row(net, ks, counters), "\thh:mm:ss");
  EXPECT_EQ(ks.solve_iterations, 1);
  EXPECT_EQ(counters.total_iterations, 6);
}

TEST(KilterSearch, BreadthFirstAndTheFirstArcLabels) {
  Network net;
  KilterState ks;
  // Arc 5 (4->1) must carry one unit: the search goes from 1 back to 4.
  make_network(net, 4, {{1, 2, 0, 1, 0, 0}, {1, 3, 0, 1, 0, 0}, {3, 4, 0, 1, 0, 0}, {2, 4, 0, 1, 0, 0},
                        {4, 1, 1, 1, 0, 0}});
  label_and_repair(net, ks, 5, true);
  EXPECT_EQ(ks.label[1], 4);
  EXPECT_EQ(ks.pred_arc[1], 5);
  EXPECT_EQ(ks.label[2], 1);
  EXPECT_EQ(ks.label[3], 1);
  // Node 2 was queued first, so its arc reaches 4 first.
  EXPECT_EQ(ks.label[4], 2);
  EXPECT_EQ(ks.pred_arc[4], 4);
  EXPECT_EQ(net.flow[1], 1);
  EXPECT_EQ(net.flow[2], 0);
  EXPECT_EQ(net.flow[3], 0);
  EXPECT_EQ(net.flow[4], 1);
  EXPECT_EQ(net.flow[5], 1);
}

TEST(KilterSearch, BackwardArcsCarryTheSearchAndLoseFlow) {
  Network net;
  KilterState ks;
  // Arc 1 (3->1) must rise. Node 1 is reached from nothing forward, but arc 2
  // (2->1) carries a unit that can be sent back, and 2->3 closes the cycle.
  make_network(net, 3, {{3, 1, 1, 1, 0, 0}, {2, 1, 0, 1, 0, 1}, {2, 3, 0, 1, 0, 0}});
  label_and_repair(net, ks, 1, true);
  EXPECT_EQ(ks.label[2], -1);
  EXPECT_EQ(ks.pred_arc[2], -2);
  EXPECT_EQ(ks.label[3], 2);
  EXPECT_EQ(net.flow[1], 1);
  EXPECT_EQ(net.flow[2], 0);
  EXPECT_EQ(net.flow[3], 1);
}

TEST(KilterPrices, ArcAloneAtABoundComesIntoKilterByItsOwnReducedCost) {
  Network net;
  KilterState ks;
  RunCounters counters;
  make_network(net, 2, {{1, 2, 0, 1, -5, 0}});
  solve_row(net, ks, counters);
  EXPECT_TRUE(net.feasible);
  EXPECT_EQ(ks.solve_iterations, 2);
  EXPECT_EQ(reduced_cost(net, ks, 1), 0);
  EXPECT_EQ(net.flow[1], 0);
}

TEST(KilterPrices, BoundOfTheInfiniteDeltaOrMoreIsStillABound) {
  Network net;
  KilterState ks;
  RunCounters counters;
  // The only way back for the trip arc costs more than INFINITE_DELTA.
  make_network(net, 2, {{1, 2, 1, 1, 0, 0}, {2, 1, 0, 1, 1500000, 0}});
  solve_row(net, ks, counters);
  EXPECT_TRUE(net.feasible);
  EXPECT_EQ(net.flow[1], 1);
  EXPECT_EQ(net.flow[2], 1);
  EXPECT_EQ(ks.price[1] - ks.price[2], 1500000);
}

TEST(KilterPrices, NoFeasibleCirculationClearsTheFlag) {
  Network net;
  KilterState ks;
  RunCounters counters;
  // A trip arc with no way back: nothing can ever carry its unit.
  make_network(net, 2, {{1, 2, 1, 1, 0, 0}});
  solve_row(net, ks, counters);
  EXPECT_FALSE(net.feasible);
  EXPECT_EQ(ks.solve_iterations, 1);
  EXPECT_EQ(net.flow[1], 0);
  // Once cleared, every later solve performs exactly one iteration.
  solve_row(net, ks, counters);
  EXPECT_EQ(ks.solve_iterations, 1);
  EXPECT_EQ(counters.total_iterations, 2);
}

}  // namespace
