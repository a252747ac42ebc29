#include "annealer/move.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "common/common.h"

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
  if (!inside) return false;
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

void sort_by_departure(TripTable& table, int num_trips) {
  if (num_trips < 1) return;
  if (static_cast<size_t>(num_trips) + 1 >= table.size())
    fatal_diagnostic("\n%d viagens n\xE3o cabem na tabela de viagens\n", num_trips);
  TripRecord& scratch = table[num_trips + 1];
  for (int i = 1; i < num_trips; ++i)
    for (int j = i + 1; j <= num_trips; ++j)
      if (table[i].departure_time > table[j].departure_time) {
        scratch = table[i];
        table[i] = table[j];
        table[j] = scratch;
      }
}

int total_operating_minutes(const TripTable& table, int num_trips) {
  int total = 0;
  for (int i = 1; i <= num_trips; ++i) total += table[i].arrival_time - table[i].departure_time;
  return total;
}

void write_trip_file(const std::string& problem_name, const ProblemData& problem, int header_value,
                     TripTable& table) {
  const int num_trips = problem.num_trips;
  sort_by_departure(table, num_trips);
  std::time_t now = std::time(nullptr);
  const std::tm* local = std::localtime(&now);
  const char* clock_text = local != nullptr ? std::asctime(local) : "";

  std::FILE* tpl = std::fopen(TEMPLATE_FILE_NAME, "r");
  if (tpl == nullptr)
    fatal("\nProblemas na leitura do arquivo teste.mvm\nVerifique a sua exist\xEAncia\n");

  // The trips go to a file beside the trip file, which takes its place only
  // once it is complete: a write that fails half-way (a full disk, a file
  // size limit) leaves the last complete trip file, dead-run matrix and all.
  std::string file_name = make_file_name("", problem_name, ".bss");
  std::string new_file_name = file_name + ".new";
  std::FILE* file = std::fopen(new_file_name.c_str(), "w");
  if (file == nullptr) {
    std::fclose(tpl);
    fatal("\nProblemas na criacao do arquivo teste.trp\n");
  }

  std::fprintf(file, "# Rede criada com base nos hor\xE1rios de partida e chegadas das viagens\n");
  std::fprintf(file, "# %.19s\n\n", clock_text);
  char piece[160];
  while (std::fgets(piece, sizeof piece, tpl) != nullptr) std::fputs(piece, file);
  std::fclose(tpl);
  std::fprintf(file, "\n\n");

  std::fprintf(file, "[TRIP] %d", header_value);
  int written = 0;
  for (int i = 1; i <= num_trips; ++i) {
    const TripRecord& trip = table[i];
    int departure_hours, departure_minutes, arrival_hours, arrival_minutes;
    split_minutes(trip.departure_time, departure_hours, departure_minutes);
    split_minutes(trip.arrival_time, arrival_hours, arrival_minutes);
    std::fprintf(file, "\n%s%-4d = %02d%02d, %-8s     | %02d%02d, %-8s     | %.2f \t%d\t%d", "Trip", i - 1,
                 departure_hours, departure_minutes, terminal_name(problem, trip.origin_terminal), arrival_hours,
                 arrival_minutes, terminal_name(problem, trip.destination_terminal),
                 static_cast<double>(trip.group_key), trip.aux_value, trip.min_layover);
    ++written;
  }

  int operating_hours, operating_minutes;
  split_minutes(total_operating_minutes(table, num_trips), operating_hours, operating_minutes);
  std::fprintf(file, "\n-----------------------------------------------------------\n");
  std::fprintf(file, "Total de viagens: %d\n", written);
  std::fprintf(file, "\nTempo total de opera\xE7\xE3o: %02d:%02d\n", operating_hours, operating_minutes);
  std::printf("\nTotal de viagens: %d\n\n", written);
  bool failed = std::ferror(file) != 0;
  if (std::fclose(file) != 0 || failed || std::rename(new_file_name.c_str(), file_name.c_str()) != 0) {
    std::remove(new_file_name.c_str());
    fatal("\nProblemas na criacao do arquivo teste.trp\n");
  }
}

}  // namespace annealer
