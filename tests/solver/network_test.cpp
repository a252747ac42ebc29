// Network generation on tiny hand-made problems: arc order, the connection
// rules at their boundaries, link preference groups and the long-arc file.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <vector>

#include "common/common.h"
#include "solver/network.h"
#include "tests/support/random_problem.h"

using namespace common;
using namespace solver;

namespace {

// Terminals: 0 depot, 1 A, 2 B. Depot to A 10, depot to B 15, A to B 8.
Problem tiny_problem() {
  Problem p;
  p.num_terminals = 3;
  const int m[3][3] = {{0, 10, 15}, {10, 0, 8}, {15, 8, 0}};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) p.deadrun_matrix[i][j] = m[i][j];
  p.params.deadrun_weight = 10;
  p.params.layover_weight = 2;
  p.params.short_arc_param = 60;
  return p;
}

void add_trip(Problem& p, int dep, int from, int arr, int to, float key = 101, int min_layover = 0) {
  Trip& t = p.trips[++p.num_trips];
  t = Trip{dep, arr, from, to, 0, min_layover, key};
}

std::vector<LongArcRecord> read_records(const std::string& path) {
  std::vector<LongArcRecord> out;
  FILE* f = std::fopen(path.c_str(), "rb");
  LongArcRecord r;
  while (f && std::fread(&r, sizeof r, 1, f) == 1) out.push_back(r);
  if (f) std::fclose(f);
  return out;
}

struct Arc {
  int tail, head, lower, upper, cost;
  bool operator==(const Arc&) const = default;
};

std::vector<Arc> arcs_of(const Network& net) {
  std::vector<Arc> out;
  for (int k = 1; k <= net.num_arcs; ++k)
    out.push_back({net.tail[k], net.head[k], net.lower[k], net.upper[k], net.cost[k]});
  return out;
}

class NetworkTest : public ::testing::Test {
 protected:
  void SetUp() override { dir = make_temp_dir("network"); }
  void TearDown() override { remove_dir(dir); }
  void build(const Problem& p) {
    testing::internal::CaptureStdout();
    build_network(p, net, dir + "temp.lng");
    console = testing::internal::GetCapturedStdout();
  }
  std::string dir;
  Network net;
  std::string console;
};

TEST_F(NetworkTest, NoTripsGivesOnlyTheReturnArc) {
  build(tiny_problem());
  EXPECT_EQ(net.num_nodes, 2);
  EXPECT_EQ(arcs_of(net), (std::vector<Arc>{{2, 1, 0, 0, 1000}}));
  EXPECT_EQ(console, "\nGenerating network...\nTotal of Nodes: 2\nTotal of Short Arcs: 1\nTotal of Long Arcs: 0\n");
}

TEST_F(NetworkTest, ArcsComeInCreationOrderAndListsInArcOrder) {
  Problem p = tiny_problem();
  add_trip(p, 360, 1, 400, 2);  // A 06:00 -> B 06:40
  add_trip(p, 410, 2, 450, 1);  // B 06:50 -> A 07:30, short connection from trip 1
  build(p);
  // Pull-out 5->1 (10 x 10), trip 1->3, connection 3->2 (0 dead run, wait 10 -> 2 x 10),
  // pull-in 3->6 (10 x 15), pull-out 5->2, trip 2->4, pull-in 4->6, return 6->5.
  EXPECT_EQ(arcs_of(net), (std::vector<Arc>{{5, 1, 0, 1, 100},
                                            {1, 3, 1, 1, 0},
                                            {3, 2, 0, 1, 20},
                                            {3, 6, 0, 1, 150},
                                            {5, 2, 0, 1, 150},
                                            {2, 4, 1, 1, 0},
                                            {4, 6, 0, 1, 100},
                                            {6, 5, 0, 2, 1000}}));
  EXPECT_EQ(net.first_out[3], 3);
  EXPECT_EQ(net.next_out[3], 4);
  EXPECT_EQ(net.next_out[4], 0);
  EXPECT_EQ(net.first_in[6], 4);
  EXPECT_EQ(net.next_in[4], 7);
  EXPECT_EQ(net.first_out[5], 1);
  EXPECT_EQ(net.next_out[1], 5);
  EXPECT_EQ(net.num_short_arcs, 8);
  EXPECT_TRUE(net.feasible);
}

