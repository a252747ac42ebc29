#include "test_support.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

int count_occurrences(const std::string& text, const std::string& what) {
  int count = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size())) ++count;
  return count;
}

namespace {
std::string label(int j) {
  return j == 0 ? std::string("DEPOT") : std::string("T").append(std::to_string(j));
}
}  // namespace

std::string template_text(int terminals) {
  std::string text = "[DEAD_RUN_MATRIX]\nNum. Terminals: " + std::to_string(terminals) + "\nNames, then times\n";
  for (int j = 0; j < terminals; ++j) text += label(j) + (j + 1 < terminals ? " " : "\n");
  for (int i = 0; i < terminals; ++i) {
    text += label(i);
    for (int j = 0; j < terminals; ++j) text += " 0:" + std::to_string(i == j ? 0 : 10 + i + j);
    if (i + 1 < terminals) text += '\n';
  }
  return text;
}

std::string trip_line(int number, int departure, const std::string& origin, int arrival,
                      const std::string& destination, double group_key, int aux_value, int min_layover) {
  char line[200];
  std::snprintf(line, sizeof line, "Trip%-4d = %02d%02d, %-8s     | %02d%02d, %-8s     | %.2f \t%d\t%d", number,
                departure / 60, departure % 60, origin.c_str(), arrival / 60, arrival % 60, destination.c_str(),
                group_key, aux_value, min_layover);
  return line;
}

std::string trip_file_text(int terminals, int trips) {
  std::string text = "# a timetable\n# for tests\n\n" + template_text(terminals) + "\n\n[TRIP] 0";
  for (int i = 0; i < trips; ++i) {
    int departure = 300 + 5 * (i % 200);
    text += '\n';
    text += trip_line(i, departure, i % 2 ? "T2" : "T1", departure + 40, i % 2 ? "T1" : "T2", 100 + i % 3, i, 2);
  }
  return text + "\n-----------------------------------------------------------\n";
}

TripTable table_with_departures(std::initializer_list<int> departures) {
  TripTable table = allocate_trip_table(TRIP_TABLE_RECORDS);
  int i = 0;
  for (int departure : departures) {
    ++i;
    table[i] = TripRecord{departure, departure + 40, 1, 2, 100.0f, i, 2};
  }
  return table;
}

void ScratchDirTest::SetUp() {
  ASSERT_NE(std::freopen("/dev/null", "r", stdin), nullptr);
  previous_dir_ = std::filesystem::current_path().string();
  dir_ = make_temp_dir("annealer");
  ASSERT_FALSE(dir_.empty());
  ASSERT_EQ(chdir(dir_.c_str()), 0);
}

void ScratchDirTest::TearDown() {
  if (!previous_dir_.empty()) (void)chdir(previous_dir_.c_str());
  remove_dir(dir_);
}

void write_fake_solver(const std::string& path, const std::string& body, bool keep_trip_files) {
  // Shell builtins only, bar the optional copy: every process started costs.
  write_whole_file(path, std::string("#!/bin/sh\nn=0\n[ -f runs ] && read n < runs\nn=$((n + 1))\necho $n > runs\n") +
                       (keep_trip_files ? "cp Tarsel.bss run$n.bss\n" : "") + body + "\n");
  chmod(path.c_str(), 0755);
}

const char* const SCRIPTED_COSTS =
    "i=0\n"
    "while read -r line; do i=$((i + 1)); v=$line; [ $i -eq $n ] && break; done < values\n"
    "echo \"$v\" > Tarsel.sol";

int solver_runs() {
  return std::atoi(read_whole_file("runs").c_str());
}
