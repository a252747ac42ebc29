// The three readers on small files: layouts, the values they give, and how
// they stop on damaged or oversized input.
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <sstream>
#include <string>

#include "common/common.h"
#include "common/timetable_out.h"
#include "solver/arcgen.h"
#include "solver/problem.h"
#include "tests/support/random_problem.h"

using namespace common;
using namespace solver;

namespace {

class ReaderTest : public ::testing::Test {
 protected:
  void SetUp() override { dir = make_temp_dir("reader"); }
  void TearDown() override { remove_dir(dir); }
  std::string write(const std::string& name, const std::string& content) {
    FILE* f = std::fopen((dir + name).c_str(), "wb");
    std::fwrite(content.data(), 1, content.size(), f);
    std::fclose(f);
    return dir + name;
  }
  std::string dir;
};

const char* kIni =
    "[Parameters]\n"
    "DeadRunMult:      1.25\n"
    "MinDepotTime:  01:30\n"
    "DeadrunWeight: 10\n"
    "LayoverWeight:  2\n"
    "ShortArcParam: 60  minutes\n";

std::string matrix_header(int n, const char* names, const char* rows) {
  return std::string("free text\n[DEAD_RUN_MATRIX] trailing\nNum. Terminals: ") + std::to_string(n) +
         "\nskipped line\n" + names + "\n" + rows + "\n\n[TRIP] 5";
}

const std::string kMatrix3 = matrix_header(3, "DEPOT A B",
                                           "DEPOT 0:00 0:10 0:15\n"
                                           "A 0:10 0:00 1 : 05\n"
                                           "B 0:15 0:08 0:00");

std::string fatal_message(const std::function<void()>& f) {
  try {
    f();
  } catch (const FatalError& e) {
    return e.message + (e.pause ? "|pause" : "|nopause") + "|" + std::to_string(e.exit_code);
  }
  return "no error";
}

TEST_F(ReaderTest, ParametersAreReadAfterTheirFixedLabels) {
  Parameters p;
  read_parameters(write("Tarsel.ini", kIni), p);
  EXPECT_FLOAT_EQ(p.dead_run_mult, 1.25f);
  EXPECT_EQ(p.min_depot_time, 90);
  EXPECT_EQ(p.deadrun_weight, 10);
  EXPECT_EQ(p.layover_weight, 2);
  EXPECT_EQ(p.short_arc_param, 60);
}

TEST_F(ReaderTest, ParameterFileProblemsStopWithFileAndLine) {
  Parameters p;
  EXPECT_EQ(fatal_message([&] { read_parameters(dir + "missing.ini", p); }),
            "\nFile " + dir + "missing.ini not found\n|pause|1");
  std::string bad = kIni;
  bad.replace(bad.find("10\n"), 2, "xx");
  std::string f = write("bad.ini", bad);
  EXPECT_NE(fatal_message([&] { read_parameters(f, p); }).find("line 4"), std::string::npos);
  f = write("short.ini", "[P]\nDeadRunMult:      1.0\nMinDepotTime:  00:30\n");
  EXPECT_NE(fatal_message([&] { read_parameters(f, p); }).find("line 4"), std::string::npos);
  f = write("noval.ini", "[P]\nDeadRunMult:      1.0\nMinDepotTime:  \n");
  EXPECT_NE(fatal_message([&] { read_parameters(f, p); }).find("line 3"), std::string::npos);
}

TEST_F(ReaderTest, TripLinesAreReadByColumns) {
  std::string bss = kMatrix3 +
                    "\nTrip0    = 0605, A            | 0650, B            | 101.00 \t5\t3"
                    "\nTrip1    =  7 5, B            | 2410, A            | 12.25 \t-1\t0"
                    "\n-----------------------------------------------------------\nTotal de viagens: 2\n";
  Problem problem;
  read_problem_trips(write("Tarsel.bss", bss), problem);
  ASSERT_EQ(problem.num_terminals, 3);
  EXPECT_STREQ(problem.terminal_names[2], "B");
  EXPECT_EQ(problem.deadrun_matrix[1][2], 65);  // "1 : 05" with blanks
  EXPECT_EQ(problem.deadrun_matrix[2][1], 8);
  ASSERT_EQ(problem.num_trips, 2);
  const Trip& t = problem.trips[1];
  EXPECT_EQ(t.departure_time, 365);
  EXPECT_EQ(t.arrival_time, 410);
  EXPECT_EQ(t.origin_terminal, 1);
  EXPECT_EQ(t.destination_terminal, 2);
  EXPECT_FLOAT_EQ(t.group_key, 101.0f);
  EXPECT_EQ(t.aux_value, 5);
  EXPECT_EQ(t.min_layover, 3);
  // Blanks in the hour and minute fields, hours past 23.
  EXPECT_EQ(problem.trips[2].departure_time, 7 * 60 + 5);
  EXPECT_EQ(problem.trips[2].arrival_time, 24 * 60 + 10);
  EXPECT_FLOAT_EQ(problem.trips[2].group_key, 12.25f);
  EXPECT_EQ(problem.trips[2].aux_value, -1);
}

TEST_F(ReaderTest, UnknownTerminalNameMeansTheDepotTerminal) {
  std::string bss = kMatrix3 + "\nTrip0    = 0605, ZZ           | 0650, B            | 101.00 \t5\t3\n";
  Problem problem;
  testing::internal::CaptureStderr();
  read_problem_trips(write("Tarsel.bss", bss), problem);
  std::string out = testing::internal::GetCapturedStderr();
  EXPECT_EQ(problem.trips[1].origin_terminal, 0);
  EXPECT_NE(out.find("\"ZZ\""), std::string::npos) << out;
}

TEST_F(ReaderTest, EmptyTripSectionAndCrLfLineEnds) {
  Problem problem;
  std::string bss = kMatrix3 + "\n----\n";
  testing::internal::CaptureStdout();
  read_problem_trips(write("Tarsel.bss", bss), problem);
  EXPECT_NE(testing::internal::GetCapturedStdout().find("\nTotal of trips: 0\n"), std::string::npos);
  EXPECT_EQ(problem.num_trips, 0);

  std::string crlf;
  for (char c : kMatrix3 + "\nTrip0    = 0605, A            | 0650, B            | 101.00 \t5\t3\n") {
    if (c == '\n') crlf += '\r';
    crlf += c;
  }
  Problem p2;
  read_problem_trips(write("crlf.bss", crlf), p2);
  ASSERT_EQ(p2.num_trips, 1);
  EXPECT_EQ(p2.trips[1].destination_terminal, 2);
  EXPECT_EQ(p2.trips[1].min_layover, 3);
}

TEST_F(ReaderTest, DamagedTripFilesStopInsteadOfReadingOn) {
  Problem problem;
  struct Case {
    std::string content;
    std::string expected;
  } cases[] = {
      {"no section at all\n", "has no [DEAD_RUN_MATRIX] section"},
      {"[DEAD_RUN_MATRIX]\nNum. Terminals: 3\nx\nDEPOT A", "ends inside the terminal names"},
      {"[DEAD_RUN_MATRIX]\nNum. Terminals: 2\nx\nDEPOT A\nDEPOT 0:00 0:10\nA 0:10", "ends inside the dead-run matrix"},
      {"[DEAD_RUN_MATRIX]\nNum. Terminals: 2\nx\nDEPOT A\nDEPOT 0:00 ab\n", "cannot be read"},
      {"[DEAD_RUN_MATRIX]\nNum. Terminals: x\n", "number of terminals"},
      {"[DEAD_RUN_MATRIX]\nNum. Terminals: 1\nx\nABCDEFGHIJKLM\nABCDEFGHIJKLM 0:00\n", "longer than 12"},
      {kMatrix3 + "\nTrip0    = 0605, A            | 0650, B            | \n", "cannot be read"},
      {"[DEAD_RUN_MATRIX]\nNum. Terminals: 1\nx\nDEPOT\nDEPOT 99999999:00\n", "out of range"},
      {kMatrix3 + "\nTrip0    = 0605, A            | 0650, B            | 101.00 \t5\t2000000000\n", "out of range"},
  };
  for (const Case& c : cases) {
    std::string f = write("bad.bss", c.content);
    std::string message = fatal_message([&] { read_problem_trips(f, problem); });
    EXPECT_NE(message.find(c.expected), std::string::npos) << message;
    EXPECT_NE(message.find("|pause|1"), std::string::npos) << message;
  }
}

std::string trips_file(int num_terminals, int num_trips) {
  std::string names, rows;
  for (int t = 0; t < num_terminals; ++t) {
    names += t ? " T" : "T";
    names += std::to_string(t);
  }
  for (int r = 0; r < num_terminals; ++r) {
    rows += 'T';
    rows += std::to_string(r);
    for (int k = 0; k < num_terminals; ++k) rows += " 0:05";
    rows += "\n";
  }
  std::string s = "[DEAD_RUN_MATRIX]\nNum. Terminals: ";
  s += std::to_string(num_terminals);
  s += "\nx\n" + names + "\n" + rows + "\n[TRIP] 5";
  for (int i = 0; i < num_trips; ++i) s += "\nTrip0    = 0605, T1           | 0650, T0           | 101.00 \t5\t3";
  return s + "\n";
}

TEST_F(ReaderTest, LimitsRefuseWithTheirMessagesAndNoPause) {
  Problem problem;
  testing::internal::CaptureStdout();
  read_problem_trips(write("ok.bss", trips_file(65, 2734)), problem);
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(problem.num_trips, 2734);
  EXPECT_EQ(problem.num_terminals, 65);

  struct Case {
    int terminals, trips;
    std::string out;
  } cases[] = {
      {3, 2735, "\nTotal of trips: 2735\nSYSTEM IS NOT ABLE TO SOLVE THIS PROBLEM \nTotal of trips greater than limite \n"},
      {66, 3, "\nTotal of trips: 3\nSYSTEM IS NOT ABLE TO SOLVE THIS PROBLEM \nTotal of terminis greater than limite \n"},
      {70, 5600,
       "\nTotal of trips: 5600\nSYSTEM IS NOT ABLE TO SOLVE THIS PROBLEM \nTotal of trips greater than limite \n"
       "Total of terminis greater than limite \n"},
  };
  for (const Case& c : cases) {
    std::string f = write("big.bss", trips_file(c.terminals, c.trips));
    Problem p;
    testing::internal::CaptureStdout();
    std::string message = fatal_message([&] { read_problem_trips(f, p); });
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(message, "|nopause|1");
    ASSERT_GE(out.size(), c.out.size());
    EXPECT_EQ(out.substr(out.size() - c.out.size()), c.out);
  }
}

TEST_F(ReaderTest, GroupsFile) {
  Problem problem;
  EXPECT_EQ(read_groups(dir + "none.prr", problem), 0);
  EXPECT_EQ(problem.num_groups, 0);

  std::string prr =
      "Link preferences\n"
      "Cost:      15\n"
      "Group = 101 102\n"
      "From keys:101.00 101.25\n"
      "To keys:    102.00\n"
      "\n"
      "Group =103,104\n"
      "From keys:103.00\n"
      "   To keys:    104.00\n";
  EXPECT_EQ(read_groups(write("Tarsel.prr", prr), problem), 15);
  ASSERT_EQ(problem.num_groups, 2);
  EXPECT_EQ(problem.groups[1].members[1], 101);
  EXPECT_EQ(problem.groups[1].members[2], 102);
  EXPECT_EQ(problem.groups[1].members[3], GROUP_END_MARKER);
  EXPECT_FLOAT_EQ(problem.groups[1].from_keys[2], 101.25f);
  EXPECT_FLOAT_EQ(problem.groups[1].from_keys[3], -999.0f);
  EXPECT_FLOAT_EQ(problem.groups[1].to_keys[1], 102.0f);
  EXPECT_EQ(problem.groups[2].members[2], 104);
  EXPECT_FLOAT_EQ(problem.groups[2].to_keys[1], 104.0f);

  // The last list may end the file without a line end.
  EXPECT_EQ(read_groups(write("eof.prr", "x\nCost:      3\nGroup = 1\nFrom keys:1\nTo keys:    1"), problem), 3);
  EXPECT_EQ(problem.num_groups, 1);
}

TEST_F(ReaderTest, DamagedGroupsFilesStop) {
  std::string many_members = "x\nCost:      1\nGroup = ";
  for (int i = 1; i <= 29; ++i) many_members += std::to_string(i) + (i < 29 ? " " : "\n");
  many_members += "From keys:1\nTo keys:    1\n";
  std::string many_groups = "x\nCost:      1\n";
  for (int g = 0; g < 30; ++g) many_groups += "Group = 1\nFrom keys:1\nTo keys:    1\n";
  struct Case {
    std::string content, expected;
  } cases[] = {
      {"x\nCost:      1\nGroup = 101 102", "ends inside the lists of group 1"},
      {"x\nCost:      1\nGroup = 101\nFrom keys:1.0", "ends inside the lists of group 1"},
      {"x\nCost:      1\nGroup = 101\nFrom keys:1.0\nTo keys:    ", "ends inside the lists of group 1"},
      {"x\nCost:      1\nGroup = abc\n", "cannot be read"},
      {"x\nCost:      zz\n", "link preference cost"},
      {many_members, "more than 28 entries"},
      {many_groups, "more than 29 groups"},
  };
  for (const Case& c : cases) {
    Problem problem;
    std::string f = write("bad.prr", c.content);
    std::string message = fatal_message([&] { read_groups(f, problem); });
    EXPECT_NE(message.find(c.expected), std::string::npos) << c.content << " -> " << message;
  }
}

// The Python tools check a problem against the solver's limits before they
// write it, and total its cost with the solver's vehicle cost: their values
// must be these.
TEST(PythonTools, HoldTheSolversLimitsAndCosts) {
  struct Row {
    const char* file;
    const char* name;
    int value;
  };
  for (const Row& row : std::initializer_list<Row>{
           {"limits.py", "MAX_TRIPS", MAX_TRIPS},
           {"limits.py", "MAX_TERMINALS", MAX_TERMINALS},
           {"limits.py", "MAX_ARCS", MAX_ARCS},
           {"limits.py", "LONG_ARCS_PER_NODE", LONG_ARCS_PER_NODE},
           {"limits.py", "TRIP_NAME_WIDTH", TRIP_TERMINAL_WIDTH},
           {"limits.py", "MAX_HOURS", common::LATEST_TRIP_LINE_TIME / 60},
           {"limits.py", "MAX_GROUPS", GROUP_ROWS - 1},
           {"limits.py", "MAX_GROUP_ENTRIES", GROUP_LIST_SLOTS - 2},
           {"limits.py", "MAX_DEAD_RUN", MAX_MINUTES_VALUE},
           {"schedule.py", "VEHICLE_COST", VEHICLE_COST},
       }) {
    std::istringstream text(read_whole_file(std::string(SOURCE_DIR) + "/tools/tarsel/" + row.file));
    std::string line, found;
    const std::string assignment = std::string(row.name) + " =";
    while (std::getline(text, line))
      if (line.rfind(assignment, 0) == 0) found = line.substr(assignment.size());
    EXPECT_EQ(std::atoi(found.c_str()), row.value) << row.file << " " << row.name;
  }
}

}  // namespace
