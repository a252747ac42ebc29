"""report: one HTML page on a solved problem, for a planner to read and pass on.

    report [PROBLEM_DIR] [-o FILE] [--scale PX_PER_MINUTE]

Reads what Tovarin left in PROBLEM_DIR (Tarsel.sol, Tarsel.arm, Tarsel.bla
with Tarsel.bss and Tarsel.ini), the legend files where gtfs_import made the
problem, and Tarsel_best.bss / Tarsel_shifts.csv where an annealer or
shift_search ran there.  Writes PROBLEM_DIR/Tarsel_report.html (or FILE, "-"
for the standard output): the headline figures and the cost taken apart, the
block chart, vehicles in service over the day beside the operator's own
blocks, the sortable block table and the changed timetable.  The page is one
file that needs nothing else (no network, no other files).  A directory that
is not solved yet, or whose Tarsel.bla is cut or belongs to another trip file,
is refused with exit code 1 and nothing written.  What the page marks as not
adding up (a Tarsel.sol of another run, an operator's block file of another
trip file, a shifts file that cannot be read) is also said on standard error.
While shift_search's timetables are half in place (Tarsel_search.commit) the
report is refused: the best timetable and its shifts may be of two runs.
"""

from __future__ import annotations

import collections
import csv
import math
import os
import re
import sys
from dataclasses import dataclass, field
from typing import Optional, Sequence

from . import blocks_csv, report_operator
from .block_chart import FONT, Chart, text_width
from .blocks import Block
from .command import DEFAULT_OUTPUT, chart_arguments
from .files import (FormatError, Parameters, TripFile, TripRow, format_clock, parse_clock, read_parameters,
                    read_text, read_trip_file, write_output)
from .page import esc, html_head, page_end, sortable_table
from .schedule import Charge as ArcCost
from .schedule import VEHICLE_COST
from .schedule import solved_charge as arc_cost
from .search_files import check_set_whole
from .solved import Solved, open_solved

REQUIRED = ("Tarsel.bss", "Tarsel.sol", "Tarsel.bla")


# ---------------------------------------------------------------- figures

Interval = tuple[int, int]


@dataclass
class Curve:
    """How many of a kind of interval are open at each moment of the day."""

    label: str
    steps: list[tuple[int, int]]     # (minute, count from then on), in time order
    peak: int
    peak_at: Optional[int]


def curve(label: str, intervals: Sequence[Interval]) -> Curve:
    """Intervals are half-open: one that ends when another begins does not
    overlap it, so a vehicle that arrives at 07:00 may serve a 07:00 trip."""
    changes: dict[int, int] = collections.Counter()
    for start, end in intervals:
        if end > start:
            changes[start] += 1
            changes[end] -= 1
    steps, count, peak, peak_at = [], 0, 0, None
    for minute in sorted(changes):
        count += changes[minute]
        steps.append((minute, count))
        if count > peak:
            peak, peak_at = count, minute
    return Curve(label, steps, peak, peak_at)


def vehicle_intervals(block: Block) -> list[Interval]:
    """A vehicle is in service from its first trip's departure to its last
    trip's arrival, as the operator's blocks are counted, less the time it
    spends going back to the depot and parked there between two trips."""
    out: list[Interval] = []
    if not block.trips:
        return out
    start = block.trips[0].departure
    for before, after in zip(block.trips, block.trips[1:]):
        if after.depot_return:
            out.append((start, before.arrival))
            start = after.departure
    out.append((start, block.trips[-1].arrival))
    return out


def operator_blocks(solved: Solved) -> dict[str, Interval]:
    """The feed's block_id -> its first trip's departure and last trip's arrival."""
    spans: dict[str, Interval] = {}
    for trip in solved.trip_file.trips:
        feed = solved.legend.trips.get(trip.aux_value)
        if feed is None or not feed.block_id:
            continue
        first, last = spans.get(feed.block_id, (trip.departure, trip.arrival))
        spans[feed.block_id] = (min(first, trip.departure), max(last, trip.arrival))
    return spans


