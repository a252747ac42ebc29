// Random problems for property tests, and writers of the three input files in
// the layout the solver reads, so that in-process and whole-program runs can
// be compared on the same data.
#pragma once

#include <random>
#include <string>

#include "solver/problem.h"
#include "tests/support/files.h"

using namespace solver;

struct RandomProblemShape {
  int min_trips = 5;
  int max_trips = 80;
  int max_terminals = 8;   // depot included
  bool groups = false;     // write a groups file with link preferences in force
};

// Deterministic for a seed.
Problem random_problem(unsigned seed, const RandomProblemShape& shape);

// Writes dir/Tarsel.ini, dir/Tarsel.bss and (when the problem has groups)
// dir/Tarsel.prr. dir ends with '/'.
void write_problem_files(const std::string& dir, const Problem& problem);

