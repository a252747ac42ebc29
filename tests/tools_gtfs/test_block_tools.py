"""The file readers of the tarsel package, the arc count, and blocks_csv and
block_chart on a small solved directory written here."""

import collections
import csv
import io
import math
import os
import random
import subprocess
import sys
import tempfile
import unittest
import xml.etree.ElementTree as ET

import support
from tarsel import block_chart, blocks_csv, report
from tarsel import blocks as tb
from tarsel import files as tf
from tarsel.network import LONG, SHORT, connection_kind, count_connection_arcs

SVG = "{http://www.w3.org/2000/svg}"
NAMES = ["DEPOT", "A", "B"]
MATRIX = [[0, 10, 10], [10, 0, 20], [10, 20, 0]]
# Trips 1 and 2 are alike in all that a block line shows.
TRIPS = [tf.TripRow(5, "A", 40, "B", 101.0, 11, 5), tf.TripRow(5, "A", 40, "B", 101.0, 12, 5),
         tf.TripRow(50, "B", 80, "A", 102.0, 13, 5), tf.TripRow(180, "B", 210, "A", 101.0, 14, 5)]


def block_file(blocks, buses=None):
    """A block file in the solver's formats; blocks are lists of
    (trip index, dead run, wait, park or None)."""
    out = ["#SDVSP solved through Arc Generation Technique\n",
           "\n#Blocks of trip with number of buses: %d\n" % (len(blocks) if buses is None else buses),
           "#Total of trips: %d\n#Total cost of this schedule: %d\n#Minimum depot time: %02d:%02d\n"
           % (len(TRIPS), 321, 0, 30)]
    for number, lines in enumerate(blocks, 1):
        first = TRIPS[lines[0][0]]
        out.append(" \n\n <Vehicle Block --- %d >\n" % number)
        out.append("\nLeave Depot: DEPOT at %s\n" % tf.format_clock(first.departure - 10))
        out.append("\nTrip    <----Partida---->    <----Chegada---->    V.Vazia  T.Espera  Linha \n"
                   + "-" * 75 + "\n")
        for position, (index, dead_run, wait, park) in enumerate(lines, 1):
            trip = TRIPS[index]
            if park is not None:
                out.append("\n    Return to Depot: DEPOT & Park for %s      %2d        0\n\n"
                           % (tf.format_clock(park), 10))
            out.append("%4d    %-8s    %s    %-8s    %s      %2d       %2d      %2.2f\n"
                       % (position, trip.origin, tf.format_clock(trip.departure), trip.destination,
                          tf.format_clock(trip.arrival), dead_run, wait, trip.group_key))
        out.append("-" * 75 + "\nReturn to the Depot: DEPOT - DeadRun: 10\n")
        out.append("\nTotal Dead Run      \t00:40  hh:mm\nTotal Extra Layover   \t00:00  hh:mm\n"
                   "Total Parking at Depot\t02:00  hh:mm\n" + "-" * 36 + "\n")
    out.append("\n\n----- Statistics from Schedule -----\nTotal Dead Run      \t01:20  hh:mm\n"
               "Total Layover         \t00:10  hh:mm\nTotal Parking at Depot\t02:00  hh:mm\n"
               "Total Depot Returns: \t    1\nTotal Scheduling Cost:\t  200\n" + "-" * 36 + "\n"
               "Mon Dec  7 10:00:00 2026\n")
    return "".join(out).encode("latin-1")


SCHEDULE = [[(0, 10, 0, None), (3, 10, 0, 120)], [(1, 10, 0, None), (2, 0, 10, None)]]


def write_problem(directory, trips, schedule, buses=None):
    template = tf.format_matrix_section(NAMES, MATRIX)
    support.write_file(os.path.join(directory, "Tarsel.bss"), tf.format_trip_file(template, trips, 5))
    support.write_file(os.path.join(directory, "Tarsel.bla"), block_file(schedule, buses))


