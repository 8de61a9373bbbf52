"""tessor-cli export --openmetrics: its outcomes on a window tool's recording, and the real Prometheus
serving a recording made by monitor --record against tessor-sim's living line with a cut, exported and
turned into blocks by promtool. Answers are checked against the recording file's own rows, not against
the exporter's arithmetic.
Paths come from CTest: TESSOR_SIM, TESSOR_CLI, TESSOR_PROMTOOL, TESSOR_PROMETHEUS.
"""

import csv
import json
import os
import shutil
import socket
import subprocess
import tempfile
import time
import unittest
import urllib.parse
import urllib.request
from datetime import datetime, timezone

SITE = 'Depot "North" \\ 7'
INTERVAL_S = 0.2
LOOKBACK_S = 1.0  # shorter than the cut, so that Prometheus does not bridge it
GUARD_S = 30


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_for(what, predicate):
    deadline = time.monotonic() + GUARD_S
    while time.monotonic() < deadline:
        if predicate():
            return
        time.sleep(0.05)
    raise AssertionError(f"no {what} within {GUARD_S} s")


def row_seconds(row):
    t = datetime.strptime(row["time_utc"], "%Y-%m-%dT%H:%M:%S.%fZ").replace(tzinfo=timezone.utc)
    return round(t.timestamp(), 3)


