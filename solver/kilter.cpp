#include "solver/kilter.h"

#include <algorithm>
#include <climits>
#include <ctime>

namespace {

void queue_push(const Network& net, KilterState& ks, int v) {
  ks.queue_in += 1;
  if (ks.queue_in > net.num_nodes) {
    ks.queue_in = 1;
    std::printf("\nFinal do vetor na inclusao da Lista");
  }
  ks.queue[ks.queue_in] = v;
}

int queue_pop(const Network& net, KilterState& ks) {
  ks.queue_out += 1;
  if (ks.queue_out > net.num_nodes) {
    ks.queue_out = 1;
    std::printf("\nFinal do vetor na retirada da Lista");
  }
  return ks.queue[ks.queue_out];
}

int abs_of(int x) { return x < 0 ? -x : x; }

}  // namespace

void reset_kilter(KilterState& ks) {
  std::fill(ks.price.begin(), ks.price.end(), 0);
  std::fill(ks.label.begin(), ks.label.end(), 0);
  std::fill(ks.pred_arc.begin(), ks.pred_arc.end(), 0);
  ks.queue_in = ks.queue_out = 0;
}

int find_out_of_kilter_arc(const Network& net, KilterState& ks, bool& rise) {
  for (int i = ks.scan_arc; i <= net.num_arcs; ++i) {
    int rc = reduced_cost(net, ks, i);
    int f = net.flow[i];
    if (f < net.lower[i] || (rc < 0 && f < net.upper[i])) {
      rise = true;
      ks.scan_arc = i;
      return i;
    }
    if (f > net.upper[i] || (rc > 0 && f > net.lower[i])) {
      rise = false;
      ks.scan_arc = i;
      return i;
    }
  }
  return 0;
}

namespace {
// The room of the cycle that the labels describe, read backwards from the
// search's start; the first arc met is the out-of-kilter arc itself.
int cycle_room(const Network& net, const KilterState& ks) {
  int delta = INFINITE_DELTA;
  int v = ks.search_start;
  do {
    int e = abs_of(ks.pred_arc[v]);
    int rc = reduced_cost(net, ks, e);
    int f = net.flow[e];
    if (ks.pred_arc[v] > 0) {
      if (rc > 0 && f < net.lower[e])
        delta = std::min(delta, net.lower[e] - f);
      else if (rc <= 0 && f < net.upper[e])
        delta = std::min(delta, net.upper[e] - f);
    } else {
      if (rc < 0 && f > net.upper[e])
        delta = std::min(delta, f - net.upper[e]);
      else if (rc >= 0 && f > net.lower[e])
        delta = std::min(delta, f - net.lower[e]);
    }
    v = abs_of(ks.label[v]);
  } while (v != ks.search_start);
  return delta;
}
}  // namespace

bool change_flow(Network& net, KilterState& ks) {
  const int delta = cycle_room(net, ks);
  if (delta <= 0 || delta >= INFINITE_DELTA) return false;
  int v = ks.search_start;
  do {
    int e = abs_of(ks.pred_arc[v]);
    if (ks.pred_arc[v] > 0)
      net.flow[e] += delta;
    else
      net.flow[e] -= delta;
    v = abs_of(ks.label[v]);
  } while (v != ks.search_start);
  return true;
}

void change_prices(Network& net, KilterState& ks, int a) {
  // A bound of INFINITE_DELTA or more is still a bound: only finding none
  // means that no feasible circulation exists.
  int delta = INT_MAX;
  bool bounded = false;
  for (int q = 1; q <= ks.queue_in; ++q) {
    int n = ks.queue[q];
    for (int e = net.first_out[n]; e != 0; e = net.next_out[e])
      if (ks.label[net.head[e]] == 0 && net.flow[e] < net.upper[e]) {
        delta = std::min(delta, reduced_cost(net, ks, e));
        bounded = true;
      }
    for (int e = net.first_in[n]; e != 0; e = net.next_in[e])
      if (ks.label[net.tail[e]] == 0 && net.flow[e] > net.lower[e]) {
        delta = std::min(delta, -reduced_cost(net, ks, e));
        bounded = true;
      }
  }
  if (!bounded && (net.flow[a] == net.upper[a] || net.flow[a] == net.lower[a])) {
    delta = abs_of(reduced_cost(net, ks, a));
    bounded = true;
  }
  if (!bounded) {
    net.feasible = false;
    return;
  }
  for (int i = 1; i <= net.num_nodes; ++i)
    if (ks.label[i] == 0) ks.price[i] += delta;
}

