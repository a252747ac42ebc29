"""gtfs_import: a Tarsel problem directory from a GTFS feed.

    gtfs_import FEED PROBLEM_DIR [--service ID | --date YYYYMMDD] [options]

FEED is the feed's directory or zip file.  Without --service and --date the
busiest date of the feed's calendar is taken (the one with the most trips).

Writes Tarsel.ini, Tarsel.bss and Teste.mvm, which Tovarin and the annealers
read, and the legend files legend_terminals.csv, legend_trips.csv and
legend_lines.csv, which map the problem's short names and numbers back to the
feed, and legend_rules.csv, each line's minimum layover at each terminal and
where it came from (tarsel.layover_rules: by default learned from the
operator's blocks where the feed has block_id).

A trip runs from its first stop's departure (rounded down to the minute) to
its last stop's arrival (rounded up).  Times past midnight keep counting:
GTFS 25:10:00 is the trip file's 2510, as the solver's times have no wrap and
its hhmm fields take hours up to 99.  Terminals are the first and last stops,
merged through parent_station and then around the busiest stop within the
merge radius; terminal 0 is the depot.  Dead runs are the great-circle
distance times a detour factor at an average speed, rounded up to whole
minutes, at least 1 between two different terminals.
"""

from __future__ import annotations

import argparse
import collections
import csv
import datetime
import io
import math
import os
import re
import sys
import unicodedata
from dataclasses import dataclass, field
from typing import Callable, Optional, Sequence, Union

from . import files as tf
from . import interlining, layover_rules, limits
from . import feed as feed_tables
from .feed import Feed, FeedError, Table, TableStream
from .network import arcs_in_memory, count_connection_arcs

Row = dict[str, str]
Coord = tuple[float, float]

EARTH_RADIUS_KM = 6371.0088
DEPOT_NAME = "DEPOT"
NAME_STOP_WORDS = {"and", "at", "the", "of", "de", "da", "do"}


# ---------------------------------------------------------------- feed reading

FeedLike = Union[str, Feed]


def as_feed(feed: FeedLike) -> Feed:
    return feed if isinstance(feed, Feed) else Feed(feed)


def read_table(feed: FeedLike, name: str) -> list[Row]:
    """Rows of a feed file as dicts with stripped names and values, by the
    feed's strict reader (a missing file is an error)."""
    table = feed_tables.read_table(as_feed(feed), name)
    assert table is not None
    return table.rows


def read_optional_table(feed: FeedLike, name: str) -> Optional[list[Row]]:
    """As read_table; a missing file gives None."""
    table = feed_tables.read_table(as_feed(feed), name, required=False)
    return table.rows if table is not None else None


def parse_gtfs_time(text: str) -> Optional[int]:
    """Seconds after the start of the service day from "H:MM:SS" or "HH:MM:SS",
    with blanks, hours past 24 allowed.  Empty text gives None."""
    text = text.strip()
    if not text:
        return None
    match = re.fullmatch(r"(\d{1,3}):(\d{1,2})(?::(\d{1,2}))?", text)
    if not match:
        raise ValueError("not a GTFS time: %r" % text)
    hours, minutes, seconds = int(match.group(1)), int(match.group(2)), int(match.group(3) or 0)
    if minutes > 59 or seconds > 59:
        raise ValueError("not a GTFS time: %r" % text)
    return hours * 3600 + minutes * 60 + seconds


def read_calendar(feed: FeedLike) -> tuple[list[Row], list[Row]]:
    """calendar.txt and calendar_dates.txt; either may be missing, not both."""
    source = as_feed(feed)
    calendar = read_optional_table(source, "calendar.txt")
    dates = read_optional_table(source, "calendar_dates.txt")
    if calendar is None and dates is None:
        raise FeedError("%s has neither calendar.txt nor calendar_dates.txt" % source.path)
    return calendar or [], dates or []


def services_on(feed: FeedLike, date: str, calendar_files: Optional[tuple[list[Row], list[Row]]] = None) -> set[str]:
    """service_ids running on a date (YYYYMMDD), through calendar.txt and
    calendar_dates.txt (either may be missing)."""
    try:
        day = datetime.datetime.strptime(date, "%Y%m%d").date()
    except ValueError:
        raise FeedError("--date %r: expected YYYYMMDD" % date) from None
    calendar, dates = calendar_files or read_calendar(feed)
    weekday = ["monday", "tuesday", "wednesday", "thursday", "friday", "saturday", "sunday"][day.weekday()]
    active = set()
    for row in calendar or []:
        if row.get("start_date", "") <= date <= row.get("end_date", "") and row.get(weekday) == "1":
            active.add(row["service_id"])
    for row in dates or []:
        if row.get("date") == date:
            if row.get("exception_type") == "1":
                active.add(row["service_id"])
            elif row.get("exception_type") == "2":
                active.discard(row["service_id"])
    return active


