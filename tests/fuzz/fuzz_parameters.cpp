// The parameter file Tarsel.ini as anyone may have edited it.
#include <cstdint>
#include <string>

#include "common/common.h"
#include "common/text_cursor.h"
#include "solver/problem.h"
#include "tests/fuzz/fuzz_support.h"

using namespace common;
using namespace solver;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  silence_console();
  TextCursor cursor;
  load_text(std::string(reinterpret_cast<const char*>(data), size), cursor);
  Parameters params;
  try {
    parse_parameters("Tarsel.ini", cursor, params);
  } catch (const FatalError& error) {
    FUZZ_CHECK(!error.message.empty());
    FUZZ_CHECK(error.exit_code == 1);
    return 0;
  }
  // Everything downstream adds the depot time to sums of minutes.
  FUZZ_CHECK(params.min_depot_time >= -MAX_MINUTES_VALUE && params.min_depot_time <= MAX_MINUTES_VALUE);
  return 0;
}
