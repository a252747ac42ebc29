"""What the HTML pages share (the report, what_if's page): the head with the
style, the tables sorted by a click on a heading, and the script that sorts
them.  The style and the script are the files report.css and report.js
beside this module, read when a page is made."""

from __future__ import annotations

import functools
import html
import os
import re
from typing import Sequence

from .block_chart import printable


@functools.lru_cache(maxsize=None)
def _asset(name: str) -> str:
    with open(os.path.join(os.path.dirname(os.path.abspath(__file__)), name), encoding="utf-8", newline="") as handle:
        return handle.read()


def esc(value: object) -> str:
    return html.escape(printable(str(value)), quote=True)


def html_head(title: str) -> list[str]:
    """The page's head, up to the opening of its body: UTF-8, the style, and a
    handler that leaves any script error on the page for a headless browser."""
    return ['<!DOCTYPE html>', '<html lang="en"><head><meta charset="utf-8">',
            '<meta name="viewport" content="width=device-width, initial-scale=1">',
            "<title>%s</title>" % esc(title),
            "<script>window.onerror=function(m,s,l){document.documentElement.dataset.error=m+' (line '+l+')';};"
            "</script>",
            "<style>\n%s</style></head><body>" % _asset("report.css")]


def page_end() -> list[str]:
    """The script and the page's end.  The script sorts by a heading's column,
    numbers and hh:mm times by value; the marker it sets on <body> tells a
    headless browser that it ran, and the count of rows it sorted."""
    return ["<script>\n%s</script>" % _asset("report.js"), "</body></html>", ""]


def sortable_table(ident: str, headings: Sequence[str], rows: Sequence[Sequence[object]]) -> list[str]:
    """A table that the page's script sorts by a click on a heading; columns
    of numbers and times stand right-aligned."""
    cells = [[str(v) for v in row] for row in rows]
    text = [not all(re.fullmatch(r"[-+]?[\d.:]*", row[i]) for row in cells) for i in range(len(headings))]
    out = ['<div class="scroll"><table class="sortable" id="%s"><thead><tr>%s</tr></thead><tbody>' % (
        ident, "".join('<th%s>%s</th>' % (' class="t"' if t else "", esc(h)) for h, t in zip(headings, text)))]
    for row in cells:
        out.append("<tr>%s</tr>" % "".join('<td%s>%s</td>' % (' class="t"' if t else "", esc(v))
                                          for v, t in zip(row, text)))
    out.append("</tbody></table></div>")
    return out
