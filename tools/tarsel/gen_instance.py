"""Write a whole Tarsel problem directory from a seed.

The directory gets what the solver and the annealers read from their current
directory:

  Tarsel.ini   the five parameters (six lines, fixed-width labels)
  Tarsel.bss   the trip file, byte for byte as the annealer writes it: the two
               '#' header lines, the template, "[TRIP] 5", the trip lines
               sorted by departure, the dashed line and the two totals
  Teste.mvm    the template the annealer copies into every trip file: the
               [DEAD_RUN_MATRIX] section, ending right after the last matrix
               value (no closing line break, so that the trip reader's three
               skipped lines fall where the annealer's writer puts them)
  Tarsel.prr   the link preference groups, only with --groups N (N > 0); a
               Tarsel.prr left in the directory is removed otherwise, so that
               the directory always matches the command

A directory that already holds another problem (other bytes in any of these
files) is refused unless --force is given; the files are put in place
together, or none of them.

The instance follows the random instances of the vehicle-scheduling
literature: terminals at distinct random points of a 60 x 60 grid, terminal 0
(DEPOT) being the depot, dead-run minutes the rounded Euclidean distance.
Short trips run along bus lines between two terminals (no trip starts or ends
at the depot terminal when there are others); their departures cluster in a
morning and an evening peak, and each lasts the dead-run time between its two
terminals plus 5 to 40 minutes.  Long trips start and end at the terminal of a
circular line and last 3 to 5 hours.  Every departure is at 00:03 or later and
every arrival at 23:56 or earlier, so that the annealer's shifts of up to 3
minutes keep each trip inside the day.

Trip line values:
  group key    the line number plus the direction: 101.00 outbound on line
               101, 101.50 back; circular lines are numbered from 201 (.00)
  aux value    1 for a short trip, 2 for a long one
  min layover  0 to 5 minutes

The second header line of Tarsel.bss holds a fixed text instead of the clock
(see --date), so the same arguments always give byte-identical files.

On standard error the generator reports the size of the network the solver
will build for the instance without groups: the arcs it holds in memory (its
"Total of Short Arcs") and the long-arc records.  It warns when the solver
would refuse the problem (more than 2734 trips or 65 terminals) or when the
arcs in memory exceed the solver's 683099.

Examples:
  gen_instance --trips 500 --terminals 30 --seed 1 examples/medium
  gen_instance --trips 120 --terminals 12 --groups 4 --seed 7 examples/groups
  gen_instance --trips 2734 --terminals 65 --seed 3 /tmp/largest
"""

from __future__ import annotations

import argparse
import math
import os
import random
import sys
from typing import Callable, Optional, Sequence

from . import limits
from .files import LinkGroup, MatrixLayout, TripRow, format_groups, format_matrix_section, \
    format_parameters, format_trip_file, write_files_whole
from .network import arcs_in_memory, count_connection_arcs

GRID = 60

# Earliest departure and latest arrival: 3 minutes inside the day, the largest
# shift the annealer applies.
FIRST_MINUTE = 3
LAST_MINUTE = 23 * 60 + 56

ANNEALER_HEADER_VALUE = 5  # Lurrick's: its trip lines keep each min_layover
FIXED_DATE = "Mon Jan  1 00:00:00"
PARAMETERS_TITLE = "Tarsel: parametros do escalonamento"

ShortLine = tuple[int, int, int]     # line number, the two terminals
CircularLine = tuple[int, int]       # line number, its terminal


def minutes_of(text: str) -> int:
    """Accepts hh:mm or a plain number of minutes."""
    if ":" in text:
        hours, minutes = text.split(":", 1)
        value = int(hours) * 60 + int(minutes)
    else:
        value = int(text)
    if value < 0:
        raise argparse.ArgumentTypeError("must not be negative")
    return value


# The values of Tarsel.ini, in the file's order: option, type, default, help.
PARAMETER_OPTIONS: tuple[tuple[str, Callable[[str], object], object, str], ...] = (
    ("--dead-run-mult", float, 1.0, "dead-run multiplier written to Tarsel.ini (default 1.0)"),
    ("--min-depot-time", minutes_of, 30, "minimum depot time, hh:mm or minutes (default 00:30)"),
    ("--deadrun-weight", int, 10, "cost per dead-run minute (default 10)"),
    ("--layover-weight", int, 2, "cost per waiting minute (default 2)"),
    ("--short-arc-param", int, 60, "short-arc parameter in minutes (default 60)"),
)


