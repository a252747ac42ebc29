#include "solver/kilter_steps.h"

#include <algorithm>
#include <climits>

#include "common/common.h"

using namespace common;

namespace solver {

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
  ks.work.vouched_arcs = -1;
}

void note_appended_arcs(const Network& net, KilterState& ks, int arcs_before) {
  KilterWork& w = ks.work;
  // Right after a solve its tables hold every arc; after another pass the
  // word of that pass covers the arcs before.
  const bool known = work_made_for(w, net) &&
                     (w.vouched_arcs == arcs_before || (w.vouched_arcs == -1 && w.num_arcs == arcs_before));
  w.vouched_arcs = known ? net.num_arcs : -1;
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

int cycle_room(const Network& net, const KilterState& ks, int start) {
  int delta = INFINITE_DELTA;
  int v = start;
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
  } while (v != start);
  return delta;
}

bool change_flow(Network& net, KilterState& ks) {
  const int delta = cycle_room(net, ks, ks.search_start);
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

void iterate_steps(Network& net, KilterState& ks) {
  do {
    ks.solve_iterations += 1;
    bool rise = false;
    int a = find_out_of_kilter_arc(net, ks, rise);
    if (a == 0) break;
    label_and_repair(net, ks, a, rise);
  } while (net.feasible);
}

void record_solve(const KilterState& ks, RunCounters& counters, std::time_t t0, FILE* iteration_file) {
  counters.total_iterations += ks.solve_iterations;
  int secs = static_cast<int>(std::difftime(std::time(nullptr), t0));
  counters.calc_seconds += secs;
  if (iteration_file)
    std::fprintf(iteration_file, "\t%s", format_hh_mm_ss(secs).c_str());
}

SolveStatus solve_circulation_by_steps(Network& net, KilterState& ks, RunCounters& counters, FILE* iteration_file) {
  ks.solve_iterations = 0;
  ks.scan_arc = 1;
  const std::time_t t0 = std::time(nullptr);
  iterate_steps(net, ks);
  record_solve(ks, counters, t0, iteration_file);
  return solve_status(net);
}

}  // namespace solver
