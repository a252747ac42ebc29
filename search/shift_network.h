// The schedule of a timetable whose departures may move, kept optimal as trips
// move. It owns a min-cost flow network equivalent to the solver's (same
// optimum as Tovarin's Tarsel.sol for the same trip file), built once for the
// whole shift window, and the repair that brings it back to optimum after a
// few trips moved.
//
// The network. Trip i's end node E_i supplies one vehicle, its start node S_i
// needs one. A vehicle leaving E_i goes
//   - straight to S_j over a connection arc (the solver's short connection,
//     or every connection when the long ones cannot go through the depot line),
//   - to the vehicle node V (its pull-in) and from V to some S_j (that trip's
//     pull-out plus one vehicle, VEHICLE_COST), or
//   - into the depot line at the time it can be ready there again
//     (arrival + minimum layover + dead run to the depot + the short arc
//     parameter), along the line to a later time, and out to S_j when that
//     time is no later than S_j's departure less its dead run from the depot.
// The depot line stands for the solver's long connection arcs, whose cost is
// pull-in + pull-out + short arc parameter whatever the gap: one arc in and
// one out per trip instead of one arc per pair. It is used only where it is
// exact (no link preference groups, no dead run that beats the depot road by
// more than the short arc parameter, every long connection going forward in
// departure order); otherwise every connection is an arc of its own.
//
// Arcs for every connection that any shift within the window can create
// exist from the start; a shift only changes their cost and whether they are
// open (capacity 1) or closed (capacity 0), so the structure never changes.
//
// Optimality: node potentials pi with reduced cost rc = cost + pi(tail) -
// pi(head); an optimal flow has rc >= 0 on every arc with room to rise and
// rc <= 0 on every arc with flow. Moving trip k changes only arcs at E_k and
// S_k: their flow is taken out, pi(E_k) and pi(S_k) are set so that their
// arcs are in kilter again, and the units taken out are sent back along
// shortest paths in reduced costs (successive shortest paths, Dijkstra),
// which keeps every reduced cost in kilter. The result is optimal, so its
// cost is the solver's optimum for that timetable.
//
// Every change is journaled, so that a rejected candidate is undone exactly.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "solver/problem.h"

namespace search {

using solver::Problem;
using solver::Trip;

struct TripShift {
  int trip = 0;   // 1..num_trips, in the order read
  int shift = 0;  // minutes from the departure read
};

struct ShiftNetwork {
  const Problem* read = nullptr;  // the timetable read
  Problem current;                // trips at their current times, in the order read
  int num_trips = 0;
  int max_shift = 0;
  bool depot_line = false;  // long connections through the depot line
  std::vector<int> shift;   // per trip, minutes from the departure read
  // Per trip, the shifts allowed: within the window, and keeping its times
  // within 00:00 and 99:59, which is what a trip line can hold.
  std::vector<int> lowest_shift, highest_shift;
  int moved = 0;            // trips with a shift other than 0

  // Nodes: E_i = i, S_i = T + i, V = 2T + 1, the depot line from 2T + 2 on;
  // nodes 1..num_nodes, as in the solver's network. The ends come first,
  // the other way round from the solver's trip nodes: the repair settles
  // nodes of equal distance in the order of their numbers, and so picks one
  // of several equally cheap schedules by it. Another numbering would keep
  // the cost but could change the vehicle count of a schedule, and with it
  // the runs a seed gives.
  int num_nodes = 0;
  int vehicle_node = 0;
  int first_line_node = 0;
  std::vector<int> line_time;  // time of each depot line node, increasing

  // Arcs 0..num_arcs-1.
  int num_arcs = 0;
  std::vector<int> tail, head, cost, cap, flow;
  // Arcs are numbered by tail: node n's arcs out are out_begin[n] ..
  // out_begin[n + 1] - 1, so that a search reads them front to back.
  std::vector<int> out_begin;
  std::vector<int> in_begin, in_list;  // arcs by head
  // The arc that brings S_j its vehicle, -1 while none does: the only way
  // back from S_j, which has no arcs out.
  std::vector<int> feeding;
  // Arcs whose cost and capacity depend on the shifts: per trip, the
  // connections out of E_i and into S_i, then its depot line arcs (one per
  // shift value of the window: E_i in, then S_i out).
  std::vector<int> conn_out_begin, conn_out;
  std::vector<int> conn_in_begin, conn_in;
  // Without a depot line both are empty; else trip k's arcs for shift s are
  // at (k - 1) * (2 * max_shift + 1) + s + max_shift.
  std::vector<int> line_in, line_out;

  // Potentials; only their differences matter.
  std::vector<int64_t> pi;
  std::vector<int> excess;
  std::vector<int> unbalanced;

  int64_t total_cost = 0;  // what Tovarin writes to Tarsel.sol
  int vehicles = 0;

  // Journal of the candidate being evaluated.
  struct ArcChange {
    int arc, cost, cap, flow;
  };
  struct PotentialChange {
    int node;
    int64_t pi;
  };
  std::vector<ArcChange> arc_journal;
  std::vector<PotentialChange> pi_journal;
  std::vector<TripShift> shift_journal;
  bool pending = false;
  int64_t saved_total = 0;
  int saved_vehicles = 0, saved_moved = 0;

  // Dijkstra scratch.
  std::vector<int64_t> dist;
  std::vector<int> stamp, done_stamp, pred;
  int current_stamp = 0;
  std::vector<int> settled;

  int64_t dijkstra_pops = 0;  // work measure for the closing figures
};

// Builds the network for the timetable read with every trip allowed to move
// by up to max_shift minutes, and solves it from scratch (all shifts 0).
void build_shift_network(const Problem& problem, int max_shift, ShiftNetwork& net);

// Moves the given trips to the given shifts and brings the schedule back to
// optimum. The change stays pending until commit or undo.
void apply_shifts(ShiftNetwork& net, const TripShift* moves, int count);
void commit_shifts(ShiftNetwork& net);
void undo_shifts(ShiftNetwork& net);

// Trip numbers (in the order read) sorted by current departure, ties in the
// order read: the order of the trip file that gives this network's cost.
std::vector<int> trip_file_order(const ShiftNetwork& net);
std::vector<int> trip_file_order(const Problem& read, const std::vector<int>& shift);

// Checks flow bounds, conservation, every reduced cost and the totals: the
// first that fails, or empty when all hold (as the solver's own check).
std::string check_shift_network(const ShiftNetwork& net);

}  // namespace search
