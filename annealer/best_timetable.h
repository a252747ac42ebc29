// What an annealing run hands on: the best timetable found as a trip file
// that Tovarin solves to the best cost printed, and the shift of every trip
// of the timetable read, for a planner to take back to the timetable.
#pragma once

#include "annealer/annealing.h"

namespace annealer {

inline constexpr const char* BEST_TRIP_FILE_EXTENSION = "_best.bss";
inline constexpr const char* SHIFTS_FILE_EXTENSION = "_shifts.csv";

// Writes both files from the current table (the best one once the annealing
// has ended) against the initial table, each whole or not at all. A failure is
// told on standard error and ends the program.
void write_best_timetable(const AnnealerRun& run, const AnnealerSettings& settings);

}  // namespace annealer
