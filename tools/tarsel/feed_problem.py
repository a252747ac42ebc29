"""The problem a feed makes: the trips of the chosen service days and routes,
each from its first stop to its last, on the terminals they end at, with the
lines' keys, the trips' aux values and each trip's minimum layover.

A trip runs from its first stop's departure (rounded down to the minute) to
its last stop's arrival (rounded up).  Times past midnight keep counting:
GTFS 25:10:00 is the trip file's 2510, as the solver's times have no wrap and
its hhmm fields take hours up to 99.
"""

from __future__ import annotations

import collections
import re
from dataclasses import dataclass, field
from typing import Optional, Sequence

from . import files as tf
from . import layover_rules, limits
from . import feed as feed_tables
from .feed import Feed, FeedError, FeedLike, Row, TableStream, as_feed
from .service_days import busiest_date, parse_gtfs_time, read_calendar, services_on
from .terminals import Coord, Placing, Terminal, check_matrix, dead_run_matrix, place_terminals, stop_coordinates


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
    """What an import is asked for: the command's arguments, whose defaults
    are these (its help states them from here)."""

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
    with TableStream(feed, "stop_times.txt", keep_text=False) as stream:
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


@dataclass
class FeedTables:
    """The feed's routes, trips and stops, read whole."""

    routes: list[Row]
    trips: list[Row]
    stops: feed_tables.Table
    coordinates: dict[str, Coord]       # of the stops that have them
    route_by_id: dict[str, Row]


def read_tables(feed: Feed) -> FeedTables:
    routes = feed_tables.table_rows(feed, "routes.txt")
    trips = feed_tables.table_rows(feed, "trips.txt")
    stops = feed_tables.read_table(feed, "stops.txt")
    assert stops is not None
    return FeedTables(routes, trips, stops, stop_coordinates(stops), {r["route_id"]: r for r in routes})


def wanted_routes(routes: list[Row], names: Optional[list[str]]) -> Optional[set[str]]:
    """The route_ids that --routes names by short name or id; None: all."""
    if not names:
        return None
    wanted: set[str] = set()
    for name in names:
        found = {r["route_id"] for r in routes if name in (r["route_id"], r.get("route_short_name"))}
        if not found:
            raise FeedError("--routes: no route has the short name or id %r" % name)
        wanted |= found
    return wanted


def choose_services(feed: Feed, args: Options, tables: FeedTables,
                    wanted: Optional[set[str]]) -> tuple[set[str], Optional[tuple[str, int]]]:
    """The services to import and, where none was given, the busiest date
    picked and its trips."""
    if args.date:
        services = services_on(feed, args.date)
        if not services:
            raise FeedError("no service runs on %s" % args.date)
        return services, None
    if args.service:
        return set(args.service), None
    trips_of_service = collections.Counter(
        t["service_id"] for t in tables.trips
        if t["route_id"] in tables.route_by_id and (wanted is None or t["route_id"] in wanted))
    # The calendar files are read once for the pick and its services.
    calendar_files = read_calendar(feed)
    picked_date = busiest_date(feed, trips_of_service, calendar_files)
    return services_on(feed, picked_date[0], calendar_files), picked_date


def select_trips(tables: FeedTables, services: set[str], wanted: Optional[set[str]],
                 warnings: list[str]) -> dict[str, Row]:
    """trip_id -> row of the trips of the services and routes chosen."""
    selected: dict[str, Row] = {}
    for trip in tables.trips:
        if trip["service_id"] not in services:
            continue
        if wanted is not None and trip["route_id"] not in wanted:
            continue
        if trip["route_id"] not in tables.route_by_id:
            warnings.append("trip %s: route %s not in routes.txt, trip left out" % (trip["trip_id"], trip["route_id"]))
            continue
        selected[trip["trip_id"]] = trip
    if not selected:
        counts = collections.Counter(t["service_id"] for t in tables.trips)
        listing = ", ".join("%s (%d trips)" % item for item in sorted(counts.items()))
        raise FeedError("no trips for service %s%s; the feed's services: %s"
                        % (", ".join(sorted(services)), " on the chosen routes" if wanted else "", listing))
    return selected


def stop_places(stops: list[Row], coordinates: dict[str, Coord]) -> dict[str, str]:
    """stop_id -> the place a trip ending there ends at: its parent station
    where that has coordinates, else the stop itself."""
    stop_by_id = {s["stop_id"]: s for s in stops}
    places = {}
    for stop in stops:
        parent = stop_by_id.get(stop.get("parent_station", ""))
        places[stop["stop_id"]] = parent["stop_id"] if parent is not None and parent["stop_id"] in coordinates \
            else stop["stop_id"]
    return places


def _span(first: StopCall, last: StopCall) -> tuple[Optional[tuple[int, int]], str]:
    """A trip's departure and arrival in seconds, or why it has none."""
    _, arr0, dep0, _ = first
    _, arr1, dep1, _ = last
    try:
        start = parse_gtfs_time(dep0) if dep0.strip() else parse_gtfs_time(arr0)
        end = parse_gtfs_time(arr1) if arr1.strip() else parse_gtfs_time(dep1)
    except ValueError:
        return None, "a malformed time"
    if start is None or end is None:
        return None, "no time at its first or last stop"
    if end < start:
        return None, "an arrival before its departure"
    return (start, end), ""