def write_solved(directory):
    """A solved problem of TRIPS and SCHEDULE with legends as gtfs_import
    writes them, with gaps a feed may leave: no stop name for B, no block_id
    for trip 13, no short name for trip 14."""
    write_problem(directory, TRIPS, SCHEDULE)
    legends = {
        "legend_trips.csv": "aux_value,trip_id,route_id,route_short_name,block_id\n"
                            "11,g11,r1,R1,b7\n12,g12,r1,R1,b8\n13,g13,r2,Rapid Express 102,\n14,g14,r1,,b7\n",
        "legend_lines.csv": "line_key,route_id,route_short_name,route_long_name,route_color\n"
                            "101.00,r1,R1,Alpha - Beta,000000\n102.00,r2,Rapid Express 102,,000000\n",
        "legend_terminals.csv": "terminal,short_name,role,stop_name\n0,DEPOT,depot,Main Garage\n"
                                "1,A,terminal,Alpha Square\n2,B,terminal,\n",
        "Tarsel.ini": "Tarsel problem from GTFS feed town, date 20260608 (gtfs_import)\n",
        "Tarsel.sol": "2321\n",
    }
    for name, text in legends.items():
        support.write_file(os.path.join(directory, name), text)


class SolvedDirectory(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.addCleanup(self.tmp.cleanup)
        self.dir = self.tmp.name
        write_solved(self.dir)

    def write_problem(self, trips, schedule, buses=None):
        write_problem(self.dir, trips, schedule, buses)

    def test_block_file_reading(self):
        blocks = tb.read_block_file(os.path.join(self.dir, "Tarsel.bla"))
        self.assertEqual((blocks.num_buses, blocks.num_trips, blocks.operational_cost, blocks.min_depot_time),
                         (2, 4, 321, 30))
        first = blocks.blocks[0]
        self.assertEqual((first.leave, first.return_dead_run, first.back), (-5, 10, 220))
        self.assertEqual([(t.depot_return, t.park, t.to_depot, t.line_key) for t in first.trips],
                         [(False, 0, 0, "101.00"), (True, 120, 10, "101.00")])
        self.assertEqual(blocks.statistics, {"dead_run": 80, "layover": 10, "parking": 120,
                                             "depot_returns": 1, "scheduling_cost": 200})

    def test_csv_rows_with_alike_trips_in_file_order(self):
        done = support.run_tool("blocks_csv", self.dir, "-o", "-")
        self.assertEqual(done.returncode, 0, done.stderr)
        rows = list(csv.reader(io.StringIO(done.stdout)))
        self.assertEqual(rows[0][:6], ["block", "position", "origin", "departure", "destination", "arrival"])
        self.assertEqual(rows[0][14:], ["route_short_name", "origin_stop_name", "destination_stop_name",
                                        "block_id", "interlining_before"])
        self.assertEqual(rows[1:], [
            ["1", "1", "A", "00:05", "B", "00:40", "10", "0", "0", "0", "101.00", "1", "11", "g11",
             "R1", "Alpha Square", "", "b7", "0"],
            ["1", "2", "B", "03:00", "A", "03:30", "10", "0", "1", "120", "101.00", "4", "14", "g14",
             "R1", "", "Alpha Square", "b7", "0"],
            ["2", "1", "A", "00:05", "B", "00:40", "10", "0", "0", "0", "101.00", "2", "12", "g12",
             "R1", "Alpha Square", "", "b8", "0"],
            ["2", "2", "B", "00:50", "A", "01:20", "0", "10", "0", "0", "102.00", "3", "13", "g13",
             "Rapid Express 102", "", "Alpha Square", "", "1"],
        ])

    def test_faults_are_found(self):
        late = list(TRIPS)
        late[1] = tf.TripRow(5, "A", 40, "B", 101.0, 12, 15)  # 15 min layover: 00:50 comes too early
        self.write_problem(late, SCHEDULE)
        trip_file = tf.read_trip_file(os.path.join(self.dir, "Tarsel.bss"))
        faults = tb.check_blocks(trip_file, tb.read_block_file(os.path.join(self.dir, "Tarsel.bla")))
        self.assertEqual(faults, ["block 2: line 2 cannot follow line 1 in time"])
        # trip 4 twice, trip 3 never, and a header that disagrees
        self.write_problem(TRIPS, [[(0, 10, 0, None), (3, 10, 0, 120)], [(1, 10, 0, None), (3, 10, 0, None)]],
                           buses=3)
        trip_file = tf.read_trip_file(os.path.join(self.dir, "Tarsel.bss"))
        faults = tb.check_blocks(trip_file, tb.read_block_file(os.path.join(self.dir, "Tarsel.bla")))
        self.assertEqual(faults, ["block 2 line 2 matches no trip: ('B', 180, 'A', 210, '101.00')",
                                  "trip 3 served 0 times", "header says 3 buses, file holds 2 blocks"])
        done = support.run_tool("blocks_csv", self.dir)
        self.assertEqual(done.returncode, 1)
        self.assertIn("trip 3 served 0 times", done.stderr)

    def test_chart(self):
        done = support.run_tool("block_chart", self.dir, "-o", "-", "--scale", "2")
        self.assertEqual(done.returncode, 0, done.stderr)
        root = ET.fromstring(done.stdout.encode("utf-8"))
        self.assertEqual(root.find(SVG + "title").text,
                         "Vehicle blocks of town, Mon 8 Jun 2026, depot Main Garage: 2 vehicles")
        rows = root.findall(".//%sg[@class='block']" % SVG)
        self.assertEqual([r.get("data-block") for r in rows], ["1", "2"])
        bars = [rect for row in rows for rect in row.findall(SVG + "rect") if rect.get("class") == "trip"]
        self.assertEqual(len(bars), 4)
        # 2 px a minute: 35 minutes long, starting 5 + 60 minutes after the first hour tick (-01:00)
        self.assertEqual(float(bars[0].get("width")), 70.0)
        self.assertEqual(float(bars[1].get("x")) - float(bars[0].get("x")), 2 * 175)
        fills = [bar.get("fill") for bar in bars]
        self.assertEqual(fills[0], fills[1])
        self.assertNotEqual(fills[0], fills[3])  # the feed's colours are alike, so not taken
        self.assertEqual(bars[1].find(SVG + "title").text,
                         "Trip 4, route R1 Alpha - Beta (line 101)\nB 03:00 \u2192 Alpha Square 03:30\n"
                         "GTFS trip g14, operator block b7")
        self.assertEqual(len(rows[0].findall(SVG + "rect[@class='parking']")), 1)
        self.assertEqual(len(rows[1].findall(SVG + "line[@class='wait']")), 1)
        # The long route name does not fit its 60 px bar.
        labels = [t.text for row in rows for t in row.findall(SVG + "text[@class='key']")]
        self.assertEqual(labels, ["R1", "R1", "R1"])
        service = root.find(".//%srect[@class='service']" % SVG)
        self.assertEqual(int(service.get("height")), int(bars[0].get("height")))

    def report(self, *args):
        done = support.run_tool("report", self.dir, "-o", "-", *args)
        self.assertEqual(done.returncode, 0, done.stderr)
        return done.stdout

    def test_report(self):
        # Feed texts are escaped and keep their accents in the page's own charset.
        with open(os.path.join(self.dir, "legend_terminals.csv"), "w", encoding="utf-8") as handle:
            handle.write("terminal,short_name,role,stop_name\n0,DEPOT,depot,Main Garage\n"
                         "1,A,terminal,Pra\u00e7a <S\u00e3o> & Co\n2,B,terminal,\n")
        page = self.report()
        self.assertIn('<meta charset="utf-8">', page)
        self.assertIn("Pra\u00e7a &lt;S\u00e3o&gt; &amp; Co", page)
        self.assertNotIn("<S\u00e3o>", page)
        self.assertEqual(page.count('<g class="block"'), 2)
        self.assertEqual(page.count("<tr>", page.index('id="blocks"')), 1 + 4)
        self.assertNotIn("<?xml", page)
        # four trips in the operator's blocks b7 and b8
        self.assertIn("<b>2 of 2</b><span>operator&#x27;s blocks in service at once", page)
        self.assertIn('class="ok" id="checks"', page)
        # A solution of another run is flagged, not passed over.
        support.write_file(os.path.join(self.dir, "Tarsel.sol"), "2400\n")
        page = self.report()
        self.assertIn('class="bad" id="checks"', page)
        self.assertIn("Tarsel.sol 2400 \u2260 2 vehicles x 1000 + operational cost 321", page)

    def test_report_without_legend_or_solution(self):
        for name in ("legend_trips.csv", "legend_lines.csv", "legend_terminals.csv", "Tarsel.ini"):
            os.remove(os.path.join(self.dir, name))
        page = self.report()
        self.assertIn("<title>Vehicle blocks of %s, depot DEPOT: 2 vehicles</title>"
                      % os.path.basename(self.dir), page)
        self.assertIn('<text class="key"', page)
        self.assertNotIn("operator", page)
        self.assertNotIn("route_short_name", page)   # columns empty without a feed are left out
        os.remove(os.path.join(self.dir, "Tarsel.sol"))
        done = support.run_tool("report", self.dir)
        self.assertEqual(done.returncode, 1)
        self.assertIn("no Tarsel.sol", done.stderr)
        self.assertIn("run Tovarin first", done.stderr)
        self.assertFalse(os.path.exists(os.path.join(self.dir, "Tarsel_report.html")))

    def test_report_of_a_changed_timetable(self):
        moved = list(TRIPS)
        moved[2] = tf.TripRow(52, "B", 82, "A", 102.0, 13, 5)
        template = tf.format_matrix_section(NAMES, MATRIX)
        support.write_file(os.path.join(self.dir, "Tarsel_best.bss"), tf.format_trip_file(template, moved, 5))
        with open(os.path.join(self.dir, "Tarsel_shifts.csv"), "w") as handle:
            handle.write("aux_value,line_key,origin,destination,departure_before,departure_after,shift_minutes\n"
                         "11,101.00,A,B,00:05,00:05,0\n12,101.00,A,B,00:05,00:05,0\n"
                         "13,102.00,B,A,00:50,00:52,2\n14,101.00,B,A,03:00,03:00,0\n")
        page = self.report()
        moved_table = page[page.index('id="moved"'):page.index("</table>", page.index('id="moved"'))]
        self.assertEqual(moved_table.count("<tr>"), 2)
        self.assertIn("<td>00:50</td><td>00:52</td><td>+2</td>", moved_table)
        # The block file is the timetable read's: its figures stand in that column only.
        self.assertIn('<td class="t">vehicles</td><td>2</td><td>not solved here</td>', page)
        self.assertIn('<td class="t">trips moved</td><td></td><td>1 of 4</td>', page)
        # Not while shift_search's set is half in place: the two files may be of two runs.
        support.write_file(os.path.join(self.dir, "Tarsel_search.commit"), "remove Tarsel_shifts.csv\n")
        done = support.run_tool("report", self.dir)
        self.assertEqual((done.returncode, done.stderr.count("\n")), (1, 1))
        self.assertIn("Tarsel_search.commit: shift_search's timetables are half in place", done.stderr)

    def test_line_colours_stay_distinct(self):
        keys = ["%d.00" % n for n in range(1, 31)]
        colours = list(block_chart.palette(keys).values())
        rgb = [tuple(int(c[i:i + 2], 16) for i in (1, 3, 5)) for c in colours]
        closest = min(math.dist(a, b) for i, a in enumerate(rgb) for b in rgb[i + 1:])
        self.assertGreater(closest, 35, colours)
        # a feed's own colours where they differ enough, never where two are alike
        own = {"1.00": "#e41a1c", "2.00": "#377eb8", "3.00": "#4daf4a"}
        self.assertEqual(block_chart.palette(own, own), own)
        own["3.00"] = "#e41a1d"
        self.assertNotEqual(block_chart.palette(own, own), own)


def spoil(name, change):
    """A damage: change applied to the text of one file of the directory."""
    def damage(directory):
        path = os.path.join(directory, name)
        with open(path, "rb") as handle:
            data = handle.read().decode("latin-1")
        support.write_file(path, change(data).encode("latin-1"))
    return damage


def another_run(directory):
    moved = list(TRIPS)
    moved[3] = tf.TripRow(185, "B", 215, "A", 101.0, 14, 5)
    template = tf.format_matrix_section(NAMES, MATRIX)
    support.write_file(os.path.join(directory, "Tarsel.bss"), tf.format_trip_file(template, moved, 5))


RESULT_TOOLS = {"block_chart": block_chart, "blocks_csv": blocks_csv, "report": report}
ALL = tuple(RESULT_TOOLS)

# Each row: a damage of the solved directory, the tools it is tried on, their
# options, the exit status and what standard error must say.  A refusal
# leaves every earlier result in place.
RESULT_DAMAGE = [
    ("block file cut after its header", spoil("Tarsel.bla", lambda t: t[:t.index(" <Vehicle")]), ALL, (), 1,
     "Tarsel.bla does not belong to"),
    ("block file cut in a block", spoil("Tarsel.bla", lambda t: t[:t.index("Return to the Depot")]), ALL, (), 1,
     "trip 2 served 0 times"),
    ("block file cut before its statistics", spoil("Tarsel.bla", lambda t: t[:t.index("\n\n----- Stat")]), ALL, (),
     1, "no schedule statistics at the end: the file is cut"),
    ("block file of another run", another_run, ALL, (), 1, "trip 4 served 0 times"),
    ("a header count that is no number", spoil("Tarsel.bla", lambda t: t.replace("trips: 4", "trips: x")), ALL, (),
     1, "Tarsel.bla:4: 'x' is not a number"),
    ("legend with a blank aux_value", spoil("legend_trips.csv", lambda t: t.replace("\n13,", "\n,")), ALL, (), 1,
     "legend_trips.csv:4: aux_value '' is not a number"),
    ("control characters in names", spoil("legend_terminals.csv", lambda t: t.replace("Alpha", "Al\x01ph\x1ba")),
     ALL, (), 0, ""),
    ("shifts file cut mid-row", spoil("Tarsel_shifts.csv", lambda t: t[:t.index("13,102") + 9]), ("report",), (), 0,
     "Tarsel_shifts.csv:3: not the header's 7 fields"),
    ("a solution of another run", spoil("Tarsel.sol", lambda t: "2400\n"), ("report",), (), 0,
     "Tarsel.sol 2400 != 2 vehicles x 1000 + operational cost 321 (marked in the page)"),
    ("--scale nan", None, ("block_chart", "report"), ("--scale", "nan"), 2, "--scale"),
]


class DamagedResults(unittest.TestCase):
    def test_every_damage_ends_as_expected(self):
        for name, damage, tools, options, status, text in RESULT_DAMAGE:
            for tool in tools:
                with self.subTest(name, tool=tool), tempfile.TemporaryDirectory() as directory:
                    write_solved(directory)
                    with open(os.path.join(directory, "Tarsel_shifts.csv"), "w") as handle:
                        handle.write("aux_value,line_key,origin,destination,departure_before,departure_after,"
                                     "shift_minutes\n11,101.00,A,B,00:05,00:05,0\n13,102.00,B,A,00:50,00:50,0\n")
                    self.assertEqual(support.run_in_process(RESULT_TOOLS[tool], directory)[0], 0)
                    if damage:
                        damage(directory)
                    before = support.snapshot(directory)
                    ran = support.run_in_process(RESULT_TOOLS[tool], directory, *options)
                    support.check_end(self, ran, status, text, directory, before)
                    if status == 0 and tool == "block_chart":
                        ET.parse(os.path.join(directory, "Tarsel_blocks.svg"))

    def test_output_that_takes_nothing(self):
        write_solved(self.tmp.name)
        for tool in ("block_chart", "blocks_csv", "report"):
            for redirect in (">/dev/full", ">&-"):
                with self.subTest(tool, redirect=redirect):
                    done = subprocess.run("%s %s %s -o - %s" % (sys.executable, os.path.join(support.TOOLS, tool),
                                                                self.tmp.name, redirect),
                                          shell=True, capture_output=True, text=True)
                    self.assertEqual(done.returncode, 1, done.stderr)
                    self.assertRegex(done.stderr, r"^%s: standard output: [^\n]+\n$" % tool)

    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.addCleanup(self.tmp.cleanup)


class Readers(unittest.TestCase):
    def test_trip_file_by_fixed_columns(self):
        text = ("free text\n[DEAD_RUN_MATRIX]\nNUM_TERMINALS = 2\nskipped\nD\tX\n"
                "D 0:00 1 : 05\nX 0 :7 0:00\n\n[TRIP] 0\n"
                "Trip0    =  605, X            | 2650, Q            | 12.50 \t7\t3\n"
                "-----\nTrip1    = 0700, X            | 0710, X            | 1.00 \t8\t3\n")
        with tempfile.NamedTemporaryFile("w", suffix=".bss", delete=False) as handle:
            handle.write(text)
        self.addCleanup(os.remove, handle.name)
        problem = tf.read_trip_file(handle.name)
        self.assertEqual((problem.names, problem.matrix), (["D", "X"], [[0, 65], [7, 0]]))
        self.assertEqual(len(problem.trips), 1)  # the dashes end the trips
        trip = problem.trips[0]
        self.assertEqual((trip.departure, trip.arrival, trip.origin, trip.destination, trip.group_key,
                          trip.aux_value, trip.min_layover), (365, 26 * 60 + 50, "X", "Q", 12.5, 7, 3))
        self.assertEqual(problem.terminal("Q"), 0)  # an unknown name is the depot's

    def test_times(self):
        self.assertEqual(tf.format_hhmm(25 * 60 + 10), "2510")
        self.assertEqual(tf.format_clock(-5), "00:-5")
        self.assertEqual(tf.parse_clock("00:-5"), -5)
        self.assertEqual(tf.parse_clock("-1:-30"), -90)
        for bad in (-1, 100 * 60):
            with self.assertRaises(ValueError):
                tf.format_hhmm(bad)
        with self.assertRaises(ValueError):
            tf.format_trip_line(0, tf.TripRow(0, "TOOLONGNM", 10, "A", 1.0, 1, 0))

    def test_arc_count_follows_network_generation(self):
        """Against the rule pair by pair on random timetables with ties."""
        rng = random.Random(7)
        for _ in range(30):
            size = rng.randint(1, 6)
            matrix = [[0 if a == b else rng.randint(1, 40) for b in range(size)] for a in range(size)]
            trips = []
            for _ in range(rng.randint(0, 70)):
                departure = rng.randint(0, 600) // 5 * 5
                trips.append(tf.TripRow(departure, rng.randrange(size), departure + rng.choice([0, 10, 45]),
                                        rng.randrange(size), 1.0, 0, rng.choice([0, 5])))
            trips.sort(key=lambda t: t.departure)
            param = rng.choice([0, 30, 120])
            kinds = collections.Counter(
                connection_kind(a.arrival + a.min_layover, b.departure, matrix[a.destination][b.origin],
                                matrix[a.destination][0] + matrix[0][b.origin], param)
                for i, a in enumerate(trips) for b in trips[i + 1:])
            self.assertEqual(count_connection_arcs(trips, lambda n: n, matrix, param), (kinds[SHORT], kinds[LONG]))


if __name__ == "__main__":
    unittest.main()
