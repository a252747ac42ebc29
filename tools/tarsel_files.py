"""The problem and result files of a Tarsel problem directory, for the Python tools.

Writers: the parameter file Tarsel.ini, the dead-run template Teste.mvm and the
trip file Tarsel.bss, byte for byte in the layout that the annealers write and
the solver reads.  Readers: the trip file (by the solver's fixed columns), the
parameter file, the solution file Tarsel.sol and the block file Tarsel.bla.
Also: the count of connection arcs that the solver's network generation makes,
and the matching of block lines back to the trips of the trip file.

Times are whole minutes after midnight of the service day, without wrap.
"""

import bisect
import collections
import csv
import os
import re
import time

MAX_TRIPS = 2734          # the solver's node table: 2 * trips + 2 <= 5470
MAX_TERMINALS = 65        # terminal 0, the depot, included
MAX_ARCS = 683099         # the solver's arc table
LONG_ARCS_PER_NODE = 40   # long arcs that one arc-generation pass may add per trip
TRIP_NAME_WIDTH = 8       # terminal names in the fixed columns of a trip line
MAX_HOURS = 99            # the hhmm fields of a trip line hold two digits of hours

TRIP_FILE_TITLE = "# Rede criada com base nos hor\xe1rios de partida e chegadas das viagens\n"
OPERATION_LINE = "\nTempo total de opera\xe7\xe3o: %02d:%02d\n"
MATRIX_TAG = "[DEAD_RUN_MATRIX]"
COUNT_LABEL = "NUM_TERMINALS = "   # 16 characters, then the count


class FormatError(ValueError):
    """A file that does not hold what its reader expects."""


def split_minutes(minutes):
    """Hours and minutes with truncating division: -5 gives (0, -5)."""
    hours = abs(minutes) // 60
    rest = abs(minutes) % 60
    if minutes < 0:
        return -hours, -rest
    return hours, rest


def format_clock(minutes):
    """hh:mm as the solver prints it ("%02d:%02d" of split_minutes)."""
    return "%02d:%02d" % split_minutes(minutes)


def parse_clock(text):
    """Minutes from "hh:mm" as the solver prints it, also "00:-5"."""
    match = re.fullmatch(r"\s*(-?\d+):(-?\d+)\s*", text)
    if not match:
        raise FormatError("not a time hh:mm: %r" % text)
    return int(match.group(1)) * 60 + int(match.group(2))


def format_hhmm(minutes):
    """The four digits of a trip line's time field."""
    if minutes < 0 or minutes > MAX_HOURS * 60 + 59:
        raise ValueError("time %d min does not fit the hhmm field (00:00..99:59)" % minutes)
    return "%02d%02d" % split_minutes(minutes)


def format_matrix_entry(minutes):
    hours, rest = split_minutes(minutes)
    return "%d:%02d" % (hours, rest)


def format_key(group_key):
    """A line key as the trip and block files write it."""
    return "%.2f" % group_key


# ---------------------------------------------------------------- writers

def format_parameters(title, dead_run_mult, min_depot_time, deadrun_weight,
                      layover_weight, short_arc_param):
    """Tarsel.ini: a free first line, then five fixed-width labels and values."""
    title = title.replace("\n", " ")[:140]
    return "".join([
        title + "\n",
        "DeadRunMult:      %.2f\n" % dead_run_mult,        # label of 18
        "Minimum Depot: %s\n" % format_clock(min_depot_time),  # label of 15
        "DeadrunWeight: %d\n" % deadrun_weight,            # labels of 14
        "LayoverWeight: %d\n" % layover_weight,
        "ShortArcParam: %d\n" % short_arc_param,
    ]).encode("latin-1")


