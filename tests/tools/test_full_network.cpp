// The reference solver on instances small enough to be solved by hand.
#include <gtest/gtest.h>

#include <memory>
#include <tuple>
#include <vector>

#include "bench/full_network.h"

namespace {

// Terminals DEPOT (0), A (1), B (2); DEPOT-A 10 minutes, DEPOT-B 20, A-B as
// given; weights 10 per dead-run minute and 2 per waiting minute, short-arc
// parameter 60.
std::unique_ptr<Problem> three_terminals(int a_to_b) {
  auto problem = std::make_unique<Problem>();
  problem->params.deadrun_weight = 10;
  problem->params.layover_weight = 2;
  problem->params.short_arc_param = 60;
  problem->num_terminals = 3;
  const int m[3][3] = {{0, 10, 20}, {10, 0, a_to_b}, {20, a_to_b, 0}};
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) problem->deadrun_matrix[r][c] = m[r][c];
  return problem;
}

void add_trip(Problem& problem, int departure, int arrival, int from, int to, float key, int min_layover) {
  problem.trips[++problem.num_trips] = Trip{departure, arrival, from, to, 0, min_layover, key};
}

template <typename T>
void fill_list(T* slots, std::initializer_list<T> entries) {
  int slot = 0;
  for (T entry : entries) slots[++slot] = entry;
  slots[slot + 1] = static_cast<T>(GROUP_END_MARKER);
}

void add_group(Problem& problem, std::initializer_list<int> members, std::initializer_list<float> from_keys,
               std::initializer_list<float> to_keys) {
  Group& group = problem.groups[++problem.num_groups];
  fill_list(group.members, members);
  fill_list(group.from_keys, from_keys);
  fill_list(group.to_keys, to_keys);
}

// Trip 1 A 06:00-06:30 B (layover 5), trip 2 B 06:50-07:20 A, trip 3 A
// 09:00-13:00 A. Connection 1-2: no dead run, 15 minutes of slack, short, cost
// 2 x (5 + 15) = 40. 1-3 and 2-3 have time for the depot: long, 10 x 30 + 60
// = 360 and 10 x 20 + 60 = 260. One vehicle through all three costs pull-out
// 100 + 40 + 260 + pull-in 100 + 1000 = 1500; every plan with two vehicles
// costs more than 2000.
std::unique_ptr<Problem> chain_of_three() {
  auto problem = three_terminals(15);
  add_trip(*problem, 360, 390, 1, 2, 101.0f, 5);
  add_trip(*problem, 410, 440, 2, 1, 101.5f, 0);
  add_trip(*problem, 540, 780, 1, 1, 201.0f, 0);
  return problem;
}

TEST(FullNetwork, ChainOfThreeTakesOneVehicleThroughAShortAndALongConnection) {
  const auto problem = chain_of_three();
  const FullNetworkResult result = solve_full_network(*problem);
  ASSERT_EQ(result.status, FullNetworkStatus::optimal);
  EXPECT_EQ(result.optimum, 1500);
  EXPECT_EQ(result.vehicles, 1);
  EXPECT_EQ((std::vector<int>{result.num_arcs, result.num_short_arcs, result.num_short_connections,
                               result.num_long_arcs}),
            (std::vector<int>{13, 11, 1, 2}));
  std::vector<std::tuple<int, int, bool>> used;
  for (const UsedConnection& c : result.connections) used.emplace_back(c.from_trip, c.to_trip, c.long_arc);
  EXPECT_EQ(used, (std::vector<std::tuple<int, int, bool>>{{1, 2, false}, {2, 3, true}}));
}

// Trip 1 ends at A at 06:30; trip 2 leaves B, 15 minutes away directly and 30
// through the depot.
FullArcKind connection_kind(int later_departure) {
  auto problem = three_terminals(15);
  add_trip(*problem, 360, 390, 2, 1, 101.0f, 0);
  add_trip(*problem, later_departure, later_departure + 30, 2, 2, 101.0f, 0);
  for (const FullArc& arc : build_full_network(*problem).arcs)
    if (arc.tail == 3 && arc.head == 2) return arc.kind;
  return FullArcKind::trip;  // no connection
}

