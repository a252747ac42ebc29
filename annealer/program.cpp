#include "annealer/program.h"

#include <cmath>
#include <cstdio>

#include "common/atomic_file.h"
#include "common/common.h"
#include "common/diagnostics.h"
#include "common/problem_lock.h"

using namespace common;

namespace annealer {

void start_up(AnnealerRun& run, const AnnealerSettings& settings) {
  // For the whole run, before the trip file is read: the solver runs started
  // below work under this hold, and any other run on this problem is kept out.
  hold_problem_lock(problem_lock_path("", PROBLEM_NAME), run.lock);
  share_problem_lock(run.lock);

  run.current = allocate_trip_table(TRIP_TABLE_RECORDS);
  run.initial = allocate_trip_table(TRIP_TABLE_RECORDS);
  run.best = allocate_trip_table(TRIP_TABLE_RECORDS);
  run.neighbour = allocate_trip_table(TRIP_TABLE_RECORDS);

  std::string trip_file_name = make_file_name("", PROBLEM_NAME, ".bss");
  read_trip_file(trip_file_name, run.problem, run.current, settings.pause_after_trip_total);
  if (run.problem.num_trips == 0)
    fatal_diagnostic("\nArquivo %s n\xE3o cont\xE9m viagens. A execu\xE7\xE3o sera interrompida.\n", trip_file_name.c_str());
  copy_trips(run.initial, run.current, run.problem.num_trips);

  print_trips(run.current, run.problem.num_trips, true);
  pause_for_key();

  run.fo = evaluate_trip_file(run);
  // The parameter and groups files stay as they are for the whole run: what
  // the solver read leniently in them has been shown now, once.
  mark_files_warned({make_file_name("", PROBLEM_NAME, ".ini"), make_file_name("", PROBLEM_NAME, ".prr")});
  std::printf("\nFO inicial: %d\n", run.fo);
  pause_for_key();
}

void release_tables(AnnealerRun& run) {
  free_trip_table(run.neighbour);
  free_trip_table(run.initial);
  free_trip_table(run.best);
  free_trip_table(run.current);
}

void write_temperature(const char* file_name, double temperature) {
  char text[512];
  std::snprintf(text, sizeof text, "%f", temperature);
  FileFailure failure;
  if (!write_file_atomically(file_name, text, failure)) fatal_with_detail(failure.text(), "\nFile %s not found\n", file_name);
}

float read_temperature(const char* file_name) {
  std::FILE* file = std::fopen(file_name, "r");
  if (file == nullptr) fatal("\nFile %s not found\n", file_name);
  float temperature = 0;
  int got = std::fscanf(file, "%f", &temperature);
  if (got == 1) warn_if_cut(file, 0, file_name, "temperature", shown_real(temperature));
  std::fclose(file);
  // An infinite temperature would never cool down to the end of the annealing.
  if (got != 1 || !std::isfinite(temperature))
    fatal_diagnostic("\nArquivo %s n\xE3o cont\xE9m uma temperatura v\xE1lida. A execu\xE7\xE3o sera interrompida.\n", file_name);
  return temperature;
}

}  // namespace annealer
