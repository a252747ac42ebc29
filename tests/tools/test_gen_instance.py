"""The instance generator: its files are read back the way the solver and the
annealers read them, by fixed widths and counted characters."""

import os
import re
import subprocess
import sys
import tempfile
import unittest

GENERATOR = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "gen_instance")
LEMON_BASELINE = os.environ.get("LEMON_BASELINE", "")
TOVARIN = os.environ.get("TOVARIN", "")


def generate(directory, *options):
    return subprocess.run([sys.executable, GENERATOR, directory] + list(options),
                          check=True, capture_output=True, text=True).stderr


def read_bytes(directory, name):
    with open(os.path.join(directory, name), "rb") as stream:
        return stream.read()


def parse_trip_file(data):
    """The trip reader's steps: names and matrix as tokens after the count
    line and the line it skips, three skipped lines, then lines from 'T'."""
    lines = data.decode("cp1252").split("\n")
    at = next(k for k, line in enumerate(lines) if line.startswith("[DEAD_RUN_MATRIX]"))
    count = int(lines[at + 1][16:])
    tokens = "\n".join(lines[at + 3:at + 4 + count]).split()
    rows = [tokens[count + r * (count + 1) + 1:count + (r + 1) * (count + 1)] for r in range(count)]
    matrix = [[int(h) * 60 + int(m) for h, m in (entry.split(":") for entry in row)] for row in rows]
    trips = []
    for line in lines[at + 4 + count + 2:]:
        if not line.startswith("T"):
            break
        key, aux, layover = line[53:].split()
        trips.append(dict(line=line, departure=int(line[11:13]) * 60 + int(line[13:15]),
                          arrival=int(line[32:34]) * 60 + int(line[34:36]), origin=line[17:25].split(" ")[0],
                          destination=line[38:46].split(" ")[0], key=float(key), aux=int(aux),
                          layover=int(layover)))
    return tokens[:count], matrix, trips


