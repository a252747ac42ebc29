// The capacities of the programs at their edges, on whole runs: the largest
// timetable and terminal list each program takes and the first it refuses,
// and an arc table that would overflow, in network generation and in arc
// generation.
#include <gtest/gtest.h>

#include <filesystem>

#include "solver/network.h"
#include "tests/reliability/reliability_support.h"
#include "tests/support/random_problem.h"

using namespace solver;

namespace {

constexpr int kTimeout = 300;

class Limits : public ::testing::Test {
 protected:
  void SetUp() override { box_ = make_sandbox("limits"); }
  void TearDown() override {
    EXPECT_EQ(strays(box_), expected_strays_);
    remove_sandbox(box_);
  }
  void write_problem(const std::string& ini, const std::string& bss) {
    write_whole_file(box_.dir + "Tarsel.ini", ini);
    write_whole_file(box_.dir + "Tarsel.bss", bss);
  }
  bool exists(const std::string& name) const { return std::filesystem::exists(box_.dir + name); }
  Sandbox box_;
  std::vector<std::string> expected_strays_;
};

// Trips that no vehicle can chain: every trip needs a vehicle of its own.
std::vector<PlannedTrip> parallel_trips(int count, int terminals) {
  std::vector<PlannedTrip> trips;
  for (int i = 0; i < count; ++i) trips.push_back({360, 420, 1 + i % (terminals - 1), 1 + (i + 1) % (terminals - 1), 0});
  return trips;
}

// Trips of no length at one time and place: every later trip can follow
// every earlier one, and with a large short-arc parameter every such
// connection is a short arc in memory.
std::vector<PlannedTrip> chained_trips(int count, int at = 360) {
  return std::vector<PlannedTrip>(static_cast<size_t>(count), PlannedTrip{at, at, 1, 1, 0});
}

// Trips that connect to nothing: each departs a minute before the one listed
// before it arrives, after every other trip of the file. Each adds exactly
// its pull-out, trip and pull-in arcs.
void add_isolated_trips(std::vector<PlannedTrip>& trips, int count) {
  for (int m = 1; m <= count; ++m) trips.push_back({300 - m, 300 - m, 1, 1, 0});
}

// Arcs in memory for `chained` chained trips and `isolated` isolated ones.
long long arcs_in_memory(long long chained, long long isolated) {
  return chained * (chained - 1) / 2 + 3 * (chained + isolated) + 1;
}

TEST_F(Limits, SolverTakes2734TripsAndSolvesThem) {
  write_problem(parameter_file_text(60), trip_file_text(3, parallel_trips(2734, 3)));
  ProgramResult r = run_program(kTovarin, box_.dir, "x", kTimeout);
  ASSERT_EQ(r.exit_code, 0) << last_line(r.output);
  EXPECT_NE(r.output.find("\nTotal of trips: 2734\n"), std::string::npos);
  EXPECT_NE(r.output.find("\nTotal of Nodes: 5470"), std::string::npos);
  EXPECT_EQ(incomplete_outputs(box_.dir), "");
  EXPECT_EQ(read_whole_file(box_.dir + "Tarsel.sol"), "2734000\n");  // one vehicle per trip, no dead runs
}

TEST_F(Limits, SolverTakes65TerminalsAndRefuses66WithoutWaitingForAKey) {
  std::vector<PlannedTrip> trips = {{360, 400, 64, 1, 0}, {420, 460, 1, 64, 0}, {480, 500, 63, 2, 0}};
  write_problem(parameter_file_text(60), trip_file_text(65, trips, 10));
  ProgramResult ok = run_program(kTovarin, box_.dir, "x", kTimeout);
  ASSERT_EQ(ok.exit_code, 0) << last_line(ok.output);
  EXPECT_EQ(incomplete_outputs(box_.dir), "");
  EXPECT_EQ(ok.output.find("not in the terminal list"), std::string::npos);

  std::filesystem::remove(box_.dir + "Tarsel.sol");
  write_problem(parameter_file_text(60), trip_file_text(66, trips, 10));
  ProgramResult refused = run_limited(kTovarin, box_.dir, RunLimits{60, true, "", 0, 0, 0, "", {}});
  EXPECT_EQ(refused.signal, 0) << "waited for a key";
  EXPECT_EQ(refused.exit_code, 1);
  const std::string tail =
      "\nTotal of trips: 3\nSYSTEM IS NOT ABLE TO SOLVE THIS PROBLEM \nTotal of terminis greater than limite \n";
  ASSERT_GE(refused.output.size(), tail.size()) << refused.output;
  EXPECT_EQ(refused.output.substr(refused.output.size() - tail.size()), tail);
  EXPECT_FALSE(exists("Tarsel.sol"));
}

TEST_F(Limits, ArcTableFilledToTheLastArcIsSolved) {
  // 1166 chained trips and 135 isolated ones need exactly MAX_ARCS arcs.
  ASSERT_EQ(arcs_in_memory(1166, 135), MAX_ARCS);
  std::vector<PlannedTrip> trips = chained_trips(1166);
  add_isolated_trips(trips, 135);
  write_problem(parameter_file_text(100000), trip_file_text(2, trips));
  ProgramResult r = run_program(kTovarin, box_.dir, "x", kTimeout);
  ASSERT_EQ(r.exit_code, 0) << last_line(r.output);
  EXPECT_NE(r.output.find("\nTotal of Short Arcs: 683099"), std::string::npos);
  EXPECT_EQ(incomplete_outputs(box_.dir), "");
  // One vehicle for the chain, one for each isolated trip.
  EXPECT_EQ(read_whole_file(box_.dir + "Tarsel.sol"), std::to_string(1000 * 136) + "\n");
}

TEST_F(Limits, ArcTableOverflowInNetworkGenerationStopsWithAMessage) {
  ASSERT_GT(arcs_in_memory(1166, 136), MAX_ARCS);
  std::vector<PlannedTrip> trips = chained_trips(1166);
  add_isolated_trips(trips, 136);
  write_problem(parameter_file_text(100000), trip_file_text(2, trips));
  ProgramResult r = run_program(kTovarin, box_.dir, "x", kTimeout);
  EXPECT_EQ(r.signal, 0);
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.output.find("683099 arcs in memory"), std::string::npos) << last_line(r.output);
  EXPECT_FALSE(has_fault_report(r.output));
  EXPECT_FALSE(exists("Tarsel.sol"));
}

