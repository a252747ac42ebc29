"""The minimum layover of every trip and the dead runs, learned from the
operator's own blocks (block_id) where the feed has them.

A turnaround is the time from a trip's arrival to the departure of the next
trip of the same block, wherever that trip starts.  A trip's minimum layover
is the shortest turnaround seen after trips of its line ending at its
terminal; where there is none, the shortest of its line; else the fixed
--min-layover.  Where a block runs on to another terminal, the dead run
between the two is made no longer than the operator allows for it: the
turnaround less the layover learned.  So every connection the operator runs
is one the problem allows.  --layover-share P raises each trip's minimum
layover to P % of its own running time where that is more.
"""

from __future__ import annotations

import collections
import math
from dataclasses import dataclass, field
from typing import TYPE_CHECKING, Optional, Sequence

from . import files as tf

if TYPE_CHECKING:
    from .feed_problem import FeedTrip

DAY_SECONDS = 24 * 3600
LEARNED, FIXED = "learned", "fixed"


@dataclass
class Turnaround:
    before: int              # index of the earlier trip in the rows
    after: int
    minutes: int             # departure of `after` less arrival of `before`, in the problem's minutes


@dataclass
class Rules:
    """What was learned, for the summary and legend_rules.csv."""

    mode: str
    turnarounds: int = 0
    overlapping: int = 0
    across_midnight: int = 0
    aligned: int = 0                         # departures moved onto the previous trip's arrival minute
    shortened: int = 0                       # dead-run matrix entries shortened
    share: float = 0.0
    fixed: int = 5
    kinds: collections.Counter[str] = field(default_factory=collections.Counter)   # rules by where they came from
    # (line key text, terminal) -> (min_layover, source)
    legend: dict[tuple[str, str], tuple[int, str]] = field(default_factory=dict)


def block_pairs(rows: Sequence["FeedTrip"]) -> tuple[list[Turnaround], int, int]:
    """Consecutive trips of each operator block, by departure, that make a
    turnaround; and the pairs left out as overlapping and as running across
    midnight into another service day.  Compares the feed's own seconds, so
    that two trips the minute rounding makes overlap still count."""
    blocks: dict[str, list[int]] = collections.defaultdict(list)
    for index, row in enumerate(rows):
        block = row.trip.get("block_id", "")
        if block:
            blocks[block].append(index)
    pairs: list[Turnaround] = []
    overlapping = across_midnight = 0
    for members in blocks.values():
        members.sort(key=lambda i: (rows[i].seconds, i))
        for before, after in zip(members, members[1:]):
            p, n = rows[before], rows[after]
            if p.trip.get("service_id") != n.trip.get("service_id") and \
                    (max(p.seconds[1], n.seconds[1]) >= DAY_SECONDS or n.seconds[0] < p.seconds[1]):
                # One block_id over two service days: their clocks do not compare.
                across_midnight += 1
            elif n.seconds[0] < p.seconds[1]:
                overlapping += 1
            else:
                pairs.append(Turnaround(before, after, n.departure - p.arrival))
    return pairs, overlapping, across_midnight


def align_turnarounds(rows: Sequence["FeedTrip"]) -> int:
    """Departures rounded down to a minute before the arrival, rounded up, of
    the block's previous trip, where the feed's seconds show no overlap (an
    arrival at 10:05:20 and the next departure at 10:05:40 would read 10:06 and
    10:05): such a departure is set to that arrival minute, less than a minute
    later than the feed's.  Otherwise the operator's turnaround would read as
    -1 minute, which no minimum layover can allow.  Returns how many moved."""
    pairs, _, _ = block_pairs(rows)
    moved = 0
    for pair in pairs:
        if pair.minutes < 0:
            rows[pair.after].departure = rows[pair.before].arrival
            moved += 1
    return moved


