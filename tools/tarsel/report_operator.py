"""The operator's schedule beside the solver's, for the report, where
operator_blocks left Tarsel_operator.bla in the problem directory: the
figures and the cost of both side by side with the difference, whether the
operator's blocks keep the problem's rules, and a chart that shows either."""

from __future__ import annotations

import html
import os
from dataclasses import dataclass
from typing import Optional

from .blocks import check_blocks, is_late
from .files import FormatError, Parameters, format_clock
from .schedule import VEHICLE_COST, Charge, solved_charge
from .solved import Solved

OPERATOR_FILE = "Tarsel_operator.bla"


@dataclass
class Side:
    """One schedule's figures."""

    vehicles: int
    peak: int                      # vehicles in service at once, at most
    dead_run: int
    waiting: int
    depot_returns: int
    interlinings: int
    arcs: Optional[Charge]
    total: Optional[int]


@dataclass
class Operator:
    solved: Optional[Solved]       # None where the file cannot be read
    forbidden: int                 # connections within a block that the rules forbid
    foreign: list[str]             # faults that say the file is not of this trip file


def load(directory: str) -> Optional[Operator]:
    """The operator's schedule of the directory, or None where there is none."""
    if not os.path.isfile(os.path.join(directory, OPERATOR_FILE)):
        return None
    try:
        solved = Solved(directory, OPERATOR_FILE)
    except (OSError, FormatError) as error:
        return Operator(None, 0, ["%s cannot be read: %s" % (OPERATOR_FILE, error)])
    faults = check_blocks(solved.trip_file, solved.block_file)
    return Operator(solved, sum(1 for f in faults if is_late(f)), [f for f in faults if not is_late(f)])


def side(solved: Solved, parameters: Optional[Parameters], peak: int) -> Side:
    stats = solved.block_file.statistics
    arcs = solved_charge(solved, parameters, False) if parameters is not None else None
    return Side(len(solved.block_file.blocks), peak, stats.get("dead_run", 0), stats.get("layover", 0),
                stats.get("depot_returns", 0), solved.interlinings, arcs,
                VEHICLE_COST * len(solved.block_file.blocks) + arcs.total(parameters)
                if arcs is not None and parameters is not None else None)


Row = tuple[str, Optional[int], Optional[int], bool]     # what, operator's, Tovarin's, in minutes


def _rows(operator: Side, tovarin: Side, parameters: Optional[Parameters]) -> list[Row]:
    rows: list[Row] = [("vehicles", operator.vehicles, tovarin.vehicles, False),
            ("vehicles in service at once, at most", operator.peak, tovarin.peak, False),
            ("dead run (h:mm)", operator.dead_run, tovarin.dead_run, True),
            ("waiting between trips (h:mm)", operator.waiting, tovarin.waiting, True),
            ("depot returns between trips", operator.depot_returns, tovarin.depot_returns, False),
            ("interlinings: a vehicle changing line between two trips", operator.interlinings,
             tovarin.interlinings, False)]
    if parameters is not None and operator.arcs is not None and tovarin.arcs is not None:
        o, t = operator.arcs, tovarin.arcs
        rows += [("vehicles x %d" % VEHICLE_COST, operator.vehicles * VEHICLE_COST, tovarin.vehicles * VEHICLE_COST,
                  False),
                 ("dead run charged x weight %d" % parameters.deadrun_weight,
                  o.dead_run * parameters.deadrun_weight, t.dead_run * parameters.deadrun_weight, False),
                 ("waiting charged x weight %d" % parameters.layover_weight,
                  o.waiting * parameters.layover_weight, t.waiting * parameters.layover_weight, False),
                 ("connections through the depot x %d" % parameters.short_arc_param,
                  o.via_depot * parameters.short_arc_param, t.via_depot * parameters.short_arc_param, False)]
    rows.append(("total cost", operator.total, tovarin.total, False))
    return rows


def section(operator: Operator, operator_side: Optional[Side], tovarin: Side,
            parameters: Optional[Parameters]) -> str:
    """The HTML of the comparison."""
    out = ["<h2>The operator's schedule beside Tovarin's</h2>",
           "<p>The operator's blocks (the feed's block_id), each run whole by one vehicle and chained into the "
           "fewest vehicles at the least cost under the problem's rules by operator_blocks (%s), against "
           "Tovarin's schedule, costed alike.</p>" % OPERATOR_FILE]
    if operator.foreign or operator_side is None:
        out.append('<p class="bad" id="operator-rules">%s does not belong to this problem: %s</p>'
                   % (OPERATOR_FILE, html.escape("; ".join(operator.foreign[:3]))))
        return "\n".join(out)
    broken = operator.forbidden > 0
    out.append('<p class="%s" id="operator-rules">%s</p>' % (
        "bad" if broken else "ok",
        "The operator's blocks break the problem's rules: %d connection%s within a block the rules forbid "
        "(layover or dead run too short, or trips that overlap; operator_blocks names them). Every figure of "
        "the operator's schedule is marked \u2717." % (operator.forbidden, "" if operator.forbidden == 1 else "s")
        if broken else "The operator's blocks keep the problem's rules: every connection within a block is one "
                       "the solver may make, so Tovarin's optimum can be no dearer."))
    mark = ' <span class="bad">\u2717</span>' if broken else ""
    out.append('<table class="cost" id="operator"><thead><tr><th></th><th>operator\'s blocks, run whole</th>'
               '<th>Tovarin</th><th>difference</th></tr></thead><tbody>')
    for what, theirs, ours, minutes in _rows(operator_side, tovarin, parameters):
        def show(value: Optional[int]) -> str:
            return "?" if value is None else format_clock(value) if minutes else "%d" % value
        difference = "" if theirs is None or ours is None else \
            ("-" if ours < theirs else "+") + format_clock(abs(ours - theirs)) if minutes else "%+d" % (ours - theirs)
        out.append('<tr><td class="t">%s</td><td>%s%s</td><td>%s</td><td>%s</td></tr>'
                   % (html.escape(what), show(theirs), mark, show(ours), difference))
    out.append("</tbody></table><p>Difference: Tovarin's figure less the operator's.</p>")
    return "\n".join(out)


SWITCH_STYLE = """
.switch{margin:4px 0 8px;font-size:13px} #chart-operator{display:none}
#show-operator:checked~#chart-operator{display:block} #show-operator:checked~#chart-tovarin{display:none}
"""


def chart_switch(tovarin_svg: str, operator_svg: str) -> str:
    """Both charts, one shown at a time, chosen without a script."""
    return "\n".join([
        '<style>%s</style>' % SWITCH_STYLE,
        '<input type="radio" name="schedule" id="show-tovarin" checked><label class="switch" for="show-tovarin">'
        " Tovarin's schedule</label>",
        '<input type="radio" name="schedule" id="show-operator"><label class="switch" for="show-operator">'
        " the operator's blocks, run whole</label>",
        '<div class="chart" id="chart-tovarin">%s</div>' % tovarin_svg,
        '<div class="chart" id="chart-operator">%s</div>' % operator_svg])
