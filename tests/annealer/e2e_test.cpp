// Sorvenna and Lurrick as the user runs them: in a copy of the small example,
// keys on standard input, with the real solver or a fake one placed beside a
// copy of the program.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>

#include "annealer/timetable.h"
#include "test_support.h"
#include "tests/support/run_program.h"

using namespace annealer;

namespace {

const std::string BIN_DIR = TARSEL_BIN_DIR;
const std::string KEYS(30, '\n');

struct Outcome {
  int exit_code = -1;
  std::string output;
};

class AnnealerProgram : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = make_temp_dir("annealer");
    for (const char* name : {"Tarsel.bss", "Tarsel.ini", "Teste.mvm"})
      std::filesystem::copy_file(std::string(TARSEL_EXAMPLES_DIR) + "/small/" + name, dir_ + "/" + name);
    original_ = read_whole_file(dir_ + "/Tarsel.bss");
    trip_count_ = count_occurrences(original_, "\nTrip");
  }
  void TearDown() override { remove_dir(dir_); }

  // With `fake_solver`, runs a copy of the program with that fake beside it.
  // environment: "NAME=value" settings for the program.
  Outcome run(const std::string& program, const std::string& keys, const char* fake_solver = nullptr,
              const std::string& environment = "") {
    std::string binary = BIN_DIR + "/" + program;
    if (fake_solver != nullptr) {
      std::filesystem::remove_all(dir_ + "/bin");
      std::filesystem::create_directories(dir_ + "/bin");
      std::filesystem::copy_file(binary, dir_ + "/bin/" + program);
      binary = dir_ + "/bin/" + program;
      if (*fake_solver != '\0') write_fake_solver(dir_ + "/bin/Tovarin", fake_solver);
    }
    RunLimits limits;
    limits.input = keys;
    if (!environment.empty()) limits.environment.push_back(environment);
    const ProgramResult r = run_limited(binary, dir_, limits);
    return Outcome{r.exit_code, r.output};
  }

  static int value_after(const std::string& output, const std::string& label) {
    size_t at = output.rfind(label);
    EXPECT_NE(at, std::string::npos) << label;
    return at == std::string::npos ? 0 : std::atoi(output.c_str() + at + label.size());
  }

  int trips_left() {
    ProblemData problem;
    TripTable table = allocate_trip_table(TRIP_TABLE_RECORDS);
    read_trip_file(dir_ + "/Tarsel.bss", problem, table, false);
    return problem.num_trips;
  }

  // aux value -> departure, from the TRIP lines printed after `label`.
  static std::map<int, int> departures_listed(const std::string& output, const std::string& label) {
    std::map<int, int> departures;
    std::istringstream lines(output.substr(output.find(label) + label.size()));
    std::string line;
    int i, departure, origin, arrival, destination, aux, layover;
    float key;
    std::getline(lines, line);  // the rest of the label's line
    while (std::getline(lines, line) && (line.empty() || line.compare(0, 4, "TRIP") == 0))
      if (std::sscanf(line.c_str(), "TRIP%d %d %d %d %d %f %d %d", &i, &departure, &origin, &arrival,
                      &destination, &key, &aux, &layover) == 8)
        departures[aux] = departure;
    return departures;
  }

  // The shifts file takes every trip read, in order, to its TRIP_STAR
  // departure; with the real solver, Tarsel_best.bss costs the best FO.
  void check_best_files(const Outcome& outcome, bool solve) {
    std::map<int, int> before = departures_listed(outcome.output, "\nTOTAL OF TRIPS: ");
    std::map<int, int> after = departures_listed(outcome.output, "\nTRIP_STAR:");
    ASSERT_EQ(before.size(), static_cast<size_t>(trip_count_));
    ASSERT_EQ(after.size(), before.size());
    std::istringstream rows(read_whole_file(dir_ + "/Tarsel_shifts.csv"));
    std::string row;
    std::getline(rows, row);
    EXPECT_EQ(row, "aux_value,line_key,origin,destination,departure_before,departure_after,shift_minutes");
    int count = 0, previous_aux = 0;
    while (std::getline(rows, row)) {
      int aux, before_h, before_m, after_h, after_m, shift;
      char key[16], origin[16], destination[16];
      ASSERT_EQ(std::sscanf(row.c_str(), "%d,%15[^,],%15[^,],%15[^,],%d:%d,%d:%d,%d", &aux, key, origin,
                            destination, &before_h, &before_m, &after_h, &after_m, &shift), 9) << row;
      EXPECT_GT(aux, previous_aux) << "the example's trips are in aux order";
      previous_aux = aux;
      EXPECT_EQ(before_h * 60 + before_m, before[aux]) << row;
      EXPECT_EQ(after_h * 60 + after_m, after[aux]) << row;
      EXPECT_EQ(shift, after[aux] - before[aux]) << row;
      ++count;
    }
    EXPECT_EQ(count, trip_count_);
    if (!solve) return;
    std::string check = dir_ + "/best";
    std::filesystem::create_directories(check);
    std::filesystem::copy_file(dir_ + "/Tarsel.ini", check + "/Tarsel.ini");
    std::filesystem::copy_file(dir_ + "/Tarsel_best.bss", check + "/Tarsel.bss");
    ASSERT_EQ(run_program(BIN_DIR + "/Tovarin", check).exit_code, 0);
    EXPECT_EQ(std::atoi(read_whole_file(check + "/Tarsel.sol").c_str()), value_after(outcome.output, "\nMelhor FO: "));
  }

  std::string dir_;
  std::string original_;
  int trip_count_ = 0;
};

