// Scratch directories, small trip files and fake solvers for the annealer's
// tests.
#pragma once

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>

#include "annealer/timetable.h"
#include "common/common.h"
#include "tests/support/files.h"

using namespace common;
using namespace annealer;

int count_occurrences(const std::string& text, const std::string& what);

// Terminals "DEPOT", "T1", "T2", ...; the matrix section ends right after its
// last value, as Teste.mvm must.
std::string template_text(int terminals);
std::string trip_line(int number, int departure, const std::string& origin, int arrival,
                      const std::string& destination, double group_key, int aux_value, int min_layover);
// Header, matrix section and `trips` trips between T1 and T2, 5 minutes apart.
std::string trip_file_text(int terminals, int trips);

// Trips departing at the given minutes, 40 minutes long, aux_value = record.
TripTable table_with_departures(std::initializer_list<int> departures);

// Runs in its own scratch directory, with the pauses reading /dev/null.
class ScratchDirTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  std::string dir_;
  std::string previous_dir_;
};

template <class Action>
FatalError catch_fatal(Action&& action) {
  try {
    action();
  } catch (const FatalError& error) {
    return error;
  }
  ADD_FAILURE() << "no fatal error";
  return FatalError{"", 0, false, {}};
}

// A shell script standing in for the solver: counts its runs in the file
// "runs" ($n is this run's number), keeps the trip file it got as run<n>.bss
// when asked, then runs `body`.
void write_fake_solver(const std::string& path, const std::string& body, bool keep_trip_files = false);
// A body that writes line n of the file "values" (or its last line) to Tarsel.sol.
extern const char* const SCRIPTED_COSTS;
int solver_runs();
