// Whole solver runs in process on hand-made problems, read through the block
// file, the flow report and the run log.
#include <gtest/gtest.h>

#include <memory>

#include "solver/run.h"
#include "tests/support/random_problem.h"

using namespace solver;

namespace {

Problem three_terminals() {
  Problem p;
  p.num_terminals = 3;
  const char* names[] = {"DEPOT", "A", "B"};
  const int m[3][3] = {{0, 10, 15}, {10, 0, 8}, {15, 8, 0}};
  for (int i = 0; i < 3; ++i) {
    std::snprintf(p.terminal_names[i], TERMINAL_NAME_SLOT, "%s", names[i]);
    for (int j = 0; j < 3; ++j) p.deadrun_matrix[i][j] = m[i][j];
  }
  p.params = Parameters{1.0f, 30, 10, 2, 60};
  return p;
}

void add_trip(Problem& p, int dep, int from, int arr, int to, float key = 101) {
  p.trips[++p.num_trips] = Trip{dep, arr, from, to, 0, 0, key};
}

class SolverRunTest : public ::testing::Test {
 protected:
  void SetUp() override { dir = make_temp_dir("blocks"); }
  void TearDown() override { remove_dir(dir); }
  void solve(const Problem& p) {
    write_problem_files(dir, p);
    run = std::make_unique<SolverRun>();
    run->prefix = dir;
    run->long_arc_path = dir + "temp.lng";
    testing::internal::CaptureStdout();
    run_solver(*run);
    console = testing::internal::GetCapturedStdout();
  }
  std::string file(const char* ext) { return read_whole_file(dir + "Tarsel" + ext); }
  std::string dir, console;
  std::unique_ptr<SolverRun> run;
};

TEST_F(SolverRunTest, DepotReturnAtExactlyTheMinimumDepotTime) {
  Problem p = three_terminals();
  add_trip(p, 360, 1, 400, 2);
  // 15 to the depot, 30 parked, 15 back: the gap of 60 is exactly a depot return.
  add_trip(p, 460, 2, 490, 1);
  solve(p);
  std::string bla = file(".bla");
  EXPECT_NE(bla.find("#Blocks of trip with number of buses: 1\n"), std::string::npos) << bla;
  EXPECT_NE(bla.find("\nLeave Depot: DEPOT at 05:50\n"), std::string::npos);
  EXPECT_NE(bla.find("   1    A           06:00    B           06:40      10        0      101.00\n"
                     "\n    Return to Depot: DEPOT & Park for 00:30      15        0\n"
                     "\n"
                     "   2    B           07:40    A           08:10      15        0      101.00\n"),
            std::string::npos)
      << bla;
  EXPECT_NE(bla.find("Return to the Depot: DEPOT - DeadRun: 10\n"
                     "\nTotal Dead Run      \t00:50  hh:mm\n"
                     "Total Extra Layover   \t00:00  hh:mm\n"
                     "Total Parking at Depot\t00:30  hh:mm\n"),
            std::string::npos)
      << bla;
  // Scheduling cost: 10 x 50 dead run + 30 for the depot return.
  EXPECT_NE(bla.find("Total Depot Returns: \t    1\nTotal Scheduling Cost:\t  530\n"), std::string::npos) << bla;
  // The short arc pays the waiting of 60 minutes (2 x 60), pull-out 100, pull-in 100.
  EXPECT_EQ(file(".sol"), "1320\n");
  char line[64];
  std::snprintf(line, sizeof line, "\n %-23s%16d\n", "Operacional Cost:", 320);
  EXPECT_NE(file(".arm").find(line), std::string::npos);
  EXPECT_EQ(run->counters.num_flow_arcs, 6);
  EXPECT_NE(file(".log").find("\t    2\t   1\t\t00:50\t\t00:00\t\t00:30\t  1\t   530\n"), std::string::npos)
      << file(".log");
}

TEST_F(SolverRunTest, OneTripBlockBeforeMidnightDeadRunPrintsNegativeMinutes) {
  Problem p = three_terminals();
  add_trip(p, 5, 1, 30, 2);
  solve(p);
  std::string bla = file(".bla");
  EXPECT_NE(bla.find("\nLeave Depot: DEPOT at 00:-5\n"), std::string::npos) << bla;
  EXPECT_NE(bla.find("   1    A           00:05    B           00:30      10        0      101.00\n"
                     "---------------------------------------------------------------------------\n"
                     "Return to the Depot: DEPOT - DeadRun: 15\n"),
            std::string::npos)
      << bla;
  EXPECT_EQ(bla.find("Link Preferences"), std::string::npos);
  // One solve, nothing generated: the usage file holds its header only.
  EXPECT_EQ(file(".lus"), "Long arcs used into optimal solution\nTail\tterm\ttime\tHead\ttermi\ttime\tCost\n");
  EXPECT_NE(file(".log").find("\n  1\t     4\t     0\t     0\t     1\t    1\t   1"), std::string::npos) << file(".log");
}

TEST_F(SolverRunTest, LongArcUsedBetweenMorningAndEveningTrips) {
  Problem p = three_terminals();
  add_trip(p, 360, 1, 400, 2);
  add_trip(p, 1000, 2, 1040, 1);
  solve(p);
  // B to depot 15, depot to B 15: cost 10 x 30 + 60 = 360 < a second vehicle.
  EXPECT_EQ(file(".lus"),
            "Long arcs used into optimal solution\nTail\tterm\ttime\tHead\ttermi\ttime\tCost\n"
            "0\t2\t400 \t1\t2\t1000\t360\n"
            "----------------------------------------------------\n"
            "Total of long arcs used:\t1");
  EXPECT_EQ(file(".sol"), std::to_string(1000 + 100 + 360 + 100) + "\n");
  EXPECT_NE(file(".est").find("\n0\t00:00:00\t00:00:00\t1\t"), std::string::npos) << file(".est");
}

TEST_F(SolverRunTest, LinkPreferenceLineAppearsWhenGroupsAreInForce) {
  Problem p = three_terminals();
  add_trip(p, 360, 1, 400, 2, 101);
  add_trip(p, 420, 2, 460, 1, 102);
  p.link_preference_cost = 7;
  p.num_groups = 1;
  p.groups[1].members[1] = 101;
  p.groups[1].members[2] = 102;
  p.groups[1].members[3] = GROUP_END_MARKER;
  p.groups[1].from_keys[1] = 101;
  p.groups[1].from_keys[2] = -999;
  p.groups[1].to_keys[1] = 102;
  p.groups[1].to_keys[2] = -999;
  solve(p);
  std::string bla = file(".bla");
  EXPECT_NE(bla.find("#Minimum depot time: 00:30\n\n#This schedule has Link Preferences with cost: 7 min.\n"),
            std::string::npos)
      << bla;
  EXPECT_NE(bla.find("#Blocks of trip with number of buses: 1\n"), std::string::npos);
}

}  // namespace
