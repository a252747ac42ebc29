// The annealer's reader of Tarsel.bss on the damaged copies of the bundled
// trip files: in-process at every byte, against the solver's reader of the
// same file, and through the real Lurrick with a stand-in solver.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <iostream>
#include <memory>

#include "annealer/timetable.h"
#include "common/common.h"
#include "common/text_cursor.h"
#include "solver/problem.h"
#include "tests/reliability/damage.h"
#include "tests/reliability/reliability_support.h"
#include "tests/support/random_problem.h"

using namespace common;
using namespace solver;
using namespace annealer;

namespace {

struct Reading {
  bool accepted = false;
  std::string message;
};

Reading read_with_annealer(const std::string& path, ProblemData& problem, TripTable& table) {
  try {
    QuietStdout quiet;
    read_trip_file(path, problem, table, false);
    return {true, ""};
  } catch (const FatalError& error) {
    EXPECT_EQ(error.exit_code, 1);
    return {false, error.message};
  }
}

Reading read_with_solver(const std::string& content, Problem& problem) {
  try {
    QuietStdout quiet;
    TextCursor cursor;
    load_text(content, cursor);
    parse_trip_file("Tarsel.bss", cursor, problem);
    return {true, ""};
  } catch (const FatalError& error) {
    return {false, error.message};
  }
}

// Where both readers take a file, they must see the same timetable: the
// annealer rewrites exactly what it read, and the solver prices that.
std::string disagreement(const ProblemData& a, const TripTable& table, const Problem& s) {
  if (a.num_terminals != s.num_terminals) return "terminal count";
  for (int t = 0; t < a.num_terminals; ++t) {
    if (std::strcmp(a.terminal_names[t], s.terminal_names[t]) != 0) return "terminal name " + std::to_string(t);
    for (int u = 0; u < a.num_terminals; ++u)
      if (a.deadrun_matrix[t][u] != s.deadrun_matrix[t][u]) return "dead run " + std::to_string(t) + "," + std::to_string(u);
  }
  if (a.num_trips != s.num_trips) return "trip count";
  for (int i = 1; i <= a.num_trips; ++i) {
    const TripRecord& x = table[i];
    const Trip& y = s.trips[i];
    if (x.departure_time != y.departure_time || x.arrival_time != y.arrival_time ||
        x.origin_terminal != y.origin_terminal || x.destination_terminal != y.destination_terminal ||
        x.group_key != y.group_key || x.aux_value != y.aux_value || x.min_layover != y.min_layover)
      return "trip " + std::to_string(i);
  }
  return "";
}

class AnnealerReaderSweep : public ::testing::TestWithParam<const char*> {};

TEST_P(AnnealerReaderSweep, TakesOrRefusesEveryDamagedCopyAsTheSolverDoes) {
  const std::string original = read_whole_file(kExamplesDir + GetParam() + "/Tarsel.bss");
  std::vector<DamagedCopy> all = every_byte_cut(original);
  for (auto part : {line_cuts(original), field_changes(original)}) all.insert(all.end(), part.begin(), part.end());
  std::vector<DamagedCopy> copies;
  const size_t stride = kSanitized ? kSanitizedStride : 1;
  for (size_t i = 0; i < all.size(); i += stride) copies.push_back(all[i]);

  ScopedSandbox box("annealer_reader");
  const std::string path = box.dir + "Tarsel.bss";
  TripTable table = allocate_trip_table(TRIP_TABLE_RECORDS);
  int accepted = 0, refused = 0, both = 0;
  for (const DamagedCopy& copy : copies) {
    const std::string what = std::string(damage_name(copy.damage)) + ", " + copy.where;
    write_whole_file(path, copy.content);
    auto annealer_problem = std::make_unique<ProblemData>();
    Reading a = read_with_annealer(path, *annealer_problem, table);
    (a.accepted ? accepted : refused)++;
    if (!a.accepted) {
      EXPECT_FALSE(a.message.empty()) << what;
      continue;
    }
    EXPECT_LE(annealer_problem->num_trips, MAX_TABLE_TRIPS) << what;
    EXPECT_LE(annealer_problem->num_terminals, MAX_TABLE_TERMINALS) << what;
    auto solver_problem = std::make_unique<Problem>();
    if (!read_with_solver(copy.content, *solver_problem).accepted) continue;
    ++both;
    EXPECT_EQ(disagreement(*annealer_problem, table, *solver_problem), "") << what;
  }
  EXPECT_EQ(strays(box), std::vector<std::string>{});
  std::cout << "[sweep] annealer reader, " << GetParam() << "/Tarsel.bss: " << copies.size()
            << " damaged copies, " << accepted << " taken, " << refused << " refused, " << both
            << " taken by both readers\n";
}

INSTANTIATE_TEST_SUITE_P(Examples, AnnealerReaderSweep, ::testing::Values("small", "groups"));

// The whole program: Lurrick reads the damaged file and prices it with the
// real solver, then anneals with a stand-in that always answers the same
// cost. It ends with code 0 and a trip file that reads back with as many
// trips as it read, or with code 1 and a message.
TEST(LurrickSweep, DamagedTripFilesEndTheRunCleanly) {
  const std::string original = read_whole_file(kExamplesDir + "small/Tarsel.bss");
  std::vector<DamagedCopy> copies = line_cuts(original);
  std::vector<DamagedCopy> fields = field_changes(original);
  for (size_t i = 0; i < fields.size(); i += 5) copies.push_back(fields[i]);
  if (kSanitized) {
    std::vector<DamagedCopy> sampled;
    for (size_t i = 0; i < copies.size(); i += 2) sampled.push_back(copies[i]);
    copies = sampled;
  }
  int exit0 = 0, exit1 = 0;
  for (const DamagedCopy& copy : copies) {
    const std::string what = std::string(damage_name(copy.damage)) + ", " + copy.where;
    ScopedSandbox box("lurrick_sweep");
    copy_example("small", box.dir);
    write_whole_file(box.dir + "Tarsel.bss", copy.content);
    const std::string lurrick = annealer_with_fake_solver(
        "Lurrick", box.root + "bin",
        "mark=\"$(dirname \"$0\")/priced\"\n"
        "if [ ! -e \"$mark\" ]; then : > \"$mark\"; exec '" + kTovarin + "'; fi\n"
        "echo 2000 > Tarsel.sol");
    ProgramResult r = run_program(lurrick, box.dir, "", 60);
    EXPECT_EQ(r.signal, 0) << what << "\n" << r.output;
    EXPECT_FALSE(has_fault_report(r.output)) << what << "\n" << r.output;
    EXPECT_EQ(strays(box), std::vector<std::string>{"bin"}) << what;
    if (r.exit_code == 0) {
      ++exit0;
      const size_t total = r.output.find("\nTOTAL OF TRIPS: ");
      ASSERT_NE(total, std::string::npos) << what;
      const int read_trips = std::atoi(r.output.c_str() + total + 17);
      auto problem = std::make_unique<ProblemData>();
      TripTable table = allocate_trip_table(TRIP_TABLE_RECORDS);
      Reading again = read_with_annealer(box.dir + "Tarsel.bss", *problem, table);
      EXPECT_TRUE(again.accepted) << what << ": the trip file left behind does not read: " << again.message;
      EXPECT_EQ(problem->num_trips, read_trips) << what;
    } else {
      EXPECT_EQ(r.exit_code, 1) << what << "\n" << r.output;
      ++exit1;
      EXPECT_FALSE(last_line(r.output).empty()) << what;
      // Refused before any move: the user's file is as it was.
      if (r.output.find("FO inicial") == std::string::npos) {
        EXPECT_EQ(read_whole_file(box.dir + "Tarsel.bss"), copy.content) << what;
      }
    }
    }
  std::cout << "[sweep] Lurrick, small/Tarsel.bss: " << copies.size() << " damaged copies, exit 0: " << exit0
            << ", exit 1: " << exit1 << "\n";
}

}  // namespace
