"""gtfs_import on small feeds written here: the trip file field by field, the
matrix, the legend, the service calendar and the limits of the solver."""

import csv
import json
import os
import tempfile
import unittest

import support
from tarsel import blocks as tb
from tarsel import files as tf
from tarsel import feed_problem, service_days
from tarsel import interlining, limits
from tarsel.feed import FeedError
from tarsel.solved import Solved

# Two routes (7 and the non-numeric X), a parent station with two bays, two
# stops 80 m apart, a far terminal; a leading blank, a time past 24:00, stop
# times out of sequence order, a quoted stop name, byte-order marks.
FEED = {
    "stops.txt": [
        ["stop_id", "stop_name", "stop_lat", "stop_lon", "location_type", "parent_station"],
        ["STN", "Central Station, North", "45.0000", "-122.0000", "1", ""],
        ["C1", "Central Bay 1", "45.0001", "-122.0001", "0", "STN"],
        ["C2", "Central Bay 2", "45.0003", "-122.0000", "0", "STN"],
        ["M1", "Mall", "45.0100", "-122.0000", "0", ""],
        ["M2", "Mall East", "45.0100", "-121.9990", "0", ""],
        ["MID", "Midway", "45.0050", "-122.0000", "0", ""],
        ["F1", "Far Field", "45.1000", "-122.0000", "0", ""],
    ],
    "routes.txt": [["route_id", "route_short_name", "route_long_name", "route_type"],
                   ["R7", "7", "Seven", "3"], ["RX", "X", "Express", "3"]],
    "trips.txt": [["route_id", "service_id", "trip_id", "block_id"],
                  ["R7", "WK", "t1", "b1"], ["R7", "WK", "t2", "b1"], ["RX", "WK", "t3", "b2"],
                  ["R7", "SAT", "t4", "b9"], ["RX", "WK", "t5", "b2"]],
    "stop_times.txt": [
        ["trip_id", "arrival_time", "departure_time", "stop_id", "stop_sequence"],
        ["t1", " 6:20:00", " 6:20:00", "M1", "3"],
        ["t1", " 6:00:00", " 6:00:00", "C1", "1"],
        ["t1", " 6:10:00", " 6:10:00", "MID", "2"],
        ["t2", "06:30:00", "06:30:00", "M2", "1"], ["t2", "06:50:00", "06:50:00", "C2", "2"],
        ["t3", "23:50:00", "23:50:00", "C1", "1"], ["t3", "24:40:30", "24:41:00", "F1", "2"],
        ["t4", "08:00:00", "08:00:00", "C1", "1"], ["t4", "08:20:00", "08:20:00", "M1", "2"],
        ["t5", "07:05:40", "07:05:40", "F1", "1"], ["t5", "07:50:00", "07:50:00", "C2", "2"],
    ],
    "calendar.txt": [["service_id", "monday", "tuesday", "wednesday", "thursday", "friday", "saturday",
                      "sunday", "start_date", "end_date"],
                     ["WK", "1", "1", "1", "1", "1", "0", "0", "20240101", "20241231"],
                     ["SAT", "0", "0", "0", "0", "0", "1", "0", "20240101", "20241231"]],
    "calendar_dates.txt": [["service_id", "date", "exception_type"],
                           ["WK", "20240704", "2"], ["SAT", "20240704", "1"]],
}


def import_feed(feed, out, *options):
    done = support.run_tool("gtfs_import", feed, out, *options)
    return done


