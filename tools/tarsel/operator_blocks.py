"""operator_blocks: the operator's schedule (block_id) as a block file.

    operator_blocks [PROBLEM_DIR] [-o FILE]

Each of the operator's blocks (the trips of one block_id in legend_trips.csv;
a trip without one is a block of its own) is run whole by one vehicle.  The
blocks are chained under the problem's own rules into the fewest vehicles at
the least cost: Tovarin solves a problem whose trips are the blocks, from the
first trip's departure to the last trip's arrival, with the last trip's
minimum layover, in a scratch folder.  Writes PROBLEM_DIR/Tarsel_operator.bla
in the layout of Tarsel.bla, with the costs and statistics as the solver
counts them, and names on the standard error every connection within a block
that the problem's rules forbid.  The last line of the standard output is one
JSON object of the schedule's figures.  The solver is $TOVARIN, else the
Tovarin beside this command or in build/bin/.
"""

from __future__ import annotations

import argparse
import json
import os
import subprocess
import sys
import tempfile
from dataclasses import dataclass, field
from typing import Optional, Sequence

from .blocks import interlinings, read_block_file
from .errors import TarselError
from .files import (Parameters, TripFile, TripRow, format_clock, format_key, format_matrix_section,
                    format_trip_file, read_parameters, read_trip_file, write_output)
from .network import earliest_connection
from .report import read_link_cost
from .report_operator import OPERATOR_FILE
from .schedule import VEHICLE_COST, format_block_file
from .solved import Legend, read_legend


class OperatorError(TarselError):
    """What stops the command, with its message."""


@dataclass
class OperatorBlock:
    block_id: str                # "" for a trip without one
    trips: list[TripRow] = field(default_factory=list)


def operator_blocks(trip_file: TripFile, legend: Legend) -> list[OperatorBlock]:
    """The operator's blocks in trip file order, their trips in that order too."""
    blocks: list[OperatorBlock] = []
    by_id: dict[str, OperatorBlock] = {}
    for trip in trip_file.trips:
        feed = legend.trips.get(trip.aux_value)
        block_id = feed.block_id if feed else ""
        if not block_id:
            blocks.append(OperatorBlock("", [trip]))
        elif block_id in by_id:
            by_id[block_id].trips.append(trip)
        else:
            by_id[block_id] = OperatorBlock(block_id, [trip])
            blocks.append(by_id[block_id])
    return blocks


def forbidden(trip_file: TripFile, legend: Legend, blocks: Sequence[OperatorBlock]) -> list[str]:
    """Every connection within a block that the solver would not make: the next
    trip departs before the arrival plus the minimum layover plus the direct
    dead run."""
    faults = []
    for block in blocks:
        for before, after in zip(block.trips, block.trips[1:]):
            gap = after.departure - before.arrival
            direct = trip_file.dead_run(before.destination, after.origin)
            if after.departure >= earliest_connection(before.arrival + before.min_layover, direct):
                continue
            why = ("the trips overlap" if gap < 0 else "layover too short" if gap < before.min_layover
                   else "dead run too short")
            names = [legend.trips[t.aux_value].trip_id if t.aux_value in legend.trips else "#%d" % t.number
                     for t in (before, after)]
            faults.append("block %s: trip %s (arrives %s at %s) -> trip %s (departs %s at %s): %s: %d min "
                          "between them, min_layover %d, dead run %d"
                          % (block.block_id, names[0], format_clock(before.arrival), before.destination, names[1],
                             format_clock(after.departure), after.origin, why, gap, before.min_layover, direct))
    return faults


def find_solver() -> str:
    here = os.path.dirname(os.path.abspath(sys.argv[0]))
    for candidate in (os.environ.get("TOVARIN"), os.path.join(here, "Tovarin"),
                      os.path.join(here, "..", "build", "bin", "Tovarin")):
        if candidate and os.path.isfile(candidate) and os.access(candidate, os.X_OK):
            return candidate
    raise OperatorError("Tovarin not found: set TOVARIN to its path")