TEST_F(NetworkTest, ConnectionBoundaries) {
  // Trip 1 ends at B (terminal 2) at 06:40 with a minimum layover of 5; trip 2
  // starts at A (terminal 1): direct 8, via depot 15 + 10 = 25.
  auto connection = [](int departure, int short_arc_param) {
    Problem p = tiny_problem();
    p.params.short_arc_param = short_arc_param;
    add_trip(p, 360, 1, 400, 2, 101, 5);
    add_trip(p, departure, 1, departure + 30, 2);
    const Connection c = decide_connection(p, 1, 2);
    // The per-trip form of the long test, which the search's depot line is built on.
    EXPECT_EQ(c.kind == ConnectionKind::long_record, depot_ready(p, p.trips[1]) <= depot_leave(p, p.trips[2]))
        << departure;
    return c;
  };
  EXPECT_EQ(connection(400 + 5 + 8, 60).kind, ConnectionKind::short_arc);  // slack exactly 0
  EXPECT_EQ(connection(400 + 5 + 8, 60).cost, 10 * 8 + 2 * 5);
  EXPECT_EQ(connection(400 + 5 + 7, 60).kind, ConnectionKind::none);  // slack -1
  // Available time = via depot + parameter gives a long record, one less a short arc.
  EXPECT_EQ(connection(400 + 5 + 25 + 60, 60).kind, ConnectionKind::long_record);
  EXPECT_EQ(connection(400 + 5 + 25 + 60, 60).cost, 10 * 25 + 60);
  Connection c = connection(400 + 5 + 25 + 59, 60);
  EXPECT_EQ(c.kind, ConnectionKind::short_arc);
  EXPECT_EQ(c.cost, 10 * 8 + 2 * (5 + 84 - 8));

  // A later-listed trip never connects to an earlier-listed one.
  Problem p = tiny_problem();
  add_trip(p, 600, 1, 630, 2);
  add_trip(p, 360, 1, 400, 2);
  build(p);
  EXPECT_EQ(net.num_short_arcs, 3 * 2 + 1);
  EXPECT_TRUE(read_records(dir + "temp.lng").empty());
}

TEST_F(NetworkTest, LongRecordsGoToTheFileInTripOrder) {
  Problem p = tiny_problem();
  add_trip(p, 360, 1, 400, 2);
  add_trip(p, 600, 1, 630, 2);
  add_trip(p, 800, 2, 830, 1);
  build(p);
  std::vector<LongArcRecord> records = read_records(dir + "temp.lng");
  ASSERT_EQ(records.size(), 3u);
  EXPECT_EQ(records[0].tail, 4);  // end node of trip 1
  EXPECT_EQ(records[0].head, 2);
  EXPECT_EQ(records[0].cost, 10 * 25 + 60);
  EXPECT_EQ(records[0].included, 0);
  EXPECT_EQ(records[1].tail, 4);
  EXPECT_EQ(records[1].head, 3);
  EXPECT_EQ(records[1].cost, 10 * 30 + 60);  // B to depot 15, depot to B 15
  EXPECT_EQ(records[2].tail, 5);
  EXPECT_EQ(net.num_long_arcs, 3);
  EXPECT_EQ(net.num_short_arcs, 3 * 3 + 1);
  EXPECT_NE(console.find("\nTotal of Long Arcs: 3\n"), std::string::npos);
}

TEST_F(NetworkTest, LongArcFileIsNotFollowedThroughALink) {
  std::string victim = dir + "victim.txt";
  FILE* f = std::fopen(victim.c_str(), "w");
  std::fputs("precious", f);
  std::fclose(f);
  ASSERT_EQ(symlink(victim.c_str(), (dir + "temp.lng").c_str()), 0);
  Problem p = tiny_problem();
  testing::internal::CaptureStdout();
  EXPECT_THROW(build_network(p, net, dir + "temp.lng"), FatalError);
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(read_whole_file(victim), "precious");
}

