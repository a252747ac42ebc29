#include "search/timetable_files.h"

#include <cstdarg>
#include <cstdio>
#include <ctime>

#include "common/common.h"

namespace {

void append(std::string& out, const char* format, ...) __attribute__((format(printf, 2, 3)));
void append(std::string& out, const char* format, ...) {
  char buffer[512];
  va_list args;
  va_start(args, format);
  int n = std::vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  if (n > 0) out.append(buffer, static_cast<size_t>(n) < sizeof buffer ? static_cast<size_t>(n) : sizeof buffer - 1);
}

std::string hours_minutes(int minutes, const char* format) {
  int h, m;
  split_minutes(minutes, h, m);
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, format, h, m);
  return buffer;
}

}  // namespace

std::string trip_file_text(const Problem& problem, const std::vector<int>& shift, const std::vector<int>& order) {
  std::string out;
  std::time_t now = std::time(nullptr);
  out += "# Rede criada com base nos hor\xE1rios de partida e chegadas das viagens\n";
  append(out, "# %.19s\n\n", std::asctime(std::localtime(&now)));
  const int n = problem.num_terminals;
  append(out, "[DEAD_RUN_MATRIX]\nNUM_TERMINALS = %d\n", n);
  out += "# dead runs in h:mm from the row's terminal to the column's; terminal 0 is the depot\n";
  out += "        ";
  for (int t = 0; t < n; ++t) append(out, " %8s", problem.terminal_names[t]);
  for (int r = 0; r < n; ++r) {
    append(out, "\n%-8s", problem.terminal_names[r]);
    for (int c = 0; c < n; ++c) append(out, " %8s", hours_minutes(problem.deadrun_matrix[r][c], "%d:%02d").c_str());
  }
  out += "\n\n[TRIP] 5";
  int position = 0;
  for (int k : order) {
    const Trip& t = problem.trips[k];
    int dh, dm, ah, am;
    split_minutes(t.departure_time + shift[k], dh, dm);
    split_minutes(t.arrival_time + shift[k], ah, am);
    append(out, "\n%s%-4d = %02d%02d, %-8s     | %02d%02d, %-8s     | %.2f \t%d\t%d", "Trip", position++, dh, dm,
           problem.terminal_names[t.origin_terminal], ah, am, problem.terminal_names[t.destination_terminal],
           static_cast<double>(t.group_key), t.aux_value, t.min_layover);
  }
  out += "\n-----------------------------------------------------------\n";
  append(out, "Total de viagens: %d\n", position);
  int operating = 0;
  for (int k = 1; k <= problem.num_trips; ++k) operating += problem.trips[k].arrival_time - problem.trips[k].departure_time;
  append(out, "\nTempo total de opera\xE7\xE3o: %s\n", hours_minutes(operating, "%02d:%02d").c_str());
  return out;
}

std::string shifts_table_text(const Problem& problem, const std::vector<int>& shift) {
  std::string out = "trip,line,origin,destination,departure_before,departure_after,shift\n";
  for (int k = 1; k <= problem.num_trips; ++k) {
    const Trip& t = problem.trips[k];
    append(out, "%d,%.2f,%s,%s,%s,%s,%d\n", t.aux_value, static_cast<double>(t.group_key),
           problem.terminal_names[t.origin_terminal], problem.terminal_names[t.destination_terminal],
           hours_minutes(t.departure_time, "%02d:%02d").c_str(),
           hours_minutes(t.departure_time + shift[k], "%02d:%02d").c_str(), shift[k]);
  }
  return out;
}
