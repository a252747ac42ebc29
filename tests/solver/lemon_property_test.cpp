// Properties on generated problems, checked against LEMON's network simplex
// on the full network (every short and long connection as an arc) and against
// the rules of a vehicle schedule read back from the block file.
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <memory>
#include <sstream>
#include <vector>

#include "bench/full_network.h"
#include "solver/run.h"
#include "tests/support/certificate.h"
#include "tests/support/random_problem.h"
#include "tests/support/run_program.h"

using namespace solver;

namespace {

// The solver run in process, with the files in a temporary directory.
struct InProcessRun {
  std::string dir;
  std::unique_ptr<SolverRun> run = std::make_unique<SolverRun>();
  std::string console;
};

void solve_in_process(const Problem& problem, InProcessRun& r) {
  r.dir = make_temp_dir("lemon");
  write_problem_files(r.dir, problem);
  r.run->prefix = r.dir;
  r.run->long_arc_path = r.dir + "temp.lng";
  testing::internal::CaptureStdout();
  run_solver(*r.run);
  r.console = testing::internal::GetCapturedStdout();
}

// Z_Optim of the iteration file's last row.
long long last_objective(const std::string& est) {
  std::istringstream in(est);
  std::string line, last;
  while (std::getline(in, line))
    if (!line.empty() && line[0] >= '0' && line[0] <= '9') last = line;
  std::vector<std::string> fields;
  std::stringstream s(last);
  std::string field;
  while (std::getline(s, field, '\t')) fields.push_back(field);
  // Iter, Calc, Disc, Incl, C Max, C Min, Z_Optim, "", Num Bus
  return fields.size() >= 7 ? std::atoll(fields[6].c_str()) : -1;
}

// The certificate on the full network, every long connection included, with
// the flows the run ended with and its prices: arc generation must have
// left no connection that could still make the schedule cheaper.
std::string full_network_certificate_failure(const InProcessRun& r) {
  // Once the run is over the network holds just the arcs that carried flow,
  // and the block file took their units off as it followed the vehicles:
  // each carried one, but the return arc one per vehicle.
  const Network& net = r.run->net;
  const int T = r.run->problem.num_trips;
  std::map<std::pair<int, int>, int> flows;
  for (int k = 1; k <= r.run->counters.num_flow_arcs; ++k)
    flows[{net.tail[k], net.head[k]}] += net.tail[k] == depot_in_node(T) ? r.run->counters.num_buses : 1;
  const FullNetwork full = build_full_network(r.run->problem);
  std::vector<CertificateArc> arcs;
  for (const FullArc& a : full.arcs) {
    auto used = flows.find({a.tail, a.head});
    arcs.push_back({a.tail, a.head, a.lower, a.upper, a.cost, used == flows.end() ? 0 : used->second});
    if (used != flows.end()) flows.erase(used);
  }
  if (!flows.empty()) return "the run's flow uses an arc the full network lacks";
  return certificate_failure(full.num_nodes, arcs, r.run->kilter.price);
}

TEST(LemonProperty, IterationFileObjectiveEqualsTheFullNetworkOptimum) {
  int checked = 0, mismatches = 0, with_groups = 0;
  for (unsigned seed = 1; seed <= 220; ++seed) {
    RandomProblemShape shape{5, 80, 8, seed % 4 == 0};
    Problem problem = random_problem(seed, shape);
    InProcessRun r;
    solve_in_process(problem, r);
    FullNetworkResult lemon = solve_full_network(r.run->problem);
    ASSERT_EQ(lemon.status, FullNetworkStatus::optimal) << "seed " << seed;
    ASSERT_TRUE(lemon.fits_int32);
    long long ours = last_objective(read_whole_file(r.dir + "Tarsel.est"));
    if (ours != lemon.optimum) {
      ++mismatches;
      ADD_FAILURE() << "seed " << seed << ": solver " << ours << ", LEMON " << lemon.optimum;
    }
    EXPECT_EQ(std::atoll(read_whole_file(r.dir + "Tarsel.sol").c_str()), lemon.optimum) << "seed " << seed;
    EXPECT_EQ(r.run->counters.num_buses, lemon.vehicles) << "seed " << seed;
    EXPECT_TRUE(r.run->net.feasible);
    EXPECT_EQ(full_network_certificate_failure(r), "") << "seed " << seed;
    ++checked;
    with_groups += shape.groups;
    remove_dir(r.dir);
  }
  std::printf("checked %d problems (%d with groups), %d mismatches\n", checked, with_groups, mismatches);
}

// A block of the block file, as the trips it serves with what it prints.
struct BlockLine {
  std::string from, to;
  int departure = 0, arrival = 0, dead_run = 0, waiting = 0;
  bool after_depot_return = false;
  int parking_before = 0, to_depot_before = 0;
};
struct Block {
  std::vector<BlockLine> trips;
  int pull_in = 0;
  int dead_run = 0, layover = 0, parking = 0;
};
struct BlockFile {
  int vehicles = -1;
  std::vector<Block> blocks;
  int total_dead_run = -1, total_layover = -1, total_parking = -1, returns = -1, scheduling_cost = -1;
};

int parse_hhmm(const std::string& s) {
  int h = 0, m = 0;
  std::sscanf(s.c_str(), "%d:%d", &h, &m);
  return h * 60 + (h < 0 ? -m : m);
}

BlockFile parse_block_file(const std::string& text) {
  BlockFile bf;
  std::istringstream in(text);
  std::string line;
  bool statistics = false;
  int pending_parking = -1, pending_to_depot = 0;
  while (std::getline(in, line)) {
    char a[32], b[32], dep[16], arr[16], hm[16];
    int n, dr, w, v;
    float key;
    if (std::sscanf(line.c_str(), "#Blocks of trip with number of buses: %d", &v) == 1) bf.vehicles = v;
    if (line.rfind(" <Vehicle Block", 0) == 0) bf.blocks.emplace_back();
    if (line.rfind("----- Statistics", 0) == 0) statistics = true;
    if (std::sscanf(line.c_str(), "%d %31s %15s %31s %15s %d %d %f", &n, a, dep, b, arr, &dr, &w, &key) == 8 &&
        !statistics) {
      BlockLine bl{a, b, parse_hhmm(dep), parse_hhmm(arr), dr, w, pending_parking >= 0, 0, 0};
      if (bl.after_depot_return) {
        bl.parking_before = pending_parking;
        bl.to_depot_before = pending_to_depot;
      }
      pending_parking = -1;
      bf.blocks.back().trips.push_back(bl);
    }
    if (std::sscanf(line.c_str(), "    Return to Depot: %31s & Park for %15s %d", a, hm, &dr) == 3) {
      pending_parking = parse_hhmm(hm);
      pending_to_depot = dr;
    }
    if (std::sscanf(line.c_str(), "Return to the Depot: %31s - DeadRun: %d", a, &dr) == 2) bf.blocks.back().pull_in = dr;
    int *block_target = nullptr, *total_target = nullptr;
    if (line.rfind("Total Dead Run", 0) == 0) block_target = &bf.blocks.back().dead_run, total_target = &bf.total_dead_run;
    if (line.rfind("Total Extra Layover", 0) == 0) block_target = &bf.blocks.back().layover;
    if (line.rfind("Total Layover", 0) == 0) total_target = &bf.total_layover;
    if (line.rfind("Total Parking at Depot", 0) == 0)
      block_target = &bf.blocks.back().parking, total_target = &bf.total_parking;
    size_t tab = line.find('\t');
    if ((block_target || total_target) && tab != std::string::npos) {
      int value = parse_hhmm(line.substr(tab + 1));
      if (statistics && total_target) *total_target = value;
      if (!statistics && block_target) *block_target = value;
    }
    if (std::sscanf(line.c_str(), "Total Depot Returns: \t %d", &v) == 1) bf.returns = v;
    if (std::sscanf(line.c_str(), "Total Scheduling Cost:\t %d", &v) == 1) bf.scheduling_cost = v;
  }
  return bf;
}

void check_blocks(const std::string& dir, const Problem& problem, const std::string& what) {
  SCOPED_TRACE(what);
  BlockFile bf = parse_block_file(read_whole_file(dir + "Tarsel.bla"));
  const auto& dr = problem.deadrun_matrix;
  auto terminal = [&](const std::string& name) {
    for (int t = 0; t < problem.num_terminals; ++t)
      if (name == problem.terminal_names[t]) return t;
    return -1;
  };
  // Trips are identified by what the block line shows; equal trips are counted.
  std::map<std::tuple<int, int, int, int>, int> unserved;
  for (int i = 1; i <= problem.num_trips; ++i) {
    const Trip& t = problem.trips[i];
    unserved[{t.origin_terminal, t.departure_time, t.destination_terminal, t.arrival_time}] += 1;
  }
  int served = 0, dead_run = 0, layover = 0, parking = 0, returns = 0;
  for (const Block& block : bf.blocks) {
    ASSERT_FALSE(block.trips.empty());
    int block_dead = 0, block_layover = 0, block_parking = 0;
    for (size_t k = 0; k < block.trips.size(); ++k) {
      const BlockLine& bl = block.trips[k];
      int o = terminal(bl.from), d = terminal(bl.to);
      auto it = unserved.find({o, bl.departure, d, bl.arrival});
      ASSERT_TRUE(it != unserved.end() && it->second > 0) << "trip " << bl.from << " " << bl.departure;
      it->second -= 1;
      ++served;
      if (k == 0) {
        EXPECT_EQ(bl.dead_run, dr[0][o]);
        EXPECT_EQ(bl.waiting, 0);
      } else {
        const BlockLine& prev = block.trips[k - 1];
        int pd = terminal(prev.to);
        int gap = bl.departure - prev.arrival;
        if (bl.after_depot_return) {
          EXPECT_EQ(bl.to_depot_before, dr[pd][0]);
          EXPECT_EQ(bl.dead_run, dr[0][o]);
          EXPECT_EQ(bl.parking_before, gap - dr[pd][0] - dr[0][o]);
          EXPECT_GE(bl.parking_before, problem.params.min_depot_time);
          block_dead += bl.to_depot_before;
          block_parking += bl.parking_before;
          ++returns;
        } else {
          // Time-feasible: the direct dead run fits in the gap.
          EXPECT_EQ(bl.dead_run, dr[pd][o]);
          EXPECT_GE(bl.waiting, 0) << "infeasible connection";
          EXPECT_EQ(bl.waiting, gap - bl.dead_run);
        }
      }
      block_dead += bl.dead_run;
      block_layover += bl.waiting;
    }
    EXPECT_EQ(block.pull_in, dr[terminal(block.trips.back().to)][0]);
    block_dead += block.pull_in;
    EXPECT_EQ(block.dead_run, block_dead);
    EXPECT_EQ(block.layover, block_layover);
    EXPECT_EQ(block.parking, block_parking);
    dead_run += block_dead;
    layover += block_layover;
    parking += block_parking;
  }
  EXPECT_EQ(served, problem.num_trips);
  EXPECT_EQ(static_cast<int>(bf.blocks.size()), bf.vehicles);
  EXPECT_EQ(bf.total_dead_run, dead_run);
  EXPECT_EQ(bf.total_layover, layover);
  EXPECT_EQ(bf.total_parking, parking);
  EXPECT_EQ(bf.returns, returns);
  const Parameters& p = problem.params;
  EXPECT_EQ(bf.scheduling_cost, p.deadrun_weight * dead_run + p.layover_weight * layover + p.min_depot_time * returns);
}

TEST(BlockProperty, GeneratedInstancesGiveSoundBlocks) {
  struct Size {
    int trips, terminals, groups;
  };
  std::vector<Size> sizes;
  for (int k = 0; k < 54; ++k) {
    int trips = k < 40 ? 10 + 7 * k : (k < 50 ? 300 + 40 * (k - 40) : 1000 - 50 * (53 - k));
    sizes.push_back({trips, 5 + k % 30, k % 5 == 2 ? 1 + k % 3 : 0});
  }
  int checked = 0;
  for (size_t k = 0; k < sizes.size(); ++k) {
    const Size& s = sizes[k];
    std::string dir = make_temp_dir("blocks_prop");
    std::string command = std::string("python3 ") + GEN_INSTANCE + " --trips " + std::to_string(s.trips) +
                          " --terminals " + std::to_string(s.terminals) + " --seed " + std::to_string(100 + k) +
                          (s.groups ? " --groups " + std::to_string(s.groups) : std::string()) + " " + dir +
                          " 2>/dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    ProgramResult r = run_program(TOVARIN_PATH, dir, "x", 600);
    ASSERT_EQ(r.exit_code, 0) << r.output;

    Problem problem;
    testing::internal::CaptureStdout();
    read_problem(dir, problem);
    testing::internal::GetCapturedStdout();
    std::string what = "instance " + std::to_string(k) + ": " + std::to_string(s.trips) + " trips";
    check_blocks(dir, problem, what);

    // The block count is the return arc's flow and the solution the optimum.
    FullNetworkResult lemon = solve_full_network(problem);
    ASSERT_EQ(lemon.status, FullNetworkStatus::optimal) << what;
    EXPECT_EQ(std::atoll(read_whole_file(dir + "Tarsel.sol").c_str()), lemon.optimum) << what;
    std::string arm = read_whole_file(dir + "Tarsel.arm");
    char buses[64];
    std::snprintf(buses, sizeof buses, "\n %-23s%16lld\n", "Num Buses: ", static_cast<long long>(lemon.vehicles));
    EXPECT_NE(arm.find(buses), std::string::npos) << what;
    ++checked;
    remove_dir(dir);
  }
  std::printf("checked the blocks of %d generated instances\n", checked);
}

}  // namespace
