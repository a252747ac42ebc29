"""The problem files of a Tarsel problem directory and the solution file.

Writers: the parameter file Tarsel.ini, the dead-run template Teste.mvm, the
trip file Tarsel.bss and the link preference file Tarsel.prr, byte for byte in
the layout that the annealers write and the solver reads.  Readers: the trip
file (by the solver's fixed columns), the parameter file and Tarsel.sol.

Times are whole minutes after midnight of the service day, without wrap.
"""

from __future__ import annotations

import errno
import os
import re
import shutil
import stat
import sys
import tempfile
import time
from dataclasses import dataclass, field
from typing import Match, Optional, Pattern, Sequence

from .errors import TarselError
from .limits import MAX_DEAD_RUN, MAX_HOURS, MAX_TERMINALS, MAX_TRIPS, TRIP_NAME_WIDTH

TRIP_FILE_TITLE = "# Rede criada com base nos hor\xe1rios de partida e chegadas das viagens\n"
OPERATION_LINE = "\nTempo total de opera\xe7\xe3o: %02d:%02d\n"
MATRIX_TAG = "[DEAD_RUN_MATRIX]"
COUNT_LABEL = "NUM_TERMINALS = "   # 16 characters, then the count
MATRIX_NOTE = "# dead runs in h:mm from the row's terminal to the column's; terminal 0 is the depot"


class FormatError(TarselError, ValueError):
    """A file that does not hold what its reader expects."""


# ---------------------------------------------------------------- times

def split_minutes(minutes: int) -> tuple[int, int]:
    """Hours and minutes with truncating division: -5 gives (0, -5)."""
    hours = abs(minutes) // 60
    rest = abs(minutes) % 60
    if minutes < 0:
        return -hours, -rest
    return hours, rest


def format_clock(minutes: int) -> str:
    """hh:mm as the solver prints it ("%02d:%02d" of split_minutes)."""
    return "%02d:%02d" % split_minutes(minutes)


def parse_clock(text: str) -> int:
    """Minutes from "hh:mm" as the solver prints it, also "00:-5"."""
    match = re.fullmatch(r"\s*(-?\d+):(-?\d+)\s*", text)
    if not match:
        raise FormatError("not a time hh:mm: %r" % text)
    return int(match.group(1)) * 60 + int(match.group(2))


def format_hhmm(minutes: int) -> str:
    """The four digits of a trip line's time field."""
    if minutes < 0 or minutes > MAX_HOURS * 60 + 59:
        raise ValueError("time %d min does not fit the hhmm field (00:00..99:59)" % minutes)
    return "%02d%02d" % split_minutes(minutes)


def format_matrix_entry(minutes: int) -> str:
    hours, rest = split_minutes(minutes)
    return "%d:%02d" % (hours, rest)


def format_key(group_key: float) -> str:
    """A line key as the trip and block files write it."""
    return "%.2f" % group_key


# ---------------------------------------------------------------- records

@dataclass(slots=True)
class TripRow:
    """One trip line: times in minutes, terminals by name."""

    departure: int
    origin: str
    arrival: int
    destination: str
    group_key: float
    aux_value: int
    min_layover: int
    number: int = 0   # 1-based position in the trip file

    def key(self) -> tuple[str, int, str, int, str]:
        """What a block line shows of the trip."""
        return (self.origin, self.departure, self.destination, self.arrival,
                format_key(self.group_key))


@dataclass(frozen=True)
class MatrixLayout:
    """How a dead-run section is laid out.  The readers go by lines and
    blank-separated tokens, so the layout is free within that: aligned puts
    every name over its column, else the names stand on one line apart by
    single blanks and each value takes 4 columns."""

    preamble: tuple[str, ...] = ()
    count_label: str = COUNT_LABEL
    note: str = MATRIX_NOTE
    aligned: bool = True


@dataclass
class LinkGroup:
    """One group of Tarsel.prr: its member lines and the keys that may follow
    from and to."""

    members: list[int]
    from_keys: list[float]
    to_keys: list[float]


@dataclass
class Parameters:
    """The five values of Tarsel.ini."""

    dead_run_mult: float
    min_depot_time: int
    deadrun_weight: int
    layover_weight: int
    short_arc_param: int


