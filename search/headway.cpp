#include "search/headway.h"

#include <algorithm>
#include <cstdlib>
#include <map>
#include <utility>

namespace search {

HeadwayRule make_headway_rule(const Problem& problem, int max_change) {
  HeadwayRule rule;
  rule.max_change = max_change;
  const int T = problem.num_trips;
  rule.previous.assign(T + 1, 0);
  rule.next.assign(T + 1, 0);
  rule.series.assign(T + 1, 0);
  rule.position.assign(T + 1, 0);
  // The line key as the trip file holds it: keys equal as floats are one line.
  std::map<std::pair<float, int>, std::vector<int>> by_line;
  for (int k = 1; k <= T; ++k)
    by_line[{problem.trips[k].group_key, problem.trips[k].origin_terminal}].push_back(k);
  int number = 0;
  for (auto& [key, trips] : by_line) {
    ++number;
    std::stable_sort(trips.begin(), trips.end(),
                     [&](int a, int b) { return problem.trips[a].departure_time < problem.trips[b].departure_time; });
    for (size_t x = 0; x < trips.size(); ++x) {
      const int k = trips[x];
      rule.series[k] = number;
      rule.position[k] = static_cast<int>(x);
      if (x > 0) rule.previous[k] = trips[x - 1];
      if (x + 1 < trips.size()) rule.next[k] = trips[x + 1];
    }
  }
  return rule;
}

int largest_relative_shift(const HeadwayRule& rule, const ShiftNetwork& net, int i, int j) {
  const int widest = net.highest_shift[j] - net.lowest_shift[i];
  if (rule.max_change < 0 || rule.series.empty() || rule.series[i] != rule.series[j]) return widest;
  const long long steps = std::abs(rule.position[i] - rule.position[j]);
  return static_cast<int>(std::min<long long>(widest, steps * rule.max_change));
}

namespace {

constexpr char WANTED = 2, FOLLOWS = 1;

// A trip's shift with the candidate's moves: its own while untouched.
int now(const ShiftNetwork& net, const HeadwayScratch& s, int k) { return s.mark[k] ? s.shift[k] : net.shift[k]; }

void note(HeadwayScratch& s, int k, int shift, char mark) {
  if (s.mark[k] == 0) s.touched.push_back(k);
  s.mark[k] = std::max(s.mark[k], mark);
  s.shift[k] = shift;
}

// Walks from trip `from` along `link` (next or previous), bringing each trip
// within the rule of the one before it. False when a trip whose shift is
// wanted would have to move, or a window cannot take the shift needed.
bool follow(const HeadwayRule& rule, const ShiftNetwork& net, HeadwayScratch& s, int from,
            const std::vector<int>& link) {
  const int H = rule.max_change;
  for (int before = from, k = link[from]; k != 0; before = k, k = link[k]) {
    const int at = now(net, s, k), from_shift = now(net, s, before);
    const int wanted = std::clamp(at, from_shift - H, from_shift + H);
    if (wanted == at) return true;
    if (s.mark[k] == WANTED || wanted < net.lowest_shift[k] || wanted > net.highest_shift[k]) return false;
    note(s, k, wanted, FOLLOWS);
  }
  return true;
}

bool keeps_rule(const HeadwayRule& rule, const ShiftNetwork& net, const HeadwayScratch& s, int k) {
  const int H = rule.max_change, at = now(net, s, k);
  return (rule.previous[k] == 0 || std::abs(at - now(net, s, rule.previous[k])) <= H) &&
         (rule.next[k] == 0 || std::abs(now(net, s, rule.next[k]) - at) <= H);
}

}  // namespace

bool complete_moves(const HeadwayRule& rule, const ShiftNetwork& net, HeadwayScratch& s,
                    std::vector<TripShift>& moves) {
  if (rule.max_change < 0) return true;
  if (s.shift.size() != net.shift.size()) {
    s.shift.assign(net.shift.size(), 0);
    s.mark.assign(net.shift.size(), 0);
  }
  s.touched.clear();
  for (const TripShift& m : moves) note(s, m.trip, m.shift, WANTED);
  bool ok = true;
  for (size_t x = 0; ok && x < moves.size(); ++x)
    ok = follow(rule, net, s, moves[x].trip, rule.next) && follow(rule, net, s, moves[x].trip, rule.previous);
  for (size_t x = 0; ok && x < s.touched.size(); ++x) ok = keeps_rule(rule, net, s, s.touched[x]);
  if (ok) {
    moves.clear();
    for (int k : s.touched)
      if (s.shift[k] != net.shift[k]) moves.push_back({k, s.shift[k]});
  }
  for (int k : s.touched) s.mark[k] = 0;
  return ok;
}

bool headways_hold(const HeadwayRule& rule, const std::vector<int>& shift) {
  if (rule.max_change < 0) return true;
  for (size_t k = 1; k < rule.next.size(); ++k)
    if (rule.next[k] != 0 && std::abs(shift[rule.next[k]] - shift[k]) > rule.max_change) return false;
  return true;
}

}  // namespace search
