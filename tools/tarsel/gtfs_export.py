"""gtfs_export: a solved problem's schedule written back into its GTFS feed.

    gtfs_export FEED PROBLEM OUT [--no-blocks] [--no-shifts | --shifts NAME] [--force]

PROBLEM is a problem that gtfs_import wrote from FEED.  OUT, a folder or, when
its name ends in .zip, a zip archive, receives every file of FEED with:

- blocks (where PROBLEM holds Tarsel.bla): trips.txt gives every trip of the
  problem the block_id of its vehicle block, T-<service>-<n>, <n> the block's
  number in Tarsel.bla and <service> its trips' service_id(s) joined by "+";
  other trips keep theirs.  deadheads.txt, deadhead_times.txt and
  ops_locations.txt add each block's moves without passengers: the pull-out
  from the depot, the dead runs between terminals, each return to the depot
  and back, the pull-in, timed by the problem's dead-run matrix;
- shifts (where PROBLEM holds Tarsel_shifts.csv, or the shifts file NAME of
  PROBLEM, such as shift_search's Tarsel_shifts_64.csv): stop_times.txt moves
  every stop of each shifted trip by its shift.

Records that change are written anew from the values the importer's reader
parsed; every other record, line end included, and every other file keeps
its bytes.  The copy is checked before it is put in place (each trip of the
problem in one block, no two trips of a block overlapping by their stop
times, each block's trips in Tarsel.bla's order, the shifts applied to every
stop, every other file unchanged); any fault, as any refused input, ends with
a message and exit code 1, and nothing is written.  So does a problem whose
shift_search timetables are half in place (Tarsel_search.commit), unless the
shifts are left out.
"""

from __future__ import annotations

import argparse
import codecs
import collections
import csv
import os
import re
import sys
import zipfile
from dataclasses import dataclass, field
from typing import Optional, Sequence

from . import blocks as tb
from . import feed_out
from . import files as tf
from .errors import TarselError
from .feed import Feed, TableStream, blank_lines, format_record, split_line_end, table_rows
from .search_files import SHIFTS_FILE, best_file_for, check_set_whole
from .service_days import parse_gtfs_time
from .solved import BLOCK_FILE

TRIP_FILE = "Tarsel.bss"
LEGEND_TRIPS_FILE = "legend_trips.csv"
LEGEND_TERMINALS_FILE = "legend_terminals.csv"
STOP_TIMES_FILE = "stop_times.txt"
TRIPS_FILE = "trips.txt"
DEADHEADS_FILE = "deadheads.txt"
DEADHEAD_TIMES_FILE = "deadhead_times.txt"
OPS_LOCATIONS_FILE = "ops_locations.txt"
_TIME = re.compile(r"(\d+):(\d\d)(?::(\d\d))?")


class ExportError(TarselError):
    """A problem, its results or a feed that cannot make the copy."""


@dataclass
class LegendTrip:
    """A trip of the problem as the import saw it in the feed."""

    aux_value: int
    trip_id: str
    service_id: str
    departure: int        # minutes of the service day
    arrival: int
    shift: int = 0        # minutes moved


# Stop times of one trip: (stop_sequence, arrival, departure), seconds or None.
StopTimes = list[tuple[str, Optional[int], Optional[int]]]


@dataclass
class ExportBlock:
    block_id: str
    number: int
    trips: list[LegendTrip]
    lines: list[tb.BlockTrip]     # the block's lines of Tarsel.bla, trip for trip


@dataclass
class Exported:
    """What the copy changed."""

    trips_moved: int = 0
    stop_times_moved: int = 0
    blocks: list[ExportBlock] = field(default_factory=list)
    deadheads: int = 0
    ops_locations: int = 0
    notes: list[str] = field(default_factory=list)


# ---------------------------------------------------------------- the problem

def _read_csv(path: str, columns: Sequence[str]) -> list[dict[str, str]]:
    if not os.path.isfile(path):
        raise ExportError("%s: missing" % path)
    with open(path, encoding="utf-8-sig", errors="replace", newline="") as handle:
        reader = csv.DictReader(handle)
        missing = [c for c in columns if c not in (reader.fieldnames or [])]
        if missing:
            raise ExportError("%s: missing column(s) %s" % (path, ", ".join(missing)))
        return [{k: (v or "").strip() for k, v in row.items() if k is not None} for row in reader]


