#include "annealer/timetable.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "common/common.h"
#include "common/diagnostics.h"
#include "common/text_cursor.h"

using namespace common;

namespace annealer {

TripTable allocate_trip_table(int count) {
  try {
    return TripTable(static_cast<size_t>(count > 0 ? count : 0));
  } catch (const std::bad_alloc&) {
    fatal("Falta memoria para alocar o vetor de ponteiros/n");
  }
}

void free_trip_table(TripTable& table) {
  TripTable().swap(table);
}

void copy_trips(TripTable& destination, const TripTable& source, int count) {
  if (count < 0) return;
  if (static_cast<size_t>(count) >= destination.size() || static_cast<size_t>(count) >= source.size())
    fatal_diagnostic("\n%d viagens n\xE3o cabem na tabela de viagens\n", count);
  for (int i = 1; i <= count; ++i) destination[i] = source[i];
}

const char* terminal_name(const ProblemData& problem, int terminal) {
  if (terminal < 0 || terminal >= MAX_TABLE_TERMINALS || terminal >= problem.num_terminals) return "";
  return problem.terminal_names[terminal];
}

namespace {

constexpr int LINE_CAPACITY = 150;

// Reads at most `width` characters, fewer when the line ends first; the
// buffer is empty at the end of the file.
void read_field(std::FILE* file, char* buffer, int width) {
  if (std::fgets(buffer, width + 1, file) == nullptr) buffer[0] = '\0';
}

void skip_line(std::FILE* file) {
  char line[LINE_CAPACITY];
  read_field(file, line, LINE_CAPACITY - 1);
}

// A name that matches no terminal stands for the depot terminal, as in the
// solver's reader, so both sides see the same timetable; since the rewritten
// trip file will carry the depot's name instead, the user is told.
int find_terminal(const ProblemData& problem, char* name, const std::string& file_name, int trip) {
  cut_at_blank(name);
  int stored = problem.num_terminals < MAX_TABLE_TERMINALS ? problem.num_terminals : MAX_TABLE_TERMINALS;
  for (int j = 0; j < stored; ++j)
    if (std::strcmp(problem.terminal_names[j], name) == 0) return j;
  warning("\nWarning: %s trip %d: terminal \"%s\" is not in the terminal list; taken as terminal 0\n",
          file_name.c_str(), trip, name);
  return 0;
}

[[noreturn]] void end_of_file(const std::string& file_name) {
  fatal("\nFim de arquivo %s \n", file_name.c_str());
}

void read_terminal_names(std::FILE* file, const std::string& file_name, ProblemData& problem) {
  for (int j = 0; j < problem.num_terminals; ++j) {
    char name[TERMINAL_NAME_CAPACITY];
    // A longer name is cut, not split into two, so the list stays in step.
    if (std::fscanf(file, "%19s%*[^ \t\r\n]", name) == EOF) end_of_file(file_name);
    cut_at_blank(name);
    if (j < MAX_TABLE_TERMINALS) std::memcpy(problem.terminal_names[j], name, sizeof name);
  }
}

void read_deadrun_matrix(std::FILE* file, const std::string& file_name, ProblemData& problem) {
  for (int i = 0; i < problem.num_terminals; ++i) {
    if (std::fscanf(file, "%*s") == EOF) end_of_file(file_name);
    for (int j = 0; j < problem.num_terminals; ++j) {
      int hours = 0, minutes = 0;
      char separator = 0;
      const long start = std::ftell(file);
      int got = std::fscanf(file, "%d %c %d", &hours, &separator, &minutes);
      if (got == EOF) end_of_file(file_name);
      if (got == 3 && word_goes_on(file))
        warn_if_cut(file, start, file_name,
                    "dead-run matrix entry " + std::to_string(j + 1) + " of row " + std::to_string(i + 1),
                    shown_clock(hours, minutes));
      if (got < 3) {
        // Step over the malformed word so that every entry consumes input and
        // a huge terminal count cannot spin in place.
        if (std::fscanf(file, "%*s") == EOF) end_of_file(file_name);
        continue;
      }
      if (i < MAX_TABLE_TERMINALS && j < MAX_TABLE_TERMINALS) problem.deadrun_matrix[i][j] = static_cast<int>(hours * 60LL + minutes);
    }
  }
}

// Two columns of hours and two of minutes, each converted as atol does.
int read_trip_time(std::FILE* file, const std::string& file_name, const char* field_name) {
  const long start = std::ftell(file);
  char hours_text[LINE_CAPACITY], minutes_text[LINE_CAPACITY];
  read_field(file, hours_text, 2);
  read_field(file, minutes_text, 2);
  const int hours = static_cast<int>(std::atol(hours_text));
  const int minutes = static_cast<int>(std::atol(minutes_text));
  if (!is_whole_number_field(hours_text) || !is_whole_number_field(minutes_text)) {
    std::string text = std::string(hours_text) + minutes_text;
    if (!text.empty() && text.back() == '\n') text.pop_back();
    warn_lenient_value(file_name, line_at(file, start), field_name, text, shown_clock(hours, minutes));
  }
  return hours * 60 + minutes;
}

// "%d" or "%f" after blanks, as one step of the trip line's "%f \t%d\t%d".
bool scan_trip_value(std::FILE* file, int& value, const std::string& file_name, const char* field_name) {
  const long start = std::ftell(file);
  if (std::fscanf(file, "%d", &value) != 1) return false;
  if (word_goes_on(file)) warn_if_cut(file, start, file_name, field_name, shown_int(value));
  return true;
}

bool scan_trip_value(std::FILE* file, float& value, const std::string& file_name, const char* field_name) {
  const long start = std::ftell(file);
  if (std::fscanf(file, "%f", &value) != 1) return false;
  if (word_goes_on(file)) warn_if_cut(file, start, file_name, field_name, shown_real(value));
  return true;
}

// Reads the rest of a trip line whose first 11 characters have been read.
TripRecord read_trip_line(std::FILE* file, const ProblemData& problem, const std::string& file_name, int number) {
  TripRecord trip;
  char field[LINE_CAPACITY];
  trip.departure_time = read_trip_time(file, file_name, "departure");
  read_field(file, field, 2);
  read_field(file, field, 8);
  trip.origin_terminal = find_terminal(problem, field, file_name, number);
  read_field(file, field, 7);
  trip.arrival_time = read_trip_time(file, file_name, "arrival");
  read_field(file, field, 2);
  read_field(file, field, 8);
  trip.destination_terminal = find_terminal(problem, field, file_name, number);
  read_field(file, field, 7);
  // The blanks between the three values are skipped by each scan in turn.
  (void)(scan_trip_value(file, trip.group_key, file_name, "line key") &&
         scan_trip_value(file, trip.aux_value, file_name, "auxiliary value") &&
         scan_trip_value(file, trip.min_layover, file_name, "minimum layover"));
  read_field(file, field, 59);
  return trip;
}

// Counts every trip line but stores only what the table holds, so that the
// limit messages still tell how far the file is beyond them.
int read_trips(std::FILE* file, const std::string& file_name, const ProblemData& problem, TripTable& table) {
  int count = 0;
  for (;;) {
    char label[12];
    if (std::fgets(label, sizeof label, file) == nullptr || label[0] != 'T') break;
    ++count;
    TripRecord trip = read_trip_line(file, problem, file_name, count);
    if (count <= MAX_TABLE_TRIPS && static_cast<size_t>(count) < table.size()) table[count] = trip;
  }
  return count;
}

void check_limits(const ProblemData& problem) {
  if (problem.num_trips <= MAX_TABLE_TRIPS && problem.num_terminals <= MAX_TABLE_TERMINALS) return;
  std::string message = "SYSTEM IS NOT ABLE TO SOLVE THIS PROBLEM \n";
  // The trips line tests the node count of the solver's network against the
  // trip limit, as the messages always have.
  if (2 * static_cast<long long>(problem.num_trips) + 2 > MAX_TABLE_TRIPS)
    message += "Total of trips larger than limite \n";
  if (problem.num_terminals > MAX_TABLE_TERMINALS) message += "Total of terminis larger than limite \n";
  fatal("%s", message.c_str());
}

// The whole file, with each CR LF taken as one line end, as the solver reads it.
std::string read_whole(std::FILE* file) {
  std::string content;
  char piece[4096];
  size_t got;
  while ((got = std::fread(piece, 1, sizeof piece, file)) > 0) content.append(piece, got);
  if (content.find("\r\n") == std::string::npos) return content;
  std::string translated;
  translated.reserve(content.size());
  for (size_t i = 0; i < content.size(); ++i)
    if (content[i] != '\r' || i + 1 >= content.size() || content[i + 1] != '\n') translated += content[i];
  return translated;
}

}  // namespace

void read_trip_file(const std::string& file_name, ProblemData& problem, TripTable& table,
                    bool pause_after_total) {
  if (table.size() < static_cast<size_t>(TRIP_TABLE_RECORDS))
    fatal_diagnostic("\nA tabela de viagens tem %zu registros, menos que %d\n", table.size(), TRIP_TABLE_RECORDS);
  problem = ProblemData{};
  std::FILE* file = std::fopen(file_name.c_str(), "r");
  if (file == nullptr) fatal("\nFile %s not found\n", file_name.c_str());
  // Read from memory: the checks of each value step back in the file, which
  // on the file itself would cost a seek each.
  std::string content = read_whole(file);
  if (content.empty()) {
    std::rewind(file);  // a memory stream cannot be empty; the file's own ends the same way
  } else {
    std::fclose(file);
    file = fmemopen(content.data(), content.size(), "r");
    if (file == nullptr) fatal("\nFile %s not found\n", file_name.c_str());
  }
  try {
    if (std::feof(file)) fatal("\nFim de arquivo %s \n", file_name.c_str());

    char line[LINE_CAPACITY];
    for (;;) {
      read_field(file, line, LINE_CAPACITY - 1);
      if (std::strncmp(line, "[DEAD_RUN_MATRIX]", 17) == 0) break;
      if (std::feof(file))
        fatal("\nArquivo %s est\xE1 vazio. A execu\xE7\xE3o sera interrompida.\n", file_name.c_str());
    }

    read_field(file, line, 16);
    char after_count = 0;
    const long count_start = std::ftell(file);
    int got = std::fscanf(file, "%d", &problem.num_terminals);
    if (got == EOF) end_of_file(file_name);
    if (got == 1) {
      warn_if_cut(file, count_start, file_name, "Num. Terminals", shown_int(problem.num_terminals));
      (void)std::fscanf(file, "%c", &after_count);
    }
    skip_line(file);

    read_terminal_names(file, file_name, problem);
    read_deadrun_matrix(file, file_name, problem);
    for (int k = 0; k < 3; ++k) skip_line(file);

    problem.num_trips = read_trips(file, file_name, problem, table);
    std::printf("\nTOTAL OF TRIPS: %d\n", problem.num_trips);
    if (pause_after_total) pause_for_key();
    check_limits(problem);
  } catch (...) {
    std::fclose(file);
    throw;
  }
  std::fclose(file);
}

}  // namespace annealer
