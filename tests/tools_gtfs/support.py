"""Shared by the tests of the feed import and the block tools: where the tools,
the solver and the real feeds are, a small feed writer, and a solver run."""

import csv
import os
import subprocess
import sys
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.normpath(os.path.join(HERE, "..", ".."))
TOOLS = os.path.join(REPO, "tools")
# The tests import the package the commands run.
sys.path.insert(0, TOOLS)


def run_tool(name, *args):
    return subprocess.run([sys.executable, os.path.join(TOOLS, name)] + [str(a) for a in args],
                          capture_output=True, text=True, timeout=300)


def gtfs_dir():
    """The folder of the real feeds, or None."""
    for candidate in (os.environ.get("TARSEL_GTFS_DIR"),
                      os.path.join(REPO, "..", "shared", "data", "gtfs"),
                      "/work/shared/data/gtfs"):
        if candidate and os.path.isdir(candidate):
            return os.path.normpath(candidate)
    return None


def tovarin():
    """The solver binary, or None."""
    for candidate in (os.environ.get("TOVARIN"), os.path.join(REPO, "build", "bin", "Tovarin")):
        if candidate and os.path.isfile(candidate) and os.access(candidate, os.X_OK):
            return candidate
    return None


def require_tovarin():
    path = tovarin()
    if path is None:
        raise unittest.SkipTest("Tovarin not built (set TOVARIN to its path)")
    return path


def solve(directory):
    """Runs the solver in a problem directory; returns the completed process."""
    return subprocess.run([require_tovarin()], cwd=directory, stdin=subprocess.DEVNULL,
                          capture_output=True, timeout=600)


def write_file(path, data):
    """Bytes as they are, text as UTF-8 with its line ends as given."""
    with open(path, "wb") as handle:
        handle.write(data.encode("utf-8") if isinstance(data, str) else data)


def read_file(path):
    with open(path, "rb") as handle:
        return handle.read()


def write_feed(directory, tables, bom=()):
    """Writes GTFS tables given as {file name: [header, row, ...]}; files named
    in `bom` start with a byte-order mark."""
    os.makedirs(directory, exist_ok=True)
    for name, rows in tables.items():
        with open(os.path.join(directory, name), "w", encoding="utf-8-sig" if name in bom else "utf-8",
                  newline="") as handle:
            csv.writer(handle, lineterminator="\r\n").writerows(rows)


def simple_feed(directory, stops, trips, service="WK"):
    """A feed from stops [(id, name, lat, lon)] and trips
    [(trip_id, route short name, [(stop_id, "hh:mm:ss"), ...])]."""
    routes = sorted({t[1] for t in trips})
    stop_times = [["trip_id", "arrival_time", "departure_time", "stop_id", "stop_sequence"]]
    for trip_id, _, calls in trips:
        for sequence, (stop, clock) in enumerate(calls, 1):
            stop_times.append([trip_id, clock, clock, stop, sequence])
    write_feed(directory, {
        "stops.txt": [["stop_id", "stop_name", "stop_lat", "stop_lon"]] + [list(s) for s in stops],
        "routes.txt": [["route_id", "route_short_name", "route_type"]] + [["R" + r, r, 3] for r in routes],
        "trips.txt": [["route_id", "service_id", "trip_id"]] + [["R" + t[1], service, t[0]] for t in trips],
        "stop_times.txt": stop_times,
    })


def run_in_process(module, *args):
    """A command run inside the test process through the frame its script
    uses (much faster than a process per case): (status, stdout, stderr)."""
    import contextlib
    import io
    from tarsel.command import guarded
    out, err = io.StringIO(), io.StringIO()
    with contextlib.redirect_stdout(out), contextlib.redirect_stderr(err):
        try:
            status = guarded(module.__name__.rsplit(".", 1)[-1], lambda: module.main([str(a) for a in args]))
        except SystemExit as done:
            status = done.code
    return status, out.getvalue(), err.getvalue()


def mode(path):
    return os.stat(path).st_mode & 0o777


def new_mode(full):
    """The mode a new file (0o666) or folder (0o777) gets by the umask."""
    umask = os.umask(0)
    os.umask(umask)
    return full & ~umask


def snapshot(directory, folders=False):
    """Every file under directory (hidden ones included) and its bytes; with
    folders, every folder too (as None)."""
    files = {}
    for root, subfolders, names in os.walk(directory):
        if folders:
            files.update({os.path.relpath(os.path.join(root, n), directory): None for n in subfolders})
        for name in names:
            path = os.path.join(root, name)
            files[os.path.relpath(path, directory)] = read_file(path)
    return files


def check_end(test, ran, status, text, directory=None, before=None):
    """A command's end as a damage table expects it: the status; for a
    refusal one line on stderr holding text and the directory as it was;
    never a fault of the command itself."""
    got, _, err = ran
    test.assertNotIn("internal error", err)
    test.assertNotIn("Traceback", err)
    test.assertEqual(got, status, err)
    test.assertIn(text, err)
    if status == 1:
        test.assertEqual(len(err.strip().split("\n")), 1, err)
        if directory is not None:
            test.assertEqual(snapshot(directory), before)
