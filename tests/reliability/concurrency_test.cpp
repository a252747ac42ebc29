// Runs in separate directories at the same time never meet: two solvers and
// an annealer started together leave exactly the reports that each leaves
// when it runs alone.
#include <gtest/gtest.h>

#include <filesystem>
#include <future>
#include <map>

#include "tests/reliability/reliability_support.h"
#include "tests/support/random_problem.h"

namespace {

const std::string kGenInstance = std::string(TARSEL_SOURCE_DIR) + "/tools/gen_instance";

std::map<std::string, std::string> reports(const std::string& dir) {
  std::map<std::string, std::string> out;
  for (const char* ext : kReportExtensions) out[ext] = mask_times(read_whole_file(dir + "Tarsel" + ext));
  return out;
}

void remove_reports(const std::string& dir) {
  for (const char* ext : kReportExtensions) std::filesystem::remove(dir + "Tarsel" + ext);
}

void generate(const std::string& dir, const std::string& arguments) {
  const std::string command = "python3 '" + kGenInstance + "' " + arguments + " '" + dir + "' >/dev/null 2>&1";
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
}

void expect_same_reports(const std::map<std::string, std::string>& actual,
                         const std::map<std::string, std::string>& alone, const std::string& what) {
  for (const auto& [ext, text] : alone) EXPECT_EQ(actual.at(ext), text) << what << ": Tarsel" << ext;
}

TEST(Concurrency, TwoSolversAndAnAnnealerGiveWhatEachGivesAlone) {
  ScopedSandbox a("concurrent_a"), b("concurrent_b"), c("concurrent_c");
  generate(a.dir, "--trips 1500 --terminals 30 --seed 21");
  generate(b.dir, "--trips 900 --terminals 12 --groups 4 --seed 22");
  copy_example("groups", c.dir);

  ProgramResult alone_a = run_program(kTovarin, a.dir, "x");
  ProgramResult alone_b = run_program(kTovarin, b.dir, "x");
  ASSERT_EQ(alone_a.exit_code, 0) << last_line(alone_a.output);
  ASSERT_EQ(alone_b.exit_code, 0) << last_line(alone_b.output);
  const auto expected_a = reports(a.dir), expected_b = reports(b.dir);

  // The annealer runs the real solver 26 times; the two solvers run three
  // times each meanwhile, started together every time.
  auto annealer = std::async(std::launch::async, [&] { return run_program(kBinDir + "/Lurrick", c.dir, "", 300); });
  for (int round = 0; round < 3; ++round) {
    remove_reports(a.dir);
    remove_reports(b.dir);
    auto run_a = std::async(std::launch::async, [&] { return run_program(kTovarin, a.dir, "x"); });
    auto run_b = std::async(std::launch::async, [&] { return run_program(kTovarin, b.dir, "x"); });
    ProgramResult ra = run_a.get(), rb = run_b.get();
    ASSERT_EQ(ra.exit_code, 0) << last_line(ra.output);
    ASSERT_EQ(rb.exit_code, 0) << last_line(rb.output);
    EXPECT_EQ(mask_times(ra.output), mask_times(alone_a.output));
    EXPECT_EQ(mask_times(rb.output), mask_times(alone_b.output));
    expect_same_reports(reports(a.dir), expected_a, "first solver, round " + std::to_string(round));
    expect_same_reports(reports(b.dir), expected_b, "second solver, round " + std::to_string(round));
  }
  ProgramResult annealed = annealer.get();
  ASSERT_EQ(annealed.exit_code, 0) << last_line(annealed.output);

  // The annealer's last solver run priced the trip file it left; the solver
  // alone on that file gives the same reports.
  ScopedSandbox d("concurrent_d");
  for (const char* name : {"Tarsel.ini", "Tarsel.bss", "Tarsel.prr"}) copy_file(c.dir + name, d.dir + name);
  ProgramResult alone_d = run_program(kTovarin, d.dir, "x");
  ASSERT_EQ(alone_d.exit_code, 0) << last_line(alone_d.output);
  expect_same_reports(reports(c.dir), reports(d.dir), "annealer");

  for (const Sandbox* box : {&a, &b, &c, &d}) {
    EXPECT_EQ(strays(*box), std::vector<std::string>{});
    EXPECT_FALSE(std::filesystem::exists(box->dir + "temp.lng"));
  }
}

}  // namespace
