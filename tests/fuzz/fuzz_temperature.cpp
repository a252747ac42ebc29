// Sorvenna's Temp.txt: a temperature that one run stores for the next.
#include <cmath>
#include <cstdint>
#include <string>

#include "annealer/program.h"
#include "common/common.h"
#include "tests/fuzz/fuzz_support.h"

using namespace common;
using namespace annealer;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  silence_console();
  const std::string path = scratch_file("Temp.txt", data, size);
  float temperature = 0;
  try {
    temperature = read_temperature(path.c_str());
  } catch (const FatalError& error) {
    FUZZ_CHECK(error.exit_code == 1);
    return 0;
  }
  // The annealing cools from here until the stop: it must get there.
  FUZZ_CHECK(std::isfinite(temperature));
  return 0;
}