TEST_F(Limits, ArcTableOverflowInArcGenerationStopsWithAMessage) {
  // Two clusters of chained trips, the second far enough after the first for
  // long connections only. The network in memory fills the arc table to the
  // last arc; one vehicle can take both clusters over a long connection
  // (cheaper than a second vehicle), so the first pricing pass has arcs to
  // add and none fits.
  const int short_arc_param = 120;
  int first = 0, second = 0, isolated = -1;
  for (int a = 800; a <= 900 && isolated < 0; ++a)
    for (int b = a - 50; b <= a && isolated < 0; ++b) {
      long long rest = MAX_ARCS - (arcs_in_memory(a, 0) + arcs_in_memory(b, 0) - 1);
      if (rest >= 0 && rest % 3 == 0 && rest / 3 < 250) first = a, second = b, isolated = static_cast<int>(rest / 3);
    }
  ASSERT_GE(isolated, 0);
  std::vector<PlannedTrip> trips = chained_trips(first, 360);
  std::vector<PlannedTrip> later = chained_trips(second, 360 + short_arc_param + 60);
  trips.insert(trips.end(), later.begin(), later.end());
  add_isolated_trips(trips, isolated);
  write_problem(parameter_file_text(short_arc_param), trip_file_text(2, trips));
  ProgramResult r = run_program(kTovarin, box_.dir, "x", kTimeout);
  EXPECT_NE(r.output.find("\nTotal of Short Arcs: 683099"), std::string::npos) << r.output.substr(0, 2000);
  EXPECT_NE(r.output.find("\nTotal of Long Arcs: " + std::to_string(first * second)), std::string::npos);
  EXPECT_EQ(r.signal, 0);
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.output.find("683099 arcs in memory"), std::string::npos) << last_line(r.output);
  EXPECT_FALSE(has_fault_report(r.output));
  EXPECT_FALSE(exists("Tarsel.sol"));
}

