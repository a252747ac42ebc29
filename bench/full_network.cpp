#include "bench/full_network.h"

#include <chrono>
#include <cstdint>
#include <limits>

#include <lemon/network_simplex.h>
#include <lemon/smart_graph.h>

namespace {

constexpr int64_t RETURN_ARC_COST = 1000;

bool fits_int32(int64_t value) {
  return value >= std::numeric_limits<int32_t>::min() && value <= std::numeric_limits<int32_t>::max();
}

bool member_of(const int* members, int key) {
  for (int slot = 1; slot < GROUP_LIST_SLOTS && members[slot] != GROUP_END_MARKER; ++slot)
    if (members[slot] == key) return true;
  return false;
}

bool key_in(const float* keys, float key) {
  for (int slot = 1; slot < GROUP_LIST_SLOTS && keys[slot] != static_cast<float>(GROUP_END_MARKER); ++slot)
    if (keys[slot] == key) return true;
  return false;
}

void add(FullNetwork& net, int tail, int head, int lower, int upper, int64_t cost, FullArcKind kind) {
  net.arcs.push_back(FullArc{tail, head, lower, upper, cost, kind});
  if (!fits_int32(cost)) net.costs_fit_int32 = false;
}

}  // namespace

bool full_network_link_allowed(const Problem& problem, float a, float b) {
  const int ka = static_cast<int>(a);
  const int kb = static_cast<int>(b);
  bool fa = false;
  bool fb = false;
  for (int g = 1; g <= problem.num_groups && g < GROUP_ROWS; ++g) {
    const Group& group = problem.groups[g];
    // Deliberately never cleared on entering a group: a member found in an
    // earlier group still counts here.
    if (member_of(group.members, ka)) fa = true;
    if (member_of(group.members, kb)) fb = true;
    if (fa && fb) {
      fa = key_in(group.from_keys, a);
      fb = key_in(group.to_keys, b);
    }
    if (fa && fb) return true;
  }
  return false;
}

FullNetwork build_full_network(const Problem& problem) {
  const int T = problem.num_trips;
  const Parameters& p = problem.params;
  const auto& m = problem.deadrun_matrix;
  const bool groups_in_force = problem.link_preference_cost > 0;
  const int depot_out = 2 * T + 1;
  const int depot_in = 2 * T + 2;

  FullNetwork net;
  net.num_nodes = 2 * T + 2;
  for (int i = 1; i <= T; ++i) {
    const Trip& from = problem.trips[i];
    add(net, depot_out, i, 0, 1, int64_t{p.deadrun_weight} * m[0][from.origin_terminal], FullArcKind::pull_out);
    add(net, i, T + i, 1, 1, 0, FullArcKind::trip);
    const int end = from.destination_terminal;
    for (int j = i + 1; j <= T; ++j) {
      const Trip& to = problem.trips[j];
      const int start = to.origin_terminal;
      const int64_t direct = m[end][start];
      const int64_t via = int64_t{m[end][0]} + m[0][start];
      const int64_t available = int64_t{to.departure_time} - from.arrival_time - from.min_layover;
      // With groups in force a trip back through the depot may be what makes
      // the connection possible, though the arc still pays the direct run.
      const int64_t slack = available - (groups_in_force && via < direct ? via : direct);
      if (slack < 0) continue;
      if (groups_in_force && !full_network_link_allowed(problem, from.group_key, to.group_key)) continue;
      if (available < via + p.short_arc_param) {
        add(net, T + i, j, 0, 1, p.deadrun_weight * direct + p.layover_weight * (from.min_layover + slack),
            FullArcKind::short_connection);
        ++net.num_short_connections;
      } else {
        add(net, T + i, j, 0, 1, p.deadrun_weight * via + p.short_arc_param, FullArcKind::long_connection);
        ++net.num_long_connections;
      }
    }
    add(net, T + i, depot_in, 0, 1, int64_t{p.deadrun_weight} * m[end][0], FullArcKind::pull_in);
  }
  add(net, depot_in, depot_out, 0, T, RETURN_ARC_COST, FullArcKind::return_arc);
  net.num_short_arcs = static_cast<int>(net.arcs.size()) - net.num_long_connections;
  return net;
}

FullNetworkResult solve_full_network(const Problem& problem) {
  const FullNetwork net = build_full_network(problem);
  FullNetworkResult result;
  result.num_arcs = static_cast<int>(net.arcs.size());
  result.num_short_arcs = net.num_short_arcs;
  result.num_short_connections = net.num_short_connections;
  result.num_long_arcs = net.num_long_connections;

  using Graph = lemon::SmartDigraph;
  Graph graph;
  graph.reserveNode(net.num_nodes + 1);
  graph.reserveArc(static_cast<int>(net.arcs.size()));
  // Node 0 stays isolated so that graph node ids are the solver's numbers.
  std::vector<Graph::Node> nodes;
  nodes.reserve(static_cast<size_t>(net.num_nodes) + 1);
  for (int n = 0; n <= net.num_nodes; ++n) nodes.push_back(graph.addNode());
  std::vector<Graph::Arc> arcs;
  arcs.reserve(net.arcs.size());
  for (const FullArc& arc : net.arcs) arcs.push_back(graph.addArc(nodes[arc.tail], nodes[arc.head]));

  Graph::ArcMap<int> lower(graph), upper(graph);
  Graph::ArcMap<int64_t> cost(graph);
  for (size_t k = 0; k < arcs.size(); ++k) {
    lower[arcs[k]] = net.arcs[k].lower;
    upper[arcs[k]] = net.arcs[k].upper;
    cost[arcs[k]] = net.arcs[k].cost;
  }

  lemon::NetworkSimplex<Graph, int, int64_t> simplex(graph);
  simplex.lowerMap(lower).upperMap(upper).costMap(cost);
  const auto started = std::chrono::steady_clock::now();
  const auto outcome = simplex.run();
  result.solve_seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

  switch (outcome) {
    case lemon::NetworkSimplex<Graph, int, int64_t>::OPTIMAL:
      result.status = FullNetworkStatus::optimal;
      break;
    case lemon::NetworkSimplex<Graph, int, int64_t>::UNBOUNDED:
      result.status = FullNetworkStatus::unbounded;
      break;
    default:
      result.status = FullNetworkStatus::infeasible;
      break;
  }
  result.fits_int32 = net.costs_fit_int32;
  if (result.status != FullNetworkStatus::optimal) return result;

  result.optimum = simplex.totalCost<int64_t>();
  if (!fits_int32(result.optimum)) result.fits_int32 = false;
  for (size_t k = 0; k < arcs.size(); ++k) {
    const FullArc& arc = net.arcs[k];
    const int flow = simplex.flow(arcs[k]);
    if (arc.kind == FullArcKind::return_arc) result.vehicles = flow;
    if (flow > 0 && (arc.kind == FullArcKind::short_connection || arc.kind == FullArcKind::long_connection))
      result.connections.push_back(
          UsedConnection{arc.tail - problem.num_trips, arc.head, arc.kind == FullArcKind::long_connection});
  }
  return result;
}

const char* full_network_status_name(FullNetworkStatus status) {
  switch (status) {
    case FullNetworkStatus::optimal:
      return "OPTIMAL";
    case FullNetworkStatus::unbounded:
      return "UNBOUNDED";
    case FullNetworkStatus::infeasible:
      break;
  }
  return "INFEASIBLE";
}
