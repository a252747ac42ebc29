// The fast solve against the plain out-of-kilter steps: on random
// vehicle scheduling problems (the solve and arc generation loop of a run, in
// process), on random small networks of every odd kind, and as whole runs of
// both programs. Flows, reduced costs, iteration counts, iteration file rows
// and report files must come out the same; prices may differ by a constant.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "solver/arcgen.h"
#include "solver/kilter.h"
#include "solver/kilter_steps.h"
#include "solver/network.h"
#include "tests/support/certificate.h"
#include "tests/support/random_problem.h"
#include "tests/support/run_program.h"

using namespace solver;

namespace {

// One implementation's network, state and iteration file. The tables are
// large, so one side serves many problems: every build sets what a solve reads.
struct Side {
  std::unique_ptr<Network> net = std::make_unique<Network>();
  KilterState ks;
  RunCounters counters;
  char* text = nullptr;
  size_t size = 0;
  FILE* est = nullptr;

  Side() { start(); }
  ~Side() { stop(); }
  void start() {
    stop();
    est = open_memstream(&text, &size);
    counters = RunCounters{};
    ks.price.assign(ks.price.size(), 0);
  }
  void stop() {
    if (est) std::fclose(est);
    est = nullptr;
    std::free(text);
    text = nullptr;
  }
  std::string rows() {
    std::fflush(est);
    return std::string(text, size);
  }
};

// inflow: the balances the solve started from (empty: a circulation).
::testing::AssertionResult same_state(const Network& fast, const KilterState& fks, const Network& plain,
                                      const KilterState& pks, const std::vector<long long>& inflow = {}) {
  if (fast.num_arcs != plain.num_arcs)
    return ::testing::AssertionFailure() << "arcs " << fast.num_arcs << " vs " << plain.num_arcs;
  if (fast.feasible != plain.feasible)
    return ::testing::AssertionFailure() << "feasible " << fast.feasible << " vs " << plain.feasible;
  if (fks.solve_iterations != pks.solve_iterations)
    return ::testing::AssertionFailure() << "iterations " << fks.solve_iterations << " vs " << pks.solve_iterations;
  for (int k = 1; k <= fast.num_arcs; ++k) {
    if (fast.flow[k] != plain.flow[k])
      return ::testing::AssertionFailure() << "flow of arc " << k << ": " << fast.flow[k] << " vs " << plain.flow[k];
    int frc = reduced_cost(fast, fks, k), prc = reduced_cost(plain, pks, k);
    if (frc != prc) return ::testing::AssertionFailure() << "reduced cost of arc " << k << ": " << frc << " vs " << prc;
  }
  for (int v = 2; v <= fast.num_nodes; ++v)
    if (fks.price[v] - fks.price[1] != pks.price[v] - pks.price[1])
      return ::testing::AssertionFailure() << "price of node " << v << " against node 1";
  for (std::string broken : {certificate_failure(fast, fks, inflow), certificate_failure(plain, pks, inflow)})
    if (!broken.empty()) return ::testing::AssertionFailure() << "certificate: " << broken;
#ifdef TARSEL_CHECK_INVARIANTS
  for (std::string broken : {check_invariants(fast, fks), check_invariants(plain, pks)})
    if (!broken.empty()) return ::testing::AssertionFailure() << broken;
#endif
  return ::testing::AssertionSuccess();
}

// The driver's loop on both sides: solve, then price the long records, while
// arcs are added.
void solve_both_ways(const Problem& problem, const std::string& dir, Side& fast, Side& plain) {
  fast.start();
  plain.start();
  ::testing::internal::CaptureStdout();
  build_network(problem, *fast.net, dir + "fast.lng");
  build_network(problem, *plain.net, dir + "plain.lng");
  ::testing::internal::GetCapturedStdout();
  reset_kilter(fast.ks);
  reset_kilter(plain.ks);
  for (int pass = 0;; ++pass) {
    ASSERT_LT(pass, 500) << "arc generation does not end";
    std::fprintf(fast.est, "%d", pass);
    std::fprintf(plain.est, "%d", pass);
    solve_circulation(*fast.net, fast.ks, fast.counters, fast.est);
    solve_circulation_by_steps(*plain.net, plain.ks, plain.counters, plain.est);
    ASSERT_TRUE(same_state(*fast.net, fast.ks, *plain.net, plain.ks)) << "after solve " << pass;
    bool more = generate_arcs(*fast.net, fast.ks, fast.counters, problem.num_trips, dir + "fast.lng", fast.est);
    bool plain_more =
        generate_arcs(*plain.net, plain.ks, plain.counters, problem.num_trips, dir + "plain.lng", plain.est);
    ASSERT_EQ(more, plain_more) << "after pass " << pass;
    if (!more) break;
  }
  EXPECT_EQ(fast.counters.total_iterations, plain.counters.total_iterations);
  EXPECT_EQ(fast.counters.longs_included, plain.counters.longs_included);
  EXPECT_EQ(mask_times(fast.rows()), mask_times(plain.rows()));
  EXPECT_EQ(read_whole_file(dir + "fast.lng"), read_whole_file(dir + "plain.lng"));
}

class SolveLoop : public ::testing::Test {
 protected:
  void SetUp() override { dir = make_temp_dir("identity"); }
  void TearDown() override { remove_dir(dir); }

