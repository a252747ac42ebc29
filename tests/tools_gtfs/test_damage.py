"""Damaged inputs as a user may meet them: a table of the damages of a feed
known to have hurt gtfs_import, and generated damage (files cut, bytes
changed, quotes, odd numbers, lines doubled) of a small feed through
gtfs_import and of a solved directory through block_chart, blocks_csv and
report.  Every case must end with exit 0 and readable results, or with exit
1, one line on standard error and the directory as it was; never with a
fault of the tool.

A case that fails is kept in crashers/ as a zip of the damaged folder: commit
it with the fix, and every later run replays it.  TARSEL_FUZZ_CASES sets the
number of cases per run (and TARSEL_FUZZ_SEED the first seed)."""

import csv
import hashlib
import io
import os
import random
import shutil
import subprocess
import tempfile
import unittest
import xml.etree.ElementTree as ET
import zipfile

import support
from tarsel import block_chart, blocks_csv, report
from tarsel import files as tf
from tarsel import gtfs_import as gi
from test_block_tools import write_solved
from test_gtfs_import import FEED

CRASHERS = os.path.join(support.HERE, "crashers")
CASES = int(os.environ.get("TARSEL_FUZZ_CASES", "150"))
SEED = int(os.environ.get("TARSEL_FUZZ_SEED", "1"))
TOOLS = {"block_chart": block_chart, "blocks_csv": blocks_csv, "report": report}
ODD = [b'"', b",", b"\r\n", b"\n", b"\r", b"\x00", b"\xff", b"\xe9", b"nan", b"inf", b"-1", b"1.0", b"0,0",
       b"99999999999999999999", b"1e309", b"", b" ", b"\x01", b"24:61:00", b"4501.0"]


def damage(rng, data):
    """data with one damage a copy, an editor or a cut download may do."""
    lines = data.split(b"\n")
    kind = rng.randrange(7)
    at = rng.randrange(len(data) + 1)
    if kind == 0:                                   # cut
        return data[:at]
    if kind == 1:                                   # a byte changed
        return data[:at] + bytes([rng.randrange(256)]) + data[at + 1:]
    if kind == 2:                                   # something odd put in
        return data[:at] + rng.choice(ODD) + data[at:]
    if kind == 3:                                   # a stretch taken out
        return data[:at] + data[at + rng.randrange(1, 40):]
    if kind == 4 and len(lines) > 1:                # a line twice
        i = rng.randrange(len(lines))
        return b"\n".join(lines[:i + 1] + lines[i:])
    if kind == 5:                                   # a field's value replaced
        fields = data.split(b",")
        i = rng.randrange(len(fields))
        fields[i] = rng.choice(ODD) + (b"\r\n" + fields[i].split(b"\r\n", 1)[1] if b"\r\n" in fields[i] else b"")
        return b",".join(fields)
    i, j = rng.randrange(len(lines)), rng.randrange(len(lines))  # two lines swapped
    lines[i], lines[j] = lines[j], lines[i]
    return b"\n".join(lines)


def spoil_folder(rng, folder, names):
    for _ in range(rng.randint(1, 3)):
        path = os.path.join(folder, rng.choice(names))
        data = support.read_file(path)
        support.write_file(path, damage(rng, data))


def keep(kind, folder):
    """The damaged folder as crashers/kind-HASH.zip; its name."""
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, "w") as archive:
        for name in sorted(os.listdir(folder)):
            archive.write(os.path.join(folder, name), name)
    name = "%s-%s.zip" % (kind, hashlib.sha1(buffer.getvalue()).hexdigest()[:12])
    os.makedirs(CRASHERS, exist_ok=True)
    support.write_file(os.path.join(CRASHERS, name), buffer.getvalue())
    return name


def kept(kind):
    if not os.path.isdir(CRASHERS):
        return []
    return sorted(n for n in os.listdir(CRASHERS) if n.startswith(kind + "-") and n.endswith(".zip"))


def edit(name, old, new):
    """A damage: the first old in the feed file name becomes new."""
    def damage(feed, out):
        path = os.path.join(feed, name)
        data = support.read_file(path)
        assert old in data, (name, old)
        support.write_file(path, data.replace(old, new, 1))
        return feed
    return damage


def cut(name, after):
    """A damage: the feed file name ends a few bytes after the text after."""
    def damage(feed, out):
        path = os.path.join(feed, name)
        data = support.read_file(path)
        support.write_file(path, data[:data.index(after) + len(after) + 4])
        return feed
    return damage


