"""block_chart: an SVG chart of the vehicle blocks of a solved problem.

    block_chart [PROBLEM_DIR] [-o FILE] [--scale PX_PER_MINUTE]

Reads Tarsel.bla, Tarsel.sol and Tarsel.bss (and the legend files, where
gtfs_import made the problem) and writes PROBLEM_DIR/Tarsel_blocks.svg: one
row per vehicle block, time across with hour ticks, each trip a bar coloured
and labelled by its line key, dead runs, waiting and depot parking drawn apart
from service.  Any browser opens it.
"""

from __future__ import annotations

import argparse
import os
import sys
from typing import Iterable, Optional, Sequence
from xml.sax.saxutils import escape, quoteattr

from . import files as tf
from .blocks import Block, BlockTrip
from .files import FormatError
from .solved import Solved

ROW = 18          # pixels per block row
BAR = 12          # height of a trip bar
THIN = 4          # height of a dead-run bar
LEFT = 78         # room for the row labels
TOP = 74          # title and the upper time axis
RIGHT = 24
FONT = "font-family=\"Helvetica, Arial, sans-serif\""
DEAD_RUN_COLOUR = "#4a4a4a"
WAIT_COLOUR = "#9a9a9a"


def key_label(key: str) -> str:
    """5.00 -> "5"; 12.50 stays "12.50"."""
    value = float(key)
    return "%d" % value if value == int(value) else key


