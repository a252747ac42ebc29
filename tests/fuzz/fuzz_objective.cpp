// Tarsel.sol as the annealer reads it after every solver run.
#include <cstdint>
#include <string>

#include "annealer/annealing.h"
#include "common/common.h"
#include "tests/fuzz/fuzz_support.h"

using namespace common;
using namespace annealer;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  silence_console();
  const std::string path = scratch_file("Tarsel.sol", data, size);
  int value = -12345;
  try {
    read_objective(path, value);
  } catch (const FatalError& error) {
    FUZZ_CHECK(error.exit_code == 1);
    FUZZ_CHECK(value == -12345);  // a refused file leaves the value alone
    return 0;
  }
  return 0;
}
