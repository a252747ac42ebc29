"""gtfs_apply_shifts: a copy of a GTFS feed with a changed timetable's departures.

    gtfs_apply_shifts FEED PROBLEM_DIR OUT [--shifts NAME] [--force]

gtfs_export with the shifts alone: PROBLEM_DIR is a problem that gtfs_import
wrote from FEED and in which an annealer (or another search) left
Tarsel_shifts.csv (or the file NAME of PROBLEM_DIR, such as shift_search's
Tarsel_shifts_64.csv), one row per trip of the problem with its shift in
minutes.
OUT, a folder or, when its name ends in .zip, a zip archive, receives every
file of FEED; in stop_times.txt the arrival and departure times of every stop
of each shifted trip move by its shift (hours past 24 written as GTFS writes
them, 24:02:00), and every other record keeps its bytes.  Trips are found
through the problem's legend_trips.csv (aux_value -> trip_id).  Shifts that do
not belong to the legend, a feed that lacks the legend's trips or changed
since the import, and an OUT that would harm the feed or replace files without
--force are refused with a message and exit code 1; nothing is written then.
So is a problem whose shift_search timetables are half in place
(Tarsel_search.commit).
"""

from __future__ import annotations

import argparse
import sys
from typing import Optional, Sequence

from .gtfs_export import ERRORS, add_shifts_option, export


def main(argv: Optional[Sequence[str]] = None) -> int:
    parser = argparse.ArgumentParser(
        prog="gtfs_apply_shifts",
        description="Write a copy of a GTFS feed in which the trips that Tarsel_shifts.csv of a problem "
                    "imported from it moves depart and arrive by their shifts.")
    parser.add_argument("feed", help="the GTFS feed the problem was imported from: directory or .zip")
    parser.add_argument("problem", help="problem directory with legend_trips.csv and Tarsel_shifts.csv")
    parser.add_argument("out", help="the feed to write: a new (or empty) directory, or a file ending in .zip")
    add_shifts_option(parser)
    parser.add_argument("--force", action="store_true", help="replace an existing OUT")
    args = parser.parse_args(sys.argv[1:] if argv is None else argv)
    try:
        done = export(args.feed, args.problem, args.out, force=args.force, shifts_only=True,
                      shifts_name=args.shifts)
    except ERRORS as error:
        print("gtfs_apply_shifts: %s" % error, file=sys.stderr)
        return 1
    print("%s: %d trips moved (%d stop times), every other line and file as in %s"
          % (args.out, done.trips_moved, done.stop_times_moved, args.feed))
    return 0
