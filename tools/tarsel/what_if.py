"""what_if: what the rules cost, one scenario per row of one table.

    what_if FEED OUT [--service ID | --date YYYYMMDD] [import options]
            [--shifts 3,5 --shift-seconds S] [--jobs N]

A scenario is a layover rule (learned, fixed-0, fixed-5, fixed-10, share-10),
an interlining (free, none; or operator, with --interlinings) and, with --shifts, a timetable window (0, and
each M given: departures moved by at most M minutes by shift_search).  Each
scenario is its own import (gtfs_import with the scenario's options and the
import options given), its own solve and, for a window, its own shift_search
run, in a folder of its own; N scenarios run at a time.  OUT gets
what_if.csv, what_if.html (the table and a chart of the vehicles) and the
scenarios' problem folders with the solver's files, which tools/report
opens.  In a window's folder Tarsel.bss is the timetable shift_search found
(the imported one is kept as Tarsel_read.bss) and the solver's files are
that timetable's.  A scenario that fails is a row with its reason; the exit
code is 1 only where no scenario was solved.  OUT is put in place whole,
once every scenario has ended: a new folder, or the folder of an earlier
what_if, which it replaces.
"""

from __future__ import annotations

import argparse
import concurrent.futures
import csv
import io
import json
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time
from dataclasses import dataclass, field
from types import FrameType
from typing import Callable, Optional, Sequence

from . import files as tf
from . import gtfs_import, report
from .errors import TarselError
from .feed_problem import Options
from .files import FormatError
from .search_files import BEST_FILE, check_set_whole
from .solved import Solved, read_legend
from .what_if_page import format_page

RULES = {
    "learned": ["--layovers", "learned"],
    "fixed-0": ["--layovers", "fixed", "--min-layover", "0"],
    "fixed-5": ["--layovers", "fixed", "--min-layover", "5"],
    "fixed-10": ["--layovers", "fixed", "--min-layover", "10"],
    "share-10": ["--layover-share", "10"],
}
INTERLININGS = ("free", "none", "operator")
DEFAULT_INTERLININGS = ["free", "none"]
# Import options that the scenarios set, as gtfs_import's Options name them.
SCENARIO_OPTIONS = ("min_layover", "layovers", "layover_share", "interlining")
COLUMNS = ["rule", "interlining", "max_shift", "vehicles", "bound_vehicles", "total_cost",
           "dead_run_minutes", "waiting_minutes", "interlinings", "seconds", "reason"]
TOOLS = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


@dataclass(frozen=True)
class Scenario:
    rule: str
    interlining: str
    max_shift: int = 0

    @property
    def folder(self) -> str:
        return "%s-%s%s" % (self.rule, self.interlining, "-shift%d" % self.max_shift if self.max_shift else "")


@dataclass
class Row:
    scenario: Scenario
    vehicles: Optional[int] = None
    bound_vehicles: Optional[int] = None
    total_cost: Optional[int] = None
    dead_run_minutes: Optional[int] = None
    waiting_minutes: Optional[int] = None
    interlinings: Optional[int] = None
    seconds: float = 0.0
    reason: str = ""

    def cells(self) -> list[object]:
        s = self.scenario
        figures = [self.vehicles, self.bound_vehicles, self.total_cost, self.dead_run_minutes,
                   self.waiting_minutes, self.interlinings]
        return ([s.rule, s.interlining, s.max_shift] + ["" if v is None else v for v in figures]
                + ["%.1f" % self.seconds, self.reason])


@dataclass
class Setup:
    """What every scenario shares."""

    feed: str
    scratch: str
    import_options: list[str]
    tovarin: str
    shift_search: list[str]      # the program and the options every run of it takes
    shift_seconds: int
    env: dict[str, str] = field(default_factory=dict)
    running: set[subprocess.Popen[bytes]] = field(default_factory=set)
    lock: threading.Lock = field(default_factory=threading.Lock)
    stopping: bool = False


class ScenarioFailed(TarselError):
    """A step of a scenario that did not end well; the text is the row's reason."""


