"""The real feeds from import to blocks: the solver's network has the size the
importer estimated, every trip is served once in time, and the CSV and the
chart show every block and trip; and back: the timetable Lurrick found, written
into the feed and imported again, costs what Lurrick said."""

import collections
import csv
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest
import xml.etree.ElementTree as ET

import support
from tarsel import blocks as tb
from tarsel.feed import Feed, table_rows
from tarsel import files as tf
from tarsel import schedule

SVG = "{http://www.w3.org/2000/svg}"


class RealFeed:
    feed = None
    options = ()
    trips = None

    @classmethod
    def setUpClass(cls):
        root = support.gtfs_dir()
        if root is None or not os.path.isdir(os.path.join(root, cls.feed)):
            raise unittest.SkipTest("GTFS feed %s not found (set TARSEL_GTFS_DIR)" % cls.feed)
        support.require_tovarin()
        cls.tmp = tempfile.TemporaryDirectory()
        cls.dir = os.path.join(cls.tmp.name, cls.feed)
        cls.source = os.path.join(root, cls.feed)
        cls.imported = support.run_tool("gtfs_import", cls.source, cls.dir, *cls.options)
        if cls.imported.returncode == 0:
            cls.solved = support.solve(cls.dir)

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    def setUp(self):
        self.assertEqual(self.imported.returncode, 0, self.imported.stderr)
        self.assertEqual(self.solved.returncode, 0, self.solved.stdout[-2000:])

    def test_network_size_as_estimated(self):
        estimate = re.search(r"(\d+) in memory of \d+, (\d+) long-arc records", self.imported.stdout)
        with open(os.path.join(self.dir, "Tarsel.log"), encoding="latin-1") as handle:
            row = next(line for line in handle if re.match(r"\s+1\t", line)).split()
        self.assertEqual((row[1], row[2]), estimate.groups())
        self.assertEqual(int(row[5]), self.trips)

    def test_every_trip_once_in_time(self):
        trip_file = tf.read_trip_file(os.path.join(self.dir, "Tarsel.bss"))
        blocks = tb.read_block_file(os.path.join(self.dir, "Tarsel.bla"))
        self.assertEqual(len(trip_file.trips), self.trips)
        self.assertEqual(tb.check_blocks(trip_file, blocks), [])
        self.assertEqual(tf.read_solution(os.path.join(self.dir, "Tarsel.sol")),
                         blocks.operational_cost + 1000 * blocks.num_buses)

    def test_csv_one_row_per_trip(self):
        done = support.run_tool("blocks_csv", self.dir)
        self.assertEqual(done.returncode, 0, done.stderr)
        with open(os.path.join(self.dir, "Tarsel_blocks.csv"), encoding="utf-8") as handle:
            rows = list(csv.DictReader(handle))
        with open(os.path.join(self.dir, "legend_trips.csv"), encoding="utf-8") as handle:
            feed_trips = {row["trip_id"]: row for row in csv.DictReader(handle)}
        self.assertEqual(len(rows), self.trips)
        self.assertEqual(sorted(r["gtfs_trip_id"] for r in rows), sorted(feed_trips))
        for row in rows:
            feed = feed_trips[row["gtfs_trip_id"]]
            self.assertEqual((row["route_short_name"], row["block_id"]),
                             (feed["route_short_name"], feed["block_id"]))
            self.assertTrue(row["origin_stop_name"] and row["destination_stop_name"], row)
        # A reader that stops early ends the output quietly.
        for tool in ("blocks_csv", "block_chart"):
            piped = subprocess.run("%s %s %s -o - | head -1" % (sys.executable, os.path.join(support.TOOLS, tool),
                                                                self.dir),
                                   shell=True, capture_output=True, text=True, timeout=300)
            self.assertEqual((piped.stdout.count("\n"), piped.stderr), (1, ""), tool)

    def test_chart_rows_and_bars(self):
        out = os.path.join(self.dir, "chart.svg")
        done = support.run_tool("block_chart", self.dir, "-o", out)
        self.assertEqual(done.returncode, 0, done.stderr)
        blocks = tb.read_block_file(os.path.join(self.dir, "Tarsel.bla"))
        root = ET.parse(out).getroot()
        rows = root.findall(".//%sg[@class='block']" % SVG)
        self.assertEqual(len(rows), len(blocks.blocks))
        self.assertEqual([len(r.findall(SVG + "rect[@class='trip']")) for r in rows],
                         [len(b.trips) for b in blocks.blocks])
        with open(os.path.join(self.dir, "legend_terminals.csv"), encoding="utf-8") as handle:
            depot = next(csv.DictReader(handle))["stop_name"]
        self.assertIn("%s, service %s, depot %s: %d vehicles" % (self.feed, self.options[1], depot, len(blocks.blocks)),
                      root.find(SVG + "title").text)
        # Bars carry the riders' route names, one colour per line.
        with open(os.path.join(self.dir, "legend_lines.csv"), encoding="utf-8") as handle:
            routes = {row["route_short_name"] for row in csv.DictReader(handle)}
        labels = {t.text for t in root.iterfind(".//%stext[@class='key']" % SVG)}
        self.assertTrue(labels and labels <= routes, labels - routes)
        bars = list(root.iterfind(".//%srect[@class='trip']" % SVG))
        by_key = {bar.get("data-key"): bar.get("fill") for bar in bars}
        self.assertEqual(len(set(by_key.values())), len(by_key))

    def test_report_figures(self):
        done = support.run_tool("report", self.dir)
        self.assertEqual(done.returncode, 0, done.stderr)
        with open(os.path.join(self.dir, "Tarsel_report.html"), encoding="utf-8") as handle:
            page = handle.read()
        self.assertIn('class="ok" id="checks"', page)
        self.assertNotIn('class="bad"', page)
        self.assertIn("<b>%d of %d</b><span>operator&#x27;s blocks in service at once" % self.operator_peak, page)

    def test_operator_schedule_within_the_rules(self):
        done = support.run_tool("operator_blocks", self.dir)
        self.assertEqual(done.returncode, 0, done.stderr)
        figures = json.loads(done.stdout.strip().split("\n")[-1])
        self.assertEqual(figures["forbidden_connections"], 0, done.stderr[:2000])
        trip_file = tf.read_trip_file(os.path.join(self.dir, "Tarsel.bss"))
        operator = tb.read_block_file(os.path.join(self.dir, "Tarsel_operator.bla"))
        self.assertEqual(tb.check_blocks(trip_file, operator), [])
        self.assertEqual(figures["total_cost"], 1000 * operator.num_buses + operator.operational_cost)
        # The operator's blocks are a schedule of the problem: Tovarin's optimum is no dearer.
        tovarin = tb.read_block_file(os.path.join(self.dir, "Tarsel.bla"))
        self.assertLessEqual(tovarin.num_buses, min(figures["vehicles"], self.goal_vehicles))
        self.assertLessEqual(tf.read_solution(os.path.join(self.dir, "Tarsel.sol")), figures["total_cost"])
        # The writer of the operator's file gives Tovarin's own blocks byte for byte, the date aside.
        matched, _ = tb.match_block_trips(trip_file, tovarin)
        vehicles = [[matched[(b.number, line.position)] for line in b.trips] for b in tovarin.blocks]
        text, _, _ = schedule.format_block_file(trip_file, tf.read_parameters(os.path.join(self.dir, "Tarsel.ini")),
                                                vehicles, stamp="")
        self.assertEqual(text[:-1], tf.read_text(os.path.join(self.dir, "Tarsel.bla")).rsplit("\n", 2)[0] + "\n")
        done = support.run_tool("report", self.dir, "-o", "-")
        self.assertTrue('class="ok" id="operator-rules"' in done.stdout)

    def test_annealed_timetable_back_to_the_feed(self):
        lurrick = os.path.join(os.path.dirname(support.require_tovarin()), "Lurrick")
        # Layovers learned from the blocks change with the shifts: the round trip
        # holds under the fixed rule.
        options = self.options + ("--layovers", "fixed")
        annealed = os.path.join(self.tmp.name, "annealed")
        self.assertEqual(support.run_tool("gtfs_import", self.source, annealed, *options).returncode, 0)
        done = subprocess.run([lurrick], cwd=annealed, stdin=subprocess.DEVNULL, capture_output=True, timeout=600)
        self.assertEqual(done.returncode, 0, done.stdout[-2000:])
        best = int(re.search(rb"\nMelhor FO: (\d+)\n", done.stdout).group(1))
        shifted = os.path.join(self.tmp.name, "shifted.zip")
        applied = support.run_tool("gtfs_apply_shifts", self.source, annealed, shifted)
        self.assertEqual(applied.returncode, 0, applied.stderr)
        again = os.path.join(self.tmp.name, "again")
        self.assertEqual(support.run_tool("gtfs_import", shifted, again, *options).returncode, 0)
        self.assertEqual(support.solve(again).returncode, 0)
        self.assertEqual(tf.read_solution(os.path.join(again, "Tarsel.sol")), best)