class FixtureImport(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory()
        cls.feed = os.path.join(cls.tmp.name, "feed")
        support.write_feed(cls.feed, FEED, bom=("stops.txt", "stop_times.txt", "trips.txt"))
        cls.out = os.path.join(cls.tmp.name, "problem")
        cls.done = import_feed(cls.feed, cls.out, "--service", "WK")

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    def read(self, name):
        with open(os.path.join(self.out, name), "rb") as handle:
            return handle.read()

    def test_trip_lines_field_by_field(self):
        self.assertEqual(self.done.returncode, 0, self.done.stderr)
        lines = self.read("Tarsel.bss").split(b"\n")
        start = lines.index(b"[TRIP] 5") + 1
        # by departure; departures rounded down, arrivals up, 24:40:30 kept as 2441;
        # minimum layovers from the blocks: b1 turns at the Mall in 10, b2 at the
        # station in 960, each line's shortest where its terminal shows none
        self.assertEqual(lines[start:start + 4], [
            b"Trip0    = 0600, CenStaNo     | 0620, Mall         | 7.00 \t1\t10",
            b"Trip1    = 0630, Mall         | 0650, CenStaNo     | 7.00 \t2\t10",
            b"Trip2    = 0705, FarField     | 0750, CenStaNo     | 1001.00 \t5\t960",
            b"Trip3    = 2350, CenStaNo     | 2441, FarField     | 1001.00 \t3\t960",
        ])
        self.assertEqual(lines[start + 4:], [b"-" * 59, b"Total de viagens: 4", b"",
                                             "Tempo total de opera\xe7\xe3o: 02:16".encode("latin-1"), b""])

    def test_header_template_and_matrix(self):
        data = self.read("Tarsel.bss")
        template = self.read("Teste.mvm")
        self.assertTrue(data.startswith(b"# Rede criada com base nos hor\xe1rios de partida e chegadas das "
                                        b"viagens\n# "))
        # "# " and the first 19 characters of asctime (the year cut off), then an empty line
        self.assertRegex(data.split(b"\n")[1], rb"^# [A-Z][a-z]{2} [A-Z][a-z]{2} [ \d]\d \d\d:\d\d:\d\d$")
        self.assertEqual(data.split(b"\n")[2], b"")
        self.assertIn(b"\n\n" + template + b"\n\n[TRIP] 5\n", data)
        self.assertFalse(template.endswith(b"\n"))
        problem = tf.read_trip_file(os.path.join(self.out, "Tarsel.bss"))
        # depot: the terminal nearest the centroid, the Mall (two stops 80 m apart)
        self.assertEqual(problem.names, ["Mall", "CenStaNo", "FarField"])
        self.assertEqual(problem.matrix, [[0, 4, 32], [4, 0, 35], [32, 35, 0]])

    def test_parameters_by_label_width(self):
        lines = self.read("Tarsel.ini").decode("latin-1").split("\n")
        self.assertEqual(len(lines), 7)
        self.assertEqual(lines[1][18:], "1.30")
        self.assertEqual(lines[2][15:], "01:00")
        self.assertEqual([line[14:] for line in lines[3:6]], [" 2", " 1", " 60"])
        self.assertEqual(tf.read_parameters(os.path.join(self.out, "Tarsel.ini")).short_arc_param, 60)

    def test_legend_maps_back_to_the_feed(self):
        with open(os.path.join(self.out, "legend_terminals.csv"), encoding="utf-8") as handle:
            terminals = list(csv.DictReader(handle))
        self.assertEqual([(t["short_name"], t["role"], t["stop_ids"]) for t in terminals],
                         [("Mall", "depot", "M1 M2"), ("CenStaNo", "terminal", "C1 C2 STN"),
                          ("FarField", "terminal", "F1")])
        self.assertEqual(terminals[1]["stop_name"], "Central Station, North")
        with open(os.path.join(self.out, "legend_trips.csv"), encoding="utf-8") as handle:
            trips = {row["aux_value"]: row for row in csv.DictReader(handle)}
        self.assertEqual({k: v["trip_id"] for k, v in trips.items()}, {"1": "t1", "2": "t2", "5": "t5", "3": "t3"})
        self.assertEqual(trips["3"]["arrival"], "24:41")
        with open(os.path.join(self.out, "legend_lines.csv"), encoding="utf-8") as handle:
            self.assertEqual([(r["line_key"], r["route_short_name"]) for r in csv.DictReader(handle)],
                             [("7.00", "7"), ("1001.00", "X")])

    def test_solver_reads_the_import(self):
        support.require_tovarin()
        done = support.solve(self.out)
        self.assertEqual(done.returncode, 0, done.stdout[-2000:])
        self.assertIn(b"Total of trips: 4", done.stdout)
        cost = tf.read_solution(os.path.join(self.out, "Tarsel.sol"))
        blocks = tb.read_block_file(os.path.join(self.out, "Tarsel.bla"))
        # t1 -> t2 at the centre; t5 cannot follow t2 (35 min dead run): two vehicles
        self.assertEqual(blocks.num_buses, 2)
        self.assertTrue(2000 < cost < 3000, cost)
        self.assertEqual(tb.check_blocks(tf.read_trip_file(os.path.join(self.out, "Tarsel.bss")), blocks), [])


def block_feed(directory, with_blocks=True):
    """Four lines between Alpha, Bravo (18 min away) and Charlie (13 from
    Alpha, 22 from Bravo), in blocks whose turnarounds are known."""
    trips = [  # trip, line, service, block, origin, departure, destination, arrival
        ("t1", "1", "WK", "k1", "A", "06:00:00", "B", "06:30:00"),
        ("t2", "1", "WK", "k1", "B", "06:33:00", "A", "07:00:00"),    # 3 at Bravo
        ("t3", "1", "WK", "k1", "A", "07:02:00", "B", "07:30:00"),    # 2 at Alpha
        ("t4", "1", "WK", "k2", "A", "06:10:00", "B", "06:40:00"),
        ("t5", "1", "WK", "k2", "B", "06:48:00", "A", "07:10:00"),    # 8 at Bravo
        ("t6", "2", "WK", "k3", "C", "07:00:00", "A", "07:20:30"),
        ("t7", "2", "WK", "k3", "A", "07:20:40", "C", "07:40:00"),    # 10 s: 0, not -1
        ("t8", "3", "WK", "k4", "A", "08:00:00", "B", "08:30:00"),
        ("t9", "3", "WK", "k4", "C", "08:40:00", "A", "09:00:00"),    # 10 from Bravo to Charlie
        ("t10", "3", "WK", "k5", "A", "09:00:00", "B", "09:30:00"),
        ("t11", "3", "WK", "k5", "B", "09:34:00", "A", "10:00:00"),   # 4 at Bravo
        ("t12", "4", "WK", "k6", "A", "10:00:00", "B", "10:30:00"),
        ("t13", "4", "WK", "k6", "B", "10:20:00", "A", "10:50:00"),   # overlaps
        ("t14", "4", "NT", "k7", "A", "23:50:00", "B", "24:10:00"),
        ("t15", "4", "WK", "k7", "B", "00:15:00", "A", "00:30:00"),   # the next service day
    ]
    stop_times = [["trip_id", "arrival_time", "departure_time", "stop_id", "stop_sequence"]]
    for trip in trips:
        stop_times += [[trip[0], trip[5], trip[5], trip[4], 1], [trip[0], trip[7], trip[7], trip[6], 2]]
    support.write_feed(directory, {
        "stops.txt": [["stop_id", "stop_name", "stop_lat", "stop_lon"], ["A", "Alpha", "45.0", "-122.0"],
                      ["B", "Bravo", "45.05", "-122.0"], ["C", "Charlie", "45.0", "-122.05"]],
        "routes.txt": [["route_id", "route_short_name", "route_type"]] + [[r, r, 3] for r in "1234"],
        "trips.txt": [["route_id", "service_id", "trip_id", "block_id"]]
                     + [[t[1], t[2], t[0], t[3] if with_blocks else ""] for t in trips],
        "stop_times.txt": stop_times})


class LearnedRules(unittest.TestCase):
    """Each trip's minimum layover from the shortest turnaround of its line at
    its terminal, else of its line, else --min-layover; dead runs no longer
    than a block allows; bad turnarounds skipped and counted."""

    def test_rules_and_dead_runs(self):
        learned = {"t1": 3, "t2": 2, "t3": 3, "t4": 3, "t5": 2, "t6": 0, "t7": 0, "t8": 4, "t9": 4,
                   "t10": 4, "t11": 4, "t12": 7, "t13": 7, "t14": 7, "t15": 7}
        cases = [  # options, min_layover by trip, Bravo -> Charlie, t7 departs, rules file, stderr
            ((), learned, 6, 441,
             [["1.00", "Alpha", "2", "learned from 1 turnaround"], ["1.00", "Bravo", "3", "learned from 2 turnarounds"],
              ["2.00", "Alpha", "0", "learned from 1 turnaround"], ["2.00", "Charlie", "0", "line, from 1 turnaround"],
              ["3.00", "Alpha", "4", "line, from 2 turnarounds"], ["3.00", "Bravo", "4", "learned from 2 turnarounds"],
              ["4.00", "Alpha", "7", "fallback"], ["4.00", "Bravo", "7", "fallback"]],
             ["learned from 6 turnarounds in the operator's blocks: 0 to 7 min over 8 lines and terminals "
              "(4 by line and terminal, 2 by line, 2 at --min-layover 7)", "dead runs shortened to the operator's: 1",
              "1 of overlapping trips, 1 across midnight", "1 departures set to the minute"]),
            (("--layovers", "fixed", "--layover-share", "50"), {"t1": 15, "t2": 14, "t3": 14, "t4": 15, "t5": 11, "t6": 11, "t7": 10, "t8": 15,
              "t9": 10, "t10": 15, "t11": 13, "t12": 15, "t13": 15, "t14": 10, "t15": 8},
             22, 440, None, ["min_layover 7 for every trip, at least 50 % of each trip's running time"]),
        ]
        for options, layovers, dead_run, t7, rules, messages in cases + [
                (("--no-blocks",), dict.fromkeys(learned, 7), 22, 440, None, ["the feed has no block_id"])]:
            with self.subTest(options=options), tempfile.TemporaryDirectory() as tmp:
                block_feed(os.path.join(tmp, "feed"), with_blocks="--no-blocks" not in options)
                out = os.path.join(tmp, "out")
                done = import_feed(os.path.join(tmp, "feed"), out, "--service", "WK,NT", "--min-layover", "7",
                                   *[o for o in options if o != "--no-blocks"])
                self.assertEqual(done.returncode, 0, done.stderr)
                problem = tf.read_trip_file(os.path.join(out, "Tarsel.bss"))
                with open(os.path.join(out, "legend_trips.csv"), encoding="utf-8") as handle:
                    ids = {int(r["aux_value"]): r["trip_id"] for r in csv.DictReader(handle)}
                self.assertEqual({ids[t.aux_value]: t.min_layover for t in problem.trips}, layovers)
                self.assertEqual(problem.dead_run("Bravo", "Charlie"), dead_run)
                self.assertEqual(next(t.departure for t in problem.trips if ids[t.aux_value] == "t7"), t7)
                with open(os.path.join(out, "legend_rules.csv"), encoding="utf-8") as handle:
                    table = list(csv.reader(handle))
                self.assertEqual(table[0], ["line", "terminal", "min_layover", "source"])
                if rules:
                    self.assertEqual(table[1:], rules)
                for message in messages:
                    self.assertIn(message, done.stderr)
                if not options:   # the departure set a minute later is still the feed's to export into
                    self.assertEqual(support.solve(out).returncode, 0)
                    done = support.run_tool("gtfs_export", os.path.join(tmp, "feed"), out, os.path.join(tmp, "x"))
                    self.assertEqual(done.returncode, 0, done.stderr)


class OperatorSchedule(unittest.TestCase):
    """operator_blocks chains the operator's blocks, each run whole, into the
    fewest vehicles at the least cost, and names the connections within them
    that the problem's rules forbid."""

    def test_best_chaining_and_forbidden_connections(self):
        support.require_tovarin()
        trips = [  # trip, line, block; Alpha and Bravo 18 minutes apart
            ("t1", "1", "k1", "A", "06:00:00", "B", "06:30:00"), ("t2", "1", "k1", "B", "06:35:00", "A", "07:00:00"),
            ("t3", "1", "k2", "A", "07:05:00", "B", "07:30:00"), ("t4", "1", "k2", "B", "07:35:00", "A", "08:00:00"),
            ("t5", "1", "k3", "B", "06:00:00", "A", "06:30:00"), ("t6", "2", "", "A", "08:10:00", "B", "08:40:00")]
        cases = [  # options, vehicles, forbidden, interlinings
            ((), [["t1", "t2", "t3", "t4", "t6"], ["t5"]], 0, 1),
            # 10 minutes after each trip: k1 and k2 turn at Bravo in 5
            (("--layovers", "fixed", "--min-layover", "10"), [["t1", "t2"], ["t5", "t3", "t4", "t6"]], 2, 1),
        ]
        for options, vehicles, forbidden, interlinings in cases:
            with self.subTest(options=options), tempfile.TemporaryDirectory() as tmp:
                stop_times = [["trip_id", "arrival_time", "departure_time", "stop_id", "stop_sequence"]]
                for t in trips:
                    stop_times += [[t[0], t[4], t[4], t[3], 1], [t[0], t[6], t[6], t[5], 2]]
                support.write_feed(os.path.join(tmp, "feed"), {
                    "stops.txt": [["stop_id", "stop_name", "stop_lat", "stop_lon"], ["A", "Alpha", "45.0", "-122.0"],
                                  ["B", "Bravo", "45.05", "-122.0"]],
                    "routes.txt": [["route_id", "route_short_name", "route_type"], ["1", "1", 3], ["2", "2", 3]],
                    "trips.txt": [["route_id", "service_id", "trip_id", "block_id"]]
                                 + [[t[1], "WK", t[0], t[2]] for t in trips],
                    "stop_times.txt": stop_times})
                out = os.path.join(tmp, "out")
                self.assertEqual(import_feed(os.path.join(tmp, "feed"), out, "--service", "WK", *options).returncode, 0)
                self.assertEqual(support.solve(out).returncode, 0)
                done = support.run_tool("operator_blocks", out)
                self.assertEqual(done.returncode, 0, done.stderr)
                figures = json.loads(done.stdout.strip().split("\n")[-1])
                self.assertEqual((figures["vehicles"], figures["forbidden_connections"], figures["interlinings"]),
                                 (len(vehicles), forbidden, interlinings))
                self.assertEqual(done.stderr.count("layover too short"), forbidden)
                solved = Solved(out, "Tarsel_operator.bla")
                self.assertEqual([[solved.gtfs_trip_id(solved.trip_of(b, line)) for line in b.trips]
                                  for b in solved.block_file.blocks], vehicles)
                self.assertEqual(figures["total_cost"], 1000 * len(vehicles) + solved.block_file.operational_cost)
                # Where the blocks keep the rules Tovarin does no worse; the report says whether they do.
                if not forbidden:
                    self.assertLessEqual(tf.read_solution(os.path.join(out, "Tarsel.sol")), figures["total_cost"])
                page = support.run_tool("report", out, "-o", "-").stdout
                self.assertIn("The operator's blocks %s the problem's rules" % ("break" if forbidden else "keep"), page)
        # Without block_id there is nothing to compare with.
        with tempfile.TemporaryDirectory() as tmp:
            block_feed(os.path.join(tmp, "feed"), with_blocks=False)
            import_feed(os.path.join(tmp, "feed"), os.path.join(tmp, "out"), "--service", "WK")
            done = support.run_tool("operator_blocks", os.path.join(tmp, "out"))
        self.assertEqual(done.returncode, 1)
        self.assertIn("no block_id in legend_trips.csv", done.stderr)


class Selection(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.addCleanup(self.tmp.cleanup)
        self.feed = os.path.join(self.tmp.name, "feed")
        self.out = os.path.join(self.tmp.name, "out")

    def aux_values(self):
        return [t.aux_value for t in tf.read_trip_file(os.path.join(self.out, "Tarsel.bss")).trips]

    def test_date_through_calendar_and_exceptions(self):
        tables = dict(FEED)
        support.write_feed(self.feed, tables)
        self.assertEqual(import_feed(self.feed, self.out, "--date", "20240703").returncode, 0)
        self.assertEqual(sorted(self.aux_values()), [1, 2, 3, 5])
        self.assertEqual(import_feed(self.feed, self.out, "--date", "20240704").returncode, 0)
        self.assertEqual(self.aux_values(), [4])
        # calendar_dates.txt alone (calendar.txt is optional too)
        os.remove(os.path.join(self.feed, "calendar.txt"))
        self.assertEqual(import_feed(self.feed, self.out, "--date", "20240704").returncode, 0)
        self.assertEqual(self.aux_values(), [4])
        done = import_feed(self.feed, self.out, "--date", "20240703")
        self.assertEqual(done.returncode, 1)
        self.assertIn("no service runs on 20240703", done.stderr)

    def test_route_filter_depot_option_and_unknown_service(self):
        support.write_feed(self.feed, FEED)
        done = import_feed(self.feed, self.out, "--service", "WK", "--routes", "X", "--depot", "45.05,-122.3")
        self.assertEqual(done.returncode, 0, done.stderr)
        problem = tf.read_trip_file(os.path.join(self.out, "Tarsel.bss"))
        self.assertEqual(sorted(self.aux_values()), [3, 5])
        self.assertEqual(problem.names, ["DEPOT", "CenStaNo", "FarField"])
        self.assertTrue(all(minutes >= 1 for minutes in problem.matrix[0][1:]))
        done = import_feed(self.feed, self.out, "--service", "NONE")
        self.assertEqual(done.returncode, 1)
        self.assertIn("SAT (1 trips), WK (4 trips)", done.stderr)


class Limits(unittest.TestCase):
    """The importer stops where the solver would refuse the problem or run
    out of its arc table."""

    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.addCleanup(self.tmp.cleanup)
        self.feed = os.path.join(self.tmp.name, "feed")
        self.out = os.path.join(self.tmp.name, "out")

    def test_too_many_terminals_until_merged(self):
        stops = [("S%d" % i, "Stop %d" % i, "%.4f" % (45 + 0.01 * i), "-122.0") for i in range(70)]
        trips = [("t%d" % i, "1", [("S%d" % (2 * i), "06:00:00"), ("S%d" % (2 * i + 1), "06:30:00")])
                 for i in range(35)]
        support.simple_feed(self.feed, stops, trips)
        done = import_feed(self.feed, self.out, "--service", "WK")
        self.assertEqual(done.returncode, 1)
        self.assertIn("70 terminals remain", done.stderr)
        self.assertIn("--merge-radius", done.stderr)
        self.assertFalse(os.path.exists(os.path.join(self.out, "Tarsel.bss")))
        done = import_feed(self.feed, self.out, "--service", "WK", "--merge-radius", "5000")
        self.assertEqual(done.returncode, 0, done.stderr)
        names = tf.read_trip_file(os.path.join(self.out, "Tarsel.bss")).names
        self.assertLessEqual(len(names), limits.MAX_TERMINALS)
        self.assertTrue(all(0 < len(n) <= 8 and " " not in n for n in names))
        # A depot far from every stop is a terminal of its own and counts.
        done = import_feed(self.feed, self.out, "--service", "WK", "--max-terminals", "20", "--depot", "44.0,-122.0")
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertRegex(done.stdout, r"terminals merged within \d+ m: 1[89] terminals")
        with open(os.path.join(self.out, "legend_terminals.csv"), encoding="utf-8") as handle:
            terminals = list(csv.DictReader(handle))
        self.assertIn(len(terminals), (18, 19))
        self.assertEqual((terminals[0]["short_name"], terminals[0]["stop_ids"]), ("DEPOT", ""))
        self.assertEqual(sum(len(t["stop_ids"].split()) for t in terminals), 70)

    def test_too_many_trips(self):
        stops = [("A", "A", "45.0", "-122.0"), ("B", "B", "45.1", "-122.0")]
        trips = [("t%d" % i, "1", [("A", "%02d:%02d:00" % divmod(300 + i % 900, 60)),
                                   ("B", "%02d:%02d:00" % divmod(330 + i % 900, 60))])
                 for i in range(limits.MAX_TRIPS + 1)]
        support.simple_feed(self.feed, stops, trips)
        done = import_feed(self.feed, self.out, "--service", "WK")
        self.assertEqual(done.returncode, 1)
        self.assertIn("2735 trips; the solver takes at most 2734", done.stderr)

    def test_arc_table_overflow_is_refused(self):
        # 1300 one-minute trips at one stop, a minute apart: nearly every pair connects
        stops = [("A", "A", "45.0", "-122.0")]
        trips = [("t%d" % i, "1", [("A", "%02d:%02d:00" % divmod(i, 60)), ("A", "%02d:%02d:00" % divmod(i + 1, 60))])
                 for i in range(1300)]
        support.simple_feed(self.feed, stops, trips)
        done = import_feed(self.feed, self.out, "--service", "WK", "--min-layover", "0",
                           "--short-arc-param", "3000")
        self.assertEqual(done.returncode, 1)
        self.assertIn("arcs in memory", done.stderr)
        self.assertIn("--short-arc-param", done.stderr)
        done = import_feed(self.feed, self.out, "--service", "WK", "--min-layover", "0")
        self.assertEqual(done.returncode, 0, done.stderr)

    def test_more_lines_than_groups(self):
        stops = [("A", "A", "45.0", "-122.0"), ("B", "B", "45.1", "-122.0")]
        trips = [("t%d" % i, str(i), [("A", "06:00:00"), ("B", "06:30:00")]) for i in range(1, 31)]
        support.simple_feed(self.feed, stops, trips)
        done = import_feed(self.feed, self.out, "--service", "WK", "--interlining", "none")
        self.assertEqual(done.returncode, 1)
        self.assertIn("30 lines need 30 link preference groups, the groups file holds at most 29", done.stderr)
        self.assertFalse(os.path.exists(self.out))


def two_line_feed(feed):
    """Lines 1 and 2 take turns between A and B: one vehicle where it may
    change lines, two where it may not.  The operator's block x changes line
    twice, b2 belongs to no block."""
    runs = [("a1", "1", "x", "A", "08:00", "B", "08:30"), ("b1", "2", "x", "B", "08:40", "A", "09:10"),
            ("a2", "1", "x", "A", "09:20", "B", "09:50"), ("b2", "2", "", "B", "10:00", "A", "10:30")]
    support.write_feed(feed, {
        "stops.txt": [["stop_id", "stop_name", "stop_lat", "stop_lon"],
                      ["A", "A", "45.0", "-122.0"], ["B", "B", "45.01", "-122.0"]],
        "routes.txt": [["route_id", "route_short_name", "route_type"], ["R1", "1", "3"], ["R2", "2", "3"]],
        "trips.txt": [["route_id", "service_id", "trip_id", "block_id"]]
                     + [["R" + line, "WK", trip, block] for trip, line, block, *_ in runs],
        "stop_times.txt": [["trip_id", "arrival_time", "departure_time", "stop_id", "stop_sequence"]]
                          + [row for trip, _, _, a, at, b, bt in runs
                             for row in ([trip, at + ":00", at + ":00", a, 1], [trip, bt + ":00", bt + ":00", b, 2])],
    })


class Interlining(unittest.TestCase):
    """Vehicles kept on their lines, or not, by the import and by what_if."""

    def setUp(self):
        support.require_tovarin()
        self.tmp = tempfile.TemporaryDirectory()
        self.addCleanup(self.tmp.cleanup)
        self.feed, self.out = os.path.join(self.tmp.name, "feed"), os.path.join(self.tmp.name, "out")
        two_line_feed(self.feed)

    def test_modes_by_the_solver(self):
        # Each mode imported into the same directory and solved: a free import
        # leaves no groups file of an earlier one behind.
        feed, out = self.feed, self.out
        for mode, expected in (("none", [["a1", "a2"], ["b1", "b2"]]), ("operator", [["a1", "b1", "a2", "b2"]]),
                               ("free", [["a1", "b1", "a2", "b2"]])):
            done = import_feed(feed, out, "--service", "WK", "--interlining", mode)
            self.assertEqual(done.returncode, 0, done.stderr)
            self.assertEqual(os.path.exists(os.path.join(out, "Tarsel.prr")), mode != "free")
            self.assertEqual(support.solve(out).returncode, 0)
            solved = Solved(out)
            blocks = sorted([solved.gtfs_trip_id(solved.trip_of(block, line)) for line in block.trips]
                            for block in solved.block_file.blocks)
            self.assertEqual(blocks, expected, mode)
        done = import_feed(feed, out, "--service", "WK", "--interlining", "operator", "--routes", "2")
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertIn("0 changes from one line to another", done.stdout)

    def test_what_if_scenarios_side_by_side(self):
        # The table, its scenario folders, a table of failures and the options
        # that the scenarios set.
        feed, out = self.feed, self.out
        done = support.run_tool("what_if", feed, out, "--service", "WK", "--rules", "fixed-5")
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertEqual(support.mode(out), support.new_mode(0o777))
        with open(os.path.join(out, "what_if.csv"), encoding="utf-8", newline="") as handle:
            table = list(csv.reader(handle))
        self.assertEqual(table[0], ["rule", "interlining", "max_shift", "vehicles", "bound_vehicles", "total_cost",
                                    "dead_run_minutes", "waiting_minutes", "interlinings", "seconds", "reason"])
        self.assertEqual([row[:5] + row[8:9] + row[10:] for row in table[1:]],
                         [["fixed-5", "free", "0", "1", "", "3", ""], ["fixed-5", "none", "0", "2", "", "0", ""]])
        for row in table[1:]:
            solved = Solved(os.path.join(out, "fixed-5-" + row[1]))
            self.assertEqual((solved.block_file.num_buses, solved.total_cost), (int(row[3]), int(row[5])))
        # Every scenario failing: exit 1, the table says why, and it takes the
        # place of the earlier one whole.
        done = support.run_tool("what_if", feed, out, "--service", "WK", "--rules", "fixed-0",
                                "--interlinings", "none", "--routes", "9")
        self.assertEqual(done.returncode, 1)
        with open(os.path.join(out, "what_if.csv"), encoding="utf-8", newline="") as handle:
            rows = list(csv.DictReader(handle))
        self.assertEqual([(r["rule"], r["vehicles"]) for r in rows], [("fixed-0", "")])
        self.assertIn("--routes: no route has the short name or id '9'", rows[0]["reason"])
        self.assertEqual(sorted(os.listdir(out)), ["what_if.csv", "what_if.html"])
        for options in (["--min-layover", "3"], ["--interlining", "none"]):
            done = support.run_tool("what_if", feed, os.path.join(self.tmp.name, "other"), *options)
            self.assertEqual(done.returncode, 2, options)
            self.assertIn("set by each scenario", done.stderr)


class Pieces(unittest.TestCase):
    def test_gtfs_times(self):
        parse = service_days.parse_gtfs_time
        self.assertEqual(parse(" 6:01:37"), 6 * 3600 + 97)
        self.assertEqual(parse("25:10:00"), 25 * 3600 + 600)
        self.assertEqual(parse("07:05"), 7 * 3600 + 300)
        self.assertIsNone(parse("  "))
        for bad in ("6:61:00", "x", "6.00.00"):
            with self.assertRaises(ValueError):
                parse(bad)

    def test_line_keys_are_stable_and_apart_from_numbers(self):
        routes = [{"route_id": "a", "route_short_name": "01"}, {"route_id": "b", "route_short_name": "B"},
                  {"route_id": "c", "route_short_name": "1500"}, {"route_id": "d", "route_short_name": "A"}]
        self.assertEqual(feed_problem.line_keys(routes), {"a": 1.0, "c": 1500.0, "d": 10001.0, "b": 10002.0})

    def test_groups_rule_and_the_check_of_a_groups_file(self):
        # The member flags carry over from one group to the next; a key must
        # stand in the from list itself (as the solver's own tests have it).
        carried = [tf.LinkGroup([101], [101.25], [102.0]), tf.LinkGroup([102], [101.25], [102.0])]
        for a, b, allowed in ((101.25, 102.0, True), (101.0, 102.0, False), (103.0, 102.0, False),
                              (101.25, 101.0, False)):
            self.assertEqual(interlining.link_allowed(carried, a, b), allowed, (a, b))
        # One group for two lines lets a vehicle change between them.
        shared = tf.format_groups(1, [tf.LinkGroup([1, 2], [1.0, 2.0], [1.0, 2.0])])
        with self.assertRaisesRegex(FeedError, "cannot tell line 1.00 from 2.00: the solver would allow"):
            interlining.check_file(shared, [1.0, 2.0], {(1.0, 1.0), (2.0, 2.0)}, "none")
        # Keys that differ only beyond a 32-bit float's precision are one line to the solver.
        with self.assertRaisesRegex(FeedError, "cannot tell"):
            interlining.groups_file("none", [("", 0, 1, 1234567.25), ("", 0, 1, 1234567.26)])

    def test_aux_values(self):
        self.assertEqual(feed_problem.aux_values(["12", "7"]), {"12": 12, "7": 7})
        # not all numeric, or colliding numbers: ranks of the sorted ids
        self.assertEqual(feed_problem.aux_values(["12", "x"]), {"12": 1, "x": 2})
        self.assertEqual(feed_problem.aux_values(["012", "12"]), {"012": 1, "12": 2})


if __name__ == "__main__":
    unittest.main()
