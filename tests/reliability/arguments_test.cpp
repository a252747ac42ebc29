// The programs' command line: --help, -h and --version are answered on
// standard output with exit code 0, anything else is refused on standard
// error with exit code 2, and in every case no file of the problem directory
// is read or written.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>

#include "tests/reliability/reliability_support.h"
#include "tests/support/random_problem.h"

namespace {

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
};

TEST(Arguments, AnsweredOrRefusedWithoutTouchingAFile) {
  ScopedSandbox box("arguments");
  copy_example("small", box.dir);
  const std::vector<std::string> before = list_dir(box.dir);
  const std::string bss = read_whole_file(box.dir + "Tarsel.bss");
  for (const ArgumentCase& c : kCases) {
    const std::string what = std::string(c.program) + " " + c.arguments;
    const std::string out = box.root + "out", err = box.root + "err";
    const std::string command = "cd '" + box.dir + "' && '" + kBinDir + "/" + c.program + "' " + c.arguments +
                                " </dev/null >'" + out + "' 2>'" + err + "'";
    int status = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(status)) << what;
    EXPECT_EQ(WEXITSTATUS(status), c.exit_code) << what;
    const std::string stdout_text = read_whole_file(out), stderr_text = read_whole_file(err);
    if (*c.on_stdout == '\0') EXPECT_EQ(stdout_text, "") << what;
    else EXPECT_NE(stdout_text.find(c.on_stdout), std::string::npos) << what << ":\n" << stdout_text;
    if (*c.on_stderr == '\0') EXPECT_EQ(stderr_text, "") << what;
    else EXPECT_NE(stderr_text.find(c.on_stderr), std::string::npos) << what << ":\n" << stderr_text;
    EXPECT_EQ(list_dir(box.dir), before) << what;
    EXPECT_EQ(read_whole_file(box.dir + "Tarsel.bss"), bss) << what;
  }
}

}  // namespace
