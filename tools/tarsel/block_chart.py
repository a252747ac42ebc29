"""block_chart: an SVG chart of the vehicle blocks of a solved problem.

    block_chart [PROBLEM_DIR] [-o FILE] [--scale PX_PER_MINUTE] [--blocks NAME]

Reads Tarsel.bla (or the block file NAME, such as the operator's blocks in
Tarsel_operator.bla, drawn to Tarsel_operator_blocks.svg) and Tarsel.bss (and
the legend files, where gtfs_import made the problem) and writes
PROBLEM_DIR/Tarsel_blocks.svg (or FILE, "-" for the standard output): one row per vehicle block, time across with hour ticks,
each trip a bar coloured by its line and labelled with the route's short name
where the label fits, dead runs, waiting and depot parking drawn apart from
service.  Every bar tells its trip, route, terminals, times and feed ids when
pointed at.  Any browser opens it.  A Tarsel.bla that is cut or belongs to
another trip file is refused with exit code 1 and nothing written.
"""

from __future__ import annotations

import math
import os
import re
from typing import Iterable, Optional, Sequence
from xml.sax import saxutils

from . import files as tf
from .blocks import Block, BlockTrip
from .command import DEFAULT_OUTPUT, chart_arguments
from .files import write_output
from .solved import BLOCK_FILE, Solved, key_label, open_solved

ROW = 18          # pixels per block row
BAR = 12          # height of a trip bar
THIN = 4          # height of a dead-run bar
LEFT = 78         # room for the row labels
TOP = 74          # title and the upper time axis
RIGHT = 24
FONT = "font-family=\"Helvetica, Arial, sans-serif\""
LABEL_SIZE = 8    # font size of the labels on the bars
DEAD_RUN_COLOUR = "#4a4a4a"
WAIT_COLOUR = "#9a9a9a"
# Lines whose colours lie closer than this (CIE76 delta E) are told apart
# badly; the feed's route colours are used only where all stay farther apart.
DISTINCT = 20.0

# Helvetica advance widths in em, by kind of character; a little generous so
# that a label said to fit does fit in the fonts that stand in for it.
_NARROW = set("iljtfrI.,:;'!|()[] -/")
_WIDE = set("MWmw@%")


# What XML 1.0 does not allow in a document, even escaped.
_NOT_XML = re.compile("[\x00-\x08\x0b\x0c\x0e-\x1f\ud800-\udfff\ufffe\uffff]")


def printable(text: str) -> str:
    """text with the characters that no XML or HTML page may hold (controls
    that a feed's names can carry) as U+FFFD."""
    return _NOT_XML.sub("\ufffd", text)


def escape(text: str) -> str:
    return saxutils.escape(printable(text))


def quoteattr(text: str) -> str:
    return saxutils.quoteattr(printable(text))


def text_width(text: str, size: float) -> float:
    """Estimated width in pixels of text in the chart's font."""
    em = 0.0
    for char in text:
        if char in _NARROW:
            em += 0.32
        elif char in _WIDE:
            em += 0.88
        elif char.isdigit():
            em += 0.56
        elif char.isupper():
            em += 0.70
        else:
            em += 0.56
    return em * size


def _linear(channel: int) -> float:
    value = channel / 255
    return value / 12.92 if value <= 0.04045 else float(((value + 0.055) / 1.055) ** 2.4)


def lab(rgb: tuple[int, int, int]) -> tuple[float, float, float]:
    """CIELAB (D65) of an sRGB colour."""
    r, g, b = (_linear(c) for c in rgb)
    xyz = ((0.4124 * r + 0.3576 * g + 0.1805 * b) / 0.95047, 0.2126 * r + 0.7152 * g + 0.0722 * b,
           (0.0193 * r + 0.1192 * g + 0.9505 * b) / 1.08883)
    fx, fy, fz = (t ** (1 / 3) if t > 0.008856 else 7.787 * t + 16 / 116 for t in xyz)
    return 116 * fy - 16, 500 * (fx - fy), 200 * (fy - fz)


