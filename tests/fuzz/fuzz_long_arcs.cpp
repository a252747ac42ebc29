// One arc-generation pass over a long-arc file of any content: records with
// any tail, head, cost and mark, in any order, and a file whose size is no
// multiple of a record. The pass must choose exactly the records that the
// selection rule names, add them to the network and mark them in the file,
// and touch nothing else.
//
// Input: byte 0 gives the number of trips (1 to 48), then one 32-bit price
// per node (bounded the way the solver's own prices are), then the file.
#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <set>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "common/common.h"
#include "solver/arcgen.h"
#include "solver/kilter.h"
#include "solver/network.h"
#include "tests/fuzz/fuzz_support.h"

using namespace common;
using namespace solver;

namespace {

struct World {
  Network net;
  KilterState ks;
};

std::vector<LongArcRecord> records_of(const std::string& bytes) {
  std::vector<LongArcRecord> out(bytes.size() / sizeof(LongArcRecord));
  if (!out.empty()) std::memcpy(out.data(), bytes.data(), out.size() * sizeof(LongArcRecord));
  return out;
}

std::string read_back(const std::string& path) {
  std::string out;
  FILE* f = std::fopen(path.c_str(), "rb");
  FUZZ_CHECK(f != nullptr);
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) out.append(buffer, n);
  std::fclose(f);
  return out;
}

long long reduced(const World& w, const LongArcRecord& r) {
  return static_cast<long long>(r.cost) + w.ks.price[r.tail] - w.ks.price[r.head];
}

// The rule written out plainly: runs of records with the same tail form the
// groups; in each, of the unmarked records that network generation could have
// written (nodes of the network, a cost within the bound), the 40 with the
// most negative reduced costs, the earlier record first among equals.
std::vector<int> expected_choice(const World& w, const std::vector<LongArcRecord>& records) {
  std::vector<int> chosen;
  size_t start = 0;
  while (start < records.size()) {
    size_t end = start;
    while (end < records.size() && records[end].tail == records[start].tail) ++end;
    std::vector<std::pair<long long, int>> candidates;
    for (size_t k = start; k < end; ++k) {
      const LongArcRecord& r = records[k];
      const int n = w.net.num_nodes;
      bool written_by_generation = r.tail >= 1 && r.tail <= n && r.head >= 1 && r.head <= n &&
                                   r.cost >= -max_arc_cost(n) && r.cost <= max_arc_cost(n);
      if (!written_by_generation || r.included != 0) continue;
      long long rc = reduced(w, r);
      if (rc < 0) candidates.emplace_back(rc, static_cast<int>(k));
    }
    std::stable_sort(candidates.begin(), candidates.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    for (size_t c = 0; c < candidates.size() && c < static_cast<size_t>(LONG_ARCS_PER_NODE); ++c)
      chosen.push_back(candidates[c].second);
    start = end;
  }
  std::sort(chosen.begin(), chosen.end());
  return chosen;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  silence_console();
  static World* world = new World;  // the arc table is large: built once
  World& w = *world;
  if (size < 1) return 0;
  const int T = 1 + data[0] % 48;
  size_t at = 1;

  Network& net = w.net;
  net.num_nodes = 2 * T + 2;
  net.num_arcs = 0;
  for (int i = 1; i <= T; ++i) {
    add_arc(net, ++net.num_arcs, depot_out_node(T), trip_start_node(i), 0, 1, 10, 0);
    add_arc(net, ++net.num_arcs, trip_start_node(i), trip_end_node(T, i), 1, 1, 0, 0);
    add_arc(net, ++net.num_arcs, trip_end_node(T, i), depot_in_node(T), 0, 1, 10, 0);
  }
  add_arc(net, ++net.num_arcs, depot_in_node(T), depot_out_node(T), 0, T, VEHICLE_COST, 0);
  prepare_network(net);
  const int base_arcs = net.num_arcs;

  // Prices of a solve stay within what the checked arc costs allow.
  const int price_bound = INT_MAX / 4;
  for (int n = 0; n <= MAX_NODES; ++n) w.ks.price[n] = 0;
  for (int n = 1; n <= net.num_nodes; ++n) {
    int32_t v = 0;
    if (at + 4 <= size) {
      std::memcpy(&v, data + at, 4);
      at += 4;
    }
    w.ks.price[n] = static_cast<int>(v % price_bound);
  }

  const std::string before(reinterpret_cast<const char*>(data + at), size - at);
  const std::string path = scratch_file("temp.lng", data + at, size - at);
  const std::vector<LongArcRecord> records = records_of(before);
  const std::vector<int> expected = expected_choice(w, records);

  RunCounters counters;
  bool added;
  try {
    added = generate_arcs(net, w.ks, counters, T, path, nullptr);
  } catch (const FatalError&) {
    invariant_failed("a pass over a readable file must not fail");
  }

  const int count = net.num_arcs - base_arcs;
  FUZZ_CHECK(added == (count > 0));
  FUZZ_CHECK(count == static_cast<int>(expected.size()));
  FUZZ_CHECK(counters.longs_included == count);

  // The file: the same size, the chosen records marked, nothing else changed.
  const std::string after = read_back(path);
  FUZZ_CHECK(after.size() == before.size());
  FUZZ_CHECK(after.compare(records.size() * 16, std::string::npos, before, records.size() * 16) == 0);
  const std::vector<LongArcRecord> now = records_of(after);
  std::vector<int> marked;
  for (size_t k = 0; k < records.size(); ++k) {
    if (std::memcmp(&records[k], &now[k], sizeof(LongArcRecord)) == 0) continue;
    FUZZ_CHECK(records[k].included == 0 && now[k].included == 1);
    FUZZ_CHECK(now[k].tail == records[k].tail && now[k].head == records[k].head && now[k].cost == records[k].cost);
    marked.push_back(static_cast<int>(k));
  }
  FUZZ_CHECK(marked == expected);

  // The network: one new arc per chosen record, each linked at the end of its
  // lists with negative reduced cost.
  std::multiset<std::tuple<int, int, int>> from_file, in_network;
  for (int k : expected) from_file.insert({records[k].tail, records[k].head, records[k].cost});
  for (int a = base_arcs + 1; a <= net.num_arcs; ++a) {
    in_network.insert({net.tail[a], net.head[a], net.cost[a]});
    FUZZ_CHECK(net.lower[a] == 0 && net.upper[a] == 1 && net.flow[a] == 0);
    FUZZ_CHECK(static_cast<long long>(net.cost[a]) + w.ks.price[net.tail[a]] - w.ks.price[net.head[a]] < 0);
    bool in_out_list = false, in_in_list = false;
    for (int e = net.first_out[net.tail[a]]; e != 0; e = net.next_out[e]) in_out_list |= e == a;
    for (int e = net.first_in[net.head[a]]; e != 0; e = net.next_in[e]) in_in_list |= e == a;
    FUZZ_CHECK(in_out_list && in_in_list);
  }
  FUZZ_CHECK(from_file == in_network);

  // A second pass never takes a record twice.
  const int after_first = net.num_arcs;
  std::vector<LongArcRecord> marked_records = now;
  const std::vector<int> second_expected = expected_choice(w, marked_records);
  try {
    generate_arcs(net, w.ks, counters, T, path, nullptr);
  } catch (const FatalError&) {
    invariant_failed("a second pass over a readable file must not fail");
  }
  FUZZ_CHECK(net.num_arcs - after_first == static_cast<int>(second_expected.size()));
  for (int k : second_expected) FUZZ_CHECK(now[k].included == 0);
  return 0;
}