def format_matrix_section(names, matrix):
    """Teste.mvm: the dead-run section, ending right after the last value.

    The trip file's readers skip the rest of the last matrix line and two more
    lines before the trips; the writer supplies them as "\\n\\n" and the
    "[TRIP]" line, so nothing may follow the last value here.
    """
    count = len(names)
    if len(matrix) != count or any(len(row) != count for row in matrix):
        raise ValueError("the dead-run matrix must be %d x %d" % (count, count))
    for name in names:
        check_terminal_name(name)
    width = max([TRIP_NAME_WIDTH] + [len(format_matrix_entry(v)) for row in matrix for v in row])
    lines = [MATRIX_TAG, COUNT_LABEL + str(count),
             "# dead runs in h:mm from the row's terminal to the column's; terminal 0 is the depot",
             " " * width + "".join(" %*s" % (width, name) for name in names)]
    for name, row in zip(names, matrix):
        lines.append("%-*s" % (width, name) + "".join(" %*s" % (width, format_matrix_entry(v)) for v in row))
    return "\n".join(lines).rstrip(" ").encode("latin-1")


def check_terminal_name(name):
    if not name or len(name) > TRIP_NAME_WIDTH or not re.fullmatch(r"[!-~]+", name):
        raise ValueError("terminal name %r: 1 to 8 printable characters without blanks" % name)


class TripRow:
    """One trip line: times in minutes, terminals by name."""

    __slots__ = ("departure", "origin", "arrival", "destination", "group_key",
                 "aux_value", "min_layover", "number")

    def __init__(self, departure, origin, arrival, destination, group_key,
                 aux_value, min_layover, number=0):
        self.departure = departure
        self.origin = origin
        self.arrival = arrival
        self.destination = destination
        self.group_key = group_key
        self.aux_value = aux_value
        self.min_layover = min_layover
        self.number = number  # 1-based position in the trip file

    def key(self):
        """What a block line shows of the trip."""
        return (self.origin, self.departure, self.destination, self.arrival,
                format_key(self.group_key))

    def __repr__(self):
        return "TripRow(%s)" % ", ".join("%s=%r" % (s, getattr(self, s)) for s in self.__slots__)


def format_trip_line(position, trip):
    """One trip line, without its leading line break; position counts from 0."""
    check_terminal_name(trip.origin)
    check_terminal_name(trip.destination)
    return "%s%-4d = %s, %-8s     | %s, %-8s     | %.2f \t%d\t%d" % (
        "Trip", position, format_hhmm(trip.departure), trip.origin,
        format_hhmm(trip.arrival), trip.destination, trip.group_key,
        trip.aux_value, trip.min_layover)


def format_trip_file(template, trips, header_value, when=None):
    """The whole trip file, as bytes: header, template, "[TRIP]", trips, totals.

    `trips` must already stand in the order of departure; `template` is the
    content of Teste.mvm (bytes).  `when` is a struct_time for the header line
    (the local time by default).
    """
    when = time.localtime() if when is None else when
    operation = sum(t.arrival - t.departure for t in trips)
    parts = [TRIP_FILE_TITLE, "# %.19s\n\n" % time.asctime(when)]
    head = "".join(parts).encode("latin-1") + template + b"\n\n"
    body = ["[TRIP] %d" % header_value]
    body.extend("\n" + format_trip_line(i, trip) for i, trip in enumerate(trips))
    body.append("\n" + "-" * 59 + "\n")
    body.append("Total de viagens: %d\n" % len(trips))
    body.append(OPERATION_LINE % split_minutes(operation))
    return head + "".join(body).encode("latin-1")


# ---------------------------------------------------------------- readers

class TripFile:
    """What the solver reads from Tarsel.bss."""

    def __init__(self, names, matrix, trips):
        self.names = names          # terminal names, terminal 0 first
        self.matrix = matrix        # matrix[from][to] in minutes
        self.trips = trips          # TripRow list in file order

    def terminal(self, name):
        """Terminal number of a name; an unknown name is the depot, 0."""
        try:
            return self.names.index(name)
        except ValueError:
            return 0

    def dead_run(self, from_name, to_name):
        return self.matrix[self.terminal(from_name)][self.terminal(to_name)]


def _leading_int(text):
    match = re.match(r"\s*([+-]?\d+)", text)
    return int(match.group(1)) if match else 0


_TOKEN = re.compile(r"\s*(\S+)")
_ENTRY = re.compile(r"\s*(-?\d+)\s*([^\s\d])\s*(-?\d+)")