def chain(directory: str, trip_file: TripFile, blocks: Sequence[OperatorBlock]) -> list[list[int]]:
    """Vehicles as lists of block indices, chained by the solver: one trip per
    block, its line key the block's number so that the block file names it."""
    rows = [TripRow(b.trips[0].departure, b.trips[0].origin, b.trips[-1].arrival, b.trips[-1].destination,
                    float(index + 1), index + 1, b.trips[-1].min_layover)
            for index, b in enumerate(blocks)]
    rows.sort(key=lambda r: (r.departure, r.arrival, r.aux_value))
    template = format_matrix_section(trip_file.names, trip_file.matrix)
    with tempfile.TemporaryDirectory(prefix="operator_blocks.") as scratch:
        with open(os.path.join(directory, "Tarsel.ini"), "rb") as source, \
                open(os.path.join(scratch, "Tarsel.ini"), "wb") as copy:
            copy.write(source.read())
        with open(os.path.join(scratch, "Tarsel.bss"), "wb") as handle:
            handle.write(format_trip_file(template, rows, 0))
        try:
            done = subprocess.run([find_solver()], cwd=scratch, stdin=subprocess.DEVNULL,
                                  stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=3600)
        except (OSError, subprocess.TimeoutExpired) as error:
            raise OperatorError("Tovarin: %s" % error) from None
        if done.returncode != 0 or not os.path.exists(os.path.join(scratch, "Tarsel.bla")):
            tail = done.stdout.decode("latin-1", "replace").strip().split("\n")[-1:]
            raise OperatorError("Tovarin failed on the blocks (exit %d): %s" % (done.returncode, "".join(tail)))
        solved = read_block_file(os.path.join(scratch, "Tarsel.bla"))
    vehicles = [[int(float(line.line_key)) - 1 for line in block.trips] for block in solved.blocks]
    if sorted(i for v in vehicles for i in v) != list(range(len(blocks))):
        raise OperatorError("the solver's chaining does not serve every block once")
    return vehicles


def run(directory: str, output: Optional[str]) -> int:
    trip_file = read_trip_file(os.path.join(directory, "Tarsel.bss"))
    parameters: Parameters = read_parameters(os.path.join(directory, "Tarsel.ini"))
    legend = read_legend(directory)
    if not any(t.block_id for t in legend.trips.values()):
        raise OperatorError("%s: no block_id in legend_trips.csv: the operator's blocks are not known "
                            "(import a feed that has block_id with gtfs_import)" % directory)
    if read_link_cost(os.path.join(directory, "Tarsel.prr")) > 0:
        raise OperatorError("%s: link preference groups (Tarsel.prr) are in force; the operator's blocks are "
                            "chained without them only" % directory)
    blocks = operator_blocks(trip_file, legend)
    faults = forbidden(trip_file, legend, blocks)
    vehicles = [[trip for index in v for trip in blocks[index].trips] for v in chain(directory, trip_file, blocks)]
    notes = ["#The operator's blocks (block_id), each run whole by one vehicle",
             "#The operator's blocks break the problem's rules: %d connections forbidden" % len(faults)
             if faults else "#The operator's blocks keep the problem's rules"]
    text, totals, operational = format_block_file(trip_file, parameters, vehicles, notes)
    path = write_output("operator_blocks", output, os.path.join(directory, OPERATOR_FILE), text)
    if path is None:
        return 1
    for fault in faults:
        print("operator_blocks: forbidden: %s" % fault, file=sys.stderr)
    figures = {
        "vehicles": len(vehicles), "total_cost": operational + VEHICLE_COST * len(vehicles),
        "dead_run_minutes": totals.dead_run, "waiting_minutes": totals.layover,
        "depot_returns": totals.depot_returns,
        "interlinings": interlinings([[format_key(t.group_key) for t in v] for v in vehicles]),
        "forbidden_connections": len(faults)}
    mark = " (BREAKS THE PROBLEM'S RULES: %d forbidden connections)" % len(faults) if faults else ""
    if path != "-":
        print("%s: the operator's %d blocks run whole by %d vehicles%s" % (path, len(blocks), len(vehicles), mark))
        print("total cost %d, dead run %s, waiting %s, %d depot returns, %d interlinings%s"
              % (figures["total_cost"], format_clock(totals.dead_run), format_clock(totals.layover),
                 totals.depot_returns, figures["interlinings"], mark))
        print(json.dumps(figures))
    return 0


def main(argv: Optional[Sequence[str]] = None) -> int:
    parser = argparse.ArgumentParser(prog="operator_blocks", description=(__doc__ or "").split("\n")[0])
    parser.add_argument("directory", nargs="?", default=".", help="problem directory made by gtfs_import")
    parser.add_argument("-o", "--output", help="block file, - for the standard output "
                                               "(default PROBLEM_DIR/%s)" % OPERATOR_FILE)
    args = parser.parse_args(sys.argv[1:] if argv is None else argv)
    try:
        return run(args.directory, args.output)
    except OSError as error:
        print("operator_blocks: %s" % error, file=sys.stderr)
        return 1