@dataclass
class TripFile:
    """What the solver reads from Tarsel.bss."""

    names: list[str]                 # terminal names, terminal 0 first
    matrix: list[list[int]]          # matrix[from][to] in minutes
    trips: list[TripRow] = field(default_factory=list)   # in file order

    def terminal(self, name: str) -> int:
        """Terminal number of a name; an unknown name is the depot, 0."""
        try:
            return self.names.index(name)
        except ValueError:
            return 0

    def dead_run(self, from_name: str, to_name: str) -> int:
        """Minutes; 0 in a file of no terminals, as the solver's empty table holds."""
        if not self.matrix:
            return 0
        return self.matrix[self.terminal(from_name)][self.terminal(to_name)]


# ---------------------------------------------------------------- writers

def format_parameters(title: str, dead_run_mult: float, min_depot_time: int, deadrun_weight: int,
                      layover_weight: int, short_arc_param: int) -> bytes:
    """Tarsel.ini: a free first line, then five fixed-width labels and values.

    The title may carry names from anywhere: like every text of the system it
    is written in Windows-1252, a character that has no place there as "?"."""
    title = title.replace("\n", " ").replace("\r", " ")[:140]
    return "".join([
        title + "\n",
        "DeadRunMult:      %.2f\n" % dead_run_mult,        # label of 18
        "Minimum Depot: %s\n" % format_clock(min_depot_time),  # label of 15
        "DeadrunWeight: %d\n" % deadrun_weight,            # labels of 14
        "LayoverWeight: %d\n" % layover_weight,
        "ShortArcParam: %d\n" % short_arc_param,
    ]).encode("cp1252", errors="replace")


def check_terminal_name(name: str) -> None:
    if not name or len(name) > TRIP_NAME_WIDTH or not re.fullmatch(r"[!-~]+", name):
        raise ValueError("terminal name %r: 1 to 8 printable characters without blanks" % name)


def format_matrix_section(names: Sequence[str], matrix: Sequence[Sequence[int]],
                          layout: MatrixLayout = MatrixLayout()) -> bytes:
    """Teste.mvm: the dead-run section, ending right after the last value.

    The trip file's readers skip the rest of the last matrix line and two more
    lines before the trips; the writer supplies them as "\\n\\n" and the
    "[TRIP]" line, so nothing may follow the last value here.
    """
    count = len(names)
    if len(matrix) != count or any(len(row) != count for row in matrix):
        raise ValueError("the dead-run matrix must be %d x %d" % (count, count))
    for name in names:
        check_terminal_name(name)
    if len(layout.count_label) != len(COUNT_LABEL):
        raise ValueError("the count label must have %d characters" % len(COUNT_LABEL))
    lines = list(layout.preamble) + [MATRIX_TAG, layout.count_label + str(count), layout.note]
    if layout.aligned:
        width = max([TRIP_NAME_WIDTH] + [len(format_matrix_entry(v)) for row in matrix for v in row])
        label_width, entry_width = width, width
        lines.append(" " * width + "".join(" %*s" % (width, name) for name in names))
    else:
        label_width, entry_width = max(len(name) for name in names), 4
        lines.append(" ".join(names))
    for name, row in zip(names, matrix):
        lines.append("%-*s" % (label_width, name)
                     + "".join(" %*s" % (entry_width, format_matrix_entry(v)) for v in row))
    return "\n".join(lines).rstrip(" ").encode("latin-1")


def format_trip_line(position: int, trip: TripRow) -> str:
    """One trip line, without its leading line break; position counts from 0."""
    check_terminal_name(trip.origin)
    check_terminal_name(trip.destination)
    return "%s%-4d = %s, %-8s     | %s, %-8s     | %.2f \t%d\t%d" % (
        "Trip", position, format_hhmm(trip.departure), trip.origin,
        format_hhmm(trip.arrival), trip.destination, trip.group_key,
        trip.aux_value, trip.min_layover)


def format_trip_file(template: bytes, trips: Sequence[TripRow], header_value: int,
                     stamp: Optional[str] = None) -> bytes:
    """The whole trip file, as bytes: header, template, "[TRIP]", trips, totals.

    `trips` must already stand in the order of departure; `template` is the
    content of Teste.mvm.  `stamp` is the text of the second header line, of
    which 19 characters are kept (the local time's asctime by default).
    """
    stamp = time.asctime() if stamp is None else stamp
    operation = sum(t.arrival - t.departure for t in trips)
    head = (TRIP_FILE_TITLE + "# %.19s\n\n" % stamp).encode("latin-1") + template + b"\n\n"
    body = ["[TRIP] %d" % header_value]
    body.extend("\n" + format_trip_line(i, trip) for i, trip in enumerate(trips))
    body.append("\n" + "-" * 59 + "\n")
    body.append("Total de viagens: %d\n" % len(trips))
    body.append(OPERATION_LINE % split_minutes(operation))
    return head + "".join(body).encode("latin-1")


