// The real Tovarin in fresh directories: the bundled small problem against
// the expected files (dates and clock times masked), and the ways a run ends
// on a problem it cannot take.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>

#include "tests/support/random_problem.h"
#include "tests/support/run_program.h"

namespace {

const std::string kSmall = std::string(SOURCE_DIR) + "/examples/small/";
const std::string kExpected = std::string(SOURCE_DIR) + "/tests/solver/expected/small/";

class TovarinProgram : public ::testing::Test {
 protected:
  void SetUp() override { dir = make_temp_dir("e2e"); }
  void TearDown() override { remove_dir(dir); }
  ProgramResult run(const std::string& input = "x") { return run_program(TOVARIN_PATH, dir, input); }
  std::string dir;
};

bool exists(const std::string& path) { return std::filesystem::exists(path); }

TEST_F(TovarinProgram, SmallExampleGivesTheExpectedFiles) {
  copy_file(kSmall + "Tarsel.ini", dir + "Tarsel.ini");
  copy_file(kSmall + "Tarsel.bss", dir + "Tarsel.bss");
  ProgramResult r = run();
  ASSERT_EQ(r.exit_code, 0) << r.output;
  EXPECT_EQ(mask_times(r.output), read_whole_file(kExpected + "console.txt"));
  for (const char* ext : {".log", ".est", ".lus", ".arm", ".sol", ".bla"}) {
    std::string actual = mask_times(read_whole_file(dir + "Tarsel" + ext));
    std::string expected = read_whole_file(kExpected + "Tarsel" + ext);
    EXPECT_EQ(actual, expected) << "Tarsel" << ext;
  }
  EXPECT_FALSE(exists(dir + "temp.lng"));

  // A second run replaces every report: the run log still holds one row.
  ProgramResult again = run();
  ASSERT_EQ(again.exit_code, 0);
  EXPECT_EQ(mask_times(read_whole_file(dir + "Tarsel.log")), read_whole_file(kExpected + "Tarsel.log"));
}

TEST_F(TovarinProgram, LeftoverLongArcFileIsReplaced) {
  copy_file(kSmall + "Tarsel.ini", dir + "Tarsel.ini");
  copy_file(kSmall + "Tarsel.bss", dir + "Tarsel.bss");
  FILE* f = std::fopen((dir + "temp.lng").c_str(), "wb");
  for (int i = 0; i < 1000; ++i) std::fputc(0x55, f);
  std::fclose(f);
  ProgramResult r = run();
  ASSERT_EQ(r.exit_code, 0) << r.output;
  EXPECT_EQ(read_whole_file(dir + "Tarsel.sol"), read_whole_file(kExpected + "Tarsel.sol"));
}

TEST_F(TovarinProgram, MissingParameterFileStopsAfterAKey) {
  copy_file(kSmall + "Tarsel.bss", dir + "Tarsel.bss");
  ProgramResult r = run();
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.output.find("\nFile Tarsel.ini not found\n"), std::string::npos) << r.output;
  EXPECT_FALSE(exists(dir + "Tarsel.sol"));
  // The run log was opened first and keeps what was written.
  EXPECT_TRUE(exists(dir + "Tarsel.log"));
}

TEST_F(TovarinProgram, TooManyTripsEndsWithTheLimitMessages) {
  Problem p = random_problem(7, RandomProblemShape{10, 10, 4, false});
  p.num_trips = 2735;
  for (int i = 11; i <= p.num_trips; ++i) p.trips[i] = p.trips[10];
  write_problem_files(dir, p);
  // No key is fed: the refusal does not wait for one.
  ProgramResult r = run("");
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.output.find("\nTotal of trips: 2735\nSYSTEM IS NOT ABLE TO SOLVE THIS PROBLEM \n"
                          "Total of trips greater than limite \n"),
            std::string::npos)
      << r.output;
  EXPECT_FALSE(exists(dir + "Tarsel.sol"));
}

TEST_F(TovarinProgram, SolutionOfAnEarlierRunIsLeftAloneByAFailedRun) {
  copy_file(kSmall + "Tarsel.ini", dir + "Tarsel.ini");
  FILE* f = std::fopen((dir + "Tarsel.sol").c_str(), "w");
  std::fputs("123\n", f);
  std::fclose(f);
  FILE* b = std::fopen((dir + "Tarsel.bss").c_str(), "w");
  std::fputs("[DEAD_RUN_MATRIX]\nNum. Terminals: 2\nx\nDEPOT A\nDEPOT 0:00", b);
  std::fclose(b);
  ProgramResult r = run();
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.output.find("ends inside the dead-run matrix"), std::string::npos) << r.output;
  EXPECT_EQ(read_whole_file(dir + "Tarsel.sol"), "123\n");
}

}  // namespace
