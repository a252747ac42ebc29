"""The rule by which the solver's network connects one trip to a later one,
and the size of the network it builds for a timetable: short connection arcs
held in memory and long-arc records written to its file."""

from __future__ import annotations

import bisect
import collections
from typing import Callable, Optional, Sequence

from .files import TripRow


SHORT, LONG = "short", "long"


def earliest_connection(ready: int, direct: int, via_depot: int = 0, groups: bool = False) -> int:
    """The earliest departure at which a later trip connects to a trip that
    is ready (arrived, its minimum layover over) at `ready`.  Where link groups
    are in force the solver measures the way there by the shorter of the
    direct dead run and the way through the depot (and still charges the
    direct one)."""
    return ready + (min(direct, via_depot) if groups else direct)


def long_from(ready: int, via_depot: int, short_arc_param: int) -> int:
    """The earliest departure at which the connection is a long one: time to
    go to the depot and back with the short-arc parameter to spare."""
    return ready + via_depot + short_arc_param


def connection_kind(ready: int, departure: int, direct: int, via_depot: int, short_arc_param: int,
                    groups: bool = False) -> Optional[str]:
    """SHORT, LONG, or None where the later trip departs too early."""
    if departure < earliest_connection(ready, direct, via_depot, groups):
        return None
    return LONG if departure >= long_from(ready, via_depot, short_arc_param) else SHORT


def count_connection_arcs(trips: Sequence[TripRow], terminal_of: Callable[[str], int],
                          matrix: Sequence[Sequence[int]], short_arc_param: int) -> tuple[int, int]:
    """Short connection arcs and long-arc records that network generation makes.

    For trips i before j in file order (the file is in order of departure),
    the pair connects as connection_kind says (without link groups): through a
    short arc held in memory or a long-arc record in the temporary file.
    `terminal_of` maps a name to its terminal number.
    """
    by_origin: dict[int, tuple[list[int], list[int]]] = collections.defaultdict(lambda: ([], []))
    for index, trip in enumerate(trips):
        departures, indices = by_origin[terminal_of(trip.origin)]
        departures.append(trip.departure)
        indices.append(index)
    short = long_ = 0
    for index, trip in enumerate(trips):
        end = terminal_of(trip.destination)
        ready = trip.arrival + trip.min_layover
        for start, (departures, indices) in by_origin.items():
            # later trips only: positions after `index` in this list
            first_later = bisect.bisect_right(indices, index)
            earliest = earliest_connection(ready, matrix[end][start])
            long_start = long_from(ready, matrix[end][0] + matrix[0][start], short_arc_param)
            first_feasible = max(first_later, bisect.bisect_left(departures, earliest))
            first_long = max(first_feasible, bisect.bisect_left(departures, long_start))
            short += first_long - first_feasible
            long_ += len(departures) - first_long
    return short, long_


def arcs_in_memory(num_trips: int, short_arcs: int) -> int:
    """Arcs of the first network: pull-out, trip and pull-in per trip, the
    short connections and the return arc."""
    return 3 * num_trips + short_arcs + 1
