#include "search/shift_network.h"

#include <algorithm>
#include <climits>
#include <queue>

#include "common/common.h"
#include "common/timetable_out.h"
#include "solver/connection.h"

using namespace common;
using namespace solver;

namespace search {

namespace {

constexpr int64_t UNREACHABLE_PRICE = INT64_C(1) << 50;

// The file order the trips would be written in: by departure, ties in the
// order read. Only a trip earlier in that order can connect to a later one.
bool precedes(const Problem& p, int i, int j) {
  int a = p.trips[i].departure_time, b = p.trips[j].departure_time;
  return a < b || (a == b && i < j);
}

// The connection arc i -> j at the present times, as the solver decides it.
// Arcs exist only for pairs the link preference groups allow, and a shift
// never changes a trip's group key, so the groups' rule is not asked again.
void connection_state(const ShiftNetwork& net, int i, int j, int& cap, int& cost) {
  cap = 0;
  cost = 0;
  if (!precedes(net.current, i, j)) return;
  const Problem& p = net.current;
  Connection c = connect_allowed(p, connection_from(p, p.trips[i]), p.trips[j]);
  if (c.kind == ConnectionKind::short_arc || (c.kind == ConnectionKind::long_record && !net.depot_line)) {
    cap = 1;
    cost = static_cast<int>(c.cost);
  }
}

// The depot line gives every long connection exactly when each long pair is
// also a connection the solver makes: no groups to forbid it, a slack that
// cannot be negative (the direct dead run is never longer than the depot road
// plus the short arc parameter), and the later trip strictly later in
// departure, so that file order never forbids it.
bool depot_line_exact(const Problem& p) {
  if (p.link_preference_cost > 0) return false;
  const int sap = p.params.short_arc_param;
  if (sap < -MAX_MINUTES_VALUE || sap > MAX_MINUTES_VALUE) return false;
  const int T = p.num_trips;
  std::vector<char> is_end(MAX_TERMINALS), is_start(MAX_TERMINALS);
  int min_from_depot = INT_MAX;
  for (int i = 1; i <= T; ++i) {
    is_end[p.trips[i].destination_terminal] = 1;
    is_start[p.trips[i].origin_terminal] = 1;
    min_from_depot = std::min(min_from_depot, p.deadrun_matrix[0][p.trips[i].origin_terminal]);
  }
  for (int et = 0; et < MAX_TERMINALS; ++et) {
    if (!is_end[et]) continue;
    for (int st = 0; st < MAX_TERMINALS; ++st) {
      if (!is_start[st]) continue;
      int64_t via = int64_t{p.deadrun_matrix[et][0]} + p.deadrun_matrix[0][st];
      if (p.deadrun_matrix[et][st] > via + sap) return false;
    }
  }
  for (int i = 1; i <= T; ++i) {
    const Trip& t = p.trips[i];
    int64_t least_gap = int64_t{t.arrival_time} - t.departure_time + t.min_layover +
                        p.deadrun_matrix[t.destination_terminal][0] + min_from_depot + sap;
    if (least_gap <= 0) return false;
  }
  return true;
}

struct ArcSpec {
  int tail, head, cost, cap;
};

void note_feeding(ShiftNetwork& net, int e) {
  int h = net.head[e];
  if (h <= net.num_trips || h > 2 * net.num_trips) return;
  if (net.flow[e] > 0) net.feeding[h] = e;
  else if (net.feeding[h] == e) net.feeding[h] = -1;
}

void set_arc(ShiftNetwork& net, int e, int cost, int cap, int flow) {
  if (net.cost[e] == cost && net.cap[e] == cap && net.flow[e] == flow) return;
  if (net.pending) net.arc_journal.push_back({e, net.cost[e], net.cap[e], net.flow[e]});
  net.cost[e] = cost;
  net.cap[e] = cap;
  net.flow[e] = flow;
  note_feeding(net, e);
}

void set_pi(ShiftNetwork& net, int v, int64_t value) {
  if (net.pi[v] == value) return;
  if (net.pending) net.pi_journal.push_back({v, net.pi[v]});
  net.pi[v] = value;
}

void add_excess(ShiftNetwork& net, int v, int amount) {
  if (net.excess[v] == 0) net.unbalanced.push_back(v);
  net.excess[v] += amount;
}

// Takes the flow off arc e, leaving its ends unbalanced.
void take_flow_off(ShiftNetwork& net, int e) {
  int f = net.flow[e];
  if (f == 0) return;
  net.total_cost -= int64_t{f} * net.cost[e];
  if (net.tail[e] == net.vehicle_node) net.vehicles -= f;
  add_excess(net, net.tail[e], f);
  add_excess(net, net.head[e], -f);
  set_arc(net, e, net.cost[e], net.cap[e], 0);
}

using Heap = std::priority_queue<std::pair<int64_t, int>, std::vector<std::pair<int64_t, int>>,
                                 std::greater<std::pair<int64_t, int>>>;

// Reaches v at distance d over pred (an arc, or ~arc when taken backward)
// unless it was reached nearer in this search.
inline void reach(ShiftNetwork& net, Heap& heap, int v, int64_t d, int pred) {
  if (net.stamp[v] != net.current_stamp || d < net.dist[v]) {
    net.stamp[v] = net.current_stamp;
    net.dist[v] = d;
    net.pred[v] = pred;
    heap.push({d, v});
  }
}

// The nearest node short of flow, seen from every node with excess, along
// arcs with room and back along arcs with flow, in reduced costs; -1 when
// none can be reached. The nodes settled are left in settled, their
// distances in dist and the way to them in pred.
int nearest_shortage(ShiftNetwork& net) {
  const int stamp = ++net.current_stamp;
  Heap heap;
  net.settled.clear();
  for (int v : net.unbalanced)
    if (net.excess[v] > 0) reach(net, heap, v, 0, INT_MIN);
  while (!heap.empty()) {
    auto [d, u] = heap.top();
    heap.pop();
    if (net.done_stamp[u] == stamp || d != net.dist[u]) continue;
    net.done_stamp[u] = stamp;
    net.settled.push_back(u);
    ++net.dijkstra_pops;
    if (net.excess[u] < 0) return u;
    const int64_t pu = net.pi[u];
    for (int e = net.out_begin[u]; e < net.out_begin[u + 1]; ++e) {
      if (net.flow[e] >= net.cap[e]) continue;
      int v = net.head[e];
      if (net.done_stamp[v] != stamp) reach(net, heap, v, d + net.cost[e] + pu - net.pi[v], e);
    }
    // A trip start has one way back: the arc that brings its vehicle.
    const bool trip_start = u > net.num_trips && u <= 2 * net.num_trips;
    const int in_first = trip_start ? 0 : net.in_begin[u], in_end = trip_start ? 1 : net.in_begin[u + 1];
    for (int k = in_first; k < in_end; ++k) {
      int e = trip_start ? net.feeding[u] : net.in_list[k];
      if (e < 0 || net.flow[e] <= 0) continue;
      int v = net.tail[e];
      if (net.done_stamp[v] != stamp) reach(net, heap, v, d - (net.cost[e] + net.pi[v] - pu), ~e);
    }
  }
  return -1;
}

// One unit from the nearest node with excess to the nearest node short of
// flow, along a shortest path in reduced costs; then the potentials move by
// the distances so that every reduced cost stays in kilter.
void send_one_unit(ShiftNetwork& net) {
  const int target = nearest_shortage(net);
  if (target < 0) fatal_without_pause("\nshift_search: no schedule covers every trip (internal error)\n");
  const int64_t D = net.dist[target];
  for (int v : net.settled) set_pi(net, v, net.pi[v] + net.dist[v] - D);

  int v = target;
  while (net.pred[v] != INT_MIN) {
    int p = net.pred[v];
    if (p >= 0) {
      set_arc(net, p, net.cost[p], net.cap[p], net.flow[p] + 1);
      net.total_cost += net.cost[p];
      if (net.tail[p] == net.vehicle_node) ++net.vehicles;
      v = net.tail[p];
    } else {
      int e = ~p;
      set_arc(net, e, net.cost[e], net.cap[e], net.flow[e] - 1);
      net.total_cost -= net.cost[e];
      if (net.tail[e] == net.vehicle_node) --net.vehicles;
      v = net.head[e];
    }
  }
  net.excess[v] -= 1;
  net.excess[target] += 1;
  std::erase_if(net.unbalanced, [&](int n) { return net.excess[n] == 0; });
}

void balance(ShiftNetwork& net) {
  while (!net.unbalanced.empty()) send_one_unit(net);
}

// Gives arc e a new cost and capacity. Flow on an arc that closes is taken
// off; flow that stays pays the new cost.
void change_arc(ShiftNetwork& net, int e, int cost, int cap) {
  if (net.cost[e] == cost && net.cap[e] == cap) return;
  if (net.flow[e] > cap) take_flow_off(net, e);
  net.total_cost += int64_t{net.flow[e]} * (cost - net.cost[e]);
  set_arc(net, e, cost, cap, net.flow[e]);
}

// The depot line arcs of a trip: open only at its present shift.
void set_line_arcs(ShiftNetwork& net, int k) {
  if (!net.depot_line) return;
  const int width = 2 * net.max_shift + 1;
  const int open = net.shift[k] + net.max_shift;
  for (int s = 0; s < width; ++s) {
    int a = net.line_in[(k - 1) * width + s];
    change_arc(net, a, net.cost[a], s == open ? 1 : 0);
    int b = net.line_out[(k - 1) * width + s];
    change_arc(net, b, net.cost[b], s == open ? 1 : 0);
  }
}

void refresh_connections(ShiftNetwork& net, int k) {
  const int T = net.num_trips;
  int cap, cost;
  for (int x = net.conn_out_begin[k]; x < net.conn_out_begin[k + 1]; ++x) {
    int e = net.conn_out[x];
    connection_state(net, k, net.head[e] - T, cap, cost);
    change_arc(net, e, cap ? cost : net.cost[e], cap);
  }
  for (int x = net.conn_in_begin[k]; x < net.conn_in_begin[k + 1]; ++x) {
    int e = net.conn_in[x];
    connection_state(net, net.tail[e], k, cap, cost);
    change_arc(net, e, cap ? cost : net.cost[e], cap);
  }
  set_line_arcs(net, k);
}

// E_k has only arcs out. Its vehicle may stay on the arc it takes when that
// arc is still the cheapest way on at the present potentials; otherwise it
// is taken off and sent anew. Either way pi(E_k) is set so that every arc
// out of E_k is in kilter.
void settle_trip_end(ShiftNetwork& net, int k) {
  int taken = -1;
  int64_t best_other = -UNREACHABLE_PRICE;
  for (int e = net.out_begin[k]; e < net.out_begin[k + 1]; ++e) {
    if (net.flow[e] > 0) taken = e;
    else if (net.cap[e] > 0) best_other = std::max(best_other, net.pi[net.head[e]] - net.cost[e]);
  }
  if (taken >= 0) {
    int64_t on_taken = net.pi[net.head[taken]] - net.cost[taken];
    if (on_taken >= best_other) {
      set_pi(net, k, on_taken);
      return;
    }
    take_flow_off(net, taken);
    best_other = std::max(best_other, on_taken);
  }
  set_pi(net, k, best_other);
}

// The same for S_k, which has only arcs in.
void settle_trip_start(ShiftNetwork& net, int k) {
  const int s = net.num_trips + k;
  int taken = -1;
  int64_t best_other = UNREACHABLE_PRICE;
  for (int x = net.in_begin[s]; x < net.in_begin[s + 1]; ++x) {
    int e = net.in_list[x];
    if (net.flow[e] > 0) taken = e;
    else if (net.cap[e] > 0) best_other = std::min(best_other, net.cost[e] + net.pi[net.tail[e]]);
  }
  if (taken >= 0) {
    int64_t on_taken = net.cost[taken] + net.pi[net.tail[taken]];
    if (on_taken <= best_other) {
      set_pi(net, s, on_taken);
      return;
    }
    take_flow_off(net, taken);
    best_other = std::min(best_other, on_taken);
  }
  set_pi(net, s, best_other);
}

// The arcs as they are laid down, before they are numbered by tail.
struct ArcDraft {
  std::vector<ArcSpec> arcs;
  // Per trip, the connection arcs out of E_i and into S_i.
  std::vector<std::vector<int>> conn_out, conn_in;

