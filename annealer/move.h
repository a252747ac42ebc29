// The neighbourhood of the annealer: the move that shifts one trip by a few
// minutes inside its window around the initial timetable, the random draws,
// and the writer that turns a trip table into the trip file Tarsel.bss that
// the solver reads next.
#pragma once

#include <string>

#include "annealer/timetable.h"
#include "common/atomic_file.h"
#include "common/timetable_out.h"

namespace annealer {

// A trip never departs more than this many minutes away from its departure in
// the initial timetable.
inline constexpr int MOVE_WINDOW = 3;
// Largest shift of one move, earlier and later; every caller uses it.
inline constexpr int LARGEST_SHIFT = 3;
// The part of the trip file between the header and the trips (the dead-run
// matrix section), copied into every trip file written.
inline constexpr const char* TEMPLATE_FILE_NAME = "Teste.mvm";

enum ShiftDirection { EARLIER = 0, LATER = 1 };

struct Move {
  int trip = 1;  // record number, 1..num_trips
  int direction = EARLIER;
  int minutes = 1;
};

// Seeds the generator from the clock; once per program run, so that moves
// drawn within the same second still differ.
void seed_random();

// Draws trip, direction and size of a move and prints them.
Move draw_move(int largest_later, int largest_earlier, int num_trips);

// Shifts departure and arrival of the trip unless that would take it out of
// its window around record `move.trip` of `reference` or out of the times a
// trip line holds (00:00 to 99:59); tells whether it did.
bool apply_move(TripTable& table, const TripTable& reference, const Move& move);

// Draws a move and applies it to `table`.
void random_move(int largest_later, int largest_earlier, int num_trips, TripTable& table,
                 const TripTable& reference);

// A value in [a, b) on a grid of a thousandth of the interval; a when a == b.
double uniform_random(double a, double b);

// Ascending departure, in place, exchanging through record num_trips + 1.
void sort_by_departure(TripTable& table, int num_trips);

// Records 1..problem.num_trips of `table` with the problem's terminals, as
// the common writers take them.
common::Timetable timetable_of(const ProblemData& problem, const TripTable& table);

// Sorts records 1..problem.num_trips of `table` and writes them to
// problem_name + ".bss" behind a header and the template's content. A missing
// template ends the program before the trip file is touched, since a trip file
// without its dead-run matrix could not be read back. `lines`, when given,
// keeps the trip lines from one candidate's file to the next, and `file` the
// trip file's spare (common/atomic_file.h).
void write_trip_file(const std::string& problem_name, const ProblemData& problem, int header_value,
                     TripTable& table, common::TripLineCache* lines = nullptr,
                     common::RewrittenFile* file = nullptr);

}  // namespace annealer
