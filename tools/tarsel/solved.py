"""A solved problem directory: trip file, block file, solution and, where
gtfs_import made the problem, the legend files that lead back to the feed.

Every lookup answers for a problem without legend files too: a route is then
known by its line key, a terminal by its short name, and what only the feed
could tell (feed name, service day, GTFS trip_id, block_id) is empty."""

from __future__ import annotations

import csv
import datetime
import math
import os
import re
import sys
from dataclasses import dataclass, field
from typing import Iterator, Optional

from .blocks import (Block, BlockTrip, check_block_file, interlinings, is_late, match_block_trips,
                     read_block_file)
from .files import FormatError, TripRow, format_key, read_solution, read_trip_file

_TITLE = re.compile(r"Tarsel problem from GTFS feed (.*), (date|service) (.*) \(gtfs_import\)\s*$")


@dataclass
class Route:
    """One route of the feed that a line key stands for."""

    route_id: str
    short_name: str
    long_name: str
    colour: str          # "#rrggbb", or "" where the feed gives none


@dataclass
class FeedTrip:
    """What legend_trips.csv tells of one trip, by its aux value."""

    trip_id: str
    route_id: str
    route_short_name: str
    block_id: str


@dataclass
class Legend:
    feed_name: str = ""
    service_date: str = ""           # YYYYMMDD where the import chose a date
    service_ids: str = ""            # the --service list where it chose services
    stop_names: dict[str, str] = field(default_factory=dict)      # terminal short name -> stop name
    depot_short_name: str = ""
    trips: dict[int, FeedTrip] = field(default_factory=dict)      # aux value -> feed trip
    routes: dict[str, list[Route]] = field(default_factory=dict)  # line key text -> routes


BLOCK_FILE = "Tarsel.bla"


class Solved:
    def __init__(self, directory: str, block_name: str = BLOCK_FILE) -> None:
        """`block_name`: the solver's Tarsel.bla, or another schedule in its
        layout, such as the operator's blocks of operator_blocks."""
        self.directory = directory
        self.block_name = block_name
        self.trip_file = read_trip_file(os.path.join(directory, "Tarsel.bss"))
        self.block_file = read_block_file(os.path.join(directory, block_name))
        solution = os.path.join(directory, "Tarsel.sol")
        self.total_cost: Optional[int] = read_solution(solution) if os.path.exists(solution) else None
        self.matched, self.unmatched = match_block_trips(self.trip_file, self.block_file)
        self.legend = read_legend(directory)
        # Kept for readers that take the plain maps.
        self.gtfs_trip_ids = {aux: t.trip_id for aux, t in self.legend.trips.items()}
        self.line_names = {key: routes[0].short_name for key, routes in self.legend.routes.items()}

    @property
    def interlinings(self) -> int:
        """Changes of line between two consecutive trips of a vehicle."""
        return interlinings([[line.line_key for line in b.trips] for b in self.block_file.blocks])

    def trip_of(self, block: Block, line: BlockTrip) -> Optional[TripRow]:
        """The TripRow a block line stands for, or None."""
        return self.matched.get((block.number, line.position))

    def feed_trip(self, trip: Optional[TripRow]) -> Optional[FeedTrip]:
        return self.legend.trips.get(trip.aux_value) if trip is not None else None

    def gtfs_trip_id(self, trip: Optional[TripRow]) -> str:
        feed = self.feed_trip(trip)
        return feed.trip_id if feed else ""

    def block_id(self, trip: Optional[TripRow]) -> str:
        """The operator's block_id of the trip in the feed, or ""."""
        feed = self.feed_trip(trip)
        return feed.block_id if feed else ""

    @property
    def from_feed(self) -> bool:
        return bool(self.legend.feed_name or self.legend.trips)

    @property
    def feed_name(self) -> str:
        return self.legend.feed_name

    @property
    def service_day(self) -> str:
        """"Tue 6 Sep 2016", "service Summer_WKDY", or "" without a feed."""
        date = self.legend.service_date
        if date:
            try:
                day = datetime.datetime.strptime(date, "%Y%m%d")
                return "%s %d %s" % (day.strftime("%a"), day.day, day.strftime("%b %Y"))
            except ValueError:
                return date
        return "service %s" % self.legend.service_ids if self.legend.service_ids else ""

    @property
    def depot_name(self) -> str:
        """The depot's stop name, or its short name where no legend tells more."""
        depot = self.legend.depot_short_name or (self.trip_file.names[0] if self.trip_file.names else "")
        return self.stop_name(depot)

    def stop_name(self, terminal: str) -> str:
        """The stop name of a terminal short name; the short name where unknown."""
        return self.legend.stop_names.get(terminal) or terminal

    def routes(self, line_key: str) -> list[Route]:
        return self.legend.routes.get(line_key, [])

    def line_name(self, line_key: str) -> str:
        """What riders call the line: the routes' short names, else the line key."""
        names = sorted({r.short_name for r in self.routes(line_key) if r.short_name})
        return "/".join(names) if names else key_label(line_key)

    def line_long_name(self, line_key: str) -> str:
        names = sorted({r.long_name for r in self.routes(line_key) if r.long_name})
        return " / ".join(names)

    def route_short_name(self, line: BlockTrip, trip: Optional[TripRow]) -> str:
        """The short name of the route a block line's trip runs: the trip's own
        where the legend has it, else its line's; "" where the feed tells none."""
        feed = self.feed_trip(trip)
        if feed and feed.route_short_name:
            return feed.route_short_name
        return "/".join(sorted({r.short_name for r in self.routes(line.line_key) if r.short_name}))

    def route_name(self, line: BlockTrip, trip: Optional[TripRow]) -> str:
        """The route's short name, or the line key where the feed tells none."""
        return self.route_short_name(line, trip) or key_label(line.line_key)

    def route_long_name(self, line: BlockTrip, trip: Optional[TripRow]) -> str:
        feed = self.feed_trip(trip)
        if feed:
            for route in self.routes(line.line_key):
                if route.route_id == feed.route_id:
                    return route.long_name
        return self.line_long_name(line.line_key)


