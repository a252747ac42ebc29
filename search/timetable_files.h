// A shifted timetable in the form the common writers take: the terminals and
// dead runs of the problem (so that the trip file needs no template file) and
// the trips with their present times, either in the order read or in the
// order of the trip file.
#pragma once

#include <string>
#include <vector>

#include "common/timetable_out.h"
#include "solver/problem.h"

namespace search {

using common::Timetable;
using solver::Problem;

// The terminals and dead runs of `problem` and its trips, trip k departing
// shift[k] minutes from its time read, listed in `order` (trip numbers as
// read, 1..num_trips).
Timetable shifted_timetable(const Problem& problem, const std::vector<int>& shift, const std::vector<int>& order);

// The trip file text of that timetable, as Tarsel_best.bss holds it; false
// with the reason when it cannot be written as a trip file.
bool shifted_trip_file(const Problem& problem, const std::vector<int>& shift, const std::vector<int>& order,
                       std::string& text, std::string& error);

}  // namespace search
