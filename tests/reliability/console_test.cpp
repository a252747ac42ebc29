// What the programs say and where: --help, -h and --version are answered on
// standard output with exit code 0, any other argument is refused on
// standard error with exit code 2, neither touching a file; and values read
// leniently are read as always, with a warning on standard error only.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>

#include "tests/reliability/reliability_support.h"
#include "tests/support/random_problem.h"

namespace {

struct Console {
  int exit_code = -1;
  std::string out;
  std::string err;
};

// Runs `program` in `dir` with standard input from `input` (a file name in
// dir, or /dev/null), keeping standard output and standard error apart.
Console run_console(const std::string& program, const std::string& dir, const std::string& arguments,
                    const std::string& input = "/dev/null") {
  const std::string out = dir + "../out", err = dir + "../err";
  const std::string command = "cd '" + dir + "' && '" + program + "' " + arguments + " <'" + input + "' >'" + out +
                              "' 2>'" + err + "'";
  int status = std::system(command.c_str());
  Console console{WIFEXITED(status) ? WEXITSTATUS(status) : -1, read_whole_file(out), read_whole_file(err)};
  std::filesystem::remove(out);
  std::filesystem::remove(err);
  return console;
}

struct ArgumentCase {
  const char* program;
  const char* arguments;
  int exit_code;
  const char* on_stdout;  // a text standard output holds; "" for an empty one
  const char* on_stderr;
};

const ArgumentCase kCases[] = {
    {"Tovarin", "--help", 0, "Usage: Tovarin [--help | --version]\n", ""},
    {"Tovarin", "-h", 0, "Tarsel.bla", ""},
    {"Tovarin", "--version", 0, "Tovarin 1.", ""},
    {"Tovarin", "--solve", 2, "", "Tovarin: unexpected argument \"--solve\"\nUsage: Tovarin"},
    {"Tovarin", "--help extra", 2, "", "unexpected argument \"extra\""},
    {"Sorvenna", "-h", 0, "Temp.txt", ""},
    {"Sorvenna", "--version", 0, "Sorvenna 1.", ""},
    {"Sorvenna", "1", 2, "", "Sorvenna: unexpected argument \"1\""},
    {"Lurrick", "--help", 0, "Teste.mvm", ""},
    {"Lurrick", "--version", 0, "Lurrick 1.", ""},
    {"Lurrick", "-v", 2, "", "Usage: Lurrick"},
    {"shift_search", "--help", 0, "Tarsel_shifts.csv", ""},
    {"shift_search", "--version", 0, "shift_search 1.", ""},
    {"shift_search", "--max-shift 61", 2, "", "at most 60 minutes for --max-shift\nUsage: shift_search"},
    {"shift_search", "--max-shift -1", 2, "", "negative value makes no sense for --max-shift"},
    {"shift_search", "--max-moves -2", 2, "", "negative value makes no sense for --max-moves"},
    {"shift_search", "--move-cost 1.5", 2, "", "not a whole number: 1.5"},
    {"shift_search", "--seconds", 2, "", "a value must follow --seconds"},
    {"shift_search", ". --seeds 3", 2, "", "unexpected argument --seeds"},
    {"shift_search", "--threads 0", 2, "", "at least one thread for --threads"},
};

TEST(Arguments, AnsweredOrRefusedWithoutTouchingAFile) {
  ScopedSandbox box("arguments");
  copy_example("small", box.dir);
  const std::vector<std::string> before = list_dir(box.dir);
  const std::string bss = read_whole_file(box.dir + "Tarsel.bss");
  for (const ArgumentCase& c : kCases) {
    const std::string what = std::string(c.program) + " " + c.arguments;
    Console console = run_console(kBinDir + "/" + c.program, box.dir, c.arguments);
    EXPECT_EQ(console.exit_code, c.exit_code) << what;
    if (*c.on_stdout == '\0') EXPECT_EQ(console.out, "") << what;
    else EXPECT_NE(console.out.find(c.on_stdout), std::string::npos) << what << ":\n" << console.out;
    if (*c.on_stderr == '\0') EXPECT_EQ(console.err, "") << what;
    else EXPECT_NE(console.err.find(c.on_stderr), std::string::npos) << what << ":\n" << console.err;
    EXPECT_EQ(list_dir(box.dir), before) << what;
    EXPECT_EQ(read_whole_file(box.dir + "Tarsel.bss"), bss) << what;
  }
}

// One value of each kind spoilt the way a typing error spoils it: the
// damaged file must give what the file with the value used gives, on
// standard output and in every report, and say so on standard error alone.
struct LenientValue {
  const char* file;
  const char* written;  // the text in the example
  const char* damaged;
  const char* meant;    // what the damaged text is read as
  const char* warning;
};

const LenientValue kSolverValues[] = {
    {"Tarsel.ini", "DeadRunMult:      1.00", "DeadRunMult:      1.5x", "DeadRunMult:      1.5",
     "Tarsel.ini line 2: DeadRunMult \"1.5x\" read as 1.5\n"},
    {"Tarsel.ini", "00:30", "00:2O", "00:02", "Tarsel.ini line 3: MinDepotTime \"00:2O\" read as 00:02\n"},
    {"Tarsel.ini", "DeadrunWeight: 10", "DeadrunWeight: 1O", "DeadrunWeight: 1",
     "Tarsel.ini line 4: DeadrunWeight \"1O\" read as 1\n"},
    {"Tarsel.bss", "0:58 0:00\n", "0:58 0:0O\n", "0:58 0:00\n",
     "Tarsel.bss line 20: dead-run matrix entry 12 of row 12 \"0:0O\" read as 00:00\n"},
    {"Tarsel.bss", "= 0502,", "= 05x2,", "= 0500,", "Tarsel.bss line 23: departure \"05x2\" read as 05:00\n"},
    {"Tarsel.bss", "201.00 \t2\t5", "201.00 \t2\t7x", "201.00 \t2\t7",
     "Tarsel.bss line 24: minimum layover \"7x\" read as 7\n"},
    {"Tarsel.prr", "Group =101 103", "Group =101x103", "Group =101 103",
     "Tarsel.prr line 3: member of group 1 \"101x103\" read as 101\n"},
};

void replace_in_file(const std::string& path, const std::string& from, const std::string& to) {
  std::string text = read_whole_file(path);
  size_t at = text.find(from);
  ASSERT_NE(at, std::string::npos) << path << ": " << from;
  write_whole_file(path, text.replace(at, from.size(), to));
}

TEST(LenientInput, ReadAsAlwaysWithOneWarningPerValueOnStandardError) {
  ScopedSandbox damaged("lenient_damaged"), meant("lenient_meant");
  copy_example("groups", damaged.dir);
  copy_example("groups", meant.dir);
  std::string warnings;
  for (const LenientValue& v : kSolverValues) {
    replace_in_file(damaged.dir + v.file, v.written, v.damaged);
    replace_in_file(meant.dir + v.file, v.written, v.meant);
    warnings += v.warning;
  }
  Console with_damage = run_console(kTovarin, damaged.dir, "");
  Console as_meant = run_console(kTovarin, meant.dir, "");
  ASSERT_EQ(with_damage.exit_code, 0) << with_damage.out << with_damage.err;
  EXPECT_EQ(with_damage.err, warnings);
  EXPECT_EQ(as_meant.err, "");
  EXPECT_EQ(mask_times(with_damage.out), mask_times(as_meant.out));
  for (const char* ext : kReportExtensions)
    EXPECT_EQ(mask_times(read_whole_file(damaged.dir + "Tarsel" + ext)),
              mask_times(read_whole_file(meant.dir + "Tarsel" + ext)))
        << "Tarsel" << ext;

  // An annealer runs the solver some 26 times on the same parameter and
  // groups files: their warnings come once, not once a run. So do those of
  // the dead-run matrix that every candidate copies from the template, for
  // each reading of a different file: the annealer's and the first solver
  // run's of the trip file read, and the first candidate's.
  std::string template_text = read_whole_file(damaged.dir + "Teste.mvm");
  ASSERT_EQ(template_text.substr(template_text.size() - 9), "0:58 0:00");
  write_whole_file(damaged.dir + "Teste.mvm", template_text.substr(0, template_text.size() - 1) + "O");
  write_whole_file(damaged.dir + "keys", std::string(40, '\n'));
  Console lurrick = run_console(kBinDir + "/Lurrick", damaged.dir, "", "keys");
  ASSERT_EQ(lurrick.exit_code, 0) << lurrick.out << lurrick.err;
  for (const LenientValue& v : kSolverValues) {
    const bool matrix = std::string(v.warning).find("dead-run matrix") != std::string::npos;
    if (std::string(v.file) == "Tarsel.bss" && !matrix) continue;
    int count = 0;
    for (size_t at = lurrick.err.find(v.warning); at != std::string::npos; at = lurrick.err.find(v.warning, at + 1))
      ++count;
    EXPECT_EQ(count, matrix ? 3 : 1) << v.warning;
  }

  // The annealer's own readers: the trip file at start-up, the solver's
  // total (here from a fake solver) after every run, and Temp.txt.
  ScopedSandbox annealer("lenient_annealer");
  copy_example("groups", annealer.dir);
  replace_in_file(annealer.dir + "Tarsel.bss", "= 0502,", "= 05x2,");
  replace_in_file(annealer.dir + "Tarsel.bss", "201.00 \t2\t5", "201.00 \t2\t7x");
  write_whole_file(annealer.dir + "Temp.txt", "0.002x");
  write_whole_file(annealer.dir + "keys", "\n\n\n2\n\n\n\n");
  const std::string sorvenna = annealer_with_fake_solver("Sorvenna", annealer.root + "bin", "echo 1000x > Tarsel.sol");
  Console console = run_console(sorvenna, annealer.dir, "", "keys");
  ASSERT_EQ(console.exit_code, 0) << console.out << console.err;
  const std::string start = "Tarsel.bss line 23: departure \"05x2\" read as 05:00\n"
                            "Tarsel.bss line 24: minimum layover \"7x\" read as 7\n"
                            "Tarsel.sol line 1: total cost \"1000x\" read as 1000\n";
  EXPECT_EQ(console.err.rfind(start, 0), 0u) << console.err;
  EXPECT_NE(console.err.find("Temp.txt line 1: temperature \"0.002x\" read as 0.002\n"), std::string::npos)
      << console.err;
  EXPECT_EQ(console.out.find("read as"), std::string::npos);
}

}  // namespace