def busiest_date(feed: FeedLike, trips_of_service: collections.Counter[str]) -> tuple[str, int]:
    """The date of the calendar with the most trips, the earliest of equals,
    and its trip count."""
    calendar_files = read_calendar(feed)
    calendar, dates = calendar_files
    days: set[str] = {row["date"] for row in dates if row.get("date")}
    for row in calendar:
        try:
            day = datetime.datetime.strptime(row.get("start_date", ""), "%Y%m%d").date()
            end = datetime.datetime.strptime(row.get("end_date", ""), "%Y%m%d").date()
        except ValueError:
            continue
        # A calendar of more than ten years is surely a typing error; its
        # first ten years stand for it.
        end = min(end, day + datetime.timedelta(days=3660))
        while day <= end:
            days.add(day.strftime("%Y%m%d"))
            day += datetime.timedelta(days=1)
    best: Optional[tuple[int, str]] = None
    for date in sorted(days):
        try:
            count = sum(trips_of_service[s] for s in services_on(feed, date, calendar_files))
        except FeedError:
            continue
        if count and (best is None or count > best[0]):
            best = (count, date)
    if best is None:
        raise FeedError("no date of the calendar has trips: give --service")
    return best[1], best[0]


def haversine_km(a: Coord, b: Coord) -> float:
    lat1, lon1, lat2, lon2 = map(math.radians, (a[0], a[1], b[0], b[1]))
    h = math.sin((lat2 - lat1) / 2) ** 2 + math.cos(lat1) * math.cos(lat2) * math.sin((lon2 - lon1) / 2) ** 2
    return 2 * EARTH_RADIUS_KM * math.asin(min(1.0, math.sqrt(h)))


def line_keys(routes: list[Row]) -> dict[str, float]:
    """route_id -> line key: the short name as a number where it is one, else
    a number above all numeric names by the order of (short name, route_id),
    so that a key stays the same whatever routes an import selects."""
    numeric: dict[str, float] = {}
    others: list[tuple[str, str]] = []
    for route in routes:
        name = route.get("route_short_name", "")
        if re.fullmatch(r"\d{1,7}(\.\d{1,2})?", name):
            numeric[route["route_id"]] = float(name)
        else:
            others.append((name, route["route_id"]))
    base = 1000
    while numeric and max(numeric.values()) >= base:
        base *= 10
    keys = dict(numeric)
    for rank, (_, route_id) in enumerate(sorted(others), 1):
        keys[route_id] = float(base + rank)
    return keys


def aux_values(trip_ids: Sequence[str]) -> dict[str, int]:
    """trip_id -> aux value: the id itself where every id of the feed is a
    distinct positive 32-bit integer, else its rank in the sorted ids."""
    numbers: dict[str, int] = {}
    for trip_id in trip_ids:
        if not re.fullmatch(r"[1-9]\d{0,9}", trip_id) or int(trip_id) > 2 ** 31 - 1:
            break
        numbers[trip_id] = int(trip_id)
    else:
        if len(set(numbers.values())) == len(numbers):
            return numbers
    return {trip_id: rank for rank, trip_id in enumerate(sorted(set(trip_ids)), 1)}


def short_name(stop_name: str, taken: set[str]) -> str:
    """A terminal name of at most 8 characters, no blanks, unique in `taken`."""
    text = unicodedata.normalize("NFKD", stop_name).encode("ascii", "ignore").decode()
    words = re.findall(r"[A-Za-z0-9]+", text)
    words = [w for w in words if w.lower() not in NAME_STOP_WORDS] or words or ["T"]
    words = [w if (w.isupper() and len(w) <= 4) or w.isdigit() else w[0].upper() + w[1:].lower()
             for w in words]
    name = "".join(words)
    if len(name) > limits.TRIP_NAME_WIDTH:
        words = words[:4]
        used = [0] * len(words)
        total = 0
        while total < limits.TRIP_NAME_WIDTH:
            grown = False
            for i, word in enumerate(words):
                if used[i] < len(word) and total < limits.TRIP_NAME_WIDTH:
                    used[i] += 1
                    total += 1
                    grown = True
            if not grown:
                break
        name = "".join(w[:n] for w, n in zip(words, used))
    candidate = name
    suffix = 1
    while candidate in taken:
        suffix += 1
        candidate = name[:limits.TRIP_NAME_WIDTH - len(str(suffix))] + str(suffix)
    taken.add(candidate)
    return candidate


# ---------------------------------------------------------------- the problem

@dataclass(eq=False)
class Terminal:
    """A terminal of the problem: places of the feed merged into one.  Compared
    by identity: two terminals are never the same for having equal fields."""

    place: Optional[str]        # the seed place (stop or parent station id); None for a depot of its own
    stop_name: str
    coord: Coord
    places: list[Optional[str]] = field(default_factory=list)
    stop_ids: list[str] = field(default_factory=list)
    trip_ends: int = 0
    short: str = ""
    is_depot: bool = False

    def __post_init__(self) -> None:
        if not self.places and self.place is not None:
            self.places = [self.place]


@dataclass
class FeedTrip:
    """A selected trip of the feed, from its first stop to its last."""

    trip_id: str
    trip: Row                   # its row of trips.txt
    departure: int              # minutes, rounded down
    arrival: int                # minutes, rounded up
    origin: str                 # place: stop or parent station id
    destination: str
    first_stop: str
    last_stop: str
    group_key: float = 0.0
    aux_value: int = 0
    seconds: tuple[int, int] = (0, 0)   # departure and arrival as the feed gives them