def _integer(text: str, where: str, what: str) -> int:
    try:
        return int(text)
    except ValueError:
        raise ExportError("%s: %s %r is not a whole number" % (where, what, text)) from None


def _clock(text: str, where: str) -> int:
    try:
        return tf.parse_clock(text)
    except tf.FormatError as error:
        raise ExportError("%s: %s" % (where, error)) from None


def read_legend(problem: str) -> dict[int, LegendTrip]:
    path = os.path.join(problem, LEGEND_TRIPS_FILE)
    trips: dict[int, LegendTrip] = {}
    for line, row in enumerate(_read_csv(path, ("aux_value", "trip_id", "service_id", "departure", "arrival")), 2):
        where = "%s line %d" % (path, line)
        aux = _integer(row["aux_value"], where, "aux_value")
        if aux in trips:
            raise ExportError("%s: aux value %d appears twice" % (where, aux))
        trips[aux] = LegendTrip(aux, row["trip_id"], row["service_id"], _clock(row["departure"], where),
                                _clock(row["arrival"], where))
    return trips


def read_shifts(problem: str, legend: dict[int, LegendTrip], name: str = SHIFTS_FILE) -> None:
    """Sets each legend trip's shift from the shifts file name; refuses shifts
    that are not those of the problem's legend."""
    legend_path = os.path.join(problem, LEGEND_TRIPS_FILE)
    path = os.path.join(problem, name)
    rows = _read_csv(path, ("aux_value", "departure_before", "departure_after", "shift_minutes"))
    if len(rows) != len(legend):
        raise ExportError("%s holds %d trips, %s %d: the shifts belong to another problem"
                          % (path, len(rows), legend_path, len(legend)))
    seen: set[int] = set()
    for line, row in enumerate(rows, 2):
        where = "%s line %d" % (path, line)
        aux = _integer(row["aux_value"], where, "aux_value")
        if aux not in legend:
            raise ExportError("%s: trip with aux value %d is not in %s: the shifts belong to another problem"
                              % (where, aux, legend_path))
        if aux in seen:
            raise ExportError("%s: trip with aux value %d appears twice" % (where, aux))
        seen.add(aux)
        departure = _clock(row["departure_before"], where)
        if departure != legend[aux].departure:
            raise ExportError("%s: trip with aux value %d departs %s, %s says %s: the shifts belong to another "
                              "problem" % (where, aux, row["departure_before"], legend_path,
                                           tf.format_clock(legend[aux].departure)))
        shift = _integer(row["shift_minutes"], where, "shift_minutes")
        if _clock(row["departure_after"], where) - departure != shift:
            raise ExportError("%s: %s to %s is not a shift of %d minutes"
                              % (where, row["departure_before"], row["departure_after"], shift))
        legend[aux].shift = shift


