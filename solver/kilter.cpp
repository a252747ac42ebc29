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

bool change_flow(Network& net, KilterState& ks) {
  int delta = INFINITE_DELTA;
  int v = ks.search_start;
  do {
    int p = abs_of(ks.label[v]);
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
    v = p;
  } while (v != ks.search_start);

  if (delta <= 0 || delta >= INFINITE_DELTA) return false;
  v = ks.search_start;
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
  int delta = INFINITE_DELTA;
  for (int q = 1; q <= ks.queue_in; ++q) {
    int n = ks.queue[q];
    for (int e = net.first_out[n]; e != 0; e = net.next_out[e])
      if (ks.label[net.head[e]] == 0 && net.flow[e] < net.upper[e]) delta = std::min(delta, reduced_cost(net, ks, e));
    for (int e = net.first_in[n]; e != 0; e = net.next_in[e])
      if (ks.label[net.tail[e]] == 0 && net.flow[e] > net.lower[e])
        delta = std::min(delta, -reduced_cost(net, ks, e));
  }
  if (delta == INFINITE_DELTA && (net.flow[a] == net.upper[a] || net.flow[a] == net.lower[a]))
    delta = abs_of(reduced_cost(net, ks, a));
  if (delta == INFINITE_DELTA) {
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
// reaches: the price change takes the smallest reduced cost among the usable
// arcs that cross the border of that set. The searches that follow for the
// same arc therefore reach that set again, plus whatever the newly usable
// arcs add, so the set is grown instead of being searched anew, with the
// crossing arcs in a heap keyed by the total price change at which they
// become usable. Raising the prices of the unreached nodes by delta is done
// as a shift of all prices (raise_all) and a lowering of the reached nodes,
// which is kept lazy: a reached node's stored price carries the phase total
// at the time it joined. Only a search that reaches its target needs the
// labels of the breadth-first order, and then they are laid out once.

namespace {

constexpr int NO_KEY = INT_MAX;

bool build_work(const Network& net, KilterWork& w) {
  const int n = net.num_nodes;
  const int m = net.num_arcs;
  w.num_nodes = n;
  w.num_arcs = m;
  w.out_begin.assign(n + 2, 0);
  w.in_begin.assign(n + 2, 0);
  w.out.resize(m + 1);
  w.out_arc.resize(m + 1);
  w.arc_out_pos.assign(m + 1, -1);
  w.arc_in_pos.assign(m + 1, -1);
  w.back.resize(m + 1);
  w.back_count.assign(n + 1, 0);
  w.below_lower.assign(n + 1, 0);
  w.reached.assign(n + 1, 0);
  w.reached[0] = 1;
  w.members.clear();
  w.members.reserve(n + 1);
  w.frontier.clear();
  w.frontier.reserve(n + 1);
  w.key.assign(n + 1, NO_KEY);
  w.heap.assign(n + 1, 0);
  w.heap_pos.assign(n + 1, 0);
  w.heap_size = 0;
  w.visit.assign(n + 1, 0);
  w.visit_stamp = 0;

  for (int e = 1; e <= m; ++e) {
    if (net.lower[e] > net.upper[e]) return false;
    if (net.tail[e] < 1 || net.tail[e] > n || net.head[e] < 1 || net.head[e] > n) return false;
  }
  int pos = 0;
  for (int v = 1; v <= n; ++v) {
    w.out_begin[v] = pos;
    for (int e = net.first_out[v]; e != 0; e = net.next_out[e]) {
      if (e < 1 || e > m || net.tail[e] != v || w.arc_out_pos[e] >= 0) return false;
      w.arc_out_pos[e] = pos;
      w.out_arc[pos] = e;
      w.out[pos] = OutEntry{net.flow[e] < net.upper[e] ? net.head[e] : 0, net.cost[e]};
      if (net.flow[e] < net.lower[e]) w.below_lower[v] += 1;
      ++pos;
    }
  }
  w.out_begin[n + 1] = pos;
  if (pos != m) return false;
  pos = 0;
  for (int v = 1; v <= n; ++v) {
    w.in_begin[v] = pos;
    for (int e = net.first_in[v]; e != 0; e = net.next_in[e]) {
      if (e < 1 || e > m || net.head[e] != v || w.arc_in_pos[e] >= 0) return false;
      w.arc_in_pos[e] = pos;
      if (net.flow[e] > net.lower[e]) w.back[w.in_begin[v] + w.back_count[v]++] = e;
      ++pos;
    }
  }
  w.in_begin[n + 1] = pos;
  return pos == m;
}

// Brings the working lists up to date after the flow of arc e changed from old.
void flow_changed(const Network& net, KilterWork& w, int e, int old) {
  const int f = net.flow[e];
  w.out[w.arc_out_pos[e]].head = f < net.upper[e] ? net.head[e] : 0;
  w.below_lower[net.tail[e]] += (f < net.lower[e]) - (old < net.lower[e]);
  const bool was_back = old > net.lower[e];
  const bool is_back = f > net.lower[e];
  if (was_back == is_back) return;
  const int h = net.head[e];
  int* list = w.back.data() + w.in_begin[h];
  int& count = w.back_count[h];
  if (is_back) {
    int i = count++;
    const int p = w.arc_in_pos[e];
    while (i > 0 && w.arc_in_pos[list[i - 1]] > p) {
      list[i] = list[i - 1];
      --i;
    }
    list[i] = e;
  } else {
    int i = 0;
    while (list[i] != e) ++i;
    for (; i + 1 < count; ++i) list[i] = list[i + 1];
    --count;
  }
}

// --- heap of unreached nodes by key

void heap_up(KilterWork& w, int i) {
  const int v = w.heap[i];
  const int k = w.key[v];
  while (i > 1) {
    const int parent = w.heap[i / 2];
    if (w.key[parent] <= k) break;
    w.heap[i] = parent;
    w.heap_pos[parent] = i;
    i /= 2;
  }
  w.heap[i] = v;
  w.heap_pos[v] = i;
}

void heap_pop(KilterWork& w) {
  const int top = w.heap[1];
  w.heap_pos[top] = 0;
  const int last = w.heap[w.heap_size--];
  if (w.heap_size == 0) return;
  const int k = w.key[last];
  int i = 1;
  for (;;) {
    int c = 2 * i;
    if (c > w.heap_size) break;
    if (c + 1 <= w.heap_size && w.key[w.heap[c + 1]] < w.key[w.heap[c]]) ++c;
    if (w.key[w.heap[c]] >= k) break;
    w.heap[i] = w.heap[c];
    w.heap_pos[w.heap[i]] = i;
    i = c;
  }
  w.heap[i] = last;
  w.heap_pos[last] = i;
}

inline void lower_key(KilterWork& w, int v, int k) {
  w.key[v] = k;
  if (w.heap_pos[v] == 0) {
    w.heap[++w.heap_size] = v;
    heap_up(w, w.heap_size);
  } else {
    heap_up(w, w.heap_pos[v]);
  }
}

// One out-of-kilter arc and the set its searches have reached so far.
struct Phase {
  bool active = false;
  int arc = 0;
  bool rise = false;
  int start = 0;
  int target = 0;
  int total = 0;  // price change since the phase began
  bool arc_bounds = false;  // the arc itself limits the price change
  int arc_key = 0;
  bool reached_target = false;
};

inline int lazy_price(const KilterState& ks, const Phase& ph, int v) {
  return ks.price[v] - (ks.work.reached[v] ? ph.total : 0);
}

inline void join(KilterState& ks, Phase& ph, int v) {
  KilterWork& w = ks.work;
  w.reached[v] = 1;
  ks.price[v] += ph.total;
  w.members.push_back(v);
  w.frontier.push_back(v);
  if (v == ph.target) ph.reached_target = true;
}

// Reads the lists of reached node v: arcs usable at the current total bring
// their far node into the set, the others keep the key at which they become
// usable. With labels set, the far nodes get the labels of the breadth-first
// search and the reading stops at the target. skip is the out-of-kilter arc,
// which never labels.
template <bool LABELS, bool SKIP>
void expand(const Network& net, KilterState& ks, Phase& ph, int v, int skip) {
  KilterWork& w = ks.work;
  const int total = ph.total;
  const int pv = ks.price[v];
  const int* price = ks.price.data();
  const uint8_t* reached = w.reached.data();
  const int end = w.out_begin[v + 1];
  const bool below = w.below_lower[v] != 0;
  for (int pos = w.out_begin[v]; pos < end; ++pos) {
    const int h = w.out[pos].head;
    if (reached[h]) continue;
    const int k = w.out[pos].cost + pv - price[h];
    if (k <= total || (below && net.flow[w.out_arc[pos]] < net.lower[w.out_arc[pos]])) {
      const int e = w.out_arc[pos];
      if (SKIP && e == skip) continue;
      join(ks, ph, h);
      if (LABELS) {
        ks.label[h] = v;
        ks.pred_arc[h] = e;
        if (ph.reached_target) return;
      }
    } else if (k < w.key[h]) {
      lower_key(w, h, k);
    }
  }
  const int* list = w.back.data() + w.in_begin[v];
  const int count = w.back_count[v];
  for (int i = 0; i < count; ++i) {
    const int e = list[i];
    if (SKIP && e == skip) continue;
    const int t = net.tail[e];
    if (reached[t]) continue;
    const int k = pv - net.cost[e] - price[t];
    if (k <= total || net.flow[e] > net.upper[e]) {
      join(ks, ph, t);
      if (LABELS) {
        ks.label[t] = -v;
        ks.pred_arc[t] = -e;
        if (ph.reached_target) return;
      }
    } else if (k < w.key[t]) {
      lower_key(w, t, k);
    }
  }
}

// Reads the frontier to its end: first-in first-out, as the labeling does.
template <bool LABELS>
void close_set(const Network& net, KilterState& ks, Phase& ph, size_t& next) {
  KilterWork& w = ks.work;
  while (next < w.frontier.size() && !ph.reached_target) {
    const int v = w.frontier[next++];
    if (v == ph.start)
      expand<LABELS, true>(net, ks, ph, v, ph.arc);
    else
      expand<LABELS, false>(net, ks, ph, v, 0);
  }
}

// Stored prices back to true ones (up to raise_all), set and keys cleared.
void end_phase(KilterState& ks, Phase& ph) {
  KilterWork& w = ks.work;
  for (int v : w.members) {
    ks.price[v] -= ph.total;
    w.reached[v] = 0;
    w.key[v] = NO_KEY;
    w.heap_pos[v] = 0;
    ks.label[v] = 0;
    ks.pred_arc[v] = 0;
  }
  for (int i = 1; i <= w.heap_size; ++i) {
    w.key[w.heap[i]] = NO_KEY;
    w.heap_pos[w.heap[i]] = 0;
  }
  w.heap_size = 0;
  w.members.clear();
  w.frontier.clear();
  ph = Phase{};
}

// The labels of the breadth-first search from the phase's start, over the
// arcs usable at the true prices, up to the target. The set reached so far
// holds every node it can label.
bool lay_out_labels(const Network& net, KilterState& ks, const Phase& ph) {
  KilterWork& w = ks.work;
  const int stamp = ++w.visit_stamp;
  w.visit[0] = stamp;
  const int a = ph.arc;
  const int sign = ph.rise ? 1 : -1;
  ks.label[ph.start] = ph.target * sign;
  ks.pred_arc[ph.start] = a * sign;
  w.visit[ph.start] = stamp;
  ks.queue_in = ks.queue_out = 0;
  ks.queue[++ks.queue_in] = ph.start;
  const int* price = ks.price.data();
  while (ks.queue_out < ks.queue_in) {
    const int v = ks.queue[++ks.queue_out];
    const int pv = price[v];
    const bool below = w.below_lower[v] != 0;
    const int end = w.out_begin[v + 1];
    for (int pos = w.out_begin[v]; pos < end; ++pos) {
      const int h = w.out[pos].head;
      if (w.visit[h] == stamp) continue;
      const int e = w.out_arc[pos];
      if (e == a) continue;
      if (w.out[pos].cost + pv - price[h] <= 0 || (below && net.flow[e] < net.lower[e])) {
        w.visit[h] = stamp;
        ks.label[h] = v;
        ks.pred_arc[h] = e;
        if (h == ph.target) return true;
        ks.queue[++ks.queue_in] = h;
      }
    }
    const int* list = w.back.data() + w.in_begin[v];
    const int count = w.back_count[v];
    for (int i = 0; i < count; ++i) {
      const int e = list[i];
      if (e == a) continue;
      const int t = net.tail[e];
      if (w.visit[t] == stamp) continue;
      if (net.cost[e] + price[t] - pv >= 0 || net.flow[e] > net.upper[e]) {
        w.visit[t] = stamp;
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
  if (delta <= 0 || delta >= INFINITE_DELTA) return false;
  v = ks.search_start;
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
void raise_prices(Network& net, KilterState& ks, Phase& ph, int& raise_all) {
  KilterWork& w = ks.work;
  while (w.heap_size > 0 && w.reached[w.heap[1]]) heap_pop(w);
  int delta = INFINITE_DELTA;
  if (w.heap_size > 0) delta = std::min(delta, w.key[w.heap[1]] - ph.total);
  if (ph.arc_bounds) delta = std::min(delta, ph.arc_key - ph.total);
  const int a = ph.arc;
  if (delta == INFINITE_DELTA && (net.flow[a] == net.upper[a] || net.flow[a] == net.lower[a]))
    delta = abs_of(net.cost[a] + lazy_price(ks, ph, net.tail[a]) - lazy_price(ks, ph, net.head[a]));
  if (delta == INFINITE_DELTA) {
    net.feasible = false;
    return;
  }
  ph.total += delta;
  raise_all += delta;
}

// One iteration the plain way, with the working lists brought up to date
// afterwards; for the cases the grown set does not cover.
void plain_iteration(Network& net, KilterState& ks, int a, bool rise) {
  label_and_repair(net, ks, a, rise);
  build_work(net, ks.work);
}

// The search after a breakthrough of the grown set: true labels, then the
// flow change; a flow change that cannot be made falls back on the plain
// iteration, which goes on to a price change.
void break_through(Network& net, KilterState& ks, Phase& ph, bool labels_laid_out) {
  const int a = ph.arc;
  const bool rise = ph.rise;
  if (!labels_laid_out) {
    for (int v : ks.work.members) ks.price[v] -= ph.total;
    ph.total = 0;
    lay_out_labels(net, ks, ph);
  }
  ks.search_start = ph.start;
  ks.search_target = ph.target;
  ks.search_sign = rise ? 1 : -1;
  const bool pushed = push_flow(net, ks);
  end_phase(ks, ph);
  if (!pushed) plain_iteration(net, ks, a, rise);
}

void begin_phase(Network& net, KilterState& ks, Phase& ph, int a, bool rise, int& raise_all) {
  ph = Phase{};
  ph.active = true;
  ph.arc = a;
  ph.rise = rise;
  ph.start = rise ? net.head[a] : net.tail[a];
  ph.target = rise ? net.tail[a] : net.head[a];
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
  raise_prices(net, ks, ph, raise_all);
}

// The next search for the phase's arc: the nodes whose key the price change
// has reached join, and the set is closed again.
void continue_phase(Network& net, KilterState& ks, Phase& ph, int& raise_all) {
  KilterWork& w = ks.work;
  size_t next = w.frontier.size();
  while (w.heap_size > 0) {
    const int v = w.heap[1];
    if (w.reached[v]) {
      heap_pop(w);
      continue;
    }
    if (w.key[v] > ph.total) break;
    heap_pop(w);
    join(ks, ph, v);
    if (ph.reached_target) break;
  }
  close_set<false>(net, ks, ph, next);
  if (ph.reached_target) {
    break_through(net, ks, ph, false);
    return;
  }
  raise_prices(net, ks, ph, raise_all);
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
  int raise_all = 0;
  do {
    ks.solve_iterations += 1;
    if (ph.active) {
      const int a = ph.arc;
      const int rc = net.cost[a] + lazy_price(ks, ph, net.tail[a]) - lazy_price(ks, ph, net.head[a]);
      if (kilter_direction(net, a, rc) == (ph.rise ? 1 : -1)) {
        continue_phase(net, ks, ph, raise_all);
        continue;
      }
      end_phase(ks, ph);
    }
    bool rise = false;
    int a = find_out_of_kilter_arc(net, ks, rise);
    if (a == 0) break;
    if (net.tail[a] == net.head[a])
      plain_iteration(net, ks, a, rise);
    else
      begin_phase(net, ks, ph, a, rise, raise_all);
  } while (net.feasible);
  if (ph.active) end_phase(ks, ph);
  for (int v = 1; v <= net.num_nodes; ++v) ks.price[v] += raise_all;
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
