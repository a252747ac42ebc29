// The files that carry a changed timetable out of a search: a trip file in the
// layout the annealers write (which Tovarin and the annealers read back), and
// the shifts file, one row per trip of the timetable the search started from
// with its departure before and after. Both are built in memory and put in
// place whole, so a failed write leaves the previous file (or none).
//
// The writers take plain trip values, not a program's own tables, so that any
// search can use them; they accept what the solver takes, not only what the
// annealers hold.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace common {

inline constexpr int TIMETABLE_MAX_TRIPS = 2734;
inline constexpr int TIMETABLE_MAX_TERMINALS = 65;
// A trip line writes its times as four digits, hhmm.
inline constexpr int LATEST_TRIP_LINE_TIME = 99 * 60 + 59;

// The seven values of a trip line, times in minutes, terminals as indices
// into the terminal names (0 = depot terminal).
struct TimetableTrip {
  int departure_time = 0;
  int arrival_time = 0;
  int origin_terminal = 0;
  int destination_terminal = 0;
  float group_key = 0;
  int aux_value = 0;
  int min_layover = 0;
};

struct Timetable {
  std::vector<std::string> terminal_names;
  std::vector<TimetableTrip> trips;  // in the order they are written
  // Dead runs in minutes from the row's terminal to the column's, row after
  // row; only the matrix section needs them.
  std::vector<int> deadrun_minutes;
};

// "[DEAD_RUN_MATRIX]" down to the last matrix value, in the layout the
// solver and the annealers read, ending right after that value: the template
// text of a trip file written without a template file. `deadrun_minutes`
// must hold a full matrix.
std::string format_matrix_section(const Timetable& timetable);

// The trip lines of the last file formatted with it. A search writes one
// trip file per candidate, and a candidate differs from the one before in a
// few trips, so only the lines whose position, values or terminal names
// changed are formatted again; the others are the same bytes.
struct TripLineCache {
  std::vector<std::string> terminal_names;
  std::vector<TimetableTrip> trips;  // what each line was formatted from
  std::vector<std::string> lines;
};

// The whole trip file: title, clock line, `template_text` (the dead-run matrix
// section, ending right after its last value) and "\n\n", "[TRIP] header",
// one line per trip, the closing lines. `clock_text` is what asctime gives.
// False, with the reason in `error`, when the timetable is beyond the limits
// or names a terminal it does not have. `cache`, when given, keeps the lines
// for the next call.
bool format_trip_file(const Timetable& timetable, const std::string& template_text, int header_value,
                      const char* clock_text, std::string& text, std::string& error,
                      TripLineCache* cache = nullptr);

// The annealers write their trips anew for every candidate; a line key's
// "%.2f" takes printf down its floating-point path, and a timetable has a few
// dozen keys, so each key's text is formatted (with `format`) once.
struct KeyTexts {
  const char* format;
  std::vector<std::pair<std::uint32_t, std::string>> known = {};  // by the key's bits
  std::string spare = {};
};
const std::string& key_text(KeyTexts& keys, float key);

// What asctime gives for the local time now; empty when it cannot be had.
std::string local_clock_text();

// format_trip_file with the local time, put in place whole.
bool write_trip_file_whole(const std::string& file_name, const Timetable& timetable,
                           const std::string& template_text, int header_value, std::string& error);

// The template file's content, byte for byte, as the annealers copy it into
// every candidate's trip file; false when it cannot be opened or read.
bool read_template_text(const std::string& file_name, std::string& text);

// For each trip of `before`, the index of the same trip in `after`: equal in
// everything but a departure (and arrival) moved by at most `max_shift`
// minutes. Trips alike in all but their times pair in departure order. False,
// with the reason, when `after` is not such a rearrangement of `before`.
bool pair_shifted_trips(const std::vector<TimetableTrip>& before, const std::vector<TimetableTrip>& after,
                        int max_shift, std::vector<int>& index_in_after, std::string& error);

// One row per trip of `before`, in its order: aux value, line key, origin,
// destination, departure before and after (hh:mm) and the shift in minutes.
bool format_shifts_file(const Timetable& before, const std::vector<TimetableTrip>& after, int max_shift,
                        std::string& text, std::string& error);
bool write_shifts_file(const std::string& file_name, const Timetable& before,
                       const std::vector<TimetableTrip>& after, int max_shift, std::string& error);

}  // namespace common