void label_and_repair(Network& net, KilterState& ks, int a, bool rise) {
  if (rise) {
    ks.search_start = net.head[a];
    ks.search_target = net.tail[a];
    ks.search_sign = 1;
  } else {
    ks.search_start = net.tail[a];
    ks.search_target = net.head[a];
    ks.search_sign = -1;
  }
  for (int n = 1; n <= net.num_nodes; ++n) {
    ks.label[n] = 0;
    ks.pred_arc[n] = 0;
  }
  ks.queue_in = 0;
  ks.queue_out = 0;

  // The start's label closes the cycle through arc a itself.
  ks.label[ks.search_start] = ks.search_target * ks.search_sign;
  ks.pred_arc[ks.search_start] = a * ks.search_sign;
  bool done = false;
  queue_push(net, ks, ks.search_start);
  const int target = ks.search_target;

  while (ks.queue_out != ks.queue_in && !done) {
    int n = queue_pop(net, ks);
    for (int e = net.first_out[n]; e != 0 && !done; e = net.next_out[e]) {
      if (e == a) continue;
      int j = net.head[e];
      if (ks.label[j] == 0 &&
          (net.flow[e] < net.lower[e] || (net.flow[e] < net.upper[e] && reduced_cost(net, ks, e) <= 0))) {
        ks.label[j] = net.tail[e];
        ks.pred_arc[j] = e;
        queue_push(net, ks, j);
      }
      if (ks.label[target] != 0) done = true;
    }
    for (int e = net.first_in[n]; e != 0 && !done; e = net.next_in[e]) {
      if (e == a) continue;
      int i = net.tail[e];
      if (ks.label[i] == 0 &&
          (net.flow[e] > net.upper[e] || (net.flow[e] > net.lower[e] && reduced_cost(net, ks, e) >= 0))) {
        ks.label[i] = -net.head[e];
        ks.pred_arc[i] = -e;
        queue_push(net, ks, i);
      }
      if (ks.label[target] != 0) done = true;
    }
    if (ks.label[target] != 0) done = change_flow(net, ks);
  }
  if (!done || ks.label[target] == 0) change_prices(net, ks, a);
}

// ---------------------------------------------------------------------------
// solve_circulation
//
// A search that ends without breakthrough depends only on the set of nodes it
// reaches: the price change takes the smallest reduced cost among the arcs
// with room that cross the border of that set. The searches that follow for
// the same arc therefore reach that set again, plus whatever the newly usable
// arcs add, so the set is grown instead of being searched anew (a phase),
// with the unreached nodes next to it in a heap keyed by the total price
// change at which an arc to them becomes usable. The prices of the unreached
// nodes are raised once, by the phase total, when the phase ends; until then
// a node that joins the set takes the total so far into its stored price, and
// reduced costs are taken against the lowered prices of the reached nodes,
// which differ from the true ones by a shift that cancels out. Only a search
// that reaches its target needs the labels of the breadth-first order, and
// then they are laid out once.