def read_flow_report(path: str) -> dict[str, int]:
    """Total cost, vehicles and operational cost of Tarsel.arm; empty where absent."""
    if not os.path.exists(path):
        return {}
    text = read_text(path)
    values = {}
    for name, label in (("total", "Total Cost:"), ("vehicles", "Num Buses: "), ("operational", "Operacional Cost:")):
        match = re.search(r"^ %s\s*(-?\d+)\s*$" % re.escape(label), text, re.M)
        if match:
            values[name] = int(match.group(1))
    if "INFEASIBLE FLOW PATTERN" in text:
        values["infeasible"] = 1
    return values


def read_link_cost(path: str) -> int:
    """The link cost of Tarsel.prr (second line); 0 where there is no such file."""
    if not os.path.exists(path):
        return 0
    lines = read_text(path).split("\n")
    match = re.match(r"Link Cost:\s*(-?\d+)", lines[1]) if len(lines) > 1 else None
    return int(match.group(1)) if match else 0


@dataclass
class Figures:
    vehicles: int
    out: Curve                       # the solver's vehicles in service
    trips: Curve                     # trips under way
    operator: Optional[Curve]        # the feed's blocks in service
    operator_blocks: int
    service: int                     # minutes
    dead_run: int
    layover: int
    parking: int
    depot_returns: int
    scheduling_cost: Optional[int]
    total_cost: Optional[int]
    flow: dict[str, int]
    parameters: Optional[Parameters]
    arcs: Optional[ArcCost]
    checks: list[tuple[bool, str]] = field(default_factory=list)   # (holds, what)


def figures(solved: Solved) -> Figures:
    bla = solved.block_file
    stats = bla.statistics
    lines = [line for b in bla.blocks for line in b.trips]
    spans = operator_blocks(solved)
    ini = os.path.join(solved.directory, "Tarsel.ini")
    try:
        parameters = read_parameters(ini)
    except (OSError, FormatError, ValueError, IndexError):
        parameters = None       # the cost is then shown without its parts
    result = Figures(
        vehicles=len(bla.blocks),
        out=curve("vehicles in service", [i for b in bla.blocks for i in vehicle_intervals(b)]),
        trips=curve("trips under way", [(t.departure, t.arrival) for t in solved.trip_file.trips]),
        operator=curve("operator's blocks in service", list(spans.values())) if spans else None,
        operator_blocks=len(spans),
        service=sum(line.arrival - line.departure for line in lines),
        dead_run=stats.get("dead_run", sum(line.dead_run for line in lines)
                           + sum(line.to_depot for line in lines) + sum(b.return_dead_run for b in bla.blocks)),
        layover=stats.get("layover", sum(line.wait for line in lines)),
        parking=stats.get("parking", sum(line.park for line in lines)),
        depot_returns=stats.get("depot_returns", sum(1 for line in lines if line.depot_return)),
        scheduling_cost=stats.get("scheduling_cost"),
        total_cost=solved.total_cost,
        flow=read_flow_report(os.path.join(solved.directory, "Tarsel.arm")),
        parameters=parameters,
        arcs=None)
    checks = result.checks
    operational = result.flow.get("operational", bla.operational_cost)
    if result.total_cost is not None and operational is not None:
        checks.append((result.total_cost == VEHICLE_COST * result.vehicles + operational,
                       "Tarsel.sol %d = %d vehicles x %d + operational cost %d"
                       % (result.total_cost, result.vehicles, VEHICLE_COST, operational)))
    for name, value, label in (("total", result.total_cost, "Tarsel.sol"),
                               ("vehicles", result.vehicles, "the blocks of Tarsel.bla"),
                               ("operational", bla.operational_cost, "the cost in Tarsel.bla's header")):
        if name in result.flow and value is not None:
            checks.append((result.flow[name] == value, "Tarsel.arm's %s %d = %s %d"
                           % ({"total": "total cost", "vehicles": "vehicles",
                               "operational": "operational cost"}[name], result.flow[name], label, value)))
    if parameters is not None:
        groups = read_link_cost(os.path.join(solved.directory, "Tarsel.prr")) > 0
        result.arcs = arc_cost(solved, parameters, groups)
        if operational is not None:
            checks.append((result.arcs.total(parameters) == operational,
                           "weighted dead run + weighted waiting + connections through the depot %d "
                           "= operational cost %d" % (result.arcs.total(parameters), operational)))
        if result.scheduling_cost is not None:
            depot_time = bla.min_depot_time if bla.min_depot_time is not None else parameters.min_depot_time
            mine = (parameters.deadrun_weight * result.dead_run + parameters.layover_weight * result.layover
                    + depot_time * result.depot_returns)
            checks.append((mine == result.scheduling_cost, "the parts of the scheduling cost %d = Tarsel.bla's %d"
                           % (mine, result.scheduling_cost)))
    return result


