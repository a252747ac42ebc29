// Sorvenna and Lurrick as the user runs them: in a problem directory, keys on
// standard input, with the real solver or a fake one placed beside a copy of
// the program.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>

#include "annealer/timetable.h"
#include "test_support.h"

namespace {

const std::string BIN_DIR = TARSEL_BIN_DIR;
const std::string EXAMPLE_DIR = std::string(TARSEL_EXAMPLES_DIR) + "/small";
const std::string ENTER_KEYS(30, '\n');

struct Outcome {
  int exit_code = -1;
  std::string output;
};

class AnnealerProgram : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = make_temp_dir();
    ASSERT_FALSE(dir_.empty());
    for (const char* name : {"Tarsel.bss", "Tarsel.ini", "Teste.mvm"})
      std::filesystem::copy_file(EXAMPLE_DIR + "/" + name, dir_ + "/" + name);
    original_trips_ = read_file(dir_ + "/Tarsel.bss");
    trip_count_ = count_occurrences(original_trips_, "\nTrip");
    ASSERT_GT(trip_count_, 1);
  }
  void TearDown() override { remove_tree(dir_); }

  // Runs the program built beside the real solver.
  Outcome run(const std::string& program, const std::string& keys) {
    return run_binary(BIN_DIR + "/" + program, keys, "");
  }

  // Runs a copy of the program with a fake solver `body` beside it.
  Outcome run_with_fake_solver(const std::string& program, const std::string& keys, const std::string& body) {
    std::string copy = copy_program(program);
    write_fake_solver(dir_ + "/bin/Tovarin", body);
    return run_binary(copy, keys, "");
  }

  std::string copy_program(const std::string& program) {
    std::filesystem::create_directories(dir_ + "/bin");
    std::string copy = dir_ + "/bin/" + program;
    std::filesystem::copy_file(BIN_DIR + "/" + program, copy);
    return copy;
  }

  Outcome run_binary(const std::string& binary, const std::string& keys, const std::string& environment) {
    write_file(dir_ + "/keys", keys);
    Outcome outcome;
    outcome.exit_code =
        run_shell("cd '" + dir_ + "' && " + environment + " '" + binary + "' < keys > console.txt 2>&1");
    outcome.output = read_file(dir_ + "/console.txt");
    return outcome;
  }

  // The number printed after `label` (the last time it is printed).
  static int value_after(const std::string& output, const std::string& label) {
    size_t at = output.rfind(label);
    EXPECT_NE(at, std::string::npos) << label;
    return at == std::string::npos ? 0 : std::atoi(output.c_str() + at + label.size());
  }

  // The trips of the trip file left in the directory, as the annealer reads it.
  int trips_left() {
    ProblemData problem;
    TripTable table = allocate_trip_table(TRIP_TABLE_RECORDS);
    read_trip_file(dir_ + "/Tarsel.bss", problem, table, false);
    return problem.num_trips;
  }

  std::string dir_;
  std::string original_trips_;
  int trip_count_ = 0;
};

TEST_F(AnnealerProgram, LurrickAnnealsTheExampleAndLeavesASolvableTripFile) {
  Outcome outcome = run("Lurrick", ENTER_KEYS);
  ASSERT_EQ(outcome.exit_code, 0) << outcome.output;
  EXPECT_EQ(count_occurrences(outcome.output, "\nFO Vizinho: "), 25);
  EXPECT_EQ(count_occurrences(outcome.output, "\nTemperatura: "), 5);
  EXPECT_EQ(outcome.output.find("Escolha"), std::string::npos);
  EXPECT_LE(value_after(outcome.output, "\nMelhor FO: "), value_after(outcome.output, "\nFO inicial: "));

  std::string left = read_file(dir_ + "/Tarsel.bss");
  EXPECT_NE(left.find("\n\n[TRIP] 5\nTrip0    = "), std::string::npos);
  EXPECT_EQ(trips_left(), trip_count_);
  EXPECT_EQ(run_shell("cd '" + dir_ + "' && rm -f Tarsel.sol && '" + BIN_DIR + "/Tovarin' < /dev/null > /dev/null"), 0);
  EXPECT_GT(std::atoi(read_file(dir_ + "/Tarsel.sol").c_str()), 0);
}

class SorvennaQuits : public AnnealerProgram, public ::testing::WithParamInterface<const char*> {};

