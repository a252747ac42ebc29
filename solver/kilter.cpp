// The fast solve; its theory and invariants open kilter.h.
#include "solver/kilter.h"

#include <algorithm>
#include <bit>
#include <climits>
#include <ctime>

#include "solver/kilter_steps.h"
#include "solver/kilter_tables.h"

namespace solver {

namespace {

int abs_of(int x) { return x < 0 ? -x : x; }

// The queue of keyed nodes (the opening block of kilter.h).

inline void queue_push(KilterWork& w, int item, int b) {
  w.queue_items[item].next = w.queue_first[b];
  if (w.queue_first[b] == 0) w.queue_used[b >> 6] |= uint64_t{1} << (b & 63);
  w.queue_first[b] = item + 1;
  if (b < w.queue_low) w.queue_low = b;
}

// Whether the item still holds its node's key.
inline bool queue_current(const KilterWork& w, const QueueItem& item) {
  return w.bound[item.node] != REACHED && w.queue_key[item.node] == item.key;
}

// The bucket of a key, which is never below queue_base.
inline int bucket_of(const KilterWork& w, int key) {
  const unsigned offset = static_cast<unsigned>(key - w.queue_base);
  return offset < QUEUE_BUCKETS ? static_cast<int>(offset) : QUEUE_BUCKETS;
}

// The first bucket from b on that is not empty; -1 when there is none.
inline int used_bucket_from(const KilterWork& w, int b) {
  constexpr int words = (QUEUE_BUCKETS + 1 + 63) / 64;
  int word = b >> 6;
  uint64_t bits = w.queue_used[word] & (~uint64_t{0} << (b & 63));
  while (bits == 0) {
    if (++word == words) return -1;
    bits = w.queue_used[word];
  }
  return word * 64 + std::countr_zero(bits);
}

// The buckets start anew at key total, taking from the last bucket the keys
// that fall into them and dropping the items no longer current.
void rebase_queue(KilterWork& w, int total) {
  w.queue_base = total;
  w.queue_low = QUEUE_BUCKETS;
  int item = w.queue_first[QUEUE_BUCKETS] - 1;
  w.queue_first[QUEUE_BUCKETS] = 0;
  w.queue_used[QUEUE_BUCKETS >> 6] &= ~(uint64_t{1} << (QUEUE_BUCKETS & 63));
  while (item >= 0) {
    const int next = w.queue_items[item].next - 1;
    if (queue_current(w, w.queue_items[item])) queue_push(w, item, bucket_of(w, w.queue_items[item].key));
    item = next;
  }
}

// A node of the least key in the queue (phase total so far: total), 0 when
// the queue is empty. Items no longer current are dropped on the way.
int queue_top(KilterWork& w, int total) {
  bool rebased = false;
  for (;;) {
    const int b = used_bucket_from(w, w.queue_low);
    if (b < 0) return 0;
    w.queue_low = b;
    if (b == QUEUE_BUCKETS) {
      if (rebased) break;
      rebase_queue(w, total);
      rebased = true;
      continue;
    }
    int& first = w.queue_first[b];
    while (first != 0 && !queue_current(w, w.queue_items[first - 1])) first = w.queue_items[first - 1].next;
    if (first != 0) return w.queue_items[first - 1].node;
    w.queue_used[b >> 6] &= ~(uint64_t{1} << (b & 63));
  }
  // Every key lies more than the buckets' span above the total (and every
  // item of the last bucket is current, just rebased).
  int top = 0;
  for (int item = w.queue_first[QUEUE_BUCKETS]; item != 0; item = w.queue_items[item - 1].next) {
    const int v = w.queue_items[item - 1].node;
    if (top == 0 || w.queue_key[v] < w.queue_key[top]) top = v;
  }
  return top;
}

// Node v gets the lower key k; s = k + price[v] is its new bound. The item of
// its old key stays behind, no longer current.
inline void lower_key(KilterWork& w, int v, int k, int s) {
  w.bound[v] = s;
  if (w.queue_key[v] == 0) w.keyed.push_back(v);
  w.queue_key[v] = k;
  const int item = static_cast<int>(w.queue_items.size());
  w.queue_items.push_back(QueueItem{v, k, 0});
  queue_push(w, item, bucket_of(w, k));
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

// The node's true price less the phase total.
inline int lazy_price(const KilterState& ks, const Phase& ph, int v) {
  return ks.price[v] - (is_reached(ks.work, v) ? ph.total : 0);
}

// Node v joins the reached set, taking the phase total into its price.
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

// An out-arc that passed the bound test: its far node joins, or its key
// falls. s is the arc's cost plus its tail's price, as the test took it. True
// when the target has been labeled.
template <bool LABELS, bool SKIP, bool BELOW>
[[gnu::always_inline]] inline bool take_out_arc(ListReader& r, const OutEntry* entry, int s) {
  KilterWork& w = r.ks.work;
  const int pos = static_cast<int>(entry - w.out.data()) - (r.v - 1);
  const int h = entry->head;
  const int e = w.out_arc[pos];
  // Without arcs below their lower bound, the loop has passed over every arc
  // that does not improve its head's bound.
  if (BELOW && s >= w.bound[h]) {
    if (w.bound[h] == REACHED || r.net.flow[e] >= r.net.lower[e]) return false;
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

// The back list of reached node v: tails join or their keys fall. True when
// the target has been labeled.
template <bool LABELS, bool SKIP>
[[gnu::always_inline]] inline bool read_back_list(KilterState& ks, Phase& ph, int v, int skip) {
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
// their far node into the set, the others may lower its key. With LABELS the
// far nodes get the breadth-first labels and the reading stops at the target.
// skip is the out-of-kilter arc, which never joins a node.
template <bool LABELS, bool SKIP, bool BELOW>
void expand(const Network& net, KilterState& ks, Phase& ph, int v, int skip) {
  ListReader reader{net, ks, ph, v, skip};
  const int pv = ks.price[v];
  const int* const bound = ks.work.bound.data();
  const OutEntry* p = ks.work.out.data() + out_index(v, ks.work.out_begin[v]);
  const OutEntry* const end = ks.work.out.data() + out_index(v, ks.work.out_begin[v + 1]);
  for (;; ++p) {
    // The list's sentinel stops this loop.
    if (!BELOW)
      while (p->cost + pv >= bound[p->head]) ++p;
    if (p >= end) break;
    if (take_out_arc<LABELS, SKIP, BELOW>(reader, p, p->cost + pv)) return;
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

// Every node's stored price into its true price.
void fold_price_offset(KilterState& ks, int num_nodes) {
  for (int v = 1; v <= num_nodes; ++v) ks.price[v] += ks.work.price_offset;
  ks.work.price_offset = 0;
}

// Prices settled as the plain method leaves them, set and keys cleared. Every
// node outside the set rises by the phase total, each member by its share of
// it. The raise of every node by the total goes into the common offset, and
// the members, which took their share on joining, give the total back: the
// members are visited, not every node.
void end_phase(KilterState& ks, Phase& ph, int num_nodes) {
  KilterWork& w = ks.work;
  const int total = ph.total;
  for (int v : w.members) ks.price[v] -= total;
  w.price_offset += total;
  if (w.price_offset > PRICE_OFFSET_FOLD) fold_price_offset(ks, num_nodes);
  // A phase that touched more than a few nodes clears the whole tables
  // faster, in one sequential sweep, than node by node.
  if ((w.members.size() + w.keyed.size()) * 8 > static_cast<size_t>(num_nodes)) {
    std::fill(w.bound.begin() + 1, w.bound.begin() + (num_nodes + 1), NO_BOUND);
    std::fill(w.queue_key.begin() + 1, w.queue_key.begin() + (num_nodes + 1), 0);
  } else {
    for (int v : w.members) w.bound[v] = NO_BOUND;
    for (int v : w.keyed) {
      w.bound[v] = NO_BOUND;
      w.queue_key[v] = 0;
    }
  }
  for (int b = used_bucket_from(w, 0); b >= 0; b = used_bucket_from(w, b + 1)) w.queue_first[b] = 0;
  std::fill(w.queue_used.begin(), w.queue_used.end(), 0);
  w.queue_items.clear();
  w.queue_base = w.queue_low = 0;
  w.keyed.clear();
  w.members.clear();
  ph = Phase{};
}

// The labels of the breadth-first search from the phase's start over the
// arcs usable at the true (settled) prices, up to the target; true when the
// target was labeled. A node's limit is its price until it is labeled, then
// REACHED, so that one comparison per out-arc decides.
bool lay_out_labels(const Network& net, KilterState& ks, const Phase& ph) {
  KilterWork& w = ks.work;
  int* limit = w.limit.data();
  std::copy(ks.price.begin(), ks.price.begin() + (net.num_nodes + 1), w.limit.begin());
  limit[0] = REACHED;
  limit[net.num_nodes + 1] = NO_BOUND;
  const int a = ph.arc;
  const int sign = ph.rise ? 1 : -1;
  ks.label[ph.start] = ph.target * sign;
  ks.pred_arc[ph.start] = a * sign;
  limit[ph.start] = REACHED;
  ks.queue_in = ks.queue_out = 0;
  ks.queue[++ks.queue_in] = ph.start;
  const int* price = ks.price.data();
  while (ks.queue_out < ks.queue_in) {
    const int v = ks.queue[++ks.queue_out];
    const int pv = price[v];
    const bool below = w.below_lower[v] != 0;
    const int end = w.out_begin[v + 1];
    const OutEntry* const out = w.out.data() + out_index(v, 0);
    for (int pos = w.out_begin[v];; ++pos) {
      // The list's sentinel stops this loop.
      if (!below)
        while (out[pos].cost + pv > limit[out[pos].head]) ++pos;
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

// change_flow around the labels' cycle from start, keeping the working tables
// in step with the flows.
bool push_flow(Network& net, KilterState& ks, int start) {
  const int delta = cycle_room(net, ks, start);
  if (delta <= 0 || delta >= INFINITE_DELTA) return false;
  int v = start;
  do {
    int e = abs_of(ks.pred_arc[v]);
    int old = net.flow[e];
    net.flow[e] = ks.pred_arc[v] > 0 ? old + delta : old - delta;
    flow_changed(net, ks.work, e, old);
    v = abs_of(ks.label[v]);
  } while (v != start);
  return true;
}

// The price change of a search that did not reach its target: the phase
// total grows; clears net.feasible when nothing bounds it.
void raise_prices(Network& net, KilterState& ks, Phase& ph) {
  KilterWork& w = ks.work;
  const int top = queue_top(w, ph.total);
  int delta = INT_MAX;
  bool bounded = top != 0 || ph.arc_bounds;
  if (top != 0) delta = std::min(delta, w.queue_key[top] - ph.total);
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

// One iteration the plain way, with the working tables rebuilt afterwards;
// for the cases a grown set does not cover.
void plain_iteration(Network& net, KilterState& ks, int a, bool rise) {
  label_and_repair(net, ks, a, rise);
  build_work(net, ks.work);
}

// A search of the phase has reached its target: true labels, then the flow
// change. A flow change that cannot be made falls back on the plain
// iteration, which goes on to a price change; so does a layout that misses
// the target, which the grown set rules out (counted for check_invariants).
void break_through(Network& net, KilterState& ks, Phase& ph, bool labels_laid_out) {
  const Phase done = ph;
  // The labels are laid out on the settled prices.
  end_phase(ks, ph, net.num_nodes);
  bool labeled = true;
  if (!labels_laid_out) {
    labeled = lay_out_labels(net, ks, done);
    if (!labeled) ks.work.labels_missed += 1;
  }
  const bool pushed = labeled && push_flow(net, ks, done.start);
  if (!pushed) plain_iteration(net, ks, done.arc, done.rise);
}

// The first search for arc a: breadth-first, with the true labels; ends in a
// flow change or the phase's first price change.
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

// The next search for the phase's arc: the nodes whose key the phase total
// has reached join, and the set is closed again.
void continue_phase(Network& net, KilterState& ks, Phase& ph) {
  KilterWork& w = ks.work;
  size_t next = w.members.size();
  while (!ph.reached_target) {
    const int v = queue_top(w, ph.total);
    if (v == 0 || w.queue_key[v] > ph.total) break;
    join(ks, ph, v);
  }
  close_set<false>(net, ks, ph, next);
  if (ph.reached_target) {
    break_through(net, ks, ph, false);
    return;
  }
  raise_prices(net, ks, ph);
}

// The iterations of one solve, phase by phase.
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
  fold_price_offset(ks, net.num_nodes);
}

}  // namespace

SolveStatus solve_circulation(Network& net, KilterState& ks, RunCounters& counters, FILE* iteration_file) {
  ks.solve_iterations = 0;
  ks.scan_arc = 1;
  const std::time_t t0 = std::time(nullptr);
  KilterWork& w = ks.work;
  const bool keep = work_made_for(w, net) && w.vouched_arcs == net.num_arcs && w.num_arcs <= net.num_arcs;
  w.vouched_arcs = -1;
  if ((keep && append_to_work(net, w)) || build_work(net, w))
    fast_solve(net, ks);
  else
    iterate_steps(net, ks);
  record_solve(ks, counters, t0, iteration_file);
  return solve_status(net);
}

}  // namespace solver