# ---------------------------------------------------------------- changed timetable

@dataclass
class Shift:
    aux_value: int
    line_key: str
    origin: str
    destination: str
    before: int
    after: int
    minutes: int


@dataclass
class Changed:
    shifts: list[Shift]
    best: Optional[TripFile]
    read: Optional[list[TripRow]]    # the timetable read, rebuilt from the best one and the shifts
    solved_is: str                   # "read", "changed" or "" (neither: the last candidate evaluated)
    notes: list[str] = field(default_factory=list)


SHIFT_COLUMNS = ("aux_value", "line_key", "origin", "destination", "departure_before", "departure_after",
                 "shift_minutes")


def read_shifts(path: str) -> list[Shift]:
    """Tarsel_shifts.csv; a row cut short or a value that is no number is a
    FormatError that names the line."""
    shifts = []
    with open(path, encoding="utf-8", errors="replace", newline="") as handle:
        reader = csv.DictReader(handle)
        missing = [c for c in SHIFT_COLUMNS if c not in (reader.fieldnames or [])]
        if missing:
            raise FormatError("%s:1: no column %s" % (path, ", ".join(missing)))
        for row in reader:
            where = "%s:%d" % (path, reader.line_num)
            if None in row or any(row[c] is None for c in SHIFT_COLUMNS):
                raise FormatError("%s: not the header's %d fields: the file is cut or damaged"
                                  % (where, len(reader.fieldnames or [])))
            try:
                if not math.isfinite(float(row["line_key"])):
                    raise ValueError("line_key %r is not a number" % row["line_key"])
                shifts.append(Shift(int(row["aux_value"]), row["line_key"], row["origin"], row["destination"],
                                    parse_clock(row["departure_before"]), parse_clock(row["departure_after"]),
                                    int(row["shift_minutes"])))
            except ValueError as error:
                raise FormatError("%s: %s" % (where, error)) from None
    return shifts


def changed_timetable(solved: Solved) -> Optional[Changed]:
    best_path = os.path.join(solved.directory, "Tarsel_best.bss")
    shifts_path = os.path.join(solved.directory, "Tarsel_shifts.csv")
    if not os.path.exists(best_path) and not os.path.exists(shifts_path):
        return None
    changed = Changed([], None, None, "")
    try:
        changed.shifts = read_shifts(shifts_path) if os.path.exists(shifts_path) else []
    except (KeyError, ValueError, FormatError) as error:
        changed.notes.append("Tarsel_shifts.csv cannot be read: %s" % error)
    try:
        changed.best = read_trip_file(best_path) if os.path.exists(best_path) else None
    except FormatError as error:
        changed.notes.append(str(error))
    if changed.best is not None and changed.shifts:
        pool: dict[tuple[int, str, str, str, int], collections.deque[TripRow]] = collections.defaultdict(
            collections.deque)
        for trip in changed.best.trips:
            pool[(trip.aux_value, "%.2f" % trip.group_key, trip.origin, trip.destination, trip.departure)].append(trip)
        read = []
        for shift in changed.shifts:
            found = pool.get((shift.aux_value, shift.line_key, shift.origin, shift.destination, shift.after))
            if not found:
                changed.notes.append("trip with aux value %d of Tarsel_shifts.csv is not in Tarsel_best.bss"
                                     % shift.aux_value)
                break
            trip = found.popleft()
            read.append(TripRow(shift.before, trip.origin, trip.arrival - shift.minutes, trip.destination,
                                trip.group_key, trip.aux_value, trip.min_layover))
        else:
            changed.read = read
    served = collections.Counter(line.key() for b in solved.block_file.blocks for line in b.trips)
    for name, trips in (("changed", changed.best.trips if changed.best else None), ("read", changed.read)):
        if trips is not None and collections.Counter(t.key() for t in trips) == served:
            changed.solved_is = name
            break
    return changed


# ---------------------------------------------------------------- page

