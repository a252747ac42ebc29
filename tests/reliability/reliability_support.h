// What the reliability tests share: sandboxes whose parent directory is
// watched for files that a run should never write there, the check that a
// solver run left complete reports, sanitizer reports in console output, a
// quiet console for in-process reading, and fake solvers for the annealers.
#pragma once

#include <string>
#include <vector>

#include "tests/support/run_program.h"

// Under the sanitizers every run costs several times as much: the sweeps
// then take every kSanitizedStride-th damaged copy.
#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
inline constexpr bool kSanitized = true;
#else
inline constexpr bool kSanitized = false;
#endif
#else
inline constexpr bool kSanitized = false;
#endif
inline constexpr int kSanitizedStride = 4;

const std::string kBinDir = TARSEL_BIN_DIR;
const std::string kExamplesDir = std::string(TARSEL_SOURCE_DIR) + "/examples/";
const std::string kTovarin = kBinDir + "/Tovarin";

// A private root holding one problem directory; anything a run leaves in the
// root beside it was written outside the problem directory.
struct Sandbox {
  std::string root;  // ends with '/'
  std::string dir;   // root + "problem/"
};
Sandbox make_sandbox(const std::string& tag);
void remove_sandbox(const Sandbox& box);
// Removed when it goes out of scope, also when an assertion ends the test.
struct ScopedSandbox : Sandbox {
  explicit ScopedSandbox(const std::string& tag) : Sandbox(make_sandbox(tag)) {}
  ~ScopedSandbox() { remove_sandbox(*this); }
  ScopedSandbox(const ScopedSandbox&) = delete;
  ScopedSandbox& operator=(const ScopedSandbox&) = delete;
};
// Names of the entries in the root other than the problem directory.
std::vector<std::string> strays(const Sandbox& box);

std::vector<std::string> list_dir(const std::string& dir);
// The example's input files (Tarsel.ini, .bss, .prr when it has one, and
// Teste.mvm) copied into dir.
void copy_example(const std::string& example, const std::string& dir);

// Empty when all six reports of a finished run are there and end the way a
// finished run ends them; otherwise what is wrong.
std::string incomplete_outputs(const std::string& dir);
inline const char* const kReportExtensions[] = {".log", ".est", ".lus", ".arm", ".sol", ".bla"};

// The sanitizer's or the runtime's own report of a fault, if the output
// holds one.
bool has_fault_report(const std::string& output);

// The last non-empty line of a console output.
std::string last_line(const std::string& output);

// Standard output goes to /dev/null while an instance lives.
class QuietStdout {
 public:
  QuietStdout();
  ~QuietStdout();
  QuietStdout(const QuietStdout&) = delete;
  QuietStdout& operator=(const QuietStdout&) = delete;

 private:
  int saved_ = -1;
};

// A copy of an annealer in bin_dir with a shell script as "Tovarin" beside
// it; the script runs `body` in the problem directory. Returns the copy's
// path.
std::string annealer_with_fake_solver(const std::string& program, const std::string& bin_dir,
                                      const std::string& body);

// The solution file as the solver writes it: an integer and a line end.
bool is_solution_text(const std::string& text);

// A trip file in the layout the annealer writes: terminals "DEPOT", "T01",
// ... with every dead run `deadrun` minutes, then one trip line per entry of
// `trips`.
struct PlannedTrip {
  int departure = 0;  // minutes
  int arrival = 0;
  int origin = 1;
  int destination = 1;
  int min_layover = 0;
};
std::string trip_file_text(int terminals, const std::vector<PlannedTrip>& trips, int deadrun = 0);
// A parameter file; the short-arc parameter is the one that matters here.
std::string parameter_file_text(int short_arc_param, int deadrun_weight = 10, int layover_weight = 2);