@dataclass
class Problem:
    """Everything the writers need."""

    terminals: list[Terminal]   # terminal 0 is the depot
    matrix: list[list[int]]
    rows: list[FeedTrip]        # in the order of the trip file
    trip_rows: list[tf.TripRow]
    routes: dict[str, Row]
    keys: dict[str, float]
    services: set[str]
    warnings: list[str]
    operator_blocks: int
    rules: layover_rules.Rules
    picked_date: Optional[tuple[str, int]] = None   # the busiest date and its trips, when picked here
    merge_radius: float = 0.0                        # the radius the terminals were merged with
    notes: list[str] = field(default_factory=list)  # what the import says of its choices, on standard output


@dataclass
class Options:
    """The command's arguments."""

    feed: str
    out: str
    service: Optional[list[str]] = None
    date: Optional[str] = None
    routes: Optional[list[str]] = None
    min_layover: int = 5
    merge_radius: float = 200.0
    depot: Optional[Coord] = None
    detour: float = 1.3
    speed: float = 25.0
    deadrun_weight: int = 2
    layover_weight: int = 1
    short_arc_param: int = 60
    min_depot_time: int = 60
    max_terminals: Optional[int] = None
    interlining: str = "free"
    layovers: Optional[str] = None      # learned or fixed; None: learned where the feed has block_id
    layover_share: float = 0.0


def merge_terminals(uses: collections.Counter[str], coord_of: dict[str, Coord], name_of: dict[str, str],
                    radius_m: float) -> tuple[list[Terminal], dict[str, Terminal]]:
    """Places -> terminals: each place, busiest first, joins the nearest
    terminal whose seed lies within the radius, else seeds a new one."""
    terminals: list[Terminal] = []
    of_place: dict[str, Terminal] = {}
    for place in sorted(uses, key=lambda p: (-uses[p], p)):
        coord = coord_of[place]
        best: Optional[tuple[float, Terminal]] = None
        for terminal in terminals:
            distance = haversine_km(coord, terminal.coord) * 1000
            if distance <= radius_m and (best is None or distance < best[0]):
                best = (distance, terminal)
        if best is None:
            terminal = Terminal(place, name_of[place], coord)
            terminals.append(terminal)
        else:
            terminal = best[1]
            terminal.places.append(place)
        terminal.trip_ends += uses[place]
        of_place[place] = terminal
    return terminals, of_place


def dead_run_minutes(a: Terminal, b: Terminal, detour: float, speed_kmh: float) -> int:
    if a is b:
        return 0
    minutes = haversine_km(a.coord, b.coord) * detour / speed_kmh * 60
    return max(1, math.ceil(minutes - 1e-9))


def choose_depot(terminals: list[Terminal], args: Options, radius_m: float) -> Terminal:
    """Terminal 0: the terminal nearest the --depot point (or the centroid),
    or, when --depot lies beyond the merge radius of every terminal, a
    terminal of its own, which serves no trip and holds no stop."""
    if args.depot:
        depot_coord = args.depot
    else:
        depot_coord = (sum(t.coord[0] for t in terminals) / len(terminals),
                       sum(t.coord[1] for t in terminals) / len(terminals))
    nearest = min(terminals, key=lambda t: (haversine_km(t.coord, depot_coord), t.place or ""))
    if args.depot is None or haversine_km(nearest.coord, depot_coord) * 1000 <= radius_m:
        return nearest
    return Terminal(None, "Depot", depot_coord)


# --max-terminals widens the merge radius by about a tenth at a time, up to this.
MAX_MERGE_RADIUS_M = 200000.0


def wider_radius(radius_m: float) -> float:
    return float(max(math.floor(radius_m / 10) * 10 + 10, math.ceil(radius_m * 1.1 / 10) * 10))


def stop_coordinates(stops: Table) -> dict[str, Coord]:
    """stop_id -> (lat, lon) of every stop that has them.  A value that is no
    finite number on the Earth, or the 0,0 that stands in for an unknown
    place, is an error: its dead runs would be hours long."""
    coordinates: dict[str, Coord] = {}
    for index, stop in enumerate(stops.rows):
        texts = (stop["stop_lat"], stop["stop_lon"])
        if not any(texts):
            continue
        try:
            lat, lon = (float(t) for t in texts)
        except ValueError:
            lat = lon = math.nan
        if not (-90 <= lat <= 90 and -180 <= lon <= 180):
            raise FeedError("%s: stop %s at %s,%s: stop_lat and stop_lon must be degrees within -90..90 and "
                            "-180..180" % (stops.at(index), stop["stop_id"], texts[0], texts[1]))
        if lat == 0 and lon == 0:
            raise FeedError("%s: stop %s at 0,0, which stands for an unknown place: give its coordinates"
                            % (stops.at(index), stop["stop_id"]))
        coordinates[stop["stop_id"]] = (lat, lon)
    return coordinates


StopCall = tuple[int, str, str, str]    # stop_sequence, arrival, departure, stop_id