TEST_P(SorvennaQuits, OnAChoiceOtherThanOneOrTwo) {
  // Three pauses come before the menu: trip total, trip list, initial cost.
  Outcome outcome = run("Sorvenna", std::string("\n\n\n") + GetParam() + "\n");
  EXPECT_EQ(outcome.exit_code, 0) << outcome.output;
  EXPECT_NE(outcome.output.find("\n 2 - Otimizar utilizando o Simuleted Annealing:\n"), std::string::npos);
  EXPECT_NE(outcome.output.find("\nFO inicial: "), std::string::npos);
  EXPECT_EQ(outcome.output.find("FO Vizinho"), std::string::npos);
  EXPECT_FALSE(file_exists(dir_ + "/Temp.txt"));
  EXPECT_EQ(read_file(dir_ + "/Tarsel.bss"), original_trips_);
}

INSTANTIATE_TEST_SUITE_P(Choices, SorvennaQuits, ::testing::Values("0", "3", "-1"));

TEST_F(AnnealerProgram, SorvennaChoiceTwoNeedsATemperatureFile) {
  Outcome outcome = run("Sorvenna", "\n\n\n2\n" + ENTER_KEYS);
  EXPECT_EQ(outcome.exit_code, 1);
  EXPECT_NE(outcome.output.find("\nFile Temp.txt not found\n"), std::string::npos);
  EXPECT_EQ(outcome.output.find("FO Vizinho"), std::string::npos);
}

TEST_F(AnnealerProgram, SorvennaChoiceTwoAnnealsFromTheStoredTemperature) {
  write_file(dir_ + "/Temp.txt", "0.004");
  Outcome outcome = run("Sorvenna", "\n\n\n2\n" + ENTER_KEYS);
  ASSERT_EQ(outcome.exit_code, 0) << outcome.output;
  // Read as a 32-bit real, 0.004 quartered is still above the stop: three
  // temperatures of ten evaluations.
  EXPECT_EQ(count_occurrences(outcome.output, "\nFO Vizinho: "), 30);
  EXPECT_NE(outcome.output.find("\nTemperatura: 0.0010\n"), std::string::npos);
  EXPECT_NE(outcome.output.find("\nTemperatura: 0.0005\n"), std::string::npos);
  EXPECT_LE(value_after(outcome.output, "\nMelhor FO: "), value_after(outcome.output, "\nFO inicial: "));
  EXPECT_NE(outcome.output.find("------------------- CONTADOR -----------------------\n"), std::string::npos);
  EXPECT_NE(outcome.output.find("\n Total de viagens que sofreram alteracao: "), std::string::npos);
  EXPECT_EQ(trips_left(), trip_count_);
}

TEST_F(AnnealerProgram, SorvennaChoiceOneStoresTheTemperatureItFound) {
  // The first run prices the timetable read; every neighbour is cheaper, so
  // the search stops at the starting temperature.
  write_file(dir_ + "/values", "1000\n999\n");
  Outcome outcome = run_with_fake_solver("Sorvenna", "\n\n\n1\n" + ENTER_KEYS, SCRIPTED_COSTS);
  ASSERT_EQ(outcome.exit_code, 0) << outcome.output;
  EXPECT_NE(outcome.output.find("\n Temperatura Inicial: 1.000000\n"), std::string::npos);
  EXPECT_EQ(read_file(dir_ + "/Temp.txt"), "1.000000");
  // 10 trials, then 1 halved down to 1/512: 10 temperatures of 10 evaluations.
  EXPECT_EQ(count_occurrences(outcome.output, "\nFO Vizinho: "), 110);
  EXPECT_EQ(outcome.output.find("CONTADOR"), std::string::npos);
  EXPECT_EQ(value_after(outcome.output, "\nMelhor FO: "), 999);
}

TEST_F(AnnealerProgram, FailingSolverStopsTheRunAndKeepsTheTripFile) {
  std::filesystem::remove(dir_ + "/Tarsel.ini");
  Outcome outcome = run("Lurrick", ENTER_KEYS);
  EXPECT_EQ(outcome.exit_code, 1);
  EXPECT_NE(outcome.output.find("\nO Tovarin terminou com o c\xF3" "digo 1."), std::string::npos) << outcome.output;
  EXPECT_EQ(outcome.output.find("FO inicial"), std::string::npos);
  EXPECT_EQ(read_file(dir_ + "/Tarsel.bss"), original_trips_);
}

