"""gtfs_apply_shifts on a small feed written here: a changed timetable taken
back to the feed, which imports to the same problem shifted."""

import csv
import os
import shutil
import tempfile
import unittest
import zipfile

import support
from tarsel import files as tf
from test_gtfs_import import FEED, import_feed


class ShiftsBackToTheFeed(unittest.TestCase):
    """Import a zipped feed, shift two trips, apply the shifts, import the
    shifted feed with the same options: the timetable shifted, the same cost."""

    SHIFTS = {"t1": -2, "t3": 3}   # t1 starts " 6:00:00"; t3 runs past 24:00

    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.addCleanup(self.tmp.cleanup)
        # A name beyond Latin-1: the title of Tarsel.ini takes it in Windows-1252.
        feed = os.path.join(self.tmp.name, "feed\u2014\u6771")
        support.write_feed(feed, FEED, bom=("stop_times.txt",))
        self.feed = shutil.make_archive(feed, "zip", feed)
        self.problem = self.path("problem")
        # Layovers learned from the blocks change with the shifts; the fixed
        # rule keeps the re-import the same problem.
        done = import_feed(self.feed, self.problem, "--layovers", "fixed")
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertIn("date 20240101 picked", done.stdout)   # a weekday: 4 trips against 1
        with open(os.path.join(self.problem, "Tarsel.ini"), "rb") as handle:
            self.assertTrue(handle.readline().startswith(b"Tarsel problem from GTFS feed feed\x97?, date 20240101"))
        with open(os.path.join(self.problem, "legend_trips.csv"), encoding="utf-8") as handle:
            legend = list(csv.DictReader(handle))
        rows = [["aux_value", "line_key", "origin", "destination", "departure_before", "departure_after",
                 "shift_minutes"]]
        for trip in legend:
            shift = self.SHIFTS.get(trip["trip_id"], 0)
            rows.append([trip["aux_value"], trip["line_key"], trip["origin"], trip["destination"], trip["departure"],
                         tf.format_clock(tf.parse_clock(trip["departure"]) + shift), shift])
        self.write_shifts(rows)
        self.rows = rows

    def path(self, name):
        return os.path.join(self.tmp.name, name)

    def write_shifts(self, rows, name="Tarsel_shifts.csv"):
        with open(os.path.join(self.problem, name), "w", newline="") as handle:
            csv.writer(handle, lineterminator="\n").writerows(rows)

    def apply(self, out, feed=None, *options):
        return support.run_tool("gtfs_apply_shifts", feed or self.feed, self.problem, out, *options)

    def test_round_trip(self):
        done = self.apply(self.path("shifted.zip"))
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertEqual(self.apply(self.path("shifted")).returncode, 0)
        # The copy is as readable as any new file and folder, not private to its writer.
        self.assertEqual([support.mode(self.path(n)) for n in ("shifted.zip", "shifted")],
                         [support.new_mode(0o666), support.new_mode(0o777)])
        with zipfile.ZipFile(self.feed) as original, zipfile.ZipFile(self.path("shifted.zip")) as shifted:
            self.assertEqual(sorted(original.namelist()), sorted(shifted.namelist()))
            for name in original.namelist():
                with open(os.path.join(self.path("shifted"), name), "rb") as handle:
                    self.assertEqual(handle.read(), shifted.read(name), name)
                if name != "stop_times.txt":
                    self.assertEqual(original.read(name), shifted.read(name), name)
            before = original.read("stop_times.txt").split(b"\n")
            after = shifted.read("stop_times.txt").split(b"\n")
        changed = [(a, b) for a, b in zip(before, after) if a != b]
        self.assertEqual(len(before), len(after))
        self.assertEqual(changed, [
            (b"t1, 6:20:00, 6:20:00,M1,3\r", b"t1, 6:18:00, 6:18:00,M1,3\r"),
            (b"t1, 6:00:00, 6:00:00,C1,1\r", b"t1, 5:58:00, 5:58:00,C1,1\r"),
            (b"t1, 6:10:00, 6:10:00,MID,2\r", b"t1, 6:08:00, 6:08:00,MID,2\r"),
            (b"t3,23:50:00,23:50:00,C1,1\r", b"t3,23:53:00,23:53:00,C1,1\r"),
            (b"t3,24:40:30,24:41:00,F1,2\r", b"t3,24:43:30,24:44:00,F1,2\r")])

        again = self.path("again")
        self.assertEqual(import_feed(self.path("shifted.zip"), again, "--layovers", "fixed").returncode, 0)
        shifted_trips = tf.read_trip_file(os.path.join(again, "Tarsel.bss")).trips
        by_aux = {t.aux_value: t for t in tf.read_trip_file(os.path.join(self.problem, "Tarsel.bss")).trips}
        moved = {int(r[0]): r[6] for r in self.rows[1:]}
        self.assertEqual(sorted((t.aux_value, t.departure, t.arrival, t.origin, t.destination) for t in shifted_trips),
                         sorted((a, t.departure + moved[a], t.arrival + moved[a], t.origin, t.destination)
                                for a, t in by_aux.items()))
        # The shifted timetable written into the problem costs what the re-import costs.
        support.require_tovarin()
        expected = self.path("expected")
        shutil.copytree(self.problem, expected)
        for trip in by_aux.values():
            trip.departure += moved[trip.aux_value]
            trip.arrival += moved[trip.aux_value]
        template = support.read_file(os.path.join(expected, "Teste.mvm"))
        support.write_file(os.path.join(expected, "Tarsel.bss"),
                           tf.format_trip_file(template, sorted(by_aux.values(), key=lambda t: t.departure), 5))
        for directory in (expected, again):
            self.assertEqual(support.solve(directory).returncode, 0)
        self.assertEqual(tf.read_solution(os.path.join(again, "Tarsel.sol")),
                         tf.read_solution(os.path.join(expected, "Tarsel.sol")))

    def test_refusals(self):
        other_feed = self.path("other")
        support.write_feed(other_feed, {**FEED, "stop_times.txt": [r for r in FEED["stop_times.txt"] if r[0] != "t3"]})
        commit = os.path.join(self.problem, "Tarsel_search.commit")
        cases = [   # name, shifts written to the file applied, feed, message, options
            ("unknown trip", self.rows[:1] + [["99"] + self.rows[1][1:]] + self.rows[2:], None,
             "aux value 99 is not in", ()),
            ("count mismatch", self.rows[:-1], None, "holds 3 trips", ()),
            ("another problem's departure", self.rows[:1] + [self.rows[1][:4] + ["05:00", "05:00", 0]] + self.rows[2:],
             None, "the shifts belong to another problem", ()),
            ("another feed", self.rows, other_feed, "have no stop times there", ()),
            ("--shifts NAME checked alike", self.rows[:-1], None, "Tarsel_shifts_64.csv holds 3 trips",
             ("--shifts", "Tarsel_shifts_64.csv")),
            ("--shifts NAME missing", None, None, "Tarsel_shifts_63.csv: missing",
             ("--shifts", "Tarsel_shifts_63.csv")),
            ("shift_search's set half in place", self.rows, None, "Tarsel_search.commit: shift_search's timetables "
             "are half in place", ()),
            ("the set half in place, any name", self.rows, None, "half in place",
             ("--shifts", "Tarsel_shifts_64.csv")),
        ]
        for name, rows, feed, message, options in cases:
            with self.subTest(name):
                if rows is not None:
                    self.write_shifts(rows, options[-1] if options else "Tarsel_shifts.csv")
                if "half in place" in message:
                    support.write_file(commit, "put Tarsel_shifts.csv\n")
                done = self.apply(self.path("out.zip"), feed, *options)
                self.assertEqual(done.returncode, 1)
                self.assertIn(message, done.stderr)
                self.assertEqual(os.listdir(self.tmp.name).count("out.zip"), 0)
        os.remove(commit)
        # A good file named gives the default file's copy; a name with a folder is no file of the problem's.
        self.write_shifts(self.rows, "Tarsel_shifts_64.csv")
        for options in ((), ("--shifts", "Tarsel_shifts_64.csv")):
            self.assertEqual(self.apply(self.path("out%d" % len(options)), None, *options).returncode, 0)
        self.assertEqual(support.snapshot(self.path("out0")), support.snapshot(self.path("out2")))
        done = self.apply(self.path("out.zip"), None, "--shifts", os.path.join(self.problem, "Tarsel_shifts_64.csv"))
        self.assertEqual((done.returncode, os.path.exists(self.path("out.zip"))), (2, False))
        self.write_shifts(self.rows)
        os.makedirs(self.path("taken"))
        open(self.path("taken/x"), "w").close()
        done = self.apply(self.path("taken"))
        self.assertEqual(done.returncode, 1)
        self.assertIn("is not an empty directory", done.stderr)

    def test_blocks_and_deadheads(self):
        """A hand-made schedule into the feed: t1 and t2 on one vehicle, t5
        and t3 alone; with t1 calling at a stop after its last one, t1 and
        t2 overlap though their minutes in the problem do not."""
        trips = {t.aux_value: t for t in tf.read_trip_file(os.path.join(self.problem, "Tarsel.bss")).trips}
        lines = ["#Blocks of trip with number of buses: 3", "#Total of trips: 4"]
        for number, block in enumerate(([1, 2], [5], [3]), 1):
            lines += ["<Vehicle Block --- %d >" % number, "Leave Depot: Mall at 00:00"]
            lines += ["%4d    %s    %s    %s    %s      0        0      %s" % (
                position, trips[aux].origin, tf.format_clock(trips[aux].departure), trips[aux].destination,
                tf.format_clock(trips[aux].arrival), tf.format_key(trips[aux].group_key))
                for position, aux in enumerate(block, 1)]
        support.write_file(os.path.join(self.problem, "Tarsel.bla"), "\n".join(lines) + "\n")
        done = support.run_tool("gtfs_export", self.feed, self.problem, self.path("shifted.zip"))
        self.assertEqual(done.returncode, 1)
        self.assertIn("belongs to another timetable", done.stderr)
        self.write_shifts(self.rows, "Tarsel_shifts_64.csv")
        done = support.run_tool("gtfs_export", self.feed, self.problem, self.path("shifted.zip"),
                                "--shifts", "Tarsel_shifts_64.csv")
        self.assertIn("solve Tarsel_best_64.bss as Tarsel.bss first", done.stderr)
        done = support.run_tool("gtfs_export", self.feed, self.problem, self.path("blocks"), "--no-shifts")
        self.assertEqual(done.returncode, 0, done.stderr)

        def table(name):
            with open(os.path.join(self.path("blocks"), name), encoding="utf-8-sig", newline="") as handle:
                return list(csv.reader(handle))
        self.assertEqual({row[2]: row[3] for row in table("trips.txt")[1:]},
                         {"t1": "T-WK-1", "t2": "T-WK-1", "t5": "T-WK-2", "t3": "T-WK-3", "t4": "b9"})
        # A pull-out and a pull-in each; t1 ends and t2 starts at the Mall.
        self.assertEqual([row[0] + ":" + row[4] + "<" + row[5] for row in table("deadheads.txt")[1:]],
                         ["T-WK-1-1:t1<", "T-WK-1-2:<t2", "T-WK-2-1:t5<", "T-WK-2-2:<t5",
                          "T-WK-3-1:t3<", "T-WK-3-2:<t3"])
        self.assertEqual(table("deadhead_times.txt")[1:5], [
            ["T-WK-1-1", "05:56:00", "05:56:00", "Mall", "", "0", ""],
            ["T-WK-1-1", "06:00:00", "06:00:00", "CenStaNo", "", "1", ""],
            ["T-WK-1-2", "06:50:00", "06:50:00", "CenStaNo", "", "0", ""],
            ["T-WK-1-2", "06:54:00", "06:54:00", "Mall", "", "1", ""]])
        late = self.variant("late", lambda line: line.replace(" 6:10:00", " 6:35:00"))
        done = support.run_tool("gtfs_export", late, self.problem, self.path("late.zip"), "--no-shifts")
        self.assertEqual(done.returncode, 1)
        self.assertIn("trips t1 and t2 overlap in time (06:00-06:35 and 06:30-06:50", done.stderr)
        self.assertFalse(os.path.exists(self.path("late.zip")))

    def snapshot(self):
        return support.snapshot(self.tmp.name, folders=True)

    def variant(self, name, change):
        """The feed as a folder, its stop_times.txt lines passed through change."""
        folder = self.path(name)
        support.write_feed(folder, FEED)
        path = os.path.join(folder, "stop_times.txt")
        with open(path, encoding="utf-8", newline="") as handle:
            lines = handle.read().split("\r\n")
        support.write_file(path, "\r\n".join(change(line) for line in lines))
        return folder

    def test_unsafe_outputs_and_inputs(self):
        with zipfile.ZipFile(self.feed) as original:
            members = {n: original.read(n) for n in original.namelist()}

        def zipped(name, extra):
            path = self.path(name)
            with zipfile.ZipFile(path, "w") as archive:
                for member, data in members.items():
                    archive.writestr(member, data)
                archive.writestr(extra, b"x")
            return path

        folder = self.feed[:-len(".zip")]
        os.symlink(self.feed, self.path("link.zip"))
        support.write_file(self.path("taken.zip"), b"mine")
        changed = self.variant("changed", lambda line: line.replace("23:50:00", "23:55:00"))
        cases = [   # name, feed, out, message
            ("member ..", zipped("dotdot.zip", "../notes.txt"), self.path("out/x"), "outside the feed"),
            ("absolute member", zipped("absolute.zip", self.path("abs.txt")), self.path("out.zip"), "outside"),
            ("OUT a link to the feed", self.feed, self.path("link.zip"), "is the feed itself"),
            ("OUT inside the feed", folder, os.path.join(folder, "copy.zip"), "inside the feed"),
            ("OUT holds the feed", folder, self.tmp.name, "holds the feed"),
            ("existing OUT.zip", self.feed, self.path("taken.zip"), "--force replaces it"),
            ("feed changed", changed, self.path("out.zip"), "t3 (23:55-24:41, imported 23:50-24:41)"),
        ]
        os.makedirs(self.path("out"))
        before = self.snapshot()
        for name, feed, out, message in cases:
            with self.subTest(name):
                for force in ((), ("--force",)) if name != "existing OUT.zip" else ((),):
                    done = support.run_tool("gtfs_apply_shifts", feed, self.problem, out, *force)
                    self.assertEqual(done.returncode, 1, done.stdout)
                    self.assertIn(message, done.stderr)
                    self.assertEqual(self.snapshot(), before)
        done = support.run_tool("gtfs_apply_shifts", self.feed, self.problem, self.path("taken.zip"), "--force")
        self.assertEqual(done.returncode, 0, done.stderr)

        # A literal quote inside an unquoted field is text: every stop of the
        # shifted trip moves, and the other records keep their bytes.
        def headsign(line):
            return line + (',to "Mall' if line.startswith("t1,") else ",")
        quoted = self.variant("quoted", lambda line: line + ",stop_headsign" if line.startswith("trip_id") else
                              headsign(line) if line else line)
        done = self.apply(self.path("quoted.zip"), quoted)
        self.assertEqual(done.returncode, 0, done.stderr)
        with zipfile.ZipFile(self.path("quoted.zip")) as shifted:
            after = shifted.read("stop_times.txt").decode().split("\r\n")
        with open(os.path.join(quoted, "stop_times.txt"), encoding="utf-8", newline="") as handle:
            lines = handle.read().split("\r\n")
        self.assertEqual([a for a, b in zip(after, lines) if a == b and not a.startswith(("t1,", "t3,"))],
                         [a for a in lines if not a.startswith(("t1,", "t3,"))])
        self.assertEqual(sorted(row[1] for row in csv.reader(after[1:]) if row and row[0] == "t1"),
                         [" 5:58:00", " 6:08:00", " 6:18:00"])
        self.assertIn('"to ""Mall"', after[1])


if __name__ == "__main__":
    unittest.main()
