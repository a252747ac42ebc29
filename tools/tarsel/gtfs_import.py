"""gtfs_import: a Tarsel problem directory from a GTFS feed.

    gtfs_import FEED PROBLEM_DIR [--service ID | --date YYYYMMDD] [options]

FEED is the feed's directory or zip file.  Without --service and --date the
busiest date of the feed's calendar is taken (the one with the most trips).

Writes Tarsel.ini, Tarsel.bss and Teste.mvm, which Tovarin and the annealers
read, and the legend files legend_terminals.csv, legend_trips.csv and
legend_lines.csv, which map the problem's short names and numbers back to the
feed, and legend_rules.csv, each line's minimum layover at each terminal and
where it came from (tarsel.layover_rules: by default learned from the
operator's blocks where the feed has block_id).

The problem is made in tarsel.feed_problem (the trips and lines), with
tarsel.service_days (which services run) and tarsel.terminals (terminals and
dead runs), and written by tarsel.problem_files; this module is the command.
"""

from __future__ import annotations

import argparse
import math
import os
import re
import sys
from typing import Callable, Optional, Sequence

from . import files as tf
from . import interlining, layover_rules, limits
from .feed import Feed
from .feed_problem import Options, Problem, build_problem
from .problem_files import check_arc_room, format_problem, stale_results
from .terminals import MAX_MERGE_RADIUS_M, Coord


def minutes_option(text: str) -> int:
    """hh:mm or plain minutes."""
    match = re.fullmatch(r"(\d+):(\d{1,2})", text.strip())
    if match:
        return int(match.group(1)) * 60 + int(match.group(2))
    if re.fullmatch(r"\d+", text.strip()):
        return int(text)
    raise argparse.ArgumentTypeError("expected hh:mm or minutes, got %r" % text)


def coordinate_option(text: str) -> Coord:
    try:
        lat, lon = (float(v) for v in text.split(","))
    except ValueError:
        raise argparse.ArgumentTypeError("expected LAT,LON, got %r" % text) from None
    if not (-90 <= lat <= 90 and -180 <= lon <= 180):
        raise argparse.ArgumentTypeError("coordinate out of range: %r" % text)
    return lat, lon


def bounded(kind: Callable[[str], float], low: float, high: float) -> Callable[[str], float]:
    """An option's parser: a finite number of the kind within low..high."""
    def parse(text: str) -> float:
        try:
            value = kind(text)
        except ValueError:
            raise argparse.ArgumentTypeError("not a number: %r" % text) from None
        if not (math.isfinite(value) and low <= value <= high):
            raise argparse.ArgumentTypeError("%r: give a number from %g to %g" % (text, low, high))
        return value
    return parse


def bounded_minutes(text: str) -> int:
    value = minutes_option(text)
    if value > MAX_OPTION_MINUTES:
        raise argparse.ArgumentTypeError("%r: at most %d minutes" % (text, MAX_OPTION_MINUTES))
    return value


# What the trip and parameter files hold of a minutes option, and a cost
# weight far above any that means something (the solver sums them in 64 bits).
MAX_OPTION_MINUTES = limits.MAX_DEAD_RUN
MAX_WEIGHT = 10000


def list_option(text: str) -> list[str]:
    return [item.strip() for item in text.split(",") if item.strip()]


_DEFAULT = Options("", "")


def _option_parser() -> argparse.ArgumentParser:
    d = _DEFAULT
    parser = argparse.ArgumentParser(
        prog="gtfs_import", description="Write a Tarsel problem directory from a GTFS feed.")
    parser.add_argument("feed", help="GTFS feed: its directory or zip file")
    parser.add_argument("out", help="problem directory to write (created if missing)")
    which = parser.add_mutually_exclusive_group()
    which.add_argument("--service", type=list_option, metavar="ID", help="service_id(s), comma separated")
    which.add_argument("--date", metavar="YYYYMMDD", help="service day YYYYMMDD, resolved through the calendar files")
    parser.add_argument("--routes", type=list_option, metavar="LIST",
                        help="only these routes: short names or route_ids, comma separated")
    parser.add_argument("--min-layover", type=bounded(int, 0, MAX_OPTION_MINUTES), metavar="MIN",
                        default=d.min_layover,
                        help="minutes after each trip, where no rule is learned (default %d)" % d.min_layover)
    parser.add_argument("--layovers", choices=[layover_rules.LEARNED, layover_rules.FIXED],
                        help="learned: each trip's minimum layover and the dead runs from the operator's "
                             "blocks (the default where the feed has block_id); fixed: --min-layover for all")
    parser.add_argument("--layover-share", type=float, metavar="P", default=d.layover_share,
                        help="minimum layover at least P %%%% of the trip's running time (default %g)"
                             % d.layover_share)
    parser.add_argument("--merge-radius", type=bounded(float, 0, MAX_MERGE_RADIUS_M), metavar="M",
                        default=d.merge_radius,
                        help="metres within which end stops form one terminal (default %g)" % d.merge_radius)
    parser.add_argument("--max-terminals", type=int, metavar="N",
                        help="widen the merge radius until at most N terminals remain, the depot "
                             "included (the annealers take 20, the solver %d)" % limits.MAX_TERMINALS)
    parser.add_argument("--depot", type=coordinate_option, metavar="LAT,LON",
                        help="depot LAT,LON (default: the terminal nearest the centroid of all terminals)")
    parser.add_argument("--detour", type=bounded(float, 1, 10), metavar="F", default=d.detour,
                        help="road distance over great-circle distance (default %g)" % d.detour)
    parser.add_argument("--speed", type=bounded(float, 1, 200), metavar="KMH", default=d.speed,
                        help="dead-run speed in km/h (default %g)" % d.speed)
    parser.add_argument("--deadrun-weight", type=bounded(int, 0, MAX_WEIGHT), metavar="W", default=d.deadrun_weight,
                        help="cost of a dead-run minute (default %d)" % d.deadrun_weight)
    parser.add_argument("--layover-weight", type=bounded(int, 0, MAX_WEIGHT), metavar="W", default=d.layover_weight,
                        help="cost of a waiting minute (default %d)" % d.layover_weight)
    parser.add_argument("--short-arc-param", type=bounded(int, 0, MAX_OPTION_MINUTES), metavar="MIN",
                        default=d.short_arc_param,
                        help="minutes beyond a trip to the depot and back that a connection is held "
                             "in memory; also the cost of a depot stay (default %d)" % d.short_arc_param)
    parser.add_argument("--min-depot-time", type=bounded_minutes, metavar="HH:MM", default=d.min_depot_time,
                        help="shortest stay that the block report counts as a depot return, hh:mm or "
                             "minutes (default %s)" % tf.format_clock(d.min_depot_time))
    parser.add_argument("--interlining", choices=interlining.MODES, default=d.interlining,
                        help="free: a vehicle may change lines between trips (default); none: it stays on its "
                             "line; operator: it changes lines only as the operator's blocks do (Tarsel.prr)")
    return parser


