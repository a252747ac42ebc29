"""The frame every command runs in: whatever goes wrong ends as one line on
the standard error and an exit status, never as a traceback.  Usage errors
keep argparse's status 2; what the command refuses (the package's errors),
a failure of the system (a file that cannot be read, a full disk) and a
fault of the command itself give 1.  Here too: the command line of the
commands that draw the block chart (block_chart, report)."""

from __future__ import annotations

import argparse
import sys
from typing import Callable, Optional, Sequence

from .errors import TarselError
from .files import silence_stdout
from .solved import BLOCK_FILE

INTERNAL = "internal error"     # what a fault of the command itself is called; tests look for it


def _flush_stdout(program: str) -> int:
    """0, or 1 after a message where the standard output took no more."""
    if sys.stdout is None:
        return 0
    try:
        sys.stdout.flush()
    except BrokenPipeError:
        silence_stdout()
    except (OSError, ValueError) as error:
        silence_stdout()
        print("%s: standard output: %s" % (program, getattr(error, "strerror", None) or error), file=sys.stderr)
        return 1
    return 0


def guarded(program: str, main: Callable[[], int]) -> int:
    """main's exit status; an exception it lets through becomes one line."""
    try:
        status = main()
    except KeyboardInterrupt:
        print("%s: interrupted" % program, file=sys.stderr)
        return 130
    except TarselError as error:
        print("%s: %s" % (program, " ".join(str(error).splitlines())), file=sys.stderr)
        _flush_stdout(program)
        return 1
    except OSError as error:
        where = "%s: " % error.filename if error.filename else ""
        print("%s: %s%s" % (program, where, error.strerror or error), file=sys.stderr)
        _flush_stdout(program)
        return 1
    except Exception as error:   # noqa: BLE001 - the last resort: nothing may escape as a traceback
        text = " ".join(str(error).split())[:300]
        print("%s: %s: %s%s: please report it with the command line that gave it"
              % (program, INTERNAL, type(error).__name__, ": " + text if text else ""), file=sys.stderr)
        _flush_stdout(program)
        return 1
    return _flush_stdout(program) or status


def add_blocks_option(parser: argparse.ArgumentParser) -> None:
    """--blocks: which block file of the directory a result tool reads."""
    parser.add_argument("--blocks", default=BLOCK_FILE, metavar="NAME",
                        help="the block file in PROBLEM_DIR (default %s; Tarsel_operator.bla: the operator's "
                             "blocks that operator_blocks wrote)" % BLOCK_FILE)


def chart_arguments(program: str, doc: Optional[str], output: str,
                    argv: Optional[Sequence[str]]) -> argparse.Namespace:
    """The command line of a command that draws the chart: directory, -o, --scale."""
    parser = argparse.ArgumentParser(prog=program, description=(doc or "").split("\n")[0])
    parser.add_argument("directory", nargs="?", default=".", help="solved problem directory")
    parser.add_argument("-o", "--output", help="%s, - for the standard output (default PROBLEM_DIR/%s)"
                                               % (output, DEFAULT_OUTPUT[program]))
    parser.add_argument("--scale", type=float, default=1.2,
                        help="pixels per minute of the chart, above 0 and at most %g (default 1.2)" % MAX_SCALE)
    if program == "block_chart":
        add_blocks_option(parser)
    args = parser.parse_args(sys.argv[1:] if argv is None else argv)
    if not 0 < args.scale <= MAX_SCALE:
        parser.error("--scale must be a number above 0 and at most %g" % MAX_SCALE)
    return args


MAX_SCALE = 100.0   # pixels per minute: a day is then 144000 pixels wide


DEFAULT_OUTPUT = {"block_chart": "Tarsel_blocks.svg", "report": "Tarsel_report.html"}