def read_blocks(problem: str, legend: dict[int, LegendTrip],
                shifts_name: str = SHIFTS_FILE) -> tuple[list[ExportBlock], tf.TripFile]:
    """Tarsel.bla's blocks, each trip found through Tarsel.bss and the legend;
    refuses a block file of another timetable than the one exported."""
    trip_path, block_path = os.path.join(problem, TRIP_FILE), os.path.join(problem, BLOCK_FILE)
    try:
        trip_file = tf.read_trip_file(trip_path)
        block_file = tb.read_block_file(block_path)
    except (tf.FormatError, ValueError) as error:
        raise ExportError(str(error)) from None
    for trip in trip_file.trips:
        known = legend.get(trip.aux_value)
        if known is None:
            raise ExportError("%s: trip with aux value %d is not in %s: the problem's files do not belong "
                              "together" % (trip_path, trip.aux_value, LEGEND_TRIPS_FILE))
        if (trip.departure, trip.arrival) != (known.departure + known.shift, known.arrival + known.shift):
            moved = "the shifted timetable" if known.shift else "the timetable imported"
            raise ExportError("%s: trip %s runs %s-%s, in %s it runs %s-%s: %s belongs to another timetable "
                              "(to export blocks with the shifts of %s, solve %s as Tarsel.bss first; or "
                              "give --no-blocks or --no-shifts)"
                              % (trip_path, known.trip_id, tf.format_clock(trip.departure),
                                 tf.format_clock(trip.arrival), moved,
                                 tf.format_clock(known.departure + known.shift),
                                 tf.format_clock(known.arrival + known.shift), TRIP_FILE, shifts_name,
                                 best_file_for(shifts_name)))
    if len(trip_file.trips) != len(legend):
        raise ExportError("%s holds %d trips, %s %d: the problem's files do not belong together"
                          % (trip_path, len(trip_file.trips), LEGEND_TRIPS_FILE, len(legend)))
    matched, unmatched = tb.match_block_trips(trip_file, block_file)
    if unmatched:
        number, line = unmatched[0]
        raise ExportError("%s: block %d line %d matches no trip of %s (%d such lines): the block file belongs "
                          "to another run" % (block_path, number, line.position, TRIP_FILE, len(unmatched)))
    served = collections.Counter(t.aux_value for t in matched.values())
    missing = [t for t in trip_file.trips if served[t.aux_value] != 1]
    if missing:
        raise ExportError("%s serves trip %s %d times (%d trips not once): the block file belongs to another run"
                          % (block_path, legend[missing[0].aux_value].trip_id, served[missing[0].aux_value],
                             len(missing)))
    result = []
    for block in block_file.blocks:
        trips = [legend[matched[(block.number, line.position)].aux_value] for line in block.trips]
        services = "+".join(sorted({t.service_id for t in trips}))
        result.append(ExportBlock("T-%s-%d" % (services, block.number), block.number, trips, list(block.trips)))
    return result, trip_file


# ---------------------------------------------------------------- stop_times.txt

