// Sorvenna: the interactive annealer. After the common start-up a menu offers
// the search of a starting temperature followed by the annealing, or the
// annealing from the temperature that an earlier search left in Temp.txt with
// a report of the changed departures.
#include <cstdio>

#include "annealer/move.h"
#include "annealer/program.h"
#include "annealer/solver_process.h"
#include "common/common.h"

namespace {

constexpr AnnealerSettings SORVENNA_SETTINGS{
    .header_value = 0,
    .pause_after_trip_total = true,
    .pause_after_temperature = false,
    .cooling_factor = 0.5,
    .evaluations_per_temperature = 10,
};

// The temperature search.
constexpr double HEATING_FACTOR = 2.0;
constexpr double ACCEPTANCE_RATIO = 0.95;
constexpr int TRIALS_PER_TEMPERATURE = 10;
constexpr double START_TEMPERATURE = 1.0;

int show_menu() {
  std::printf("\n TRABALHO DE INTELIGENCIA COMPUTACIONAL PARA OTIMIZACAO\n");
  std::printf("\n************************************************* \n");
  std::printf("\n 0 - Sair do Programa:\n");
  std::printf("\n 1 - Calcular Temperatura Inicial e SA:\n");
  std::printf("\n 2 - Otimizar utilizando o Simuleted Annealing:\n");
  std::printf("\n************************************************* \n");
  std::printf("\n   Escolha: ");
  std::fflush(stdout);
  int choice = 0;
  if (std::scanf("%d", &choice) != 1) return 0;
  return choice;
}

int run_sorvenna() {
  seed_random();
  AnnealerRun run;
  run.solver_path = find_solver();
  start_up(run, SORVENNA_SETTINGS);

  int choice = show_menu();
  if (choice == 1) {
    double temperature = initial_temperature(run, SORVENNA_SETTINGS, HEATING_FACTOR, ACCEPTANCE_RATIO,
                                             TRIALS_PER_TEMPERATURE, START_TEMPERATURE);
    std::printf("\n Temperatura Inicial: %f\n", temperature);
    write_temperature(TEMPERATURE_FILE_NAME, temperature);
    pause_for_key();
    // The annealing starts from the temperature as stored, not as found.
    simulated_annealing(run, SORVENNA_SETTINGS, read_temperature(TEMPERATURE_FILE_NAME));
  } else if (choice == 2) {
    simulated_annealing(run, SORVENNA_SETTINGS, read_temperature(TEMPERATURE_FILE_NAME));
    report_changes(run.problem.num_trips, run.current, run.initial);
    pause_for_key();
    release_tables(run);
  }
  return 0;
}

}  // namespace

int main() {
  try {
    return run_sorvenna();
  } catch (const FatalError& error) {
    return report_fatal(error);
  }
}
