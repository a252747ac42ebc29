// The solver's reader of the trip file Tarsel.bss, on any content.
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "common/common.h"
#include "common/text_cursor.h"
#include "solver/problem.h"
#include "tests/fuzz/fuzz_support.h"

using namespace common;
using namespace solver;

namespace {
bool in_minutes_range(int value) { return value >= -MAX_MINUTES_VALUE && value <= MAX_MINUTES_VALUE; }
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  silence_console();
  TextCursor cursor;
  load_text(std::string(reinterpret_cast<const char*>(data), size), cursor);
  auto problem = std::make_unique<Problem>();
  try {
    parse_trip_file("Tarsel.bss", cursor, *problem);
  } catch (const FatalError& error) {
    FUZZ_CHECK(error.exit_code == 1);
    return 0;
  }
  // An accepted problem fits every table the network is built from.
  const Problem& p = *problem;
  FUZZ_CHECK(p.num_trips >= 0 && p.num_trips <= MAX_TRIPS);
  FUZZ_CHECK(p.num_terminals >= 0 && p.num_terminals <= MAX_TERMINALS);
  const int terminal_slots = p.num_terminals > 0 ? p.num_terminals : 1;
  for (int t = 0; t < p.num_terminals; ++t) {
    FUZZ_CHECK(std::memchr(p.terminal_names[t], '\0', TERMINAL_NAME_SLOT) != nullptr);
    for (int u = 0; u < p.num_terminals; ++u) FUZZ_CHECK(in_minutes_range(p.deadrun_matrix[t][u]));
  }
  for (int i = 1; i <= p.num_trips; ++i) {
    const Trip& trip = p.trips[i];
    FUZZ_CHECK(trip.origin_terminal >= 0 && trip.origin_terminal < terminal_slots);
    FUZZ_CHECK(trip.destination_terminal >= 0 && trip.destination_terminal < terminal_slots);
    FUZZ_CHECK(in_minutes_range(trip.min_layover));
    // Two digits of hours and two of minutes, each possibly signed.
    FUZZ_CHECK(trip.departure_time >= -9 * 60 - 9 && trip.departure_time <= 99 * 60 + 99);
    FUZZ_CHECK(trip.arrival_time >= -9 * 60 - 9 && trip.arrival_time <= 99 * 60 + 99);
  }
  return 0;
}
