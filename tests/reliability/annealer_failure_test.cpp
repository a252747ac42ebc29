// The annealer when its solver fails in the middle of a run, after the trip
// file has been rewritten, and when the trip file itself cannot be written:
// the run stops with code 1 and says why, and Tarsel.bss is always a whole
// trip file, dead-run matrix and all trips, that both readers take.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <ostream>

#include "annealer/timetable.h"
#include "common/common.h"
#include "solver/problem.h"
#include "tests/reliability/reliability_support.h"
#include "tests/support/random_problem.h"

using namespace common;
using namespace solver;
using namespace annealer;

namespace {

constexpr int kTripsOfGroups = 120;

// A stand-in solver that answers costs for its first runs and then fails as
// `failure` says; it counts its runs beside itself.
std::string failing_at(int run, const std::string& failure) {
  return "runs=\"$(dirname \"$0\")/runs\"\n"
         "n=$(( $(cat \"$runs\" 2>/dev/null || echo 0) + 1 ))\necho $n > \"$runs\"\n"
         "if [ $n -ge " + std::to_string(run) + " ]; then\n" + failure + "\nfi\n"
         "echo $(( 90000 - n )) > Tarsel.sol";
}

// The trip file as both readers see it: empty when they take it.
std::string trip_file_problem(const std::string& dir) {
  auto problem = std::make_unique<ProblemData>();
  TripTable table = allocate_trip_table(TRIP_TABLE_RECORDS);
  auto solver_problem = std::make_unique<Problem>();
  try {
    QuietStdout quiet;
    read_trip_file(dir + "Tarsel.bss", *problem, table, false);
    read_problem_trips(dir + "Tarsel.bss", *solver_problem);
  } catch (const FatalError& error) {
    return error.message;
  }
  if (problem->num_trips != kTripsOfGroups || solver_problem->num_trips != kTripsOfGroups)
    return "holds " + std::to_string(problem->num_trips) + " trips";
  return "";
}

struct LaterFailure {
  const char* name;
  const char* failure;
  const char* message;
};

std::ostream& operator<<(std::ostream& out, const LaterFailure& f) { return out << f.name; }

class SolverFailsLater : public ::testing::TestWithParam<LaterFailure> {};

TEST_P(SolverFailsLater, LurrickStopsWithAMessageAndAWholeTripFile) {
  ScopedSandbox box("failing_solver");
  copy_example("groups", box.dir);
  const std::string lurrick = annealer_with_fake_solver("Lurrick", box.root + "bin", failing_at(4, GetParam().failure));
  ProgramResult r = run_program(lurrick, box.dir, "", 120);
  EXPECT_EQ(r.signal, 0);
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.output.find(GetParam().message), std::string::npos) << last_line(r.output);
  EXPECT_NE(r.output.find("\nFO Vizinho: 89998\n"), std::string::npos) << "the trip file was rewritten before";
  EXPECT_EQ(r.output.find("Melhor FO"), std::string::npos);
  EXPECT_EQ(trip_file_problem(box.dir), "");
  EXPECT_FALSE(std::filesystem::exists(box.dir + "Tarsel.bss.new"));
}

INSTANTIATE_TEST_SUITE_P(
    Failures, SolverFailsLater,
    ::testing::Values(LaterFailure{"crash", "kill -SEGV $$", "\nO Tovarin foi interrompido pelo sinal 11."},
                      LaterFailure{"no_solution", "exit 0", "\nFile Tarsel.sol not found\n"},
                      LaterFailure{"empty_solution", ": > Tarsel.sol; exit 0", "Tarsel.sol n\xE3o cont\xE9m um valor inteiro"},
                      LaterFailure{"refusal", "echo 'SYSTEM IS NOT ABLE TO SOLVE THIS PROBLEM '; exit 1",
                                   "digo 1. A execu\xE7\xE3o sera interrompida.\n"},
                      LaterFailure{"gone", "rm -f \"$0\"; echo 1 > Tarsel.sol; exit 0",
                                   "\nN\xE3o foi poss\xEDvel iniciar o "}),
    [](const ::testing::TestParamInfo<LaterFailure>& info) { return std::string(info.param.name); });

// A write of the trip file that fails half-way (here a file size limit, as
// a full disk would) must leave the trip file that was there.
TEST(TripFileWrite, FailingHalfWayLeavesTheLastWholeTripFile) {
  ScopedSandbox box("full_disk");
  copy_example("groups", box.dir);
  const std::string original = read_whole_file(box.dir + "Tarsel.bss");
  const std::string lurrick = annealer_with_fake_solver("Lurrick", box.root + "bin", "echo 5000 > Tarsel.sol");
  // Room for the header and part of the template's matrix, not for the trips.
  RunLimits limits;
  limits.timeout_seconds = 120;
  limits.file_size_limit = 1024;
  ASSERT_GT(original.size(), 1024u);
  ProgramResult r = run_limited(lurrick, box.dir, limits);
  EXPECT_EQ(r.signal, 0);
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.output.find("\nProblemas na criacao do arquivo teste.trp\n"), std::string::npos) << last_line(r.output);
  EXPECT_EQ(read_whole_file(box.dir + "Tarsel.bss"), original);
  EXPECT_EQ(trip_file_problem(box.dir), "");
  EXPECT_EQ(list_dir(box.dir), (std::vector<std::string>{"Tarsel.bss", "Tarsel.ini", "Tarsel.lock",
                                                         "Tarsel.prr", "Tarsel.sol", "Teste.mvm"}));
}

}  // namespace
