#include "annealer/annealing.h"

#include <cmath>
#include <cstdio>
#include <string>

#include "annealer/move.h"
#include "annealer/solver_process.h"
#include "common/common.h"
#include "common/diagnostics.h"
#include "common/format.h"
#include "common/progress.h"
#include "common/run_end.h"
#include "common/timetable_out.h"

using namespace common;

namespace annealer {

void read_objective(const std::string& file_name, int& value) {
  std::FILE* file = std::fopen(file_name.c_str(), "r");
  if (file == nullptr) fatal("\nFile %s not found\n", file_name.c_str());
  int read = 0;
  int got = std::fscanf(file, "%d", &read);
  if (got == 1) warn_if_cut(file, 0, file_name, "total cost", shown_int(read));
  std::fclose(file);
  if (got != 1)
    fatal_diagnostic("\nArquivo %s n\xE3o cont\xE9m um valor inteiro. A execu\xE7\xE3o sera interrompida.\n", file_name.c_str());
  value = read;
}

int evaluate_trip_file(const AnnealerRun& run) {
  std::string solution_file_name = make_file_name("", PROBLEM_NAME, ".sol");
  run_solver_process(run.solver_path, solution_file_name);
  int value = 0;
  read_objective(solution_file_name, value);
  return value;
}

int evaluate_neighbour(AnnealerRun& run, const AnnealerSettings& settings) {
  const int num_trips = run.problem.num_trips;
  copy_trips(run.neighbour, run.current, num_trips);
  random_move(LARGEST_SHIFT, LARGEST_SHIFT, num_trips, run.neighbour, run.initial);
  write_trip_file(PROBLEM_NAME, run.problem, settings.header_value, run.neighbour, &run.trip_lines, &run.trip_file);
  int fo_neighbour = evaluate_trip_file(run);
  // Every candidate carries the template's dead-run matrix as it is: what the
  // solver read leniently in it has been shown now, once.
  if (!run.candidate_read) {
    mark_files_warned({make_file_name("", PROBLEM_NAME, ".bss") + MATRIX_PART});
    run.candidate_read = true;
  }
  std::printf("\nFO Vizinho: %d\n", fo_neighbour);
  return fo_neighbour;
}

bool metropolis_accepts(long long delta, double temperature, double u) {
  return std::exp(-static_cast<double>(delta) / temperature) > u;
}

bool counts_in_temperature_search(long long delta, double temperature, double u) {
  return delta < 0 || (delta != 0 && metropolis_accepts(delta, temperature, u));
}

void print_trips(const TripTable& table, int num_trips, bool line_break_before) {
  // "TRIP%d %d %d %d %d %6.2f %d %d\n" for each trip, written at once.
  std::string text;
  text.reserve(static_cast<size_t>(num_trips > 0 ? num_trips : 0) * 48);
  KeyTexts keys{"%6.2f"};
  for (int i = 1; i <= num_trips; ++i) {
    const TripRecord& trip = table[i];
    if (line_break_before) text += '\n';
    append_format(text, "TRIP%d %d %d %d %d %s %d %d\n", i, trip.departure_time, trip.origin_terminal,
                  trip.arrival_time, trip.destination_terminal, key_text(keys, trip.group_key).c_str(),
                  trip.aux_value, trip.min_layover);
  }
  std::fwrite(text.data(), 1, text.size(), stdout);
}

void simulated_annealing(AnnealerRun& run, const AnnealerSettings& settings, double temperature) {
  const int num_trips = run.problem.num_trips;
  copy_trips(run.best, run.current, num_trips);
  int best_fo = run.fo;
  const Progress progress = start_progress();
  int evaluations = 0;
  while (temperature > STOP_TEMPERATURE) {
    for (int e = 0; e < settings.evaluations_per_temperature; ++e) {
      int fo_neighbour = evaluate_neighbour(run, settings);
      long long delta = static_cast<long long>(fo_neighbour) - run.fo;
      std::printf("\nDELTA: %lld\n", delta);
      if (delta < 0) {
        copy_trips(run.current, run.neighbour, num_trips);
        run.fo = fo_neighbour;
        if (fo_neighbour < best_fo) {
          copy_trips(run.best, run.neighbour, num_trips);
          best_fo = fo_neighbour;
        }
      } else if (metropolis_accepts(delta, temperature, uniform_random(0, 1))) {
        copy_trips(run.current, run.neighbour, num_trips);
        run.fo = fo_neighbour;
      }
      show_progress(progress, "annealing: evaluation %d, temperature %.4f, FO %d, best FO %d", ++evaluations,
                    temperature, run.fo, best_fo);
    }
    temperature *= settings.cooling_factor;
    std::printf("\nTemperatura: %2.4f\n", temperature);
    if (settings.pause_after_temperature) pause_for_key();
  }
  close_progress_line();
  // No candidate follows: the trip file's spare goes.
  remove_spare(run.trip_file);
  forget_on_interrupt(run.trip_file.spare_path);
  copy_trips(run.current, run.best, num_trips);
  run.fo = best_fo;
  std::printf("\nTRIP_STAR:\n");
  print_trips(run.current, num_trips, false);
  std::printf("\nMelhor FO: %d\n", run.fo);
  pause_for_key();
}

double initial_temperature(AnnealerRun& run, const AnnealerSettings& settings, double heating_factor,
                           double ratio, int trials, double start_temperature) {
  double temperature = start_temperature;
  const Progress progress = start_progress();
  int evaluations = 0;
  for (int heating_steps = 0;; ++heating_steps) {
    int accepted = 0;
    for (int t = 0; t < trials; ++t) {
      long long delta = static_cast<long long>(evaluate_neighbour(run, settings)) - run.fo;
      // An improvement needs no draw; the others take one, as in the annealing.
      double u = delta < 0 ? 0 : uniform_random(0, 1);
      if (counts_in_temperature_search(delta, temperature, u)) ++accepted;
      show_progress(progress, "temperature search: evaluation %d, temperature %g, accepted %d of %d, FO %d",
                    ++evaluations, temperature, accepted, t + 1, run.fo);
    }
    if (accepted >= trials * ratio || heating_steps == MAX_HEATING_STEPS) close_progress_line();
    if (accepted >= trials * ratio) return temperature;
    if (heating_steps == MAX_HEATING_STEPS) {
      warning("\nBusca da temperatura inicial encerrada ap\xF3s %d duplica\xE7\xF5" "es: temperatura %f\n",
              MAX_HEATING_STEPS, temperature);
      return temperature;
    }
    temperature *= heating_factor;
  }
}

ChangeCounts count_changes(int num_trips, const TripTable& final_table, const TripTable& initial_table) {
  ChangeCounts counts;
  for (int i = 1; i <= num_trips; ++i) {
    int diff = final_table[i].departure_time - initial_table[i].departure_time;
    if (diff == 0) continue;
    if (diff > 0) {
      ++counts.later;
      counts.later_minutes += diff;
    } else {
      ++counts.earlier;
      counts.earlier_minutes += diff;
    }
  }
  return counts;
}

void report_changes(int num_trips, const TripTable& final_table, const TripTable& initial_table) {
  print_trips(final_table, num_trips, true);
  ChangeCounts counts = count_changes(num_trips, final_table, initial_table);
  std::printf("------------------- CONTADOR -----------------------\n");
  std::printf("\n Total de viagens que sofreram alteracao: %d\n", counts.later + counts.earlier);
  std::printf("\n Viagens que sofreram alteracao para mais: %d\n", counts.later);
  std::printf("\n Total de tempo para mais: %d minutos\n", counts.later_minutes);
  std::printf("\n Viagens que sofreram alteracao para menos: %d\n", counts.earlier);
  std::printf("\n Total de tempo para menos: %d minutos\n", counts.earlier_minutes);
  std::printf("----------------------------------------------------\n");
  pause_for_key();
}

}  // namespace annealer