  void check_family(unsigned first_seed, int count, const RandomProblemShape& shape) {
    for (unsigned seed = first_seed; seed < first_seed + count; ++seed) {
      Problem problem = random_problem(seed, shape);
      SCOPED_TRACE("seed " + std::to_string(seed) + ", " + std::to_string(problem.num_trips) + " trips");
      solve_both_ways(problem, dir, fast, plain);
      if (HasFatalFailure()) return;
    }
  }
  std::string dir;
  Side fast, plain;
};

TEST_F(SolveLoop, SmallProblems) {
  RandomProblemShape shape;
  shape.min_trips = 5;
  shape.max_trips = 40;
  check_family(1, 40, shape);
}

TEST_F(SolveLoop, MediumProblemsWithManyTerminals) {
  RandomProblemShape shape;
  shape.min_trips = 40;
  shape.max_trips = 160;
  shape.max_terminals = 20;
  check_family(1001, 30, shape);
}

TEST_F(SolveLoop, ProblemsWithLinkPreferenceGroups) {
  RandomProblemShape shape;
  shape.min_trips = 5;
  shape.max_trips = 160;
  shape.groups = true;
  check_family(2001, 30, shape);
}

TEST_F(SolveLoop, LargeProblems) {
  RandomProblemShape shape;
  shape.min_trips = 250;
  shape.max_trips = 400;
  shape.max_terminals = 12;
  check_family(3001, 4, shape);
  shape.groups = true;
  check_family(3101, 3, shape);
}

// Random networks of no particular shape: negative costs and bounds, flows
// outside their bounds at the start, parallel arcs, loops, lower bounds above
// upper ones, arcs added between solves.
struct ArcDraw {
  int tail, head, lower, upper, cost, flow;
};

ArcDraw draw_arc(std::mt19937& rng, int nodes, bool allow_crossed_bounds) {
  auto uniform = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  ArcDraw d;
  d.tail = uniform(1, nodes);
  d.head = uniform(0, 19) == 0 ? d.tail : uniform(1, nodes);
  d.lower = uniform(0, 9) < 7 ? 0 : uniform(-2, 2);
  d.upper = d.lower + uniform(0, 3);
  if (allow_crossed_bounds && uniform(0, 29) == 0) d.upper = d.lower - 1;
  d.cost = uniform(-20, 40);
  d.flow = uniform(0, 3) == 0 ? uniform(d.lower - 1, d.upper + 1) : 0;
  return d;
}

void add_drawn_arc(Network& net, const ArcDraw& d) {
  ++net.num_arcs;
  add_arc(net, net.num_arcs, d.tail, d.head, d.lower, d.upper, d.cost, d.flow);
}

// The arcs in the lists, then the flows they start with (prepare_network
// zeroes them).
void make_network(Network& net, int nodes, const std::vector<ArcDraw>& arcs) {
  net.num_nodes = nodes;
  net.num_arcs = 0;
  net.feasible = true;
  for (const ArcDraw& d : arcs) add_drawn_arc(net, d);
  prepare_network(net);
  int k = 0;
  for (const ArcDraw& d : arcs) net.flow[++k] = d.flow;
}

TEST(SolveRandomNetworks, FastAndPlainAgreeOnEveryKind) {
  int infeasible = 0;
  Side fast, plain;
  for (unsigned seed = 1; seed <= 300; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 rng(seed);
    auto uniform = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    fast.start();
    plain.start();
    const int nodes = uniform(2, 24);
    std::vector<ArcDraw> drawn(uniform(1, 4 * nodes));
    // One network in ten may have crossed bounds, which rules out a circulation.
    for (ArcDraw& d : drawn) d = draw_arc(rng, nodes, seed % 10 == 0);
    make_network(*fast.net, nodes, drawn);
    make_network(*plain.net, nodes, drawn);
    for (int v = 1; v <= nodes; ++v) fast.ks.price[v] = plain.ks.price[v] = uniform(-30, 30);

    for (int round = 0; round < 4; ++round) {
      // Drawn flows need not balance; a solve keeps the balances they have.
      const std::vector<long long> inflow = node_inflow(*fast.net);
      solve_circulation(*fast.net, fast.ks, fast.counters, fast.est);
      solve_circulation_by_steps(*plain.net, plain.ks, plain.counters, plain.est);
      ASSERT_TRUE(same_state(*fast.net, fast.ks, *plain.net, plain.ks, inflow)) << "round " << round;
      // New arcs join at the ends of their lists, as arc generation adds them.
      for (int k = uniform(0, 3); k > 0; --k) {
        ArcDraw d = draw_arc(rng, nodes, false);
        for (Network* side : {fast.net.get(), plain.net.get()}) {
          add_drawn_arc(*side, d);
          link_arc(*side, side->num_arcs);
        }
      }
    }
    if (!fast.net->feasible) ++infeasible;
    EXPECT_EQ(mask_times(fast.rows()), mask_times(plain.rows()));
  }
  // Both endings of a solve must have been met.
  EXPECT_GT(infeasible, 10);
  EXPECT_LT(infeasible, 290);
}

TEST(SolveRareCases, LoopArcOutOfKilter) {
  Side fast, plain;
  // Arc 2 is a loop at node 1 whose flow must rise; arc 1 is a plain arc.
  std::vector<ArcDraw> arcs{{1, 2, 0, 1, 3, 0}, {1, 1, 0, 2, -4, 0}, {2, 1, 0, 1, 1, 0}};
  make_network(*fast.net, 2, arcs);
  make_network(*plain.net, 2, arcs);
  solve_circulation(*fast.net, fast.ks, fast.counters, nullptr);
  solve_circulation_by_steps(*plain.net, plain.ks, plain.counters, nullptr);
  EXPECT_TRUE(same_state(*fast.net, fast.ks, *plain.net, plain.ks));
  EXPECT_EQ(fast.net->flow[2], 2);
}

TEST(SolveRareCases, CycleWithoutABoundChangesNoFlow) {
  Side fast, plain;
  // Arc 1 must rise; the only cycle has room beyond the infinite bound, so no
  // flow changes, and the price change finds nothing: no feasible circulation.
  std::vector<ArcDraw> arcs{{1, 2, 0, 3000000, -5, 5}, {2, 1, 0, 3000000, 0, 5}};
  make_network(*fast.net, 2, arcs);
  make_network(*plain.net, 2, arcs);
  solve_circulation(*fast.net, fast.ks, fast.counters, nullptr);
  solve_circulation_by_steps(*plain.net, plain.ks, plain.counters, nullptr);
  EXPECT_TRUE(same_state(*fast.net, fast.ks, *plain.net, plain.ks));
  EXPECT_FALSE(fast.net->feasible);
  EXPECT_EQ(fast.ks.solve_iterations, 1);
  EXPECT_EQ(fast.net->flow[1], 5);
}

// Every list reversed, so that it no longer runs in arc order.
void reverse_lists(Network& net) {
  for (int v = 1; v <= net.num_nodes; ++v) {
    std::vector<int> out, in;
    for (int e = net.first_out[v]; e != 0; e = net.next_out[e]) out.push_back(e);
    for (int e = net.first_in[v]; e != 0; e = net.next_in[e]) in.push_back(e);
    int next = 0;
    for (int e : out) net.next_out[e] = std::exchange(next, e);
    net.first_out[v] = next;
    net.last_out[v] = out.empty() ? 0 : out.front();
    next = 0;
    for (int e : in) net.next_in[e] = std::exchange(next, e);
    net.first_in[v] = next;
    net.last_in[v] = in.empty() ? 0 : in.front();
  }
}

TEST(SolveRareCases, ListsOutOfArcOrderAreFollowedAsTheyStand) {
  // The labeling follows the lists, whatever order they hold the arcs in.
  Side fast, plain;
  RandomProblemShape shape;
  shape.max_trips = 60;
  std::string dir = make_temp_dir("identity_lists");
  for (unsigned seed = 501; seed <= 520; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    Problem problem = random_problem(seed, shape);
    fast.start();
    plain.start();
    ::testing::internal::CaptureStdout();
    build_network(problem, *fast.net, dir + "fast.lng");
    build_network(problem, *plain.net, dir + "plain.lng");
    ::testing::internal::GetCapturedStdout();
    reverse_lists(*fast.net);
    reverse_lists(*plain.net);
    for (int pass = 0; pass < 50; ++pass) {
      solve_circulation(*fast.net, fast.ks, fast.counters, nullptr);
      solve_circulation_by_steps(*plain.net, plain.ks, plain.counters, nullptr);
      ASSERT_TRUE(same_state(*fast.net, fast.ks, *plain.net, plain.ks)) << "after solve " << pass;
      bool more = generate_arcs(*fast.net, fast.ks, fast.counters, problem.num_trips, dir + "fast.lng", nullptr);
      generate_arcs(*plain.net, plain.ks, plain.counters, problem.num_trips, dir + "plain.lng", nullptr);
      if (!more) break;
    }
  }
  remove_dir(dir);
}

// The sides above are reused from problem to problem; a new network must
// still start from empty tables, also where an earlier one left its arcs in
// memory that is handed out again.
TEST(SolverTables, NewNetworksStartEmpty) {
  for (int round = 0; round < 3; ++round) {
    auto net = std::make_unique<Network>();
    for (int k : {0, 1, MAX_ARCS / 2, MAX_ARCS}) {
      EXPECT_EQ(net->tail[k], 0) << k;
      EXPECT_EQ(net->flow[k], 0) << k;
      EXPECT_EQ(net->next_in[k], 0) << k;
    }
    EXPECT_EQ(static_cast<int>(net->cost.size()), MAX_ARCS + 1);
    for (int k = 1; k <= MAX_ARCS; k += 997) net->tail[k] = net->flow[k] = net->next_in[k] = k;
    Network copy = *net;
    EXPECT_EQ(copy.flow[998], 998);
  }
}

// Whole runs of the two programs on the same files.
class WholeRuns : public ::testing::Test {
 protected:
  void SetUp() override {
    fast_dir = make_temp_dir("identity_fast");
    plain_dir = make_temp_dir("identity_plain");
  }
  void TearDown() override {
    remove_dir(fast_dir);
    remove_dir(plain_dir);
  }
  void compare_runs() {
    ProgramResult fast = run_program(TOVARIN_PATH, fast_dir, "x");
    ProgramResult plain = run_program(TOVARIN_REFERENCE_PATH, plain_dir, "x");
    ASSERT_EQ(fast.exit_code, plain.exit_code) << fast.output;
    EXPECT_EQ(mask_times(fast.output), mask_times(plain.output));
    for (const char* ext : {".log", ".est", ".lus", ".arm", ".sol", ".bla"}) {
      std::string name = std::string("Tarsel") + ext;
      EXPECT_EQ(mask_times(read_whole_file(fast_dir + name)), mask_times(read_whole_file(plain_dir + name))) << name;
    }
  }
  std::string fast_dir, plain_dir;
};

TEST_F(WholeRuns, RandomProblemsGiveTheSameFiles) {
  struct Case {
    unsigned seed;
    int min_trips, max_trips, max_terminals;
    bool groups;
  };
  for (const Case& c : {Case{11, 5, 20, 5, false}, Case{12, 60, 120, 10, false}, Case{13, 150, 250, 15, false},
                        Case{14, 250, 350, 20, false}, Case{15, 5, 40, 6, true}, Case{16, 80, 160, 8, true},
                        Case{17, 200, 300, 10, true}}) {
    SCOPED_TRACE("seed " + std::to_string(c.seed));
    RandomProblemShape shape;
    shape.min_trips = c.min_trips;
    shape.max_trips = c.max_trips;
    shape.max_terminals = c.max_terminals;
    shape.groups = c.groups;
    Problem problem = random_problem(c.seed, shape);
    write_problem_files(fast_dir, problem);
    write_problem_files(plain_dir, problem);
    compare_runs();
  }
}

TEST_F(WholeRuns, BundledExamplesGiveTheSameFiles) {
  for (const char* example : {"small", "medium", "groups"}) {
    SCOPED_TRACE(example);
    std::string from = std::string(SOURCE_DIR) + "/examples/" + example + "/";
    for (const char* name : {"Tarsel.ini", "Tarsel.bss", "Tarsel.prr"}) {
      if (!std::ifstream(from + name)) {
        std::remove((fast_dir + name).c_str());
        std::remove((plain_dir + name).c_str());
        continue;
      }
      copy_file(from + name, fast_dir + name);
      copy_file(from + name, plain_dir + name);
    }
    compare_runs();
  }
}

}  // namespace
