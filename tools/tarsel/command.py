"""The frame every command runs in: whatever goes wrong ends as one line on
the standard error and an exit status, never as a traceback.  Usage errors
keep argparse's status 2; what the command refuses (the package's errors),
a failure of the system (a file that cannot be read, a full disk) and a
fault of the command itself give 1."""

from __future__ import annotations

import sys
from typing import Callable

from .errors import TarselError
from .files import silence_stdout

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
