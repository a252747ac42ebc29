#include <gtest/gtest.h>

#include "annealer/timetable.h"
#include "test_support.h"

using namespace annealer;

namespace {

class TripFileReading : public ScratchDirTest {
 protected:
  void read(const std::string& content) {
    write_whole_file("Tarsel.bss", content);
    read_trip_file("Tarsel.bss", problem_, table_, false);
  }
  FatalError read_fails(const std::string& content) {
    return catch_fatal([&] { read(content); });
  }
  ProblemData problem_;
  TripTable table_ = allocate_trip_table(TRIP_TABLE_RECORDS);
};

// CR LF line ends read as the solver reads them: as plain line ends.
TEST_F(TripFileReading, TakesTripsFromTheirColumnsAndTheMatrixWithBlanks) {
  const std::string text =
      "# free\n# header\n\n[DEAD_RUN_MATRIX]\nNum. Terminals: 3\nnames\nG A B\nG 0:00 1 : 05 0:07\n"
      "A 0:01 0:00 0:02\nB 0 :3 0:04 2:00\n\n[TRIP] 0\n" +
      trip_line(0, 5 * 60 + 45, "A", 6 * 60 + 50, "B", 12.5, 5, 3) + "\n" +
      trip_line(1, 25 * 60, "B", 25 * 60 + 40, "NOWHERE", 101, 6, 4) +
      "\n-----------------------------------------------------------\n" + trip_line(2, 0, "A", 1, "B", 1, 1, 1);
  for (const char* line_end : {"\n", "\r\n"}) {
    SCOPED_TRACE(line_end[0] == '\r' ? "CR LF" : "LF");
    std::string content;
    for (char c : text) content += c == '\n' ? std::string(line_end) : std::string(1, c);
    read(content);
    ASSERT_EQ(problem_.num_trips, 2);  // the dashes end the trips
    ASSERT_EQ(problem_.num_terminals, 3);
    EXPECT_STREQ(problem_.terminal_names[2], "B");
    EXPECT_EQ(problem_.deadrun_matrix[0][1], 65);
    EXPECT_EQ(problem_.deadrun_matrix[2][0], 3);
    EXPECT_EQ(problem_.deadrun_matrix[2][2], 120);
    const TripRecord& first = table_[1];
    EXPECT_EQ(first.departure_time, 345);
    EXPECT_EQ(first.arrival_time, 410);
    EXPECT_EQ(first.origin_terminal, 1);
    EXPECT_EQ(first.destination_terminal, 2);
    EXPECT_FLOAT_EQ(first.group_key, 12.5f);
    EXPECT_EQ(first.aux_value, 5);
    EXPECT_EQ(first.min_layover, 3);
    // Hours past midnight are kept; an unknown terminal stands for the depot.
    EXPECT_EQ(table_[2].departure_time, 1500);
    EXPECT_EQ(table_[2].destination_terminal, 0);
  }
}

TEST_F(TripFileReading, MalformedFilesStopWithTheirMessages) {
  const std::string empty = "\nArquivo Tarsel.bss est\xE1 vazio. A execu\xE7\xE3o sera interrompida.\n";
  const std::string ended = "\nFim de arquivo Tarsel.bss \n";
  EXPECT_EQ(read_fails("").message, empty);
  EXPECT_EQ(read_fails("# header\n" + trip_line(0, 600, "A", 640, "B", 1, 1, 1) + "\n").message, empty);
  EXPECT_EQ(read_fails("[DEAD_RUN_MATRIX]\nNum. Terminals: 5\nnames\nG A").message, ended);
  EXPECT_EQ(read_fails("[DEAD_RUN_MATRIX]\nNum. Terminals: 2\nnames\nG A\nG 0:00 0:10\nA 0:10").message, ended);
  // A count far beyond the file ends at its end, not after 10^10 entries.
  FatalError huge = read_fails("[DEAD_RUN_MATRIX]\nNum. Terminals: 100000\nnames\nG A\nG x y z");
  EXPECT_EQ(huge.message, ended);
  EXPECT_EQ(huge.exit_code, 1);
  EXPECT_TRUE(huge.pause);
}

struct LimitCase {
  int trips;
  int terminals;
  std::string message;  // empty when the file is accepted
};
void PrintTo(const LimitCase& c, std::ostream* out) {
  *out << c.trips << "_trips_" << c.terminals << "_terminals";
}

class TripFileLimits : public TripFileReading, public ::testing::WithParamInterface<LimitCase> {};

TEST_P(TripFileLimits, RefusesTimetablesBeyondTheTables) {
  const LimitCase& limit = GetParam();
  if (limit.message.empty()) {
    read(trip_file_text(limit.terminals, limit.trips));
    EXPECT_EQ(table_[limit.trips].aux_value, limit.trips - 1);
  } else {
    FatalError error = read_fails(trip_file_text(limit.terminals, limit.trips));
    EXPECT_EQ(error.message, limit.message);
    EXPECT_EQ(error.exit_code, 1);
  }
  EXPECT_EQ(problem_.num_trips, limit.trips);
}

const std::string REFUSED = "SYSTEM IS NOT ABLE TO SOLVE THIS PROBLEM \n";
const std::string TRIPS = "Total of trips larger than limite \n";
const std::string TERMINALS = "Total of terminis larger than limite \n";

// The trips line compares the solver's node count with the trip limit, hence
// its presence at 800 trips.
INSTANTIATE_TEST_SUITE_P(Limits, TripFileLimits,
                         ::testing::Values(LimitCase{1500, 20, ""}, LimitCase{1501, 20, REFUSED + TRIPS},
                                           LimitCase{800, 21, REFUSED + TRIPS + TERMINALS},
                                           LimitCase{700, 21, REFUSED + TERMINALS},
                                           LimitCase{3000, 30, REFUSED + TRIPS + TERMINALS}));

}  // namespace
