#include <gtest/gtest.h>

#include "annealer/move.h"
#include "solver/problem.h"
#include "test_support.h"

namespace {

class TripFileForTheSolver : public ScratchDirTest {};

TEST_F(TripFileForTheSolver, SolverReadsTheTripsTheAnnealerWrote) {
  const int terminals = 20;
  const int trips = 40;
  write_file(TEMPLATE_FILE_NAME, template_text(terminals));
  write_file("Tarsel.bss", trip_file_text(terminals, 0));
  ProblemData problem;
  TripTable table = allocate_trip_table(TRIP_TABLE_RECORDS);
  read_trip_file("Tarsel.bss", problem, table, false);
  problem.num_trips = trips;
  for (int i = 1; i <= trips; ++i)
    table[i] = TripRecord{1439 - 20 * i, 1470 - 20 * i, i % terminals, (3 * i) % terminals, 0.5f + i, 100 + i, i % 6};
  write_trip_file("Tarsel", problem, 5, table);

  Problem solver;
  read_trip_file("Tarsel.bss", solver);
  ASSERT_EQ(solver.num_trips, trips);
  ASSERT_EQ(solver.num_terminals, terminals);
  EXPECT_STREQ(solver.terminal_names[19], problem.terminal_names[19]);
  EXPECT_EQ(solver.deadrun_matrix[3][7], problem.deadrun_matrix[3][7]);
  for (int i = 1; i <= trips; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(solver.trips[i].departure_time, table[i].departure_time);
    EXPECT_EQ(solver.trips[i].arrival_time, table[i].arrival_time);
    EXPECT_EQ(solver.trips[i].origin_terminal, table[i].origin_terminal);
    EXPECT_EQ(solver.trips[i].destination_terminal, table[i].destination_terminal);
    EXPECT_EQ(solver.trips[i].aux_value, table[i].aux_value);
    EXPECT_EQ(solver.trips[i].min_layover, table[i].min_layover);
    EXPECT_FLOAT_EQ(solver.trips[i].group_key, table[i].group_key);
  }
}

}  // namespace
