"""The timetables shift_search leaves in a problem directory, as the tools
that read them see them: Tarsel_best.bss with Tarsel_shifts.csv, and
Tarsel_best_V.bss with Tarsel_shifts_V.csv per vehicle count V.

shift_search puts all of them in place as one set: each is written beside its
name (NAME.new), then the list Tarsel_search.commit decides the change, the
renames and removals follow and the list goes.  While the list is there the
directory may hold files of two runs, so nothing that reads the set may read
it then."""

from __future__ import annotations

import os
import re

from .errors import TarselError

BEST_FILE = "Tarsel_best.bss"
SHIFTS_FILE = "Tarsel_shifts.csv"
COMMIT_LIST = "Tarsel_search.commit"
STAGED = ".new"
_SET_NAME = re.compile(r"Tarsel_(best(_\d+)?\.bss|shifts(_\d+)?\.csv)")
_SHIFTS_NAME = re.compile(r"Tarsel_shifts(_\d+)?\.csv")


class HalfInPlace(TarselError):
    """A set of shift_search's files is being put in place, or a run was
    stopped while it did."""


def is_set_file(name: str) -> bool:
    """Whether a name is one of the set's, or staged for it, or the list."""
    base = name[:-len(STAGED)] if name.endswith(STAGED) else name
    return name == COMMIT_LIST or _SET_NAME.fullmatch(base) is not None


def best_file_for(shifts_name: str) -> str:
    """The timetable a shifts file goes with: Tarsel_shifts_64.csv's is
    Tarsel_best_64.bss; for a name of another kind, a description."""
    match = _SHIFTS_NAME.fullmatch(shifts_name)
    if match is None:
        return "the timetable of %s" % shifts_name
    return "Tarsel_best%s.bss" % (match.group(1) or "")


def check_set_whole(directory: str) -> None:
    """Refuses a directory whose set is half in place."""
    path = os.path.join(directory, COMMIT_LIST)
    if os.path.lexists(path):
        raise HalfInPlace(
            "%s: shift_search's timetables are half in place (a run stopped while putting them in place, or "
            "one is doing so now); run shift_search in %s again, which completes them before it searches, or "
            "carry out its lines by hand (put NAME: rename NAME%s to NAME; remove NAME: delete NAME), then delete it"
            % (path, directory, STAGED))