def find_program(name: str, variable: str) -> Optional[str]:
    """The program named by the environment variable, else the one beside the
    tools (an installed bin/) or in the build beside them, else on the search path."""
    for candidate in (os.environ.get(variable), os.path.join(TOOLS, name),
                      os.path.join(TOOLS, "..", "build", "bin", name)):
        if candidate and os.path.isfile(candidate) and os.access(candidate, os.X_OK):
            return os.path.abspath(candidate)
    return shutil.which(name)


def last_line(*texts: bytes) -> str:
    for text in texts:
        lines = [line.strip() for line in text.decode("utf-8", errors="replace").splitlines() if line.strip()]
        if lines:
            return lines[-1]
    return ""


def run_step(setup: Setup, what: str, command: list[str], cwd: Optional[str], log: list[str],
             timeout: float) -> bytes:
    """Runs one process of a scenario; its standard output, or ScenarioFailed."""
    with setup.lock:
        if setup.stopping:
            raise ScenarioFailed("stopped")
        try:
            process = subprocess.Popen(command, cwd=cwd, env=setup.env or None, stdin=subprocess.DEVNULL,
                                       stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        except OSError as error:
            raise ScenarioFailed("%s: %s" % (what, error.strerror or error)) from None
        setup.running.add(process)
    try:
        out, err = process.communicate(timeout=timeout)
    except subprocess.TimeoutExpired:
        process.kill()
        out, err = process.communicate()
        raise ScenarioFailed("%s: no end after %d s" % (what, timeout)) from None
    finally:
        with setup.lock:
            setup.running.discard(process)
    log.append("$ %s\n%s%s" % (" ".join(command), out.decode("utf-8", errors="replace"),
                               err.decode("utf-8", errors="replace")))
    if process.returncode != 0:
        line = last_line(err, out) or "exit code %d" % process.returncode
        raise ScenarioFailed(line if line.startswith(what + ":") else "%s: %s" % (what, line))
    return out


def read_figures(row: Row, folder: str) -> None:
    try:
        solved = Solved(folder)
        figures = report.figures(solved)
    except (OSError, FormatError) as error:
        raise ScenarioFailed("the solver's files cannot be read: %s" % error) from None
    row.vehicles = figures.vehicles
    row.total_cost = figures.total_cost
    row.dead_run_minutes = figures.dead_run
    row.waiting_minutes = figures.layover
    row.interlinings = solved.interlinings


def shift_timetable(setup: Setup, row: Row, folder: str, log: list[str]) -> None:
    """shift_search with the scenario's window; its timetable becomes the one solved."""
    out = run_step(setup, "shift_search", setup.shift_search + [folder, "--max-shift", str(row.scenario.max_shift),
                                                                "--seconds", str(setup.shift_seconds)],
                   None, log, setup.shift_seconds + 600)
    try:
        result = json.loads(last_line(out))
    except ValueError:
        raise ScenarioFailed("shift_search: no JSON line at the end of its output") from None
    bound = result.get("bound_vehicles") if isinstance(result, dict) else None
    row.bound_vehicles = bound if isinstance(bound, int) else None
    try:
        check_set_whole(folder)
    except TarselError as error:
        raise ScenarioFailed(str(error)) from None
    os.replace(os.path.join(folder, "Tarsel.bss"), os.path.join(folder, "Tarsel_read.bss"))
    shutil.copyfile(os.path.join(folder, BEST_FILE), os.path.join(folder, "Tarsel.bss"))


def run_scenario(setup: Setup, scenario: Scenario) -> Row:
    row = Row(scenario)
    folder = os.path.join(setup.scratch, scenario.folder)
    log: list[str] = []
    start = time.monotonic()
    try:
        run_step(setup, "gtfs_import", [sys.executable, os.path.join(TOOLS, "gtfs_import"), setup.feed, folder]
                 + setup.import_options + RULES[scenario.rule] + ["--interlining", scenario.interlining],
                 None, log, 900)
        if scenario.max_shift:
            shift_timetable(setup, row, folder, log)
        run_step(setup, "Tovarin", [setup.tovarin], folder, log, 900)
        read_figures(row, folder)
    except ScenarioFailed as error:
        row.reason = str(error)
    except OSError as error:
        row.reason = "%s: %s" % (getattr(error, "filename", "") or folder, error.strerror or error)
    row.seconds = time.monotonic() - start
    if os.path.isdir(folder):
        try:
            with open(os.path.join(folder, "what_if.log"), "w", encoding="utf-8") as handle:
                handle.write("\n".join(log))
        except OSError:
            pass
    return row


def run_all(setup: Setup, scenarios: Sequence[Scenario], jobs: int) -> list[Row]:
    """Every scenario, `jobs` at a time, the longest first; rows in the order given."""
    rows: dict[Scenario, Row] = {}
    pool = concurrent.futures.ThreadPoolExecutor(max_workers=jobs)
    try:
        futures = {pool.submit(run_scenario, setup, s): s
                   for s in sorted(scenarios, key=lambda s: -s.max_shift)}
        for future in concurrent.futures.as_completed(futures):
            row = future.result()
            rows[futures[future]] = row
            print("what_if: %s: %s (%.1f s)" % (row.scenario.folder, row.reason or "%s vehicles" % row.vehicles,
                                               row.seconds), file=sys.stderr)
    except BaseException:
        # The processes under way end now, none starts after them.
        stop_children(setup)
        pool.shutdown(wait=True, cancel_futures=True)
        raise
    pool.shutdown()
    return [rows[s] for s in scenarios]


def format_table(rows: Sequence[Row]) -> bytes:
    text = io.StringIO(newline="")
    writer = csv.writer(text, lineterminator="\n")
    writer.writerow(COLUMNS)
    writer.writerows(row.cells() for row in rows)
    return text.getvalue().encode("utf-8")


# ---------------------------------------------------------------- command line

def window_list(text: str) -> list[int]:
    try:
        values = [int(v) for v in text.split(",") if v.strip()]
    except ValueError:
        raise argparse.ArgumentTypeError("expected minutes separated by commas, got %r" % text) from None
    if not values or any(not 1 <= v <= 60 for v in values):
        raise argparse.ArgumentTypeError("windows of 1 to 60 minutes, got %r" % text)
    return sorted(set(values))


def choice_list(choices: Sequence[str]) -> Callable[[str], list[str]]:
    def parse(text: str) -> list[str]:
        values = [v.strip() for v in text.split(",") if v.strip()]
        wrong = [v for v in values if v not in choices]
        if wrong or not values:
            raise argparse.ArgumentTypeError("%r: choose from %s" % (text, ", ".join(choices)))
        return [c for c in choices if c in values]
    return parse


def parse_args(argv: Sequence[str]) -> tuple[argparse.Namespace, list[str]]:
    parser = argparse.ArgumentParser(prog="what_if", description=(__doc__ or "").split("\n")[0], allow_abbrev=False,
                                     epilog="Any other option goes to every import (see gtfs_import --help); "
                                            "the layover rule and the interlining are the scenarios'.")
    parser.add_argument("feed", help="GTFS feed: its directory or zip file")
    parser.add_argument("out", help="folder to write: new, empty, or an earlier what_if's")
    parser.add_argument("--rules", type=choice_list(list(RULES)), default=list(RULES), metavar="LIST",
                        help="layover rules, comma separated (default: %s)" % ",".join(RULES))
    parser.add_argument("--interlinings", type=choice_list(INTERLININGS), default=DEFAULT_INTERLININGS,
                        metavar="LIST", help="interlinings, comma separated: %s (default: %s)"
                                             % (", ".join(INTERLININGS), ",".join(DEFAULT_INTERLININGS)))
    parser.add_argument("--shifts", type=window_list, default=[], metavar="M,...",
                        help="timetable windows in minutes: shift_search besides the timetable as it is")
    parser.add_argument("--shift-seconds", type=int, default=60, metavar="S",
                        help="shift_search's time budget per scenario (default 60)")
    parser.add_argument("--jobs", type=int, default=os.cpu_count() or 1, metavar="N",
                        help="scenarios at a time (default: the machine's cores)")
    args, rest = parser.parse_known_args(argv)
    if args.jobs < 1 or args.shift_seconds < 1:
        parser.error("--jobs and --shift-seconds must be at least 1")
    options = gtfs_import.parse_args([args.feed, args.out] + rest)
    defaults = Options(args.feed, args.out)
    if any(getattr(options, name) != getattr(defaults, name) for name in SCENARIO_OPTIONS if hasattr(defaults, name)):
        parser.error("--min-layover, --layovers, --layover-share and --interlining are set by each scenario "
                     "(--rules and --interlinings choose the scenarios)")
    return args, rest


def check_out(out: str) -> Optional[str]:
    """Why OUT cannot be written, or None."""
    if os.path.lexists(out) and not os.path.isdir(out):
        return "%s: not a folder" % out
    if os.path.isdir(out) and os.listdir(out) and not os.path.isfile(os.path.join(out, "what_if.csv")):
        return "%s: a folder that holds other files than an earlier what_if's: choose a new one" % out
    return None


def stop_children(setup: Setup) -> None:
    with setup.lock:
        setup.stopping = True
        for process in setup.running:
            process.terminate()


def shift_command(program: Optional[str], jobs: int) -> list[str]:
    """shift_search and, where it searches on several threads, its share of
    the cores: the scenarios run side by side already."""
    if program is None:
        return []
    try:
        usage = subprocess.run([program, "--help"], capture_output=True, timeout=60).stdout
    except (OSError, subprocess.TimeoutExpired):
        return [program]
    share = max(1, (os.cpu_count() or 1) // jobs)
    return [program, "--threads", str(share)] if b"--threads" in usage else [program]


def caption(scratch: str, rows: Sequence[Row]) -> Optional[str]:
    """The feed's name and service day, as an import of a solved scenario gives them."""
    for row in rows:
        if not row.reason:
            legend = read_legend(os.path.join(scratch, row.scenario.folder))
            day = ("date %s" % legend.service_date if legend.service_date else
                   "service %s" % legend.service_ids if legend.service_ids else "")
            return ", ".join(part for part in (legend.feed_name, day) if part) or None
    return None


def main(argv: Optional[Sequence[str]] = None) -> int:
    args, rest = parse_args(sys.argv[1:] if argv is None else argv)
    out = os.path.abspath(args.out)
    tovarin, shift_search = find_program("Tovarin", "TOVARIN"), find_program("shift_search", "SHIFT_SEARCH")
    problem = check_out(out)
    if tovarin is None or (shift_search is None and args.shifts):
        problem = "%s not found: build it, or name it in %s" % (
            ("Tovarin", "TOVARIN") if tovarin is None else ("shift_search", "SHIFT_SEARCH"))
    if problem:
        print("what_if: %s" % problem, file=sys.stderr)
        return 1
    scenarios = [Scenario(rule, interlining, window) for rule in args.rules for interlining in args.interlinings
                 for window in [0] + args.shifts]
    try:
        scratch = tempfile.mkdtemp(prefix=".what_if-", dir=os.path.dirname(out))
    except OSError as error:
        print("what_if: %s: %s" % (os.path.dirname(out), error.strerror or error), file=sys.stderr)
        return 1
    setup = Setup(os.path.abspath(args.feed), scratch, rest, tovarin or "",
                  shift_command(shift_search, args.jobs) if args.shifts else [], args.shift_seconds)
    # shift_search runs the Tovarin beside it, else the first on the search
    # path: this one, where none stands beside it.
    setup.env = dict(os.environ, PATH=os.pathsep.join([os.path.dirname(setup.tovarin), os.environ.get("PATH", "")]))

    def on_signal(number: int, frame: Optional[FrameType]) -> None:
        raise KeyboardInterrupt
    signal.signal(signal.SIGTERM, on_signal)
    try:
        rows = run_all(setup, scenarios, args.jobs)
        tf.write_files_whole({
            os.path.join(scratch, "what_if.csv"): format_table(rows),
            os.path.join(scratch, "what_if.html"):
                format_page(rows, COLUMNS, args.feed, caption(scratch, rows), rest).encode("utf-8")})
        tf.put_folder_in_place(scratch, out)
    except KeyboardInterrupt:
        stop_children(setup)
        shutil.rmtree(scratch, ignore_errors=True)
        print("what_if: stopped; %s left as it was" % out, file=sys.stderr)
        return 1
    except OSError as error:
        shutil.rmtree(scratch, ignore_errors=True)
        print("what_if: %s: %s" % (out, error.strerror or error), file=sys.stderr)
        return 1
    solved = sum(1 for row in rows if not row.reason)
    print("%s: %d scenarios, %d solved" % (os.path.join(args.out, "what_if.csv"), len(rows), solved))
    return 0 if solved else 1