def rgb_of(colour: str) -> tuple[int, int, int]:
    return int(colour[1:3], 16), int(colour[3:5], 16), int(colour[5:7], 16)


def distinct_colours(count: int) -> list[str]:
    """count colours, each as far from those before it as the sRGB grid allows
    (farthest point first in CIELAB), kept to middle lightness and moderate
    chroma so that bars stand out from the white rows without glaring.  The
    sequence is fixed: the first colours stay the same whatever the count."""
    candidates = []
    steps = range(0, 256, 17)
    for rgb in ((r, g, b) for r in steps for g in steps for b in steps):
        point = lab(rgb)
        if 40 <= point[0] <= 85 and math.hypot(point[1], point[2]) <= 75:
            candidates.append((rgb, point))
    nearest = [math.inf] * len(candidates)
    pick = candidates.index(((34, 119, 187), lab((34, 119, 187))))
    colours: list[str] = []
    while len(colours) < count:
        rgb, point = candidates[pick]
        colours.append("#%02x%02x%02x" % rgb)
        for index, (_, other) in enumerate(candidates):
            nearest[index] = min(nearest[index], math.dist(point, other))
        pick = max(range(len(candidates)), key=nearest.__getitem__)
        if nearest[pick] == 0:      # more lines than the grid has colours
            nearest = [math.inf] * len(candidates)
    return colours


def palette(keys: Iterable[str], feed_colours: Optional[dict[str, str]] = None) -> dict[str, str]:
    """Line key -> fill colour.  The feed's colours where every line has one of
    its own and all stay distinct; else colours far apart over the sorted keys."""
    ordered = sorted(set(keys), key=float)
    if feed_colours and all(feed_colours.get(k) for k in ordered):
        points = [lab(rgb_of(feed_colours[k])) for k in ordered]
        if all(math.dist(a, b) >= DISTINCT for i, a in enumerate(points) for b in points[i + 1:]):
            return {k: feed_colours[k] for k in ordered}
    return dict(zip(ordered, distinct_colours(len(ordered))))


def ink(fill: str) -> str:
    """Text colour that reads on a fill."""
    return "#111" if lab(rgb_of(fill))[0] > 58 else "#fff"


def clip(text: str, size: float, room: float) -> str:
    """text cut with an ellipsis to fit room pixels."""
    if text_width(text, size) <= room:
        return text
    while text and text_width(text + "\u2026", size) > room:
        text = text[:-1]
    return text.rstrip() + "\u2026"