def format_groups(link_cost: int, groups: Sequence[LinkGroup]) -> bytes:
    """Tarsel.prr: a free line, the link cost, three lines per group, an end line."""
    lines = ["Grupos de preferencia de ligacao", "Link Cost: %d" % link_cost]
    for group in groups:
        # The reader takes exactly one character after each value and ends
        # the list at a line end, so neither a second blank nor a trailing
        # blank may stand on these lines.  Labels: 7, 10 and 12 characters.
        lines.append("Group =" + " ".join("%d" % m for m in group.members))
        lines.append("From keys: " + " ".join("%.2f" % k for k in group.from_keys))
        lines.append("To keys   : " + " ".join("%.2f" % k for k in group.to_keys))
    lines.append("Fim dos grupos")
    return ("\n".join(lines) + "\n").encode("latin-1")


# ---------------------------------------------------------------- readers

# The solver's white space: ASCII only (the text is decoded byte for byte, so
# a Latin-1 no-break space is a character of a name, as it is there).
_W = "[ \t\n\r\x0b\x0c]"
_INT = re.compile(_W + r"*([+-]?\d++)")
_FLOAT = re.compile(_W + r"*([+-]?(?:\d++(?:\.\d*+)?|\.\d++)(?:[eE][+-]?\d++)?)")
_TOKEN = re.compile(_W + "*([^ \t\n\r\x0b\x0c]+)")
_ENTRY = re.compile(_W + r"*([+-]?\d++)" + _W + "*([^ \t\n\r\x0b\x0c])" + _W + r"*([+-]?\d++)")
NAME_SLOT = 12                # the longest terminal name the solver stores


def _clamped(digits: str) -> int:
    """A number as the solver's 32-bit reader takes it: clamped, not wrapped."""
    return max(-2 ** 31, min(2 ** 31 - 1, int(digits)))


def _leading_int(text: str) -> int:
    """The number at the start of text, up to the first character that is no
    digit; 0 where there is none (the solver's reading of a fixed field)."""
    match = _INT.match(text)
    return _clamped(match.group(1)) if match else 0


def _trip_values(line: str) -> Optional[tuple[float, int, int]]:
    """Line key, aux value and minimum layover from column 54 on, each read up
    to the first character that is no part of it, as the solver does."""
    tail = line[53:]
    key = _FLOAT.match(tail)
    aux = _INT.match(tail, key.end()) if key else None
    layover = _INT.match(tail, aux.end()) if aux else None
    if key is None or aux is None or layover is None:
        return None
    return float(key.group(1)), _clamped(aux.group(1)), _clamped(layover.group(1))


def _skip_line(data: str, position: int) -> int:
    """Position after the next line end (or the end of the text)."""
    end = data.find("\n", position)
    return len(data) if end < 0 else end + 1


def read_text(path: str) -> str:
    """A file of the solver's, decoded byte for byte, with CRLF as LF."""
    with open(path, "rb") as handle:
        return handle.read().decode("latin-1").replace("\r\n", "\n")


def _read_matrix(data: str, position: int, path: str) -> tuple[list[str], list[list[int]], int]:
    """The terminal names and the dead-run rows from just after the section's
    tag line, and where the section ends."""
    # The count stands after a label of 16 characters and one character
    # follows it (the line end, as a rule); the line after that is skipped.
    found = _INT.match(data, min(position + len(COUNT_LABEL), len(data)))
    if found is None or not 0 <= _clamped(found.group(1)) <= MAX_TERMINALS:
        raise FormatError("%s: no terminal count of 0 to %d after %s" % (path, MAX_TERMINALS, MATRIX_TAG))
    count = _clamped(found.group(1))
    position = _skip_line(data, min(found.end() + 1, len(data)))
    names: list[str] = []
    matrix: list[list[int]] = []

    def expect(pattern: Pattern[str], what: str) -> Match[str]:
        nonlocal position
        match = pattern.match(data, position)
        if not match:
            raise FormatError("%s: the dead-run section ends early (%s)" % (path, what))
        position = match.end()
        return match

    for _ in range(count):
        names.append(expect(_TOKEN, "terminal names").group(1))
        if len(names[-1]) > NAME_SLOT:
            raise FormatError("%s: terminal name %s is longer than %d characters" % (path, names[-1], NAME_SLOT))
    for row in range(count):
        expect(_TOKEN, "row label of terminal %d" % row)
        values = []
        for _ in range(count):
            match = expect(_ENTRY, "row of terminal %d" % row)
            values.append(_clamped(match.group(1)) * 60 + _clamped(match.group(3)))
            if abs(values[-1]) > MAX_DEAD_RUN:
                raise FormatError("%s: a dead run of row %d beyond %d minutes" % (path, row + 1, MAX_DEAD_RUN))
        matrix.append(values)
    return names, matrix, position


