"""gtfs_apply_shifts: a copy of a GTFS feed with a changed timetable's departures.

    gtfs_apply_shifts FEED PROBLEM_DIR OUT

PROBLEM_DIR is a problem that gtfs_import wrote from FEED and in which an
annealer (or another search) left Tarsel_shifts.csv: one row per trip of the
problem with its shift in minutes.  OUT, a directory or, when its name ends in
.zip, a zip archive, receives every file of FEED; in stop_times.txt the
arrival and departure times of every stop of each shifted trip move by its
shift (hours past 24 written as GTFS writes them, 24:02:00), and every other
byte is the feed's own.  Trips are found through the problem's
legend_trips.csv (aux_value -> trip_id).  A shifts file that does not belong
to the legend, or a feed that lacks the legend's trips, is refused with a
message and exit code 1; nothing is written then.
"""

from __future__ import annotations

import argparse
import csv
import os
import re
import shutil
import sys
import tempfile
import zipfile
from dataclasses import dataclass
from typing import Optional, Sequence

from .feed import Feed, FeedError

SHIFTS_FILE = "Tarsel_shifts.csv"
LEGEND_TRIPS_FILE = "legend_trips.csv"
STOP_TIMES_FILE = "stop_times.txt"
_TIME = re.compile(r"(\d+):(\d\d)(?::(\d\d))?")


class ShiftError(Exception):
    """Shifts that cannot be applied to the feed."""


@dataclass
class Shifted:
    """What the copy changed."""

    trips: int
    stop_times: int


def _read_csv(path: str, columns: Sequence[str]) -> list[dict[str, str]]:
    if not os.path.isfile(path):
        raise ShiftError("%s: missing" % path)
    with open(path, encoding="utf-8-sig", errors="replace", newline="") as handle:
        reader = csv.DictReader(handle)
        missing = [c for c in columns if c not in (reader.fieldnames or [])]
        if missing:
            raise ShiftError("%s: missing column(s) %s" % (path, ", ".join(missing)))
        return [{k: (v or "").strip() for k, v in row.items() if k is not None} for row in reader]


def _integer(text: str, path: str, what: str) -> int:
    try:
        return int(text)
    except ValueError:
        raise ShiftError("%s: %s %r is not a whole number" % (path, what, text)) from None


def read_shifts(problem_dir: str) -> dict[str, int]:
    """trip_id -> shift in minutes, for the trips that move; refuses shifts
    that are not those of the problem's legend."""
    legend_path = os.path.join(problem_dir, LEGEND_TRIPS_FILE)
    shifts_path = os.path.join(problem_dir, SHIFTS_FILE)
    legend = _read_csv(legend_path, ("aux_value", "trip_id", "departure"))
    rows = _read_csv(shifts_path, ("aux_value", "departure_before", "departure_after", "shift_minutes"))
    trip_of: dict[int, dict[str, str]] = {}
    for row in legend:
        trip_of[_integer(row["aux_value"], legend_path, "aux_value")] = row
    if len(rows) != len(legend):
        raise ShiftError("%s holds %d trips, %s %d: the shifts belong to another problem"
                         % (shifts_path, len(rows), legend_path, len(legend)))
    shifts: dict[str, int] = {}
    seen: set[int] = set()
    for line, row in enumerate(rows, 2):
        where = "%s line %d" % (shifts_path, line)
        aux = _integer(row["aux_value"], where, "aux_value")
        if aux not in trip_of:
            raise ShiftError("%s: trip with aux value %d is not in %s: the shifts belong to another problem"
                             % (where, aux, legend_path))
        if aux in seen:
            raise ShiftError("%s: trip with aux value %d appears twice" % (where, aux))
        seen.add(aux)
        if row["departure_before"] != trip_of[aux]["departure"]:
            raise ShiftError("%s: trip with aux value %d departs %s, %s says %s: the shifts belong to another "
                             "problem" % (where, aux, row["departure_before"], legend_path,
                                          trip_of[aux]["departure"]))
        shift = _integer(row["shift_minutes"], where, "shift_minutes")
        if _clock_minutes(row["departure_after"]) - _clock_minutes(row["departure_before"]) != shift:
            raise ShiftError("%s: %s to %s is not a shift of %d minutes"
                             % (where, row["departure_before"], row["departure_after"], shift))
        if shift:
            shifts[trip_of[aux]["trip_id"]] = shift
    return shifts


def _clock_minutes(text: str) -> int:
    """Minutes of hh:mm as the problem's files write them (also "00:-5")."""
    match = re.fullmatch(r"(-?\d+):(-?\d+)", text)
    if not match:
        raise ShiftError("not a time hh:mm: %r" % text)
    return int(match.group(1)) * 60 + int(match.group(2))


def _split_fields(record: str) -> list[str]:
    """The raw text of each field of a CSV record, quotes and blanks kept."""
    fields = []
    start = 0
    quoted = False
    for i, char in enumerate(record):
        if char == '"':
            quoted = not quoted
        elif char == "," and not quoted:
            fields.append(record[start:i])
            start = i + 1
    fields.append(record[start:])
    return fields


def _bare(field: str) -> str:
    """A field's value as a CSV reader gives it, stripped."""
    text = field.strip()
    if len(text) >= 2 and text[0] == '"' and text[-1] == '"':
        text = text[1:-1].replace('""', '"')
    return text.strip()