def zipped(change):
    """A damage: the feed as a zip archive, one of its members spoilt."""
    def damage(feed, out):
        archive = feed + ".zip"
        with zipfile.ZipFile(archive, "w", zipfile.ZIP_DEFLATED) as z:
            for name in sorted(os.listdir(feed)):
                info = zipfile.ZipInfo(name)
                data = support.read_file(os.path.join(feed, name))
                z.writestr(info, data, zipfile.ZIP_STORED)
        with open(archive, "r+b") as handle:
            data = handle.read()
            if change == "crc":       # a byte of stops.txt's data
                handle.seek(data.index(b"Central Bay 1"))
                handle.write(b"X")
            else:                     # the flag of encryption, in the central directory
                handle.seek(data.index(b"PK\x01\x02", data.index(b"PK\x01\x02") + 1) + 8)
                handle.write(b"\x01")
        return archive
    return damage


def fifo(feed, out):
    os.mkfifo(feed + ".pipe")
    return feed + ".pipe"


def directory_in_place(feed, out):
    os.remove(os.path.join(out, "legend_lines.csv"))
    os.makedirs(os.path.join(out, "legend_lines.csv"))
    return feed


def results_of_another_problem(feed, out):
    support.write_file(os.path.join(out, "Tarsel.bla"), "#Blocks of trip with number of buses: 1\n")
    # and shift_search's per-count timetable and the commit list of a run it left halfway
    for name in ("Tarsel_shifts_64.csv", "Tarsel_search.commit"):
        support.write_file(os.path.join(out, name), "")
    return edit("stop_times.txt", b"07:50:00,07:50:00", b"07:55:00,07:55:00")(feed, out)


def frequencies(feed, out):
    support.write_file(os.path.join(feed, "frequencies.txt"),
                       b"trip_id,start_time,end_time,headway_secs\r\nt5,07:00:00,09:00:00,900\r\n")
    return feed

# Each row: a damage of the feed (or of the problem directory), the options
# beside --service WK, the exit status and what standard error must say.
# A refusal must leave the directory of a good earlier import as it was.
FEED_DAMAGE = [
    ("quote left open", edit("trips.txt", b"R7,WK,t2", b'R7,"WK,t2'), (), 1, "trips.txt:3: "),
    ("a column twice", edit("trips.txt", b"trip_id,block_id", b"trip_id,trip_id"), (), 1, "column trip_id twice"),
    ("trips.txt cut in half", cut("trips.txt", b"RX"), (), 1, "trips.txt:4: 3 fields where the header has 4"),
    ("trips.txt cut at a line end", edit("trips.txt", b"RX,WK,t5,b2\r\n", b""), (), 1, "'t5' is not in trips.txt"),
    ("duplicate trip_id", edit("trips.txt", b"RX,WK,t3", b"RX,WK,t1"), (), 1, "trip_id t1 is also on line 2"),
    ("byte that is not UTF-8", edit("trips.txt", b"t5", b"t\xff5"), (), 1, "trips.txt:6: byte "),
    ("quote left open in stops", edit("stops.txt", b"Mall East", b'"Mall East'), (), 1, "stops.txt:6: "),
    ("stop_sequence twice", edit("stop_times.txt", b"MID,2", b"MID,3"), (), 1, "stop_sequence 3 of trip t1 comes twice"),
    ("stop_sequence 1.0", edit("stop_times.txt", b"C1,1", b"C1,1.0"), (), 1, "stop_times.txt:3: stop_sequence '1.0' of trip t1"),
    ("stop_times cut mid-trip", cut("stop_times.txt", b"F1,1"), (), 1, "fields where the header has 5"),
    ("stop_lat nan", edit("stops.txt", b"45.0100,-122.0000", b"nan,-122.0000"), (), 1, "stop M1 at nan,"),
    ("stop_lat 4501.0", edit("stops.txt", b"45.1000", b"4501.0"), (), 1, "stop F1 at 4501.0,"),
    ("stop_lat inf", edit("stops.txt", b"45.1000", b"inf"), (), 1, "stop F1 at inf,"),
    ("stop at 0,0", edit("stops.txt", b"45.1000,-122.0000", b"0,0"), (), 1, "stop F1 at 0,0, which stands for"),
    ("calendar without service_id", edit("calendar.txt", b"service_id,monday", b"service,monday"),
     ("--date", "20240102"), 1, "calendar.txt:1: no column service_id"),
    ("the depot an ocean away", None, ("--depot", "0,0", "--speed", "5"), 1, "the solver reads at most 100000"),
    ("--detour nan", None, ("--detour", "nan"), 2, "--detour"),
    ("--speed nan", None, ("--speed", "nan"), 2, "--speed"),
    ("--merge-radius inf", None, ("--merge-radius", "inf"), 2, "--merge-radius"),
    ("a device as the feed", lambda feed, out: "/dev/zero", (), 1, "neither a directory nor a plain file"),
    ("a named pipe as the feed", fifo, (), 1, "neither a directory nor a plain file"),
    ("a zip member's CRC wrong", zipped("crc"), (), 1, "stops.txt is damaged"),
    ("an encrypted zip", zipped("encrypted"), (), 1, "calendar_dates.txt is encrypted"),
    ("an output name taken by a directory", directory_in_place, (), 1, "legend_lines.csv: is a directory"),
    ("results of another problem", results_of_another_problem, (), 0,
     "Tarsel_search.commit, Tarsel.bla, Tarsel_shifts_64.csv of the problem this import"),
    ("a trip run by headway", frequencies, (), 0, "1 trip(s) run by headway stand for 8 runs"),
]