def palette(keys: Iterable[str]) -> dict[str, str]:
    """Line key -> fill colour: hues spread by the golden angle over the sorted keys."""
    colours = {}
    for index, key in enumerate(sorted(keys, key=float)):
        hue = (index * 137.508) % 360
        lightness = 62 if index % 2 == 0 else 72
        colours[key] = "hsl(%.0f,65%%,%d%%)" % (hue, lightness)
    return colours


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
        self.colours = palette(keys)
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
        self.out.append('<g class="block" data-block="%d">' % block.number)
        if index % 2:
            self.out.append('<rect x="0" y="%d" width="%.1f" height="%d" fill="#f4f4f4"/>' % (y, self.width, ROW))
        self.out.append('<text x="%d" y="%.1f" text-anchor="end" font-size="10" %s>Block %d</text>'
                        % (LEFT - 6, middle + 3.5, FONT, block.number))
        previous: Optional[BlockTrip] = None
        for line in block.trips:
            if previous is None:
                self.rect("deadrun", line.departure - line.dead_run, line.departure, thin_y, THIN,
                          DEAD_RUN_COLOUR, "pull-out from %s: %d min" % (block.depot, line.dead_run))
            elif line.depot_return:
                back_at = previous.arrival + line.to_depot
                self.rect("deadrun", previous.arrival, back_at, thin_y, THIN, DEAD_RUN_COLOUR,
                          "to the depot: %d min" % line.to_depot)
                self.rect("parking", back_at, back_at + line.park, y + 3, ROW - 6, "url(#parking)",
                          "parked at %s for %s" % (block.depot, tf.format_clock(line.park)),
                          ' stroke="#7a7a7a" stroke-width="0.5"')
                self.rect("deadrun", line.departure - line.dead_run, line.departure, thin_y, THIN,
                          DEAD_RUN_COLOUR, "from the depot: %d min" % line.dead_run)
            else:
                if line.dead_run:
                    self.rect("deadrun", previous.arrival, previous.arrival + line.dead_run, thin_y, THIN,
                              DEAD_RUN_COLOUR, "dead run %s to %s: %d min"
                              % (previous.destination, line.origin, line.dead_run))
                if line.wait:
                    self.out.append('<line class="wait" x1="%.1f" y1="%.1f" x2="%.1f" y2="%.1f" stroke="%s" '
                                    'stroke-width="1" stroke-dasharray="2,2"><title>wait at %s: %d min</title></line>'
                                    % (self.x(previous.arrival + line.dead_run), middle, self.x(line.departure),
                                       middle, WAIT_COLOUR, escape(line.origin), line.wait))
            self.trip_bar(block, line, bar_y)
            previous = line
        if previous is not None:
            self.rect("deadrun", previous.arrival, previous.arrival + block.return_dead_run, thin_y, THIN,
                      DEAD_RUN_COLOUR, "pull-in to %s: %d min" % (block.depot, block.return_dead_run))
        self.out.append("</g>")

    def trip_bar(self, block: Block, line: BlockTrip, bar_y: float) -> None:
        trip = self.solved.trip_of(block, line)
        route = self.solved.line_names.get(line.line_key, "")
        title = "%s %s \u2192 %s %s, line %s%s" % (
            line.origin, tf.format_clock(line.departure), line.destination,
            tf.format_clock(line.arrival), key_label(line.line_key), " (%s)" % route if route else "")
        if trip is not None:
            title += ", trip %d" % trip.number
            gtfs = self.solved.gtfs_trip_id(trip)
            if gtfs:
                title += ", GTFS trip %s" % gtfs
        self.rect("trip", line.departure, line.arrival, bar_y, BAR, self.colours[line.line_key], title,
                  ' stroke="#333" stroke-width="0.4" data-key=%s' % quoteattr(line.line_key))
        centre = self.x((line.departure + line.arrival) / 2)
        self.out.append('<text class="key" x="%.1f" y="%.1f" text-anchor="middle" font-size="8" %s>%s</text>'
                        % (centre, bar_y + BAR - 3, FONT, escape(key_label(line.line_key))))

    def legend(self, y: float) -> float:
        self.out.append('<g class="legend">')
        x = LEFT
        samples = [("Service trip", '<rect x="%.1f" y="%.1f" width="22" height="%d" fill="hsl(210,65%%,62%%)" '
                                    'stroke="#333" stroke-width="0.4"/>', BAR),
                   ("Dead run", '<rect x="%.1f" y="%.1f" width="22" height="%d" fill="' + DEAD_RUN_COLOUR + '"/>',
                    THIN),
                   ("Waiting", '<line x1="%.1f" y1="%.1f" x2="%.1f" y2="%.1f" stroke="' + WAIT_COLOUR +
                    '" stroke-dasharray="2,2"/>', 0),
                   ("Parked at the depot", '<rect x="%.1f" y="%.1f" width="22" height="%d" fill="url(#parking)" '
                                           'stroke="#7a7a7a" stroke-width="0.5"/>', ROW - 6)]
        for text, shape, height in samples:
            if height:
                self.out.append(shape % (x, y + 6 - height / 2, height))
            else:
                self.out.append(shape % (x, y + 6, x + 22, y + 6))
            self.out.append('<text x="%.1f" y="%.1f" font-size="11" %s>%s</text>' % (x + 28, y + 10, FONT, text))
            x += 40 + 7 * len(text)
        y += 26
        self.out.append('<text x="%d" y="%.1f" font-size="11" font-weight="bold" %s>Lines</text>'
                        % (LEFT, y + 10, FONT))
        x = LEFT + 48
        for key in sorted(self.colours, key=float):
            route = self.solved.line_names.get(key, "")
            text = key_label(key) + (" %s" % route if route and route != key_label(key) else "")
            step = 34 + 6 * len(text)
            if x + step > self.width - RIGHT and x > LEFT + 48:
                x = LEFT + 48
                y += 18
            self.out.append('<rect x="%.1f" y="%.1f" width="14" height="12" fill="%s" stroke="#333" '
                            'stroke-width="0.4"/>' % (x, y, self.colours[key]))
            self.out.append('<text x="%.1f" y="%.1f" font-size="11" %s>%s</text>'
                            % (x + 18, y + 10, FONT, escape(text)))
            x += step
        self.out.append("</g>")
        return y + 30

    def render(self) -> str:
        blocks = self.solved.block_file.blocks
        bla = self.solved.block_file
        stats = bla.statistics
        cost = self.solved.total_cost
        title = "Vehicle blocks: %d vehicles, total cost %s" % (
            len(blocks), "%d" % cost if cost is not None else "unknown")
        details = ["%d trips" % len(self.solved.trip_file.trips)]
        if bla.operational_cost is not None:
            details.append("operational cost %d" % bla.operational_cost)
        for name, label in (("dead_run", "dead run"), ("layover", "layover"), ("parking", "parking")):
            if name in stats:
                details.append("%s %s" % (label, tf.format_clock(stats[name])))
        if "depot_returns" in stats:
            details.append("%d depot returns" % stats["depot_returns"])
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
            '<text x="%d" y="44" font-size="12" %s>%s</text>' % (LEFT, FONT, escape(", ".join(details))),
        ]
        return "\n".join(head + self.out + ["</svg>", ""])


def main(argv: Optional[Sequence[str]] = None) -> int:
    parser = argparse.ArgumentParser(prog="block_chart", description=(__doc__ or "").split("\n")[0])
    parser.add_argument("directory", nargs="?", default=".", help="solved problem directory")
    parser.add_argument("-o", "--output", help="SVG file (default PROBLEM_DIR/Tarsel_blocks.svg)")
    parser.add_argument("--scale", type=float, default=1.2, help="pixels per minute (default 1.2)")
    args = parser.parse_args(sys.argv[1:] if argv is None else argv)
    if args.scale <= 0:
        parser.error("--scale must be greater than 0")
    try:
        solved = Solved(args.directory)
    except (OSError, FormatError) as error:
        print("block_chart: %s" % error, file=sys.stderr)
        return 1
    path = args.output or os.path.join(args.directory, "Tarsel_blocks.svg")
    with open(path, "w", encoding="utf-8") as handle:
        handle.write(Chart(solved, args.scale).render())
    print("%s: %d blocks, %d trips" % (path, len(solved.block_file.blocks),
                                      sum(len(b.trips) for b in solved.block_file.blocks)))
    if solved.unmatched:
        print("block_chart: %d block line(s) match no trip of Tarsel.bss" % len(solved.unmatched), file=sys.stderr)
    return 0
