#include "common/timetable_out.h"

#include <algorithm>
#include <cstdint>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <map>
#include <tuple>

#include "common/atomic_file.h"
#include "common/common.h"
#include "common/format.h"

namespace common {

namespace {

bool check_size(const Timetable& timetable, std::string& error) {
  if (timetable.trips.size() > static_cast<size_t>(TIMETABLE_MAX_TRIPS)) {
    error = std::to_string(timetable.trips.size()) + " trips, more than the " +
            std::to_string(TIMETABLE_MAX_TRIPS) + " a trip file may hold";
    return false;
  }
  if (timetable.terminal_names.size() > static_cast<size_t>(TIMETABLE_MAX_TERMINALS)) {
    error = std::to_string(timetable.terminal_names.size()) + " terminals, more than the " +
            std::to_string(TIMETABLE_MAX_TERMINALS) + " a trip file may hold";
    return false;
  }
  return true;
}

const std::string* terminal_of(const Timetable& timetable, int terminal) {
  if (terminal < 0 || static_cast<size_t>(terminal) >= timetable.terminal_names.size()) return nullptr;
  return &timetable.terminal_names[static_cast<size_t>(terminal)];
}

bool check_terminals(const Timetable& timetable, const std::vector<TimetableTrip>& trips, std::string& error) {
  for (size_t i = 0; i < trips.size(); ++i)
    for (int terminal : {trips[i].origin_terminal, trips[i].destination_terminal})
      if (terminal_of(timetable, terminal) == nullptr) {
        error = "trip " + std::to_string(i + 1) + " names terminal " + std::to_string(terminal) + " of " +
                std::to_string(timetable.terminal_names.size());
        return false;
      }
  return true;
}

// A time in minutes as `format` shows its hours and minutes.
std::string clock(int time, const char* format = "%02d:%02d") {
  int hours, minutes;
  split_minutes(time, hours, minutes);
  char text[32];
  std::snprintf(text, sizeof text, format, hours, minutes);
  return text;
}

// The trip line's hhmm field; the readers take it by fixed widths and digits
// only, so a time before 00:00 or past 99:59 cannot be written.
bool fits_hhmm(int time) {
  return time >= 0 && time <= LATEST_TRIP_LINE_TIME;
}

// One trip line, as "\n%s%-4d = %02d%02d, %-8s     | %02d%02d, %-8s     | %.2f \t%d\t%d" writes it,
// the line key's text taken from `keys`.
void append_trip_line(std::string& text, int index, const TimetableTrip& trip, const std::string& origin,
                      const std::string& destination, KeyTexts& keys) {
  int departure_hours, departure_minutes, arrival_hours, arrival_minutes;
  split_minutes(trip.departure_time, departure_hours, departure_minutes);
  split_minutes(trip.arrival_time, arrival_hours, arrival_minutes);
  append_format(text, "\n%s%-4d = %02d%02d, %-8s     | %02d%02d, %-8s     | %s \t%d\t%d", "Trip", index,
                departure_hours, departure_minutes, origin.c_str(), arrival_hours, arrival_minutes,
                destination.c_str(), key_text(keys, trip.group_key).c_str(), trip.aux_value, trip.min_layover);
}

// Whether two trips give the same line; the key by its bits, since -0.0 and
// 0.0 print apart.
bool same_line_values(const TimetableTrip& a, const TimetableTrip& b) {
  return a.departure_time == b.departure_time && a.arrival_time == b.arrival_time &&
         a.origin_terminal == b.origin_terminal && a.destination_terminal == b.destination_terminal &&
         std::memcmp(&a.group_key, &b.group_key, sizeof a.group_key) == 0 && a.aux_value == b.aux_value &&
         a.min_layover == b.min_layover;
}

std::string csv_field(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
}

// What a trip is apart from its times.
using TripIdentity = std::tuple<int, int, int, int, int, int>;
TripIdentity identity(const TimetableTrip& trip) {
  int key_bits;
  std::memcpy(&key_bits, &trip.group_key, sizeof key_bits);
  return {trip.origin_terminal, trip.destination_terminal, key_bits, trip.aux_value, trip.min_layover,
          trip.arrival_time - trip.departure_time};
}

std::vector<int> by_departure(const std::vector<TimetableTrip>& trips, const std::vector<int>& indices) {
  std::vector<int> sorted = indices;
  std::stable_sort(sorted.begin(), sorted.end(),
                   [&](int a, int b) { return trips[static_cast<size_t>(a)].departure_time <
                                              trips[static_cast<size_t>(b)].departure_time; });
  return sorted;
}

bool write_whole(const std::string& file_name, const std::string& text, std::string& error) {
  FileFailure failure;
  if (write_file_atomically(file_name, text, failure)) return true;
  error = failure.text();
  return false;
}

}  // namespace

std::string format_matrix_section(const Timetable& timetable) {
  const size_t n = timetable.terminal_names.size();
  std::string text = "[DEAD_RUN_MATRIX]\nNUM_TERMINALS = " + std::to_string(n) + "\n";
  text += "# dead runs in h:mm from the row's terminal to the column's; terminal 0 is the depot\n";
  text += "        ";
  for (const std::string& name : timetable.terminal_names) append_format(text, " %8s", name.c_str());
  for (size_t r = 0; r < n; ++r) {
    append_format(text, "\n%-8s", timetable.terminal_names[r].c_str());
    for (size_t c = 0; c < n; ++c)
      append_format(text, " %8s", clock(timetable.deadrun_minutes.at(r * n + c), "%d:%02d").c_str());
  }
  return text;
}

bool format_trip_file(const Timetable& timetable, const std::string& template_text, int header_value,
                      const char* clock_text, std::string& text, std::string& error, TripLineCache* cache) {
  if (!check_size(timetable, error) || !check_terminals(timetable, timetable.trips, error)) return false;
  text.clear();
  append_format(text, "# Rede criada com base nos hor\xE1rios de partida e chegadas das viagens\n");
  append_format(text, "# %.19s\n\n", clock_text);
  text += template_text;
  append_format(text, "\n\n");
  append_format(text, "[TRIP] %d", header_value);
  text.reserve(text.size() + timetable.trips.size() * 72 + 160);
  KeyTexts keys{"%.2f"};
  if (cache != nullptr && cache->terminal_names != timetable.terminal_names) {
    cache->terminal_names = timetable.terminal_names;
    cache->trips.clear();
    cache->lines.clear();
  }
  int operating = 0;
  for (size_t i = 0; i < timetable.trips.size(); ++i) {
    const TimetableTrip& trip = timetable.trips[i];
    if (!fits_hhmm(trip.departure_time) || !fits_hhmm(trip.arrival_time)) {
      error = "trip " + std::to_string(i + 1) + " runs " + clock(trip.departure_time) + "-" +
              clock(trip.arrival_time) + ", beyond what a trip line's hhmm fields hold";
      return false;
    }
    const std::string& origin = *terminal_of(timetable, trip.origin_terminal);
    const std::string& destination = *terminal_of(timetable, trip.destination_terminal);
    if (cache == nullptr) {
      append_trip_line(text, static_cast<int>(i), trip, origin, destination, keys);
    } else {
      if (i >= cache->trips.size()) {
        cache->trips.resize(i + 1);
        cache->lines.resize(i + 1);
      } else if (!same_line_values(cache->trips[i], trip)) {
        cache->lines[i].clear();
      }
      if (cache->lines[i].empty()) {
        cache->trips[i] = trip;
        append_trip_line(cache->lines[i], static_cast<int>(i), trip, origin, destination, keys);
      }
      text += cache->lines[i];
    }
    operating += trip.arrival_time - trip.departure_time;
  }
  int operating_hours, operating_minutes;
  split_minutes(operating, operating_hours, operating_minutes);
  append_format(text, "\n-----------------------------------------------------------\n");
  append_format(text, "Total de viagens: %d\n", static_cast<int>(timetable.trips.size()));
  append_format(text, "\nTempo total de opera\xE7\xE3o: %02d:%02d\n", operating_hours, operating_minutes);
  return true;
}

const std::string& key_text(KeyTexts& keys, float key) {
  std::uint32_t bits;
  std::memcpy(&bits, &key, sizeof bits);
  for (const auto& [known, text] : keys.known)
    if (known == bits) return text;
  char text[64];
  std::snprintf(text, sizeof text, keys.format, static_cast<double>(key));
  // Timetables have a few dozen line keys; more are formatted each time.
  if (keys.known.size() < 64) {
    keys.known.emplace_back(bits, text);
    return keys.known.back().second;
  }
  keys.spare = text;
  return keys.spare;
}

std::string local_clock_text() {
  std::time_t now = std::time(nullptr);
  const std::tm* local = std::localtime(&now);
  return local != nullptr ? std::asctime(local) : "";
}

bool write_trip_file_whole(const std::string& file_name, const Timetable& timetable,
                           const std::string& template_text, int header_value, std::string& error) {
  std::string text;
  return format_trip_file(timetable, template_text, header_value, local_clock_text().c_str(), text, error) &&
         write_whole(file_name, text, error);
}

bool read_template_text(const std::string& file_name, std::string& text) {
  std::FILE* file = std::fopen(file_name.c_str(), "r");
  if (file == nullptr) return false;
  // Byte for byte, as the annealers copy it into every candidate's trip file,
  // so that the best timetable's file is the one that was evaluated.
  text.clear();
  char piece[4096];
  size_t got;
  while ((got = std::fread(piece, 1, sizeof piece, file)) > 0) text.append(piece, got);
  bool failed = std::ferror(file) != 0;
  std::fclose(file);
  return !failed;
}

bool pair_shifted_trips(const std::vector<TimetableTrip>& before, const std::vector<TimetableTrip>& after,
                        int max_shift, std::vector<int>& index_in_after, std::string& error) {
  if (before.size() != after.size()) {
    error = std::to_string(after.size()) + " trips against " + std::to_string(before.size()) + " read";
    return false;
  }
  std::map<TripIdentity, std::vector<int>> before_of, after_of;
  for (size_t i = 0; i < before.size(); ++i) before_of[identity(before[i])].push_back(static_cast<int>(i));
  for (size_t i = 0; i < after.size(); ++i) after_of[identity(after[i])].push_back(static_cast<int>(i));
  index_in_after.assign(before.size(), -1);
  for (const auto& [key, members] : before_of) {
    auto found = after_of.find(key);
    if (found == after_of.end() || found->second.size() != members.size()) {
      error = "trip " + std::to_string(members.front() + 1) + " (aux value " +
              std::to_string(before[static_cast<size_t>(members.front())].aux_value) +
              ") is not in the changed timetable as often as in the one read";
      return false;
    }
    std::vector<int> from = by_departure(before, members), to = by_departure(after, found->second);
    for (size_t k = 0; k < from.size(); ++k) {
      const TimetableTrip& trip = before[static_cast<size_t>(from[k])];
      int shift = after[static_cast<size_t>(to[k])].departure_time - trip.departure_time;
      if (shift > max_shift || shift < -max_shift) {
        error = "trip " + std::to_string(from[k] + 1) + " (aux value " + std::to_string(trip.aux_value) +
                ") moved by " + std::to_string(shift) + " minutes, more than " + std::to_string(max_shift);
        return false;
      }
      index_in_after[static_cast<size_t>(from[k])] = to[k];
    }
  }
  return true;
}

bool format_shifts_file(const Timetable& before, const std::vector<TimetableTrip>& after, int max_shift,
                        std::string& text, std::string& error) {
  std::vector<int> index_in_after;
  if (!check_size(before, error) || !check_terminals(before, before.trips, error) ||
      !pair_shifted_trips(before.trips, after, max_shift, index_in_after, error))
    return false;
  text = "aux_value,line_key,origin,destination,departure_before,departure_after,shift_minutes\n";
  // Each terminal's field and each line key's text are made once, not per trip.
  std::vector<std::string> fields;
  fields.reserve(before.terminal_names.size());
  for (const std::string& name : before.terminal_names) fields.push_back(csv_field(name));
  KeyTexts keys{"%.2f"};
  for (size_t i = 0; i < before.trips.size(); ++i) {
    const TimetableTrip& trip = before.trips[i];
    int departure_after = after[static_cast<size_t>(index_in_after[i])].departure_time;
    // The two departures as clock() shows them: "%02d:%02d".
    int hours_before, minutes_before, hours_after, minutes_after;
    split_minutes(trip.departure_time, hours_before, minutes_before);
    split_minutes(departure_after, hours_after, minutes_after);
    append_format(text, "%d,%s,%s,%s,%02d:%02d,%02d:%02d,%d\n", trip.aux_value, key_text(keys, trip.group_key).c_str(),
                  fields[static_cast<size_t>(trip.origin_terminal)].c_str(),
                  fields[static_cast<size_t>(trip.destination_terminal)].c_str(), hours_before, minutes_before,
                  hours_after, minutes_after, departure_after - trip.departure_time);
  }
  return true;
}

bool write_shifts_file(const std::string& file_name, const Timetable& before,
                       const std::vector<TimetableTrip>& after, int max_shift, std::string& error) {
  std::string text;
  return format_shifts_file(before, after, max_shift, text, error) && write_whole(file_name, text, error);
}

}  // namespace common
