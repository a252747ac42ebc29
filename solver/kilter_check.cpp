// The invariants of the fast solve's working tables (the opening block of
// kilter.h), checked after a solve by the builds made for it.
#include <cstdarg>
#include <cstdio>

#include "solver/kilter_tables.h"

namespace solver {

namespace {

std::string describe(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string describe(const char* format, ...) {
  char text[200];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  return text;
}

// The packed lists and counts of the working tables against the network.
std::string check_lists(const Network& net, const KilterWork& w) {
  const int n = net.num_nodes;
  const int m = net.num_arcs;
  for (int e = 1; e <= m; ++e)
    if (net.lower[e] > net.upper[e]) return describe("arc %d has lower bound above upper on the fast road", e);
  if (static_cast<int>(w.out_begin.size()) < n + 2 || static_cast<int>(w.in_begin.size()) < n + 2 ||
      static_cast<int>(w.back_count.size()) < n + 1 || w.out.size() < static_cast<size_t>(m) + n + 1 ||
      static_cast<int>(w.bound.size()) < n + 2)
    return "working tables smaller than the network";
  for (int v = 1; v <= n; ++v) {
    int pos = w.out_begin[v];
    int below = 0;
    for (int e = net.first_out[v]; e != 0; e = net.next_out[e], ++pos) {
      if (pos >= w.out_begin[v + 1] || w.out_arc[pos] != e || w.arc_out_pos[e] != pos)
        return describe("out-list of node %d: arc %d not at position %d", v, e, pos);
      const int head = net.flow[e] < net.upper[e] ? net.head[e] : 0;
      const OutEntry& entry = w.out[out_index(v, pos)];
      if (entry.head != head || entry.cost != net.cost[e])
        return describe("out entry of arc %d: head %d cost %d, should be %d and %d", e, entry.head, entry.cost,
                        head, net.cost[e]);
      below += net.flow[e] < net.lower[e];
    }
    if (pos != w.out_begin[v + 1]) return describe("out-list of node %d holds more arcs than the network's", v);
    const OutEntry& sentinel = w.out[out_index(v, pos)];
    if (sentinel.head != n + 1 || sentinel.cost != SENTINEL_COST)
      return describe("out-list of node %d does not end in its sentinel", v);
    if (w.below_lower[v] != below)
      return describe("node %d counts %d out-arcs below their lower bound, has %d", v, w.below_lower[v], below);

    const BackEntry* list = back_list(w, v);
    int count = 0;
    pos = w.in_begin[v];
    for (int e = net.first_in[v]; e != 0; e = net.next_in[e], ++pos) {
      if (pos >= w.in_begin[v + 1] || w.in_arc[pos] != e || w.arc_in_pos[e] != pos)
        return describe("in-list of node %d: arc %d not at position %d", v, e, pos);
      if (net.flow[e] <= net.lower[e]) continue;
      if (count >= w.back_count[v]) return describe("back list of node %d misses arc %d", v, e);
      const BackEntry& b = list[count++];
      if (b.arc != e || b.tail != net.tail[e] || b.cost != net.cost[e] || b.above_upper != (net.flow[e] > net.upper[e]))
        return describe("back list of node %d: entry %d is not arc %d as it stands", v, count - 1, e);
    }
    if (pos != w.in_begin[v + 1]) return describe("in-list of node %d holds more arcs than the network's", v);
    if (count != w.back_count[v])
      return describe("back list of node %d holds %d arcs, the network %d", v, w.back_count[v], count);
  }
  return {};
}

// The tables of a phase, emptied at its end.
std::string check_at_rest(const Network& net, const KilterWork& w) {
  if (w.bound[0] != REACHED) return "node 0 is not counted as reached";
  if (w.bound[net.num_nodes + 1] != NO_BOUND) return "the sentinels' node has a bound";
  if (w.price_offset != 0) return describe("price offset %d left outside a solve", w.price_offset);
  for (int v = 1; v <= net.num_nodes; ++v) {
    if (w.bound[v] != NO_BOUND) return describe("node %d keeps a bound outside a phase", v);
    if (w.queue_key[v] != 0) return describe("node %d keeps a key outside a phase", v);
  }
  for (int b = 0; b <= QUEUE_BUCKETS; ++b)
    if (w.queue_first[b] != 0 || (w.queue_used[b >> 6] >> (b & 63) & 1) != 0)
      return describe("bucket %d of the queue not empty outside a phase", b);
  if (!w.keyed.empty() || !w.members.empty() || !w.queue_items.empty())
    return "keyed nodes, queue or reached set not empty outside a phase";
  return {};
}

}  // namespace

std::string check_invariants(const Network& net, const KilterState& ks) {
  if (ks.work.labels_missed != 0)
    return describe("%d breakthroughs laid out labels that miss the target", ks.work.labels_missed);
  if (ks.work.built) {
    const KilterWork& w = ks.work;
    if (!work_made_for(w, net) || w.num_arcs != net.num_arcs)
      return describe("working tables made for %d nodes and %d arcs of lists %u, the network has %d, %d and %u",
                      w.num_nodes, w.num_arcs, w.lists_made, net.num_nodes, net.num_arcs, net.lists_made);
    std::string broken = check_lists(net, ks.work);
    if (broken.empty()) broken = check_at_rest(net, ks.work);
    if (!broken.empty()) return broken;
  }
  if (net.feasible)
    for (int e = 1; e <= net.num_arcs; ++e) {
      const int rc = reduced_cost(net, ks, e);
      if (kilter_direction(net, e, rc) != 0)
        return describe("arc %d out of kilter after the solve: flow %d, bounds %d..%d, reduced cost %d", e,
                        net.flow[e], net.lower[e], net.upper[e], rc);
    }
  return {};
}

}  // namespace solver
