"""The block file Tarsel.bla: its vehicle blocks, their match to the trips of
the trip file, and the check that a schedule serves every trip once in time."""

from __future__ import annotations

import collections
import re
from dataclasses import dataclass, field
from typing import Optional, Sequence

from .files import FormatError, TripFile, TripRow, format_key, parse_clock, read_text
from .network import earliest_connection


@dataclass(slots=True)
class BlockTrip:
    """One trip line of a vehicle block."""

    position: int
    origin: str
    departure: int
    destination: str
    arrival: int
    dead_run: int                 # minutes before the trip (from the depot after a return)
    wait: int                     # minutes of waiting before the trip
    line_key: str                 # text with two decimals, as printed
    depot_return: bool = False    # the vehicle went back to the depot before this trip
    park: int = 0                 # minutes parked at the depot then
    to_depot: int = 0             # dead run to the depot then

    def key(self) -> tuple[str, int, str, int, str]:
        return (self.origin, self.departure, self.destination, self.arrival, self.line_key)


@dataclass
class Block:
    number: int
    depot: str = ""
    leave: Optional[int] = None   # minutes; departure from the depot
    trips: list[BlockTrip] = field(default_factory=list)
    return_dead_run: int = 0

    @property
    def back(self) -> int:
        """Minutes of the arrival back at the depot."""
        if self.trips:
            return self.trips[-1].arrival + self.return_dead_run
        return self.leave if self.leave is not None else 0


@dataclass
class BlockFile:
    num_buses: Optional[int] = None
    num_trips: Optional[int] = None
    operational_cost: Optional[int] = None
    min_depot_time: Optional[int] = None
    blocks: list[Block] = field(default_factory=list)
    statistics: dict[str, int] = field(default_factory=dict)


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


def _read_statistic(result: BlockFile, stripped: str, where: str) -> None:
    for label, name in _STATISTICS.items():
        if stripped.startswith(label):
            value = (stripped[len(label):].split() or [""])[0]
            if not re.fullmatch(r"-?\d+(:-?\d+)?", value):
                raise FormatError("%s: %r is not a number" % (where, value))
            result.statistics[name] = parse_clock(value) if ":" in value else int(value)


def _read_header_value(result: BlockFile, stripped: str, where: str) -> bool:
    """Takes a header line's value; True for the minimum depot time's line,
    which holds nothing else."""
    for label, name in _HEADER_VALUES.items():
        if stripped.startswith(label):
            value = stripped[len(label):].strip()
            if not re.fullmatch(r"-?\d+", value):
                raise FormatError("%s: %r is not a number" % (where, value))
            setattr(result, name, int(value))
    if stripped.startswith("#Minimum depot time:"):
        result.min_depot_time = parse_clock(stripped.split(":", 1)[1])
        return True
    return False


def _read_block_line(block: Block, line: str, stripped: str,
                     pending_return: Optional[tuple[int, int]]) -> tuple[bool, Optional[tuple[int, int]]]:
    """A line within a block: whether it was one, and the depot return (park,
    dead run) that waits for the next trip."""
    match = re.fullmatch(r"Leave Depot: (\S+) at (\S+)", stripped)
    if match:
        block.depot = match.group(1)
        block.leave = parse_clock(match.group(2))
        return True, pending_return
    match = _RETURN_LINE.fullmatch(line)
    if match:
        return True, (parse_clock(match.group(2)), int(match.group(3)))
    match = re.fullmatch(r"Return to the Depot: (\S+) - DeadRun: (-?\d+)", stripped)
    if match:
        block.return_dead_run = int(match.group(2))
        return True, pending_return
    match = _TRIP_LINE.fullmatch(line)
    if match:
        trip = BlockTrip(int(match.group(1)), match.group(2), parse_clock(match.group(3)),
                         match.group(4), parse_clock(match.group(5)), int(match.group(6)),
                         int(match.group(7)), format_key(float(match.group(8))))
        if pending_return is not None:
            trip.depot_return = True
            trip.park, trip.to_depot = pending_return
        block.trips.append(trip)
        return True, None
    return stripped.startswith(("Trip ", "Total ", "-")), pending_return


def read_block_file(path: str) -> BlockFile:
    """Parses Tarsel.bla into blocks of BlockTrip and the schedule statistics."""
    lines = read_text(path).split("\n")
    result = BlockFile()
    block: Optional[Block] = None
    pending_return: Optional[tuple[int, int]] = None
    in_statistics = False
    for number, line in enumerate(lines, 1):
        stripped = line.strip()
        where = "%s:%d" % (path, number)
        if not stripped:
            continue
        if stripped.startswith("----- Statistics from Schedule"):
            in_statistics = True
            block = None
        elif in_statistics:
            _read_statistic(result, stripped, where)
        elif _read_header_value(result, stripped, where):
            continue
        elif (opening := re.fullmatch(r"<Vehicle Block --- (\d+) >", stripped)):
            block = Block(int(opening.group(1)))
            result.blocks.append(block)
            pending_return = None
        elif block is not None:
            known, pending_return = _read_block_line(block, line, stripped, pending_return)
            if not known:
                raise FormatError("%s: unexpected line %r" % (where, line))
    if result.num_buses is None:
        raise FormatError("%s: no block file header" % path)
    return result


Matched = dict[tuple[int, int], TripRow]


def match_block_trips(trip_file: TripFile,
                      block_file: BlockFile) -> tuple[Matched, list[tuple[int, BlockTrip]]]:
    """The trip of the trip file that each block line stands for.

    A block line names no trip number, so it is matched by (origin, departure,
    destination, arrival, line key).  Trips that share all five are handed out
    in trip file order to the block lines in block file order.  Returns a dict
    (block number, position) -> TripRow, and the list of block lines that match
    no unused trip.
    """
    pool: dict[tuple[str, int, str, int, str], collections.deque[TripRow]] = \
        collections.defaultdict(collections.deque)
    for trip in trip_file.trips:
        pool[trip.key()].append(trip)
    matched: Matched = {}
    unmatched: list[tuple[int, BlockTrip]] = []
    for block in block_file.blocks:
        for line in block.trips:
            candidates = pool.get(line.key())
            if candidates:
                matched[(block.number, line.position)] = candidates.popleft()
            else:
                unmatched.append((block.number, line))
    return matched, unmatched


def check_blocks(trip_file: TripFile, block_file: BlockFile) -> list[str]:
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
            if after.departure < earliest_connection(before.arrival + layover, direct):
                faults.append("block %d: line %d cannot follow line %d %s"
                              % (block.number, after.position, before.position, _LATE))
    return faults


_LATE = "in time"


def is_late(fault: str) -> bool:
    """Whether a fault of check_blocks is a connection out of time, which a
    block file of this trip file may hold; any other says it is not of it."""
    return fault.endswith(_LATE)


def interlinings(line_keys: Sequence[Sequence[str]]) -> int:
    """Changes of line between two consecutive trips of a vehicle, for
    vehicles given as the line keys of their trips."""
    return sum(1 for keys in line_keys for a, b in zip(keys, keys[1:]) if a != b)


def check_block_file(trip_file: TripFile, block_file: BlockFile) -> list[str]:
    """Faults of a schedule (check_blocks) and of a block file cut short:
    the statistics that end it, and as many trips as its header says."""
    faults = check_blocks(trip_file, block_file)
    lines = sum(len(b.trips) for b in block_file.blocks)
    if block_file.num_trips != lines:
        faults.append("header says %s trips, file holds %d" % (block_file.num_trips, lines))
    if "scheduling_cost" not in block_file.statistics:
        faults.append("no schedule statistics at the end: the file is cut")
    return faults
