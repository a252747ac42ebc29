"""blocks_csv: the vehicle blocks of a solved problem as CSV, one row per trip.

    blocks_csv [PROBLEM_DIR] [-o FILE] [--blocks NAME]

Reads Tarsel.bla (or the block file NAME, such as the operator's blocks in
Tarsel_operator.bla), Tarsel.bss and, where gtfs_import made the problem, the
legend files; writes PROBLEM_DIR/Tarsel_blocks.csv (or FILE, "-" for the
standard output).  Four columns come from the feed: the route's short name,
the stop names of the two terminals and the operator's block_id, empty where
the problem does not come from a feed or the feed does not tell; the last
marks a change of line (an interlining) before the trip.
Block lines are matched to the trips of the trip file by origin, departure,
destination, arrival and line key; trips that share all five are taken in
trip file order.  The schedule is checked first (every trip
served once, every connection in time, the block file whole): a block file
that does not belong to the trip file is refused with exit status 1 and
nothing is written.
"""

from __future__ import annotations

import argparse
import csv
import io
import os
import sys
from typing import Iterator, Optional, Sequence, TextIO, Union

from .blocks import BlockTrip
from .command import add_blocks_option
from .files import format_clock, write_output
from .solved import BLOCK_FILE, Solved, open_solved

COLUMNS = ["block", "position", "origin", "departure", "destination", "arrival",
           "dead_run_before", "wait_before", "depot_return_before", "parking_before",
           "line_key", "trip_number", "aux_value", "gtfs_trip_id",
           # added later, at the end, so that readers of the columns before keep working
           "route_short_name", "origin_stop_name", "destination_stop_name", "block_id",
           "interlining_before"]   # 1 where the vehicle changes line before the trip


def rows(solved: Solved) -> Iterator[list[Union[int, str]]]:
    for block in solved.block_file.blocks:
        previous: list[Optional[BlockTrip]] = [None]
        for before, line in zip(previous + list(block.trips), block.trips):
            trip = solved.trip_of(block, line)
            yield [block.number, line.position, line.origin, format_clock(line.departure),
                   line.destination, format_clock(line.arrival), line.dead_run, line.wait,
                   1 if line.depot_return else 0, line.park, line.line_key,
                   trip.number if trip else "", trip.aux_value if trip else "",
                   solved.gtfs_trip_id(trip), solved.route_short_name(line, trip),
                   solved.legend.stop_names.get(line.origin, ""),
                   solved.legend.stop_names.get(line.destination, ""), solved.block_id(trip),
                   1 if before is not None and before.line_key != line.line_key else 0]


def write_csv(solved: Solved, handle: TextIO) -> int:
    writer = csv.writer(handle, lineterminator="\n")
    writer.writerow(COLUMNS)
    count = 0
    for row in rows(solved):
        writer.writerow(row)
        count += 1
    return count


def main(argv: Optional[Sequence[str]] = None) -> int:
    parser = argparse.ArgumentParser(prog="blocks_csv", description=(__doc__ or "").split("\n")[0])
    parser.add_argument("directory", nargs="?", default=".", help="solved problem directory")
    parser.add_argument("-o", "--output", help="CSV file, - for the standard output "
                                               "(default PROBLEM_DIR/Tarsel_blocks.csv, or Tarsel_operator_blocks.csv "
                                               "for --blocks Tarsel_operator.bla)")
    add_blocks_option(parser)
    args = parser.parse_args(sys.argv[1:] if argv is None else argv)
    solved = open_solved("blocks_csv", args.directory, args.blocks)
    if solved is None:
        return 1
    text = io.StringIO()
    count = write_csv(solved, text)
    default = "Tarsel_blocks.csv" if args.blocks == BLOCK_FILE else os.path.splitext(args.blocks)[0] + "_blocks.csv"
    path = write_output("blocks_csv", args.output, os.path.join(args.directory, default), text.getvalue())
    if path is None:
        return 1
    if path != "-":
        print("%s: %d trips in %d blocks, %d interlinings" % (path, count, len(solved.block_file.blocks),
                                                             solved.interlinings))
    return 0
