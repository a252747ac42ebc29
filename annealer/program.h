// The start-up that Sorvenna and Lurrick share, and Sorvenna's temperature
// file, which carries a temperature found by one run over to the next.
#pragma once

#include "annealer/annealing.h"

namespace annealer {

inline constexpr const char* TEMPERATURE_FILE_NAME = "Temp.txt";

// Allocates the four tables, reads Tarsel.bss into the current one, keeps a
// copy as the initial table, lists the trips and prices the timetable as read
// with the solver at run.solver_path. A timetable without trips ends the
// program here, before any move.
void start_up(AnnealerRun& run, const AnnealerSettings& settings);

void release_tables(AnnealerRun& run);

void write_temperature(const char* file_name, double temperature);

// The temperature as a 32-bit real, as it has always been read back.
float read_temperature(const char* file_name);

}  // namespace annealer