def parse_args(argv: Sequence[str]) -> Options:
    parser = _option_parser()
    args = Options(**vars(parser.parse_args(argv)))
    if not 0 <= args.layover_share < math.inf:
        parser.error("--layover-share cannot be negative")
    if args.max_terminals is not None and not 1 <= args.max_terminals <= limits.MAX_TERMINALS:
        parser.error("--max-terminals: 1 to %d" % limits.MAX_TERMINALS)
    return args


def _title(args: Options, problem: Problem) -> str:
    """The parameter file's title, which leads the result tools back to the feed."""
    feed_name = os.path.basename(os.path.normpath(args.feed))
    if feed_name.lower().endswith(".zip"):
        feed_name = feed_name[:-4]
    date = problem.picked_date[0] if problem.picked_date else args.date
    which = ("date %s" % date) if date else ("service %s" % ",".join(args.service or []))
    return "Tarsel problem from GTFS feed %s, %s (gtfs_import)" % (feed_name, which)


def _put_in_place(args: Options, problem: Problem, files: dict[str, bytes]) -> None:
    """The files written whole; what an earlier import left that would not
    match them removed, with a warning."""
    stale = stale_results(args.out, files)
    groups = os.path.join(args.out, "Tarsel.prr")
    os.makedirs(args.out, exist_ok=True)
    tf.write_files_whole({os.path.join(args.out, name): data for name, data in files.items()})
    for name in stale:
        os.remove(os.path.join(args.out, name))
    if stale:
        problem.warnings.append("%s of the problem this import replaces removed from %s: they would no "
                                "longer match it" % (", ".join(stale), args.out))
    if "Tarsel.prr" not in files and os.path.lexists(groups):
        # Tovarin would apply an earlier import's groups to this problem.
        os.remove(groups)
        problem.warnings.append("%s removed: --interlining free lets a vehicle change lines" % groups)


def _tell(args: Options, problem: Problem, arcs: tuple[int, int, int], notes: list[str]) -> None:
    """Warnings and the layover rules on standard error, the summary on
    standard output."""
    for text in problem.warnings + notes:
        print("gtfs_import: warning: %s" % text, file=sys.stderr)
    for text in layover_rules.summary(problem.rules, problem.operator_blocks > 0):
        print("gtfs_import: %s" % text, file=sys.stderr)
    if problem.picked_date:
        print("date %s picked, the busiest of the feed's calendar: %d trips (--date or --service choose another)"
              % problem.picked_date)
    if args.max_terminals is not None:
        print("terminals merged within %g m: %d terminals, the depot included (--max-terminals %d)"
              % (problem.merge_radius, len(problem.terminals), args.max_terminals))
    terminals = problem.terminals
    print("%s: %d trips, %d terminals (depot %s: %s), %d lines, services %s"
          % (args.out, len(problem.trip_rows), len(terminals), terminals[0].short,
             terminals[0].stop_name, len({r.group_key for r in problem.rows}),
             ",".join(sorted(problem.services))))
    short, memory, long_ = arcs
    print("arcs: %d short connections, %d in memory of %d, %d long-arc records (%.1f MB)"
          % (short, memory, limits.MAX_ARCS, long_, long_ * 16 / 1e6))
    print("operator blocks in the feed: %d" % problem.operator_blocks)
    for note in problem.notes:
        print(note)


def main(argv: Optional[Sequence[str]] = None) -> int:
    args = parse_args(sys.argv[1:] if argv is None else argv)
    with Feed(args.feed) as feed:
        problem = build_problem(feed, args)
    short, long_, memory, notes = check_arc_room(problem, args)
    files = format_problem(problem, args, _title(args, problem))
    try:
        _put_in_place(args, problem, files)
    except OSError as error:
        print("gtfs_import: %s: %s" % (error.filename or args.out, error.strerror or error), file=sys.stderr)
        return 1
    _tell(args, problem, (short, memory, long_), notes)
    return 0
