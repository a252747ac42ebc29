// The headway rule: consecutive departures of one line from one terminal (a
// series, in the order of the times read) keep their gap within a few
// minutes of the gap read, i.e. two neighbours' shifts differ by at most the
// allowed change. The first and last trip of a series have a neighbour on one
// side only. A candidate's moves are completed here: each neighbour the
// moves pull out of the rule follows by as little as it needs.
#pragma once

#include <vector>

#include "search/shift_network.h"

namespace search {

struct HeadwayRule {
  int max_change = -1;        // minutes; -1 no rule
  std::vector<int> previous;  // per trip, the trip before in its series; 0 none
  std::vector<int> next;      // per trip, the trip after; 0 none
  std::vector<int> series;    // per trip, its series (1..)
  std::vector<int> position;  // per trip, its place in the series (0..)
};

// Series by line key and origin terminal, each in the order of departure read
// (ties in the order read).
HeadwayRule make_headway_rule(const Problem& problem, int max_change);

// The largest amount by which trip j may move later relative to trip i when
// both stay in their windows and the rule holds.
int largest_relative_shift(const HeadwayRule& rule, const ShiftNetwork& net, int i, int j);

// Per search: the shifts of the trips a candidate touches.
struct HeadwayScratch {
  std::vector<int> shift;     // per trip, valid where marked
  std::vector<char> mark;     // per trip: 2 its shift is wanted, 1 it follows, 0 untouched
  std::vector<int> touched;
};

// Completes `moves` (wanted shifts) with the moves of the neighbours the rule
// makes follow. False when the rule cannot hold with the wanted shifts (two
// of them too far apart, or a window too narrow); moves is then unchanged.
bool complete_moves(const HeadwayRule& rule, const ShiftNetwork& net, HeadwayScratch& scratch,
                    std::vector<TripShift>& moves);

// Whether every pair of neighbours keeps the rule at these shifts (per trip).
bool headways_hold(const HeadwayRule& rule, const std::vector<int>& shift);

}  // namespace search
