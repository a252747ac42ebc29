#include "tests/support/random_problem.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <vector>

Problem random_problem(unsigned seed, const RandomProblemShape& shape) {
  std::mt19937 rng(seed);
  auto uniform = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  Problem p;
  p.num_terminals = uniform(2, shape.max_terminals);
  std::vector<std::pair<int, int>> points(p.num_terminals);
  for (auto& pt : points) pt = {uniform(0, 40), uniform(0, 40)};
  for (int t = 0; t < p.num_terminals; ++t) {
    std::snprintf(p.terminal_names[t], TERMINAL_NAME_SLOT, t == 0 ? "DEPOT" : "T%02d", t);
    for (int u = 0; u < p.num_terminals; ++u) {
      int dx = points[t].first - points[u].first, dy = points[t].second - points[u].second;
      p.deadrun_matrix[t][u] = t == u ? 0 : 1 + std::abs(dx) + std::abs(dy) / 2 + uniform(0, 3);
    }
  }
  p.params.dead_run_mult = 1.0f;
  p.params.min_depot_time = uniform(0, 60);
  p.params.deadrun_weight = uniform(1, 10);
  p.params.layover_weight = uniform(0, 5);
  p.params.short_arc_param = uniform(0, 90);

  p.num_trips = uniform(shape.min_trips, shape.max_trips);
  std::vector<Trip> trips(p.num_trips);
  for (Trip& t : trips) {
    t.origin_terminal = uniform(1, p.num_terminals - 1);
    t.destination_terminal = uniform(1, p.num_terminals - 1);
    t.departure_time = uniform(300, 1300);
    t.arrival_time = t.departure_time + p.deadrun_matrix[t.origin_terminal][t.destination_terminal] + uniform(5, 60);
    if (t.arrival_time > 23 * 60 + 59) t.arrival_time = 23 * 60 + 59;
    t.group_key = static_cast<float>(101 + uniform(0, 4)) + (uniform(0, 3) == 0 ? 0.25f : 0.0f);
    t.aux_value = uniform(0, 999);
    t.min_layover = uniform(0, 6);
  }
  std::stable_sort(trips.begin(), trips.end(),
                   [](const Trip& a, const Trip& b) { return a.departure_time < b.departure_time; });
  for (int i = 0; i < p.num_trips; ++i) p.trips[i + 1] = trips[i];

  if (shape.groups) {
    p.link_preference_cost = uniform(1, 20);
    p.num_groups = uniform(1, 3);
    for (int g = 1; g <= p.num_groups; ++g) {
      Group& group = p.groups[g];
      int n = 0;
      for (int key = 101; key <= 105; ++key)
        if (uniform(0, 2) != 0) group.members[++n] = key;
      if (n == 0) group.members[++n] = 101;
      group.members[n + 1] = GROUP_END_MARKER;
      int nf = 0, nt = 0;
      for (int s = 1; s <= n; ++s) {
        float key = static_cast<float>(group.members[s]);
        if (uniform(0, 3) != 0) group.from_keys[++nf] = key;
        if (uniform(0, 3) != 0) group.to_keys[++nt] = key;
        if (uniform(0, 2) == 0) group.from_keys[++nf] = key + 0.25f;
        if (uniform(0, 2) == 0) group.to_keys[++nt] = key + 0.25f;
      }
      if (nf == 0) group.from_keys[++nf] = static_cast<float>(group.members[1]);
      if (nt == 0) group.to_keys[++nt] = static_cast<float>(group.members[1]);
      group.from_keys[nf + 1] = static_cast<float>(GROUP_END_MARKER);
      group.to_keys[nt + 1] = static_cast<float>(GROUP_END_MARKER);
    }
  }
  return p;
}

namespace {
std::string hhmm(int minutes) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%02d%02d", minutes / 60, minutes % 60);
  return buf;
}
}  // namespace

