// Every bundled example input, cut short and with single fields damaged, run
// through the real Tovarin in a fresh directory. A run must end in time
// either with code 0 and all six reports complete (and then with the optimum
// of the problem it read), or with code 1 and a message; never by a signal,
// with a sanitizer's report, or with a file written beside the problem
// directory.
#include <gtest/gtest.h>

#include <filesystem>
#include <iostream>
#include <map>
#include <memory>
#include <set>

#include "common/common.h"
#include "solver/problem.h"
#include "tests/reliability/damage.h"
#include "tests/reliability/reliability_support.h"
#include "tests/support/random_problem.h"
#ifdef TARSEL_HAVE_LEMON
#include "bench/full_network.h"

using namespace common;
using namespace solver;
#endif

namespace {

constexpr int kStride = kSanitized ? kSanitizedStride : 1;
constexpr int kTimeoutSeconds = kSanitized ? 30 : 5;

// Lines a normal run prints; a failed run must end on something else.
const char* const kProgressLines[] = {"The problem is:", "Reading file", "Total of trips:", "DeadRunMult:",
                                      "Minimum Depot:", "DeadrunWeight:", "LayoverWeight:", "Short Arc Parameter:",
                                      "Generating network", "Total of Nodes", "Total of Short Arcs",
                                      "Total of Long Arcs", "Optimizing", "Solving problem number"};

struct SweepCase {
  const char* example;
  const char* file;    // the input damaged
  int byte_cuts;       // offsets tried besides the line ends
  int sample;          // 0: every copy; n: about n copies of each kind
};

std::ostream& operator<<(std::ostream& out, const SweepCase& c) { return out << c.example << "/" << c.file; }

struct Tally {
  int exit0 = 0;
  int exit1 = 0;
};

class TovarinSweep : public ::testing::TestWithParam<SweepCase> {
 protected:
  void SetUp() override { cwd_before_ = list_dir("."); }
  void TearDown() override { EXPECT_EQ(list_dir("."), cwd_before_) << "a run wrote into the test's own directory"; }

  // One run on one damaged copy; failures name the copy.
  void run_one(const DamagedCopy& copy) {
    const SweepCase& c = GetParam();
    const std::string what = std::string(c.example) + "/" + c.file + ", " + damage_name(copy.damage) + ", " + copy.where;
    ScopedSandbox box("sweep");
    copy_example(c.example, box.dir);
    write_whole_file(box.dir + c.file, copy.content);
    const std::vector<std::string> inputs = list_dir(box.dir);

    ProgramResult r = run_program(kTovarin, box.dir, "x", kTimeoutSeconds);
    EXPECT_EQ(r.signal, 0) << what << ": ended by signal " << r.signal << "\n" << r.output;
    EXPECT_FALSE(has_fault_report(r.output)) << what << "\n" << r.output;
    EXPECT_TRUE(r.exit_code == 0 || r.exit_code == 1) << what << ": exit code " << r.exit_code;
    EXPECT_EQ(strays(box), std::vector<std::string>{}) << what << ": files written beside the problem directory";

    std::set<std::string> allowed(inputs.begin(), inputs.end());
    for (const char* ext : kReportExtensions) allowed.insert(std::string("Tarsel") + ext);
    allowed.insert("Tarsel.lock");
    for (const std::string& name : list_dir(box.dir))
      EXPECT_TRUE(allowed.count(name)) << what << ": unexpected file " << name;
    EXPECT_FALSE(std::filesystem::exists(box.dir + "temp.lng")) << what;

    Tally& tally = tallies_[copy.damage];
    if (r.exit_code == 0) {
      ++tally.exit0;
      EXPECT_EQ(incomplete_outputs(box.dir), "") << what;
      check_optimum(box.dir, what);
    } else if (r.exit_code == 1) {
      ++tally.exit1;
      const std::string message = last_line(r.output);
      EXPECT_FALSE(message.empty()) << what;
      for (const char* progress : kProgressLines)
        EXPECT_EQ(message.find(progress), std::string::npos) << what << ": ends without a message:\n" << r.output;
      messages_.insert(message.substr(0, message.find_first_of("0123456789")));
    }
  }

  // A run that ends well must have found the optimum of the problem as its
  // own readers take it from the damaged files.
  void check_optimum(const std::string& dir, const std::string& what) {
#ifdef TARSEL_HAVE_LEMON
    auto problem = std::make_unique<Problem>();
    try {
      QuietStdout quiet;
      read_problem(dir, *problem);
    } catch (const FatalError& error) {
      ADD_FAILURE() << what << ": the solver finished on files its readers refuse: " << error.message;
      return;
    }
    FullNetworkResult reference = solve_full_network(*problem);
    if (reference.status != FullNetworkStatus::optimal || !reference.fits_int32) return;
    EXPECT_EQ(std::stoll(read_whole_file(dir + "Tarsel.sol")), reference.optimum) << what;
#else
    (void)dir;
    (void)what;
#endif
  }

  void report() {
    const SweepCase& c = GetParam();
    std::cout << "[sweep] " << c.example << "/" << c.file << (kSanitized ? " (sampled)" : "") << ":";
    for (Damage damage : kAllDamage) {
      const Tally& t = tallies_[damage];
      std::cout << " " << damage_name(damage) << " " << t.exit0 + t.exit1 << " (exit 0: " << t.exit0
                << ", exit 1: " << t.exit1 << ");";
    }
    std::cout << "\n";
    for (const std::string& m : messages_) std::cout << "[sweep]   exit 1 message: " << m << "\n";
  }

  std::vector<std::string> cwd_before_;
  std::map<Damage, Tally> tallies_;
  std::set<std::string> messages_;
};

TEST_P(TovarinSweep, EveryRunEndsCleanly) {
  const SweepCase& c = GetParam();
  const std::string original = read_whole_file(kExamplesDir + c.example + "/" + c.file);
  ASSERT_FALSE(original.empty());
  std::vector<DamagedCopy> copies = damaged_copies(original, c.byte_cuts, kStride);
  if (c.sample > 0) {
    // A big file: about `sample` copies of each kind, spread over the file.
    std::vector<DamagedCopy> sampled;
    for (Damage damage : kAllDamage) {
      std::vector<const DamagedCopy*> of_kind;
      for (const DamagedCopy& copy : copies)
        if (copy.damage == damage) of_kind.push_back(&copy);
      const int sample = kSanitized ? (c.sample + 2) / 3 : c.sample;
      const size_t step = of_kind.size() / static_cast<size_t>(sample) + 1;
      for (size_t i = 0; i < of_kind.size(); i += step) sampled.push_back(*of_kind[i]);
    }
    copies = sampled;
  }
  for (const DamagedCopy& copy : copies) run_one(copy);
  report();
}

INSTANTIATE_TEST_SUITE_P(Examples, TovarinSweep,
                         ::testing::Values(SweepCase{"small", "Tarsel.ini", 30, 0},
                                           SweepCase{"small", "Tarsel.bss", 40, 0},
                                           SweepCase{"groups", "Tarsel.ini", 30, 0},
                                           SweepCase{"groups", "Tarsel.bss", 40, 0},
                                           SweepCase{"groups", "Tarsel.prr", 30, 0},
                                           SweepCase{"medium", "Tarsel.ini", 10, 0},
                                           SweepCase{"medium", "Tarsel.bss", 40, 12}),
                         [](const ::testing::TestParamInfo<SweepCase>& info) {
                           std::string name = std::string(info.param.example) + "_" + info.param.file;
                           for (char& ch : name)
                             if (ch == '.') ch = '_';
                           return name;
                         });

}  // namespace