def _skip_line(data, position):
    """Position after the next line end (or the end of the text)."""
    end = data.find("\n", position)
    return len(data) if end < 0 else end + 1


def read_trip_file(path):
    """Reads a trip file by the rules and fixed columns the solver uses."""
    with open(path, "rb") as handle:
        data = handle.read().decode("latin-1").replace("\r\n", "\n")
    position = 0
    while not data.startswith(MATRIX_TAG, position):
        position = _skip_line(data, position)
        if position >= len(data):
            raise FormatError("%s: no %s line" % (path, MATRIX_TAG))
    position = _skip_line(data, position)
    count = _leading_int(data[position + len(COUNT_LABEL):_skip_line(data, position)])
    if not 0 < count <= 999:
        raise FormatError("%s: no terminal count after %s" % (path, MATRIX_TAG))
    position = _skip_line(data, _skip_line(data, position))
    names = []
    matrix = []

    def expect(pattern, what):
        nonlocal position
        match = pattern.match(data, position)
        if not match:
            raise FormatError("%s: the dead-run section ends early (%s)" % (path, what))
        position = match.end()
        return match

    for _ in range(count):
        names.append(expect(_TOKEN, "terminal names").group(1))
    for row in range(count):
        expect(_TOKEN, "row label of terminal %d" % row)
        values = []
        for _ in range(count):
            match = expect(_ENTRY, "row of terminal %d" % row)
            values.append(int(match.group(1)) * 60 + int(match.group(3)))
        matrix.append(values)
    for _ in range(3):
        position = _skip_line(data, position)
    trips = []
    for line in data[position:].split("\n"):
        if not line.startswith("T"):
            break
        tail = line[53:].split()
        if len(tail) < 3:
            raise FormatError("%s: trip line without key, aux value and layover: %r" % (path, line))
        trips.append(TripRow(
            departure=_leading_int(line[11:13]) * 60 + _leading_int(line[13:15]),
            origin=line[17:25].split(" ")[0],
            arrival=_leading_int(line[32:34]) * 60 + _leading_int(line[34:36]),
            destination=line[38:46].split(" ")[0],
            group_key=float(tail[0]),
            aux_value=int(tail[1]),
            min_layover=int(tail[2]),
            number=len(trips) + 1))
    return TripFile(names, matrix, trips)


def read_parameters(path):
    """The five values of Tarsel.ini, by the solver's label widths."""
    with open(path, "rb") as handle:
        lines = handle.read().decode("latin-1").replace("\r\n", "\n").split("\n")
    if len(lines) < 6:
        raise FormatError("%s: fewer than 6 lines" % path)
    depot = re.match(r"\s*(\d+)\S\s*(\d+)", lines[2][15:])
    if not depot:
        raise FormatError("%s: line 3 holds no hh:mm" % path)
    return {
        "dead_run_mult": float(lines[1][18:].split()[0]),
        "min_depot_time": int(depot.group(1)) * 60 + int(depot.group(2)),
        "deadrun_weight": _leading_int(lines[3][14:]),
        "layover_weight": _leading_int(lines[4][14:]),
        "short_arc_param": _leading_int(lines[5][14:]),
    }


def read_solution(path):
    """The total cost that the solver leaves in Tarsel.sol."""
    with open(path, "rb") as handle:
        match = re.match(rb"\s*(-?\d+)", handle.read())
    if not match:
        raise FormatError("%s holds no integer" % path)
    return int(match.group(1))


# ---------------------------------------------------------------- block file

class BlockTrip:
    """One trip line of a vehicle block."""

    __slots__ = ("position", "origin", "departure", "destination", "arrival",
                 "dead_run", "wait", "line_key", "depot_return", "park", "to_depot")

    def __init__(self, position, origin, departure, destination, arrival,
                 dead_run, wait, line_key):
        self.position = position
        self.origin = origin
        self.departure = departure
        self.destination = destination
        self.arrival = arrival
        self.dead_run = dead_run      # minutes before the trip (from the depot after a return)
        self.wait = wait              # minutes of waiting before the trip
        self.line_key = line_key      # text with two decimals, as printed
        self.depot_return = False     # the vehicle went back to the depot before this trip
        self.park = 0                 # minutes parked at the depot then
        self.to_depot = 0             # dead run to the depot then

    def key(self):
        return (self.origin, self.departure, self.destination, self.arrival, self.line_key)