void write_problem_files(const std::string& dir, const Problem& p) {
  char buf[256];
  std::ostringstream ini;
  ini << "[Parameters]\n";
  std::snprintf(buf, sizeof buf, "%-18s%.2f\n", "DeadRunMult:", p.params.dead_run_mult);
  ini << buf;
  std::snprintf(buf, sizeof buf, "%-15s%02d:%02d\n", "MinDepotTime:", p.params.min_depot_time / 60,
                p.params.min_depot_time % 60);
  ini << buf;
  std::snprintf(buf, sizeof buf, "%-14s %d\n%-14s %d\n%-14s %d\n", "DeadrunWeight:", p.params.deadrun_weight,
                "LayoverWeight:", p.params.layover_weight, "ShortArcParam:", p.params.short_arc_param);
  ini << buf;
  write_whole_file(dir + "Tarsel.ini", ini.str());

  std::ostringstream bss;
  bss << "# Rede criada com base nos hor\xE1rios de partida e chegadas das viagens\n# Mon Jan 01 00:00:00\n\n";
  bss << "[DEAD_RUN_MATRIX]\n";
  std::snprintf(buf, sizeof buf, "%-16s%d\n", "Num. Terminals:", p.num_terminals);
  bss << buf << "names and matrix\n";
  for (int t = 0; t < p.num_terminals; ++t) bss << (t ? " " : "") << p.terminal_names[t];
  bss << "\n";
  for (int t = 0; t < p.num_terminals; ++t) {
    bss << p.terminal_names[t];
    for (int u = 0; u < p.num_terminals; ++u) {
      std::snprintf(buf, sizeof buf, " %d:%02d", p.deadrun_matrix[t][u] / 60, p.deadrun_matrix[t][u] % 60);
      bss << buf;
    }
    if (t + 1 < p.num_terminals) bss << "\n";
  }
  bss << "\n\n[TRIP] 5";
  for (int i = 1; i <= p.num_trips; ++i) {
    const Trip& t = p.trips[i];
    std::snprintf(buf, sizeof buf, "\n%s%-4d = %s, %-8s     | %s, %-8s     | %.2f \t%d\t%d", "Trip", i - 1,
                  hhmm(t.departure_time).c_str(), p.terminal_names[t.origin_terminal], hhmm(t.arrival_time).c_str(),
                  p.terminal_names[t.destination_terminal], t.group_key, t.aux_value, t.min_layover);
    bss << buf;
  }
  bss << "\n-----------------------------------------------------------\n";
  bss << "Total de viagens: " << p.num_trips << "\n";
  bss << "\nTempo total de opera\xE7\xE3o: 00:00\n";
  write_whole_file(dir + "Tarsel.bss", bss.str());

  if (p.num_groups > 0) {
    std::ostringstream prr;
    prr << "Link preference groups\n";
    std::snprintf(buf, sizeof buf, "%-11s%d\n", "Cost:", p.link_preference_cost);
    prr << buf;
    for (int g = 1; g <= p.num_groups; ++g) {
      const Group& group = p.groups[g];
      prr << "Group = ";
      for (int s = 1; group.members[s] != GROUP_END_MARKER; ++s) prr << (s > 1 ? " " : "") << group.members[s];
      prr << "\nFrom keys:";
      for (int s = 1; group.from_keys[s] != static_cast<float>(GROUP_END_MARKER); ++s) {
        std::snprintf(buf, sizeof buf, "%s%.2f", s > 1 ? " " : "", group.from_keys[s]);
        prr << buf;
      }
      prr << "\nTo keys:    ";
      for (int s = 1; group.to_keys[s] != static_cast<float>(GROUP_END_MARKER); ++s) {
        std::snprintf(buf, sizeof buf, "%s%.2f", s > 1 ? " " : "", group.to_keys[s]);
        prr << buf;
      }
      prr << "\n";
    }
    prr << "End\n";
    write_whole_file(dir + "Tarsel.prr", prr.str());
  }
}
