// The in-process evaluation of shifted timetables against Tovarin on the same
// trip file, and the program's limits and closing confirmation.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>

#include "search/shift_network.h"
#include "search/timetable_files.h"
#include "solver/run.h"
#include "tests/support/random_problem.h"

using namespace solver;
using namespace search;

namespace {

const std::string kBin = TARSEL_BIN_DIR;

void write_text(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

// Tovarin's total cost for the network's present timetable, written as the
// program writes it.
long long tovarin_cost(const Problem& problem, const ShiftNetwork& net, const std::string& dir) {
  std::string text, error;
  EXPECT_TRUE(shifted_trip_file(problem, net.shift, trip_file_order(net), text, error)) << error;
  write_text(dir + "Tarsel.bss", text);
  auto run = std::make_unique<SolverRun>();
  run->prefix = dir;
  run->long_arc_path = dir + "temp.lng";
  testing::internal::CaptureStdout();
  run_solver(*run);
  testing::internal::GetCapturedStdout();
  return std::atoll(read_whole_file(dir + "Tarsel.sol").c_str());
}

TEST(ShiftNetwork, EveryEvaluationAndUndoEqualsTovarinOnTheShiftedTimetable) {
  int with_line = 0, without_line = 0;
  for (unsigned seed = 1; seed <= 40; ++seed) {
    const std::string dir = make_temp_dir("shift");
    Problem problem = random_problem(seed, RandomProblemShape{5, 60, 8, seed % 3 == 0});
    write_problem_files(dir, problem);
    const int max_shift = seed % 5 == 0 ? 9 : 3;
    auto net = std::make_unique<ShiftNetwork>();
    build_shift_network(problem, max_shift, *net);
    (net->depot_line ? with_line : without_line) += 1;
    ASSERT_STREQ(check_shift_network(*net), "") << "seed " << seed;
    ASSERT_EQ(net->total_cost, tovarin_cost(problem, *net, dir)) << "seed " << seed;
    std::mt19937 rng(seed);
    const int T = problem.num_trips;
    for (int step = 0; step < 12; ++step) {
      TripShift moves[2];
      const int count = 1 + static_cast<int>(rng() % 2);
      for (int m = 0; m < count; ++m) {
        int k = 1 + static_cast<int>(rng() % T);
        int span = net->highest_shift[k] - net->lowest_shift[k] + 1;
        moves[m] = {k, net->lowest_shift[k] + static_cast<int>(rng() % span)};
      }
      const long long before = net->total_cost;
      apply_shifts(*net, moves, count);
      const bool keep = rng() % 2 == 0;
      if (keep) commit_shifts(*net);
      const long long after = net->total_cost;
      if (!keep) undo_shifts(*net);
      ASSERT_STREQ(check_shift_network(*net), "") << "seed " << seed << " step " << step;
      ASSERT_EQ(net->total_cost, keep ? after : before) << "seed " << seed << " step " << step;
      if (keep || step % 4 == 0) {
        ASSERT_EQ(net->total_cost, tovarin_cost(problem, *net, dir)) << "seed " << seed << " step " << step;
      }
    }
    remove_dir(dir);
  }
  // Both ways of holding the long connections were exercised.
  EXPECT_GT(with_line, 0);
  EXPECT_GT(without_line, 0);
}

struct ProgramRun {
  int exit_code = -1;
  std::string out, err;
};

ProgramRun run_shift_search(const std::string& dir, const std::string& arguments) {
  const std::string command = "cd '" + dir + "' && '" + kBin + "/shift_search' " + arguments +
                              " </dev/null >../out.txt 2>../err.txt";
  int status = std::system(command.c_str());
  ProgramRun r;
  if (WIFEXITED(status)) r.exit_code = WEXITSTATUS(status);
  r.out = read_whole_file(dir + "../out.txt");
  r.err = read_whole_file(dir + "../err.txt");
  return r;
}

long long json_value(const std::string& out, const std::string& key) {
  size_t at = out.rfind("\"" + key + "\": ");
  return at == std::string::npos ? -1 : std::atoll(out.c_str() + at + key.size() + 4);
}

// The shifts of Tarsel_shifts.csv, one per trip in the order read.
std::vector<int> shifts_of(const std::string& csv) {
  std::istringstream in(csv);
  std::string line;
  std::getline(in, line);
  std::vector<int> shifts;
  while (std::getline(in, line)) shifts.push_back(std::atoi(line.c_str() + line.rfind(',') + 1));
  return shifts;
}

TEST(ShiftSearchProgram, KeepsTheLimitsAndItsCostIsTovarinsOnTheTimetableItLeaves) {
  const std::string root = make_temp_dir("shift_program");
  const std::string dir = root + "p/", check = root + "check/";
  ASSERT_EQ(std::system(("mkdir '" + dir + "' '" + check + "'").c_str()), 0);
  write_problem_files(dir, random_problem(11, RandomProblemShape{70, 70, 6, false}));
  write_problem_files(check, random_problem(11, RandomProblemShape{70, 70, 6, false}));

  struct Limit {
    int max_shift, max_moves;
  };
  std::string first_shifts;
  for (Limit limit : {Limit{2, 3}, Limit{1, 40}, Limit{1, 40}}) {
    ProgramRun r = run_shift_search(dir, "--evaluations 1500 --seed 5 --max-shift " +
                                             std::to_string(limit.max_shift) + " --max-moves " +
                                             std::to_string(limit.max_moves));
    ASSERT_EQ(r.exit_code, 0) << r.err;
    const std::vector<int> shifts = shifts_of(read_whole_file(dir + "Tarsel_shifts.csv"));
    ASSERT_EQ(shifts.size(), 70u);
    int moved = 0;
    for (int s : shifts) {
      EXPECT_LE(std::abs(s), limit.max_shift);
      moved += s != 0;
    }
    EXPECT_LE(moved, limit.max_moves);
    EXPECT_EQ(json_value(r.out, "moved"), moved);
    EXPECT_LE(json_value(r.out, "best_cost"), json_value(r.out, "initial_cost"));

    // The confirmation: Tovarin on the timetable left gives the cost reported.
    write_text(check + "Tarsel.bss", read_whole_file(dir + "Tarsel_best.bss"));
    ASSERT_EQ(std::system(("cd '" + check + "' && '" + kBin + "/Tovarin' </dev/null >/dev/null").c_str()), 0);
    EXPECT_EQ(std::atoll(read_whole_file(check + "Tarsel.sol").c_str()), json_value(r.out, "best_cost"));

    // The same seed and count make the same timetable.
    if (limit.max_moves == 40) {
      if (first_shifts.empty()) first_shifts = read_whole_file(dir + "Tarsel_shifts.csv");
      else EXPECT_EQ(read_whole_file(dir + "Tarsel_shifts.csv"), first_shifts);
    }
  }

  // Bad input ends as in the solver, and leaves no result behind.
  ASSERT_EQ(std::remove((dir + "Tarsel_best.bss").c_str()), 0);
  ASSERT_EQ(std::remove((dir + "Tarsel.ini").c_str()), 0);
  ProgramRun bad = run_shift_search(dir, "--evaluations 10");
  EXPECT_EQ(bad.exit_code, 1);
  EXPECT_NE(bad.out.find("File Tarsel.ini not found"), std::string::npos) << bad.out;
  EXPECT_FALSE(std::ifstream(dir + "Tarsel_best.bss").good());
  remove_dir(root);
}

}  // namespace