class Generator(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory()
        cls.report = generate(cls.tmp.name, "--trips", "700", "--terminals", "40", "--seed", "11")
        cls.data = read_bytes(cls.tmp.name, "Tarsel.bss")
        cls.template = read_bytes(cls.tmp.name, "Teste.mvm")
        cls.names, cls.matrix, cls.trips = parse_trip_file(cls.data)

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    def test_same_seed_same_bytes_and_no_stale_groups(self):
        with tempfile.TemporaryDirectory() as tmp:
            for name, seed, groups in (("a", "4", "5"), ("b", "4", "5"), ("c", "5", "0")):
                generate(os.path.join(tmp, name), "--trips", "300", "--terminals", "20", "--groups", groups,
                         "--seed", seed)
            for name in ("Tarsel.ini", "Tarsel.bss", "Teste.mvm", "Tarsel.prr"):
                self.assertEqual(read_bytes(tmp + "/a", name), read_bytes(tmp + "/b", name), name)
            self.assertNotEqual(read_bytes(tmp + "/a", "Tarsel.bss"), read_bytes(tmp + "/c", "Tarsel.bss"))
            generate(tmp + "/a", "--trips", "30", "--terminals", "6", "--force")
            self.assertFalse(os.path.exists(tmp + "/a/Tarsel.prr"))

    def test_refusals_leave_the_directory_alone(self):
        with tempfile.TemporaryDirectory() as tmp:
            generate(tmp + "/p", "--trips", "30", "--terminals", "6")
            before = {n: read_bytes(tmp + "/p", n) for n in os.listdir(tmp + "/p")}
            open(tmp + "/file", "w").close()
            for target, options, status, text in (
                    (tmp + "/file", (), 1, "is not a directory"),
                    (tmp + "/p", ("--seed", "2"), 1, "already holds another problem (Teste.mvm, Tarsel.bss)"),
                    (tmp + "/p", ("--dead-run-mult", "nan"), 2, "--dead-run-mult")):
                done = subprocess.run([sys.executable, GENERATOR, target, "--trips", "30", "--terminals", "6"]
                                      + list(options), capture_output=True, text=True)
                self.assertEqual(done.returncode, status, done.stderr)
                self.assertTrue(status == 2 or done.stderr.count("\n") == 1, done.stderr)
                self.assertIn(text, done.stderr)
                self.assertEqual({n: read_bytes(tmp + "/p", n) for n in os.listdir(tmp + "/p")}, before)

    def test_layout_around_the_template(self):
        self.assertTrue(self.data.startswith(
            b"# Rede criada com base nos hor\xe1rios de partida e chegadas das viagens\n"
            b"# Mon Jan  1 00:00:00\n\n" + self.template + b"\n\n[TRIP] 5\nTrip0    = "))
        self.assertRegex(self.template[-1:].decode(), r"\d", "the template ends right after the last value")
        self.assertRegex(self.data, rb"\n-{59}\nTotal de viagens: 700\n\nTempo total de opera\xe7\xe3o: "
                                    rb"\d\d+:\d\d\n$")

    def test_terminals_and_symmetric_matrix(self):
        self.assertEqual((len(self.names), self.names[0]), (40, "DEPOT"))
        for r, row in enumerate(self.matrix):
            self.assertEqual([0] + [self.matrix[c][r] for c in range(len(row))], [row[r]] + row)

    def test_trip_lines(self):
        self.assertEqual(len(self.trips), 700)
        departures = [trip["departure"] for trip in self.trips]
        self.assertEqual(departures, sorted(departures))
        for number, trip in enumerate(self.trips):
            line = trip["line"]
            self.assertEqual(line[:11], "Trip%-4d = " % number)
            self.assertEqual((line[15:17], line[25:32], line[36:38], line[46:53]), (", ", "     | ", ", ", "     | "))
            self.assertRegex(line[53:], r"^\d+\.\d\d \t\d\t\d$")
            self.assertLess(max(int(line[13:15]), int(line[34:36])), 60)
            # Inside the day even after the annealer's largest shift.
            self.assertTrue(3 <= trip["departure"] and trip["arrival"] <= 23 * 60 + 56)
            for name in (trip["origin"], trip["destination"]):
                self.assertLessEqual(len(name), 8)
                self.assertIn(name, self.names, "an unknown name would silently become the depot")
            a, b = self.names.index(trip["origin"]), self.names.index(trip["destination"])
            duration = trip["arrival"] - trip["departure"]
            if trip["aux"] == 2:
                self.assertEqual(a, b)
                self.assertIn(duration, range(180, 301))
            else:
                self.assertNotIn(0, (a, b), "short trips run between terminals, not from the depot")
                self.assertIn(duration - self.matrix[a][b], range(5, 41))

    @unittest.skipUnless(LEMON_BASELINE, "LEMON_BASELINE names the reference solver")
    def test_network_size_agrees_with_the_reference_solver(self):
        sizes = re.search(r"holds (\d+) arcs in memory and writes (\d+) long", self.report).groups()
        done = subprocess.run([LEMON_BASELINE, self.tmp.name], check=True, capture_output=True, text=True)
        self.assertIn("short=%s long=%s " % sizes, done.stdout)
        self.assertIn("status=OPTIMAL", done.stdout)

    @unittest.skipUnless(TOVARIN, "TOVARIN names the solver")
    def test_network_size_agrees_with_the_solver(self):
        """The tools' connection rule (short arcs in memory, long-arc records)
        against the network the solver itself builds, ties and all."""
        cases = [("--seed", "3"), ("--seed", "4", "--short-arc-param", "0", "--terminals", "4"),
                 ("--seed", "5", "--short-arc-param", "240", "--long-share", "0.5"),
                 ("--seed", "6", "--terminals", "2", "--short-arc-param", "15")]
        for options in cases:
            with self.subTest(options=options), tempfile.TemporaryDirectory() as tmp:
                report = generate(tmp, "--trips", "150", *options)
                sizes = re.search(r"holds (\d+) arcs in memory and writes (\d+) long", report).groups()
                done = subprocess.run([TOVARIN], cwd=tmp, stdin=subprocess.DEVNULL, capture_output=True, text=True,
                                      timeout=300)
                self.assertEqual(done.returncode, 0, done.stderr)
                solver = re.search(r"Total of Short Arcs: (\d+)\nTotal of Long Arcs: (\d+)", done.stdout).groups()
                self.assertEqual(sizes, solver)

    def test_parameters_by_label_width(self):
        with tempfile.TemporaryDirectory() as tmp:
            generate(tmp, "--trips", "5", "--terminals", "3", "--min-depot-time", "01:30", "--deadrun-weight", "12",
                     "--layover-weight", "3", "--short-arc-param", "45", "--dead-run-mult", "1.5")
            lines = read_bytes(tmp, "Tarsel.ini").decode("ascii").split("\n")
            self.assertEqual((len(lines), float(lines[1][18:]), lines[2][15:]), (7, 1.5, "01:30"))
            self.assertEqual([int(line[14:]) for line in lines[3:6]], [12, 3, 45])

    def test_groups_read_as_counted_characters(self):
        with tempfile.TemporaryDirectory() as tmp:
            generate(tmp, "--trips", "200", "--terminals", "15", "--groups", "6", "--link-cost", "7")
            _, _, trips = parse_trip_file(read_bytes(tmp, "Tarsel.bss"))
            lines = read_bytes(tmp, "Tarsel.prr").decode("ascii").split("\n")
            self.assertEqual((lines[1][:11], int(lines[1][11:])), ("Link Cost: ", 7))
            members = set()
            k = 2
            while lines[k].startswith("Group ="):
                self.assertRegex(lines[k][7:], r"^\d+( \d+)*$", "one blank between members, none after the last")
                self.assertRegex(lines[k + 1], r"^.{10}( \d+\.\d\d)+$")
                self.assertRegex(lines[k + 2], r"^To keys.{5}\d+\.\d\d( \d+\.\d\d)*$")
                self.assertLessEqual(max(len(lines[k + n].split(" ")) for n in range(3)), 28 + 3)
                members.update(int(m) for m in lines[k][7:].split(" "))
                k += 3
            self.assertEqual(k, 2 + 3 * 6)
            for trip in trips:
                self.assertIn(int(trip["key"]), members, "a trip outside every group runs alone")


if __name__ == "__main__":
    unittest.main()