TEST_F(Limits, ShortArcParameterAtTheTopOfTheIntegersMakesEveryConnectionShort) {
  // Every connection then counts as short, however long the wait; the sum
  // with the dead run via the depot must not wrap around into long records.
  copy_example("small", box_.dir);
  std::string ini = read_whole_file(box_.dir + "Tarsel.ini");
  ini.replace(ini.find("ShortArcParam: 60"), 17, "ShortArcParam: 2147483647");
  write_whole_file(box_.dir + "Tarsel.ini", ini);
  ProgramResult r = run_program(kTovarin, box_.dir, "x", kTimeout);
  ASSERT_EQ(r.exit_code, 0) << last_line(r.output);
  EXPECT_NE(r.output.find("\nTotal of Long Arcs: 0\n"), std::string::npos);
  EXPECT_EQ(incomplete_outputs(box_.dir), "");
}

// Weights that make single arc costs of a million and more, well within what
// the costs may add up to. A price change bound of 999999 (INFINITE_DELTA)
// or more once passed for no bound at all, and such runs ended with code 0,
// an INFEASIBLE flow report and a total that belongs to no schedule.
TEST_F(Limits, ArcCostsOfAMillionAreSolvedOrRefused) {
  copy_example("small", box_.dir);
  std::string ini = read_whole_file(box_.dir + "Tarsel.ini");
  ini.replace(ini.find("DeadrunWeight: 10"), 17, "DeadrunWeight: 100000");
  write_whole_file(box_.dir + "Tarsel.ini", ini);
  ProgramResult r = run_program(kTovarin, box_.dir, "x", kTimeout);
  ASSERT_TRUE(r.exit_code == 0 || r.exit_code == 1) << r.exit_code;
  if (r.exit_code == 1) {
    EXPECT_NE(last_line(r.output).find("cost"), std::string::npos) << last_line(r.output);
    return;
  }
  EXPECT_EQ(incomplete_outputs(box_.dir), "");
  EXPECT_EQ(read_whole_file(box_.dir + "Tarsel.sol"), "9502368\n");  // the optimum over every connection
}

// Lurrick's tables: 1500 trips and 20 terminals are taken, one more of
// either is refused with its message before the solver is ever run.
class AnnealerLimits : public Limits {
 protected:
  ProgramResult run_lurrick(int terminals, int trips) {
    write_problem(parameter_file_text(60), trip_file_text(terminals, parallel_trips(trips, terminals)));
    write_whole_file(box_.dir + "Teste.mvm", "[DEAD_RUN_MATRIX]\nNum. Terminals: 1\nx\nDEPOT\nDEPOT 0:00");
    expected_strays_ = {"bin"};
    const std::string lurrick = annealer_with_fake_solver("Lurrick", box_.root + "bin",
                                                          "echo run >> solver_runs\necho 5000 > Tarsel.sol");
    return run_program(lurrick, box_.dir, "", kTimeout);
  }
};

TEST_F(AnnealerLimits, LurrickTakes1500TripsAnd20Terminals) {
  ProgramResult r = run_lurrick(20, 1500);
  EXPECT_EQ(r.exit_code, 0) << last_line(r.output);
  EXPECT_NE(r.output.find("\nTOTAL OF TRIPS: 1500\n"), std::string::npos);
  EXPECT_EQ(r.output.find("SYSTEM IS NOT ABLE"), std::string::npos);
  EXPECT_NE(r.output.find("\nMelhor FO: 5000\n"), std::string::npos);
}

TEST_F(AnnealerLimits, LurrickRefuses1501Trips) {
  const std::string original = trip_file_text(20, parallel_trips(1501, 20));
  ProgramResult r = run_lurrick(20, 1501);
  EXPECT_EQ(r.signal, 0);
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.output.find("\nTOTAL OF TRIPS: 1501\nSYSTEM IS NOT ABLE TO SOLVE THIS PROBLEM \n"
                          "Total of trips larger than limite \n"),
            std::string::npos)
      << last_line(r.output);
  EXPECT_EQ(r.output.find("terminis"), std::string::npos);
  EXPECT_FALSE(exists("solver_runs"));
  EXPECT_EQ(read_whole_file(box_.dir + "Tarsel.bss"), original);
}

TEST_F(AnnealerLimits, LurrickRefuses21Terminals) {
  ProgramResult r = run_lurrick(21, 5);
  EXPECT_EQ(r.signal, 0);
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.output.find("\nTOTAL OF TRIPS: 5\nSYSTEM IS NOT ABLE TO SOLVE THIS PROBLEM \n"
                          "Total of terminis larger than limite \n"),
            std::string::npos)
      << last_line(r.output);
  EXPECT_EQ(r.output.find("Total of trips larger"), std::string::npos);
  EXPECT_FALSE(exists("solver_runs"));
}

}  // namespace