def feed_trips(selected: dict[str, Row], first: dict[str, StopCall], last: dict[str, StopCall],
               places: dict[str, str], warnings: list[str]) -> list[FeedTrip]:
    """The selected trips that run from one place to another at times that
    can be read; the others are counted by reason in the warnings."""
    found: list[FeedTrip] = []
    skipped: collections.Counter[str] = collections.Counter()
    for trip_id, trip in selected.items():
        if trip_id not in first or first[trip_id] is last[trip_id] or first[trip_id][0] == last[trip_id][0]:
            skipped["fewer than two stops"] += 1
            continue
        span, reason = _span(first[trip_id], last[trip_id])
        stop0, stop1 = first[trip_id][3], last[trip_id][3]
        origin, destination = places.get(stop0), places.get(stop1)
        if span is None:
            skipped[reason] += 1
        elif origin is None or destination is None:
            skipped["a stop missing from stops.txt"] += 1
        else:
            found.append(FeedTrip(trip_id=trip_id, trip=trip, departure=span[0] // 60, arrival=-(-span[1] // 60),
                                  origin=origin, destination=destination, first_stop=stop0, last_stop=stop1,
                                  seconds=span))
    for reason, count in sorted(skipped.items()):
        warnings.append("%d trip(s) left out for %s" % (count, reason))
    return found


def check_trips(trips: list[FeedTrip]) -> None:
    """What the solver and the trip file cannot take."""
    if not trips:
        raise FeedError("no usable trips")
    if len(trips) > limits.MAX_TRIPS:
        raise FeedError("%d trips; the solver takes at most %d: choose fewer routes with --routes"
                        % (len(trips), limits.MAX_TRIPS))
    late = [r for r in trips if r.arrival > limits.MAX_HOURS * 60 + 59]
    if late:
        raise FeedError("trip %s ends after %d:59, beyond the trip file's hhmm fields"
                        % (late[0].trip_id, limits.MAX_HOURS))


def end_uses(trips: list[FeedTrip]) -> collections.Counter[str]:
    """place -> trips that start or end there."""
    uses: collections.Counter[str] = collections.Counter()
    for r in trips:
        uses[r.origin] += 1
        uses[r.destination] += 1
    return uses


def order_trips(trips: list[FeedTrip], keys: dict[str, float], aux: dict[str, int],
                of_place: dict[str, Terminal], min_layover: int) -> tuple[list[FeedTrip], list[tf.TripRow]]:
    """The trips in the order of the trip file (by departure) and their lines."""
    for r in trips:
        r.group_key = keys[r.trip["route_id"]]
        r.aux_value = aux[r.trip_id]
    rows = sorted(trips, key=lambda r: (r.departure, r.arrival, r.group_key, r.aux_value))
    trip_rows = [tf.TripRow(r.departure, of_place[r.origin].short, r.arrival, of_place[r.destination].short,
                            r.group_key, r.aux_value, min_layover, number)
                 for number, r in enumerate(rows, 1)]
    return rows, trip_rows


def build_problem(source: FeedLike, args: Options) -> Problem:
    """Reads the feed into the problem the writers write."""
    feed = as_feed(source)
    tables = read_tables(feed)
    keys = line_keys(tables.routes)
    aux = aux_values([t["trip_id"] for t in tables.trips])
    wanted = wanted_routes(tables.routes, args.routes)
    services, picked_date = choose_services(feed, args, tables, wanted)
    warnings: list[str] = []
    selected = select_trips(tables, services, wanted, warnings)
    warnings.extend(frequency_warnings(feed, selected))
    first, last = trip_ends(feed, selected, {t["trip_id"] for t in tables.trips})
    raw = feed_trips(selected, first, last, stop_places(tables.stops.rows, tables.coordinates), warnings)
    check_trips(raw)
    terminals = place_terminals(Placing(end_uses(raw), tables.stops, tables.coordinates, args.merge_radius,
                                        args.max_terminals, args.depot))
    matrix = dead_run_matrix(terminals.ordered, args.detour, args.speed)
    warnings.extend(check_matrix(terminals.ordered, matrix))
    mode = layover_rules.choose_mode(args.layovers, any(r.trip.get("block_id") for r in raw))
    aligned = layover_rules.align_turnarounds(raw) if mode == layover_rules.LEARNED else 0
    rows, trip_rows = order_trips(raw, keys, aux, terminals.of_place, args.min_layover)
    rules = layover_rules.learn(rows, trip_rows, {t.short: i for i, t in enumerate(terminals.ordered)}, matrix,
                                mode, args.min_layover, args.layover_share)
    rules.aligned = aligned
    blocks = {r.trip.get("block_id", "") for r in rows} - {""}
    return Problem(terminals=terminals.ordered, matrix=matrix, rows=rows, trip_rows=trip_rows,
                   routes=tables.route_by_id, keys=keys, services=services, warnings=warnings,
                   operator_blocks=len(blocks), rules=rules, picked_date=picked_date, merge_radius=terminals.radius)