class Backfill(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.mkdtemp(prefix="tessor-backfill-")
        cls.procs = []
        try:
            cls.record()
            cls.export_and_serve()
        except BaseException:
            cls.tearDownClass()
            raise

    @classmethod
    def tearDownClass(cls):
        for proc in reversed(cls.procs):
            if proc.poll() is None:
                proc.terminate()
                try:
                    proc.wait(timeout=GUARD_S)
                except subprocess.TimeoutExpired:
                    proc.kill()
                    proc.wait()
            proc.stdout.close()
        shutil.rmtree(cls.dir, ignore_errors=True)

    @classmethod
    def start(cls, args, log):
        with open(os.path.join(cls.dir, log), "w") as err:
            proc = subprocess.Popen(args, stdout=subprocess.PIPE, stderr=err)
        cls.procs.append(proc)
        return proc

    @classmethod
    def rows(cls):
        with open(cls.csv_path, newline="", encoding="utf-8") as f:
            return list(csv.DictReader(f))

    @classmethod
    def phy_rows(cls):
        return [r for r in cls.rows() if r["type"] == "phy"]

    @classmethod
    def record(cls):
        link = os.path.join(cls.dir, "tty")
        fifo = os.path.join(cls.dir, "control")
        sim = cls.start([os.environ["TESSOR_SIM"], "--no-pacing", "--no-stdin", "--train-ms", "0", "--link", link,
                         "--control-fifo", fifo, "--line-life", "--clock-scale", "20", "--seed", "7"], "sim.log")
        sim.stdout.readline()  # the slave path, once it serves it
        cls.csv_path = os.path.join(cls.dir, "site.csv")
        monitor = cls.start([os.environ["TESSOR_CLI"], "--port", link, "monitor", "--listen", "127.0.0.1:0",
                             "--interval", str(INTERVAL_S), "--record", cls.csv_path], "monitor.log")

        def snr_rows(at_least):
            return lambda: os.path.exists(cls.csv_path) and sum(
                1 for r in cls.phy_rows() if r["snr_db"]) >= at_least

        wait_for("ten passes with an SNR", snr_rows(10))
        cls.control(fifo, "cut on")
        time.sleep(4 * LOOKBACK_S)
        cls.control(fifo, "cut off")
        before = sum(1 for r in cls.phy_rows() if r["snr_db"])
        wait_for("ten passes with an SNR after the cut", snr_rows(before + 10))
        monitor.terminate()
        monitor.wait(timeout=GUARD_S)

    @staticmethod
    def control(fifo, command):
        fd = os.open(fifo, os.O_WRONLY | os.O_NONBLOCK)
        os.write(fd, (command + "\n").encode())
        os.close(fd)

    @classmethod
    def export_and_serve(cls):
        om = os.path.join(cls.dir, "site.om")
        subprocess.run([os.environ["TESSOR_CLI"], "export", "--openmetrics", cls.csv_path, "--site", SITE,
                        "--output", om], check=True, timeout=GUARD_S)
        blocks = os.path.join(cls.dir, "blocks")
        subprocess.run([os.environ["TESSOR_PROMTOOL"], "tsdb", "create-blocks-from", "openmetrics", om, blocks],
                       check=True, timeout=GUARD_S, stdout=subprocess.DEVNULL)
        config = os.path.join(cls.dir, "prometheus.yml")
        with open(config, "w") as f:
            f.write("global:\n  scrape_interval: 1h\n")
        cls.url = f"http://127.0.0.1:{free_port()}"
        prometheus = cls.start([os.environ["TESSOR_PROMETHEUS"], "--config.file", config, "--storage.tsdb.path", blocks,
                   "--storage.tsdb.retention.time", "100y", "--web.listen-address", cls.url[7:],
                   "--query.lookback-delta", f"{int(LOOKBACK_S * 1000)}ms"], "prometheus.log")

        def ready():
            if prometheus.poll() is not None:
                raise AssertionError("prometheus ended")
            try:
                return urllib.request.urlopen(cls.url + "/-/ready", timeout=1).status == 200
            except OSError:
                return False

        try:
            wait_for("ready prometheus", ready)
        except AssertionError:  # its log says why
            with open(os.path.join(cls.dir, "prometheus.log")) as log:
                raise AssertionError("prometheus did not become ready:\n" + log.read()[-3000:])

    def api(self, path, **params):
        with urllib.request.urlopen(f"{self.url}/api/v1/{path}?{urllib.parse.urlencode(params)}",
                                    timeout=GUARD_S) as reply:
            doc = json.load(reply)
        self.assertEqual(doc["status"], "success", doc)
        return doc["data"]["result"]

    def selector(self, metric):
        site = SITE.replace("\\", "\\\\").replace('"', '\\"')
        return f'{metric}{{site="{site}"}}'

    def raw_samples(self, metric, end):
        """Every stored sample of the one series: (seconds, value text)."""
        result = self.api("query", query=self.selector(metric) + "[1h]", time=f"{end + 1:.3f}")
        self.assertEqual(len(result), 1, result)
        return [(round(float(t), 3), v) for t, v in result[0]["values"]]

    def test_every_row_is_a_sample_and_nothing_else(self):
        phy = self.phy_rows()
        end = row_seconds(phy[-1])
        for metric, column in (("tessor_line_snr_decibels", "snr_db"), ("tessor_line_mse_decibels", "mse_db")):
            want = [(row_seconds(r), float(r[column])) for r in phy if r[column]]
            got = [(t, float(v)) for t, v in self.raw_samples(metric, end)]
            self.assertEqual(got, want, metric)
        eth = [r for r in self.rows() if r["type"] == "eth" and r["answered"] == "1" and r["rx_octets_read"]]
        want = [(row_seconds(r), int(r["rx_octets_total"])) for r in eth]
        got = [(t, int(v)) for t, v in self.raw_samples("tessor_rx_octets_total", end)]
        self.assertEqual(got, want)
        self.assertGreater(len(want), 10)

    def test_query_range_follows_the_rows_and_the_cut_stays_a_gap(self):
        phy = [(row_seconds(r), r) for r in self.phy_rows()]
        with_snr = [(t, float(r["snr_db"])) for t, r in phy if r["snr_db"]]
        start, end, step = with_snr[0][0], with_snr[-1][0], 0.05
        result = self.api("query_range", query=self.selector("tessor_line_snr_decibels"), start=f"{start:.3f}",
                          end=f"{end:.3f}", step=str(step))
        self.assertEqual(len(result), 1, result)
        points = {round(float(t), 3): float(v) for t, v in result[0]["values"]}
        # The cut: the longest stretch between two rows with an SNR, rows without one in it.
        gap_from, gap_to = max(zip(with_snr, with_snr[1:]), key=lambda p: p[1][0] - p[0][0])
        gap_from, gap_to = gap_from[0], gap_to[0]
        self.assertGreater(gap_to - gap_from, 3 * LOOKBACK_S)
        self.assertTrue(any(gap_from < t < gap_to and not r["snr_db"] for t, r in phy), "no row in the cut")
        checked = gap_points = 0
        for k in range(int((end - start) / step) + 1):
            t = round(start + k * step, 3)
            before = [(rt, v) for rt, v in with_snr if rt <= t]
            age = t - before[-1][0]
            if abs(age - LOOKBACK_S) < 0.01:
                continue  # on the edge of the lookback
            if age < LOOKBACK_S:
                self.assertEqual(points.get(t), before[-1][1], f"at {t}")
                checked += 1
            else:
                self.assertNotIn(t, points, f"a value in the gap at {t}")
                gap_points += 1 if gap_from < t < gap_to else 0
        self.assertGreater(checked, 20)
        self.assertGreater(gap_points, 10)


WINDOW_RECORDING = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "docs", "screenshots",
                                "history-recording.csv")


