"""A solved problem directory: trip file, block file, solution and, where
gtfs_import made the problem, the legend files that lead back to the feed."""

from __future__ import annotations

import csv
import os
from typing import Optional

from .blocks import Block, BlockTrip, match_block_trips, read_block_file
from .files import TripRow, read_solution, read_trip_file


class Solved:
    def __init__(self, directory: str) -> None:
        self.directory = directory
        self.trip_file = read_trip_file(os.path.join(directory, "Tarsel.bss"))
        self.block_file = read_block_file(os.path.join(directory, "Tarsel.bla"))
        solution = os.path.join(directory, "Tarsel.sol")
        self.total_cost: Optional[int] = read_solution(solution) if os.path.exists(solution) else None
        self.matched, self.unmatched = match_block_trips(self.trip_file, self.block_file)
        self.gtfs_trip_ids, self.line_names = read_legend(directory)

    def trip_of(self, block: Block, line: BlockTrip) -> Optional[TripRow]:
        """The TripRow a block line stands for, or None."""
        return self.matched.get((block.number, line.position))

    def gtfs_trip_id(self, trip: Optional[TripRow]) -> str:
        return self.gtfs_trip_ids.get(trip.aux_value, "") if trip is not None else ""


def read_legend(directory: str) -> tuple[dict[int, str], dict[str, str]]:
    """aux value -> GTFS trip_id and line key text -> route short name, from the
    legend files that gtfs_import writes; empty where they are absent."""
    trip_ids: dict[int, str] = {}
    names: dict[str, str] = {}
    path = os.path.join(directory, "legend_trips.csv")
    if os.path.exists(path):
        with open(path, encoding="utf-8", newline="") as handle:
            for row in csv.DictReader(handle):
                trip_ids[int(row["aux_value"])] = row["trip_id"]
    path = os.path.join(directory, "legend_lines.csv")
    if os.path.exists(path):
        with open(path, encoding="utf-8", newline="") as handle:
            for row in csv.DictReader(handle):
                names.setdefault(row["line_key"], row["route_short_name"])
    return trip_ids, names
