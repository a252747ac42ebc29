// The files a shifted timetable leaves for the planner and for the solver:
// the trip file (the fixed-column layout the solver reads, trips in
// departure order, the dead-run matrix written out from the problem) and the
// table of shifts, one row per trip in the order read.
#pragma once

#include <string>
#include <vector>

#include "solver/problem.h"

// The trip file of the problem with trip k departing shift[k] minutes from
// its time in `problem`, listed in `order` (trip numbers as read).
std::string trip_file_text(const Problem& problem, const std::vector<int>& shift, const std::vector<int>& order);

// trip number (the line's aux value), line key, origin, destination,
// departure before and after (hh:mm), shift in minutes.
std::string shifts_table_text(const Problem& problem, const std::vector<int>& shift);