TEST(FullNetwork, ConnectionBoundaries) {
  EXPECT_EQ(connection_kind(404), FullArcKind::trip) << "slack -1: no connection";
  EXPECT_EQ(connection_kind(405), FullArcKind::short_connection) << "slack 0";
  EXPECT_EQ(connection_kind(479), FullArcKind::short_connection) << "one minute short of via-depot + 60";
  EXPECT_EQ(connection_kind(480), FullArcKind::long_connection) << "exactly via-depot + 60";
}

// A-B direct takes 50 minutes, through the depot 30. Trip 1 ends at A at 06:30,
// trip 2 leaves B at 07:10: 40 minutes. Without groups they cannot connect:
// 1200 + 1400. With groups the depot route makes the connection feasible, at
// the direct run's price: 100 + 10 x 50 + 2 x 10 + 200 + 1000 = 1820.
TEST(FullNetwork, GroupsJudgeSlackOnTheShorterRouteButChargeTheDirectOne) {
  auto problem = three_terminals(50);
  add_trip(*problem, 360, 390, 1, 1, 101.0f, 0);
  add_trip(*problem, 430, 460, 2, 2, 101.5f, 0);
  EXPECT_EQ(solve_full_network(*problem).optimum, 2600);

  add_group(*problem, {101}, {101.0f}, {101.5f});
  problem->link_preference_cost = 10;
  const FullNetworkResult result = solve_full_network(*problem);
  EXPECT_EQ(result.optimum, 1820);
  EXPECT_EQ(result.vehicles, 1);
}

// Group 1 holds line 101, group 2 line 201 but lists 101.5 among its earlier
// keys: 2-3 is allowed only because the member flag of 101 found in group 1
// still stands in group 2. Without 2-3 the plan costs 1240 + 1200.
TEST(FullNetwork, MemberFlagsCarryOverFromGroupToGroup) {
  auto problem = chain_of_three();
  add_group(*problem, {101}, {101.0f}, {101.5f});
  add_group(*problem, {201}, {101.5f}, {201.0f});
  problem->link_preference_cost = 10;
  EXPECT_TRUE(full_network_link_allowed(*problem, 101.0f, 101.5f));
  EXPECT_FALSE(full_network_link_allowed(*problem, 101.0f, 201.0f));
  EXPECT_TRUE(full_network_link_allowed(*problem, 101.5f, 201.0f));
  EXPECT_FALSE(full_network_link_allowed(*problem, 201.0f, 101.5f));
  const FullNetworkResult result = solve_full_network(*problem);
  EXPECT_EQ(result.optimum, 1500);
  EXPECT_EQ(result.num_long_arcs, 1);

  problem->link_preference_cost = 0;  // groups read but not in force
  EXPECT_EQ(solve_full_network(*problem).num_long_arcs, 2);

  // Members match the key truncated, the key lists only the exact key.
  add_group(*problem, {301}, {301.0f}, {301.0f, 301.25f});
  EXPECT_TRUE(full_network_link_allowed(*problem, 301.0f, 301.25f));
  EXPECT_FALSE(full_network_link_allowed(*problem, 301.25f, 301.0f));
  EXPECT_FALSE(full_network_link_allowed(*problem, 302.0f, 301.0f));
}

TEST(FullNetwork, TripOutsideEveryGroupRunsAlone) {
  auto problem = chain_of_three();
  problem->trips[2].group_key = 777.0f;
  add_group(*problem, {101, 201}, {101.0f, 101.5f}, {101.5f, 201.0f});
  problem->link_preference_cost = 10;
  const FullNetworkResult result = solve_full_network(*problem);
  // 1-3 is the only connection left: 100 + 360 + 100 + 1000, and trip 2 alone
  // 200 + 100 + 1000.
  EXPECT_EQ(result.optimum, 2860);
  EXPECT_EQ(result.vehicles, 2);
}

TEST(FullNetwork, CostsBeyondThirtyTwoBitsAreFlagged) {
  auto problem = chain_of_three();
  problem->params.deadrun_weight = 300000000;
  EXPECT_FALSE(solve_full_network(*problem).fits_int32);
}

}  // namespace