TEST_F(AnnealerProgram, SolverFailingOnANeighbourLeavesAReadableTripFile) {
  Outcome outcome = run_with_fake_solver("Lurrick", ENTER_KEYS, "[ $n -ge 3 ] && exit 2\necho 500 > Tarsel.sol");
  EXPECT_EQ(outcome.exit_code, 1);
  EXPECT_NE(outcome.output.find("digo 2. A execu\xE7\xE3o sera interrompida.\n"), std::string::npos);
  EXPECT_EQ(count_occurrences(outcome.output, "\nFO Vizinho: "), 1);
  EXPECT_NE(read_file(dir_ + "/Tarsel.bss").find("[TRIP] 5"), std::string::npos);
  EXPECT_EQ(trips_left(), trip_count_);
}

struct BrokenSolver {
  const char* body;
  const char* message;
};

class AnnealerWithBrokenSolver : public AnnealerProgram, public ::testing::WithParamInterface<BrokenSolver> {};

TEST_P(AnnealerWithBrokenSolver, EndsWithCodeOneAndSaysWhy) {
  // A solution file of an earlier run must not pass for this one's.
  write_file(dir_ + "/Tarsel.sol", "1\n");
  for (const char* program : {"Lurrick", "Sorvenna"}) {
    SCOPED_TRACE(program);
    std::filesystem::remove_all(dir_ + "/bin");
    Outcome outcome = run_with_fake_solver(program, ENTER_KEYS, GetParam().body);
    EXPECT_EQ(outcome.exit_code, 1);
    EXPECT_NE(outcome.output.find(GetParam().message), std::string::npos) << outcome.output;
    EXPECT_EQ(outcome.output.find("FO inicial"), std::string::npos);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Solvers, AnnealerWithBrokenSolver,
    ::testing::Values(BrokenSolver{"kill -SEGV $$", "\nO Tovarin foi interrompido pelo sinal 11."},
                      BrokenSolver{"exit 0", "\nFile Tarsel.sol not found\n"},
                      BrokenSolver{"echo none > Tarsel.sol", "\nArquivo Tarsel.sol n\xE3o cont\xE9m um valor inteiro."},
                      BrokenSolver{"echo 10 > Tarsel.sol; exit 3", "digo 3. A execu\xE7\xE3o sera interrompida.\n"}));

TEST_F(AnnealerProgram, SolverThatCannotBeFoundIsReported) {
  std::string copy = copy_program("Lurrick");
  Outcome outcome = run_binary(copy, ENTER_KEYS, "PATH=/usr/bin:/bin");
  EXPECT_EQ(outcome.exit_code, 1);
  EXPECT_NE(outcome.output.find("\nN\xE3o foi poss\xEDvel iniciar o Tovarin: "), std::string::npos) << outcome.output;
}

TEST_F(AnnealerProgram, MissingTemplateStopsBeforeTheTripFileIsReplaced) {
  std::filesystem::remove(dir_ + "/Teste.mvm");
  Outcome outcome = run("Lurrick", ENTER_KEYS);
  EXPECT_EQ(outcome.exit_code, 1);
  EXPECT_NE(outcome.output.find("\nProblemas na leitura do arquivo teste.mvm\nVerifique a sua exist\xEAncia\n"),
            std::string::npos);
  EXPECT_NE(outcome.output.find("\nFO inicial: "), std::string::npos);
  EXPECT_EQ(read_file(dir_ + "/Tarsel.bss"), original_trips_);
}

TEST_F(AnnealerProgram, TimetableWithoutTripsIsRefusedBeforeTheSolverRuns) {
  std::string trips = original_trips_;
  write_file(dir_ + "/Tarsel.bss", trips.substr(0, trips.find("\nTrip0")) + "\n-----\n");
  Outcome outcome = run("Lurrick", ENTER_KEYS);
  EXPECT_EQ(outcome.exit_code, 1);
  EXPECT_NE(outcome.output.find("\nTOTAL OF TRIPS: 0\n"), std::string::npos);
  EXPECT_EQ(outcome.output.find("Tarsel.sol"), std::string::npos);
  EXPECT_FALSE(file_exists(dir_ + "/Tarsel.sol"));
}

}  // namespace
