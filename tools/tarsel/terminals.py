"""Terminals and geometry: the first and last stops of the trips merged into
terminals (through parent_station, then around the busiest stop within the
merge radius), the depot, the terminals' short names and the dead runs
between them (the great-circle distance times a detour factor at an average
speed, rounded up to whole minutes, at least 1 between two terminals)."""

from __future__ import annotations

import collections
import math
import re
import unicodedata
from dataclasses import dataclass, field
from typing import Optional

from . import files as tf
from . import limits
from .feed import FeedError, Row, Table

Coord = tuple[float, float]

EARTH_RADIUS_KM = 6371.0088
DEPOT_NAME = "DEPOT"
NAME_STOP_WORDS = {"and", "at", "the", "of", "de", "da", "do"}


def haversine_km(a: Coord, b: Coord) -> float:
    lat1, lon1, lat2, lon2 = map(math.radians, (a[0], a[1], b[0], b[1]))
    h = math.sin((lat2 - lat1) / 2) ** 2 + math.cos(lat1) * math.cos(lat2) * math.sin((lon2 - lon1) / 2) ** 2
    return 2 * EARTH_RADIUS_KM * math.asin(min(1.0, math.sqrt(h)))


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


def choose_depot(terminals: list[Terminal], point: Optional[Coord], radius_m: float) -> Terminal:
    """Terminal 0: the terminal nearest the --depot point (or the centroid),
    or, when --depot lies beyond the merge radius of every terminal, a
    terminal of its own, which serves no trip and holds no stop."""
    if point:
        depot_coord = point
    else:
        depot_coord = (sum(t.coord[0] for t in terminals) / len(terminals),
                       sum(t.coord[1] for t in terminals) / len(terminals))
    nearest = min(terminals, key=lambda t: (haversine_km(t.coord, depot_coord), t.place or ""))
    if point is None or haversine_km(nearest.coord, depot_coord) * 1000 <= radius_m:
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


@dataclass
class Placing:
    """What the terminals are made of and with: the trips' end places and how
    often each is used, the stops, and the options that shape them."""

    uses: collections.Counter[str]      # place -> trip ends there
    stop_table: Table
    coordinates: dict[str, Coord]
    merge_radius: float
    max_terminals: Optional[int]
    depot: Optional[Coord]


@dataclass
class Terminals:
    """The terminals in the problem's order, terminal 0 the depot, and where
    each place went."""

    ordered: list[Terminal]
    of_place: dict[str, Terminal]
    radius: float                       # the merge radius they were made with


def _place_names(placing: Placing) -> tuple[dict[str, Coord], dict[str, str]]:
    stop_by_id = {s["stop_id"]: s for s in placing.stop_table.rows}
    coord_of: dict[str, Coord] = {}
    name_of: dict[str, str] = {}
    for place in placing.uses:
        if place not in placing.coordinates:
            raise FeedError("%s: stop %s has no coordinates: give its stop_lat and stop_lon"
                            % (placing.stop_table.where, place))
        coord_of[place] = placing.coordinates[place]
        name_of[place] = stop_by_id[place].get("stop_name") or place
    return coord_of, name_of


def _merge_within_limit(placing: Placing) -> tuple[list[Terminal], dict[str, Terminal], Terminal, float]:
    """Terminals merged within the radius, widened until --max-terminals is
    met; the depot; the radius."""
    coord_of, name_of = _place_names(placing)
    radius = placing.merge_radius
    while True:
        terminals, of_place = merge_terminals(placing.uses, coord_of, name_of, radius)
        depot = choose_depot(terminals, placing.depot, radius)
        count = len(terminals) + (depot not in terminals)
        if placing.max_terminals is None or count <= placing.max_terminals:
            break
        if radius >= MAX_MERGE_RADIUS_M:
            raise FeedError("%d terminals remain after merging within %g m: --max-terminals %d cannot be met"
                            % (count, radius, placing.max_terminals))
        radius = min(MAX_MERGE_RADIUS_M, wider_radius(radius))
    if count > limits.MAX_TERMINALS:
        raise FeedError(
            "%d terminals remain after merging within %g m, the solver takes at most %d including "
            "the depot: raise --merge-radius, or give --max-terminals (or choose fewer routes with --routes)"
            % (len(terminals), radius, limits.MAX_TERMINALS - (depot not in terminals)))
    return terminals, of_place, depot, radius


def _name_and_order(terminals: list[Terminal], depot: Terminal, stops: list[Row],
                    of_place: dict[str, Terminal]) -> list[Terminal]:
    """Short names, busiest terminal first; the depot first, the others by
    name; each terminal's stops, its places' children included."""
    depot.is_depot = True
    taken = {DEPOT_NAME} if depot not in terminals else set()
    for terminal in sorted(terminals, key=lambda t: (-t.trip_ends, t.place)):
        terminal.short = short_name(terminal.stop_name, taken)
    if depot not in terminals:
        depot.short = DEPOT_NAME
    ordered = [depot] + sorted((t for t in terminals if t is not depot), key=lambda t: t.short)
    for place_id, terminal in of_place.items():
        terminal.stop_ids.append(place_id)
    # One pass over the stops, not one per terminal: a large feed has
    # thousands of stops.
    children: dict[str, set[str]] = collections.defaultdict(set)
    for stop in stops:
        if stop.get("parent_station"):
            children[stop["parent_station"]].add(stop["stop_id"])
    for terminal in ordered:
        found = set(terminal.stop_ids)
        for place in terminal.places:
            if place:
                found |= children.get(place, set())
        terminal.stop_ids = sorted(found)
    return ordered


def place_terminals(placing: Placing) -> Terminals:
    """The problem's terminals from the trips' end places."""
    terminals, of_place, depot, radius = _merge_within_limit(placing)
    ordered = _name_and_order(terminals, depot, placing.stop_table.rows, of_place)
    return Terminals(ordered, of_place, radius)


def dead_run_matrix(terminals: list[Terminal], detour: float, speed_kmh: float) -> list[list[int]]:
    return [[dead_run_minutes(a, b, detour, speed_kmh) for b in terminals] for a in terminals]