Problem grouped_problem() {
  Problem p = tiny_problem();
  p.link_preference_cost = 10;
  p.num_groups = 2;
  Group& g1 = p.groups[1];
  g1.members[1] = 101;
  g1.members[2] = GROUP_END_MARKER;
  g1.from_keys[1] = 101.25f;
  g1.from_keys[2] = -999.0f;
  g1.to_keys[1] = 102.0f;
  g1.to_keys[2] = -999.0f;
  Group& g2 = p.groups[2];
  g2.members[1] = 102;
  g2.members[2] = GROUP_END_MARKER;
  g2.from_keys[1] = 101.25f;
  g2.from_keys[2] = -999.0f;
  g2.to_keys[1] = 102.0f;
  g2.to_keys[2] = -999.0f;
  return p;
}

TEST(GroupLinks, MemberFlagsCarryOverFromOneGroupToTheNext) {
  Problem p = grouped_problem();
  // 101 matches in group 1, 102 only in group 2: allowed there because the
  // flag of 101 is still set.
  EXPECT_TRUE(group_link_allowed(p, 101.25f, 102.0f));
  // The key itself must stand in the from list: 101.00 truncates to the
  // member 101 but is not listed.
  EXPECT_FALSE(group_link_allowed(p, 101.0f, 102.0f));
  EXPECT_FALSE(group_link_allowed(p, 103.0f, 102.0f));
  EXPECT_FALSE(group_link_allowed(p, 101.25f, 101.0f));
}

TEST(GroupLinks, InForceTheSlackIsMeasuredOnTheShorterDeadRun) {
  Problem p = grouped_problem();
  // A long direct dead run from B to A (50) against 15 + 10 via the depot.
  p.deadrun_matrix[2][1] = 50;
  add_trip(p, 360, 1, 400, 2, 101.25f);
  add_trip(p, 400 + 30, 1, 480, 2, 102.0f);
  Connection c = decide_connection(p, 1, 2);
  ASSERT_EQ(c.kind, ConnectionKind::short_arc);
  // Slack 30 - 25 = 5, but the direct dead run is what the arc pays.
  EXPECT_EQ(c.cost, 10 * 50 + 2 * 5);
  p.link_preference_cost = 0;
  EXPECT_EQ(decide_connection(p, 1, 2).kind, ConnectionKind::none);
}

TEST(GroupLinks, TripOutsideEveryGroupConnectsToNothing) {
  Problem p = grouped_problem();
  add_trip(p, 360, 1, 400, 2, 101.25f);
  add_trip(p, 600, 1, 630, 2, 107.0f);
  add_trip(p, 900, 1, 930, 2, 102.0f);
  EXPECT_EQ(decide_connection(p, 1, 2).kind, ConnectionKind::none);
  EXPECT_EQ(decide_connection(p, 2, 3).kind, ConnectionKind::none);
  EXPECT_EQ(decide_connection(p, 1, 3).kind, ConnectionKind::long_record);
}

TEST(NetworkCapacity, ArcTableOverflowStopsBeforeWriting) {
  Network net;
  EXPECT_THROW(add_arc(net, MAX_ARCS + 1, 1, 2, 0, 1, 0, 0), FatalError);
  add_arc(net, MAX_ARCS, 1, 2, 0, 1, 7, 0);
  EXPECT_EQ(net.cost[MAX_ARCS], 7);
}

TEST_F(NetworkTest, CostsBeyondThe32BitSumsStopTheRun) {
  Problem p = tiny_problem();
  p.params.deadrun_weight = 2000000000;
  add_trip(p, 360, 1, 400, 2);
  testing::internal::CaptureStdout();
  try {
    build_network(p, net, dir + "temp.lng");
    ADD_FAILURE() << "no error";
  } catch (const FatalError& e) {
    EXPECT_NE(e.message.find("Lower the weights"), std::string::npos) << e.message;
  }
  testing::internal::GetCapturedStdout();
}

TEST(GroupLinks, KeysBeyondTheIntegersMatchNoMember) {
  Problem p = grouped_problem();
  EXPECT_FALSE(group_link_allowed(p, 1e30f, 102.0f));
  EXPECT_FALSE(group_link_allowed(p, -1e30f, 1e30f));
}

TEST(NetworkPreparation, InconsistentBoundsMakeTheProblemInfeasible) {
  Network net;
  net.num_nodes = 2;
  net.num_arcs = 1;
  add_arc(net, 1, 1, 2, 2, 1, 0, 5);
  prepare_network(net);
  EXPECT_FALSE(net.feasible);
  EXPECT_EQ(net.flow[1], 0);
}

}  // namespace
