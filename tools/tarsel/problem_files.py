"""The files of a problem directory that an import writes, from the problem
a feed made, and the results of an earlier problem that would no longer
match them."""

from __future__ import annotations

import csv
import io
import os
from typing import Optional, Sequence

from . import files as tf
from . import interlining, layover_rules, limits
from .feed import FeedError
from .feed_problem import Options, Problem
from .network import arcs_in_memory, count_connection_arcs
from .search_files import COMMIT_LIST, is_set_file


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
# shift_search's per-count timetables, the files it staged and its commit
# list go too, the list first: without it, staged files are only clutter to
# shift_search and never take the new problem's names.
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
    try:
        present = os.listdir(out)
    except OSError:
        present = []
    found = sorted((name for name in present if name in RESULT_FILES or is_set_file(name)),
                   key=lambda name: (name != COMMIT_LIST, RESULT_FILES.index(name) if name in RESULT_FILES
                                     else len(RESULT_FILES), name))
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
