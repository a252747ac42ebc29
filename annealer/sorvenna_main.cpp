// Sorvenna: the interactive annealer. After the common start-up a menu offers
// the search of a starting temperature followed by the annealing, or the
// annealing from the temperature that an earlier search left in Temp.txt with
// a report of the changed departures.
#include <cstdio>

#include "annealer/best_timetable.h"
#include "annealer/move.h"
#include "annealer/program.h"
#include "annealer/solver_process.h"
#include "common/command_line.h"
#include "common/common.h"
#include "common/run_end.h"

using namespace common;
using namespace annealer;

namespace {

constexpr ProgramDescription SORVENNA{
    "Sorvenna",
    "Improves the timetable of the problem Tarsel in the current directory by\n"
    "simulated annealing: shifts one departure at a time by 1 to 3 minutes (at most\n"
    "3 from the timetable read), prices each candidate with Tovarin (the one beside\n"
    "this program, else the one on the PATH) and keeps the cheaper ones. A menu\n"
    "offers 1: search a starting temperature, store it in Temp.txt and anneal;\n"
    "2: anneal from the temperature in Temp.txt and count the changed departures.\n"
    "\n"
    "Reads:   Tarsel.bss   the timetable (at most 1500 trips, 20 terminals)\n"
    "         Teste.mvm    the dead-run matrix section copied into each trip file\n"
    "         Tarsel.sol   each candidate's cost, from Tovarin\n"
    "         Temp.txt     the starting temperature (choice 2)\n"
    "Writes:  Tarsel.bss   rewritten before every solver run: keep a copy of yours\n"
    "         Temp.txt     the temperature found (choice 1)\n"
    "         Tarsel_best.bss    the best timetable found, as a trip file\n"
    "         Tarsel_shifts.csv  each trip read with its departure before and after\n"
    "         and, through Tovarin, its reports (Tarsel.log, .est, .lus, .arm, .sol, .bla)\n"
    "Standard input: the menu choice, and a key (Enter) at every pause.\n"
    "\n"
    "Exit codes: 0 done (also for a menu choice other than 1 and 2); 1 error (after\n"
    "its message and a pause); 2 arguments not understood.\n",
};

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
    write_best_timetable(run, SORVENNA_SETTINGS);
  } else if (choice == 2) {
    simulated_annealing(run, SORVENNA_SETTINGS, read_temperature(TEMPERATURE_FILE_NAME));
    write_best_timetable(run, SORVENNA_SETTINGS);
    report_changes(run.problem.num_trips, run.current, run.initial);
    pause_for_key();
    release_tables(run);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (int code = handle_arguments(argc, argv, SORVENNA); code != RUN_PROGRAM) return code;
  install_interrupt_handlers();
  try {
    return run_sorvenna();
  } catch (const FatalError& error) {
    return report_fatal(error);
  } catch (...) {
    return report_unexpected_exception();
  }
}
