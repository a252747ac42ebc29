// The optimality certificate of a min-cost circulation, checked from the
// definitions alone: the flows form a circulation within the bounds, every
// arc meets complementary slackness with the node prices, and the primal cost
// equals the dual cost that the prices give. Nothing here uses the solver's
// own tests of kilter, so a fault shared by the fast and the plain solve
// still shows.
#pragma once

#include <string>
#include <vector>

#include "solver/kilter.h"
#include "solver/network.h"

struct CertificateArc {
  int tail = 0, head = 0;
  int lower = 0, upper = 0;
  long long cost = 0;
  int flow = 0;
};

// Empty when flows and prices prove the flow optimal, else the first thing
// that fails. price is indexed by node number 1..num_nodes. inflow holds what
// each node must take in more than it sends out (a solve keeps the balances
// its starting flows had); empty for a circulation.
std::string certificate_failure(int num_nodes, const std::vector<CertificateArc>& arcs, const std::vector<int>& price,
                                const std::vector<long long>& inflow = {});

// The same for the arcs in the network, with the solve's prices. A network
// found infeasible has no certificate to check: empty then.
std::string certificate_failure(const solver::Network& net, const solver::KilterState& ks,
                                const std::vector<long long>& inflow = {});

// Each node's inflow less its outflow under the network's present flows.
std::vector<long long> node_inflow(const solver::Network& net);