def _read_trip_lines(lines: list[str], path: str) -> list[TripRow]:
    """The trip lines, up to the first line that is none."""
    trips: list[TripRow] = []
    for line in lines:
        if not line.startswith("T"):
            break
        read = _trip_values(line)
        if read is None or abs(read[2]) > MAX_DEAD_RUN:
            raise FormatError("%s: trip line without key, aux value and layover: %r" % (path, line))
        group_key, aux_value, min_layover = read
        trips.append(TripRow(
            departure=_leading_int(line[11:13]) * 60 + _leading_int(line[13:15]),
            origin=line[17:25].split(" ")[0],
            arrival=_leading_int(line[32:34]) * 60 + _leading_int(line[34:36]),
            destination=line[38:46].split(" ")[0],
            group_key=group_key,
            aux_value=aux_value,
            min_layover=min_layover,
            number=len(trips) + 1))
    if len(trips) > MAX_TRIPS:
        raise FormatError("%s: %d trips, the solver takes at most %d" % (path, len(trips), MAX_TRIPS))
    return trips


def read_trip_file(path: str) -> TripFile:
    """Reads a trip file by the rules and fixed columns the solver uses."""
    data = read_text(path)
    position = 0
    while not data.startswith(MATRIX_TAG, position):
        position = _skip_line(data, position)
        if position >= len(data):
            raise FormatError("%s: no %s line" % (path, MATRIX_TAG))
    names, matrix, position = _read_matrix(data, _skip_line(data, position), path)
    for _ in range(3):
        position = _skip_line(data, position)
    return TripFile(names, matrix, _read_trip_lines(data[position:].split("\n"), path))


def read_parameters(path: str) -> Parameters:
    """The five values of Tarsel.ini, by the solver's label widths."""
    lines = read_text(path).split("\n")
    if len(lines) < 6:
        raise FormatError("%s: fewer than 6 lines" % path)
    depot = re.match(r"\s*(\d+)\S\s*(\d+)", lines[2][15:])
    if not depot:
        raise FormatError("%s: line 3 holds no hh:mm" % path)
    return Parameters(
        dead_run_mult=float(lines[1][18:].split()[0]),
        min_depot_time=int(depot.group(1)) * 60 + int(depot.group(2)),
        deadrun_weight=_leading_int(lines[3][14:]),
        layover_weight=_leading_int(lines[4][14:]),
        short_arc_param=_leading_int(lines[5][14:]))


def read_solution(path: str) -> int:
    """The total cost that the solver leaves in Tarsel.sol."""
    with open(path, "rb") as handle:
        match = re.match(rb"\s*(-?\d+)", handle.read())
    if not match:
        raise FormatError("%s holds no integer" % path)
    return int(match.group(1))


# ---------------------------------------------------------------- output

def _mode_for(path: str, new_mode: int) -> int:
    """The mode path has, or the one something new there gets by the umask."""
    try:
        return stat.S_IMODE(os.stat(path).st_mode)
    except FileNotFoundError:
        umask = os.umask(0)
        os.umask(umask)
        return new_mode & ~umask


def scratch_file(path: str, suffix: str = ".new") -> str:
    """A new empty file beside path, with the mode a new file at path gets
    (or the mode path has): where a whole file is written before it takes
    path's place."""
    directory, name = os.path.split(path)
    handle, scratch = tempfile.mkstemp(prefix="." + name + ".", suffix=suffix, dir=directory or ".")
    os.close(handle)
    os.chmod(scratch, _mode_for(path, 0o666))
    return scratch


