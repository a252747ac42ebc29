#include "tests/reliability/reliability_support.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "tests/support/random_problem.h"
#include "tests/support/regex.h"

namespace fs = std::filesystem;

Sandbox make_sandbox(const std::string& tag) {
  Sandbox box;
  box.root = make_temp_dir(tag);
  box.dir = box.root + "problem/";
  fs::create_directory(box.dir);
  return box;
}

void remove_sandbox(const Sandbox& box) { remove_dir(box.root); }

std::vector<std::string> list_dir(const std::string& dir) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(dir, ec)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

std::vector<std::string> strays(const Sandbox& box) {
  std::vector<std::string> names = list_dir(box.root);
  names.erase(std::remove(names.begin(), names.end(), "problem"), names.end());
  return names;
}

void copy_example(const std::string& example, const std::string& dir) {
  for (const char* name : {"Tarsel.ini", "Tarsel.bss", "Tarsel.prr", "Teste.mvm"}) {
    std::string from = kExamplesDir + example + "/" + name;
    if (fs::exists(from)) copy_file(from, dir + name);
  }
}

bool is_solution_text(const std::string& text) {
  static const std::regex solution("-?[0-9]+\n");
  return std::regex_match(text, solution);
}

namespace {
bool ends_with(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}
}  // namespace

std::string incomplete_outputs(const std::string& dir) {
  for (const char* ext : kReportExtensions)
    if (!fs::exists(dir + "Tarsel" + ext)) return std::string("Tarsel") + ext + " is missing";
  const std::string log = read_whole_file(dir + "Tarsel.log");
  if (log.find("\nMinimum depot time/cost: ") == std::string::npos) return "Tarsel.log lacks its closing lines";
  if (!ends_with(read_whole_file(dir + "Tarsel.est"), "Long Arcs per Node 40\n")) return "Tarsel.est lacks its totals";
  const std::string lus = read_whole_file(dir + "Tarsel.lus");
  if (lus.rfind("Long arcs used into optimal solution\nTail\tterm\ttime\tHead\ttermi\ttime\tCost\n", 0) != 0)
    return "Tarsel.lus lacks its header";
  const std::string arm = read_whole_file(dir + "Tarsel.arm");
  if (arm.find(" Operacional Cost:") == std::string::npos || !ends_with(arm, "-----"))
    return "Tarsel.arm lacks its costs";
  if (arm.find("OPTIMAL FLOW PATTERN") == std::string::npos) return "Tarsel.arm does not report an optimal flow";
  if (!is_solution_text(read_whole_file(dir + "Tarsel.sol"))) return "Tarsel.sol holds no total";
  const std::string bla = read_whole_file(dir + "Tarsel.bla");
  if (bla.find("Total Scheduling Cost:") == std::string::npos || !ends_with(bla, "\n"))
    return "Tarsel.bla lacks its statistics";
  return "";
}

bool has_fault_report(const std::string& output) {
  for (const char* mark : {"runtime error:", "AddressSanitizer", "LeakSanitizer", "UndefinedBehaviorSanitizer",
                           "terminate called", "Segmentation fault", "core dumped"})
    if (output.find(mark) != std::string::npos) return true;
  return false;
}

std::string last_line(const std::string& output) {
  size_t end = output.find_last_not_of("\n\r ");
  if (end == std::string::npos) return "";
  size_t start = output.rfind('\n', end);
  start = start == std::string::npos ? 0 : start + 1;
  return output.substr(start, end - start + 1);
}

QuietStdout::QuietStdout() {
  std::fflush(stdout);
  saved_ = dup(STDOUT_FILENO);
  int null = open("/dev/null", O_WRONLY);
  dup2(null, STDOUT_FILENO);
  close(null);
}

QuietStdout::~QuietStdout() {
  std::fflush(stdout);
  dup2(saved_, STDOUT_FILENO);
  close(saved_);
}

std::string annealer_with_fake_solver(const std::string& program, const std::string& bin_dir,
                                      const std::string& body) {
  fs::create_directories(bin_dir);
  const std::string copy = bin_dir + "/" + program;
  fs::copy_file(kBinDir + "/" + program, copy, fs::copy_options::overwrite_existing);
  const std::string solver = bin_dir + "/Tovarin";
  write_whole_file(solver, "#!/bin/sh\n" + body + "\n");
  fs::permissions(solver, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec);
  return copy;
}

namespace {
std::string terminal(int t) {
  char name[16];
  std::snprintf(name, sizeof name, t == 0 ? "DEPOT" : "T%02d", t);
  return name;
}
}  // namespace

std::string trip_file_text(int terminals, const std::vector<PlannedTrip>& trips, int deadrun) {
  std::string s = "# Rede criada com base nos hor\xE1rios de partida e chegadas das viagens\n# Mon Jan  1 00:00:00\n\n";
  s += "[DEAD_RUN_MATRIX]\nNum. Terminals: " + std::to_string(terminals) + "\nnames, then dead runs\n";
  for (int t = 0; t < terminals; ++t) {
    if (t > 0) s += ' ';
    s += terminal(t);
  }
  char entry[32];
  for (int r = 0; r < terminals; ++r) {
    s += '\n';
    s += terminal(r);
    for (int k = 0; k < terminals; ++k) {
      std::snprintf(entry, sizeof entry, " %d:%02d", r == k ? 0 : deadrun / 60, r == k ? 0 : deadrun % 60);
      s += entry;
    }
  }
  s += "\n\n[TRIP] 5";
  char line[160];
  for (size_t i = 0; i < trips.size(); ++i) {
    const PlannedTrip& t = trips[i];
    std::snprintf(line, sizeof line, "\nTrip%-4zu = %02d%02d, %-8s     | %02d%02d, %-8s     | %.2f \t%zu\t%d", i,
                  t.departure / 60, t.departure % 60, terminal(t.origin).c_str(), t.arrival / 60, t.arrival % 60,
                  terminal(t.destination).c_str(), 101.0, i + 1, t.min_layover);
    s += line;
  }
  return s + "\n-----------------------------------------------------------\nTotal de viagens: " +
         std::to_string(trips.size()) + "\n";
}

std::string parameter_file_text(int short_arc_param, int deadrun_weight, int layover_weight) {
  return "[Parameters]\nDeadRunMult:      1.0\nMinDepotTime:  00:30\nDeadrunWeight: " + std::to_string(deadrun_weight) +
         "\nLayoverWeight: " + std::to_string(layover_weight) + "\nShortArcParam: " + std::to_string(short_arc_param) +
         "\n";
}
