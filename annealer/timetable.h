// The annealer's view of the problem: the trip records held in its four trip
// tables, the terminals and dead-run matrix read with them, and the reader of
// the trip file Tarsel.bss with the annealer's own (smaller) limits.
#pragma once

#include <string>
#include <vector>

namespace annealer {

inline constexpr int MAX_TABLE_TRIPS = 1500;
// Record 0 holds no trip and the sort before each write borrows the record
// after the last trip, so a table of the largest timetable needs two more.
inline constexpr int TRIP_TABLE_RECORDS = MAX_TABLE_TRIPS + 2;
inline constexpr int MAX_TABLE_TERMINALS = 20;
inline constexpr int TERMINAL_NAME_CAPACITY = 20;  // 19 characters and the terminator

// The seven values of a trip line, in the order they stand on it.
struct TripRecord {
  int departure_time = 0;  // minutes after midnight
  int arrival_time = 0;
  int origin_terminal = 0;  // index into the terminal table, 0 = depot terminal
  int destination_terminal = 0;
  float group_key = 0;
  int aux_value = 0;
  int min_layover = 0;
};

// Records 1..num_trips hold the trips in the order they were read or sorted.
using TripTable = std::vector<TripRecord>;

// What the trip file holds besides the trips themselves.
struct ProblemData {
  int num_trips = 0;
  int num_terminals = 0;
  char terminal_names[MAX_TABLE_TERMINALS][TERMINAL_NAME_CAPACITY] = {};
  int deadrun_matrix[MAX_TABLE_TERMINALS][MAX_TABLE_TERMINALS] = {};
};

// A table of `count` zeroed records; ends the program when memory runs out.
TripTable allocate_trip_table(int count);
void free_trip_table(TripTable& table);

// Records 1..count of `source` over the same records of `destination`.
void copy_trips(TripTable& destination, const TripTable& source, int count);

// The terminal's name, or an empty text for a number outside the table.
const char* terminal_name(const ProblemData& problem, int terminal);

// Reads the trip file into `problem` and records 1..num_trips of `table`,
// which must have TRIP_TABLE_RECORDS records.
// Every failure throws FatalError with the console message. Sorvenna pauses
// after the trip total line, Lurrick does not.
void read_trip_file(const std::string& file_name, ProblemData& problem, TripTable& table,
                    bool pause_after_total);

}  // namespace annealer
