"""The size of the network that the solver builds for a timetable: short
connection arcs held in memory and long-arc records written to its file."""

from __future__ import annotations

import bisect
import collections
from typing import Callable, Sequence

from .files import TripRow


def count_connection_arcs(trips: Sequence[TripRow], terminal_of: Callable[[str], int],
                          matrix: Sequence[Sequence[int]], short_arc_param: int) -> tuple[int, int]:
    """Short connection arcs and long-arc records that network generation makes.

    For trips i before j in file order (the file is in order of departure), let
    available = departure(j) - arrival(i) - min_layover(i): the pair connects
    when available >= the direct dead run, through a short arc held in memory
    when available < the dead runs via the depot + short_arc_param, else
    through a long-arc record in the temporary file.  `terminal_of` maps a
    name to its terminal number.
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
            first_feasible = max(first_later, bisect.bisect_left(departures, ready + matrix[end][start]))
            limit = ready + matrix[end][0] + matrix[0][start] + short_arc_param
            first_long = max(first_feasible, bisect.bisect_left(departures, limit))
            short += first_long - first_feasible
            long_ += len(departures) - first_long
    return short, long_


def arcs_in_memory(num_trips: int, short_arcs: int) -> int:
    """Arcs of the first network: pull-out, trip and pull-in per trip, the
    short connections and the return arc."""
    return 3 * num_trips + short_arcs + 1