namespace {

constexpr int NO_BOUND = INT_MAX;
constexpr int REACHED = INT_MIN;
constexpr int BACK_NEAR = 3;

// Node v's back list: in its near slots while it fits there, else at the
// node's own stretch of the long table.
inline BackEntry* back_list(KilterWork& w, int v) {
  return w.back_count[v] <= BACK_NEAR ? &w.back_near[static_cast<size_t>(v) * BACK_NEAR] : &w.back[w.in_begin[v]];
}

BackEntry back_entry(const Network& net, int e) {
  return BackEntry{e, net.tail[e], net.cost[e], net.flow[e] > net.upper[e]};
}

// Packs the forward-star lists of one direction: node_of is tail or head,
// first and next the lists. Arcs are placed by counting sort, which gives each
// node its arcs in increasing number, the order that prepare_network and
// link_arc keep; the lists are then checked against that order and walked
// instead where they differ. False when the lists do not hold every arc once.
bool pack_lists(int n, int m, const int* node_of, const int* first, const int* next, std::vector<int>& begin,
                std::vector<int>& pos_of, std::vector<int>& arc_at) {
  begin.assign(n + 2, 0);
  for (int e = 1; e <= m; ++e) ++begin[node_of[e] + 1];
  for (int v = 1; v <= n + 1; ++v) begin[v] += begin[v - 1];
  begin[n + 1] = m;
  {
    std::vector<int> fill(begin.begin(), begin.end());
    for (int e = 1; e <= m; ++e) {
      const int p = fill[node_of[e]]++;
      arc_at[p] = e;
      pos_of[e] = p;
    }
  }
  bool same = true;
  for (int v = 1; v <= n && same; ++v) same = first[v] == (begin[v] < begin[v + 1] ? arc_at[begin[v]] : 0);
  for (int e = 1; e <= m && same; ++e) {
    const int p = pos_of[e];
    same = next[e] == (p + 1 < begin[node_of[e] + 1] ? arc_at[p + 1] : 0);
  }
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

bool build_work(const Network& net, KilterWork& w) {
  const int n = net.num_nodes;
  const int m = net.num_arcs;
  w.out.resize(m + 1);
  w.out_arc.resize(m + 1);
  w.arc_out_pos.resize(m + 1);
  w.in_arc.resize(m + 1);
  w.arc_in_pos.resize(m + 1);
  // Only nodes with long back lists use their stretch of this table: reserved
  // once for the largest network and never written as a whole, its other
  // pages stay untouched.
  if (w.back.capacity() < static_cast<size_t>(MAX_ARCS) + 1) w.back.reserve(static_cast<size_t>(MAX_ARCS) + 1);
  w.back.resize(std::max<size_t>(w.back.size(), static_cast<size_t>(m) + 1));
  w.back_near.resize(static_cast<size_t>(n + 1) * BACK_NEAR);
  w.back_count.assign(n + 1, 0);
  w.below_lower.assign(n + 1, 0);
  w.bound.assign(n + 1, NO_BOUND);
  w.bound[0] = REACHED;
  w.members.clear();
  w.members.reserve(n + 1);
  w.heap.assign(n + 1, HeapItem{0, 0});
  w.heap_pos.assign(n + 1, 0);
  w.heap_size = 0;
  w.limit.assign(n + 1, 0);

  for (int e = 1; e <= m; ++e) {
    if (net.lower[e] > net.upper[e]) return false;
    if (net.tail[e] < 1 || net.tail[e] > n || net.head[e] < 1 || net.head[e] > n) return false;
  }
  if (!pack_lists(n, m, net.tail.data(), net.first_out.data(), net.next_out.data(), w.out_begin, w.arc_out_pos,
                  w.out_arc))
    return false;
  if (!pack_lists(n, m, net.head.data(), net.first_in.data(), net.next_in.data(), w.in_begin, w.arc_in_pos,
                  w.in_arc))
    return false;
  for (int pos = 0; pos < m; ++pos) {
    const int e = w.out_arc[pos];
    w.out[pos] = OutEntry{net.flow[e] < net.upper[e] ? net.head[e] : 0, net.cost[e]};
    if (net.flow[e] < net.lower[e]) w.below_lower[net.tail[e]] += 1;
  }
  for (int e = 1; e <= m; ++e)
    if (net.flow[e] > net.lower[e]) ++w.back_count[net.head[e]];
  std::vector<int> filled(n + 1, 0);
  for (int pos = 0; pos < m; ++pos) {
    const int e = w.in_arc[pos];
    const int v = net.head[e];
    if (net.flow[e] > net.lower[e]) back_list(w, v)[filled[v]++] = back_entry(net, e);
  }
  return true;
}

// Brings the working lists up to date after the flow of arc e changed from old.
void flow_changed(const Network& net, KilterWork& w, int e, int old) {
  const int f = net.flow[e];
  w.out[w.arc_out_pos[e]].head = f < net.upper[e] ? net.head[e] : 0;
  w.below_lower[net.tail[e]] += (f < net.lower[e]) - (old < net.lower[e]);
  const bool was_back = old > net.lower[e];
  const bool is_back = f > net.lower[e];
  const int h = net.head[e];
  int& count = w.back_count[h];
  if (was_back && is_back) {
    BackEntry* list = back_list(w, h);
    int i = 0;
    while (list[i].arc != e) ++i;
    list[i].above_upper = f > net.upper[e];
  } else if (is_back) {
    // The list moves out of the node's near slots when it outgrows them.
    if (count == BACK_NEAR) std::copy_n(back_list(w, h), count, &w.back[w.in_begin[h]]);
    int i = count++;
    BackEntry* list = back_list(w, h);
    const int p = w.arc_in_pos[e];
    while (i > 0 && w.arc_in_pos[list[i - 1].arc] > p) {
      list[i] = list[i - 1];
      --i;
    }
    list[i] = back_entry(net, e);
  } else if (was_back) {
    BackEntry* list = back_list(w, h);
    int i = 0;
    while (list[i].arc != e) ++i;
    for (; i + 1 < count; ++i) list[i] = list[i + 1];
    --count;
    if (count == BACK_NEAR) std::copy_n(&w.back[w.in_begin[h]], count, back_list(w, h));
  }
}

// --- heap of unreached nodes by key, 1-based

void heap_up(KilterWork& w, int i) {
  const HeapItem item = w.heap[i];
  while (i > 1) {
    const HeapItem parent = w.heap[i / 2];
    if (parent.key <= item.key) break;
    w.heap[i] = parent;
    w.heap_pos[parent.node] = i;
    i /= 2;
  }
  w.heap[i] = item;
  w.heap_pos[item.node] = i;
}

void heap_pop(KilterWork& w) {
  w.heap_pos[w.heap[1].node] = 0;
  const HeapItem last = w.heap[w.heap_size--];
  if (w.heap_size == 0) return;
  int i = 1;
  for (;;) {
    int c = 2 * i;
    if (c > w.heap_size) break;
    if (c + 1 <= w.heap_size && w.heap[c + 1].key < w.heap[c].key) ++c;
    if (w.heap[c].key >= last.key) break;
    w.heap[i] = w.heap[c];
    w.heap_pos[w.heap[i].node] = i;
    i = c;
  }
  w.heap[i] = last;
  w.heap_pos[last.node] = i;
}

// Node v gets the key k; s is k plus v's price, the bound the reading of the
// lists tests against.
inline void lower_key(KilterWork& w, int v, int k, int s) {
  w.bound[v] = s;
  int i = w.heap_pos[v];
  if (i == 0) i = ++w.heap_size;
  w.heap[i] = HeapItem{k, v};
  heap_up(w, i);
}

// One out-of-kilter arc and the set its searches have reached so far.
struct Phase {
  bool active = false;
  int arc = 0;
  bool rise = false;
  int start = 0;
  int target = 0;
  int total = 0;            // price change since the phase began
  bool arc_bounds = false;  // the arc itself limits the price change
  int arc_key = 0;
  bool reached_target = false;
};

inline bool is_reached(const KilterWork& w, int v) { return w.bound[v] == REACHED; }

inline int lazy_price(const KilterState& ks, const Phase& ph, int v) {
  return ks.price[v] - (is_reached(ks.work, v) ? ph.total : 0);
}

inline void join(KilterState& ks, Phase& ph, int v) {
  KilterWork& w = ks.work;
  w.bound[v] = REACHED;
  ks.price[v] += ph.total;
  w.members.push_back(v);
  if (v == ph.target) ph.reached_target = true;
}

// What the reading of one node's lists needs besides the loop itself.
struct ListReader {
  const Network& net;
  KilterState& ks;
  Phase& ph;
  int v;
  int skip;
};

// The arcs that do something: the far node joins, or its key falls. True
// when the target has been labeled.
template <bool LABELS, bool SKIP, bool BELOW>
[[gnu::noinline]] bool take_out_arc(ListReader& r, const OutEntry* entry) {
  KilterWork& w = r.ks.work;
  const int pos = static_cast<int>(entry - w.out.data());
  const int h = entry->head;
  const int s = entry->cost + r.ks.price[r.v];
  const int e = w.out_arc[pos];
  if (s >= w.bound[h]) {
    if (!BELOW || w.bound[h] == REACHED || r.net.flow[e] >= r.net.lower[e]) return false;
  } else if (s - r.ks.price[h] > r.ph.total && (!BELOW || r.net.flow[e] >= r.net.lower[e])) {
    lower_key(w, h, s - r.ks.price[h], s);
    return false;
  }
  if (SKIP && e == r.skip) return false;
  join(r.ks, r.ph, h);
  if (!LABELS) return false;
  r.ks.label[h] = r.v;
  r.ks.pred_arc[h] = e;
  return r.ph.reached_target;
}

// The arcs into v that carry flow, gone back over.
template <bool LABELS, bool SKIP>
bool read_back_list(KilterState& ks, Phase& ph, int v, int skip) {
  KilterWork& w = ks.work;
  const int pv = ks.price[v];
  const BackEntry* list = back_list(w, v);
  const int count = w.back_count[v];
  for (int i = 0; i < count; ++i) {
    const int e = list[i].arc;
    if (SKIP && e == skip) continue;
    const int t = list[i].tail;
    if (w.bound[t] == REACHED) continue;
    const int s = pv - list[i].cost;
    const int k = s - ks.price[t];
    if (k <= ph.total || list[i].above_upper) {
      join(ks, ph, t);
      if (LABELS) {
        ks.label[t] = -v;
        ks.pred_arc[t] = -e;
        if (ph.reached_target) return true;
      }
    } else if (s < w.bound[t]) {
      lower_key(w, t, k, s);
    }
  }
  return false;
}

// Reads the lists of reached node v: arcs usable at the current total bring
// their far node into the set, the others may lower the far node's key. An
// unreached node's bound is its key plus its price, so that one comparison
// per arc (cost plus v's price against the head's bound) passes over every
// arc that neither reaches nor improves anything, and a reached node's bound
// passes over all arcs to it. With labels set, the far nodes get the labels
// of the breadth-first search and the reading stops at the target. skip is
// the out-of-kilter arc, which never labels.
template <bool LABELS, bool SKIP, bool BELOW>
void expand(const Network& net, KilterState& ks, Phase& ph, int v, int skip) {
  ListReader reader{net, ks, ph, v, skip};
  const int pv = ks.price[v];
  const int* const bound = ks.work.bound.data();
  const OutEntry* p = ks.work.out.data() + ks.work.out_begin[v];
  const OutEntry* const end = ks.work.out.data() + ks.work.out_begin[v + 1];
  for (;; ++p) {
    if (!BELOW)
      while (p < end && p->cost + pv >= bound[p->head]) ++p;
    if (p >= end) break;
    if (take_out_arc<LABELS, SKIP, BELOW>(reader, p)) return;
  }
  read_back_list<LABELS, SKIP>(ks, ph, v, skip);
}

// Reads the lists of the members from position next on, up to the last one
// to join, first in first out as the labeling does.
template <bool LABELS>
void close_set(const Network& net, KilterState& ks, Phase& ph, size_t& next) {
  KilterWork& w = ks.work;
  while (next < w.members.size() && !ph.reached_target) {
    const int v = w.members[next++];
    const bool below = w.below_lower[v] != 0;
    if (v == ph.start) {
      if (below)
        expand<LABELS, true, true>(net, ks, ph, v, ph.arc);
      else
        expand<LABELS, true, false>(net, ks, ph, v, ph.arc);
    } else if (below) {
      expand<LABELS, false, true>(net, ks, ph, v, 0);
    } else {
      expand<LABELS, false, false>(net, ks, ph, v, 0);
    }
  }
}

// The price changes of the phase as the plain method makes them: every node
// outside the set is raised by the phase total (the reached nodes carry their
// share already).
void settle_prices(KilterState& ks, Phase& ph, int num_nodes) {
  if (ph.total == 0) return;
  for (int v = 1; v <= num_nodes; ++v)
    if (!is_reached(ks.work, v)) ks.price[v] += ph.total;
  ph.total = 0;
}

// Prices settled, set and keys cleared.
void end_phase(KilterState& ks, Phase& ph, int num_nodes) {
  KilterWork& w = ks.work;
  settle_prices(ks, ph, num_nodes);
  for (int v : w.members) {
    w.bound[v] = NO_BOUND;
    w.heap_pos[v] = 0;
  }
  for (int i = 1; i <= w.heap_size; ++i) {
    w.bound[w.heap[i].node] = NO_BOUND;
    w.heap_pos[w.heap[i].node] = 0;
  }
  w.heap_size = 0;
  w.members.clear();
  ph = Phase{};
}

// The labels of the breadth-first search from the phase's start over the
// arcs usable at the true prices, up to the target. A node's limit is its
// price until it is labeled, then below every sum, so that one comparison
// per out-arc decides.
bool lay_out_labels(const Network& net, KilterState& ks, const Phase& ph) {
  KilterWork& w = ks.work;
  int* limit = w.limit.data();
  std::copy(ks.price.begin(), ks.price.begin() + (net.num_nodes + 1), w.limit.begin());
  limit[0] = REACHED;
  const int a = ph.arc;
  const int sign = ph.rise ? 1 : -1;
  ks.label[ph.start] = ph.target * sign;
  ks.pred_arc[ph.start] = a * sign;
  limit[ph.start] = REACHED;
  ks.queue_in = ks.queue_out = 0;
  ks.queue[++ks.queue_in] = ph.start;
  const int* price = ks.price.data();
  const OutEntry* out = w.out.data();
  while (ks.queue_out < ks.queue_in) {
    const int v = ks.queue[++ks.queue_out];
    const int pv = price[v];
    const bool below = w.below_lower[v] != 0;
    const int end = w.out_begin[v + 1];
    for (int pos = w.out_begin[v];; ++pos) {
      if (!below)
        while (pos < end && out[pos].cost + pv > limit[out[pos].head]) ++pos;
      if (pos >= end) break;
      const int h = out[pos].head;
      if (out[pos].cost + pv > limit[h]) {
        if (!below || limit[h] == REACHED || net.flow[w.out_arc[pos]] >= net.lower[w.out_arc[pos]]) continue;
      }
      if (limit[h] == REACHED) continue;
      const int e = w.out_arc[pos];
      if (e == a) continue;
      limit[h] = REACHED;
      ks.label[h] = v;
      ks.pred_arc[h] = e;
      if (h == ph.target) return true;
      ks.queue[++ks.queue_in] = h;
    }
    const BackEntry* list = back_list(w, v);
    const int count = w.back_count[v];
    for (int i = 0; i < count; ++i) {
      const int e = list[i].arc;
      if (e == a) continue;
      const int t = list[i].tail;
      if (limit[t] == REACHED) continue;
      if (list[i].cost + price[t] - pv >= 0 || list[i].above_upper) {
        limit[t] = REACHED;
        ks.label[t] = -v;
        ks.pred_arc[t] = -e;
        if (t == ph.target) return true;
        ks.queue[++ks.queue_in] = t;
      }
    }
  }
  return false;
}

// change_flow, keeping the working lists in step with the flows.
bool push_flow(Network& net, KilterState& ks) {
  const int delta = cycle_room(net, ks);
  if (delta <= 0 || delta >= INFINITE_DELTA) return false;
  int v = ks.search_start;
  do {
    int e = abs_of(ks.pred_arc[v]);
    int old = net.flow[e];
    net.flow[e] = ks.pred_arc[v] > 0 ? old + delta : old - delta;
    flow_changed(net, ks.work, e, old);
    v = abs_of(ks.label[v]);
  } while (v != ks.search_start);
  return true;
}

// Out-of-kilter test of one arc; 0 in kilter, +1 must rise, -1 must fall.
inline int kilter_direction(const Network& net, int e, int rc) {
  const int f = net.flow[e];
  if (f < net.lower[e] || (rc < 0 && f < net.upper[e])) return 1;
  if (f > net.upper[e] || (rc > 0 && f > net.lower[e])) return -1;
  return 0;
}

// The price change of a search that did not reach its target.
void raise_prices(Network& net, KilterState& ks, Phase& ph) {
  KilterWork& w = ks.work;
  while (w.heap_size > 0 && is_reached(w, w.heap[1].node)) heap_pop(w);
  int delta = INT_MAX;
  bool bounded = w.heap_size > 0 || ph.arc_bounds;
  if (w.heap_size > 0) delta = std::min(delta, w.heap[1].key - ph.total);
  if (ph.arc_bounds) delta = std::min(delta, ph.arc_key - ph.total);
  const int a = ph.arc;
  if (!bounded && (net.flow[a] == net.upper[a] || net.flow[a] == net.lower[a])) {
    bounded = true;
    delta = abs_of(net.cost[a] + lazy_price(ks, ph, net.tail[a]) - lazy_price(ks, ph, net.head[a]));
  }
  if (!bounded) {
    net.feasible = false;
    return;
  }
  ph.total += delta;
}

// One iteration the plain way, with the working lists brought up to date
// afterwards; for the cases a grown set does not cover.
void plain_iteration(Network& net, KilterState& ks, int a, bool rise) {
  label_and_repair(net, ks, a, rise);
  build_work(net, ks.work);
}

// A search of the phase has reached its target: true labels, then the flow
// change. A flow change that cannot be made falls back on the plain
// iteration, which goes on to a price change.
void break_through(Network& net, KilterState& ks, Phase& ph, bool labels_laid_out) {
  const int a = ph.arc;
  const bool rise = ph.rise;
  if (!labels_laid_out) {
    settle_prices(ks, ph, net.num_nodes);
    lay_out_labels(net, ks, ph);
  }
  ks.search_start = ph.start;
  ks.search_target = ph.target;
  ks.search_sign = rise ? 1 : -1;
  const bool pushed = push_flow(net, ks);
  end_phase(ks, ph, net.num_nodes);
  if (!pushed) plain_iteration(net, ks, a, rise);
}

// The first search for arc a: breadth-first, with the true labels.
void begin_phase(Network& net, KilterState& ks, Phase& ph, int a, bool rise) {
  ph = Phase{};
  ph.active = true;
  ph.arc = a;
  ph.rise = rise;
  ph.start = rise ? net.head[a] : net.tail[a];
  ph.target = rise ? net.tail[a] : net.head[a];
  // While the set holds the start and not the target, the arc's own reduced
  // cost reaches 0 at a fixed total.
  if (rise) {
    ph.arc_bounds = net.flow[a] > net.lower[a];
    ph.arc_key = ks.price[ph.start] - net.cost[a] - ks.price[ph.target];
  } else {
    ph.arc_bounds = net.flow[a] < net.upper[a];
    ph.arc_key = net.cost[a] + ks.price[ph.start] - ks.price[ph.target];
  }
  const int sign = rise ? 1 : -1;
  ks.label[ph.start] = ph.target * sign;
  ks.pred_arc[ph.start] = a * sign;
  join(ks, ph, ph.start);
  size_t next = 0;
  close_set<true>(net, ks, ph, next);
  if (ph.reached_target) {
    break_through(net, ks, ph, true);
    return;
  }
  raise_prices(net, ks, ph);
}

// The next search for the phase's arc: the nodes whose key the last price
// change has reached join, and the set is closed again.
void continue_phase(Network& net, KilterState& ks, Phase& ph) {
  KilterWork& w = ks.work;
  size_t next = w.members.size();
  while (w.heap_size > 0 && !ph.reached_target) {
    const int v = w.heap[1].node;
    if (is_reached(w, v)) {
      heap_pop(w);
      continue;
    }
    if (w.heap[1].key > ph.total) break;
    heap_pop(w);
    join(ks, ph, v);
  }
  close_set<false>(net, ks, ph, next);
  if (ph.reached_target) {
    break_through(net, ks, ph, false);
    return;
  }
  raise_prices(net, ks, ph);
}

void plain_solve(Network& net, KilterState& ks) {
  do {
    ks.solve_iterations += 1;
    bool rise = false;
    int a = find_out_of_kilter_arc(net, ks, rise);
    if (a == 0) break;
    label_and_repair(net, ks, a, rise);
  } while (net.feasible);
}

void fast_solve(Network& net, KilterState& ks) {
  Phase ph;
  do {
    ks.solve_iterations += 1;
    if (ph.active) {
      const int a = ph.arc;
      const int rc = net.cost[a] + lazy_price(ks, ph, net.tail[a]) - lazy_price(ks, ph, net.head[a]);
      if (kilter_direction(net, a, rc) == (ph.rise ? 1 : -1)) {
        continue_phase(net, ks, ph);
        continue;
      }
      end_phase(ks, ph, net.num_nodes);
    }
    bool rise = false;
    int a = find_out_of_kilter_arc(net, ks, rise);
    if (a == 0) break;
    if (net.tail[a] == net.head[a])
      plain_iteration(net, ks, a, rise);
    else
      begin_phase(net, ks, ph, a, rise);
  } while (net.feasible);
  if (ph.active) end_phase(ks, ph, net.num_nodes);
}

}  // namespace

void solve_circulation(Network& net, KilterState& ks, RunCounters& counters, FILE* iteration_file) {
  ks.solve_iterations = 0;
  ks.scan_arc = 1;
  std::time_t t0 = std::time(nullptr);
  if (build_work(net, ks.work))
    fast_solve(net, ks);
  else
    plain_solve(net, ks);
  counters.total_iterations += ks.solve_iterations;
  int secs = static_cast<int>(std::difftime(std::time(nullptr), t0));
  counters.calc_seconds += secs;
  if (iteration_file)
    std::fprintf(iteration_file, "\t%02d:%02d:%02d", secs / 3600, (secs % 3600) / 60, secs % 60);
}
