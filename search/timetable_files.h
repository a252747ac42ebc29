// A shifted timetable in the forms the common writers take: the trip file's
// dead-run matrix section written out from the problem (so that no template
// file is needed), and the trips with their present times, either in the
// order read or in the order of the trip file.
#pragma once

#include <string>
#include <vector>

#include "common/timetable_out.h"
#include "solver/problem.h"

namespace search {

using common::Timetable;
using solver::Problem;

// "[DEAD_RUN_MATRIX]" down to the last matrix value, in the layout the
// solver reads, ending right after that value.
std::string matrix_section(const Problem& problem);

// The trips of `problem`, trip k departing shift[k] minutes from its time
// read, listed in `order` (trip numbers as read, 1..num_trips).
Timetable shifted_timetable(const Problem& problem, const std::vector<int>& shift, const std::vector<int>& order);

// The trip file text of that timetable, as Tarsel_best.bss holds it; false
// with the reason when it cannot be written as a trip file.
bool shifted_trip_file(const Problem& problem, const std::vector<int>& shift, const std::vector<int>& order,
                       std::string& text, std::string& error);

}  // namespace search
