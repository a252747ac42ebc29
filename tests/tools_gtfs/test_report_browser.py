"""The report of a small solved problem as a browser shows it: headless
Chromium runs the page's script without errors, sees one chart row per block
and every table row, and takes a screenshot of it; and what_if's page."""

import os
import re
import shutil
import struct
import subprocess
import tempfile
import unittest

import support
import test_block_tools
import test_gtfs_import


def browser():
    for name in ("chromium", "chromium-browser"):
        path = shutil.which(name)
        if path:
            return path
    return None


class ReportInBrowser(unittest.TestCase):
    def setUp(self):
        self.chromium = browser()
        if self.chromium is None:
            self.skipTest("chromium not installed (Debian package chromium); the page is not checked in a browser")
        self.tmp = tempfile.TemporaryDirectory()
        self.addCleanup(self.tmp.cleanup)
        self.dir = os.path.join(self.tmp.name, "problem")
        os.mkdir(self.dir)
        test_block_tools.write_solved(self.dir)
        done = support.run_tool("report", self.dir)
        self.assertEqual(done.returncode, 0, done.stderr)
        self.page = "file://" + os.path.join(self.dir, "Tarsel_report.html")

    def run_browser(self, *args):
        # A profile of its own, so that runs side by side do not share one.
        command = [self.chromium, "--headless", "--no-sandbox", "--disable-gpu", "--hide-scrollbars",
                   "--user-data-dir=" + os.path.join(self.tmp.name, "profile")] + list(args) + [self.page]
        return subprocess.run(command, capture_output=True, timeout=180, stdin=subprocess.DEVNULL)

    def test_script_runs_and_page_renders(self):
        dom = self.run_browser("--dump-dom").stdout.decode("utf-8", errors="replace")
        error = re.search(r'data-error="([^"]*)"', dom)
        self.assertIsNone(error, error and error.group(1))
        body = re.search(r"<body([^>]*)>", dom)
        self.assertIsNotNone(body, dom[:2000])
        marks = dict(re.findall(r'data-(\w+)="([^"]*)"', body.group(1)))
        # 2 blocks in the chart, 4 trips in the block table
        self.assertEqual(marks, {"rows": "4", "blocks": "2", "ok": "1"})
        shot = os.path.join(self.tmp.name, "report.png")
        self.run_browser("--screenshot=" + shot, "--window-size=1000,900")
        data = support.read_file(shot)
        self.assertEqual(data[:8], b"\x89PNG\r\n\x1a\n")
        self.assertEqual(struct.unpack(">II", data[16:24]), (1000, 900))
        # A blank page compresses to a few kilobytes.
        self.assertGreater(len(data), 20000)

    def test_what_if_page(self):
        support.require_tovarin()
        feed, out = os.path.join(self.tmp.name, "feed"), os.path.join(self.tmp.name, "what_if")
        test_gtfs_import.two_line_feed(feed)
        done = support.run_tool("what_if", feed, out, "--service", "WK", "--rules", "fixed-5")
        self.assertEqual(done.returncode, 0, done.stderr)
        self.page = "file://" + os.path.join(out, "what_if.html")
        dom = self.run_browser("--dump-dom").stdout.decode("utf-8", errors="replace")
        self.assertNotIn("data-error", dom)
        # the script ran over both rows of the table
        self.assertRegex(dom, r'<body data-rows="2" data-blocks="0" data-ok="1">')
        self.assertEqual(dom.count('<g class="scenario">'), 2)


if __name__ == "__main__":
    unittest.main()