def key_label(key: str) -> str:
    """5.00 -> "5"; 12.50 stays "12.50"."""
    value = float(key)
    return "%d" % value if value == int(value) else key


def _rows(path: str) -> Iterator[tuple[str, dict[str, str]]]:
    """The rows of a legend file, each with "file:line" for messages."""
    if not os.path.exists(path):
        return
    with open(path, encoding="utf-8", errors="replace", newline="") as handle:
        reader = csv.DictReader(handle)
        for row in reader:
            yield "%s:%d" % (path, reader.line_num), {k: v for k, v in row.items() if isinstance(k, str)}


def _number(where: str, row: dict[str, str], column: str, kind: type = float) -> float:
    """A column's value, a finite number of the kind, or a FormatError."""
    try:
        value = kind((row.get(column) or "").strip())
        if math.isfinite(value):
            return float(value)
    except ValueError:
        pass
    raise FormatError("%s: %s %r is not a number: import the feed again" % (where, column, row.get(column)))


def read_legend(directory: str) -> Legend:
    """The legend files that gtfs_import writes and the feed and service day of
    Tarsel.ini's title; empty where they are absent.  Missing columns read as
    empty, so that legend files of older imports still serve."""
    legend = Legend()
    ini = os.path.join(directory, "Tarsel.ini")
    if os.path.exists(ini):
        with open(ini, "rb") as handle:
            title = handle.readline().decode("cp1252", errors="replace")
        match = _TITLE.match(title)
        if match:
            legend.feed_name = match.group(1)
            if match.group(2) == "date":
                legend.service_date = match.group(3)
            else:
                legend.service_ids = match.group(3)
    for _, row in _rows(os.path.join(directory, "legend_terminals.csv")):
        short = row.get("short_name") or ""
        legend.stop_names[short] = row.get("stop_name") or ""
        if row.get("terminal") == "0" or row.get("role") == "depot":
            legend.depot_short_name = legend.depot_short_name or short
    for where, row in _rows(os.path.join(directory, "legend_trips.csv")):
        legend.trips[int(_number(where, row, "aux_value", int))] = FeedTrip(
            row.get("trip_id") or "", row.get("route_id") or "", row.get("route_short_name") or "",
            row.get("block_id") or "")
    for where, row in _rows(os.path.join(directory, "legend_lines.csv")):
        colour = (row.get("route_color") or "").strip().lstrip("#")
        key = format_key(_number(where, row, "line_key"))
        legend.routes.setdefault(key, []).append(Route(
            row.get("route_id") or "", row.get("route_short_name") or "", row.get("route_long_name") or "",
            "#" + colour.lower() if re.fullmatch(r"[0-9A-Fa-f]{6}", colour) else ""))
    return legend


def open_solved(program: str, directory: str, block_name: str = BLOCK_FILE) -> Optional[Solved]:
    """The solved directory, or None after one line on the standard error:
    a file that cannot be read, or a block file cut short or made from
    another trip file, of which no result may be drawn.  Connections out of
    time alone do not refuse it (the operator's own blocks break the
    problem's rules where it is stricter than the operator): they are told."""
    try:
        solved = Solved(directory, block_name)
    except (OSError, FormatError) as error:
        print("%s: %s" % (program, error), file=sys.stderr)
        return None
    faults = check_block_file(solved.trip_file, solved.block_file)
    if faults and all(is_late(f) for f in faults):
        for fault in faults[:20]:
            print("%s: %s" % (program, fault), file=sys.stderr)
        print("%s: %d connection(s) that the problem's rules forbid" % (program, len(faults)), file=sys.stderr)
    elif faults:
        print("%s: %s does not belong to %s (%d fault%s: %s%s): solve the problem again"
              % (program, os.path.join(directory, block_name), os.path.join(directory, "Tarsel.bss"),
                 len(faults), "" if len(faults) == 1 else "s", "; ".join(faults[:3]),
                 "; ..." if len(faults) > 3 else ""), file=sys.stderr)
        return None
    return solved