TEST_F(AnnealerProgram, LurrickAnnealsTheExampleAndLeavesASolvableTripFile) {
  Outcome outcome = run("Lurrick", KEYS);
  ASSERT_EQ(outcome.exit_code, 0) << outcome.output;
  EXPECT_EQ(count_occurrences(outcome.output, "\nFO Vizinho: "), 25);
  EXPECT_EQ(count_occurrences(outcome.output, "\nTemperatura: "), 5);
  EXPECT_LE(value_after(outcome.output, "\nMelhor FO: "), value_after(outcome.output, "\nFO inicial: "));
  EXPECT_NE(read_whole_file(dir_ + "/Tarsel.bss").find("\n\n[TRIP] 5\nTrip0    = "), std::string::npos);
  EXPECT_EQ(trips_left(), trip_count_);
  EXPECT_FALSE(std::filesystem::exists(dir_ + "/Tarsel.bss.new")) << "the candidates' spare";
  std::filesystem::remove(dir_ + "/Tarsel.sol");
  EXPECT_EQ(run_program(BIN_DIR + "/Tovarin", dir_).exit_code, 0);
  EXPECT_GT(std::atoi(read_whole_file(dir_ + "/Tarsel.sol").c_str()), 0);
  check_best_files(outcome, true);
}

class SorvennaQuits : public AnnealerProgram, public ::testing::WithParamInterface<const char*> {};

