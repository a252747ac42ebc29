// The in-process evaluation of shifted timetables against Tovarin on the same
// trip file, and the program's limits and closing confirmation.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <climits>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <sstream>

#include "search/headway.h"
#include "search/result_files.h"
#include "search/shift_network.h"
#include "search/shift_search.h"
#include "search/timetable_files.h"
#include "search/vehicle_bound.h"
#include "solver/run.h"
#include "tests/support/random_problem.h"
#include "tests/support/run_program.h"

using namespace solver;
using namespace search;

namespace {

const std::string kBin = TARSEL_BIN_DIR;

void write_text(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

// Tovarin's total cost for the network's present timetable, written as the
// program writes it; its vehicles (Num Buses of Tarsel.arm) in `vehicles`.
long long tovarin_cost(const Problem& problem, const ShiftNetwork& net, const std::string& dir,
                       int* vehicles = nullptr) {
  std::string text, error;
  EXPECT_TRUE(shifted_trip_file(problem, net.shift, trip_file_order(net), text, error)) << error;
  write_text(dir + "Tarsel.bss", text);
  auto run = std::make_unique<SolverRun>();
  run->prefix = dir;
  run->long_arc_path = dir + "temp.lng";
  testing::internal::CaptureStdout();
  run_solver(*run);
  testing::internal::GetCapturedStdout();
  if (vehicles) {
    const std::string arm = read_whole_file(dir + "Tarsel.arm");
    const size_t at = arm.find("Num Buses:");
    *vehicles = at == std::string::npos ? -1 : std::atoi(arm.c_str() + at + 10);
  }
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
    ASSERT_EQ(check_shift_network(*net), "") << "seed " << seed;
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
      ASSERT_EQ(check_shift_network(*net), "") << "seed " << seed << " step " << step;
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

// Every timetable within the windows of a few short trips, close in time
// (short enough that shifts change their order): the bound is never above
// the fewest vehicles Tovarin needs for any of them, with and without the
// headway rule, and meets it on some.
TEST(VehicleBound, NeverAboveTheFewestVehiclesOfAnyTimetableWithinTheWindows) {
  int tight = 0, problems = 0;
  for (unsigned seed = 1; seed <= 30; ++seed) {
    Problem problem = random_problem(seed, RandomProblemShape{4, 6, 3, seed % 4 == 0});
    std::mt19937 rng(seed);
    for (int k = 1; k <= problem.num_trips; ++k) {
      Trip& t = problem.trips[k];
      t.departure_time = 300 + (t.departure_time - 300) / 25;
      t.arrival_time = t.departure_time + static_cast<int>(rng() % 5);
    }
    const int max_shift = 2, max_change = seed % 2 == 0 ? 1 : -1;
    auto net = std::make_unique<ShiftNetwork>();
    build_shift_network(problem, max_shift, *net);
    const HeadwayRule rule = make_headway_rule(problem, max_change);
    const int bound = vehicle_lower_bound(*net, rule);
    // Every combination of shifts, as an odometer.
    const int T = problem.num_trips;
    std::vector<int> shift(T + 1, -max_shift), fewest_shift;
    int fewest = INT_MAX;
    for (;;) {
      move_network_to(*net, shift);
      if (headways_hold(rule, shift) && net->vehicles < fewest) {
        fewest = net->vehicles;
        fewest_shift = shift;
      }
      int k = 1;
      while (k <= T && shift[k] == max_shift) shift[k++] = -max_shift;
      if (k > T) break;
      ++shift[k];
    }
    const std::string dir = make_temp_dir("bound");
    write_problem_files(dir, problem);
    move_network_to(*net, fewest_shift);
    int tovarin_vehicles = 0;
    tovarin_cost(problem, *net, dir, &tovarin_vehicles);
    remove_dir(dir);
    ASSERT_EQ(tovarin_vehicles, fewest) << "seed " << seed;
    ASSERT_LE(bound, fewest) << "seed " << seed;
    tight += bound == fewest;
    ++problems;
  }
  EXPECT_GT(tight, problems / 2);
}

// A line leaving one terminal every 15 minutes, and another line: the
// neighbours of a moved trip follow by as little as the rule needs, and
// moves the rule cannot take are refused whole.
TEST(HeadwayRule, NeighboursFollowAMovedTripByAsLittleAsTheyMust) {
  Problem problem = random_problem(3, RandomProblemShape{7, 7, 4, false});
  for (int k = 1; k <= 7; ++k) {
    Trip& t = problem.trips[k];
    t.departure_time = 600 + 15 * (k - 1);
    t.arrival_time = t.departure_time + 30;
    t.origin_terminal = 1;
    t.group_key = k <= 5 ? 101.0f : 102.0f;
  }
  auto net = std::make_unique<ShiftNetwork>();
  build_shift_network(problem, 5, *net);
  const HeadwayRule rule = make_headway_rule(problem, 2);
  struct Case {
    std::vector<TripShift> wanted;
    bool allowed;
    std::vector<int> shifts;  // trips 1..7 after the moves
  };
  const Case cases[] = {
      {{{3, 5}}, true, {1, 3, 5, 3, 1, 0, 0}},
      {{{1, -5}}, true, {-5, -3, -1, 0, 0, 0, 0}},
      {{{5, 4}, {6, -5}}, true, {0, 0, 0, 2, 4, -5, -3}},  // another line: no rule between them
      {{{2, 5}, {3, -1}}, false, {}},
      {{{2, 2}}, true, {0, 2, 0, 0, 0, 0, 0}},
  };
  HeadwayScratch scratch;
  for (const Case& c : cases) {
    std::vector<TripShift> moves = c.wanted;
    ASSERT_EQ(complete_moves(rule, *net, scratch, moves), c.allowed) << moves.front().trip;
    if (!c.allowed) continue;
    std::vector<int> after = net->shift;
    for (const TripShift& m : moves) after[m.trip] = m.shift;
    EXPECT_EQ(std::vector<int>(after.begin() + 1, after.end()), c.shifts);
    EXPECT_TRUE(headways_hold(rule, after));
  }
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

  // Files of an earlier run that this run's set replaces.
  write_text(dir + "Tarsel_best_999.bss", "old");
  write_text(dir + "Tarsel_shifts_999.csv", "old");

  struct Limit {
    int max_shift, max_moves, max_change, threads;
  };
  const Problem problem = random_problem(11, RandomProblemShape{70, 70, 6, false});
  std::string first_shifts;
  int per_count_files = 0;
  for (Limit limit : {Limit{2, 3, -1, 1}, Limit{1, 40, -1, 2}, Limit{1, 40, -1, 2}, Limit{3, -1, 1, 2},
                      Limit{2, 0, -1, 1}}) {
    std::string arguments = "--evaluations 1500 --seed 5 --max-shift " + std::to_string(limit.max_shift) +
                            " --threads " + std::to_string(limit.threads);
    if (limit.max_moves >= 0) arguments += " --max-moves " + std::to_string(limit.max_moves);
    if (limit.max_change >= 0) arguments += " --max-headway-change " + std::to_string(limit.max_change);
    ProgramRun r = run_shift_search(dir, arguments);
    ASSERT_EQ(r.exit_code, 0) << arguments << "\n" << r.err;
    EXPECT_LE(json_value(r.out, "evaluations"), limit.max_moves == 0 ? 0 : 1500) << arguments;
    const std::vector<int> shifts = shifts_of(read_whole_file(dir + "Tarsel_shifts.csv"));
    ASSERT_EQ(shifts.size(), 70u);
    int moved = 0;
    for (int s : shifts) {
      EXPECT_LE(std::abs(s), limit.max_shift);
      moved += s != 0;
    }
    if (limit.max_moves >= 0) {
      EXPECT_LE(moved, limit.max_moves);
    }
    EXPECT_EQ(json_value(r.out, "moved"), moved);
    EXPECT_LE(json_value(r.out, "best_cost"), json_value(r.out, "initial_cost"));
    std::vector<int> by_trip{0};
    by_trip.insert(by_trip.end(), shifts.begin(), shifts.end());
    EXPECT_TRUE(headways_hold(make_headway_rule(problem, limit.max_change), by_trip)) << arguments;

    // The confirmation: Tovarin on the timetable left gives the cost reported,
    // and on each Tarsel_best_V.bss V vehicles; no file of an earlier run is left.
    write_text(check + "Tarsel.bss", read_whole_file(dir + "Tarsel_best.bss"));
    ASSERT_EQ(std::system(("cd '" + check + "' && '" + kBin + "/Tovarin' </dev/null >/dev/null").c_str()), 0);
    EXPECT_EQ(std::atoll(read_whole_file(check + "Tarsel.sol").c_str()), json_value(r.out, "best_cost"));
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
      const std::string name = entry.path().filename().string();
      if (name.rfind("Tarsel_best_", 0) != 0) continue;
      const int vehicles = std::atoi(name.c_str() + 12);
      EXPECT_LT(vehicles, json_value(r.out, "initial_vehicles")) << name;
      EXPECT_TRUE(std::filesystem::exists(dir + "Tarsel_shifts_" + std::to_string(vehicles) + ".csv")) << name;
      write_text(check + "Tarsel.bss", read_whole_file(dir + name));
      ASSERT_EQ(std::system(("cd '" + check + "' && '" + kBin + "/Tovarin' </dev/null >/dev/null").c_str()), 0);
      const std::string arm = read_whole_file(check + "Tarsel.arm");
      EXPECT_EQ(std::atoi(arm.c_str() + arm.find("Num Buses:") + 10), vehicles) << name;
      ++per_count_files;
    }
    EXPECT_FALSE(std::filesystem::exists(dir + "Tarsel_shifts_999.csv"));

    // The same seed and count make the same timetable.
    if (limit.max_moves == 40) {
      if (first_shifts.empty()) first_shifts = read_whole_file(dir + "Tarsel_shifts.csv");
      else EXPECT_EQ(read_whole_file(dir + "Tarsel_shifts.csv"), first_shifts);
    }
  }
  EXPECT_GT(per_count_files, 0);

  // Bad input ends as in the solver, and leaves no result behind.
  ASSERT_EQ(std::remove((dir + "Tarsel_best.bss").c_str()), 0);
  ASSERT_EQ(std::remove((dir + "Tarsel.ini").c_str()), 0);
  ProgramRun bad = run_shift_search(dir, "--evaluations 10");
  EXPECT_EQ(bad.exit_code, 1);
  EXPECT_NE(bad.out.find("File Tarsel.ini not found"), std::string::npos) << bad.out;
  EXPECT_FALSE(std::ifstream(dir + "Tarsel_best.bss").good());
  remove_dir(root);
}

// The regular files of a directory by name, with their contents.
std::map<std::string, std::string> files_of(const std::string& dir) {
  std::map<std::string, std::string> files;
  for (const auto& entry : std::filesystem::directory_iterator(dir))
    if (entry.is_regular_file()) files[entry.path().filename().string()] = read_whole_file(entry.path().string());
  return files;
}

// A run that cannot put all its files in place, or that a signal stops while
// Tovarin runs, leaves the set of the run before byte for byte (and Tovarin
// and the scratch directory gone); a run stopped while putting its set in
// place is finished by the next one.
TEST(ShiftSearchProgram, AFailureOrASignalLeavesTheSetOfTheRunBefore) {
  const std::string root = make_temp_dir("shift_set");
  const std::string dir = root + "p/", bin = root + "bin/", scratch = root + "tmp/";
  ASSERT_EQ(std::system(("mkdir '" + dir + "' '" + bin + "' '" + scratch + "'").c_str()), 0);
  write_problem_files(dir, random_problem(11, RandomProblemShape{70, 70, 6, false}));
  ASSERT_EQ(run_shift_search(dir, "--evaluations 1500 --max-shift 3").exit_code, 0);
  const auto before = files_of(dir);
  ASSERT_GT(before.size(), 6u);  // per vehicle count files too

  // A name of the set taken by a directory: nothing written, nothing left.
  std::filesystem::create_directory(dir + "Tarsel_shifts.csv.new");
  ProgramRun r = run_shift_search(dir, "--evaluations 1500 --max-shift 3 --seed 2");
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(files_of(dir), before);
  std::filesystem::remove(dir + "Tarsel_shifts.csv.new");

  // SIGTERM while Tovarin runs.
  std::filesystem::copy_file(kBin + "/shift_search", bin + "shift_search");
  std::filesystem::permissions(bin + "shift_search", std::filesystem::perms::owner_all);
  write_text(bin + "Tovarin", "#!/bin/sh\necho $$ > '" + root + "pid.new' && mv '" + root + "pid.new' '" + root +
                                  "pid'\nexec sleep 60\n");
  std::filesystem::permissions(bin + "Tovarin", std::filesystem::perms::owner_all);
  const char* saved_tmpdir = std::getenv("TMPDIR");
  const std::string old_tmpdir = saved_tmpdir ? saved_tmpdir : "";
  setenv("TMPDIR", scratch.c_str(), 1);
  RunLimits limits;
  limits.timeout_seconds = 50;
  limits.interrupt_signal = SIGTERM;
  limits.interrupt_when_exists = root + "pid";
  ProgramResult stopped = run_limited(bin + "shift_search", dir, limits);
  if (saved_tmpdir) setenv("TMPDIR", old_tmpdir.c_str(), 1);
  else unsetenv("TMPDIR");
  EXPECT_EQ(stopped.exit_code, 1) << stopped.output;
  const pid_t tovarin = std::atoi(read_whole_file(root + "pid").c_str());
  EXPECT_TRUE(tovarin > 0 && kill(tovarin, 0) != 0 && errno == ESRCH);
  EXPECT_TRUE(std::filesystem::is_empty(scratch));
  EXPECT_EQ(files_of(dir), before);

  // A set decided (its list in place) but cut short, then one never decided.
  write_text(dir + "Tarsel_best.bss.new", "new");
  write_text(dir + "Tarsel_search.commit", "put Tarsel_best.bss\nput Tarsel_shifts.csv\nremove Tarsel_best_999.bss\n");
  write_text(dir + "Tarsel_best_999.bss", "old");
  std::string error;
  ASSERT_TRUE(finish_file_set(dir, error)) << error;
  auto expected = before;
  expected["Tarsel_best.bss"] = "new";
  EXPECT_EQ(files_of(dir), expected);
  write_text(dir + "Tarsel_shifts.csv.new", "staged");
  ASSERT_TRUE(finish_file_set(dir, error)) << error;
  EXPECT_EQ(files_of(dir), expected);
  remove_dir(root);
}

}  // namespace