def shift_time(field: str, minutes: int) -> str:
    """The field with its time moved; an empty field stays empty.  The hours
    keep at least the digits they had: 7:58:00 + 3 is 8:01:00, 23:59:00 + 3 is
    24:02:00."""
    match = _TIME.search(field)
    if match is None:
        if _bare(field) == "":
            return field
        raise ShiftError("not a GTFS time: %r" % field)
    hours, mins = int(match.group(1)), int(match.group(2))
    total = hours * 60 + mins + minutes
    if total < 0:
        raise ShiftError("%s moved by %d minutes falls before the start of the service day"
                         % (match.group(0), minutes))
    text = "%0*d:%02d" % (len(match.group(1)), total // 60, total % 60)
    if match.group(3) is not None:
        text += ":" + match.group(3)
    return field[:match.start()] + text + field[match.end():]


def shift_stop_times(data: bytes, shifts: dict[str, int], where: str) -> tuple[bytes, Shifted]:
    """stop_times.txt with the shifted trips' times moved; every other byte,
    line ends included, as it was."""
    # Latin-1 maps every byte to one character and back, so UTF-8 text passes
    # unchanged; trip ids are compared in the same form.
    wanted = {trip_id.encode("utf-8").decode("latin-1"): shift for trip_id, shift in shifts.items()}
    lines = data.decode("latin-1").split("\n")
    header = lines[0].lstrip("\xef\xbb\xbf").rstrip("\r")
    names = [_bare(f) for f in _split_fields(header)]
    try:
        trip_col, arrival_col, departure_col = (names.index(n) for n in ("trip_id", "arrival_time", "departure_time"))
    except ValueError:
        raise ShiftError("%s: needs the columns trip_id, arrival_time and departure_time" % where) from None
    found: set[str] = set()
    moved = 0
    out = [lines[0]]
    i = 1
    while i < len(lines):
        record = lines[i]
        i += 1
        # A quoted field may hold a line break: the record goes on.
        while record.count('"') % 2 and i < len(lines):
            record += "\n" + lines[i]
            i += 1
        body, end = (record[:-1], "\r") if record.endswith("\r") else (record, "")
        fields = _split_fields(body)
        if len(fields) > max(trip_col, arrival_col, departure_col):
            trip_id = _bare(fields[trip_col])
            if trip_id in wanted:
                try:
                    for col in (arrival_col, departure_col):
                        fields[col] = shift_time(fields[col], wanted[trip_id])
                except ShiftError as error:
                    raise ShiftError("%s, trip %s: %s" % (where, trip_id, error)) from None
                found.add(trip_id)
                moved += 1
                body = ",".join(fields)
        out.append(body + end)
    lost = sorted(set(wanted) - found)
    if lost:
        raise ShiftError("%s: %d shifted trip(s) have no stop times there, e.g. %s: the problem was imported "
                         "from another feed" % (where, len(lost), lost[0].encode("latin-1").decode("utf-8", "replace")))
    return "\n".join(out).encode("latin-1"), Shifted(len(found), moved)


def _write_directory(out: str, feed: Feed, files: dict[str, bytes]) -> None:
    if os.path.exists(out) and (not os.path.isdir(out) or os.listdir(out)):
        raise ShiftError("%s exists and is not an empty directory" % out)
    parent = os.path.dirname(os.path.abspath(out))
    scratch = tempfile.mkdtemp(prefix=".%s." % os.path.basename(os.path.abspath(out)), dir=parent)
    try:
        for name in feed.names():
            data = files[name] if name in files else feed.read_bytes(name)
            with open(os.path.join(scratch, name), "wb") as handle:
                handle.write(data)
        if os.path.isdir(out):
            os.rmdir(out)
        os.rename(scratch, out)
    except BaseException:
        shutil.rmtree(scratch, ignore_errors=True)
        raise


def _write_zip(out: str, feed: Feed, files: dict[str, bytes]) -> None:
    if os.path.abspath(out) == os.path.abspath(feed.path):
        raise ShiftError("%s is the feed itself" % out)
    scratch = out + ".new"
    try:
        with zipfile.ZipFile(scratch, "w", zipfile.ZIP_DEFLATED) as archive:
            for name in feed.names():
                data = files[name] if name in files else feed.read_bytes(name)
                archive.writestr(name, data)
        os.replace(scratch, out)
    except BaseException:
        if os.path.exists(scratch):
            os.remove(scratch)
        raise


def apply_shifts(feed_path: str, problem_dir: str, out: str) -> Shifted:
    shifts = read_shifts(problem_dir)
    with Feed(feed_path) as feed:
        if not feed.has(STOP_TIMES_FILE):
            raise ShiftError("%s: missing" % feed.where(STOP_TIMES_FILE))
        data, shifted = shift_stop_times(feed.read_bytes(STOP_TIMES_FILE), shifts, feed.where(STOP_TIMES_FILE))
        files = {STOP_TIMES_FILE: data}
        if out.lower().endswith(".zip"):
            _write_zip(out, feed, files)
        else:
            _write_directory(out, feed, files)
    return shifted


def main(argv: Optional[Sequence[str]] = None) -> int:
    parser = argparse.ArgumentParser(
        prog="gtfs_apply_shifts",
        description="Write a copy of a GTFS feed in which the trips that Tarsel_shifts.csv of a problem "
                    "imported from it moves depart and arrive by their shifts.")
    parser.add_argument("feed", help="the GTFS feed the problem was imported from: directory or .zip")
    parser.add_argument("problem", help="problem directory with legend_trips.csv and Tarsel_shifts.csv")
    parser.add_argument("out", help="the feed to write: a new (or empty) directory, or a file ending in .zip")
    args = parser.parse_args(sys.argv[1:] if argv is None else argv)
    try:
        shifted = apply_shifts(args.feed, args.problem, args.out)
    except (ShiftError, FeedError, OSError, zipfile.BadZipFile) as error:
        print("gtfs_apply_shifts: %s" % error, file=sys.stderr)
        return 1
    print("%s: %d trips moved (%d stop times), every other line and file as in %s"
          % (args.out, shifted.trips, shifted.stop_times, args.feed))
    return 0
