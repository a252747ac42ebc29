#include "tests/support/certificate.h"

#include <cstdio>

namespace {

std::string arc_text(size_t k, const CertificateArc& a) {
  char text[160];
  std::snprintf(text, sizeof text, "arc %zu (%d->%d, bounds %d..%d, cost %lld, flow %d)", k, a.tail, a.head,
                a.lower, a.upper, a.cost, a.flow);
  return text;
}

}  // namespace

std::string certificate_failure(int num_nodes, const std::vector<CertificateArc>& arcs, const std::vector<int>& price,
                                const std::vector<long long>& inflow) {
  const size_t n = static_cast<size_t>(num_nodes);
  if (price.size() <= n) return "fewer prices than nodes";
  if (!inflow.empty() && inflow.size() <= n) return "fewer balances than nodes";
  std::vector<long long> balance(n + 1, 0);
  long long primal = 0, dual = 0;
  for (size_t k = 0; k < arcs.size(); ++k) {
    const CertificateArc& a = arcs[k];
    if (a.tail < 1 || a.tail > num_nodes || a.head < 1 || a.head > num_nodes) return arc_text(k, a) + ": no such node";
    if (a.flow < a.lower || a.flow > a.upper) return arc_text(k, a) + ": flow outside its bounds";
    const long long rc = a.cost + price[static_cast<size_t>(a.tail)] - price[static_cast<size_t>(a.head)];
    if ((rc > 0 && a.flow != a.lower) || (rc < 0 && a.flow != a.upper))
      return arc_text(k, a) + ": reduced cost " + std::to_string(rc) + " breaks complementary slackness";
    balance[static_cast<size_t>(a.tail)] -= a.flow;
    balance[static_cast<size_t>(a.head)] += a.flow;
    primal += a.cost * a.flow;
    // Each arc's share of the dual: its reduced cost at the bound it leans on.
    dual += rc * (rc > 0 ? a.lower : a.upper);
  }
  for (size_t v = 1; v <= n; ++v) {
    const long long wanted = inflow.empty() ? 0 : inflow[v];
    if (balance[v] != wanted)
      return "node " + std::to_string(v) + " takes in " + std::to_string(balance[v]) + " units more than it sends, not " +
             std::to_string(wanted);
    dual += price[v] * wanted;
  }
  if (primal != dual) return "primal cost " + std::to_string(primal) + " but dual cost " + std::to_string(dual);
  return {};
}

std::string certificate_failure(const solver::Network& net, const solver::KilterState& ks,
                                const std::vector<long long>& inflow) {
  if (!net.feasible) return {};
  std::vector<CertificateArc> arcs;
  arcs.reserve(static_cast<size_t>(net.num_arcs));
  for (int e = 1; e <= net.num_arcs; ++e)
    arcs.push_back({net.tail[e], net.head[e], net.lower[e], net.upper[e], net.cost[e], net.flow[e]});
  return certificate_failure(net.num_nodes, arcs, ks.price, inflow);
}

std::vector<long long> node_inflow(const solver::Network& net) {
  std::vector<long long> inflow(static_cast<size_t>(net.num_nodes) + 1, 0);
  for (int e = 1; e <= net.num_arcs; ++e) {
    inflow[static_cast<size_t>(net.tail[e])] -= net.flow[e];
    inflow[static_cast<size_t>(net.head[e])] += net.flow[e];
  }
  return inflow;
}
