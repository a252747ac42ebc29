#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <set>
#include <sstream>
#include <vector>

#include "annealer/move.h"
#include "common/text_cursor.h"
#include "common/timetable_out.h"
#include "solver/problem.h"
#include "test_support.h"

using namespace common;
using namespace solver;
using namespace annealer;

namespace {

struct WindowCase {
  int offset;  // departure minus the initial departure, before the move
  int shift;   // negative: earlier
  bool applied;
};
void PrintTo(const WindowCase& c, std::ostream* out) {
  *out << "at" << c.offset << "_by" << c.shift;
}

class MoveWindow : public ::testing::TestWithParam<WindowCase> {};

TEST_P(MoveWindow, KeepsTheTripWithinThreeMinutesOfItsInitialDeparture) {
  const WindowCase& c = GetParam();
  TripTable reference = table_with_departures({600, 700});
  TripTable table = table_with_departures({600, 700 + c.offset});
  Move move{2, c.shift < 0 ? EARLIER : LATER, std::abs(c.shift)};
  EXPECT_EQ(apply_move(table, reference, move), c.applied);
  int expected = 700 + c.offset + (c.applied ? c.shift : 0);
  EXPECT_EQ(table[2].departure_time, expected);
  EXPECT_EQ(table[2].arrival_time, expected + 40);
  EXPECT_EQ(table[1].departure_time, 600);
}

INSTANTIATE_TEST_SUITE_P(Windows, MoveWindow,
                         ::testing::Values(WindowCase{-2, -2, false}, WindowCase{-2, -1, true},
                                           WindowCase{0, -3, true}, WindowCase{2, 2, false},
                                           WindowCase{0, 3, true}, WindowCase{-3, 3, true}));

// A night trip just after 00:00 moved earlier would need a time the trip line
// cannot hold; so would a trip ending just before 99:59 moved later.
TEST(MoveWindow, RefusesTimesATripLineCannotHold) {
  const int late = LATEST_TRIP_LINE_TIME - 40 - 1;
  TripTable reference = table_with_departures({1, late});
  TripTable table = table_with_departures({1, late});
  EXPECT_FALSE(apply_move(table, reference, Move{1, EARLIER, 2}));
  EXPECT_FALSE(apply_move(table, reference, Move{2, LATER, 2}));
  EXPECT_EQ(table[1].departure_time, 1);
  EXPECT_EQ(table[2].departure_time, late);
  EXPECT_TRUE(apply_move(table, reference, Move{1, EARLIER, 1}));
  EXPECT_TRUE(apply_move(table, reference, Move{2, LATER, 1}));
  Timetable night{{"A"}, {TimetableTrip{-2, 38, 0, 0, 100.0f, 1, 2}}, {}};
  std::string text, error;
  EXPECT_FALSE(format_trip_file(night, "", 0, "", text, error)) << text;
}

TEST(RandomDraws, CoverEveryTripAndShiftAndAThousandthGrid) {
  std::srand(7);
  std::set<int> trips, shifts;
  for (int k = 0; k < 300; ++k) {
    EXPECT_EQ(draw_move(LARGEST_SHIFT, LARGEST_SHIFT, 1).trip, 1);
    Move move = draw_move(LARGEST_SHIFT, LARGEST_SHIFT, 4);
    trips.insert(move.trip);
    shifts.insert(move.direction == EARLIER ? -move.minutes : move.minutes);
    double u = uniform_random(0, 1);
    ASSERT_TRUE(u >= 0 && u < 1);
    EXPECT_NEAR(u * 1000, static_cast<int>(u * 1000 + 0.5), 1e-9);
  }
  EXPECT_EQ(trips, (std::set<int>{1, 2, 3, 4}));
  EXPECT_EQ(shifts, (std::set<int>{-3, -2, -1, 1, 2, 3}));
  EXPECT_EQ(catch_fatal([] { draw_move(3, 3, 0); }).exit_code, 1);
}

TEST(DepartureSort, ExchangesWholeRecordsThroughTheOneAfterTheLast) {
  TripTable table = table_with_departures({50, 30, 40, 30, 0, 777});
  sort_by_departure(table, 4);
  EXPECT_EQ(table[1].departure_time, 30);
  EXPECT_EQ(table[2].departure_time, 30);
  EXPECT_EQ(table[3].departure_time, 40);
  EXPECT_EQ(table[3].aux_value, 3);
  EXPECT_EQ(table[4].departure_time, 50);
  EXPECT_EQ(table[6].departure_time, 777);  // beyond the scratch record

  TripTable largest = allocate_trip_table(TRIP_TABLE_RECORDS);
  for (int i = 1; i <= MAX_TABLE_TRIPS; ++i) largest[i].departure_time = MAX_TABLE_TRIPS - i;
  sort_by_departure(largest, MAX_TABLE_TRIPS);
  EXPECT_EQ(largest[MAX_TABLE_TRIPS].departure_time, MAX_TABLE_TRIPS - 1);
  TripTable no_scratch = allocate_trip_table(MAX_TABLE_TRIPS + 1);
  EXPECT_EQ(catch_fatal([&] { sort_by_departure(no_scratch, MAX_TABLE_TRIPS); }).exit_code, 1);
}

// Equal departures keep the order the plain exchange of every pair gives
// them, whatever passes are skipped: the trip file shows that order.
TEST(DepartureSort, LeavesEqualDeparturesWhereTheExchangeOfEveryPairPutsThem) {
  std::srand(11);
  for (int round = 0; round < 60; ++round) {
    const int n = 2 + std::rand() % 60;
    TripTable table = allocate_trip_table(n + 2);
    for (int i = 1; i <= n; ++i) table[i] = TripRecord{(i * 7) % 40, 0, 0, 0, 0, i, 0};
    if (round % 3 != 0)  // sorted but for one moved trip, as before each write
      std::sort(table.begin() + 1, table.begin() + n + 1,
                [](const TripRecord& a, const TripRecord& b) { return a.departure_time < b.departure_time; });
    table[1 + std::rand() % n].departure_time += std::rand() % 9 - 4;
    TripTable expected = table;
    for (int i = 1; i < n; ++i)
      for (int j = i + 1; j <= n; ++j)
        if (expected[i].departure_time > expected[j].departure_time) {
          expected[n + 1] = expected[i];
          expected[i] = expected[j];
          expected[j] = expected[n + 1];
        }
    sort_by_departure(table, n);
    for (int i = 1; i <= n + 1; ++i) {
      ASSERT_EQ(table[i].aux_value, expected[i].aux_value) << "round " << round << ", record " << i;
      ASSERT_EQ(table[i].departure_time, expected[i].departure_time) << "round " << round << ", record " << i;
    }
  }
}

// The trip lines are put together by hand; printf's layout is the reference.
TEST(SharedTripFileWriter, TripLinesAreWhatPrintfWrites) {
  Timetable timetable{{"", "ABCDEFGH", "TERMINAL_LONGER", "T\xE1"}, {}, {}};
  const float keys[] = {0.125f, 0.375f, -0.0f, 1.005f, -2.5f, 1e30f, 7.0f, std::numeric_limits<float>::infinity(),
                        std::numeric_limits<float>::quiet_NaN()};
  const int values[] = {0, -7, 123456, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()};
  // More distinct keys than are kept formatted, and each of them again.
  for (int i = 0; i < 200; ++i)
    timetable.trips.push_back({(i * 97) % (LATEST_TRIP_LINE_TIME + 1), LATEST_TRIP_LINE_TIME - i, i % 4, (i + 1) % 4,
                               i < 90 ? keys[i % 9] : static_cast<float>(i % 110) / 3, values[i % 5],
                               values[(i + 2) % 5]});
  std::string text, error;
  ASSERT_TRUE(format_trip_file(timetable, "", 0, "", text, error)) << error;
  std::string expected;
  for (size_t i = 0; i < timetable.trips.size(); ++i) {
    const TimetableTrip& t = timetable.trips[i];
    char line[200];
    std::snprintf(line, sizeof line, "\n%s%-4d = %02d%02d, %-8s     | %02d%02d, %-8s     | %.2f \t%d\t%d", "Trip",
                  static_cast<int>(i), t.departure_time / 60, t.departure_time % 60,
                  timetable.terminal_names[static_cast<size_t>(t.origin_terminal)].c_str(), t.arrival_time / 60,
                  t.arrival_time % 60, timetable.terminal_names[static_cast<size_t>(t.destination_terminal)].c_str(),
                  static_cast<double>(t.group_key), t.aux_value, t.min_layover);
    expected += line;
  }
  const size_t first = text.find("\nTrip0 ");
  ASSERT_NE(first, std::string::npos);
  EXPECT_EQ(text.substr(first, expected.size()), expected);

  // Lines kept from another timetable (fewer trips, other times, 0.0 where
  // this one has -0.0, then a terminal renamed) give the same bytes.
  TripLineCache cache;
  Timetable other = timetable;
  other.trips.resize(150);
  for (size_t i = 0; i < other.trips.size(); i += 3) other.trips[i].departure_time ^= 1;
  other.trips[2].group_key = 0.0f;
  std::string cached;
  ASSERT_TRUE(format_trip_file(other, "", 0, "", cached, error, &cache)) << error;
  ASSERT_TRUE(format_trip_file(timetable, "", 0, "", cached, error, &cache)) << error;
  EXPECT_EQ(cached, text);
  other = timetable;
  other.terminal_names[1] = "RENAMED";
  ASSERT_TRUE(format_trip_file(other, "", 0, "", text, error)) << error;
  ASSERT_TRUE(format_trip_file(other, "", 0, "", cached, error, &cache)) << error;
  EXPECT_EQ(cached, text);
}

class TripFileWriting : public ScratchDirTest {
 protected:
  void SetUp() override {
    ScratchDirTest::SetUp();
    write_whole_file(TEMPLATE_FILE_NAME, template_text(3));
    write_whole_file("Tarsel.bss", trip_file_text(3, 0));
    TripTable unused = allocate_trip_table(TRIP_TABLE_RECORDS);
    read_trip_file("Tarsel.bss", problem_, unused, false);
  }
  ProblemData problem_;
};

TEST_F(TripFileWriting, WritesHeaderTemplateSortedTripLinesAndTotals) {
  TripTable table = allocate_trip_table(TRIP_TABLE_RECORDS);
  table[1] = TripRecord{365, 410, 1, 2, 12.5f, 5, 3};
  table[2] = TripRecord{345, 385, 2, 1, 101.0f, 6, 0};
  problem_.num_trips = 2;
  write_trip_file("Tarsel", problem_, 5, table);

  std::string written = read_whole_file("Tarsel.bss");
  const std::string first_line = "# Rede criada com base nos hor\xE1rios de partida e chegadas das viagens\n";
  ASSERT_EQ(written.compare(0, first_line.size(), first_line), 0);
  size_t clock_end = written.find('\n', first_line.size());
  EXPECT_EQ(clock_end - first_line.size(), 2u + 19u);  // "# " and the clock without its year
  EXPECT_EQ(written.substr(clock_end + 1),
            std::string("\n").append(template_text(3)) +
                "\n\n[TRIP] 5"
                "\nTrip0    = 0545, T2           | 0625, T1           | 101.00 \t6\t0"
                "\nTrip1    = 0605, T1           | 0650, T2           | 12.50 \t5\t3"
                "\n-----------------------------------------------------------\n"
                "Total de viagens: 2\n"
                "\nTempo total de opera\xE7\xE3o: 01:25\n");
  EXPECT_EQ(table[1].departure_time, 345);  // the caller's table is left sorted

  // The best timetable is written by the shared writer: byte for byte the file evaluated.
  Timetable timetable{{"DEPOT", "T1", "T2"}, {}, {}};
  for (int i = 1; i <= 2; ++i) {
    const TripRecord& t = table[i];
    timetable.trips.push_back({t.departure_time, t.arrival_time, t.origin_terminal, t.destination_terminal,
                               t.group_key, t.aux_value, t.min_layover});
  }
  std::string text, error;
  ASSERT_TRUE(format_trip_file(timetable, template_text(3), 5, written.c_str() + first_line.size() + 2, text, error));
  EXPECT_EQ(text, written);

  // So is its template, read as the candidates' writer reads it: a NUL byte and all.
  write_whole_file(TEMPLATE_FILE_NAME, std::string("# ") + '\0' + " ends a text line early\n" + template_text(3));
  write_trip_file("Tarsel", problem_, 5, table);
  written = read_whole_file("Tarsel.bss");
  std::string best_template;
  ASSERT_TRUE(read_template_text(TEMPLATE_FILE_NAME, best_template));
  ASSERT_TRUE(format_trip_file(timetable, best_template, 5, written.c_str() + first_line.size() + 2, text, error));
  EXPECT_EQ(text, written);
}

TEST_F(TripFileWriting, BothReadersGetBackTheTripsWritten) {
  problem_.num_trips = 30;
  TripTable table = allocate_trip_table(TRIP_TABLE_RECORDS);
  for (int i = 1; i <= 30; ++i)
    table[i] = TripRecord{300 + (i * 37) % 900, 340 + (i * 37) % 900 + i, i % 3, (i + 1) % 3, 100.25f + i, i * 7, i % 4};
  write_trip_file("Tarsel", problem_, 0, table);

  ProblemData back;
  TripTable read_back = allocate_trip_table(TRIP_TABLE_RECORDS);
  read_trip_file("Tarsel.bss", back, read_back, false);
  Problem solver;
  read_problem_trips("Tarsel.bss", solver);
  ASSERT_EQ(back.num_trips, 30);
  ASSERT_EQ(solver.num_trips, 30);
  EXPECT_EQ(back.deadrun_matrix[2][1], problem_.deadrun_matrix[2][1]);
  EXPECT_EQ(solver.deadrun_matrix[2][1], problem_.deadrun_matrix[2][1]);
  for (int i = 1; i <= 30; ++i) {
    SCOPED_TRACE(i);
    const Trip& s = solver.trips[i];
    EXPECT_EQ(read_back[i].departure_time, table[i].departure_time);
    EXPECT_EQ(s.departure_time, table[i].departure_time);
    EXPECT_EQ(read_back[i].arrival_time, table[i].arrival_time);
    EXPECT_EQ(s.arrival_time, table[i].arrival_time);
    EXPECT_EQ(read_back[i].origin_terminal, table[i].origin_terminal);
    EXPECT_EQ(s.origin_terminal, table[i].origin_terminal);
    EXPECT_EQ(read_back[i].destination_terminal, table[i].destination_terminal);
    EXPECT_EQ(s.destination_terminal, table[i].destination_terminal);
    EXPECT_FLOAT_EQ(read_back[i].group_key, table[i].group_key);
    EXPECT_FLOAT_EQ(s.group_key, table[i].group_key);
    EXPECT_EQ(read_back[i].aux_value, table[i].aux_value);
    EXPECT_EQ(s.aux_value, table[i].aux_value);
    EXPECT_EQ(read_back[i].min_layover, table[i].min_layover);  // not the header value 0
    EXPECT_EQ(s.min_layover, table[i].min_layover);
  }
}

TEST(SharedTripFileWriter, WritesWhatTheSolverTakesAndRefusesMore) {
  Timetable largest;
  for (int j = 0; j < TIMETABLE_MAX_TERMINALS; ++j)
    largest.terminal_names.push_back(j == 0 ? std::string("DEPOT") : std::string("T").append(std::to_string(j)));
  for (int i = 0; i < TIMETABLE_MAX_TRIPS; ++i)
    largest.trips.push_back({i % 1400, i % 1400 + 30, i % 65, 64 - i % 65, 7.5f, i, 4});
  std::string text, error;
  ASSERT_TRUE(format_trip_file(largest, template_text(TIMETABLE_MAX_TERMINALS), 0, "", text, error)) << error;
  TextCursor cursor;
  load_text(text, cursor);
  Problem solver;
  parse_trip_file("Tarsel.bss", cursor, solver);
  ASSERT_EQ(solver.num_trips, TIMETABLE_MAX_TRIPS);
  const Trip& last = solver.trips[TIMETABLE_MAX_TRIPS];
  EXPECT_EQ(last.departure_time, (TIMETABLE_MAX_TRIPS - 1) % 1400);
  EXPECT_EQ(last.destination_terminal, 64 - (TIMETABLE_MAX_TRIPS - 1) % 65);
  EXPECT_EQ(last.aux_value, TIMETABLE_MAX_TRIPS - 1);

  Timetable beyond = largest;
  beyond.trips.push_back(largest.trips[0]);
  EXPECT_FALSE(format_trip_file(beyond, "", 0, "", text, error));
  beyond = largest;
  beyond.trips[9].origin_terminal = TIMETABLE_MAX_TERMINALS;
  EXPECT_FALSE(format_trip_file(beyond, "", 0, "", text, error));
  beyond = largest;
  beyond.trips[9].arrival_time = 100 * 60;  // hhmm holds hours up to 99
  EXPECT_FALSE(format_trip_file(beyond, "", 0, "", text, error));
  EXPECT_NE(error.find("trip 10"), std::string::npos) << error;
}

struct PairingCase {
  const char* name;
  std::vector<int> after;  // departures of the trips of `before`, in the same order
  int changed_aux;         // a trip whose aux value the change alters, -1 for none
  std::vector<int> shifts; // empty: refused
};
void PrintTo(const PairingCase& c, std::ostream* out) {
  *out << c.name;
}

class ShiftPairing : public ::testing::TestWithParam<PairingCase> {};

// Trips 0 and 1 are alike but for their departures, 2 minutes apart; trip 2
// differs in its aux value.
TEST_P(ShiftPairing, FindsEveryTripReadInTheChangedTimetable) {
  const PairingCase& c = GetParam();
  Timetable before{{"DEPOT", "A", "B"}, {{600, 640, 1, 2, 5.f, 7, 3}, {602, 642, 1, 2, 5.f, 7, 3}, {605, 650, 2, 1, 5.f, 8, 3}}, {}};
  std::vector<TimetableTrip> after;
  for (size_t i = 0; i < c.after.size(); ++i) {
    TimetableTrip trip = before.trips[i];
    trip.arrival_time += c.after[i] - trip.departure_time;
    trip.departure_time = c.after[i];
    if (static_cast<int>(i) == c.changed_aux) trip.aux_value = 99;
    after.push_back(trip);
  }
  std::string text, error;
  bool written = format_shifts_file(before, after, 3, text, error);
  ASSERT_EQ(written, !c.shifts.empty()) << error;
  if (!written) return;
  std::istringstream rows(text);
  std::string row;
  std::getline(rows, row);
  for (size_t i = 0; i < c.shifts.size() && std::getline(rows, row); ++i)
    EXPECT_EQ(row.substr(row.rfind(',') + 1), std::to_string(c.shifts[i])) << row;
  EXPECT_FALSE(std::getline(rows, row));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ShiftPairing,
    ::testing::Values(PairingCase{"unmoved", {600, 602, 605}, -1, {0, 0, 0}},
                      // 600 -> 603 and 602 -> 601 is the same timetable as +1, +1.
                      PairingCase{"alike_trips_crossed", {603, 601, 604}, -1, {1, 1, -1}},
                      PairingCase{"beyond_the_window", {600, 602, 609}, -1, {}},
                      PairingCase{"trip_lost", {600, 602}, -1, {}},
                      PairingCase{"trip_changed", {600, 602, 605}, 2, {}}));

TEST_F(TripFileWriting, FailuresEndWithCodeOneAndSpareTheUsersTripFile) {
  TripTable table = table_with_departures({600});
  problem_.num_trips = 1;
  std::remove(TEMPLATE_FILE_NAME);
  write_whole_file("Tarsel.bss", "the user's timetable");
  FatalError no_template = catch_fatal([&] { write_trip_file("Tarsel", problem_, 5, table); });
  EXPECT_EQ(no_template.message, "\nProblemas na leitura do arquivo teste.mvm\nVerifique a sua exist\xEAncia\n");
  EXPECT_EQ(no_template.exit_code, 1);
  EXPECT_EQ(read_whole_file("Tarsel.bss"), "the user's timetable");
  // A template that is there but cannot give the dead-run matrix section.
  for (const char* content : {"", "Num. Terminals: 3\n"}) {
    write_whole_file(TEMPLATE_FILE_NAME, content);
    FatalError bad = catch_fatal([&] { write_trip_file("Tarsel", problem_, 5, table); });
    EXPECT_EQ(bad.message, no_template.message) << content;
    EXPECT_EQ(read_whole_file("Tarsel.bss"), "the user's timetable");
  }
  std::remove(TEMPLATE_FILE_NAME);
  ASSERT_EQ(mkdir(TEMPLATE_FILE_NAME, 0755), 0);
  EXPECT_EQ(catch_fatal([&] { write_trip_file("Tarsel", problem_, 5, table); }).message, no_template.message);
  EXPECT_EQ(read_whole_file("Tarsel.bss"), "the user's timetable");
  rmdir(TEMPLATE_FILE_NAME);

  write_whole_file(TEMPLATE_FILE_NAME, template_text(3));
  std::remove("Tarsel.bss");
  ASSERT_EQ(mkdir("Tarsel.bss", 0755), 0);
  FatalError no_trip_file = catch_fatal([&] { write_trip_file("Tarsel", problem_, 5, table); });
  EXPECT_EQ(no_trip_file.message, "\nProblemas na criacao do arquivo teste.trp\n");
  EXPECT_EQ(no_trip_file.exit_code, 1);
}

}  // namespace