class DamagedFeeds(unittest.TestCase):
    def test_every_damage_ends_as_expected(self):
        for name, damage, options, status, text in FEED_DAMAGE:
            with self.subTest(name), tempfile.TemporaryDirectory() as tmp:
                feed, out = os.path.join(tmp, "feed"), os.path.join(tmp, "out")
                support.write_feed(feed, FEED, bom=("stops.txt", "stop_times.txt", "trips.txt"))
                self.assertEqual(support.run_in_process(gi, feed, out, "--service", "WK")[0], 0)
                path = damage(feed, out) if damage else feed
                before = support.snapshot(out)
                ran = support.run_in_process(gi, path, out, *(options or ("--service", "WK")))
                support.check_end(self, ran, status, text, out, before)
                self.assertFalse(os.path.exists(os.path.join(out, "Tarsel.bla")))


class Fuzz(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.addCleanup(self.tmp.cleanup)
        self.feed = os.path.join(self.tmp.name, "feed")
        support.write_feed(self.feed, FEED, bom=("stops.txt", "stop_times.txt", "trips.txt"))
        self.problem = os.path.join(self.tmp.name, "problem")
        self.assertEqual(support.run_in_process(gi, self.feed, self.problem, "--service", "WK")[0], 0)
        self.solved = os.path.join(self.tmp.name, "solved")
        os.makedirs(self.solved)
        write_solved(self.solved)
        with open(os.path.join(self.solved, "Tarsel_shifts.csv"), "w") as handle:
            handle.write("aux_value,line_key,origin,destination,departure_before,departure_after,shift_minutes\n"
                         "11,101.00,A,B,00:05,00:05,0\n13,102.00,B,A,00:50,00:52,2\n")
        for tool in TOOLS.values():
            self.assertEqual(support.run_in_process(tool, self.solved)[0], 0)

    def check(self, kind, folder, written, run, sound, replay=False):
        """run() ends well on the damaged folder, leaving the folder it writes
        in as it was where it fails; else the case is kept."""
        before = support.snapshot(written)
        status, _, err = run()
        lines = err.strip().split("\n")
        fault = (status not in (0, 1) or "internal error" in err or "Traceback" in err
                 or (status == 1 and (len(lines) != 1 or support.snapshot(written) != before))
                 or (status == 0 and not sound()))
        if fault:
            self.fail("%s (status %s, %s)%s" % (kind, status, err.strip()[:300],
                                                "" if replay else ": kept as " + keep(kind, folder)))

    def import_case(self, feed, options, replay=False):
        out = os.path.join(self.tmp.name, "out")
        shutil.rmtree(out, ignore_errors=True)
        shutil.copytree(self.problem, out)

        def sound():
            trips = tf.read_trip_file(os.path.join(out, "Tarsel.bss")).trips
            with open(os.path.join(out, "legend_trips.csv"), encoding="utf-8", newline="") as handle:
                return len(trips) == len(list(csv.DictReader(handle))) > 0
        # A folder holding feed.zip stands for the archive.
        path = os.path.join(feed, "feed.zip") if os.path.exists(os.path.join(feed, "feed.zip")) else feed
        self.check("import", feed, out, lambda: support.run_in_process(gi, path, out, *options), sound, replay)

    def result_case(self, folder, tool, replay=False):
        outputs = {"block_chart": "Tarsel_blocks.svg", "blocks_csv": "Tarsel_blocks.csv",
                   "report": "Tarsel_report.html"}

        def sound():
            path = os.path.join(folder, outputs[tool])
            if tool == "block_chart":
                ET.parse(path)
            return os.path.getsize(path) > 0
        self.check("results-" + tool, folder, folder, lambda: support.run_in_process(TOOLS[tool], folder), sound,
                   replay)

    def test_import_of_damaged_feeds(self):
        names = sorted(os.listdir(self.feed))
        for case in range(SEED, SEED + CASES):
            rng = random.Random(case)
            feed = os.path.join(self.tmp.name, "damaged")
            shutil.rmtree(feed, ignore_errors=True)
            shutil.copytree(self.feed, feed)
            spoil_folder(rng, feed, names)
            if rng.random() < 0.25:     # the feed as a zip, the archive damaged too
                with zipfile.ZipFile(os.path.join(self.tmp.name, "feed.zip"), "w", zipfile.ZIP_DEFLATED) as archive:
                    for name in names:
                        archive.write(os.path.join(feed, name), name)
                shutil.rmtree(feed)
                os.makedirs(feed)
                spoil_folder(rng, self.tmp.name, ["feed.zip"])
                shutil.move(os.path.join(self.tmp.name, "feed.zip"), feed)
            with self.subTest(case=case):
                self.import_case(feed, rng.choice([("--service", "WK"), (), ("--date", "20240704")]))

    def test_result_tools_on_damaged_results(self):
        names = ["Tarsel.bla", "Tarsel.bss", "Tarsel.ini", "Tarsel.sol", "Tarsel_shifts.csv", "legend_trips.csv",
                 "legend_lines.csv", "legend_terminals.csv"]
        for case in range(SEED, SEED + CASES):
            rng = random.Random(case)
            folder = os.path.join(self.tmp.name, "damaged")
            shutil.rmtree(folder, ignore_errors=True)
            shutil.copytree(self.solved, folder)
            spoil_folder(rng, folder, names)
            with self.subTest(case=case):
                self.result_case(folder, rng.choice(sorted(TOOLS)))

    def test_kept_crashers_replayed(self):
        for name in kept("import") + kept("results"):
            folder = os.path.join(self.tmp.name, name)
            with zipfile.ZipFile(os.path.join(CRASHERS, name)) as archive:
                archive.extractall(folder)
            with self.subTest(name):
                if name.startswith("import-"):
                    self.import_case(folder, ("--service", "WK"), replay=True)
                else:
                    self.result_case(folder, name.split("-")[1], replay=True)


class ReadersOfTheTripFile(unittest.TestCase):
    """The solver, the annealer and the tools' reader take a damaged
    Tarsel.bss alike: all accept it or all refuse it.  The one difference the
    programs are made with: the annealer refuses a timetable without trips,
    which the solver takes."""

    def verdicts(self, folder, annealer):
        try:
            python = "accepts" if tf.read_trip_file(os.path.join(folder, "Tarsel.bss")).trips else "accepts no trips"
        except tf.FormatError:
            python = "refuses"
        solver = support.solve(folder).returncode
        # Three pauses and the menu's 0: the annealer reads, solves once and ends.
        anneal = subprocess.run([annealer], cwd=folder, input=b"\n\n\n0\n", capture_output=True,
                                timeout=60).returncode
        return (python, "accepts" if solver == 0 else "refuses",
                "accepts" if anneal == 0 else ("accepts no trips" if python == "accepts no trips" else "refuses"))

    def test_same_verdicts(self):
        annealer = os.path.join(os.path.dirname(support.require_tovarin()), "Sorvenna")
        if not os.path.isfile(annealer):
            self.skipTest("Sorvenna is not beside Tovarin")
        example = os.path.join(support.REPO, "examples", "small")
        base = support.read_file(os.path.join(example, "Tarsel.bss"))
        cases = []
        for name in kept("trip-file"):
            with zipfile.ZipFile(os.path.join(CRASHERS, name)) as archive:
                cases.append((name, archive.read("Tarsel.bss")))
        for case in range(SEED, SEED + CASES // 2):
            rng = random.Random(case)
            data = base
            for _ in range(rng.randint(1, 2)):
                data = damage(rng, data)
            cases.append((case, data))
        for case, data in cases:
            folder = os.path.join(self.tmp, "case")
            shutil.rmtree(folder, ignore_errors=True)
            shutil.copytree(example, folder)
            support.write_file(os.path.join(folder, "Tarsel.bss"), data)
            with self.subTest(case=case):
                python, solver, anneal = self.verdicts(folder, annealer)
                if not (python.startswith(solver) and anneal in (solver, python)):
                    kept_as = ""
                    if isinstance(case, int):
                        shutil.rmtree(folder)
                        os.makedirs(folder)
                        support.write_file(os.path.join(folder, "Tarsel.bss"), data)
                        kept_as = ": kept as " + keep("trip-file", folder)
                    self.fail("tools %s, solver %s, annealer %s%s" % (python, solver, anneal, kept_as))

    def setUp(self):
        tmp = tempfile.TemporaryDirectory()
        self.addCleanup(tmp.cleanup)
        self.tmp = tmp.name


if __name__ == "__main__":
    unittest.main()
