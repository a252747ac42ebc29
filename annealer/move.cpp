#include "annealer/move.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <limits>
#include <vector>

#include "common/atomic_file.h"
#include "common/common.h"
#include "common/run_end.h"
#include "common/timetable_out.h"

using namespace common;

namespace annealer {

void seed_random() {
  std::srand(static_cast<unsigned>(std::time(nullptr)));
}

Move draw_move(int largest_later, int largest_earlier, int num_trips) {
  if (num_trips < 1) fatal_diagnostic("\nN\xE3o h\xE1 viagens para mover\n");
  if (largest_later < 1 || largest_earlier < 1) fatal_diagnostic("\nDeslocamento m\xE1ximo inv\xE1lido\n");
  Move move;
  move.trip = std::rand() % num_trips + 1;
  std::printf("\nVIAGEM SORTEADA: TRIP%d", move.trip);
  move.direction = std::rand() % 2 == 0 ? EARLIER : LATER;
  if (move.direction == EARLIER) {
    move.minutes = std::rand() % largest_earlier + 1;
    std::printf("\nMOVIMENTO SORTEADO: -%d Minuto\n", move.minutes);
  } else {
    move.minutes = std::rand() % largest_later + 1;
    std::printf("\nMOVIMENTO SORTEADO: +%d Minuto\n", move.minutes);
  }
  return move;
}

bool apply_move(TripTable& table, const TripTable& reference, const Move& move) {
  if (move.trip < 1 || static_cast<size_t>(move.trip) >= table.size() ||
      static_cast<size_t>(move.trip) >= reference.size())
    fatal_diagnostic("\nViagem %d fora da tabela de viagens\n", move.trip);
  TripRecord& trip = table[move.trip];
  int reference_departure = reference[move.trip].departure_time;
  int shift = move.direction == EARLIER ? -move.minutes : move.minutes;
  bool inside = move.direction == EARLIER ? trip.departure_time + shift >= reference_departure - MOVE_WINDOW
                                          : trip.departure_time + shift <= reference_departure + MOVE_WINDOW;
  // A trip the trip file cannot carry (a night trip moved before 00:00) is
  // no candidate: the move is refused like one that leaves the window.
  bool writable = trip.departure_time + shift >= 0 && trip.arrival_time + shift <= LATEST_TRIP_LINE_TIME;
  if (!inside || !writable) return false;
  trip.departure_time += shift;
  trip.arrival_time += shift;
  return true;
}

void random_move(int largest_later, int largest_earlier, int num_trips, TripTable& table,
                 const TripTable& reference) {
  apply_move(table, reference, draw_move(largest_later, largest_earlier, num_trips));
}

double uniform_random(double a, double b) {
  if (a == b) return a;
  int r = std::rand() % 1000;
  return a + (b - a) * (r * 0.001);
}

namespace {

// least_from[j], for j from `first` on: the earliest departure of records j..num_trips.
void find_least_departures(const TripTable& table, int num_trips, int first, std::vector<int>& least_from) {
  int least = std::numeric_limits<int>::max();
  least_from[static_cast<size_t>(num_trips) + 1] = least;
  for (int j = num_trips; j >= first; --j)
    least_from[static_cast<size_t>(j)] = least = std::min(least, table[j].departure_time);
}

}  // namespace

void sort_by_departure(TripTable& table, int num_trips) {
  if (num_trips < 1) return;
  if (static_cast<size_t>(num_trips) + 1 >= table.size())
    fatal_diagnostic("\n%d viagens n\xE3o cabem na tabela de viagens\n", num_trips);
  TripRecord& scratch = table[num_trips + 1];
  // The exchanges leave the order of equal departures as they always have,
  // which the trip file shows; they are kept, and only the passes that would
  // exchange nothing are skipped. The table is sorted but for the one trip
  // just moved, so only a few passes are left.
  std::vector<int> least_from(static_cast<size_t>(num_trips) + 2);
  find_least_departures(table, num_trips, 2, least_from);
  for (int i = 1; i < num_trips; ++i) {
    if (table[i].departure_time <= least_from[i + 1]) continue;
    for (int j = i + 1; j <= num_trips; ++j)
      if (table[i].departure_time > table[j].departure_time) {
        scratch = table[i];
        table[i] = table[j];
        table[j] = scratch;
      }
    find_least_departures(table, num_trips, i + 2, least_from);
  }
}

namespace {

// The template as the trip file needs it: a regular, readable file that holds
// the dead-run matrix section. Checked whole before the trip file is touched,
// since a trip file without the section could not be read back.
std::string read_template() {
  const char* const message = "\nProblemas na leitura do arquivo teste.mvm\nVerifique a sua exist\xEAncia\n";
  const std::string name = TEMPLATE_FILE_NAME;
  std::FILE* tpl = std::fopen(TEMPLATE_FILE_NAME, "r");
  if (tpl == nullptr) fatal_with_detail(FileFailure{name, "open", errno}.text(), "%s", message);
  struct stat info {};
  if (::fstat(::fileno(tpl), &info) != 0 || !S_ISREG(info.st_mode)) {
    std::fclose(tpl);
    fatal_with_detail(name + " is not a regular file", "%s", message);
  }
  std::string content;
  char piece[4096];
  size_t got;
  while ((got = std::fread(piece, 1, sizeof piece, tpl)) > 0) content.append(piece, got);
  const int error_number = std::ferror(tpl) ? errno : 0;
  std::fclose(tpl);
  if (error_number != 0) fatal_with_detail(FileFailure{name, "read", error_number}.text(), "%s", message);
  if (content.empty()) fatal_with_detail(name + " is empty", "%s", message);
  const char* const section = "[DEAD_RUN_MATRIX]";
  if (content.rfind(section, 0) != 0 && content.find(std::string("\n") + section) == std::string::npos)
    fatal_with_detail(name + " holds no line that begins with " + section, "%s", message);
  return content;
}

}  // namespace

Timetable timetable_of(const ProblemData& problem, const TripTable& table) {
  Timetable timetable;
  for (int j = 0; j < problem.num_terminals && j < MAX_TABLE_TERMINALS; ++j)
    timetable.terminal_names.emplace_back(problem.terminal_names[j]);
  size_t named = 0;
  for (int i = 1; i <= problem.num_trips; ++i) {
    const TripRecord& trip = table[static_cast<size_t>(i)];
    timetable.trips.push_back(TimetableTrip{trip.departure_time, trip.arrival_time, trip.origin_terminal,
                                            trip.destination_terminal, trip.group_key, trip.aux_value,
                                            trip.min_layover});
    named = std::max({named, static_cast<size_t>(trip.origin_terminal) + 1,
                      static_cast<size_t>(trip.destination_terminal) + 1});
  }
  // A trip file without a terminal list still puts its trips on terminal 0;
  // such a terminal is written with a blank name, as the solver reads it.
  if (timetable.terminal_names.size() < named) timetable.terminal_names.resize(named);
  return timetable;
}

void write_trip_file(const std::string& problem_name, const ProblemData& problem, int header_value,
                     TripTable& table, TripLineCache* lines, RewrittenFile* file) {
  const int num_trips = problem.num_trips;
  sort_by_departure(table, num_trips);
  const std::string clock_text = local_clock_text();
  const std::string template_content = read_template();

  std::string text, error;
  if (!format_trip_file(timetable_of(problem, table), template_content, header_value, clock_text.c_str(), text,
                        error, lines))
    fatal_with_detail(error, "\nProblemas na criacao do arquivo teste.trp\n");

  // The trips go to a spare beside the trip file, never written through a
  // link, which takes the trip file's place only once it is complete: a
  // write that fails half-way (a full disk, a file size limit) leaves the
  // last complete trip file, dead-run matrix and all. A run keeps the spare
  // from candidate to candidate (common/atomic_file.h); a single write
  // leaves none.
  const std::string file_name = make_file_name("", problem_name, ".bss");
  RewrittenFile single;
  RewrittenFile& out = file != nullptr ? *file : single;
  out.path = file_name;
  FileFailure failure;
  remove_on_interrupt(file_name + ".new");
  const bool opened = open_rewrite(out, failure);
  if (opened) std::printf("\nTotal de viagens: %d\n\n", num_trips);
  const bool committed = opened && commit_rewrite(out, text, failure);
  remove_spare(single);
  if (!out.spare_kept) forget_on_interrupt(file_name + ".new");
  if (!committed) fatal_with_detail(failure.text(), "\nProblemas na criacao do arquivo teste.trp\n");
}

}  // namespace annealer