def hours(minutes: int) -> str:
    return "%s h" % format_clock(minutes)


def inline_svg(chart: Chart) -> str:
    """The chart as the page holds it: without the XML declaration that
    only a file of its own may begin with."""
    svg = chart.render()
    return svg.split("\n", 1)[1] if svg.startswith("<?xml") else svg


def plural(count: int, word: str) -> str:
    return "%d %s%s" % (count, word, "" if count == 1 else "s")


class Page:
    def __init__(self, solved: Solved, scale: float) -> None:
        self.solved = solved
        self.scale = scale
        self.chart = Chart(solved, scale)
        self.figures = figures(solved)
        self.changed = changed_timetable(solved)
        self.operator = report_operator.load(solved.directory)
        self.out: list[str] = []

    def add(self, text: str) -> None:
        self.out.append(text)

    def figure(self, value: str, label: str) -> None:
        self.add('<div class="figure"><b>%s</b><span>%s</span></div>' % (esc(value), esc(label)))

    def headline(self) -> None:
        f = self.figures
        solved = self.solved
        self.add('<div class="figures">')
        self.figure(str(f.vehicles), "vehicles, at most %d in service at once (%s)"
                    % (f.out.peak, format_clock(f.out.peak_at or 0)))
        if f.operator is not None:
            self.figure("%d of %d" % (f.operator.peak, f.operator_blocks),
                        "operator's blocks in service at once, at most (%s)" % format_clock(f.operator.peak_at or 0))
        self.figure(str(f.trips.peak), "trips under way at once, at most: no schedule needs fewer vehicles")
        self.figure(hours(f.service), "service hours, %s" % plural(sum(len(b.trips) for b in solved.block_file.blocks),
                                                                   "trip"))
        driven = f.service + f.dead_run
        share = 100.0 * f.dead_run / driven if driven else 0.0
        self.figure(hours(f.dead_run), "dead run, %.1f%% of the hours driven" % share)
        self.figure(hours(f.layover), "waiting between trips (layover)")
        self.figure(str(f.depot_returns), "depot returns between trips, %s parked" % hours(f.parking))
        self.figure(str(solved.interlinings), "interlinings: a vehicle changing line between two trips")
        if f.total_cost is not None:
            self.figure(str(f.total_cost), "total cost (Tarsel.sol)")
        self.add("</div>")

    def operator_section(self) -> None:
        """The operator's schedule beside this one, where operator_blocks left it."""
        if self.operator is None:
            return
        f, theirs = self.figures, self.operator.solved
        ours = report_operator.Side(f.vehicles, f.out.peak, f.dead_run, f.layover, f.depot_returns,
                                    self.solved.interlinings, f.arcs, f.total_cost)
        side = None if theirs is None else report_operator.side(
            theirs, f.parameters, curve("", [i for b in theirs.block_file.blocks for i in vehicle_intervals(b)]).peak)
        self.add(report_operator.section(self.operator, side, ours, f.parameters))

    def cost(self) -> None:
        f = self.figures
        self.add("<h2>Cost</h2>")
        if f.total_cost is None:
            return
        operational = f.flow.get("operational", self.solved.block_file.operational_cost)
        rows = [("%d vehicles x %d" % (f.vehicles, VEHICLE_COST), f.vehicles * VEHICLE_COST,
                 "what the vehicles cost: the solver first uses as few as it can")]
        p, arcs = f.parameters, f.arcs
        if p is not None and arcs is not None:
            rows.append(("dead run %s x weight %d" % (hours(arcs.dead_run), p.deadrun_weight),
                         p.deadrun_weight * arcs.dead_run,
                         "minutes driven empty: from and to the depot and between trips"))
            rows.append(("waiting %s x weight %d" % (hours(arcs.waiting), p.layover_weight),
                         p.layover_weight * arcs.waiting,
                         "minutes between the arrival and the next departure, the minimum layover included"))
            if arcs.via_depot:
                rows.append(("%s through the depot x %d" % (plural(arcs.via_depot, "connection"), p.short_arc_param),
                             arcs.via_depot * p.short_arc_param,
                             "a gap long enough for the depot counts its dead run there and back (above) and "
                             "the short-arc parameter, not its waiting"))
        elif operational is not None:
            rows.append(("operational cost", operational, "Tarsel.ini cannot be read: without its weights the cost "
                                                          "is not taken apart"))
        self.add('<table class="cost"><tbody>')
        for what, value, why in rows:
            self.add('<tr><td class="t">%s</td><td>%d</td><td class="t">%s</td></tr>' % (esc(what), value, esc(why)))
        self.add('<tr><th class="t">total cost, as in Tarsel.sol</th><th>%d</th><th class="t">the figure the '
                 'solver minimises and the annealers compare timetables by</th></tr></tbody></table>' % f.total_cost)
        if operational is not None:
            self.add("<p>Everything but the vehicles is the <b>operational cost</b>, %d: the cost of the flow report "
                     "Tarsel.arm and of the header of the block file Tarsel.bla, the cost of the connections the "
                     "solver chose.</p>" % operational)
        if f.scheduling_cost is not None and p is not None:
            depot_time = self.solved.block_file.min_depot_time
            depot_time = p.min_depot_time if depot_time is None else depot_time
            self.add("<p>The <b>scheduling cost</b> at the end of Tarsel.bla, %d, measures the same blocks as they are "
                     "driven: dead run %s x %d + waiting %s x %d + %s x the minimum depot time %d. It charges "
                     "each return to the depot the minimum depot time, where the solver charged every connection "
                     "with room for the depot the short-arc parameter; %s.</p>"
                     % (f.scheduling_cost, esc(hours(f.dead_run)), p.deadrun_weight, esc(hours(f.layover)),
                        p.layover_weight, plural(f.depot_returns, "depot return"), depot_time,
                        "here the two come to the same" if f.scheduling_cost == operational else
                        "the solver minimises the operational cost, not this one"))
        if f.flow.get("infeasible"):
            self.add('<p class="bad">Tarsel.arm says the flow pattern is INFEASIBLE: these figures are not a '
                     'schedule to drive.</p>')
        good = all(holds for holds, _ in f.checks)
        self.add('<p class="%s" id="checks">%s</p><ul class="checks">' % (
            "ok" if good else "bad", "The parts add up to the solver's figures:" if good else
            "The parts do not add up to the solver's figures (marked \u2717): the files may come from different runs."))
        for holds, what in f.checks:
            self.add('<li class="%s">%s %s</li>' % ("ok" if holds else "bad", "\u2713" if holds else "\u2717",
                                                   esc(what if holds else what.replace(" = ", " \u2260 "))))
        self.add("</ul>")

    def step_plot(self) -> None:
        f = self.figures
        curves = [(f.out, "#2277bb", ""), (f.operator, "#cc5500", ""), (f.trips, "#777777", "4,3")]
        shown = [(c, colour, dash) for c, colour, dash in curves if c is not None and c.steps]
        self.add("<h2>In service over the day</h2>")
        if not shown:
            return
        start, end = self.chart.start, self.chart.end
        for c, _, _ in shown:
            start = min(start, c.steps[0][0] // 60 * 60)
            end = max(end, -(-c.steps[-1][0] // 60) * 60)
        top = max(c.peak for c, _, _ in shown)
        grid = 1 if top <= 8 else 5 if top <= 50 else 10
        ceiling = max(grid, -(-top // grid) * grid)
        left, width, height, pad = 56, max(600.0, (end - start) * min(self.scale, 0.9)), 240, 28
        sx = width / (end - start)

        def x(minute: float) -> float:
            return left + (minute - start) * sx

        def y(count: float) -> float:
            return pad + height - count * height / ceiling

        svg = ['<svg xmlns="http://www.w3.org/2000/svg" width="%.0f" height="%d" viewBox="0 0 %.0f %d" class="steps" '
               '%s font-size="11">' % ((left + width + 20, height + pad + 60) * 2 + (FONT,))]
        for count in range(0, ceiling + 1, grid):
            svg.append('<line x1="%d" y1="%.1f" x2="%.1f" y2="%.1f" stroke="#e2e2e2"/>'
                       '<text x="%d" y="%.1f" text-anchor="end">%d</text>'
                       % (left, y(count), left + width, y(count), left - 8, y(count) + 4, count))
        for minute in range(start, end + 1, 60):
            if (minute - start) % 120 == 0:
                svg.append('<text x="%.1f" y="%d" text-anchor="middle">%s</text>'
                           % (x(minute), pad + height + 18, format_clock(minute)))
        for c, colour, dash in shown:
            points = ["M%.1f,%.1f" % (x(c.steps[0][0]), y(0))]
            previous = 0
            for minute, count in c.steps:
                points.append("L%.1f,%.1f" % (x(minute), y(previous)))
                points.append("L%.1f,%.1f" % (x(minute), y(count)))
                previous = count
            svg.append('<path class="curve" d="%s" fill="none" stroke="%s" stroke-width="1.6"%s>'
                       '<title>%s: at most %d, at %s</title></path>'
                       % (" ".join(points), colour, ' stroke-dasharray="%s"' % dash if dash else "", esc(c.label),
                          c.peak, format_clock(c.peak_at or 0)))
        legend_x: float = left
        for c, colour, dash in shown:
            text = "%s (at most %d, %s)" % (c.label, c.peak, format_clock(c.peak_at or 0))
            svg.append('<line x1="%.1f" y1="%d" x2="%.1f" y2="%d" stroke="%s" stroke-width="2"%s/>'
                       '<text x="%.1f" y="%d">%s</text>'
                       % (legend_x, height + pad + 42, legend_x + 22, height + pad + 42, colour,
                          ' stroke-dasharray="%s"' % dash if dash else "", legend_x + 28, height + pad + 46, esc(text)))
            legend_x += 44 + text_width(text, 11)
        svg.append("</svg>")
        self.add("\n".join(svg))
        self.add("<p>%s</p>" % esc(" ".join(self.step_notes())))

    def step_notes(self) -> list[str]:
        """What the curves of vehicles in service count."""
        notes = ["A vehicle is in service from its first trip's departure to its last trip's arrival, less its "
                 "returns to the depot between trips."]
        if self.figures.operator is not None:
            notes.append("An operator's block (the feed's block_id) is in service from its first trip's departure "
                         "to its last trip's arrival.")
        elif self.solved.from_feed:
            notes.append("The feed gives no block_id, so the operator's own blocks cannot be shown.")
        notes.append("No schedule can do with fewer vehicles than the most trips under way at once.")
        return notes

    def table(self, ident: str, headings: Sequence[str], rows: Sequence[Sequence[object]]) -> None:
        self.out.extend(sortable_table(ident, headings, rows))

    def block_table(self) -> None:
        rows = list(blocks_csv.rows(self.solved))
        # Columns that only a feed fills are left out where it does not.
        keep = [i for i in range(len(blocks_csv.COLUMNS)) if not rows or any(row[i] != "" for row in rows)]
        self.add("<h2>Blocks, trip by trip</h2><p>The rows of blocks_csv; click a heading to sort by it.</p>")
        self.table("blocks", [blocks_csv.COLUMNS[i] for i in keep], [[row[i] for i in keep] for row in rows])

    def changed_section(self) -> None:
        changed = self.changed
        if changed is None:
            return
        solved, f = self.solved, self.figures
        found = [name for name in ("Tarsel_best.bss", "Tarsel_shifts.csv")
                 if os.path.exists(os.path.join(solved.directory, name))]
        self.add("<h2>The changed timetable</h2><p>An annealer or shift_search left %s here: the best timetable "
                 "it found, against the one it read.</p>" % esc(" and ".join(found)))
        for note in changed.notes:
            self.add('<p class="bad">%s</p>' % esc(note))
        moved = [shift for shift in changed.shifts if shift.minutes]
        under_way = ["%d" % curve("", [(t.departure, t.arrival) for t in trips]).peak if trips is not None else "?"
                     for trips in (changed.read, changed.best.trips if changed.best else None)]
        figures = ["%d" % f.vehicles, "%d" % f.total_cost if f.total_cost is not None else "?"]
        unknown = ["not solved here"] * 2
        read, new = {"read": (figures, unknown), "changed": (unknown, figures)}.get(changed.solved_is,
                                                                                   (unknown, unknown))
        rows = [("trips under way at once, at most", under_way[0], under_way[1]),
                ("vehicles", read[0], new[0]), ("total cost", read[1], new[1]),
                ("trips moved", "", "%d of %d" % (len(moved), len(changed.shifts)))]
        self.add('<table class="cost"><thead><tr><th></th><th>timetable read</th><th>changed timetable</th></tr>'
                 '</thead><tbody>')
        for row in rows:
            self.add('<tr><td class="t">%s</td><td>%s</td><td>%s</td></tr>' % tuple(esc(c) for c in row))
        self.add("</tbody></table>")
        if changed.solved_is:
            what = ("The solver's files here, and every figure above this section, are those of the %s."
                    % {"read": "timetable read", "changed": "changed timetable"}[changed.solved_is])
        else:
            what = ("The solver's files here belong to neither timetable (an annealer leaves those of the last "
                    "candidate it tried), and so do the figures above this section.")
        self.add("<p>%s No file that the annealers leave holds the vehicles and cost of a timetable not solved here: "
                 "Tovarin gives those of the changed one for Tarsel_best.bss copied to Tarsel.bss (Lurrick prints "
                 "that cost as its Melhor FO, shift_search in its closing line); a report of that directory shows "
                 "them.</p>" % esc(what))
        if not moved:
            return
        headings = ["aux_value"] + (["GTFS trip"] if solved.from_feed else []) + [
            "route", "from", "to", "departure read", "departure changed", "shift (min)"]
        lines: list[list[str]] = []
        for shift in moved:
            feed = solved.legend.trips.get(shift.aux_value)
            lines.append([str(shift.aux_value)] + ([feed.trip_id if feed else ""] if solved.from_feed else []) + [
                feed.route_short_name if feed and feed.route_short_name else solved.line_name(shift.line_key),
                solved.stop_name(shift.origin), solved.stop_name(shift.destination), format_clock(shift.before),
                format_clock(shift.after), "%+d" % shift.minutes])
        self.add("<p>Moved trips:</p>")
        self.table("moved", headings, lines)

    def render(self) -> str:
        title = self.chart.title()
        self.out = []
        self.headline()
        self.operator_section()
        self.cost()
        self.step_plot()
        self.add("<h2>Vehicle blocks</h2>")
        svg = inline_svg(self.chart)
        theirs = self.operator.solved if self.operator is not None and not self.operator.foreign else None
        if theirs is not None:
            self.add(report_operator.chart_switch(svg, inline_svg(Chart(theirs, self.scale))))
        else:
            self.add('<div class="chart">%s</div>' % svg)
        self.changed_section()
        self.block_table()
        head = html_head(title) + [
                "<h1>%s</h1>" % esc(title),
                '<p class="sub">%s. Problem directory %s.</p>' % (esc(self.chart.subtitle()),
                                                                  esc(os.path.abspath(self.solved.directory)))]
        return "\n".join(head + self.out + page_end())


def marked(page: Page) -> list[str]:
    """What the page marks as not adding up, to be said on standard error too."""
    found = [what.replace(" = ", " != ") for holds, what in page.figures.checks if not holds]
    if page.operator is not None and page.operator.foreign:
        found.append("%s does not belong to Tarsel.bss: %s" % (report_operator.OPERATOR_FILE, page.operator.foreign[0]))
    if page.changed is not None:
        found.extend(page.changed.notes)
    return found


def missing_files(directory: str) -> list[str]:
    return [name for name in REQUIRED if not os.path.isfile(os.path.join(directory, name))]


def main(argv: Optional[Sequence[str]] = None) -> int:
    args = chart_arguments("report", __doc__, "HTML file", argv)
    missing = missing_files(args.directory)
    if missing:
        print("report: %s: no %s: the problem is not solved yet; run Tovarin first"
              % (args.directory, " and no ".join(missing)), file=sys.stderr)
        return 1
    check_set_whole(args.directory)
    solved = open_solved("report", args.directory)
    if solved is None:
        return 1
    try:
        report = Page(solved, args.scale)
        page = report.render()
    except (OSError, FormatError) as error:
        print("report: %s" % error, file=sys.stderr)
        return 1
    path = write_output("report", args.output, os.path.join(args.directory, DEFAULT_OUTPUT["report"]), page)
    if path is None:
        return 1
    for text in marked(report):
        print("report: warning: %s (marked in the page)" % text, file=sys.stderr)
    if path != "-":
        print("report: %s written" % path, file=sys.stderr)
    return 0
