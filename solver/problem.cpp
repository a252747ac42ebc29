#include "solver/problem.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "common/common.h"
#include "common/diagnostics.h"
#include "common/text_cursor.h"
#include "common/timetable_out.h"

using namespace common;

namespace solver {

// The timetable writers in common/ check what this reader takes.
static_assert(common::TIMETABLE_MAX_TRIPS == MAX_TRIPS && common::TIMETABLE_MAX_TERMINALS == MAX_TERMINALS);

namespace {

[[noreturn]] void file_not_found(const std::string& file_name) { fatal("\nFile %s not found\n", file_name.c_str()); }

// A parameter line: a label of fixed width, then the value. The line is taken
// on its own so that a missing value cannot pull in the next line's.
std::string parameter_value_text(TextCursor& cursor, const std::string& file_name, int line_number,
                                 int label_width) {
  std::string line;
  if (!read_line(cursor, line, 1 << 20))
    fatal_diagnostic("\nFile %s: line %d is missing\n", file_name.c_str(), line_number);
  if (!line.empty() && line.back() == '\n') line.pop_back();
  if (static_cast<int>(line.size()) <= label_width)
    fatal_diagnostic("\nFile %s: line %d holds no value after its label\n", file_name.c_str(), line_number);
  return line.substr(static_cast<size_t>(label_width));
}

[[noreturn]] void unreadable_value(const std::string& file_name, int line_number) {
  fatal_diagnostic("\nFile %s: the value on line %d cannot be read\n", file_name.c_str(), line_number);
}

// strcmp's equality, inline: every trip line looks up two names among up to
// 65 that mostly differ in their second or third character.
bool same_name(const char* a, const char* b) {
  for (; *a == *b; ++a, ++b)
    if (*a == '\0') return true;
  return false;
}

int lookup_terminal(const Problem& problem, const char* name) {
  int slots = problem.num_terminals < MAX_TERMINALS ? problem.num_terminals : MAX_TERMINALS;
  for (int t = 0; t < slots; ++t)
    if (same_name(problem.terminal_names[t], name)) return t;
  return -1;
}

// A terminal field of a trip line: cut at its first blank and looked up. A
// name that is no terminal stands for the depot terminal, as it always has;
// the console says so, since it is almost always a typing error.
int trip_terminal(const Problem& problem, std::string field, const std::string& file_name, int line_number) {
  field.resize(TRIP_TERMINAL_WIDTH, ' ');
  char name[TRIP_TERMINAL_WIDTH + 1];
  std::memcpy(name, field.data(), TRIP_TERMINAL_WIDTH);
  name[TRIP_TERMINAL_WIDTH] = '\0';
  cut_at_blank(name);
  int t = lookup_terminal(problem, name);
  if (t >= 0) return t;
  warning("\nWarning: %s line %d: terminal \"%s\" is not in the terminal list; taken as terminal 0\n",
          file_name.c_str(), line_number, name);
  return 0;
}

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

// The characters from `start` up to the next white space or a character of
// `also_ending`.
std::string token_at(const std::string& text, size_t start, const char* also_ending = "") {
  size_t end = start;
  while (end < text.size() && !is_blank(text[end]) && std::strchr(also_ending, text[end]) == nullptr) ++end;
  return text.substr(start, end - start);
}

// Numbers are read as they always have been, up to the first character that
// is no digit; where the number's word goes on past that, what was read is
// probably not what was meant, and the user is told what was taken.
// `start` is where the number's text began, the cursor stands right after it;
// `separators` are the characters that may follow a number directly.
// The test comes apart from the warning, whose texts are made only when it
// holds: a problem has thousands of numbers and hardly ever a cut one.
bool number_cut(const TextCursor& cursor, const char* separators = "") {
  if (at_end(cursor)) return false;
  const char next = cursor.text[cursor.pos];
  return !is_blank(next) && std::strchr(separators, next) == nullptr;
}

void warn_cut(const TextCursor& cursor, size_t start, int line, const std::string& file_name,
              const std::string& field, const std::string& value_used, const char* separators = "",
              const char* part = nullptr) {
  std::string text = cursor.text.substr(start, cursor.pos - start) + token_at(cursor.text, cursor.pos, separators);
  warn_lenient_value(file_name, line, field, text, value_used, part);
}

// Where the number that ends at the cursor began: back over its digits,
// point, exponent and sign.
size_t number_start(const TextCursor& cursor) {
  size_t p = cursor.pos;
  while (p > 0 && std::strchr("0123456789.eE+-", cursor.text[p - 1]) != nullptr) --p;
  return p;
}

// "%d" and "%f" with the warning above.
bool scan_int_field(TextCursor& cursor, int& value, const std::string& file_name, const std::string& field,
                    const char* separators = "", const char* part = nullptr) {
  if (!scan_int(cursor, value)) return false;
  if (number_cut(cursor, separators))
    warn_cut(cursor, number_start(cursor), cursor.line, file_name, field, shown_int(value), separators, part);
  return true;
}

bool scan_float_field(TextCursor& cursor, float& value, const std::string& file_name, const std::string& field,
                      const char* separators = "") {
  if (!scan_float(cursor, value)) return false;
  if (number_cut(cursor, separators))
    warn_cut(cursor, number_start(cursor), cursor.line, file_name, field, shown_real(value), separators);
  return true;
}

std::string column(const std::string& line, size_t first_1based, size_t width) {
  if (line.size() < first_1based) return std::string();
  return line.substr(first_1based - 1, width);
}

// A time of a trip line: two columns of hours, two of minutes.
int trip_time(const std::string& trip_line, size_t first_1based, const char* field, const std::string& file_name,
              int line_number) {
  std::string hours_text = column(trip_line, first_1based, 2);
  std::string minutes_text = column(trip_line, first_1based + 2, 2);
  int hours = field_to_int(hours_text), minutes = field_to_int(minutes_text);
  if (!is_whole_number_field(hours_text) || !is_whole_number_field(minutes_text))
    warn_lenient_value(file_name, line_number, field, hours_text + minutes_text, shown_clock(hours, minutes));
  return hours * 60 + minutes;
}

}  // namespace

void read_parameters(const std::string& file_name, Parameters& params) {
  TextCursor cursor;
  if (!load_text_file(file_name, cursor)) file_not_found(file_name);
  parse_parameters(file_name, cursor, params);
}

void parse_parameters(const std::string& file_name, TextCursor& cursor, Parameters& params) {
  skip_line(cursor);

  {
    TextCursor value{parameter_value_text(cursor, file_name, 2, 18), 0, 2};
    if (!scan_float_field(value, params.dead_run_mult, file_name, "DeadRunMult")) unreadable_value(file_name, 2);
    std::printf("\nDeadRunMult: %2.2f\n", params.dead_run_mult);
  }
  {
    // Hours, exactly one separator character, minutes.
    TextCursor value{parameter_value_text(cursor, file_name, 3, 15), 0, 3};
    int hours = 0, minutes = 0;
    char separator = 0;
    skip_white(value);
    const size_t start = value.pos;
    if (!scan_int(value, hours) || !scan_char(value, separator) || !scan_int(value, minutes))
      unreadable_value(file_name, 3);
    if (number_cut(value)) warn_cut(value, start, 3, file_name, "MinDepotTime", shown_clock(hours, minutes));
    long long depot_minutes = 60LL * hours + minutes;
    if (depot_minutes < -MAX_MINUTES_VALUE || depot_minutes > MAX_MINUTES_VALUE)
      fatal_diagnostic("\nFile %s: the minimum depot time on line 3 is out of range (at most %d minutes either way)\n",
                       file_name.c_str(), MAX_MINUTES_VALUE);
    params.min_depot_time = static_cast<int>(depot_minutes);
    std::printf("Minimum Depot: %d\n", params.min_depot_time);
  }
  struct IntLine {
    int line;
    int* target;
    const char* field;  // as the bundled parameter files label it
    const char* echo;
  };
  const IntLine int_lines[] = {{4, &params.deadrun_weight, "DeadrunWeight", "DeadrunWeight: %d\n"},
                               {5, &params.layover_weight, "LayoverWeight", "LayoverWeight: %d\n"},
                               {6, &params.short_arc_param, "ShortArcParam", "Short Arc Parameter: %d\n"}};
  for (const IntLine& item : int_lines) {
    TextCursor value{parameter_value_text(cursor, file_name, item.line, 14), 0, item.line};
    if (!scan_int_field(value, *item.target, file_name, item.field)) unreadable_value(file_name, item.line);
    std::printf(item.echo, *item.target);
  }
}

void read_problem_trips(const std::string& file_name, Problem& problem) {
  TextCursor cursor;
  if (!load_text_file(file_name, cursor)) file_not_found(file_name);
  parse_trip_file(file_name, cursor, problem);
}

namespace {

void skip_to_matrix_section(const std::string& file_name, TextCursor& cursor) {
  std::string line;
  for (;;) {
    if (!read_line(cursor, line))
      fatal_diagnostic("\nFile %s has no [DEAD_RUN_MATRIX] section\n", file_name.c_str());
    if (line.compare(0, 17, "[DEAD_RUN_MATRIX]") == 0) break;
  }
}

// The count line: a 16-character label, the count, one more character; then
// the line that follows it is skipped.
int read_terminal_count(const std::string& file_name, TextCursor& cursor) {
  std::string label;
  read_chars(cursor, 16, label);
  int num_terminals = 0;
  char after = 0;
  if (!scan_int_field(cursor, num_terminals, file_name, "Num. Terminals", "", MATRIX_PART))
    fatal_diagnostic("\nFile %s: the number of terminals after [DEAD_RUN_MATRIX] cannot be read\n", file_name.c_str());
  if (num_terminals < 0)
    fatal_diagnostic("\nFile %s: the number of terminals is negative (%d)\n", file_name.c_str(), num_terminals);
  scan_char(cursor, after);
  skip_line(cursor);
  return num_terminals;
}

// Names past the stored ones are read over, not kept.
void read_terminal_names(const std::string& file_name, TextCursor& cursor, Problem& problem, int stored_terminals) {
  std::string word;
  for (int t = 0; t < problem.num_terminals; ++t) {
    if (!scan_word(cursor, word))
      fatal_diagnostic("\nFile %s ends inside the terminal names (%d of %d read)\n", file_name.c_str(), t,
                       problem.num_terminals);
    if (t >= stored_terminals) continue;
    if (word.size() > TERMINAL_NAME_SLOT - 1)
      fatal_diagnostic("\nFile %s: terminal name %s is longer than %d characters\n", file_name.c_str(), word.c_str(),
                       TERMINAL_NAME_SLOT - 1);
    std::snprintf(problem.terminal_names[t], TERMINAL_NAME_SLOT, "%s", word.c_str());
    cut_at_blank(problem.terminal_names[t]);
  }
}

// Entry k of matrix row r (both from 0), "hours:minutes", in minutes.
int read_matrix_entry(const std::string& file_name, TextCursor& cursor, int r, int k, int num_terminals) {
  int hours = 0, minutes = 0;
  char separator = 0;
  const size_t before_entry = cursor.pos;
  bool ok = scan_int(cursor, hours);
  if (ok) {
    skip_white(cursor);
    ok = scan_char(cursor, separator) && scan_int(cursor, minutes);
  }
  if (!ok) {
    if (at_end(cursor))
      fatal_diagnostic("\nFile %s ends inside the dead-run matrix (row %d of %d)\n", file_name.c_str(), r + 1,
                       num_terminals);
    fatal_diagnostic("\nFile %s line %d: dead-run matrix entry %d of row %d cannot be read (expected hours:minutes)\n",
                     file_name.c_str(), cursor.line, k + 1, r + 1);
  }
  if (number_cut(cursor))
    warn_cut(cursor, cursor.text.find_first_not_of(" \t\n\r\v\f", before_entry), cursor.line, file_name,
             "dead-run matrix entry " + std::to_string(k + 1) + " of row " + std::to_string(r + 1),
             shown_clock(hours, minutes), "", MATRIX_PART);
  long long value = 60LL * hours + minutes;
  if (value < -MAX_MINUTES_VALUE || value > MAX_MINUTES_VALUE)
    fatal_diagnostic("\nFile %s line %d: dead-run matrix entry %d of row %d is out of range (at most %d minutes)\n",
                     file_name.c_str(), cursor.line, k + 1, r + 1, MAX_MINUTES_VALUE);
  return static_cast<int>(value);
}

void read_deadrun_matrix(const std::string& file_name, TextCursor& cursor, Problem& problem, int stored_terminals) {
  const int n = problem.num_terminals;
  std::string label;
  for (int r = 0; r < n; ++r) {
    if (!scan_word(cursor, label))
      fatal_diagnostic("\nFile %s ends inside the dead-run matrix (row %d of %d)\n", file_name.c_str(), r + 1, n);
    for (int k = 0; k < n; ++k) {
      const int value = read_matrix_entry(file_name, cursor, r, k, n);
      if (r < stored_terminals && k < stored_terminals) problem.deadrun_matrix[r][k] = value;
    }
  }
}

// One trip line, by its columns.
void read_trip_line(const std::string& file_name, const std::string& trip_line, int line_number,
                    const Problem& problem, Trip& trip) {
  trip.departure_time = trip_time(trip_line, 12, "departure", file_name, line_number);
  trip.origin_terminal = trip_terminal(problem, column(trip_line, 18, TRIP_TERMINAL_WIDTH), file_name, line_number);
  trip.arrival_time = trip_time(trip_line, 33, "arrival", file_name, line_number);
  trip.destination_terminal = trip_terminal(problem, column(trip_line, 39, TRIP_TERMINAL_WIDTH), file_name, line_number);
  TextCursor values{column(trip_line, 54, std::string::npos), 0, line_number};
  if (!scan_float_field(values, trip.group_key, file_name, "line key") ||
      !scan_int_field(values, trip.aux_value, file_name, "auxiliary value") ||
      !scan_int_field(values, trip.min_layover, file_name, "minimum layover"))
    fatal_diagnostic("\nFile %s line %d: the line key, auxiliary value and minimum layover cannot be read\n",
                     file_name.c_str(), line_number);
  if (trip.min_layover < -MAX_MINUTES_VALUE || trip.min_layover > MAX_MINUTES_VALUE)
    fatal_diagnostic("\nFile %s line %d: the minimum layover %d is out of range\n", file_name.c_str(), line_number,
                     trip.min_layover);
}

// The trip lines up to the first line that is none; returns how many there
// were, the ones beyond the table counted only.
int read_trips(const std::string& file_name, TextCursor& cursor, Problem& problem) {
  int count = 0;
  while (!at_end(cursor)) {
    int line_number = cursor.line;
    std::string trip_line = rest_of_line(cursor);
    skip_line(cursor);
    if (trip_line.empty() || trip_line[0] != 'T') break;
    ++count;
    if (count >= TRIP_TABLE_ROWS) continue;  // counted for the limit message only
    read_trip_line(file_name, trip_line, line_number, problem, problem.trips[count]);
  }
  return count;
}

void refuse_beyond_limits(int num_trips, int num_terminals) {
  bool too_many_trips = 2LL * num_trips + 2 > TRIP_TABLE_ROWS;
  bool too_many_terminals = num_terminals > MAX_TERMINALS;
  if (too_many_trips || too_many_terminals) {
    std::printf("SYSTEM IS NOT ABLE TO SOLVE THIS PROBLEM \n");
    if (too_many_trips) std::printf("Total of trips greater than limite \n");
    if (too_many_terminals) std::printf("Total of terminis greater than limite \n");
    fatal_without_pause("%s", "");
  }
}

}  // namespace

void parse_trip_file(const std::string& file_name, TextCursor& cursor, Problem& problem) {
  std::printf("\nReading file %s\n", file_name.c_str());
  skip_to_matrix_section(file_name, cursor);
  problem.num_terminals = read_terminal_count(file_name, cursor);
  // Past the table's 65 slots nothing is stored; the limit check at the end
  // then refuses the problem with its own messages.
  const int stored_terminals = std::min(problem.num_terminals, MAX_TERMINALS);
  read_terminal_names(file_name, cursor, problem, stored_terminals);
  read_deadrun_matrix(file_name, cursor, problem, stored_terminals);
  skip_line(cursor);
  skip_line(cursor);
  skip_line(cursor);

  problem.num_trips = read_trips(file_name, cursor, problem);
  std::printf("\nTotal of trips: %d\n", problem.num_trips);
  refuse_beyond_limits(problem.num_trips, problem.num_terminals);
}

namespace {

[[noreturn]] void groups_end_inside(const std::string& file_name, int group) {
  fatal_diagnostic("\nFile %s ends inside the lists of group %d\n", file_name.c_str(), group);
}

void check_list_room(const std::string& file_name, int group, int slot) {
  if (slot > GROUP_LIST_SLOTS - 2)
    fatal_diagnostic("\nFile %s: a list of group %d holds more than %d entries\n", file_name.c_str(), group,
                     GROUP_LIST_SLOTS - 2);
}

// A list of reals, each followed by one character; the one followed by the
// line end closes it. A list that ends the file closes it too when allowed.
void read_key_list(TextCursor& cursor, const std::string& file_name, int group, const char* list, float* keys,
                   bool may_end_file) {
  int slot = 0;
  for (;;) {
    float key = 0;
    if (!scan_float_field(cursor, key, file_name, std::string(list) + " of group " + std::to_string(group), ",")) {
      if (at_end(cursor)) groups_end_inside(file_name, group);
      fatal_diagnostic("\nFile %s line %d: a key of group %d cannot be read\n", file_name.c_str(), cursor.line, group);
    }
    ++slot;
    check_list_room(file_name, group, slot);
    keys[slot] = key;
    char after = 0;
    if (!scan_char(cursor, after)) {
      if (!may_end_file) groups_end_inside(file_name, group);
      break;
    }
    if (after == '\n') break;
  }
  keys[slot + 1] = static_cast<float>(GROUP_END_MARKER);
  skip_white(cursor);
}

}  // namespace

int read_groups(const std::string& file_name, Problem& problem) {
  problem.num_groups = 0;
  problem.link_preference_cost = 0;
  TextCursor cursor;
  if (!load_text_file(file_name, cursor)) return 0;
  return parse_groups(file_name, cursor, problem);
}

int parse_groups(const std::string& file_name, TextCursor& cursor, Problem& problem) {
  problem.num_groups = 0;
  problem.link_preference_cost = 0;
  std::string label;
  skip_line(cursor);
  read_chars(cursor, 11, label);
  int cost = 0;
  if (!scan_int_field(cursor, cost, file_name, "Link Cost"))
    fatal_diagnostic("\nFile %s: the link preference cost on line 2 cannot be read\n", file_name.c_str());
  skip_line(cursor);
  read_chars(cursor, 7, label);

  int g = 0;
  for (;;) {
    ++g;
    if (g > GROUP_ROWS - 1) fatal_diagnostic("\nFile %s holds more than %d groups\n", file_name.c_str(), GROUP_ROWS - 1);
    Group& group = problem.groups[g];
    int slot = 0;
    for (;;) {
      int member = 0;
      if (!scan_int_field(cursor, member, file_name, "member of group " + std::to_string(g), ",")) {
        if (at_end(cursor)) groups_end_inside(file_name, g);
        fatal_diagnostic("\nFile %s line %d: a member of group %d cannot be read\n", file_name.c_str(), cursor.line, g);
      }
      ++slot;
      check_list_room(file_name, g, slot);
      group.members[slot] = member;
      char after = 0;
      if (!scan_char(cursor, after)) groups_end_inside(file_name, g);
      if (after == '\n') break;
    }
    group.members[slot + 1] = GROUP_END_MARKER;

    read_chars(cursor, 10, label);
    read_key_list(cursor, file_name, g, "from key", group.from_keys, false);
    read_chars(cursor, 12, label);
    read_key_list(cursor, file_name, g, "to key", group.to_keys, true);
    problem.num_groups = g;

    if (!read_chars(cursor, 7, label) || label != "Group =") break;
  }
  problem.link_preference_cost = cost;
  return cost;
}

void read_problem(const std::string& prefix, Problem& problem, const std::string& problem_name) {
  read_parameters(make_file_name(prefix, problem_name, ".ini"), problem.params);
  read_problem_trips(make_file_name(prefix, problem_name, ".bss"), problem);
  problem.link_preference_cost = read_groups(make_file_name(prefix, problem_name, ".prr"), problem);
}

}  // namespace solver