TEST_P(SorvennaQuits, OnAChoiceOtherThanOneOrTwo) {
  // Three pauses come before the menu: trip total, trip list, initial cost.
  Outcome outcome = run("Sorvenna", std::string("\n\n\n") + GetParam() + "\n");
  EXPECT_EQ(outcome.exit_code, 0) << outcome.output;
  EXPECT_NE(outcome.output.find("\nFO inicial: "), std::string::npos);
  EXPECT_NE(outcome.output.find("\n 2 - Otimizar utilizando o Simuleted Annealing:\n"), std::string::npos);
  EXPECT_EQ(outcome.output.find("FO Vizinho"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(dir_ + "/Temp.txt"));
  EXPECT_EQ(read_whole_file(dir_ + "/Tarsel.bss"), original_);
}

INSTANTIATE_TEST_SUITE_P(Choices, SorvennaQuits, ::testing::Values("0", "3", "-1"));

TEST_F(AnnealerProgram, SorvennaChoiceTwoAnnealsFromTheStoredTemperature) {
  Outcome missing = run("Sorvenna", "\n\n\n2\n" + KEYS);
  EXPECT_EQ(missing.exit_code, 1);
  EXPECT_NE(missing.output.find("\nFile Temp.txt not found\n"), std::string::npos);
  EXPECT_EQ(missing.output.find("FO Vizinho"), std::string::npos);

  write_whole_file(dir_ + "/Temp.txt", "0.004");
  Outcome outcome = run("Sorvenna", "\n\n\n2\n" + KEYS);
  ASSERT_EQ(outcome.exit_code, 0) << outcome.output;
  // Read as a 32-bit real, 0.004 quartered is still above the stop.
  EXPECT_EQ(count_occurrences(outcome.output, "\nFO Vizinho: "), 30);
  EXPECT_NE(outcome.output.find("\nTemperatura: 0.0005\n"), std::string::npos);
  EXPECT_LE(value_after(outcome.output, "\nMelhor FO: "), value_after(outcome.output, "\nFO inicial: "));
  EXPECT_NE(outcome.output.find("------------------- CONTADOR -----------------------\n"), std::string::npos);
  EXPECT_EQ(trips_left(), trip_count_);
  check_best_files(outcome, true);
}

TEST_F(AnnealerProgram, SorvennaChoiceOneStoresTheTemperatureItFound) {
  // Every neighbour is cheaper than the timetable read: the search stops at once.
  write_whole_file(dir_ + "/values", "1000\n999\n");
  Outcome outcome = run("Sorvenna", "\n\n\n1\n" + KEYS, SCRIPTED_COSTS);
  ASSERT_EQ(outcome.exit_code, 0) << outcome.output;
  EXPECT_NE(outcome.output.find("\n Temperatura Inicial: 1.000000\n"), std::string::npos);
  EXPECT_EQ(read_whole_file(dir_ + "/Temp.txt"), "1.000000");
  // 10 trials, then 1 halved down to 1/512: 10 temperatures of 10.
  EXPECT_EQ(count_occurrences(outcome.output, "\nFO Vizinho: "), 110);
  EXPECT_EQ(outcome.output.find("CONTADOR"), std::string::npos);
  check_best_files(outcome, false);
}

TEST_F(AnnealerProgram, FailingSolverStopsTheRunAndKeepsTheTripFile) {
  std::filesystem::remove(dir_ + "/Tarsel.ini");
  Outcome outcome = run("Lurrick", KEYS);
  EXPECT_EQ(outcome.exit_code, 1);
  EXPECT_NE(outcome.output.find("\nO Tovarin terminou com o c\xF3" "digo 1."), std::string::npos) << outcome.output;
  EXPECT_EQ(read_whole_file(dir_ + "/Tarsel.bss"), original_);

  Outcome later = run("Lurrick", KEYS, "[ $n -ge 3 ] && exit 2\necho 500 > Tarsel.sol");
  EXPECT_EQ(later.exit_code, 1);
  EXPECT_EQ(count_occurrences(later.output, "\nFO Vizinho: "), 1);
  EXPECT_EQ(trips_left(), trip_count_);  // the neighbour it was given
}

struct BrokenSolver {
  const char* name;
  const char* body;  // empty: no solver at all
  const char* message;
};
void PrintTo(const BrokenSolver& solver, std::ostream* out) {
  *out << solver.name;
}

class AnnealerWithBrokenSolver : public AnnealerProgram, public ::testing::WithParamInterface<BrokenSolver> {};

TEST_P(AnnealerWithBrokenSolver, EndsWithCodeOneAndSaysWhy) {
  write_whole_file(dir_ + "/Tarsel.sol", "1\n");  // left by an earlier run: never to be taken
  for (const char* program : {"Lurrick", "Sorvenna"}) {
    Outcome outcome = run(program, KEYS, GetParam().body, "PATH=/usr/bin:/bin");
    EXPECT_EQ(outcome.exit_code, 1) << program;
    EXPECT_NE(outcome.output.find(GetParam().message), std::string::npos) << outcome.output;
    EXPECT_EQ(outcome.output.find("FO inicial"), std::string::npos);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Solvers, AnnealerWithBrokenSolver,
    ::testing::Values(BrokenSolver{"killed", "kill -SEGV $$", "\nO Tovarin foi interrompido pelo sinal 11."},
                      BrokenSolver{"no_solution", "exit 0", "\nFile Tarsel.sol not found\n"},
                      BrokenSolver{"no_integer", "echo none > Tarsel.sol", "\nArquivo Tarsel.sol n\xE3o cont\xE9m um valor inteiro."},
                      BrokenSolver{"exit_code", "echo 10 > Tarsel.sol; exit 3", "digo 3. A execu\xE7\xE3o sera interrompida.\n"},
                      BrokenSolver{"missing", "", "\nN\xE3o foi poss\xEDvel iniciar o Tovarin: "}));

TEST_F(AnnealerProgram, MissingTemplateOrTripsStopBeforeTheTripFileIsReplaced) {
  std::filesystem::remove(dir_ + "/Teste.mvm");
  Outcome outcome = run("Lurrick", KEYS);
  EXPECT_EQ(outcome.exit_code, 1);
  EXPECT_NE(outcome.output.find("\nProblemas na leitura do arquivo teste.mvm\nVerifique a sua exist\xEAncia\n"),
            std::string::npos);
  EXPECT_EQ(read_whole_file(dir_ + "/Tarsel.bss"), original_);

  write_whole_file(dir_ + "/Tarsel.bss", original_.substr(0, original_.find("\nTrip0")) + "\n-----\n");
  std::filesystem::remove(dir_ + "/Tarsel.sol");
  Outcome no_trips = run("Lurrick", KEYS);
  EXPECT_EQ(no_trips.exit_code, 1);
  EXPECT_NE(no_trips.output.find("\nTOTAL OF TRIPS: 0\n"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(dir_ + "/Tarsel.sol"));
}

}  // namespace