  int add(int tail, int head, long long cost, int cap) {
    arcs.push_back({tail, head, static_cast<int>(cost), cap});
    return static_cast<int>(arcs.size()) - 1;
  }
};

// The window: every trip at shift 0, and the shifts each may take.
void set_window(const Problem& problem, int max_shift, ShiftNetwork& net) {
  const int T = problem.num_trips;
  const int M = max_shift;
  net.read = &problem;
  net.current = problem;
  net.num_trips = T;
  net.max_shift = M;
  net.shift.assign(T + 1, 0);
  net.lowest_shift.assign(T + 1, 0);
  net.highest_shift.assign(T + 1, 0);
  for (int i = 1; i <= T; ++i) {
    const Trip& t = problem.trips[i];
    net.lowest_shift[i] = std::min(0, std::max(-M, -std::min(t.departure_time, t.arrival_time)));
    net.highest_shift[i] =
        std::max(0, std::min(M, common::LATEST_TRIP_LINE_TIME - std::max(t.departure_time, t.arrival_time)));
  }
  net.moved = 0;
}

// V, then the depot line: one node for every ready and leave time any shift
// can give, in increasing time.
void lay_out_nodes(ShiftNetwork& net) {
  const Problem& problem = *net.read;
  const int T = net.num_trips, M = net.max_shift;
  net.depot_line = depot_line_exact(problem);
  net.vehicle_node = 2 * T + 1;
  net.first_line_node = 2 * T + 2;
  net.line_time.clear();
  if (net.depot_line)
    for (int i = 1; i <= T; ++i)
      for (int s = -M; s <= M; ++s) {
        net.line_time.push_back(static_cast<int>(depot_ready(problem, problem.trips[i]) + s));
        net.line_time.push_back(static_cast<int>(depot_leave(problem, problem.trips[i]) + s));
      }
  std::sort(net.line_time.begin(), net.line_time.end());
  net.line_time.erase(std::unique(net.line_time.begin(), net.line_time.end()), net.line_time.end());
  net.num_nodes = net.first_line_node + static_cast<int>(net.line_time.size()) - 1;
}

int line_node(const ShiftNetwork& net, long long time) {
  auto it = std::lower_bound(net.line_time.begin(), net.line_time.end(), static_cast<int>(time));
  return net.first_line_node + static_cast<int>(it - net.line_time.begin());
}

// Whether some relative shift of trips i and j within the window opens the
// arc i -> j: a connection the solver makes, i before j in file order, and
// not one the depot line carries. Trip j moves by q against trip i.
bool ever_opens(const ShiftNetwork& net, int i, int j) {
  const Problem& p = *net.read;
  const Trip& a = p.trips[i];
  const Trip& b = p.trips[j];
  const ConnectionGap gap = connection_gap(p, connection_from(p, a), b);
  // Slack and the way through the depot only grow as j moves later: the
  // widest shifts settle most pairs, before the dearer groups' rule is asked.
  const int widest = 2 * net.max_shift;
  if (connection_slack(p, moved_by(gap, widest)) < 0) return false;
  if (net.depot_line && goes_through_depot(p, moved_by(gap, -widest))) return false;
  if (p.link_preference_cost > 0 && !group_link_allowed(p, a.group_key, b.group_key)) return false;
  for (int q = -widest; q <= widest; ++q) {
    const int departs = b.departure_time + q;
    if (departs < a.departure_time || (departs == a.departure_time && j < i)) continue;
    const ConnectionGap moved = moved_by(gap, q);
    if (connection_slack(p, moved) < 0) continue;
    if (!net.depot_line || !goes_through_depot(p, moved)) return true;
  }
  return false;
}

// Every trip's pull-in to V and its pull-out from V, which carries the vehicle.
void add_vehicle_arcs(const ShiftNetwork& net, ArcDraft& draft) {
  const Problem& problem = *net.read;
  const int T = net.num_trips;
  for (int i = 1; i <= T; ++i) {
    draft.add(i, net.vehicle_node, pull_in_cost(problem, problem.trips[i]), 1);
    draft.add(net.vehicle_node, T + i, pull_out_cost(problem, problem.trips[i]) + VEHICLE_COST, 1);
  }
}

// An arc for every pair that some shift within the window connects, with its
// cost and capacity at shift 0.
void add_connection_arcs(const ShiftNetwork& net, ArcDraft& draft) {
  const int T = net.num_trips;
  draft.conn_out.assign(T + 1, {});
  draft.conn_in.assign(T + 1, {});
  for (int i = 1; i <= T; ++i)
    for (int j = 1; j <= T; ++j) {
      if (j == i || !ever_opens(net, i, j)) continue;
      int cap, cost;
      connection_state(net, i, j, cap, cost);
      int e = draft.add(i, T + j, cost, cap);
      draft.conn_out[i].push_back(e);
      draft.conn_in[j].push_back(e);
    }
}

// Per trip one arc into the line and one out of it for each shift, open at
// shift 0; along the line, arcs from each time to the next.
void add_depot_line_arcs(ShiftNetwork& net, ArcDraft& draft) {
  net.line_in.clear();
  net.line_out.clear();
  if (!net.depot_line) return;
  const Problem& problem = *net.read;
  const int T = net.num_trips, M = net.max_shift;
  for (int i = 1; i <= T; ++i) {
    const Trip& t = problem.trips[i];
    for (int s = -M; s <= M; ++s)
      net.line_in.push_back(draft.add(i, line_node(net, depot_ready(problem, t) + s),
                                      pull_in_cost(problem, t) + problem.params.short_arc_param, s == 0 ? 1 : 0));
    for (int s = -M; s <= M; ++s)
      net.line_out.push_back(
          draft.add(line_node(net, depot_leave(problem, t) + s), T + i, pull_out_cost(problem, t), s == 0 ? 1 : 0));
  }
  for (int n = net.first_line_node; n < net.num_nodes; ++n) draft.add(n, n + 1, 0, T);
}

// Numbers the arcs by tail, so that every node's arcs out stand together,
// and the lists that name arcs follow.
void number_by_tail(ShiftNetwork& net, ArcDraft& draft) {
  std::vector<ArcSpec>& arcs = draft.arcs;
  std::vector<int> by_tail(arcs.size());
  for (size_t e = 0; e < arcs.size(); ++e) by_tail[e] = static_cast<int>(e);
  std::stable_sort(by_tail.begin(), by_tail.end(), [&](int a, int b) { return arcs[a].tail < arcs[b].tail; });
  std::vector<int> new_id(arcs.size());
  std::vector<ArcSpec> sorted(arcs.size());
  for (size_t e = 0; e < arcs.size(); ++e) {
    new_id[by_tail[e]] = static_cast<int>(e);
    sorted[e] = arcs[by_tail[e]];
  }
  arcs.swap(sorted);
  for (auto* lists : {&draft.conn_out, &draft.conn_in})
    for (auto& list : *lists)
      for (int& e : list) e = new_id[e];
  for (auto* list : {&net.line_in, &net.line_out})
    for (int& e : *list) e = new_id[e];
}

void store_arcs(ShiftNetwork& net, const std::vector<ArcSpec>& arcs) {
  net.num_arcs = static_cast<int>(arcs.size());
  net.tail.resize(net.num_arcs);
  net.head.resize(net.num_arcs);
  net.cost.resize(net.num_arcs);
  net.cap.resize(net.num_arcs);
  net.flow.assign(net.num_arcs, 0);
  for (int e = 0; e < net.num_arcs; ++e) {
    net.tail[e] = arcs[e].tail;
    net.head[e] = arcs[e].head;
    net.cost[e] = arcs[e].cost;
    net.cap[e] = arcs[e].cap;
  }
}

// The arcs at each node by one of their ends: node n's are list[begin[n]] ..
// list[begin[n + 1] - 1].
void list_by_node(const ShiftNetwork& net, const std::vector<int>& end, std::vector<int>& begin,
                  std::vector<int>& list) {
  begin.assign(net.num_nodes + 2, 0);
  for (int e = 0; e < net.num_arcs; ++e) ++begin[end[e] + 1];
  for (int n = 0; n <= net.num_nodes; ++n) begin[n + 1] += begin[n];
  list.assign(net.num_arcs, 0);
  std::vector<int> fill(begin.begin(), begin.end() - 1);
  for (int e = 0; e < net.num_arcs; ++e) list[fill[end[e]]++] = e;
}

// Per trip lists packed one after the other: trip i's are flat[begin[i]] ..
// flat[begin[i + 1] - 1].
void pack_by_trip(int T, const std::vector<std::vector<int>>& lists, std::vector<int>& begin,
                  std::vector<int>& flat) {
  begin.assign(T + 2, 0);
  flat.clear();
  for (int i = 1; i <= T; ++i) {
    begin[i] = static_cast<int>(flat.size());
    flat.insert(flat.end(), lists[i].begin(), lists[i].end());
  }
  begin[T + 1] = static_cast<int>(flat.size());
}

void make_lists(ShiftNetwork& net, const ArcDraft& draft) {
  std::vector<int> by_tail;  // the arcs are numbered by tail already
  list_by_node(net, net.tail, net.out_begin, by_tail);
  list_by_node(net, net.head, net.in_begin, net.in_list);
  net.feeding.assign(net.num_nodes + 1, -1);
  pack_by_trip(net.num_trips, draft.conn_out, net.conn_out_begin, net.conn_out);
  pack_by_trip(net.num_trips, draft.conn_in, net.conn_in_begin, net.conn_in);
}

int64_t cheapest_way_in(const ShiftNetwork& net, int n) {
  int64_t best = UNREACHABLE_PRICE;
  for (int k = net.in_begin[n]; k < net.in_begin[n + 1]; ++k) {
    int e = net.in_list[k];
    if (net.cap[e] > 0) best = std::min(best, net.cost[e] + net.pi[net.tail[e]]);
  }
  return best;
}

// Potentials in kilter with the zero flow: E nodes at 0, every other node at
// its cheapest way in, in the order V, the depot line by time, S nodes.
void set_first_potentials(ShiftNetwork& net) {
  const int T = net.num_trips;
  net.pi.assign(net.num_nodes + 1, 0);
  net.pi[net.vehicle_node] = cheapest_way_in(net, net.vehicle_node);
  for (int n = net.first_line_node; n <= net.num_nodes; ++n) net.pi[n] = cheapest_way_in(net, n);
  for (int j = 1; j <= T; ++j) net.pi[T + j] = cheapest_way_in(net, T + j);
}

// Every trip end with a vehicle to send, every start short of one, sent
// from nothing.
void first_solve(ShiftNetwork& net) {
  const int T = net.num_trips;
  net.excess.assign(net.num_nodes + 1, 0);
  net.unbalanced.clear();
  for (int i = 1; i <= T; ++i) {
    add_excess(net, i, 1);
    add_excess(net, T + i, -1);
  }
  net.dist.assign(net.num_nodes + 1, 0);
  net.stamp.assign(net.num_nodes + 1, 0);
  net.done_stamp.assign(net.num_nodes + 1, 0);
  net.pred.assign(net.num_nodes + 1, 0);
  net.current_stamp = 0;
  net.total_cost = 0;
  // The depot to depot return with no vehicle on it: the solver's total
  // counts nothing for it either.
  net.vehicles = 0;
  net.pending = false;
  balance(net);
}

}  // namespace

void build_shift_network(const Problem& problem, int max_shift, ShiftNetwork& net) {
  set_window(problem, max_shift, net);
  lay_out_nodes(net);
  ArcDraft draft;
  add_vehicle_arcs(net, draft);
  add_connection_arcs(net, draft);
  add_depot_line_arcs(net, draft);
  number_by_tail(net, draft);
  store_arcs(net, draft.arcs);
  make_lists(net, draft);
  set_first_potentials(net);
  first_solve(net);
}

void apply_shifts(ShiftNetwork& net, const TripShift* moves, int count) {
  if (!net.pending) {
    net.pending = true;
    net.saved_total = net.total_cost;
    net.saved_vehicles = net.vehicles;
    net.saved_moved = net.moved;
  }
  const int T = net.num_trips;
  std::vector<int> changed;
  for (int m = 0; m < count; ++m) {
    int k = moves[m].trip, s = moves[m].shift;
    if (s == net.shift[k]) continue;
    net.shift_journal.push_back({k, net.shift[k]});
    net.moved += (s != 0) - (net.shift[k] != 0);
    net.shift[k] = s;
    const Trip& base = net.read->trips[k];
    net.current.trips[k].departure_time = base.departure_time + s;
    net.current.trips[k].arrival_time = base.arrival_time + s;
    changed.push_back(k);
  }
  (void)T;
  for (int k : changed) refresh_connections(net, k);
  for (int k : changed) settle_trip_end(net, k);
  for (int k : changed) settle_trip_start(net, k);
  balance(net);
}

void commit_shifts(ShiftNetwork& net) {
  net.arc_journal.clear();
  net.pi_journal.clear();
  net.shift_journal.clear();
  net.pending = false;
}

void undo_shifts(ShiftNetwork& net) {
  if (!net.pending) return;
  for (size_t x = net.arc_journal.size(); x-- > 0;) {
    const auto& c = net.arc_journal[x];
    net.cost[c.arc] = c.cost;
    net.cap[c.arc] = c.cap;
    net.flow[c.arc] = c.flow;
    note_feeding(net, c.arc);
  }
  for (size_t x = net.pi_journal.size(); x-- > 0;) net.pi[net.pi_journal[x].node] = net.pi_journal[x].pi;
  for (size_t x = net.shift_journal.size(); x-- > 0;) {
    int k = net.shift_journal[x].trip, s = net.shift_journal[x].shift;
    net.shift[k] = s;
    net.current.trips[k].departure_time = net.read->trips[k].departure_time + s;
    net.current.trips[k].arrival_time = net.read->trips[k].arrival_time + s;
  }
  net.total_cost = net.saved_total;
  net.vehicles = net.saved_vehicles;
  net.moved = net.saved_moved;
  commit_shifts(net);
}

std::vector<int> trip_file_order(const Problem& read, const std::vector<int>& shift) {
  std::vector<int> order(read.num_trips);
  for (int i = 0; i < read.num_trips; ++i) order[i] = i + 1;
  std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
    return read.trips[a].departure_time + shift[a] < read.trips[b].departure_time + shift[b];
  });
  return order;
}

