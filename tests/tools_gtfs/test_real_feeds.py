"""The real feeds from import to blocks: the solver's network has the size the
importer estimated, every trip is served once in time, and the CSV and the
chart show every block and trip."""

import csv
import os
import re
import tempfile
import unittest
import xml.etree.ElementTree as ET

import support
from tarsel import blocks as tb
from tarsel import files as tf

SVG = "{http://www.w3.org/2000/svg}"


class RealFeed:
    feed = service = None
    trips = None

    @classmethod
    def setUpClass(cls):
        root = support.gtfs_dir()
        if root is None or not os.path.isdir(os.path.join(root, cls.feed)):
            raise unittest.SkipTest("GTFS feed %s not found (set TARSEL_GTFS_DIR)" % cls.feed)
        support.require_tovarin()
        cls.tmp = tempfile.TemporaryDirectory()
        cls.dir = os.path.join(cls.tmp.name, cls.feed)
        cls.imported = support.run_tool("gtfs_import", os.path.join(root, cls.feed), cls.dir,
                                        "--service", cls.service)
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
            feed_trips = {row["trip_id"] for row in csv.DictReader(handle)}
        self.assertEqual(len(rows), self.trips)
        self.assertEqual(sorted(r["gtfs_trip_id"] for r in rows), sorted(feed_trips))

    def test_chart_rows_and_bars(self):
        out = os.path.join(self.dir, "chart.svg")
        done = support.run_tool("block_chart", self.dir, "-o", out)
        self.assertEqual(done.returncode, 0, done.stderr)
        blocks = tb.read_block_file(os.path.join(self.dir, "Tarsel.bla"))
        rows = ET.parse(out).getroot().findall(".//%sg[@class='block']" % SVG)
        self.assertEqual(len(rows), len(blocks.blocks))
        self.assertEqual([len(r.findall(SVG + "rect[@class='trip']")) for r in rows],
                         [len(b.trips) for b in blocks.blocks])


class SalemKeizer(RealFeed, unittest.TestCase):
    feed, service, trips = "salem-keizer", "1", 1023


class ContraCosta(RealFeed, unittest.TestCase):
    feed, service, trips = "contra-costa", "Summer_WKDY", 896


if __name__ == "__main__":
    unittest.main()
