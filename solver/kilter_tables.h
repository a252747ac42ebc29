// The fast solve's working tables (KilterWork in kilter.h): how they are
// built from the network, brought up to date with the arcs appended since
// the last solve, and kept in step with each flow change. Shared by the solve
// and its invariant checks; the opening block of kilter.h says what the
// tables hold.
#pragma once

#include <algorithm>

#include "solver/kilter.h"

namespace solver {

// Node v's back list, near or far.
inline BackEntry* back_list(KilterWork& w, int v) {
  return w.back_count[v] <= BACK_NEAR ? &w.back_near[static_cast<size_t>(v) * BACK_NEAR] : &w.back[w.in_begin[v]];
}
inline const BackEntry* back_list(const KilterWork& w, int v) {
  return back_list(const_cast<KilterWork&>(w), v);
}

// The place in out of the entry at list position pos of node v: each node's
// entries follow the sentinels that end the lists of the nodes before it.
inline int out_index(int v, int pos) { return pos + v - 1; }

inline BackEntry back_entry(const Network& net, int e) {
  return BackEntry{e, net.tail[e], net.cost[e], net.flow[e] > net.upper[e]};
}

// Out-of-kilter test of one arc; 0 in kilter, +1 must rise, -1 must fall.
inline int kilter_direction(const Network& net, int e, int rc) {
  const int f = net.flow[e];
  if (f < net.lower[e] || (rc < 0 && f < net.upper[e])) return 1;
  if (f > net.upper[e] || (rc > 0 && f > net.lower[e])) return -1;
  return 0;
}

// The working tables for the network as it stands, outside any phase; false
// (and built false) when the fast road cannot take this network.
bool build_work(const Network& net, KilterWork& w);

// The tables kept from the last solve, with the arcs appended since brought
// in (as note_appended_arcs describes them); what build_work would make.
// False, with nothing changed, when a new arc does not fit the fast road.
bool append_to_work(const Network& net, KilterWork& w);

// Brings the working tables up to date after the flow of arc e changed from old.
inline void flow_changed(const Network& net, KilterWork& w, int e, int old) {
  const int f = net.flow[e];
  w.out[out_index(net.tail[e], w.arc_out_pos[e])].head = f < net.upper[e] ? net.head[e] : 0;
  w.below_lower[net.tail[e]] += (f < net.lower[e]) - (old < net.lower[e]);
  const bool was_back = old > net.lower[e];
  const bool is_back = f > net.lower[e];
  const int h = net.head[e];
  int& count = w.back_count[h];
  if (was_back && is_back) {
    BackEntry* list = back_list(w, h);
    int i = 0;
    while (list[i].arc != e) ++i;
    list[i].above_upper = f > net.upper[e];
  } else if (is_back) {
    // The list moves out of the node's near slots when it outgrows them.
    if (count == BACK_NEAR) std::copy_n(back_list(w, h), count, &w.back[w.in_begin[h]]);
    int i = count++;
    BackEntry* list = back_list(w, h);
    const int p = w.arc_in_pos[e];
    while (i > 0 && w.arc_in_pos[list[i - 1].arc] > p) {
      list[i] = list[i - 1];
      --i;
    }
    list[i] = back_entry(net, e);
  } else if (was_back) {
    BackEntry* list = back_list(w, h);
    int i = 0;
    while (list[i].arc != e) ++i;
    for (; i + 1 < count; ++i) list[i] = list[i + 1];
    --count;
    if (count == BACK_NEAR) std::copy_n(&w.back[w.in_begin[h]], count, back_list(w, h));
  }
}

}  // namespace solver