class SalemKeizer(RealFeed, unittest.TestCase):
    # Within the annealers' 20 terminals.
    feed, options, trips = "salem-keizer", ("--service", "1", "--max-terminals", "20"), 1023
    operator_peak = (47, 60)
    goal_vehicles = 47


class ContraCosta(RealFeed, unittest.TestCase):
    feed, options, trips = "contra-costa", ("--service", "Summer_WKDY"), 896
    operator_peak = (66, 150)
    goal_vehicles = 66

    def test_schedule_back_to_the_feed(self):
        """Tovarin's blocks exported and imported again: one block_id per
        vehicle, a pull-out and a pull-in each, and the blocks keep the rules
        of the problem they were solved under."""
        out = os.path.join(self.tmp.name, "scheduled.zip")
        done = support.run_tool("gtfs_export", self.source, self.dir, out)
        self.assertEqual(done.returncode, 0, done.stderr)
        solved = tb.read_block_file(os.path.join(self.dir, "Tarsel.bla"))
        with Feed(out) as feed:
            ends = collections.Counter((row["block_id"], bool(row["from_trip_id"] or row["from_deadhead_id"]),
                                        bool(row["to_trip_id"] or row["to_deadhead_id"]))
                                       for row in table_rows(feed, "deadheads.txt"))
        self.assertEqual(sorted(n for (_, before, after), n in ends.items() if before != after),
                         [1] * 2 * len(solved.blocks))
        again = os.path.join(self.tmp.name, "scheduled")
        self.assertEqual(support.run_tool("gtfs_import", out, again, *self.options).returncode, 0)
        # The exported blocks as the operator's, both under the rules the
        # import learns from them and under those they were solved with
        # (the same trips, the exported block_ids): Tovarin's vehicles, and
        # under its own rules Tovarin's cost.
        with open(os.path.join(again, "legend_trips.csv"), encoding="utf-8") as handle:
            exported = {row["aux_value"]: row["block_id"] for row in csv.DictReader(handle)}
        rules = os.path.join(self.tmp.name, "rules")
        shutil.copytree(self.dir, rules)
        with open(os.path.join(rules, "legend_trips.csv"), encoding="utf-8") as handle:
            rows = list(csv.DictReader(handle))
        with open(os.path.join(rules, "legend_trips.csv"), "w", encoding="utf-8", newline="") as handle:
            writer = csv.DictWriter(handle, fieldnames=list(rows[0]))
            writer.writeheader()
            writer.writerows({**row, "block_id": exported[row["aux_value"]]} for row in rows)
        self.assertEqual(len(set(exported.values())), len(solved.blocks))
        for directory in (again, rules):
            done = support.run_tool("operator_blocks", directory)
            self.assertEqual(done.returncode, 0, done.stderr)
            figures = json.loads(done.stdout.splitlines()[-1])
            self.assertEqual((figures["vehicles"], figures["forbidden_connections"]), (len(solved.blocks), 0))
        self.assertEqual(figures["total_cost"], tf.read_solution(os.path.join(self.dir, "Tarsel.sol")))


if __name__ == "__main__":
    unittest.main()
