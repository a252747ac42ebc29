#include "search/vehicle_bound.h"

#include <climits>
#include <vector>

#include "solver/connection.h"

using namespace solver;

namespace search {

namespace {

// A largest matching of the bipartite graph given by adjacency lists
// (left i to right adj[begin[i]..begin[i+1]-1]), by Hopcroft and Karp.
struct Matching {
  int n = 0;
  const std::vector<int>& begin;
  const std::vector<int>& adj;
  std::vector<int> match_left, match_right, level, cursor;

  Matching(int size, const std::vector<int>& b, const std::vector<int>& a)
      : n(size), begin(b), adj(a), match_left(size + 1, 0), match_right(size + 1, 0), level(size + 1), cursor(size + 1) {}

  bool layer() {
    std::vector<int> queue;
    bool free_reached = false;
    for (int i = 1; i <= n; ++i) {
      level[i] = match_left[i] == 0 ? 0 : INT_MAX;
      if (match_left[i] == 0) queue.push_back(i);
    }
    for (size_t q = 0; q < queue.size(); ++q) {
      const int i = queue[q];
      for (int x = begin[i]; x < begin[i + 1]; ++x) {
        const int back = match_right[adj[x]];
        if (back == 0) free_reached = true;
        else if (level[back] == INT_MAX) {
          level[back] = level[i] + 1;
          queue.push_back(back);
        }
      }
    }
    return free_reached;
  }

  // An augmenting path from left node i along the layers, without recursion
  // (a chain may be as long as the trips).
  bool augment(int root) {
    std::vector<int> path{root};
    while (!path.empty()) {
      const int i = path.back();
      bool moved = false;
      for (; cursor[i] < begin[i + 1]; ++cursor[i]) {
        const int j = adj[cursor[i]], back = match_right[j];
        if (back == 0) {
          for (size_t p = path.size(); p-- > 0;) {
            const int left = path[p], right = adj[cursor[left]];
            match_left[left] = right;
            match_right[right] = left;
          }
          return true;
        }
        if (level[back] == level[i] + 1) {
          path.push_back(back);
          moved = true;
          break;
        }
      }
      if (!moved) {
        level[i] = INT_MAX;
        path.pop_back();
        if (!path.empty()) ++cursor[path.back()];
      }
    }
    return false;
  }

  int solve() {
    int size = 0;
    while (layer()) {
      for (int i = 1; i <= n; ++i) cursor[i] = begin[i];
      for (int i = 1; i <= n; ++i)
        if (match_left[i] == 0 && augment(i)) ++size;
    }
    return size;
  }
};

}  // namespace

int vehicle_lower_bound(const ShiftNetwork& net, const HeadwayRule& rule) {
  const int T = net.num_trips;
  if (T == 0) return 0;
  const Problem& p = *net.read;
  GroupLinkTable links = make_group_link_table(p);
  const bool groups = p.link_preference_cost > 0;
  std::vector<int> begin(T + 2, 0), adj;
  for (int i = 1; i <= T; ++i) {
    begin[i] = static_cast<int>(adj.size());
    const ConnectionFrom from = connection_from(p, p.trips[i]);
    for (int j = 1; j <= T; ++j) {
      if (j == i || (groups && !links.allowed_for(p, i, j))) continue;
      // Trip j moved later by r relative to trip i: only their difference counts.
      const int r = largest_relative_shift(rule, net, i, j);
      if (connection_slack(p, moved_by(connection_gap(p, from, p.trips[j]), r)) >= 0) adj.push_back(j);
    }
  }
  begin[T + 1] = static_cast<int>(adj.size());
  Matching matching(T, begin, adj);
  return T - matching.solve();
}

}  // namespace search
