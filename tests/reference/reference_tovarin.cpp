// The two entry points the solver driver calls, served by the plain
// implementation. Linked with the solver's other sources in place of
// kilter.cpp, this gives a whole Tovarin run that differs from the real one
// in nothing but the out-of-kilter code.
#include "tests/reference/reference_kilter.h"

void reset_kilter(KilterState& ks) { reference::reset_kilter(ks); }

void solve_circulation(Network& net, KilterState& ks, RunCounters& counters, FILE* iteration_file) {
  reference::solve_circulation(net, ks, counters, iteration_file);
}