def parse_arguments(argv: Sequence[str]) -> argparse.Namespace:
    parser = argparse.ArgumentParser(
        prog="gen_instance",
        description=__doc__,
        formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("directory", help="problem directory to write (created if missing)")
    parser.add_argument("--trips", type=int, default=500, help="number of trips (default 500)")
    parser.add_argument("--terminals", type=int, default=30,
                        help="number of terminals, the depot included (default 30)")
    parser.add_argument("--seed", type=int, default=1, help="random seed (default 1)")
    parser.add_argument("--long-share", type=float, default=0.3,
                        help="share of long trips, 0 to 1 (default 0.3)")
    parser.add_argument("--lines", type=int, default=0,
                        help="number of bus lines for the short trips (default: about 3/4 of the terminals)")
    for option, kind, default, text in PARAMETER_OPTIONS:
        parser.add_argument(option, type=kind, default=default, help=text)
    parser.add_argument("--groups", type=int, default=0,
                        help="write Tarsel.prr with this many link preference groups, 0 to 29 (default 0)")
    parser.add_argument("--link-cost", type=int, default=10,
                        help="link preference cost in Tarsel.prr; above 0 puts the groups in force (default 10)")
    parser.add_argument("--force", action="store_true",
                        help="replace the problem of a directory that already holds another one")
    parser.add_argument("--date", default=FIXED_DATE,
                        help="text of the second header line, as asctime gives it (default '%s')" % FIXED_DATE)
    args = parser.parse_args(argv)

    if not 0 <= args.trips <= 10000:
        parser.error("--trips must be 0 to 10000 (trip numbers have 4 columns)")
    if not 1 <= args.terminals <= 99:
        parser.error("--terminals must be 1 to 99")
    if not 0.0 <= args.long_share <= 1.0:
        parser.error("--long-share must be between 0 and 1")
    if not (math.isfinite(args.dead_run_mult) and 0 <= args.dead_run_mult <= 100):
        parser.error("--dead-run-mult must be a number from 0 to 100")
    if args.lines < 0:
        parser.error("--lines must not be negative")
    if not 0 <= args.groups <= limits.MAX_GROUPS:
        parser.error("--groups must be 0 to %d" % limits.MAX_GROUPS)
    if args.groups > 0 and args.trips == 0:
        parser.error("--groups needs trips")
    return args


def place_terminals(rng: random.Random, count: int) -> tuple[list[str], list[list[int]]]:
    names = ["DEPOT"] + ["T%02d" % k for k in range(1, count)]
    cells = rng.sample(range((GRID + 1) * (GRID + 1)), count)
    points = [divmod(cell, GRID + 1) for cell in cells]
    matrix = [[0] * count for _ in range(count)]
    for a in range(count):
        for b in range(count):
            if a != b:
                distance = math.hypot(points[a][0] - points[b][0], points[a][1] - points[b][1])
                matrix[a][b] = int(math.floor(distance + 0.5))
    return names, matrix


def make_lines(rng: random.Random, num_terminals: int,
               wanted: int) -> tuple[list[ShortLine], list[CircularLine]]:
    """Short lines join two terminals; circular lines start and end at one."""
    stops = list(range(1, num_terminals)) or [0]
    if wanted == 0:
        wanted = max(1, (3 * len(stops)) // 4)
    short_lines = []
    for k in range(wanted):
        if len(stops) >= 2:
            a, b = rng.sample(stops, 2)
        else:
            a = b = stops[0]
        short_lines.append((101 + k, a, b))
    circular = []
    for k in range(max(1, min(5, len(stops) // 4))):
        circular.append((201 + k, rng.choice(stops)))
    return short_lines, circular


def bell(rng: random.Random, centre: int, half_width: int) -> int:
    """Sum of three uniforms: a peak that thins out towards its edges."""
    spread = sum(rng.random() for _ in range(3)) / 3.0 * 2.0 - 1.0
    return centre + int(round(spread * half_width))


def short_departure(rng: random.Random) -> int:
    draw = rng.random()
    if draw < 0.35:
        return bell(rng, 7 * 60 + 30, 120)
    if draw < 0.70:
        return bell(rng, 17 * 60 + 30, 120)
    return rng.randint(5 * 60, 22 * 60 + 30)


def make_trips(rng: random.Random, args: argparse.Namespace, names: Sequence[str],
               matrix: Sequence[Sequence[int]], short_lines: Sequence[ShortLine],
               circular: Sequence[CircularLine]) -> list[TripRow]:
    trips = []
    for _ in range(args.trips):
        if rng.random() < args.long_share:
            key, terminal = rng.choice(circular)
            duration = rng.randint(180, 300)
            departure = rng.randint(5 * 60, LAST_MINUTE - duration)
            a = b = terminal
            group_key, aux = float(key), 2
        else:
            key, a, b = rng.choice(short_lines)
            group_key = float(key)
            if rng.random() < 0.5:
                a, b = b, a
                group_key += 0.5
            duration = matrix[a][b] + rng.randint(5, 40)
            departure = short_departure(rng)
            departure = max(FIRST_MINUTE, min(departure, LAST_MINUTE - duration))
            aux = 1
        layover = rng.randint(0, 5)
        trips.append(TripRow(departure, names[a], departure + duration, names[b], group_key, aux, layover))
    # Stable: trips leaving at the same minute keep their order of drawing,
    # and the annealer's exchange sort leaves an ordered file as it is.
    trips.sort(key=lambda trip: trip.departure)
    for number, trip in enumerate(trips, 1):
        trip.number = number
    return trips


def make_groups(rng: random.Random, count: int, short_lines: Sequence[ShortLine],
                circular: Sequence[CircularLine]) -> list[LinkGroup]:
    """Each group links trips of some lines: members are line numbers, the
    from and to lists some directions of those lines."""
    line_keys = {key: [float(key), key + 0.5] for key, _, _ in short_lines}
    line_keys.update({key: [float(key)] for key, _ in circular})
    numbers = sorted(line_keys)
    rng.shuffle(numbers)
    chunks = [numbers[g::count] for g in range(count)]
    groups = []
    for chunk in chunks:
        if not chunk:
            chunk = rng.sample(sorted(line_keys), min(len(line_keys), rng.randint(1, 3)))
        members = sorted(chunk)[:limits.MAX_GROUP_ENTRIES // 2]
        keys = [k for m in members for k in line_keys[m]]
        from_keys = sorted(k for k in keys if rng.random() < 0.8) or keys[:1]
        to_keys = sorted(k for k in keys if rng.random() < 0.8) or keys[-1:]
        groups.append(LinkGroup(members, from_keys[:limits.MAX_GROUP_ENTRIES],
                                to_keys[:limits.MAX_GROUP_ENTRIES]))
    return groups


def template_layout(args: argparse.Namespace) -> MatrixLayout:
    return MatrixLayout(
        preamble=("# Terminais gerados (semente %d, %d viagens, %d terminais)"
                  % (args.seed, args.trips, args.terminals),),
        count_label="Num. Terminals: ",
        note="Terminais e tempos de viagem em vazio (h:mm), da linha para a coluna",
        aligned=False)


PROBLEM_FILES = ("Tarsel.ini", "Teste.mvm", "Tarsel.bss", "Tarsel.prr")


def other_problem(directory: str, files: dict[str, bytes]) -> list[str]:
    """The problem files in directory that differ from those to be written
    (a Tarsel.prr that would be removed included)."""
    differ = []
    for name in PROBLEM_FILES:
        path = os.path.join(directory, name)
        if not os.path.lexists(path):
            continue
        try:
            with open(path, "rb") as handle:
                same = handle.read() == files.get(name)
        except OSError:
            same = False
        if not same:
            differ.append(name)
    return differ


def main(argv: Optional[Sequence[str]] = None) -> int:
    args = parse_arguments(sys.argv[1:] if argv is None else argv)
    rng = random.Random(args.seed)
    names, matrix = place_terminals(rng, args.terminals)
    short_lines, circular = make_lines(rng, args.terminals, args.lines)
    trips = make_trips(rng, args, names, matrix, short_lines, circular)
    template = format_matrix_section(names, matrix, template_layout(args))
    files = {
        "Tarsel.ini": format_parameters(PARAMETERS_TITLE, args.dead_run_mult, args.min_depot_time,
                                        args.deadrun_weight, args.layover_weight, args.short_arc_param),
        "Teste.mvm": template,
        "Tarsel.bss": format_trip_file(template, trips, ANNEALER_HEADER_VALUE, args.date),
    }
    if args.groups > 0:
        files["Tarsel.prr"] = format_groups(args.link_cost, make_groups(rng, args.groups, short_lines, circular))

    if os.path.exists(args.directory) and not os.path.isdir(args.directory):
        print("gen_instance: %s is not a directory: give a directory to write the problem in" % args.directory,
              file=sys.stderr)
        return 1
    differ = other_problem(args.directory, files)
    if differ and not args.force:
        print("gen_instance: %s already holds another problem (%s): give --force to replace it, or another "
              "directory" % (args.directory, ", ".join(differ)), file=sys.stderr)
        return 1
    try:
        os.makedirs(args.directory, exist_ok=True)
        write_files_whole({os.path.join(args.directory, name): data for name, data in files.items()})
        groups_path = os.path.join(args.directory, "Tarsel.prr")
        if "Tarsel.prr" not in files and os.path.lexists(groups_path):
            os.remove(groups_path)
    except OSError as error:
        print("gen_instance: %s: %s" % (error.filename or args.directory, error.strerror or error), file=sys.stderr)
        return 1

    number = {name: i for i, name in enumerate(names)}
    short, long_records = count_connection_arcs(trips, number.__getitem__, matrix, args.short_arc_param)
    in_memory = arcs_in_memory(len(trips), short)
    print("gen_instance: %s: %d trips, %d terminals; without groups the solver holds %d arcs "
          "in memory and writes %d long records"
          % (args.directory, len(trips), len(names), in_memory, long_records), file=sys.stderr)
    if len(trips) > limits.MAX_TRIPS or len(names) > limits.MAX_TERMINALS:
        print("gen_instance: warning: beyond the solver's %d trips or %d terminals"
              % (limits.MAX_TRIPS, limits.MAX_TERMINALS), file=sys.stderr)
    if in_memory > limits.MAX_ARCS:
        print("gen_instance: warning: more than the solver's %d arcs in memory" % limits.MAX_ARCS,
              file=sys.stderr)
    return 0