class ExportUsage(unittest.TestCase):
    """The command's outcomes without a server: what it reads, refuses and reports."""

    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="tessor-export-")

    def tearDown(self):
        shutil.rmtree(self.dir, ignore_errors=True)

    def export(self, *args):
        return subprocess.run([os.environ["TESSOR_CLI"], "export", *args], capture_output=True, text=True,
                              timeout=GUARD_S)

    def test_a_window_recording_with_a_damaged_row(self):
        damaged = os.path.join(self.dir, "window.csv")
        shutil.copy(WINDOW_RECORDING, damaged)
        with open(damaged, "a") as f:
            f.write("2026-12-01T00:00:00.000Z,1,phy,not a row\n")
        run = self.export("--openmetrics", damaged, "--site", "Bench")
        self.assertEqual(run.returncode, 0, run.stderr)
        self.assertIn(f"{damaged}: 1 damaged row(s) skipped", run.stderr)
        self.assertTrue(run.stdout.endswith("# EOF\n"))
        with open(WINDOW_RECORDING, newline="", encoding="utf-8") as f:
            rows = [r for r in csv.DictReader(f) if r["type"] == "phy" and r["snr_db"]]
        # The numbers as the monitor's metrics page writes them: 36.10 dB is 36.1.
        want = [f"{float(r['snr_db']):.15g} {row_seconds(r):.3f}" for r in rows]
        got = [line.split("} ")[1] for line in run.stdout.splitlines()
               if line.startswith('tessor_line_snr_decibels{site="Bench"}')]
        self.assertEqual(got, want)
        self.assertGreater(len(want), 100)

    def test_refusals_name_the_file_and_leave_output_alone(self):
        missing = os.path.join(self.dir, "missing.csv")
        run = self.export("--openmetrics", missing, "--site", "Bench")
        self.assertEqual((run.returncode, run.stdout), (5, ""))
        self.assertIn(missing, run.stderr)
        self.assertIn("Name a recording", run.stderr)
        nowhere = os.path.join(self.dir, "no-folder", "out.om")
        run = self.export("--openmetrics", WINDOW_RECORDING, "--site", "Bench", "--output", nowhere)
        self.assertEqual(run.returncode, 5)
        self.assertIn(nowhere, run.stderr)
        with open("/dev/full", "w") as full:
            run = subprocess.run([os.environ["TESSOR_CLI"], "export", "--openmetrics", WINDOW_RECORDING, "--site",
                                  "Bench"], stdout=full, stderr=subprocess.PIPE, text=True, timeout=GUARD_S)
        self.assertEqual(run.returncode, 5)
        self.assertIn("standard output", run.stderr)
        for args in (("--openmetrics", WINDOW_RECORDING), ("--openmetrics", WINDOW_RECORDING, "--site", ""),
                     (WINDOW_RECORDING, "--site", "Bench")):
            run = self.export(*args)
            self.assertEqual((run.returncode, run.stdout), (2, ""), args)


if __name__ == "__main__":
    unittest.main()
