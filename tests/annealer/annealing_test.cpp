#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "annealer/annealing.h"
#include "annealer/move.h"
#include "annealer/program.h"
#include "test_support.h"

namespace {

TEST(Acceptance, EqualCostIsAlwaysAcceptedInTheAnnealing) {
  for (double temperature : {1e-6, 0.001, 1.0, 1e6})
    for (double u : {0.0, 0.5, 0.999}) EXPECT_TRUE(metropolis_accepts(0, temperature, u));
}

TEST(Acceptance, EqualCostNeverCountsInTheTemperatureSearch) {
  for (double temperature : {1e-6, 1.0, 1e9})
    for (double u : {0.0, 0.999}) EXPECT_FALSE(counts_in_temperature_search(0, temperature, u));
  EXPECT_TRUE(counts_in_temperature_search(-1, 1e-6, 0.999));
}

TEST(Acceptance, WorseCostFollowsTheMetropolisRule) {
  EXPECT_FALSE(metropolis_accepts(1, 0.001, 0.0));  // exp(-1000) is 0, never above a draw
  EXPECT_TRUE(metropolis_accepts(1, 1e9, 0.999));
  EXPECT_TRUE(metropolis_accepts(10, 10.0, 0.36));   // exp(-1) = 0.3679
  EXPECT_FALSE(metropolis_accepts(10, 10.0, 0.37));
  EXPECT_TRUE(counts_in_temperature_search(10, 10.0, 0.36));
}

TEST(ChangeCounting, SeparatesLaterAndEarlierDepartures) {
  TripTable initial = table_with_departures({600, 610, 620, 630, 640});
  TripTable final_table = table_with_departures({603, 610, 619, 632, 637});
  ChangeCounts counts = count_changes(5, final_table, initial);
  EXPECT_EQ(counts.later, 2);
  EXPECT_EQ(counts.later_minutes, 5);
  EXPECT_EQ(counts.earlier, 2);
  EXPECT_EQ(counts.earlier_minutes, -4);
  ChangeCounts none = count_changes(5, initial, initial);
  EXPECT_EQ(none.later + none.earlier, 0);
}

class ObjectiveReading : public ScratchDirTest {};

TEST_F(ObjectiveReading, TakesTheFirstInteger) {
  write_file("Tarsel.sol", "3318\n");
  int value = 0;
  read_objective("Tarsel.sol", value);
  EXPECT_EQ(value, 3318);
}

TEST_F(ObjectiveReading, MissingOrNonNumericSolutionIsFatal) {
  int value = 5;
  FatalError missing = catch_fatal([&] { read_objective("Tarsel.sol", value); });
  EXPECT_EQ(missing.message, "\nFile Tarsel.sol not found\n");
  EXPECT_EQ(missing.exit_code, 1);
  write_file("Tarsel.sol", "no cost here\n");
  FatalError garbage = catch_fatal([&] { read_objective("Tarsel.sol", value); });
  EXPECT_EQ(garbage.exit_code, 1);
  EXPECT_NE(garbage.message.find("Tarsel.sol"), std::string::npos);
  EXPECT_EQ(value, 5);
}

// A timetable of 11 trips priced by a scripted fake solver in the scratch
// directory.
class AnnealingWithFakeSolver : public ScratchDirTest {
 protected:
  void SetUp() override {
    ScratchDirTest::SetUp();
    std::srand(12345);
    write_file(TEMPLATE_FILE_NAME, template_text(3));
    write_file("Tarsel.bss", trip_file_text(3, 11));
    write_fake_solver(dir_ + "/Tovarin", SCRIPTED_COSTS);
    run_.solver_path = dir_ + "/Tovarin";
    run_.current = allocate_trip_table(TRIP_TABLE_RECORDS);
    run_.initial = allocate_trip_table(TRIP_TABLE_RECORDS);
    run_.best = allocate_trip_table(TRIP_TABLE_RECORDS);
    run_.neighbour = allocate_trip_table(TRIP_TABLE_RECORDS);
    read_trip_file("Tarsel.bss", run_.problem, run_.current, false);
    copy_trips(run_.initial, run_.current, run_.problem.num_trips);
    run_.fo = 100;
  }
  void costs(const std::string& values) { write_file("values", values); }
  void keep_trip_files() { write_fake_solver(dir_ + "/Tovarin", SCRIPTED_COSTS, true); }
  // The trips of the trip file that the solver got on run n.
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

struct Schedule {
  double start;
  double cooling;
  int temperatures;
};

class CoolingSchedule : public AnnealingWithFakeSolver, public ::testing::WithParamInterface<Schedule> {};

TEST_P(CoolingSchedule, RunsOnePassPerTemperatureAboveTheStop) {
  costs("100\n");
  settings_.cooling_factor = GetParam().cooling;
  settings_.evaluations_per_temperature = 1;
  simulated_annealing(run_, settings_, GetParam().start);
  EXPECT_EQ(solver_runs(), GetParam().temperatures);
}

// 10 cooled by 0.1 four times is still a little above the stop in 64-bit
// reals, hence five temperatures; 16 halved gives 16 .. 1/512.
INSTANTIATE_TEST_SUITE_P(Programs, CoolingSchedule,
                         ::testing::Values(Schedule{10.0, 0.1, 5}, Schedule{16.0, 0.5, 14},
                                           Schedule{0.001, 0.5, 0}));

TEST_F(AnnealingWithFakeSolver, EndsOnTheBestTimetableNotTheLastImprovement) {
  // At a huge temperature the worse neighbour of run 2 is accepted, so run 3
  // improves on the current timetable without beating the best of run 1.
  costs("90\n120\n110\n");
  keep_trip_files();
  settings_.evaluations_per_temperature = 3;
  settings_.cooling_factor = 1e-13;
  simulated_annealing(run_, settings_, 1e9);
  ASSERT_EQ(solver_runs(), 3);
  TripTable first = trips_of_run(1);
  ASSERT_NE(differing_departures(first, trips_of_run(3)), 0) << "pick another seed";
  EXPECT_EQ(run_.fo, 90);
  EXPECT_EQ(differing_departures(run_.current, first), 0);
}

TEST_F(AnnealingWithFakeSolver, EqualCostNeighboursAreAcceptedAndMovesAccumulate) {
  costs("100\n");
  keep_trip_files();
  settings_.evaluations_per_temperature = 20;
  settings_.cooling_factor = 0.1;
  simulated_annealing(run_, settings_, 0.002);
  ASSERT_EQ(solver_runs(), 20);
  // Rejected neighbours would each stand one move away from the timetable read.
  EXPECT_GT(differing_departures(trips_of_run(20), run_.initial), 1);
  EXPECT_EQ(run_.fo, 100);
  EXPECT_EQ(differing_departures(run_.current, run_.initial), 0);
}

TEST_F(AnnealingWithFakeSolver, TemperatureSearchStopsHeatingWhenNoTrialEverCounts) {
  costs("100\n");
  TripTable before = run_.current;
  double temperature = initial_temperature(run_, settings_, 2.0, 0.95, 1, 1.0);
  EXPECT_EQ(temperature, 1073741824.0);  // 2^30
  EXPECT_EQ(solver_runs(), MAX_HEATING_STEPS + 1);
  EXPECT_EQ(run_.fo, 100);
  EXPECT_EQ(differing_departures(run_.current, before), 0);
}

TEST_F(AnnealingWithFakeSolver, TemperatureSearchReturnsOnceAllTrialsImprove) {
  costs("99\n");
  EXPECT_EQ(initial_temperature(run_, settings_, 2.0, 0.95, 10, 1.0), 1.0);
  EXPECT_EQ(solver_runs(), 10);
  EXPECT_EQ(run_.fo, 100);
}

TEST_F(AnnealingWithFakeSolver, TimetableWithoutTripsStopsBeforeAnySolverRun) {
  write_file("Tarsel.bss", trip_file_text(3, 0));
  FatalError error = catch_fatal([&] { start_up(run_, settings_); });
  EXPECT_EQ(error.exit_code, 1);
  EXPECT_NE(error.message.find("Tarsel.bss"), std::string::npos);
  EXPECT_EQ(solver_runs(), 0);
}

TEST_F(AnnealingWithFakeSolver, StaleSolutionIsNeverTakenForANewOne) {
  write_fake_solver(dir_ + "/Tovarin", "exit 0");
  write_file("Tarsel.sol", "1\n");
  FatalError error = catch_fatal([&] { evaluate_trip_file(run_); });
  EXPECT_EQ(error.message, "\nFile Tarsel.sol not found\n");
  EXPECT_EQ(solver_runs(), 1);
}

TEST_F(AnnealingWithFakeSolver, SolverGetsNoKeyboard) {
  // A solver that waits for a key on its failures must not wait on the user's.
  write_fake_solver(dir_ + "/Tovarin", "read key; echo \"${key:-none}\" > got; echo 7 > Tarsel.sol");
  write_file("keys", "secret\n");
  ASSERT_NE(std::freopen("keys", "r", stdin), nullptr);
  EXPECT_EQ(evaluate_trip_file(run_), 7);
  EXPECT_EQ(read_file("got"), "none\n");
}

}  // namespace