def learn(rows: Sequence["FeedTrip"], trip_rows: Sequence[tf.TripRow], number: dict[str, int],
          matrix: list[list[int]], mode: str, fixed: int, share: float) -> Rules:
    """Sets every trip's min_layover and shortens dead runs to the operator's
    (mode "learned"), or keeps the fixed value; applies the share in both.
    `rows` and `trip_rows` stand in the same order; `number` maps terminal
    names to matrix indices."""
    rules = Rules(mode, share=share, fixed=fixed)
    line = [tf.format_key(t.group_key) for t in trip_rows]
    seen: dict[tuple[str, str], list[int]] = collections.defaultdict(list)
    by_line: dict[str, list[int]] = collections.defaultdict(list)
    pairs: list[Turnaround] = []
    if mode == LEARNED:
        pairs, rules.overlapping, rules.across_midnight = block_pairs(rows)
        rules.turnarounds = len(pairs)
        for pair in pairs:
            seen[(line[pair.before], trip_rows[pair.before].destination)].append(pair.minutes)
            by_line[line[pair.before]].append(pair.minutes)
    base: dict[tuple[str, str], tuple[int, str]] = {}
    for index, trip in enumerate(trip_rows):
        key = (line[index], trip.destination)
        if key not in base:
            if seen.get(key):
                base[key] = (max(0, min(seen[key])), "learned from %s" % turnarounds(len(seen[key])))
            elif by_line.get(key[0]):
                base[key] = (max(0, min(by_line[key[0]])), "line, from %s" % turnarounds(len(by_line[key[0]])))
            else:
                base[key] = (fixed, "fallback" if mode == LEARNED else "fixed")
    raised: collections.Counter[tuple[str, str]] = collections.Counter()
    count: collections.Counter[tuple[str, str]] = collections.Counter()
    lowest: dict[tuple[str, str], int] = {}
    for index, trip in enumerate(trip_rows):
        key = (line[index], trip.destination)
        value = base[key][0]
        by_share = math.ceil(share * (trip.arrival - trip.departure) / 100 - 1e-9) if share > 0 else 0
        if by_share > value:
            value = by_share
            raised[key] += 1
        trip.min_layover = value
        count[key] += 1
        lowest[key] = min(lowest.get(key, value), value)
    for key in sorted(base, key=lambda k: (float(k[0]), k[1])):
        source = base[key][1]
        rules.kinds[source.split(" ")[0].rstrip(",")] += 1
        if raised[key]:
            source = "share %g%% (%d of %d trips), else %s" % (share, raised[key], count[key], source)
        rules.legend[key] = (lowest[key], source)
    for pair in pairs:
        before, after = trip_rows[pair.before], trip_rows[pair.after]
        start, end = number.get(before.destination, 0), number.get(after.origin, 0)
        allowed = pair.minutes - base[(line[pair.before], before.destination)][0]
        if start != end and 0 <= allowed < matrix[start][end]:
            matrix[start][end] = allowed
            rules.shortened += 1
    return rules


def turnarounds(count: int) -> str:
    return "%d turnaround%s" % (count, "" if count == 1 else "s")


def legend_rows(rules: Rules) -> list[list[object]]:
    return [[line, terminal, value, source] for (line, terminal), (value, source) in rules.legend.items()]


def summary(rules: Rules, has_blocks: bool) -> list[str]:
    """Lines for the standard error: what the rules are and where they came from."""
    values = [value for value, _ in rules.legend.values()]
    span = "%d to %d min" % (min(values), max(values)) if values else "none"
    share = ", at least %g %% of each trip's running time" % rules.share if rules.share > 0 else ""
    if rules.mode == FIXED:
        why = "" if has_blocks else ": the feed has no block_id, no operator practice to learn from"
        return ["min_layover %d for every trip%s (--min-layover)%s" % (rules.fixed, share, why)]
    sources = rules.kinds
    return [
        "min_layover learned from %d turnarounds in the operator's blocks: %s over %d lines and terminals "
        "(%d by line and terminal, %d by line, %d at --min-layover %d)%s"
        % (rules.turnarounds, span, len(values), sources["learned"], sources["line"], sources["fallback"],
           rules.fixed, share),
        "dead runs shortened to the operator's: %d; turnarounds skipped: %d of overlapping trips, %d across "
        "midnight of another service day" % (rules.shortened, rules.overlapping, rules.across_midnight),
    ] + (["%d departures set to the minute the block's previous trip arrives in (rounding only)" % rules.aligned]
         if rules.aligned else [])


def choose_mode(requested: Optional[str], has_blocks: bool) -> str:
    if requested == FIXED or not has_blocks:
        return FIXED
    return LEARNED
