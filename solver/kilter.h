// The out-of-kilter solve: node prices and flows that together prove a
// circulation of least cost, reached by the fast road. The method one
// iteration at a time is in kilter_steps.h; this solve gives the same flows,
// reduced costs and iteration counts.
//
// THE METHOD. Every node has a price, every arc the reduced cost
// rc(e) = cost(e) + price(tail) - price(head). An arc is in kilter when
// rc > 0 and flow = lower, rc < 0 and flow = upper, or rc = 0 and
// lower <= flow <= upper; flows and prices with every arc in kilter prove
// the circulation optimal. An iteration takes the first arc a, from scan_arc
// on, that is out of kilter, and searches breadth-first from one end of a for
// the other over the usable arcs: forwards over an arc below its lower bound,
// or with rc <= 0 below its upper bound; backwards over an arc above its upper
// bound, or with rc >= 0 above its lower bound. Reaching the far end
// (breakthrough) closes a cycle through a; the flow changes around it. Without
// breakthrough, the nodes not reached are all raised in price by the smallest
// amount that makes one more arc usable or brings a into kilter; if nothing
// bounds that amount there is no feasible circulation. An arc in kilter stays
// in kilter, so the scan never goes back.
//
// THE FAST ROAD. The searches that repair one arc a form a phase. A search
// without breakthrough depends only on the set it reaches, and the next one
// for the same arc reaches that set again (no flow changed, and the price
// change left the arcs inside the set alone), plus whatever the newly usable
// arcs add. So the set is grown, never searched anew, and the unreached nodes
// next to it wait in a queue keyed by the total price change at which an arc
// to them becomes usable. Only the search that breaks through needs labels;
// they depend only on the prices and flows at that moment (the plain search
// starts afresh each time), so one breadth-first layout at the breakthrough
// gives exactly the labels of the plain method.
//
// INVARIANTS. Positions in the packed lists count from 0; node and arc numbers
// from 1. During a solve, between iterations:
//  - lower <= upper for every arc (otherwise the solve takes the plain road).
//  - out_begin[v] .. out_begin[v + 1] - 1 hold node v's out-list in list
//    order: out_arc[pos] is the arc, arc_out_pos[arc] its position, and
//    out[pos + v - 1] = {head, cost}, where head is 0 while the arc has no
//    room to rise (flow >= upper). Node 0 counts as reached, so such an arc
//    is passed over by the same test that passes over arcs into the reached
//    set. After each list, out[out_begin[v + 1] + v - 1] is a sentinel
//    {num_nodes + 1, SENTINEL_COST}: that node's bound (and limit) is always
//    NO_BOUND, which no cost plus price reaches, so the loops that pass over
//    arcs stop there without testing for the list's end.
//  - in_begin / in_arc / arc_in_pos: the same for the in-lists. They give the
//    order of the back lists and each node a stretch of back as long as its
//    in-list.
//  - back list of v: exactly the arcs into v with flow > lower (the only ones
//    a search can go back over), in in-list order, back_count[v] of them, each
//    with its tail, cost and whether flow > upper (then usable whatever its
//    reduced cost). While back_count[v] <= BACK_NEAR they stand in v's near
//    slots back_near[v * BACK_NEAR ...], else at back[in_begin[v]] onwards.
//  - below_lower[v]: the number of v's out-arcs with flow < lower; while it
//    is 0, reading v's out-list needs no look at the flows.
//  - Outside a phase: bound[0] is REACHED and every other bound NO_BOUND, the
//    queue, keyed and members are empty and queue_key is 0 everywhere. The
//    true price of a node is price[v] + price_offset, a raise common to all
//    nodes that the phases leave there; it is 0 outside a solve.
//  Within a phase, with T its price change so far (true prices below are
//    less price_offset):
//  - members: the reached set, in the order the nodes joined, which for the
//    phase's first search is the order of the breadth-first labeling.
//  - price[v] of an unreached node is its true price less T (the raise by T
//    waits for the end of the phase); a node that joins adds T to its stored
//    price, which is then its true price. The lazy price, stored price less T
//    for reached nodes, is the true price less T for every node: reduced costs
//    taken on lazy prices are the true ones.
//  - Keys do not change within a phase: the key of an unreached node h over
//    an out-arc e from reached v is cost(e) + price[v] - price[h] (rc(e) is 0
//    when T reaches it), over a back arc from h into v it is
//    price[v] - cost(e) - price[h]. queue_key[v] is the lowest key of a
//    keyed node (keys exceed T >= 0, so 0 means none). The queue holds an
//    item for every key a node was given; the current ones, whose node has
//    that key and has not joined, are the queue proper, the others are
//    dropped when met.
//  - The queue's buckets: bucket b < QUEUE_BUCKETS holds the items of keys
//    queue_base + b, the last one (QUEUE_BUCKETS) every key above; each is a
//    list through queue_items[i].next from queue_first[b] (item numbers plus
//    one, 0 ends a list), and bit b of queue_used is set while bucket b is
//    not empty. Every bucket below queue_low is empty, and queue_base is at
//    most T: keys only rise above T, and the queue is rebased only when its
//    buckets are empty.
//  - keyed: every node that entered the queue in the phase.
//  - bound[v] is REACHED for members and node 0, key + price[v] for a keyed
//    node, NO_BOUND for the rest. So one comparison per out-arc,
//    cost + price of its tail against the bound of its head, passes over
//    every arc that neither reaches nor improves anything.
//  - The arc a itself never joins a node, but bounds the price change by
//    arc_key - T (the total at which it comes into kilter), and a phase ends
//    as soon as a is no longer out of kilter in its direction. a may key its
//    far node with that same total; the phase ends before the key is reached.
//  - label and pred_arc are meaningful only along the cycle of the last
//    breakthrough; the other nodes keep what earlier searches left.
#pragma once