class Chart:
    def __init__(self, solved: Solved, scale: float) -> None:
        self.solved = solved
        self.scale = scale
        blocks = solved.block_file.blocks
        starts = [b.leave for b in blocks if b.leave is not None] or [0]
        ends = [b.back for b in blocks] or [60]
        self.start = (min(starts) // 60) * 60
        self.end = -(-max(ends) // 60) * 60
        if self.end <= self.start:
            self.end = self.start + 60
        self.width = LEFT + (self.end - self.start) * scale + RIGHT
        self.rows_height = len(blocks) * ROW
        keys = {line.line_key for b in blocks for line in b.trips}
        feed_colours = {}
        for key in keys:
            found = {r.colour for r in solved.routes(key) if r.colour}
            if len(found) == 1:
                feed_colours[key] = found.pop()
        self.colours = palette(keys, feed_colours)
        self.out: list[str] = []

    def x(self, minutes: float) -> float:
        return LEFT + (minutes - self.start) * self.scale

    def rect(self, cls: str, start: float, end: float, y: float, height: int, fill: str,
             title: Optional[str] = None, extra: str = "") -> None:
        width = max((end - start) * self.scale, 0.5)
        body = '<rect class="%s" x="%.1f" y="%.1f" width="%.1f" height="%d" fill="%s"%s' % (
            cls, self.x(start), y, width, height, fill, extra)
        if title:
            self.out.append(body + "><title>%s</title></rect>" % escape(title))
        else:
            self.out.append(body + "/>")

    def axis(self, y: int, above: bool) -> None:
        for minute in range(self.start, self.end + 1, 60):
            hours = tf.format_clock(minute)
            self.out.append('<text class="tick" x="%.1f" y="%d" text-anchor="middle" font-size="10" %s>%s</text>'
                            % (self.x(minute), y - 4 if above else y + 12, FONT, hours))

    def block_row(self, index: int, block: Block) -> None:
        y = TOP + index * ROW
        middle = y + ROW / 2
        bar_y = middle - BAR / 2
        thin_y = middle - THIN / 2
        name = self.solved.stop_name
        depot = name(block.depot)
        self.out.append('<g class="block" data-block="%d">' % block.number)
        if index % 2:
            self.out.append('<rect x="0" y="%d" width="%.1f" height="%d" fill="#f4f4f4"/>' % (y, self.width, ROW))
        self.out.append('<text x="%d" y="%.1f" text-anchor="end" font-size="10" %s>Block %d</text>'
                        % (LEFT - 6, middle + 3.5, FONT, block.number))
        previous: Optional[BlockTrip] = None
        for line in block.trips:
            if previous is None:
                self.rect("deadrun", line.departure - line.dead_run, line.departure, thin_y, THIN,
                          DEAD_RUN_COLOUR, "pull-out from %s to %s: %d min" % (depot, name(line.origin), line.dead_run))
            elif line.depot_return:
                back_at = previous.arrival + line.to_depot
                self.rect("deadrun", previous.arrival, back_at, thin_y, THIN, DEAD_RUN_COLOUR,
                          "%s to the depot: %d min" % (name(previous.destination), line.to_depot))
                self.rect("parking", back_at, back_at + line.park, y + 3, ROW - 6, "url(#parking)",
                          "parked at %s for %s" % (depot, tf.format_clock(line.park)),
                          ' stroke="#7a7a7a" stroke-width="0.5"')
                self.rect("deadrun", line.departure - line.dead_run, line.departure, thin_y, THIN,
                          DEAD_RUN_COLOUR, "from the depot to %s: %d min" % (name(line.origin), line.dead_run))
            else:
                if line.dead_run:
                    self.rect("deadrun", previous.arrival, previous.arrival + line.dead_run, thin_y, THIN,
                              DEAD_RUN_COLOUR, "dead run %s to %s: %d min"
                              % (name(previous.destination), name(line.origin), line.dead_run))
                if line.wait:
                    self.out.append('<line class="wait" x1="%.1f" y1="%.1f" x2="%.1f" y2="%.1f" stroke="%s" '
                                    'stroke-width="1" stroke-dasharray="2,2"><title>wait at %s: %d min</title></line>'
                                    % (self.x(previous.arrival + line.dead_run), middle, self.x(line.departure),
                                       middle, WAIT_COLOUR, escape(name(line.origin)), line.wait))
            self.trip_bar(block, line, bar_y)
            previous = line
        if previous is not None:
            self.rect("deadrun", previous.arrival, previous.arrival + block.return_dead_run, thin_y, THIN,
                      DEAD_RUN_COLOUR, "pull-in from %s to %s: %d min"
                      % (name(previous.destination), depot, block.return_dead_run))
        self.out.append("</g>")

    def trip_title(self, block: Block, line: BlockTrip) -> str:
        """The tooltip of a trip bar: trip and route, terminals and times, the feed's ids."""
        solved = self.solved
        trip = solved.trip_of(block, line)
        route = solved.route_name(line, trip)
        long_name = solved.route_long_name(line, trip)
        head = "Trip %d" % trip.number if trip is not None else "Trip (not in the trip file)"
        head += ", %s %s" % ("route" if solved.from_feed else "line", route)
        head += " %s" % long_name if long_name and long_name != route else ""
        if route != key_label(line.line_key):
            head += " (line %s)" % key_label(line.line_key)
        lines = [head, "%s %s \u2192 %s %s" % (
            solved.stop_name(line.origin), tf.format_clock(line.departure),
            solved.stop_name(line.destination), tf.format_clock(line.arrival))]
        feed = [("GTFS trip %s" % solved.gtfs_trip_id(trip)) if solved.gtfs_trip_id(trip) else "",
                ("operator block %s" % solved.block_id(trip)) if solved.block_id(trip) else ""]
        if any(feed):
            lines.append(", ".join(f for f in feed if f))
        return "\n".join(lines)

    def trip_bar(self, block: Block, line: BlockTrip, bar_y: float) -> None:
        fill = self.colours[line.line_key]
        self.rect("trip", line.departure, line.arrival, bar_y, BAR, fill, self.trip_title(block, line),
                  ' stroke="#333" stroke-width="0.4" data-key=%s' % quoteattr(line.line_key))
        label = self.solved.route_name(line, self.solved.trip_of(block, line))
        if text_width(label, LABEL_SIZE) + 3 > (line.arrival - line.departure) * self.scale:
            return
        centre = self.x((line.departure + line.arrival) / 2)
        self.out.append('<text class="key" x="%.1f" y="%.1f" text-anchor="middle" font-size="%d" fill="%s" '
                        'pointer-events="none" %s>%s</text>'
                        % (centre, bar_y + BAR - 3, LABEL_SIZE, ink(fill), FONT, escape(label)))

    def legend(self, y: float) -> float:
        self.out.append('<g class="legend">')
        x: float = LEFT
        # A service trip's swatch is a bar as the rows draw it, in the first
        # lines' colours, for the colour tells the line.
        fills = (list(self.colours.values()) or ["#ffffff"]) * 3
        top = y + 6 - BAR / 2
        for part in range(3):
            self.out.append('<rect x="%.1f" y="%.1f" width="%d" height="%d" fill="%s"/>'
                            % (x + 8 * part, top, 8 if part < 2 else 6, BAR, fills[part]))
        self.out.append('<rect class="service" x="%.1f" y="%.1f" width="22" height="%d" fill="none" '
                        'stroke="#333" stroke-width="0.4"/>' % (x, top, BAR))
        samples = [("Service trip, coloured by line", "", 0),
                   ("Dead run", '<rect x="%.1f" y="%.1f" width="22" height="%d" fill="' + DEAD_RUN_COLOUR + '"/>',
                    THIN),
                   ("Waiting", '<line x1="%.1f" y1="%.1f" x2="%.1f" y2="%.1f" stroke="' + WAIT_COLOUR +
                    '" stroke-dasharray="2,2"/>', 0),
                   ("Parked at the depot", '<rect x="%.1f" y="%.1f" width="22" height="%d" fill="url(#parking)" '
                                           'stroke="#7a7a7a" stroke-width="0.5"/>', ROW - 6)]
        for text, shape, height in samples:
            if height:
                self.out.append(shape % (x, y + 6 - height / 2, height))
            elif shape:
                self.out.append(shape % (x, y + 6, x + 22, y + 6))
            self.out.append('<text x="%.1f" y="%.1f" font-size="11" %s>%s</text>' % (x + 28, y + 10, FONT, text))
            x += 28 + text_width(text, 11) + 24
        y += 26
        self.out.append('<text x="%d" y="%.1f" font-size="11" font-weight="bold" %s>Lines</text>'
                        % (LEFT, y + 10, FONT))
        entries = []
        for key in sorted(self.colours, key=float):
            text = self.solved.line_name(key)
            long_name = self.solved.line_long_name(key)
            entries.append((key, text + ("  " + long_name if long_name else "")))
        room = max(self.width - RIGHT - (LEFT + 48), 300.0)
        column = min(max((text_width(t, 11) for _, t in entries), default=0) + 30, 300.0, room)
        columns = max(1, int(room // column))
        for index, (key, text) in enumerate(entries):
            if index and index % columns == 0:
                y += 18
            x = LEFT + 48 + (index % columns) * column
            self.out.append('<rect x="%.1f" y="%.1f" width="14" height="12" fill="%s" stroke="#333" '
                            'stroke-width="0.4" data-key=%s/>' % (x, y, self.colours[key], quoteattr(key)))
            self.out.append('<text x="%.1f" y="%.1f" font-size="11" %s>%s</text>'
                            % (x + 18, y + 10, FONT, escape(clip(text, 11, column - 26))))
        self.out.append("</g>")
        return y + 30

    def title(self) -> str:
        """What was scheduled: feed, service day and depot, and the vehicles it takes."""
        solved = self.solved
        where = [solved.feed_name or os.path.basename(os.path.abspath(solved.directory))]
        if solved.service_day:
            where.append(solved.service_day)
        where.append("depot %s" % solved.depot_name)
        vehicles = len(solved.block_file.blocks)
        what = "Vehicle blocks" if solved.block_name == BLOCK_FILE else "The operator's blocks, run whole,"
        return "%s of %s: %d vehicle%s" % (what, ", ".join(where), vehicles, "" if vehicles == 1 else "s")

    def subtitle(self) -> str:
        bla = self.solved.block_file
        stats = bla.statistics
        lines = len(self.colours)
        details = ["%d trips on %d line%s" % (sum(len(b.trips) for b in bla.blocks), lines,
                                              "" if lines == 1 else "s")]
        for name, label in (("dead_run", "dead runs"), ("layover", "waiting"), ("parking", "parked at the depot")):
            if name in stats:
                details.append("%s %s h" % (label, tf.format_clock(stats[name])))
        if "depot_returns" in stats:
            details.append("%d depot return%s" % (stats["depot_returns"], "" if stats["depot_returns"] == 1 else "s"))
        return ", ".join(details)

    def render(self) -> str:
        """The whole chart as an SVG document."""
        self.out = []
        blocks = self.solved.block_file.blocks
        title = self.title()
        body_top = TOP
        self.axis(body_top, above=True)
        for minute in range(self.start, self.end + 1, 60):
            self.out.append('<line class="hour" x1="%.1f" y1="%d" x2="%.1f" y2="%d" stroke="#d0d0d0" '
                            'stroke-width="0.6"/>' % (self.x(minute), body_top, self.x(minute),
                                                      body_top + self.rows_height))
        for index, block in enumerate(blocks):
            self.block_row(index, block)
        bottom = body_top + self.rows_height
        self.axis(bottom, above=False)
        height = self.legend(bottom + 30)
        head = [
            '<?xml version="1.0" encoding="UTF-8"?>',
            '<svg xmlns="http://www.w3.org/2000/svg" width="%.0f" height="%.0f" viewBox="0 0 %.0f %.0f">'
            % (self.width, height, self.width, height),
            "<title>%s</title>" % escape(title),
            '<defs><pattern id="parking" width="6" height="6" patternUnits="userSpaceOnUse" '
            'patternTransform="rotate(45)"><rect width="6" height="6" fill="#f2efe2"/>'
            '<line x1="0" y1="0" x2="0" y2="6" stroke="#b8ae86" stroke-width="2"/></pattern></defs>',
            '<rect width="100%" height="100%" fill="white"/>',
            '<text x="%d" y="24" font-size="16" font-weight="bold" %s>%s</text>' % (LEFT, FONT, escape(title)),
            '<text x="%d" y="44" font-size="12" %s>%s</text>' % (LEFT, FONT, escape(self.subtitle())),
        ]
        return "\n".join(head + self.out + ["</svg>", ""])


def main(argv: Optional[Sequence[str]] = None) -> int:
    args = chart_arguments("block_chart", __doc__, "SVG file", argv)
    solved = open_solved("block_chart", args.directory, args.blocks)
    if solved is None:
        return 1
    default = DEFAULT_OUTPUT["block_chart"]
    if args.blocks != BLOCK_FILE:
        default = os.path.splitext(args.blocks)[0] + "_blocks.svg"
    path = write_output("block_chart", args.output, os.path.join(args.directory, default),
                        Chart(solved, args.scale).render())
    if path is None:
        return 1
    if path != "-":
        print("%s: %d blocks, %d trips" % (path, len(solved.block_file.blocks),
                                          sum(len(b.trips) for b in solved.block_file.blocks)))
    return 0
