// The annealer's own reader of Tarsel.bss, which the annealer rewrites before
// every solver run and people edit by hand in between.
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "annealer/move.h"
#include "annealer/timetable.h"
#include "common/timetable_out.h"
#include "common/common.h"
#include "tests/fuzz/fuzz_support.h"

using namespace common;
using namespace annealer;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  silence_console();
  static TripTable table = allocate_trip_table(TRIP_TABLE_RECORDS);
  auto problem = std::make_unique<ProblemData>();
  const std::string path = scratch_file("Tarsel.bss", data, size);
  try {
    read_trip_file(path, *problem, table, false);
  } catch (const FatalError& error) {
    FUZZ_CHECK(error.exit_code == 1);
    return 0;
  }
  const ProblemData& p = *problem;
  FUZZ_CHECK(table.size() == static_cast<size_t>(TRIP_TABLE_RECORDS));
  FUZZ_CHECK(p.num_trips >= 0 && p.num_trips <= MAX_TABLE_TRIPS);
  FUZZ_CHECK(p.num_terminals <= MAX_TABLE_TERMINALS);
  for (int t = 0; t < MAX_TABLE_TERMINALS; ++t)
    FUZZ_CHECK(std::memchr(p.terminal_names[t], '\0', TERMINAL_NAME_CAPACITY) != nullptr);
  for (int i = 1; i <= p.num_trips; ++i) {
    FUZZ_CHECK(table[i].origin_terminal >= 0 && table[i].origin_terminal < MAX_TABLE_TERMINALS);
    FUZZ_CHECK(table[i].destination_terminal >= 0 && table[i].destination_terminal < MAX_TABLE_TERMINALS);
  }
  // Whatever was read, the annealer can write it back as its next trip file,
  // unless a time lies beyond what a trip line's hhmm fields hold (a hand-made
  // 9999 is read as 100:39): then the writer refuses it with a reason.
  bool writable = true;
  for (int i = 1; i <= p.num_trips; ++i)
    for (int time : {table[i].departure_time, table[i].arrival_time})
      if (time < 0 || time > LATEST_TRIP_LINE_TIME) writable = false;
  std::string text, error;
  FUZZ_CHECK(format_trip_file(timetable_of(p, table), "", 0, "", text, error) == writable);
  FUZZ_CHECK(writable || !error.empty());
  // The lines kept for the next candidate give the same file, filled or not.
  TripLineCache cache;
  for (int round = 0; round < 2 && writable; ++round) {
    std::string cached;
    FUZZ_CHECK(format_trip_file(timetable_of(p, table), "", 0, "", cached, error, &cache) && cached == text);
  }
  return 0;
}