class Block:
    def __init__(self, number, depot, leave):
        self.number = number
        self.depot = depot
        self.leave = leave            # minutes; departure from the depot
        self.trips = []
        self.return_dead_run = 0

    @property
    def back(self):
        """Minutes of the arrival back at the depot."""
        return self.trips[-1].arrival + self.return_dead_run if self.trips else self.leave


class BlockFile:
    def __init__(self):
        self.num_buses = None
        self.num_trips = None
        self.operational_cost = None
        self.min_depot_time = None
        self.blocks = []
        self.statistics = {}


_TRIP_LINE = re.compile(
    r"\s*(\d+)\s+(\S+)\s+(-?\d+:-?\d+)\s+(\S+)\s+(-?\d+:-?\d+)\s+(-?\d+)\s+(-?\d+)\s+(-?[\d.]+)\s*$")
_RETURN_LINE = re.compile(r"\s*Return to Depot: (\S+) & Park for (-?\d+:-?\d+)\s+(-?\d+)\s+0\s*$")
_HEADER_VALUES = {
    "#Blocks of trip with number of buses:": "num_buses",
    "#Total of trips:": "num_trips",
    "#Total cost of this schedule:": "operational_cost",
}
_STATISTICS = {
    "Total Dead Run": "dead_run", "Total Layover": "layover",
    "Total Parking at Depot": "parking", "Total Depot Returns:": "depot_returns",
    "Total Scheduling Cost:": "scheduling_cost",
}


def read_block_file(path):
    """Parses Tarsel.bla into blocks of BlockTrip and the schedule statistics."""
    with open(path, "rb") as handle:
        lines = handle.read().decode("latin-1").replace("\r\n", "\n").split("\n")
    result = BlockFile()
    block = None
    pending_return = None
    in_statistics = False
    for number, line in enumerate(lines, 1):
        stripped = line.strip()
        if not stripped:
            continue
        if stripped.startswith("----- Statistics from Schedule"):
            in_statistics = True
            block = None
            continue
        if in_statistics:
            for label, name in _STATISTICS.items():
                if stripped.startswith(label):
                    value = stripped[len(label):].strip().split()[0]
                    result.statistics[name] = parse_clock(value) if ":" in value else int(value)
            continue
        for label, name in _HEADER_VALUES.items():
            if stripped.startswith(label):
                setattr(result, name, int(stripped[len(label):]))
        if stripped.startswith("#Minimum depot time:"):
            result.min_depot_time = parse_clock(stripped.split(":", 1)[1])
            continue
        match = re.fullmatch(r"<Vehicle Block --- (\d+) >", stripped)
        if match:
            block = Block(int(match.group(1)), None, None)
            result.blocks.append(block)
            pending_return = None
            continue
        if block is None:
            continue
        match = re.fullmatch(r"Leave Depot: (\S+) at (\S+)", stripped)
        if match:
            block.depot = match.group(1)
            block.leave = parse_clock(match.group(2))
            continue
        match = _RETURN_LINE.fullmatch(line)
        if match:
            pending_return = (parse_clock(match.group(2)), int(match.group(3)))
            continue
        match = re.fullmatch(r"Return to the Depot: (\S+) - DeadRun: (-?\d+)", stripped)
        if match:
            block.return_dead_run = int(match.group(2))
            continue
        match = _TRIP_LINE.fullmatch(line)
        if match:
            trip = BlockTrip(int(match.group(1)), match.group(2), parse_clock(match.group(3)),
                             match.group(4), parse_clock(match.group(5)), int(match.group(6)),
                             int(match.group(7)), format_key(float(match.group(8))))
            if pending_return is not None:
                trip.depot_return = True
                trip.park, trip.to_depot = pending_return
                pending_return = None
            block.trips.append(trip)
            continue
        if stripped.startswith(("Trip ", "Total ", "-")):
            continue
        raise FormatError("%s:%d: unexpected line %r" % (path, number, line))
    if result.num_buses is None:
        raise FormatError("%s: no block file header" % path)
    return result