def trip_ends(feed: Feed, selected: dict[str, Row],
              trip_ids: set[str]) -> tuple[dict[str, StopCall], dict[str, StopCall]]:
    """The first and last stop of every selected trip, streaming stop_times.
    Every record must belong to a trip of trips.txt (a trips.txt cut short
    shows this way) and every trip's stop_sequence values must be distinct
    whole numbers."""
    first: dict[str, StopCall] = {}
    last: dict[str, StopCall] = {}
    sequences: dict[str, set[int]] = collections.defaultdict(set)
    with TableStream(feed, "stop_times.txt") as stream:
        col = stream.column
        for line, record in stream:
            trip_id = record[col["trip_id"]]
            where = "%s:%d" % (stream.where, line)
            if trip_id not in trip_ids:
                raise FeedError("%s: trip_id %r is not in trips.txt: is trips.txt whole?" % (where, trip_id))
            text = record[col["stop_sequence"]]
            if not re.fullmatch(r"\d{1,9}", text):
                raise FeedError("%s: stop_sequence %r of trip %s is not a whole number from 0 to 999999999"
                                % (where, text, trip_id))
            sequence = int(text)
            if sequence in sequences[trip_id]:
                raise FeedError("%s: stop_sequence %d of trip %s comes twice: each stop of a trip needs its own"
                                % (where, sequence, trip_id))
            sequences[trip_id].add(sequence)
            if trip_id not in selected:
                continue
            entry = (sequence, record[col["arrival_time"]], record[col["departure_time"]], record[col["stop_id"]])
            if trip_id not in first or sequence < first[trip_id][0]:
                first[trip_id] = entry
            if trip_id not in last or sequence > last[trip_id][0]:
                last[trip_id] = entry
    return first, last


