"""Interlining: which lines a vehicle may change between trips, written as the
link preference groups of Tarsel.prr.

free:     no groups file; a vehicle may follow any trip with any other.
none:     a vehicle stays on its line (its line key) all day.
operator: a vehicle stays on its line, or changes from one line to another
          where the operator's own blocks do so in the feed.

The solver allows trip a to be followed by trip b when, scanning the groups in
order, a group's members have held the truncated keys of both (a member match
in an earlier group still counts) and that group's from-keys hold a and its
to-keys hold b.  A group whose members are the truncated keys of all its
from- and to-keys therefore allows exactly the pairs of its from-keys x its
to-keys, so the allowed pairs are written as a cover by such rectangles.  The
file written is read back and the rule evaluated on every pair of line keys,
as the solver reads them (32-bit floats), before it is accepted: what cannot
be held in the groups' room, or keys that the solver could not tell apart, is
refused rather than written.
"""

from __future__ import annotations

import collections
import re
import struct
from typing import Iterable, Sequence

from . import limits
from .files import FormatError, LinkGroup, format_groups, format_key
from .feed import FeedError

MODES = ("free", "none", "operator")
# Any cost above 0 puts the groups in force; the solver uses it for nothing
# else than the line the block file shows.
LINK_COST = 1

Pair = tuple[float, float]


def float32(value: float) -> float:
    """The value as the solver holds a key: a 32-bit float."""
    return float(struct.unpack("<f", struct.pack("<f", value))[0])


def solver_key(key: float) -> float:
    """A line key as the solver reads it from the trip file's text."""
    return float32(float(format_key(key)))


# ---------------------------------------------------------------- the rule

def link_allowed(groups: Sequence[LinkGroup], a: float, b: float) -> bool:
    """Whether the groups let a trip of key a be followed by one of key b,
    keys as 32-bit floats, by the solver's own rule."""
    ka, kb = int(a), int(b)
    fa = fb = False
    for group in groups:
        if ka in group.members:
            fa = True
        if kb in group.members:
            fb = True
        if fa and fb:
            fa = a in group.from_keys
            fb = b in group.to_keys
            if fa and fb:
                return True
    return False


def read_groups(text: str) -> tuple[int, list[LinkGroup]]:
    """The link cost and the groups of a groups file in the layout that
    format_groups writes, keys as 32-bit floats."""
    lines = text.split("\n")
    cost = re.fullmatch(r".{11}\s*(-?\d+).*", lines[1] if len(lines) > 1 else "")
    if cost is None:
        raise FormatError("groups file: no link cost on line 2")
    groups = []
    position = 2
    while position + 2 < len(lines) and lines[position].startswith("Group ="):
        members, from_keys, to_keys = lines[position][7:], lines[position + 1][10:], lines[position + 2][12:]
        if not re.fullmatch(r"-?\d+([ ,]-?\d+)*", members):
            raise FormatError("groups file line %d: members %r" % (position + 1, members))
        groups.append(LinkGroup([int(m) for m in re.split(r"[ ,]", members)],
                                [float32(float(k)) for k in from_keys.split()],
                                [float32(float(k)) for k in to_keys.split()]))
        position += 3
    return int(cost.group(1)), groups


# ---------------------------------------------------------------- the cover

def operator_pairs(trips: Iterable[tuple[str, int, int, float]]) -> set[Pair]:
    """(line key before, line key after) of every two trips that follow each
    other in an operator's block; trips given as (block_id, departure,
    arrival, line key), those without a block_id left out."""
    blocks: dict[str, list[tuple[int, int, float]]] = collections.defaultdict(list)
    for block_id, departure, arrival, key in trips:
        if block_id:
            blocks[block_id].append((departure, arrival, key))
    pairs: set[Pair] = set()
    for run in blocks.values():
        run.sort()
        pairs.update((before[2], after[2]) for before, after in zip(run, run[1:]))
    return pairs


def cover(keys: Sequence[float], allowed: set[Pair]) -> list[LinkGroup]:
    """Groups that allow exactly `allowed` among `keys`: lines that may be
    followed by the same lines share a group, or, where fewer groups come of
    it, lines that may follow the same lines."""
    def rectangles(transpose: bool) -> list[tuple[list[float], list[float]]]:
        shared: dict[frozenset[float], list[float]] = collections.defaultdict(list)
        for k in keys:
            partners = frozenset(b if not transpose else a for a, b in allowed
                                 if (a if not transpose else b) == k)
            if partners:
                shared[partners].append(k)
        found = [(sorted(side), sorted(partners)) for partners, side in shared.items()]
        return [(b, a) for a, b in found] if transpose else found

    best = min(rectangles(False), rectangles(True), key=len)
    return [LinkGroup(sorted({int(solver_key(k)) for k in sources + targets}), sources, targets)
            for sources, targets in sorted(best)]


def check_room(groups: Sequence[LinkGroup], mode: str, lines: int) -> None:
    if len(groups) > limits.MAX_GROUPS:
        raise FeedError("--interlining %s: %d lines need %d link preference groups, the groups file holds "
                        "at most %d: choose fewer routes with --routes"
                        % (mode, lines, len(groups), limits.MAX_GROUPS))
    for number, group in enumerate(groups, 1):
        longest = max(len(group.members), len(group.from_keys), len(group.to_keys))
        if longest > limits.MAX_GROUP_ENTRIES:
            raise FeedError("--interlining %s: group %d needs %d keys in one list, a list holds at most %d: "
                            "choose fewer routes with --routes"
                            % (mode, number, longest, limits.MAX_GROUP_ENTRIES))


def check_file(data: bytes, keys: Sequence[float], allowed: set[Pair], mode: str) -> None:
    """Evaluates the rule of the file written on every pair of keys."""
    cost, groups = read_groups(data.decode("latin-1"))
    if cost <= 0:
        raise FeedError("--interlining %s: the groups file would not be in force (link cost %d)" % (mode, cost))
    for a in keys:
        for b in keys:
            if link_allowed(groups, solver_key(a), solver_key(b)) != ((a, b) in allowed):
                raise FeedError("--interlining %s: the groups cannot tell line %s from %s: the solver would %s "
                                "a vehicle to go from one to the other"
                                % (mode, format_key(a), format_key(b), "forbid" if (a, b) in allowed else "allow"))


def groups_file(mode: str, trips: Sequence[tuple[str, int, int, float]]) -> tuple[bytes, str]:
    """The groups file for an interlining mode other than free, checked, and a
    line saying what it allows.  Trips as for operator_pairs."""
    keys = sorted({key for _, _, _, key in trips})
    allowed = {(k, k) for k in keys}
    changes = 0
    if mode == "operator":
        if not any(block_id for block_id, _, _, _ in trips):
            raise FeedError("--interlining operator: the feed gives no block_id, so there are no operator's "
                            "blocks to follow")
        joined = {(a, b) for a, b in operator_pairs(trips) if a != b}
        changes = len(joined)
        allowed |= joined
    groups = cover(keys, allowed)
    check_room(groups, mode, len(keys))
    data = format_groups(LINK_COST, groups)
    check_file(data, keys, allowed, mode)
    what = "a vehicle stays on its line"
    if mode == "operator":
        what += " or changes line as the operator's blocks do (%d changes from one line to another)" % changes
    return data, "interlining %s: Tarsel.prr with %d groups for %d lines: %s" % (mode, len(groups), len(keys), what)
