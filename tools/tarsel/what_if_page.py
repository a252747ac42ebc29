"""The page of what_if: the table of scenarios and a chart of their vehicles,
one self-contained UTF-8 file in the report's style."""

from __future__ import annotations

import time
from typing import TYPE_CHECKING, Optional, Sequence

from .block_chart import FONT, text_width
from .page import esc, html_head, page_end, sortable_table

if TYPE_CHECKING:
    from .what_if import Row

BAR_COLOURS = {"free": "#2277bb", "none": "#cc5500", "operator": "#2e8b57"}
ROW_HEIGHT = 22
BAR_HEIGHT = 14
LABEL_SIZE = 12


def label(row: Row) -> str:
    s = row.scenario
    return "%s, %s%s" % (s.rule, s.interlining, ", within %d min" % s.max_shift if s.max_shift else "")


def chart(rows: Sequence[Row]) -> str:
    """One bar per scenario, its vehicles at its end; a bound as a dark mark;
    a failed scenario's reason where its bar would be."""
    left = max([text_width(label(r), LABEL_SIZE) for r in rows] + [60.0]) + 16
    width = 560.0
    top = max([r.vehicles or 0 for r in rows] + [r.bound_vehicles or 0 for r in rows] + [1])
    scale = width / top
    height = len(rows) * ROW_HEIGHT + 10
    out = ['<svg xmlns="http://www.w3.org/2000/svg" class="vehicles" width="%.0f" height="%d" viewBox="0 0 %.0f %d">'
           % (left + width + 60, height, left + width + 60, height)]
    for index, row in enumerate(rows):
        y = 5 + index * ROW_HEIGHT
        middle = y + ROW_HEIGHT / 2 + 4
        out.append('<g class="scenario"><text x="%.1f" y="%.1f" text-anchor="end" font-size="%d" %s>%s</text>'
                   % (left - 8, middle, LABEL_SIZE, FONT, esc(label(row))))
        if row.vehicles is None:
            out.append('<text x="%.1f" y="%.1f" font-size="%d" fill="#b00020" %s>%s</text></g>'
                       % (left, middle, LABEL_SIZE, FONT, esc("failed: " + row.reason)))
            continue
        bar = row.vehicles * scale
        out.append('<rect x="%.1f" y="%.1f" width="%.1f" height="%d" fill="%s"><title>%s: %d vehicles</title></rect>'
                   % (left, y + (ROW_HEIGHT - BAR_HEIGHT) / 2, bar, BAR_HEIGHT,
                      BAR_COLOURS.get(row.scenario.interlining, "#777777"), esc(label(row)), row.vehicles))
        if row.bound_vehicles is not None:
            x = left + row.bound_vehicles * scale
            out.append('<line x1="%.1f" x2="%.1f" y1="%.1f" y2="%.1f" stroke="#1a1a1a" stroke-width="2">'
                       '<title>no timetable within the window needs fewer than %d</title></line>'
                       % (x, x, y + 1, y + ROW_HEIGHT - 1, row.bound_vehicles))
        out.append('<text x="%.1f" y="%.1f" font-size="%d" %s>%d</text></g>'
                   % (left + bar + 4, middle, LABEL_SIZE, FONT, row.vehicles))
    out.append("</svg>")
    return "\n".join(out)


def format_page(rows: Sequence[Row], headings: Sequence[str], feed: str, caption: Optional[str],
                options: Sequence[str]) -> str:
    title = "What the rules cost: %s" % (caption or feed)
    solved = [r for r in rows if r.vehicles is not None]
    body = ["<h1>%s</h1>" % esc(title),
            '<p class="sub">%d scenarios, %d solved; feed %s%s; %s.</p>'
            % (len(rows), len(solved), esc(feed), esc(" with " + " ".join(options)) if options else "",
               esc(time.strftime("%Y-%m-%d %H:%M"))),
            "<p>Each scenario is an import of the feed with its layover rule (learned: each line's shortest "
            "turnaround in the operator's blocks; fixed-N: N minutes after every trip; share-10: at least 10 % "
            "of the trip's running time beside the default rule) and its interlining (free: a vehicle may "
            "change lines; none: it stays on its line; operator: it changes lines only as the operator's "
            "blocks do), solved by Tovarin; with a window, shift_search first moves departures by at most "
            "that many minutes. Each scenario's folder, named "
            "rule-interlining[-shiftM] beside this page, opens with tools/report.</p>",
            "<h2>Vehicles</h2>",
            "<p>Bars: %s%s.</p>"
            % (", ".join('<span style="color:%s">%s</span>' % (colour, name) for name, colour in BAR_COLOURS.items()
                         if any(r.scenario.interlining == name for r in rows)),
               "; a dark mark is the fewest vehicles that shift_search proves any timetable within the window "
               "needs" if any(r.bound_vehicles is not None for r in rows) else ""),
            '<div class="chart">%s</div>' % chart(rows),
            "<h2>Scenarios</h2><p>The rows of what_if.csv; click a heading to sort by it.</p>"]
    body += sortable_table("scenarios", headings, [row.cells() for row in rows])
    return "\n".join(html_head(title) + body + page_end())
