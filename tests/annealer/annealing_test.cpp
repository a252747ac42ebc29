#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "annealer/annealing.h"
#include "annealer/move.h"
#include "test_support.h"

using namespace annealer;

namespace {

TEST(Acceptance, EqualCostPassesInTheAnnealingButNeverCountsInTheSearch) {
  for (double temperature : {1e-6, 1.0, 1e9})
    for (double u : {0.0, 0.999}) {
      EXPECT_TRUE(metropolis_accepts(0, temperature, u));
      EXPECT_FALSE(counts_in_temperature_search(0, temperature, u));
      EXPECT_TRUE(counts_in_temperature_search(-1, temperature, u));
    }
  EXPECT_FALSE(metropolis_accepts(1, 0.001, 0.0));  // exp(-1000) is 0
  EXPECT_TRUE(metropolis_accepts(10, 10.0, 0.36));   // exp(-1) = 0.3679
  EXPECT_FALSE(metropolis_accepts(10, 10.0, 0.37));
}

TEST(ChangeCounting, SeparatesLaterAndEarlierDepartures) {
  TripTable initial = table_with_departures({600, 610, 620, 630, 640});
  TripTable final_table = table_with_departures({603, 610, 619, 632, 637});
  ChangeCounts counts = count_changes(5, final_table, initial);
  EXPECT_EQ(counts.later, 2);
  EXPECT_EQ(counts.later_minutes, 5);
  EXPECT_EQ(counts.earlier, 2);
  EXPECT_EQ(counts.earlier_minutes, -4);
}

// 11 trips priced by a fake solver that reads its costs from "values".
class AnnealingWithFakeSolver : public ScratchDirTest {
 protected:
  void SetUp() override {
    ScratchDirTest::SetUp();
    std::srand(12345);
    write_whole_file(TEMPLATE_FILE_NAME, template_text(3));
    write_whole_file("Tarsel.bss", trip_file_text(3, 11));
    write_fake_solver(dir_ + "/Tovarin", SCRIPTED_COSTS);
    run_.solver_path = dir_ + "/Tovarin";
    for (TripTable* table : {&run_.current, &run_.initial, &run_.best, &run_.neighbour})
      *table = allocate_trip_table(TRIP_TABLE_RECORDS);
    read_trip_file("Tarsel.bss", run_.problem, run_.current, false);
    copy_trips(run_.initial, run_.current, run_.problem.num_trips);
    run_.fo = 100;
  }
  void costs(const std::string& values, bool keep_trip_files = false) {
    write_whole_file("values", values);
    write_fake_solver(dir_ + "/Tovarin", SCRIPTED_COSTS, keep_trip_files);
  }
  TripTable trips_of_run(int n) {
    ProblemData problem;
    TripTable table = allocate_trip_table(TRIP_TABLE_RECORDS);
    read_trip_file("run" + std::to_string(n) + ".bss", problem, table, false);
    return table;
  }
  int differing_departures(const TripTable& a, const TripTable& b) {
    int count = 0;
    for (int i = 1; i <= run_.problem.num_trips; ++i) count += a[i].departure_time != b[i].departure_time;
    return count;
  }
  AnnealerRun run_;
  AnnealerSettings settings_;
};

TEST_F(AnnealingWithFakeSolver, CoolsUntilTheTemperatureIsNoLongerAboveTheStop) {
  costs("100\n");
  settings_.evaluations_per_temperature = 1;
  // 10 cooled by 0.1 four times is still a little above 0.001 in 64-bit reals.
  settings_.cooling_factor = 0.1;
  simulated_annealing(run_, settings_, 10.0);
  EXPECT_EQ(solver_runs(), 5);
  settings_.cooling_factor = 0.5;
  simulated_annealing(run_, settings_, 16.0);  // 16 down to 1/512
  EXPECT_EQ(solver_runs(), 5 + 14);
}

TEST_F(AnnealingWithFakeSolver, EndsOnTheBestTimetableNotTheLastImprovement) {
  // At a huge temperature the worse neighbour of run 2 is accepted, so run 3
  // improves on the current timetable without beating the best of run 1.
  costs("90\n120\n110\n", true);
  settings_.evaluations_per_temperature = 3;
  settings_.cooling_factor = 1e-13;
  simulated_annealing(run_, settings_, 1e9);
  ASSERT_EQ(solver_runs(), 3);
  TripTable first = trips_of_run(1);
  ASSERT_NE(differing_departures(first, trips_of_run(3)), 0) << "pick another seed";
  EXPECT_EQ(run_.fo, 90);
  EXPECT_EQ(differing_departures(run_.current, first), 0);
}

TEST_F(AnnealingWithFakeSolver, EqualCostNeighboursAreAcceptedSoMovesAccumulate) {
  costs("100\n", true);
  settings_.evaluations_per_temperature = 20;
  simulated_annealing(run_, settings_, 0.002);
  ASSERT_EQ(solver_runs(), 20);
  // Rejected neighbours would each stand one move away from the timetable read.
  EXPECT_GT(differing_departures(trips_of_run(20), run_.initial), 1);
  EXPECT_EQ(run_.fo, 100);
}

TEST_F(AnnealingWithFakeSolver, TemperatureSearchStopsHeatingWhenNoTrialEverCounts) {
  costs("100\n");
  double temperature = initial_temperature(run_, settings_, 2.0, 0.95, 1, 1.0);
  EXPECT_EQ(temperature, 1073741824.0);  // 2^30
  EXPECT_EQ(solver_runs(), MAX_HEATING_STEPS + 1);
  EXPECT_EQ(run_.fo, 100);
  EXPECT_EQ(differing_departures(run_.current, run_.initial), 0);
}

TEST_F(AnnealingWithFakeSolver, SolverGetsNoKeyboardAndNoStaleSolution) {
  // A solver that waits for a key on its failures must not wait on the user's.
  write_fake_solver(dir_ + "/Tovarin", "read key; echo \"${key:-none}\" > got; echo 7 > Tarsel.sol");
  write_whole_file("keys", "secret\n");
  ASSERT_NE(std::freopen("keys", "r", stdin), nullptr);
  EXPECT_EQ(evaluate_trip_file(run_), 7);
  EXPECT_EQ(read_whole_file("got"), "none\n");

  write_fake_solver(dir_ + "/Tovarin", "exit 0");
  EXPECT_EQ(catch_fatal([&] { evaluate_trip_file(run_); }).message, "\nFile Tarsel.sol not found\n");
  write_fake_solver(dir_ + "/Tovarin", "echo none > Tarsel.sol");
  EXPECT_EQ(catch_fatal([&] { evaluate_trip_file(run_); }).exit_code, 1);
}

}  // namespace
