// The fewest vehicles that any timetable within the shift windows can need:
// every schedule chains its trips by connections, one vehicle per chain, and
// a connection that any shifts within the windows (and the headway rule) can
// make is one that the shifts moving the two trips furthest apart make. With
// all those connections open at once, the fewest chains (trips less a
// largest matching of trip ends to trip starts) bound every timetable's
// schedule from below, whatever order its trips take after shifting.
#pragma once

#include "search/headway.h"
#include "search/shift_network.h"

namespace search {

int vehicle_lower_bound(const ShiftNetwork& net, const HeadwayRule& rule);

}  // namespace search