def shift_time(field: str, minutes: int) -> str:
    """The field with its time moved; an empty field stays empty.  The hours
    keep at least the digits they had: 7:58:00 + 3 is 8:01:00, 23:59:00 + 3 is
    24:02:00."""
    match = _TIME.search(field)
    if match is None:
        if field.strip() == "":
            return field
        raise ExportError("not a GTFS time: %r" % field)
    hours, mins = int(match.group(1)), int(match.group(2))
    total = hours * 60 + mins + minutes
    if total < 0:
        raise ExportError("%s moved by %d minutes falls before the start of the service day"
                          % (match.group(0), minutes))
    text = "%0*d:%02d" % (len(match.group(1)), total // 60, total % 60)
    if match.group(3) is not None:
        text += ":" + match.group(3)
    return field[:match.start()] + text + field[match.end():]


def _seconds(text: str) -> Optional[int]:
    try:
        return parse_gtfs_time(text)
    except ValueError:
        return None


def _bom(feed: Feed, name: str) -> bytes:
    with feed.open_binary(name) as handle:
        return codecs.BOM_UTF8 if handle.read(len(codecs.BOM_UTF8)) == codecs.BOM_UTF8 else b""


def _changed(raw: str, fields: list[str]) -> str:
    """A record written anew in place of its text, blank lines before it and
    its line end kept."""
    return blank_lines(raw) + format_record(fields) + split_line_end(raw)[1]


def rewrite_stop_times(feed: Feed, shift_of: dict[str, int]) -> tuple[bytes, dict[str, StopTimes], int]:
    """stop_times.txt with the stops of each trip of shift_of moved by its
    shift, the stop times of those trips as read (before the shift), and the
    count of records moved."""
    times: dict[str, StopTimes] = collections.defaultdict(list)
    moved = 0
    with TableStream(feed, STOP_TIMES_FILE) as stream:
        out = [stream.take_text()]
        trip_col, arrival_col, departure_col, sequence_col = (
            stream.column[n] for n in ("trip_id", "arrival_time", "departure_time", "stop_sequence"))
        for line, record in stream:
            raw = stream.take_text()
            trip_id = record[trip_col]
            if trip_id in shift_of:
                times[trip_id].append((record[sequence_col], _seconds(record[arrival_col]),
                                       _seconds(record[departure_col])))
                if shift_of[trip_id]:
                    fields = list(stream.fields)
                    try:
                        for col in (arrival_col, departure_col):
                            fields[col] = shift_time(fields[col], shift_of[trip_id])
                    except ExportError as error:
                        raise ExportError("%s:%d, trip %s: %s" % (stream.where, line, trip_id, error)) from None
                    raw = _changed(raw, fields)
                    moved += 1
            out.append(raw)
        out.append(stream.take_text())
    return _bom(feed, STOP_TIMES_FILE) + "".join(out).encode("utf-8"), times, moved


def _span(stops: StopTimes) -> tuple[int, int]:
    """The first and the last moment of a trip over all its stop times."""
    moments = [t for _, a, d in stops for t in (a, d) if t is not None]
    return min(moments), max(moments)


def _first_last(stops: StopTimes) -> tuple[tuple[str, Optional[int], Optional[int]], ...]:
    def order(entry: tuple[str, Optional[int], Optional[int]]) -> int:
        try:
            return int(entry[0])
        except ValueError:
            return 0
    ordered = sorted(stops, key=order)
    return ordered[0], ordered[-1]


def check_feed_unchanged(legend: dict[int, LegendTrip], times: dict[str, StopTimes], where: str) -> None:
    """Each trip departs and arrives in the feed as at the import: a feed
    changed since then is refused, naming the first trips that differ."""
    lost = [t.trip_id for t in legend.values() if t.trip_id not in times]
    if lost:
        raise ExportError("%s: %d trip(s) of the problem have no stop times there, e.g. %s: the problem was "
                          "imported from another feed" % (where, len(lost), sorted(lost)[0]))
    differ = []
    for trip in sorted(legend.values(), key=lambda t: (t.departure, t.aux_value)):
        first, last = _first_last(times[trip.trip_id])
        start = first[2] if first[2] is not None else first[1]
        end = last[1] if last[1] is not None else last[2]
        now = (None if start is None else start // 60, None if end is None else -(-end // 60))
        # The import sets a departure to its minute rounded up where the block's
        # previous trip arrives within that same minute.
        aligned = (None if start is None else -(-start // 60), now[1])
        if (trip.departure, trip.arrival) not in (now, aligned):
            shown = "%s-%s" % tuple("?" if m is None else tf.format_clock(m) for m in now)
            differ.append("%s (%s, imported %s-%s)" % (trip.trip_id, shown, tf.format_clock(trip.departure),
                                                       tf.format_clock(trip.arrival)))
    if differ:
        raise ExportError("%s: %d trip(s) run otherwise than at the import, first %s: the feed changed since; "
                          "import it again" % (where, len(differ), "; ".join(differ[:3])))


# ---------------------------------------------------------------- trips.txt

def rewrite_trips(feed: Feed, block_of: dict[str, str]) -> bytes:
    """trips.txt with the block_id of every trip in block_of; a feed without
    the column gets it last, the other trips an empty one."""
    with TableStream(feed, TRIPS_FILE) as stream:
        header = stream.take_text()
        added = "block_id" not in stream.column
        if added:
            body, end = split_line_end(header)
            header = body + ",block_id" + end
        out = [header]
        for _, record in stream:
            raw = stream.take_text()
            value = block_of.get(record[stream.column["trip_id"]])
            if added:
                body, end = split_line_end(raw)
                raw = body + "," + format_record([value or ""]) + end
            elif value is not None and record[stream.column["block_id"]] != value:
                fields = list(stream.fields)
                fields[stream.column["block_id"]] = value
                raw = _changed(raw, fields)
            out.append(raw)
        out.append(stream.take_text())
    return _bom(feed, TRIPS_FILE) + "".join(out).encode("utf-8")


# ---------------------------------------------------------------- deadheads

@dataclass
class Move:
    """One move without passengers within a block, times in minutes."""

    origin: str                   # terminal short names
    destination: str
    start: int
    end: int
    after: Optional[LegendTrip]   # the trip it follows, if any
    before: Optional[LegendTrip]  # the trip it leads to, if any


def block_moves(block: ExportBlock, trip_file: tf.TripFile) -> list[Move]:
    """The pull-out, each dead run between two terminals, each return to the
    depot and back, and the pull-in: a move leaves right after its trip
    arrives, or arrives right when its trip departs."""
    depot = trip_file.names[0]
    pairs = list(zip(block.trips, block.lines))
    first, line = pairs[0]
    start = first.departure + first.shift
    moves = [Move(depot, line.origin, start - trip_file.dead_run(depot, line.origin), start, None, first)]
    for (trip, line), (next_trip, next_line) in zip(pairs, pairs[1:]):
        arrival, departure = trip.arrival + trip.shift, next_trip.departure + next_trip.shift
        if next_line.depot_return:
            moves.append(Move(line.destination, depot, arrival,
                              arrival + trip_file.dead_run(line.destination, depot), trip, None))
            moves.append(Move(depot, next_line.origin, departure - trip_file.dead_run(depot, next_line.origin),
                              departure, None, next_trip))
        elif line.destination != next_line.origin:
            moves.append(Move(line.destination, next_line.origin, arrival,
                              arrival + trip_file.dead_run(line.destination, next_line.origin), trip, next_trip))
    last, line = pairs[-1]
    arrival = last.arrival + last.shift
    moves.append(Move(line.destination, depot, arrival, arrival + trip_file.dead_run(line.destination, depot),
                      last, None))
    return moves


def _gtfs_clock(minutes: int) -> str:
    return "%02d:%02d:00" % divmod(minutes, 60)


def _csv_bytes(rows: list[list[str]]) -> bytes:
    return "".join(format_record(row) + "\r\n" for row in rows).encode("utf-8")


def ops_location_rows(problem: str, trip_file: tf.TripFile) -> list[list[str]]:
    """The depot and the terminals, where the import put them."""
    path = os.path.join(problem, LEGEND_TERMINALS_FILE)
    by_name = {row["short_name"]: row for row in _read_csv(
        path, ("short_name", "role", "stop_name", "stop_lat", "stop_lon", "stop_ids"))}
    rows = [["ops_location_id", "ops_location_code", "ops_location_name", "ops_location_desc",
             "ops_location_lat", "ops_location_lon"]]
    for number, name in enumerate(trip_file.names):
        row = by_name.get(name)
        if row is None:
            raise ExportError("%s: no terminal %s of %s" % (path, name, TRIP_FILE))
        role = "depot" if number == 0 else "terminal"
        desc = role + (" at stops %s" % row["stop_ids"] if row["stop_ids"] else "")
        rows.append([name, name, row["stop_name"] or name, desc, row["stop_lat"], row["stop_lon"]])
    return rows


def deadhead_files(problem: str, blocks: list[ExportBlock], trip_file: tf.TripFile,
                   exported: Exported) -> dict[str, bytes]:
    heads = [["deadhead_id", "service_id", "block_id", "shape_id", "to_trip_id", "from_trip_id",
              "to_deadhead_id", "from_deadhead_id"]]
    times = [["deadhead_id", "arrival_time", "departure_time", "ops_location_id", "stop_id",
              "location_sequence", "shape_dist_traveled"]]
    early = 0
    for block in blocks:
        moves = block_moves(block, trip_file)
        ids = ["%s-%d" % (block.block_id, k) for k in range(1, len(moves) + 1)]
        for k, move in enumerate(moves):
            trip = move.before or move.after
            assert trip is not None
            heads.append([ids[k], trip.service_id, block.block_id, "",
                          move.before.trip_id if move.before else "", move.after.trip_id if move.after else "",
                          ids[k + 1] if move.before is None and k + 1 < len(moves) else "",
                          ids[k - 1] if move.after is None and k > 0 else ""])
            if move.start < 0:
                early += 1
            for sequence, (place, minute) in enumerate(((move.origin, max(0, move.start)),
                                                        (move.destination, max(0, move.end)))):
                times.append([ids[k], _gtfs_clock(minute), _gtfs_clock(minute), place, "", str(sequence), ""])
    if early:
        exported.notes.append("%d deadhead(s) would leave before the start of the service day; they leave "
                              "at 00:00:00" % early)
    locations = ops_location_rows(problem, trip_file)
    exported.deadheads = len(heads) - 1
    exported.ops_locations = len(locations) - 1
    return {DEADHEADS_FILE: _csv_bytes(heads), DEADHEAD_TIMES_FILE: _csv_bytes(times),
            OPS_LOCATIONS_FILE: _csv_bytes(locations)}


# ---------------------------------------------------------------- the copy's checks

def _check_files(staged: Feed, feed: Feed, files: dict[str, bytes]) -> None:
    expected = feed.names() + [n for n in files if not feed.has(n)]
    if sorted(staged.names()) != sorted(expected):
        raise ExportError("the copy holds the files %s, the feed %s" % (sorted(staged.names()), sorted(expected)))
    for name in expected:
        want = files[name] if name in files else feed.read_bytes(name)
        if staged.read_bytes(name) != want:
            raise ExportError("the copy's %s differs from what was meant to be written" % name)


def _check_blocks(staged: Feed, blocks: list[ExportBlock], spans: dict[str, tuple[int, int]]) -> None:
    members: dict[str, list[str]] = collections.defaultdict(list)
    for row in table_rows(staged, TRIPS_FILE):
        members[row.get("block_id", "")].append(row["trip_id"])
    for block in blocks:
        wanted = [t.trip_id for t in block.trips]
        found = sorted(members.get(block.block_id, []), key=lambda t: spans.get(t, (0, 0)))
        if sorted(found) != sorted(wanted):
            strays = sorted(set(found) ^ set(wanted))
            raise ExportError("block %s: the copy's trips.txt gives it other trips than Tarsel.bla (%s): a trip "
                              "outside the problem may carry the id" % (block.block_id, ", ".join(strays[:3])))
        for before, after in zip(found, found[1:]):
            if spans[after][0] < spans[before][1]:
                raise ExportError("block %s: trips %s and %s overlap in time (%s-%s and %s-%s by their stop times)"
                                  % (block.block_id, before, after,
                                     *(tf.format_clock(s // 60) for s in spans[before] + spans[after])))
        if found != wanted:
            raise ExportError("block %s: its trips run in another order than in Tarsel.bla" % block.block_id)


def check_copy(staged: Feed, feed: Feed, files: dict[str, bytes], legend: dict[int, LegendTrip],
               before: dict[str, StopTimes], blocks: list[ExportBlock]) -> None:
    """The copy as written: every other file as in the feed, every stop of
    every trip moved by its shift, every block whole, in order, without
    overlap."""
    _check_files(staged, feed, files)
    _, after, _ = rewrite_stop_times(staged, {t.trip_id: 0 for t in legend.values()})
    for trip in legend.values():
        moved = [(seq, None if a is None else a + 60 * trip.shift, None if d is None else d + 60 * trip.shift)
                 for seq, a, d in before[trip.trip_id]]
        if after.get(trip.trip_id) != moved:
            raise ExportError("trip %s: the copy's stop times are not the feed's moved by %d minutes"
                              % (trip.trip_id, trip.shift))
    if blocks:
        _check_blocks(staged, blocks, {trip_id: _span(stops) for trip_id, stops in after.items()})


# ---------------------------------------------------------------- the command

def export(feed_path: str, problem: str, out: str, blocks: bool = True, shifts: bool = True,
           force: bool = False, shifts_only: bool = False, shifts_name: Optional[str] = None) -> Exported:
    """Writes the copy; shifts_only is gtfs_apply_shifts: the shifts file
    required, the blocks left.  A shifts_name given is required too."""
    exported = Exported()
    legend = read_legend(problem)
    if shifts or shifts_only:
        # A shifts file missing or of the run before may only be half of the
        # change under way.
        check_set_whole(problem)
    shifts_file = shifts_name or SHIFTS_FILE
    use_shifts = shifts_only or (shifts and (shifts_name is not None
                                             or os.path.exists(os.path.join(problem, shifts_file))))
    use_blocks = not shifts_only and blocks and os.path.exists(os.path.join(problem, BLOCK_FILE))
    if not use_shifts and not use_blocks:
        raise ExportError("%s holds neither %s nor %s (or both were left out): nothing to export"
                          % (problem, BLOCK_FILE, shifts_file))
    if use_shifts:
        read_shifts(problem, legend, shifts_file)
    target = feed_out.choose_target(feed_path, problem, out, force)
    with Feed(feed_path) as feed:
        feed_out.check_member_names(feed)
        for name in (STOP_TIMES_FILE, TRIPS_FILE):
            if not feed.has(name):
                raise ExportError("%s: missing" % feed.where(name))
        data, before, exported.stop_times_moved = rewrite_stop_times(
            feed, {t.trip_id: t.shift for t in legend.values()})
        check_feed_unchanged(legend, before, feed.where(STOP_TIMES_FILE))
        exported.trips_moved = sum(1 for t in legend.values() if t.shift)
        files: dict[str, bytes] = {}
        if use_shifts:
            files[STOP_TIMES_FILE] = data
        if use_blocks:
            exported.blocks, trip_file = read_blocks(problem, legend, shifts_file)
            block_of = {t.trip_id: b.block_id for b in exported.blocks for t in b.trips}
            files[TRIPS_FILE] = rewrite_trips(feed, block_of)
            replaced = [n for n in (DEADHEADS_FILE, DEADHEAD_TIMES_FILE, OPS_LOCATIONS_FILE) if feed.has(n)]
            if replaced:
                exported.notes.append("the feed's own %s replaced by the schedule's" % ", ".join(replaced))
            files.update(deadhead_files(problem, exported.blocks, trip_file, exported))
        scratch = feed_out.stage(target, feed, files)
        try:
            with Feed(scratch) as staged:
                check_copy(staged, feed, files, legend, before, exported.blocks)
        except BaseException:
            feed_out.discard(scratch)
            raise
        feed_out.put_in_place(target, scratch)
    return exported


def _shifts_argument(text: str) -> str:
    """--shifts: a file of the problem folder, named without a folder."""
    if text in ("", ".", "..") or os.path.basename(text) != text or (os.altsep and os.altsep in text):
        raise argparse.ArgumentTypeError("the name of a file in the problem folder, such as "
                                         "Tarsel_shifts_64.csv, without a folder: got %r" % text)
    return text


def add_shifts_option(parser: argparse.ArgumentParser) -> None:
    parser.add_argument("--shifts", type=_shifts_argument, metavar="NAME",
                        help="the shifts file of the problem folder to apply (default %s; e.g. shift_search's "
                             "Tarsel_shifts_64.csv, the fewest moves it found for 64 vehicles)" % SHIFTS_FILE)


# Where the system refuses; the package's own errors end in the frame every
# command runs in.
ERRORS = (OSError, zipfile.BadZipFile)


def main(argv: Optional[Sequence[str]] = None) -> int:
    parser = argparse.ArgumentParser(
        prog="gtfs_export",
        description="Write a copy of a GTFS feed with a solved problem's vehicle blocks (trips.txt block_id "
                    "and the deadheads.txt, deadhead_times.txt and ops_locations.txt of the moves without "
                    "passengers) and its shifted departures.")
    parser.add_argument("feed", help="the GTFS feed the problem was imported from: folder or .zip")
    parser.add_argument("problem", help="the solved problem folder (Tarsel.bla; Tarsel_shifts.csv)")
    parser.add_argument("out", help="the feed to write: a new (or empty) folder, or a file ending in .zip")
    parser.add_argument("--no-blocks", action="store_true", help="leave block_id and write no deadheads")
    parser.add_argument("--no-shifts", action="store_true", help="leave the departures as in the feed")
    add_shifts_option(parser)
    parser.add_argument("--force", action="store_true", help="replace an existing OUT")
    args = parser.parse_args(sys.argv[1:] if argv is None else argv)
    if args.no_shifts and args.shifts is not None:
        parser.error("--shifts and --no-shifts exclude each other")
    try:
        done = export(args.feed, args.problem, args.out, not args.no_blocks, not args.no_shifts, args.force,
                      shifts_name=args.shifts)
    except ERRORS as error:
        print("gtfs_export: %s" % error, file=sys.stderr)
        return 1
    for note in done.notes:
        print("gtfs_export: note: %s" % note, file=sys.stderr)
    print("%s: %d trips in %d blocks, %d deadheads, %d ops locations; %d trips moved (%d stop times); every "
          "other record and file as in %s" % (args.out, sum(len(b.trips) for b in done.blocks), len(done.blocks),
                                              done.deadheads, done.ops_locations, done.trips_moved,
                                              done.stop_times_moved, args.feed))
    return 0
