#include "solver/kilter_tables.h"

#include <algorithm>
#include <climits>

namespace solver {

namespace {

// Packs the forward-star lists of one direction: node_of is tail or head,
// first and next the lists. Arcs are placed by counting sort, which gives each
// node its arcs in increasing number, the order that prepare_network and
// link_arc keep; the lists are then checked against that order and walked
// instead where they differ. False when the lists do not hold every arc once.
bool pack_lists(int n, int m, const int* node_of, const int* first, const int* next, std::vector<int>& begin,
                HugeTable<int>& pos_of, HugeTable<int>& arc_at) {
  begin.assign(n + 2, 0);
  for (int e = 1; e <= m; ++e) ++begin[node_of[e] + 1];
  for (int v = 1; v <= n + 1; ++v) begin[v] += begin[v - 1];
  begin[n + 1] = m;
  // Each arc placed is checked against the list: it must follow the arc
  // placed before it at its node, or be the node's first.
  bool same = true;
  {
    std::vector<int> fill(begin.begin(), begin.end());
    for (int e = 1; e <= m; ++e) {
      const int v = node_of[e];
      const int p = fill[v]++;
      arc_at[p] = e;
      pos_of[e] = p;
      same &= (p == begin[v] ? first[v] : next[arc_at[p - 1]]) == e;
    }
  }
  for (int v = 1; v <= n && same; ++v) same = (begin[v] < begin[v + 1] ? next[arc_at[begin[v + 1] - 1]] : first[v]) == 0;
  if (same) return true;

  for (int e = 1; e <= m; ++e) pos_of[e] = -1;
  int pos = 0;
  for (int v = 1; v <= n; ++v) {
    begin[v] = pos;
    for (int e = first[v]; e != 0; e = next[e]) {
      if (e < 1 || e > m || node_of[e] != v || pos_of[e] >= 0) return false;
      pos_of[e] = pos;
      arc_at[pos] = e;
      ++pos;
    }
  }
  begin[n + 1] = pos;
  return pos == m;
}

template <class Table>
void reserve_once(Table& table, size_t capacity) {
  if (table.capacity() < capacity) table.reserve(capacity);
}

// The tables as long as the arc table, sized for m arcs and n nodes. They are
// reserved once for the largest network: growing them with the arcs that
// generation adds then moves nothing, and the pages beyond what the network
// uses stay untouched.
void size_arc_tables(KilterWork& w, int n, int m) {
  reserve_once(w.out, static_cast<size_t>(MAX_ARCS) + MAX_NODES + 1);
  for (auto* table : {&w.out_arc, &w.arc_out_pos, &w.in_arc, &w.arc_in_pos})
    reserve_once(*table, static_cast<size_t>(MAX_ARCS) + 1);
  reserve_once(w.back, static_cast<size_t>(MAX_ARCS) + 1);
  w.out.resize(static_cast<size_t>(m) + n + 1);
  w.out_arc.resize(m + 1);
  w.arc_out_pos.resize(m + 1);
  w.in_arc.resize(m + 1);
  w.arc_in_pos.resize(m + 1);
  // Only nodes with long back lists use their stretch of this table, which is
  // never written as a whole.
  w.back.resize(std::max<size_t>(w.back.size(), static_cast<size_t>(m) + 1));
}

inline bool fits_fast_road(const Network& net, int e) {
  const int n = net.num_nodes;
  return net.lower[e] <= net.upper[e] && net.tail[e] >= 1 && net.tail[e] <= n && net.head[e] >= 1 &&
         net.head[e] <= n;
}

// What the tables were made for, so that a later solve can tell whether it
// may keep them.
void tables_made_for(const Network& net, KilterWork& w) {
  w.net = &net;
  w.lists_made = net.lists_made;
  w.num_nodes = net.num_nodes;
  w.num_arcs = net.num_arcs;
  w.built = true;
}

}  // namespace

bool build_work(const Network& net, KilterWork& w) {
  w.built = false;
  const int n = net.num_nodes;
  const int m = net.num_arcs;
  size_arc_tables(w, n, m);
  w.back_near.resize(static_cast<size_t>(n + 1) * BACK_NEAR);
  w.back_count.assign(n + 1, 0);
  w.below_lower.assign(n + 1, 0);
  w.bound.assign(n + 2, NO_BOUND);
  w.bound[0] = REACHED;
  w.members.clear();
  w.members.reserve(n + 1);
  w.queue_key.assign(n + 1, 0);
  w.queue_items.clear();
  std::fill(w.queue_first.begin(), w.queue_first.end(), 0);
  std::fill(w.queue_used.begin(), w.queue_used.end(), 0);
  w.queue_base = w.queue_low = 0;
  w.keyed.clear();
  w.keyed.reserve(n + 1);
  w.limit.assign(n + 2, 0);

  for (int e = 1; e <= m; ++e)
    if (!fits_fast_road(net, e)) return false;
  if (!pack_lists(n, m, net.tail.data(), net.first_out.data(), net.next_out.data(), w.out_begin, w.arc_out_pos,
                  w.out_arc))
    return false;
  if (!pack_lists(n, m, net.head.data(), net.first_in.data(), net.next_in.data(), w.in_begin, w.arc_in_pos,
                  w.in_arc))
    return false;
  for (int pos = 0; pos < m; ++pos) {
    const int e = w.out_arc[pos];
    w.out[out_index(net.tail[e], pos)] = OutEntry{net.flow[e] < net.upper[e] ? net.head[e] : 0, net.cost[e]};
    if (net.flow[e] < net.lower[e]) w.below_lower[net.tail[e]] += 1;
  }
  for (int v = 1; v <= n; ++v) w.out[out_index(v, w.out_begin[v + 1])] = OutEntry{n + 1, SENTINEL_COST};
  for (int e = 1; e <= m; ++e)
    if (net.flow[e] > net.lower[e]) ++w.back_count[net.head[e]];
  std::vector<int> filled(n + 1, 0);
  for (int pos = 0; pos < m; ++pos) {
    const int e = w.in_arc[pos];
    const int v = net.head[e];
    if (net.flow[e] > net.lower[e]) back_list(w, v)[filled[v]++] = back_entry(net, e);
  }
  tables_made_for(net, w);
  return true;
}

namespace {

// Makes room in the packed lists of one direction for the arcs first..m,
// appended at the ends of their lists since the lists were packed: each node's
// stretch moves up by the number of new arcs of the nodes before it, and its
// new arcs follow its old ones in increasing number. moved[v] gets how far
// node v's stretch moved.
void spread_lists(int n, int first, int m, const int* node_of, std::vector<int>& begin, HugeTable<int>& pos_of,
                  HugeTable<int>& arc_at, std::vector<int>& moved) {
  moved.assign(n + 2, 0);
  for (int e = first; e <= m; ++e) ++moved[node_of[e] + 1];
  for (int v = 2; v <= n + 1; ++v) moved[v] += moved[v - 1];
  // From the last node down, so that no stretch lands on one not yet moved.
  for (int v = n; v >= 1; --v)
    if (moved[v] != 0)
      std::copy_backward(arc_at.begin() + begin[v], arc_at.begin() + begin[v + 1],
                         arc_at.begin() + (begin[v + 1] + moved[v]));
  for (int e = 1; e < first; ++e) pos_of[e] += moved[node_of[e]];
  for (int v = 1; v <= n + 1; ++v) begin[v] += moved[v];
  begin[n + 1] = m;
  // Each node's new arcs go behind its old ones.
  std::vector<int> fill(n + 1);
  for (int v = 1; v <= n; ++v) fill[v] = begin[v + 1] - (moved[v + 1] - moved[v]);
  for (int e = first; e <= m; ++e) {
    const int p = fill[node_of[e]]++;
    arc_at[p] = e;
    pos_of[e] = p;
  }
}

}  // namespace

bool append_to_work(const Network& net, KilterWork& w) {
  const int n = net.num_nodes;
  const int first = w.num_arcs + 1;
  const int m = net.num_arcs;
  for (int e = first; e <= m; ++e)
    if (!fits_fast_road(net, e)) return false;
  size_arc_tables(w, n, m);
  std::vector<int> moved;
  // The out entries move with their positions, each node's sentinel with them.
  const std::vector<int> old_out_begin(w.out_begin.begin(), w.out_begin.begin() + (n + 2));
  spread_lists(n, first, m, net.tail.data(), w.out_begin, w.arc_out_pos, w.out_arc, moved);
  for (int v = n; v >= 1; --v)
    if (moved[v] != 0) {
      const auto old_end = w.out.begin() + out_index(v, old_out_begin[v + 1]);
      std::copy_backward(w.out.begin() + out_index(v, old_out_begin[v]), old_end, old_end + moved[v]);
    }
  for (int v = 1; v <= n; ++v) w.out[out_index(v, w.out_begin[v + 1])] = OutEntry{n + 1, SENTINEL_COST};
  // The long back lists stand in the stretch of their node's in-list.
  spread_lists(n, first, m, net.head.data(), w.in_begin, w.arc_in_pos, w.in_arc, moved);
  for (int v = n; v >= 1; --v)
    if (moved[v] != 0 && w.back_count[v] > BACK_NEAR) {
      BackEntry* old_list = &w.back[w.in_begin[v] - moved[v]];
      std::copy_backward(old_list, old_list + w.back_count[v], &w.back[w.in_begin[v]] + w.back_count[v]);
    }
  // A new arc enters as if its flow had just left its lower bound.
  for (int e = first; e <= m; ++e) {
    w.out[out_index(net.tail[e], w.arc_out_pos[e])].cost = net.cost[e];
    flow_changed(net, w, e, net.lower[e]);
  }
  tables_made_for(net, w);
  return true;
}

}  // namespace solver