def put_folder_in_place(scratch: str, path: str) -> None:
    """A folder written in full beside path (scratch) becomes path, with the
    mode a new folder there gets (or the one path has); a folder at path
    goes only once the new one stands in its place, and stays where the new
    one cannot take it."""
    parent = os.path.dirname(path)
    os.chmod(scratch, _mode_for(path, 0o777))
    old = None
    if os.path.lexists(path):
        old = tempfile.mkdtemp(prefix=".%s.old." % os.path.basename(path), dir=parent or ".")
        os.rename(path, os.path.join(old, "out"))
    try:
        os.rename(scratch, path)
    except BaseException:
        if old is not None:
            os.rename(os.path.join(old, "out"), path)
            shutil.rmtree(old, ignore_errors=True)
        raise
    sync_directory(parent)
    if old is not None:
        shutil.rmtree(old, ignore_errors=True)


def write_synced(path: str, data: bytes, mode: str = "wb") -> None:
    """A file written and flushed to disk."""
    with open(path, mode) as handle:
        handle.write(data)
        handle.flush()
        os.fsync(handle.fileno())


def write_files_whole(files: dict[str, bytes]) -> None:
    """Files put in place together and whole: each is written beside its
    place and flushed to disk, and only when all are complete do they take
    their places; on any failure before that every earlier file is left as
    it was and nothing is left behind.  A path that is a directory is an
    error before anything is written.  What is not a plain file (a device, a
    named pipe) is written in place, never replaced; a link keeps pointing at
    the file it names."""
    targets = {os.path.realpath(path): data for path, data in files.items()}
    for path in targets:
        if os.path.isdir(path):
            raise IsADirectoryError(errno.EISDIR, "is a directory, not a file: move it away", path)
    in_place = {p: d for p, d in targets.items() if os.path.exists(p) and not os.path.isfile(p)}
    scratches: dict[str, str] = {}
    try:
        for path, data in targets.items():
            if path in in_place:
                continue
            scratches[path] = scratch_file(path)
            write_synced(scratches[path], data)
        for path, scratch in list(scratches.items()):
            os.replace(scratch, path)
            del scratches[path]
    except BaseException:
        for scratch in scratches.values():
            if os.path.lexists(scratch):
                os.remove(scratch)
        raise
    for directory in {os.path.dirname(p) for p in targets if p not in in_place}:
        sync_directory(directory)
    for path, data in in_place.items():
        with open(path, "wb") as handle:
            handle.write(data)


def sync_directory(directory: str) -> None:
    """The renames made durable; a file system that cannot sync a directory
    has nothing to lose by it."""
    try:
        handle = os.open(directory or ".", os.O_RDONLY)
    except OSError:
        return
    try:
        os.fsync(handle)
    except OSError:
        pass
    finally:
        os.close(handle)


def write_whole(path: str, text: str) -> None:
    """A UTF-8 text file put in place whole (see write_files_whole)."""
    write_files_whole({path: text.encode("utf-8")})


def write_stdout(text: str) -> bool:
    """Writes to the standard output; a reader that stops early (head, a
    closed pager) ends the writing quietly.  False when it did.  The text goes
    out in UTF-8 whatever the locale, as it does to a file.  Any other failure
    (a full disk, a closed output) raises OSError."""
    if sys.stdout is None:
        raise OSError(errno.EBADF, "closed")
    if hasattr(sys.stdout, "reconfigure"):
        sys.stdout.reconfigure(encoding="utf-8")
    try:
        sys.stdout.write(text)
        sys.stdout.flush()
        return True
    except BrokenPipeError:
        # Python would report the failed flush again at exit.
        silence_stdout()
        return False
    except (OSError, ValueError) as error:
        silence_stdout()
        raise OSError(getattr(error, "errno", None) or errno.EIO,
                      getattr(error, "strerror", None) or str(error)) from None


def silence_stdout() -> None:
    """What remains in the standard output's buffer goes nowhere, so that
    the flush at exit cannot fail a second time."""
    try:
        devnull = os.open(os.devnull, os.O_WRONLY)
        os.dup2(devnull, sys.stdout.fileno())
        os.close(devnull)
    except (OSError, ValueError, AttributeError):
        pass


def write_output(program: str, output: Optional[str], default: str, text: str) -> Optional[str]:
    """A command's whole output: to the standard output where output is "-",
    else put in place whole at output (default where None).  The path written,
    "-", or None after a message on standard error."""
    if output == "-":
        try:
            write_stdout(text)
        except OSError as error:
            print("%s: standard output: %s" % (program, error.strerror or error), file=sys.stderr)
            return None
        return output
    path = output or default
    try:
        write_whole(path, text)
    except OSError as error:
        print("%s: %s: %s" % (program, path, error.strerror or error), file=sys.stderr)
        return None
    return path