def frequency_warnings(feed: Feed, selected: dict[str, Row]) -> list[str]:
    """What the trips run by headway stand for: each is imported once."""
    table = feed_tables.read_table(feed, "frequencies.txt", required=False)
    if table is None:
        return []
    runs: collections.Counter[str] = collections.Counter()
    for index, row in enumerate(table.rows):
        if row["trip_id"] not in selected:
            continue
        try:
            start, end = parse_gtfs_time(row["start_time"]), parse_gtfs_time(row["end_time"])
            headway = int(row["headway_secs"])
        except ValueError:
            start = end = None
            headway = 0
        if start is None or end is None or headway <= 0 or end < start:
            raise FeedError("%s: start_time, end_time or headway_secs cannot be read" % table.at(index))
        runs[row["trip_id"]] += max(1, -(-(end - start) // headway))
    if not runs:
        return []
    example = max(sorted(runs), key=runs.__getitem__)
    return ["frequencies.txt: %d trip(s) run by headway stand for %d runs and are imported once each, at "
            "their stop_times (trip %s stands for %d runs)"
            % (len(runs), sum(runs.values()), example, runs[example])]


def check_matrix(terminals: list[Terminal], matrix: list[list[int]]) -> list[str]:
    """A dead run beyond what the solver reads is an error; one over a day
    long is likely a stop in the wrong place, and said so."""
    longest, a, b = max((value, i, j) for i, row in enumerate(matrix) for j, value in enumerate(row))
    if longest > limits.MAX_DEAD_RUN:
        raise FeedError("the dead run from %s to %s takes %d minutes, the solver reads at most %d: check "
                        "the stops' coordinates, --depot and --speed"
                        % (terminals[a].stop_name, terminals[b].stop_name, longest, limits.MAX_DEAD_RUN))
    if longest > 24 * 60:
        return ["the dead run from %s to %s takes %s h: are the stops' coordinates, --depot and --speed "
                "right?" % (terminals[a].stop_name, terminals[b].stop_name, tf.format_clock(longest))]
    return []


def build_problem(feed: FeedLike, args: Options) -> Problem:
    """Reads the feed into the problem the writers write."""
    feed = as_feed(feed)
    warnings: list[str] = []
    routes = read_table(feed, "routes.txt")
    trips = read_table(feed, "trips.txt")
    stop_table = feed_tables.read_table(feed, "stops.txt")
    assert stop_table is not None
    stops = stop_table.rows
    coordinates = stop_coordinates(stop_table)
    route_by_id = {r["route_id"]: r for r in routes}
    keys = line_keys(routes)
    aux = aux_values([t["trip_id"] for t in trips])
    wanted_routes: Optional[set[str]] = None
    if args.routes:
        wanted_routes = set()
        for name in args.routes:
            found = {r["route_id"] for r in routes if name in (r["route_id"], r.get("route_short_name"))}
            if not found:
                raise FeedError("--routes: no route has the short name or id %r" % name)
            wanted_routes |= found
    picked_date: Optional[tuple[str, int]] = None
    if args.date:
        services = services_on(feed, args.date)
        if not services:
            raise FeedError("no service runs on %s" % args.date)
    elif args.service:
        services = set(args.service)
    else:
        trips_of_service = collections.Counter(
            t["service_id"] for t in trips
            if t["route_id"] in route_by_id and (wanted_routes is None or t["route_id"] in wanted_routes))
        picked_date = busiest_date(feed, trips_of_service)
        services = services_on(feed, picked_date[0])
    selected: dict[str, Row] = {}
    for trip in trips:
        if trip["service_id"] not in services:
            continue
        if wanted_routes is not None and trip["route_id"] not in wanted_routes:
            continue
        if trip["route_id"] not in route_by_id:
            warnings.append("trip %s: route %s not in routes.txt, trip left out" % (trip["trip_id"], trip["route_id"]))
            continue
        selected[trip["trip_id"]] = trip
    if not selected:
        counts = collections.Counter(t["service_id"] for t in trips)
        listing = ", ".join("%s (%d trips)" % item for item in sorted(counts.items()))
        raise FeedError("no trips for service %s%s; the feed's services: %s"
                           % (", ".join(sorted(services)), " on the chosen routes" if wanted_routes else "",
                              listing))
    warnings.extend(frequency_warnings(feed, selected))
    first, last = trip_ends(feed, selected, {t["trip_id"] for t in trips})

    stop_by_id = {s["stop_id"]: s for s in stops}

    def place_of(stop_id: str) -> Optional[str]:
        stop = stop_by_id.get(stop_id)
        if stop is None:
            return None
        parent = stop_by_id.get(stop.get("parent_station", ""))
        if parent is not None and parent["stop_id"] in coordinates:
            return parent["stop_id"]
        return stop_id

    raw: list[FeedTrip] = []
    skipped: collections.Counter[str] = collections.Counter()
    for trip_id, trip in selected.items():
        if trip_id not in first or first[trip_id] is last[trip_id] or first[trip_id][0] == last[trip_id][0]:
            skipped["fewer than two stops"] += 1
            continue
        _, arr0, dep0, stop0 = first[trip_id]
        _, arr1, dep1, stop1 = last[trip_id]
        try:
            start = parse_gtfs_time(dep0) if dep0.strip() else parse_gtfs_time(arr0)
            end = parse_gtfs_time(arr1) if arr1.strip() else parse_gtfs_time(dep1)
        except ValueError:
            skipped["a malformed time"] += 1
            continue
        if start is None or end is None:
            skipped["no time at its first or last stop"] += 1
            continue
        if end < start:
            skipped["an arrival before its departure"] += 1
            continue
        origin, destination = place_of(stop0), place_of(stop1)
        if origin is None or destination is None:
            skipped["a stop missing from stops.txt"] += 1
            continue
        raw.append(FeedTrip(trip_id=trip_id, trip=trip, departure=start // 60, arrival=-(-end // 60),
                            origin=origin, destination=destination, first_stop=stop0, last_stop=stop1,
                            seconds=(start, end)))
    for reason, count in sorted(skipped.items()):
        warnings.append("%d trip(s) left out for %s" % (count, reason))
    if not raw:
        raise FeedError("no usable trips")
    if len(raw) > limits.MAX_TRIPS:
        raise FeedError("%d trips; the solver takes at most %d: choose fewer routes with --routes"
                        % (len(raw), limits.MAX_TRIPS))
    late = [r for r in raw if r.arrival > limits.MAX_HOURS * 60 + 59]
    if late:
        raise FeedError("trip %s ends after %d:59, beyond the trip file's hhmm fields"
                        % (late[0].trip_id, limits.MAX_HOURS))

    uses: collections.Counter[str] = collections.Counter()
    for r in raw:
        uses[r.origin] += 1
        uses[r.destination] += 1
    coord_of: dict[str, Coord] = {}
    name_of: dict[str, str] = {}
    for place in uses:
        stop = stop_by_id[place]
        if place not in coordinates:
            raise FeedError("%s: stop %s has no coordinates: give its stop_lat and stop_lon"
                            % (stop_table.where, place))
        coord_of[place] = coordinates[place]
        name_of[place] = stop.get("stop_name") or place
    radius = args.merge_radius
    while True:
        terminals, terminal_of_place = merge_terminals(uses, coord_of, name_of, radius)
        depot = choose_depot(terminals, args, radius)
        count = len(terminals) + (depot not in terminals)
        if args.max_terminals is None or count <= args.max_terminals:
            break
        if radius >= MAX_MERGE_RADIUS_M:
            raise FeedError("%d terminals remain after merging within %g m: --max-terminals %d cannot be met"
                            % (count, radius, args.max_terminals))
        radius = min(MAX_MERGE_RADIUS_M, wider_radius(radius))
    depot.is_depot = True
    if count > limits.MAX_TERMINALS:
        raise FeedError(
            "%d terminals remain after merging within %g m, the solver takes at most %d including "
            "the depot: raise --merge-radius, or give --max-terminals (or choose fewer routes with --routes)"
            % (len(terminals), radius, limits.MAX_TERMINALS - (depot not in terminals)))
    taken = {DEPOT_NAME} if depot not in terminals else set()
    for terminal in sorted(terminals, key=lambda t: (-t.trip_ends, t.place)):
        terminal.short = short_name(terminal.stop_name, taken)
    if depot not in terminals:
        depot.short = DEPOT_NAME
    ordered = [depot] + sorted((t for t in terminals if t is not depot), key=lambda t: t.short)
    for place_id, terminal in terminal_of_place.items():
        terminal.stop_ids.append(place_id)
    for terminal in ordered:
        places = {p for p in terminal.places if p}
        children = sorted(s["stop_id"] for s in stops if s.get("parent_station") in places)
        terminal.stop_ids = sorted(set(terminal.stop_ids) | set(children))
    matrix = [[dead_run_minutes(a, b, args.detour, args.speed) for b in ordered] for a in ordered]
    warnings.extend(check_matrix(ordered, matrix))

    has_blocks = any(r.trip.get("block_id") for r in raw)
    mode = layover_rules.choose_mode(args.layovers, has_blocks)
    aligned = layover_rules.align_turnarounds(raw) if mode == layover_rules.LEARNED else 0
    rows = []
    for r in raw:
        r.group_key = keys[r.trip["route_id"]]
        r.aux_value = aux[r.trip_id]
        rows.append(r)
    rows.sort(key=lambda r: (r.departure, r.arrival, r.group_key, r.aux_value))
    trip_rows = [tf.TripRow(r.departure, terminal_of_place[r.origin].short, r.arrival,
                            terminal_of_place[r.destination].short, r.group_key,
                            r.aux_value, args.min_layover, number)
                 for number, r in enumerate(rows, 1)]
    rules = layover_rules.learn(rows, trip_rows, {t.short: i for i, t in enumerate(ordered)}, matrix, mode,
                                args.min_layover, args.layover_share)
    rules.aligned = aligned
    blocks = {r.trip.get("block_id", "") for r in rows} - {""}
    return Problem(terminals=ordered, matrix=matrix, rows=rows, trip_rows=trip_rows, routes=route_by_id,
                   keys=keys, services=services, warnings=warnings, operator_blocks=len(blocks), rules=rules,
                   picked_date=picked_date, merge_radius=radius)


# ---------------------------------------------------------------- writing

def format_csv(header: Sequence[str], rows: Sequence[Sequence[object]]) -> bytes:
    text = io.StringIO(newline="")
    writer = csv.writer(text)
    writer.writerow(header)
    writer.writerows(rows)
    return text.getvalue().encode("utf-8")


# What the solver, the annealers, shift_search and the result tools leave in
# a problem directory: all of them belong to the trip file they were made
# from, so an import of another problem removes them once its own files are
# in place (a chart of one feed over another feed's blocks helps nobody).
RESULT_FILES = ("Tarsel.sol", "Tarsel.bla", "Tarsel.arm", "Tarsel.lus", "Tarsel.est", "Tarsel_best.bss",
                "Tarsel_shifts.csv", "Tarsel_read.bss", "Tarsel_blocks.csv", "Tarsel_blocks.svg",
                "Tarsel_report.html", "Tarsel_operator.bla", "Tarsel_operator_blocks.csv",
                "Tarsel_operator_blocks.svg")


def _without_stamp(trip_file: bytes) -> bytes:
    """A trip file but its second line, which holds the time it was written."""
    lines = trip_file.split(b"\n")
    return b"\n".join(lines[:1] + lines[2:])


def stale_results(out: str, files: dict[str, bytes]) -> list[str]:
    """The result files in out that would stay behind beside another
    problem: all of them, unless out's trip, parameter and groups files are
    the ones being written."""
    found = [name for name in RESULT_FILES if os.path.lexists(os.path.join(out, name))]
    for name in ("Tarsel.bss", "Tarsel.ini", "Tarsel.prr"):
        try:
            with open(os.path.join(out, name), "rb") as handle:
                old: Optional[bytes] = handle.read()
        except FileNotFoundError:
            old = None
        except OSError:
            return found
        new = files.get(name)
        if name == "Tarsel.bss" and old is not None and new is not None:
            old, new = _without_stamp(old), _without_stamp(new)
        if old != new:
            return found
    return []


def format_problem(problem: Problem, args: Options, title: str) -> dict[str, bytes]:
    """Every file of the problem directory, by name."""
    files: dict[str, bytes] = {}
    names = [t.short for t in problem.terminals]
    template = tf.format_matrix_section(names, problem.matrix)
    files["Teste.mvm"] = template
    # The "[TRIP]" line carries a number that no reader uses; the minimum
    # layover is what a batch annealer would write there.
    files["Tarsel.bss"] = tf.format_trip_file(template, problem.trip_rows, args.min_layover)
    files["Tarsel.ini"] = tf.format_parameters(
        title, args.detour, args.min_depot_time, args.deadrun_weight, args.layover_weight,
        args.short_arc_param)
    files["legend_terminals.csv"] = format_csv(
              ["terminal", "short_name", "role", "stop_name", "stop_lat", "stop_lon", "stop_ids", "trip_ends"],
              [[i, t.short, "depot" if t.is_depot else "terminal", t.stop_name, "%.6f" % t.coord[0],
                "%.6f" % t.coord[1], " ".join(t.stop_ids), t.trip_ends]
               for i, t in enumerate(problem.terminals)])
    files["legend_trips.csv"] = format_csv(
              ["aux_value", "trip_id", "route_id", "route_short_name", "line_key", "service_id",
               "block_id", "departure", "arrival", "origin", "destination", "first_stop_id", "last_stop_id"],
              [[r.aux_value, r.trip_id, r.trip["route_id"],
                problem.routes[r.trip["route_id"]].get("route_short_name", ""),
                tf.format_key(r.group_key), r.trip["service_id"], r.trip.get("block_id", ""),
                tf.format_clock(t.departure), tf.format_clock(t.arrival), t.origin, t.destination,
                r.first_stop, r.last_stop]
               for r, t in zip(problem.rows, problem.trip_rows)])
    used = sorted({r.trip["route_id"] for r in problem.rows}, key=lambda i: (problem.keys[i], i))
    files["legend_lines.csv"] = format_csv(
              ["line_key", "route_id", "route_short_name", "route_long_name", "route_color"],
              [[tf.format_key(problem.keys[i]), i, problem.routes[i].get("route_short_name", ""),
                problem.routes[i].get("route_long_name", ""), problem.routes[i].get("route_color", "")]
               for i in used])
    files["legend_rules.csv"] = format_csv(["line", "terminal", "min_layover", "source"],
                                           layover_rules.legend_rows(problem.rules))
    if args.interlining != "free":
        files["Tarsel.prr"], note = interlining.groups_file(
            args.interlining, [(r.trip.get("block_id", ""), r.departure, r.arrival, r.group_key) for r in problem.rows])
        problem.notes.append(note)
    return files


def check_arc_room(problem: Problem, args: Options) -> tuple[int, int, int, list[str]]:
    """Short arcs, long records, arcs in memory; raises when they cannot fit."""
    names = [t.short for t in problem.terminals]
    number = {name: i for i, name in enumerate(names)}
    trips = problem.trip_rows
    short, long_ = count_connection_arcs(trips, lambda n: number.get(n, 0), problem.matrix,
                                         args.short_arc_param)
    memory = arcs_in_memory(len(trips), short)
    notes = []
    if memory > limits.MAX_ARCS:
        raise FeedError(
            "the first network needs %d arcs in memory (%d short connections), the solver holds %d: "
            "lower --short-arc-param (now %d) or choose fewer routes with --routes"
            % (memory, short, limits.MAX_ARCS, args.short_arc_param))
    if memory + limits.LONG_ARCS_PER_NODE * len(trips) > limits.MAX_ARCS:
        notes.append("the first network uses %d of the solver's %d arcs; arc generation may add up to %d "
                     "per pass and run out of room: consider a lower --short-arc-param"
                     % (memory, limits.MAX_ARCS, limits.LONG_ARCS_PER_NODE * len(trips)))
    return short, long_, memory, notes


def minutes_option(text: str) -> int:
    """hh:mm or plain minutes."""
    match = re.fullmatch(r"(\d+):(\d{1,2})", text.strip())
    if match:
        return int(match.group(1)) * 60 + int(match.group(2))
    if re.fullmatch(r"\d+", text.strip()):
        return int(text)
    raise argparse.ArgumentTypeError("expected hh:mm or minutes, got %r" % text)


def coordinate_option(text: str) -> Coord:
    try:
        lat, lon = (float(v) for v in text.split(","))
    except ValueError:
        raise argparse.ArgumentTypeError("expected LAT,LON, got %r" % text) from None
    if not (-90 <= lat <= 90 and -180 <= lon <= 180):
        raise argparse.ArgumentTypeError("coordinate out of range: %r" % text)
    return lat, lon


def bounded(kind: Callable[[str], float], low: float, high: float) -> Callable[[str], float]:
    """An option's parser: a finite number of the kind within low..high."""
    def parse(text: str) -> float:
        try:
            value = kind(text)
        except ValueError:
            raise argparse.ArgumentTypeError("not a number: %r" % text) from None
        if not (math.isfinite(value) and low <= value <= high):
            raise argparse.ArgumentTypeError("%r: give a number from %g to %g" % (text, low, high))
        return value
    return parse


def bounded_minutes(text: str) -> int:
    value = minutes_option(text)
    if value > MAX_OPTION_MINUTES:
        raise argparse.ArgumentTypeError("%r: at most %d minutes" % (text, MAX_OPTION_MINUTES))
    return value


# What the trip and parameter files hold of a minutes option, and a cost
# weight far above any that means something (the solver sums them in 64 bits).
MAX_OPTION_MINUTES = limits.MAX_DEAD_RUN
MAX_WEIGHT = 10000


def list_option(text: str) -> list[str]:
    return [item.strip() for item in text.split(",") if item.strip()]


def parse_args(argv: Sequence[str]) -> Options:
    parser = argparse.ArgumentParser(
        prog="gtfs_import", description="Write a Tarsel problem directory from a GTFS feed.")
    parser.add_argument("feed", help="GTFS feed: its directory or zip file")
    parser.add_argument("out", help="problem directory to write (created if missing)")
    which = parser.add_mutually_exclusive_group()
    which.add_argument("--service", type=list_option, metavar="ID", help="service_id(s), comma separated")
    which.add_argument("--date", metavar="YYYYMMDD", help="service day YYYYMMDD, resolved through the calendar files")
    parser.add_argument("--routes", type=list_option, metavar="LIST",
                        help="only these routes: short names or route_ids, comma separated")
    parser.add_argument("--min-layover", type=bounded(int, 0, MAX_OPTION_MINUTES), metavar="MIN", default=5,
                        help="minutes after each trip, where no rule is learned (default 5)")
    parser.add_argument("--layovers", choices=[layover_rules.LEARNED, layover_rules.FIXED],
                        help="learned: each trip's minimum layover and the dead runs from the operator's "
                             "blocks (the default where the feed has block_id); fixed: --min-layover for all")
    parser.add_argument("--layover-share", type=float, metavar="P", default=0.0,
                        help="minimum layover at least P %% of the trip's running time (default 0)")
    parser.add_argument("--merge-radius", type=bounded(float, 0, MAX_MERGE_RADIUS_M), metavar="M", default=200.0,
                        help="metres within which end stops form one terminal (default 200)")
    parser.add_argument("--max-terminals", type=int, metavar="N",
                        help="widen the merge radius until at most N terminals remain, the depot "
                             "included (the annealers take 20, the solver %d)" % limits.MAX_TERMINALS)
    parser.add_argument("--depot", type=coordinate_option, metavar="LAT,LON",
                        help="depot LAT,LON (default: the terminal nearest the centroid of all terminals)")
    parser.add_argument("--detour", type=bounded(float, 1, 10), metavar="F", default=1.3,
                        help="road distance over great-circle distance (default 1.3)")
    parser.add_argument("--speed", type=bounded(float, 1, 200), metavar="KMH", default=25.0,
                        help="dead-run speed in km/h (default 25)")
    parser.add_argument("--deadrun-weight", type=bounded(int, 0, MAX_WEIGHT), metavar="W", default=2, help="cost of a dead-run minute (default 2)")
    parser.add_argument("--layover-weight", type=bounded(int, 0, MAX_WEIGHT), metavar="W", default=1, help="cost of a waiting minute (default 1)")
    parser.add_argument("--short-arc-param", type=bounded(int, 0, MAX_OPTION_MINUTES), metavar="MIN", default=60,
                        help="minutes beyond a trip to the depot and back that a connection is held "
                             "in memory; also the cost of a depot stay (default 60)")
    parser.add_argument("--min-depot-time", type=bounded_minutes, metavar="HH:MM", default=60,
                        help="shortest stay that the block report counts as a depot return, hh:mm or "
                             "minutes (default 01:00)")
    parser.add_argument("--interlining", choices=interlining.MODES, default="free",
                        help="free: a vehicle may change lines between trips (default); none: it stays on its "
                             "line; operator: it changes lines only as the operator's blocks do (Tarsel.prr)")
    args = Options(**vars(parser.parse_args(argv)))
    if not 0 <= args.layover_share < math.inf:
        parser.error("--layover-share cannot be negative")
    if args.max_terminals is not None and not 1 <= args.max_terminals <= limits.MAX_TERMINALS:
        parser.error("--max-terminals: 1 to %d" % limits.MAX_TERMINALS)
    return args


def main(argv: Optional[Sequence[str]] = None) -> int:
    args = parse_args(sys.argv[1:] if argv is None else argv)
    feed_name = os.path.basename(os.path.normpath(args.feed))
    if feed_name.lower().endswith(".zip"):
        feed_name = feed_name[:-4]
    try:
        with Feed(args.feed) as feed:
            problem = build_problem(feed, args)
        short, long_, memory, notes = check_arc_room(problem, args)
        date = problem.picked_date[0] if problem.picked_date else args.date
        which = ("date %s" % date) if date else ("service %s" % ",".join(args.service or []))
        title = "Tarsel problem from GTFS feed %s, %s (gtfs_import)" % (feed_name, which)
        files = format_problem(problem, args, title)
    except FeedError as error:
        print("gtfs_import: %s" % error, file=sys.stderr)
        return 1
    stale = stale_results(args.out, files)
    groups = os.path.join(args.out, "Tarsel.prr")
    try:
        os.makedirs(args.out, exist_ok=True)
        tf.write_files_whole({os.path.join(args.out, name): data for name, data in files.items()})
        for name in stale:
            os.remove(os.path.join(args.out, name))
        if stale:
            problem.warnings.append("%s of the problem this import replaces removed from %s: they would no "
                                    "longer match it" % (", ".join(stale), args.out))
        if "Tarsel.prr" not in files and os.path.lexists(groups):
            # Tovarin would apply an earlier import's groups to this problem.
            os.remove(groups)
            problem.warnings.append("%s removed: --interlining free lets a vehicle change lines" % groups)
    except OSError as error:
        print("gtfs_import: %s: %s" % (error.filename or args.out, error.strerror or error), file=sys.stderr)
        return 1
    for text in problem.warnings + notes:
        print("gtfs_import: warning: %s" % text, file=sys.stderr)
    for text in layover_rules.summary(problem.rules, problem.operator_blocks > 0):
        print("gtfs_import: %s" % text, file=sys.stderr)
    if problem.picked_date:
        print("date %s picked, the busiest of the feed's calendar: %d trips (--date or --service choose another)"
              % problem.picked_date)
    if args.max_terminals is not None:
        print("terminals merged within %g m: %d terminals, the depot included (--max-terminals %d)"
              % (problem.merge_radius, len(problem.terminals), args.max_terminals))
    terminals = problem.terminals
    print("%s: %d trips, %d terminals (depot %s: %s), %d lines, services %s"
          % (args.out, len(problem.trip_rows), len(terminals), terminals[0].short,
             terminals[0].stop_name, len({r.group_key for r in problem.rows}),
             ",".join(sorted(problem.services))))
    print("arcs: %d short connections, %d in memory of %d, %d long-arc records (%.1f MB)"
          % (short, memory, limits.MAX_ARCS, long_, long_ * 16 / 1e6))
    print("operator blocks in the feed: %d" % problem.operator_blocks)
    for note in problem.notes:
        print(note)
    return 0