#include <climits>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "solver/counters.h"
#include "solver/network.h"

namespace solver {

inline constexpr int INFINITE_DELTA = 999999;
inline constexpr int BACK_NEAR = 3;         // near slots of a back list per node
inline constexpr int REACHED = INT_MIN;     // bound of a member of the reached set, and of node 0
inline constexpr int NO_BOUND = INT_MAX;    // bound of a node without a key
inline constexpr int SENTINEL_COST = -1;    // cost of the sentinel ending each out-list: below NO_BOUND with any price

// Entries of the packed lists (see the opening block).
struct OutEntry {
  int head;  // 0 while the arc has no room to rise
  int cost;
};

struct BackEntry {
  int arc;
  int tail;
  int cost;
  int above_upper;  // flow above the upper bound
};

struct QueueItem {
  int node;
  int key;
  int next;  // the next item of the bucket plus one, 0 at its end
  int unused = 0;  // makes an item 16 bytes, so that counting items takes a shift, not a division
};

// The common price offset goes into the stored prices once it exceeds this,
// so that stored prices stay as far from overflow as the true ones. Low
// enough that a solve of a few hundred trips folds it, rarely enough (every
// few hundred phases) to cost nothing.
inline constexpr int PRICE_OFFSET_FOLD = 1 << 16;

inline constexpr int QUEUE_BUCKETS = 2048;  // buckets of single keys; one more holds the keys above

// The fast solve's working tables, built from the network at the start of a
// solve. When arc generation vouches that the network has only gained arcs
// at the ends of its lists since the last solve, the next solve brings just
// those into the tables it kept.
struct KilterWork {
  bool built = false;  // the tables describe the network (the fast road is taken)
  const Network* net = nullptr;  // the network they were made for, and its lists_made then
  unsigned lists_made = 0;
  int num_nodes = 0;
  int num_arcs = 0;    // arcs 1..num_arcs are in the tables
  // Arcs 1..vouched_arcs are known to the next solve: those in the tables
  // and those appended since, by arc generation's word. -1 without that word.
  int vouched_arcs = -1;
  std::vector<int> out_begin;
  HugeTable<OutEntry> out;
  HugeTable<int> out_arc;
  HugeTable<int> arc_out_pos;
  std::vector<int> in_begin;
  HugeTable<int> in_arc;
  HugeTable<int> arc_in_pos;
  std::vector<BackEntry, ZeroedAllocator<BackEntry>> back;
  std::vector<BackEntry> back_near;
  std::vector<int> back_count;
  std::vector<int> below_lower;
  std::vector<int> bound;
  std::vector<int> members;
  // The queue of keyed nodes: buckets of equal keys, since the keys are
  // integers that rise in small steps within a phase.
  std::vector<int> queue_key;
  std::vector<QueueItem> queue_items;
  std::vector<int> queue_first = std::vector<int>(QUEUE_BUCKETS + 1);
  std::vector<uint64_t> queue_used = std::vector<uint64_t>((QUEUE_BUCKETS + 1 + 63) / 64);
  int queue_base = 0;
  int queue_low = 0;
  int price_offset = 0;        // added to every stored price gives the true one (0 outside a solve)
  std::vector<int> keyed;
  std::vector<int> limit;      // per node, while laying out the labels
  int labels_missed = 0;       // breakthroughs whose layout did not reach the target
};

// The method's own tables (their meaning is in kilter_steps.h) and the fast
// solve's working tables.
struct KilterState {
  std::vector<int> price = std::vector<int>(MAX_NODES + 1);
  std::vector<int> label = std::vector<int>(MAX_NODES + 1);
  std::vector<int> pred_arc = std::vector<int>(MAX_NODES + 1);
  std::vector<int> queue = std::vector<int>(MAX_NODES + 1);
  int queue_in = 0;
  int queue_out = 0;
  int scan_arc = 1;
  int search_start = 0;
  int search_target = 0;
  int search_sign = 0;
  int solve_iterations = 0;
  KilterWork work;
};

inline int reduced_cost(const Network& net, const KilterState& ks, int e) {
  return net.cost[e] + ks.price[net.tail[e]] - ks.price[net.head[e]];
}

// Whether built tables were made for this network as its lists now stand
// (the same network, lists not made anew, as many nodes); the arcs they hold
// are w.num_arcs.
inline bool work_made_for(const KilterWork& w, const Network& net) {
  return w.built && w.net == &net && w.lists_made == net.lists_made && w.num_nodes == net.num_nodes;
}

// Zeroes every node's price, label and predecessor (a new network).
void reset_kilter(KilterState& ks);

// Arc generation's word that since the last solve the network has changed
// only by the arcs after arcs_before, each linked at the ends of its lists in
// increasing number: the next solve then keeps its tables and brings in just
// those arcs. Any other change must not follow this word.
void note_appended_arcs(const Network& net, KilterState& ks, int arcs_before);

// Runs the method to its end on the current network; adds to the counters and
// appends the solve's time ("\t%02d:%02d:%02d") to the iteration file if given.
SolveStatus solve_circulation(Network& net, KilterState& ks, RunCounters& counters, FILE* iteration_file);

// The first broken invariant of a finished solve (opening block, and every arc
// in kilter when the circulation is feasible), or empty when all hold.
std::string check_invariants(const Network& net, const KilterState& ks);

}  // namespace solver
