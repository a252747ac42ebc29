// The problem a solver run works on: the five parameters (Tarsel.ini), the
// terminals, dead-run matrix and trips (Tarsel.bss) and the optional link
// preference groups (Tarsel.prr), with the readers that fill them.
#pragma once

#include <string>
#include <vector>

#include "common/common.h"
#include "common/text_cursor.h"

namespace solver {

inline constexpr int MAX_TERMINALS = 65;
inline constexpr int TERMINAL_NAME_SLOT = 13;  // 12 characters and the terminator
inline constexpr int TRIP_TABLE_ROWS = 5470;   // rows 1..5469; row 0 unused
inline constexpr int MAX_TRIPS = 2734;         // 2 * trips + 2 nodes must fit in 5470
inline constexpr int GROUP_ROWS = 30;          // groups 1..29
inline constexpr int GROUP_LIST_SLOTS = 30;    // entries 1..28, then the end marker
inline constexpr int GROUP_END_MARKER = -999;
inline constexpr int TRIP_TERMINAL_WIDTH = 8;  // a terminal name's fixed columns in a trip line
// Dead runs, the minimum depot time and minimum layovers must lie within this
// many minutes either way, so that sums over a whole schedule stay within
// 32-bit integers.
inline constexpr int MAX_MINUTES_VALUE = 100000;

struct Parameters {
  float dead_run_mult = 0;
  int min_depot_time = 0;  // minutes
  int deadrun_weight = 0;
  int layover_weight = 0;
  int short_arc_param = 0;  // minutes
};

struct Trip {
  int departure_time = 0;
  int arrival_time = 0;
  int origin_terminal = 0;
  int destination_terminal = 0;
  int aux_value = 0;
  int min_layover = 0;
  float group_key = 0;
};

struct Group {
  int members[GROUP_LIST_SLOTS] = {};
  float from_keys[GROUP_LIST_SLOTS] = {};
  float to_keys[GROUP_LIST_SLOTS] = {};
};

struct Problem {
  Parameters params;
  int num_trips = 0;
  int num_terminals = 0;
  std::vector<Trip> trips = std::vector<Trip>(TRIP_TABLE_ROWS);  // rows 1..num_trips
  char terminal_names[MAX_TERMINALS][TERMINAL_NAME_SLOT] = {};
  int deadrun_matrix[MAX_TERMINALS][MAX_TERMINALS] = {};
  int num_groups = 0;
  Group groups[GROUP_ROWS];
  int link_preference_cost = 0;
};

// Each reader takes the full file name. Failures throw FatalError with the
// console message.
void read_parameters(const std::string& file_name, Parameters& params);
void read_problem_trips(const std::string& file_name, Problem& problem);
// Returns the link preference cost; 0 (and no groups) when the file is absent.
int read_groups(const std::string& file_name, Problem& problem);

// The same readers on a file's text already loaded (file_name only names it
// in the messages), so that damaged content can be fed without a file.
void parse_parameters(const std::string& file_name, common::TextCursor& cursor, Parameters& params);
void parse_trip_file(const std::string& file_name, common::TextCursor& cursor, Problem& problem);
int parse_groups(const std::string& file_name, common::TextCursor& cursor, Problem& problem);

// The three readers in their order, on prefix + problem_name + extension.
void read_problem(const std::string& prefix, Problem& problem, const std::string& problem_name = common::PROBLEM_NAME);

}  // namespace solver