def match_block_trips(trip_file, block_file):
    """The trip of the trip file that each block line stands for.

    A block line names no trip number, so it is matched by (origin, departure,
    destination, arrival, line key).  Trips that share all five are handed out
    in trip file order to the block lines in block file order.  Returns a dict
    (block number, position) -> TripRow, and the list of block lines that match
    no unused trip.
    """
    pool = collections.defaultdict(collections.deque)
    for trip in trip_file.trips:
        pool[trip.key()].append(trip)
    matched = {}
    unmatched = []
    for block in block_file.blocks:
        for line in block.trips:
            candidates = pool.get(line.key())
            if candidates:
                matched[(block.number, line.position)] = candidates.popleft()
            else:
                unmatched.append((block.number, line))
    return matched, unmatched


def check_blocks(trip_file, block_file):
    """Faults of a schedule: trips missed or served twice, infeasible connections.

    A connection from trip p to trip n is feasible when n departs no earlier
    than p's arrival plus its minimum layover plus the direct dead run.
    Returns a list of texts, empty when the schedule is sound.
    """
    matched, unmatched = match_block_trips(trip_file, block_file)
    faults = ["block %d line %d matches no trip: %r" % (number, line.position, line.key())
              for number, line in unmatched]
    served = collections.Counter(trip.number for trip in matched.values())
    for trip in trip_file.trips:
        if served[trip.number] != 1:
            faults.append("trip %d served %d times" % (trip.number, served[trip.number]))
    if block_file.num_buses != len(block_file.blocks):
        faults.append("header says %s buses, file holds %d blocks"
                      % (block_file.num_buses, len(block_file.blocks)))
    for block in block_file.blocks:
        for before, after in zip(block.trips, block.trips[1:]):
            prev = matched.get((block.number, before.position))
            layover = prev.min_layover if prev else 0
            direct = trip_file.dead_run(before.destination, after.origin)
            if after.departure < before.arrival + layover + direct:
                faults.append("block %d: line %d cannot follow line %d in time"
                              % (block.number, after.position, before.position))
    return faults


# ---------------------------------------------------------------- network size

def count_connection_arcs(trips, terminal_of, matrix, short_arc_param):
    """Short connection arcs and long-arc records that network generation makes.

    For trips i before j in file order (the file is in order of departure), let
    available = departure(j) - arrival(i) - min_layover(i): the pair connects
    when available >= the direct dead run, through a short arc held in memory
    when available < the dead runs via the depot + short_arc_param, else
    through a long-arc record in the temporary file.  `trips` are TripRow in
    file order, `terminal_of` maps a name to its terminal number.
    """
    by_origin = collections.defaultdict(lambda: ([], []))
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


def arcs_in_memory(num_trips, short_arcs):
    """Arcs of the first network: pull-out, trip and pull-in per trip, the
    short connections and the return arc."""
    return 3 * num_trips + short_arcs + 1


# ---------------------------------------------------------------- solved directory

class Solved:
    """A solved problem directory: trip file, block file, solution and legend."""

    def __init__(self, directory):
        self.directory = directory
        self.trip_file = read_trip_file(os.path.join(directory, "Tarsel.bss"))
        self.block_file = read_block_file(os.path.join(directory, "Tarsel.bla"))
        solution = os.path.join(directory, "Tarsel.sol")
        self.total_cost = read_solution(solution) if os.path.exists(solution) else None
        self.matched, self.unmatched = match_block_trips(self.trip_file, self.block_file)
        self.gtfs_trip_ids, self.line_names = read_legend(directory)

    def trip_of(self, block, line):
        """The TripRow a block line stands for, or None."""
        return self.matched.get((block.number, line.position))

    def gtfs_trip_id(self, trip):
        return self.gtfs_trip_ids.get(trip.aux_value, "") if trip is not None else ""


def read_legend(directory):
    """aux value -> GTFS trip_id and line key text -> route short name, from the
    legend files that gtfs_import writes; empty where they are absent."""
    trip_ids = {}
    names = {}
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
