#include "annealer/best_timetable.h"

#include "annealer/move.h"
#include "common/common.h"
#include "common/timetable_out.h"

using namespace common;

namespace annealer {

namespace {

// The console keeps the texts it has always had; the reason goes to standard error.
[[noreturn]] void cannot_write(const std::string& file_name, const std::string& reason) {
  throw FatalError{"", 1, true, file_name + " not written: " + reason};
}

}  // namespace

void write_best_timetable(const AnnealerRun& run, const AnnealerSettings& settings) {
  const std::string best_name = make_file_name("", PROBLEM_NAME, BEST_TRIP_FILE_EXTENSION);
  const std::string shifts_name = make_file_name("", PROBLEM_NAME, SHIFTS_FILE_EXTENSION);
  std::string template_text;
  if (!read_template_text(TEMPLATE_FILE_NAME, template_text))
    cannot_write(best_name, std::string(TEMPLATE_FILE_NAME) + " cannot be read");
  // In the order it was evaluated in, so that the solver sees the same file.
  Timetable best = timetable_of(run.problem, run.current);
  Timetable initial = timetable_of(run.problem, run.initial);
  std::string error;
  if (!write_trip_file_whole(best_name, best, template_text, settings.header_value, error))
    cannot_write(best_name, error);
  // The move window is checked against the trip at the same place in the table read, and the
  // table is sorted again after every move, so a trip can end up more than the window away from
  // its own departure read. The shifts file reports what moved, however far; it only pairs trips.
  const int pairing_limit = 24 * 60;
  if (!write_shifts_file(shifts_name, initial, best.trips, pairing_limit, error)) cannot_write(shifts_name, error);
}

}  // namespace annealer