std::vector<int> trip_file_order(const ShiftNetwork& net) { return trip_file_order(*net.read, net.shift); }

std::string check_shift_network(const ShiftNetwork& net) {
  const int T = net.num_trips;
  std::vector<int64_t> balance_at(net.num_nodes + 1, 0);
  int64_t total = 0;
  int vehicles = 0;
  for (int e = 0; e < net.num_arcs; ++e) {
    int f = net.flow[e];
    if (f < 0 || f > net.cap[e]) return "a flow lies outside its arc's bounds";
    int64_t rc = net.cost[e] + net.pi[net.tail[e]] - net.pi[net.head[e]];
    if (f < net.cap[e] && rc < 0) return "an arc with room to rise has a negative reduced cost";
    if (f > 0 && rc > 0) return "an arc with flow has a positive reduced cost";
    if (f > 0 && net.head[e] > T && net.head[e] <= 2 * T && net.feeding[net.head[e]] != e)
      return "a trip start does not know the arc that brings its vehicle";
    balance_at[net.tail[e]] -= f;
    balance_at[net.head[e]] += f;
    total += int64_t{f} * net.cost[e];
    if (net.tail[e] == net.vehicle_node) vehicles += f;
  }
  for (int n = 1; n <= net.num_nodes; ++n) {
    int64_t want = n <= T ? -1 : n <= 2 * T ? 1 : 0;
    if (balance_at[n] != want) return "flow is not conserved at some node";
  }
  if (total != net.total_cost) return "the total cost differs from the sum over the arcs";
  if (vehicles != net.vehicles) return "the vehicle count differs from the flow out of the vehicle node";
  int moved = 0;
  for (int i = 1; i <= T; ++i) {
    if (net.shift[i] != 0) ++moved;
    if (net.current.trips[i].departure_time != net.read->trips[i].departure_time + net.shift[i])
      return "a trip's time differs from its shift";
  }
  if (moved != net.moved) return "the count of moved trips is wrong";
  if (net.pending) return "a change is still pending";
  return "";
}

}  // namespace search
