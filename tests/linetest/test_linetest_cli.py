"""tessor-cli linetest and verify against tessor-sim on a pseudo-terminal, with a fast living line.

The verdicts and figures are checked against what the simulator was made to do (its clock scale, the
cut, the burst, the silence), not against the report's own arithmetic. Paths come from CTest:
TESSOR_SIM, TESSOR_CLI.
"""

import json
import os
import re
import shutil
import signal
import subprocess
import tempfile
import time
import unittest

from reportparse import Report, number

SCALE = 20  # simulated seconds per wall second
# The simulated line has sparse Ethernet errors (a receive and an FCS error every 50 simulated seconds, each
# counted raw, each making its interval errored): tests about other criteria leave those two out.
CLEAN = ("--max-rs-per-second", "1000", "--skip", "no_ethernet_errors", "--skip", "esr")
INTERVAL = "300ms"
GUARD_S = 60


class Sim:
    def __init__(self, *extra):
        self.dir = tempfile.mkdtemp(prefix="tessor-linetest-")
        self.link = os.path.join(self.dir, "tty")
        self.fifo = os.path.join(self.dir, "control")
        self.wire = os.path.join(self.dir, "wire")
        self.log_path = os.path.join(self.dir, "sim.log")
        self.log = open(self.log_path, "w")
        self.proc = subprocess.Popen(
            [os.environ["TESSOR_SIM"], "--no-pacing", "--no-stdin", "--train-ms", "0", "--link", self.link,
             "--control-fifo", self.fifo, "--wire-log", self.wire, "--line-life", "--bursts-per-hour", "0",
             "--drops-per-hour", "0", "--clock-scale", str(SCALE), "--seed", "7", *extra],
            stdout=subprocess.PIPE, stderr=self.log)
        self.proc.stdout.readline()  # the slave path, once it serves it

    def close(self):
        self.proc.terminate()
        self.proc.wait()
        self.proc.stdout.close()
        self.log.close()
        shutil.rmtree(self.dir, ignore_errors=True)

    def control(self, command):
        before = os.path.getsize(self.log_path)
        fd = os.open(self.fifo, os.O_WRONLY | os.O_NONBLOCK)
        os.write(fd, (command + "\n").encode())
        os.close(fd)
        deadline = time.monotonic() + 10
        while os.path.getsize(self.log_path) == before and time.monotonic() < deadline:
            time.sleep(0.005)

    def wire_lines(self):
        with open(self.wire, "rb") as f:
            return [line.decode(errors="replace").strip() for line in f if line.strip()]

    def cli(self, *args):
        return [os.environ["TESSOR_CLI"], "--port", self.link, *args]


def writes_outside_mailbox(lines):
    """Command lines that change a register other than the mailbox's (8CC0..8CD0)."""
    bad = []
    for line in lines:
        words = line.split()
        if words and words[0].upper() in ("WR", "OR", "ND") and len(words) > 1:
            address = int(words[1], 16)
            if not 0x8CC0 <= address <= 0x8CD0:
                bad.append(line)
    return bad


class LineTestCli(unittest.TestCase):
    def setUp(self):
        self.sim = Sim()
        self.report = os.path.join(self.sim.dir, "report.html")

    def tearDown(self):
        self.sim.close()

    def start(self, duration, *extra):
        args = self.sim.cli("--json", "linetest", "--duration", duration, "--interval", INTERVAL, "--report",
                            self.report, "--site", "Depot <North> & \"Hill\"", "--operator", "A. O'Neil",
                            "--note", "line 7\n<script>alert(1)</script>", *extra)
        self.t0 = time.monotonic()
        self.early_err = ""
        return subprocess.Popen(args, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)

    def wait_pass(self, proc, n):
        """Reads the progress lines until pass n has been made; a slow start does not move the test's events."""
        deadline = time.monotonic() + GUARD_S
        while time.monotonic() < deadline:
            line = proc.stderr.readline()
            if not line:
                self.fail(f"tessor-cli ended before pass {n}: {self.early_err}")
            self.early_err += line
            found = re.search(r", pass (\d+),", line)
            if found and int(found.group(1)) >= n:
                return
        self.fail(f"no pass {n} within {GUARD_S} s")

    def finish(self, proc):
        out, err = proc.communicate(timeout=GUARD_S)
        self.err = self.early_err + err
        doc = json.loads(out)
        with open(self.report, encoding="utf-8") as f:
            html = f.read()
        return proc.returncode, doc, Report(html), html

    def at(self, seconds):
        time.sleep(max(0.0, self.t0 + seconds - time.monotonic()))

    def event(self, proc, seconds, command):
        """Sends command to the simulator `seconds` after the first pass is seen and gives the bounds of its
        offset in the test: the program started after self.t0 and before that pass was seen, whenever a
        loaded machine let it."""
        self.wait_pass(proc, 1)
        first_seen = time.monotonic()
        time.sleep(seconds)
        sent = time.monotonic()
        self.sim.control(command)
        return sent - first_seen, sent - self.t0

    def test_clean_line_passes_with_the_simulated_figures(self):
        code, doc, rep, html = self.finish(self.start("3s", *CLEAN))
        self.assertEqual(code, 0, self.err)
        self.assertEqual(rep.verdict, "passed")
        self.assertEqual(doc["verdict"], "passed")
        for name, c in rep.criteria.items():
            skipped = name in ("no_ethernet_errors", "esr")
            self.assertEqual(c["result"], "not_checked" if skipped else "passed", name)
        self.assertEqual(len(rep.criteria), 9)
        # The simulator's SNR is 36.5 dB +-0.3 plus a drift of about +-2 dB.
        low, mean, high = (number(v) for v in rep.figures["snr_db"][:3])
        self.assertTrue(33.5 <= low <= mean <= high <= 39.5, rep.figures["snr_db"])
        self.assertAlmostEqual(doc["snr_db"]["mean"], mean, delta=0.01)
        # The baseline a monitor takes: the mean, in the JSON and in the report beside the minimum.
        self.assertAlmostEqual(doc["snr_baseline_db"], mean, delta=0.01)
        self.assertEqual(rep.figures["snr_baseline_db"][:2], ["mean %.2f dB" % mean, "minimum %.2f dB" % low])
        # A clean line: every interval measured and available, none severely errored.
        self.assertEqual(doc["intervals"]["unavailable_intervals"], 0)
        self.assertEqual(doc["intervals"]["unmeasured_intervals"], 0)
        self.assertEqual(doc["sesr"], 0)
        self.assertEqual(doc["availability"], 1)
        # About 0.6 corrected errors per simulated second: 12 per wall second at this scale.
        rs = number(rep.figures["rs_corrected_per_second"][0])
        self.assertTrue(3 <= rs <= 40, rs)
        # The identification the simulator has (chip 61, revision 12, firmware 27), on both modems.
        self.assertEqual(rep.figures["board_before"][2:], ["61", "12", "27", "61", "12", "27"])
        self.assertEqual(rep.figures["board_after"][2:], ["61", "12", "27", "61", "12", "27"])
        # About 850 frames a simulated second each way while the line is up, counted raw (not the Ethernet
        # page's fifths).
        rx = int(rep.figures["eth_rx_frames"][0])
        self.assertTrue(850 * SCALE * 3 * 0.7 < rx < 850 * SCALE * 3 * 1.3, rx)
        # User texts are escaped; nothing is loaded from elsewhere; the graphs are inline.
        self.assertNotIn("<script>", html)
        self.assertIn("&lt;script&gt;", html)
        self.assertEqual(rep.figures["site"], ['Depot <North> & "Hill"'])
        self.assertEqual(rep.figures["operator"], ["A. O'Neil"])
        self.assertEqual(rep.external, [])
        self.assertEqual(rep.svg_count, 3)
        self.assertGreaterEqual(rep.polylines, 3)
        self.assertEqual(writes_outside_mailbox(self.sim.wire_lines()), [])

    def test_cut_line_fails_no_line_drop_at_the_cut(self):
        proc = self.start("4s", "--max-rs-per-second", "1000")
        earliest, latest = self.event(proc, 1.2, "cut on")
        time.sleep(1.0)
        self.sim.control("cut off")
        code, doc, rep, _ = self.finish(proc)
        self.assertEqual(code, 7, self.err)
        self.assertEqual(rep.verdict, "failed")
        drop = rep.criteria["no_line_drop"]
        self.assertEqual(drop["result"], "failed")
        # First seen by the first pass after the cut: within an interval (and a pass) of it.
        self.assertGreaterEqual(drop["offset_ms"] / 1000.0, earliest - 0.002)
        self.assertLessEqual(drop["offset_ms"] / 1000.0, latest + 0.3 + 0.4)
        self.assertEqual(rep.criteria["link_fail_unchanged"]["result"], "failed")
        self.assertEqual(doc["link_fail_count"]["change"], 1)
        self.assertEqual(int(rep.figures["drops"][0]), 1)
        self.assertEqual(rep.criteria["answered_every_pass"]["result"], "passed")

    def test_burst_raises_the_rs_figure(self):
        proc = self.start("3s", "--max-rs-per-second", "60")
        # 20 simulated seconds: one wall second at this scale
        earliest, _ = self.event(proc, 0.8, "burst 20")
        code, doc, rep, _ = self.finish(proc)
        self.assertEqual(code, 7, self.err)
        rs = rep.criteria["rs_corrected_per_second"]
        self.assertEqual(rs["result"], "failed")
        self.assertGreaterEqual(rs["offset_ms"] / 1000.0, earliest - 0.002)
        # A burst is a few tens to a few hundred errors a simulated second, for 20 of them.
        total = int(rep.figures["rs_corrected_total"][0])
        self.assertGreaterEqual(total, 20 * 20)
        self.assertEqual(doc["rs_corrected_total"], total)
        self.assertEqual(rep.criteria["no_line_drop"]["result"], "passed")

    def test_silent_board_fails_answered_every_pass(self):
        proc = self.start("4s", "--max-rs-per-second", "1000")
        earliest, _ = self.event(proc, 1.0, "silent on")
        code, doc, rep, _ = self.finish(proc)
        self.assertEqual(code, 7, self.err)
        self.assertEqual(rep.verdict, "failed")
        answered = rep.criteria["answered_every_pass"]
        self.assertEqual(answered["result"], "failed")
        self.assertGreaterEqual(answered["offset_ms"] / 1000.0, earliest - 0.002)
        self.assertTrue(doc["board_lost"])
        self.assertGreaterEqual(doc["unanswered_passes"], 1)
        self.assertIsNone(doc["after"])  # nothing read after the board was lost

    def test_stopped_test_is_no_pass(self):
        proc = self.start("30s", *CLEAN)
        self.at(1.0)
        proc.send_signal(signal.SIGINT)
        code, doc, rep, _ = self.finish(proc)
        self.assertLess(time.monotonic() - self.t0, 5)
        self.assertEqual(code, 7, self.err)
        self.assertEqual(rep.verdict, "stopped")
        self.assertTrue(doc["stopped"])
        self.assertIn("(stopped)", rep.figures["duration"][0])

    def test_criteria_file_and_options_over_it(self):
        criteria = os.path.join(self.sim.dir, "criteria.txt")
        with open(criteria, "w") as f:
            # The simulated line's sparse Ethernet errors make an errored interval in some runs: left out.
            f.write("# acceptance\nmin_snr = 45\nmax_rs_per_second = 1000\ncheck_no_line_drop = no\n"
                    "check_no_ethernet_errors = no\ncheck_esr = no\n")
        code, doc, rep, _ = self.finish(self.start("1s", "--criteria", criteria))
        self.assertEqual(code, 7, self.err)
        self.assertEqual(rep.criteria["min_snr"]["result"], "failed")  # 36.5 dB is below 45
        self.assertEqual(rep.criteria["min_snr"]["cells"][1], "at least 45.00 dB")
        self.assertEqual(rep.criteria["no_line_drop"]["result"], "not_checked")
        self.assertEqual(rep.criteria["esr"]["result"], "not_checked")
        self.assertEqual(rep.criteria["rs_corrected_per_second"]["result"], "passed")
        code, _, rep, _ = self.finish(self.start("1s", "--criteria", criteria, "--min-snr", "20"))
        self.assertEqual(code, 0, self.err)
        with open(criteria, "w") as f:
            f.write("min_snr = lots\n")
        bad = subprocess.run(self.sim.cli("linetest", "--criteria", criteria), capture_output=True, text=True,
                             timeout=GUARD_S)
        self.assertEqual(bad.returncode, 2)
        self.assertIn("line 1: min_snr needs a number", bad.stderr)

    def test_one_fcs_error_a_read_fails_with_the_count_the_simulator_answered(self):
        self.sim.control("count 8D04 1")  # every read of the FCS counter answers 01 00 00 00
        code, doc, rep, _ = self.finish(self.start("2s", "--max-rs-per-second", "1000"))
        self.assertEqual(code, 7, self.err)
        reads = sum(1 for line in self.sim.wire_lines() if re.match(r"RD 8D04\b", line, re.IGNORECASE))
        self.assertGreaterEqual(reads, 5)
        counted = reads - 1  # the first read only starts the count
        self.assertEqual(doc["ethernet_totals"]["frame_check_sequence_errors"], counted)
        self.assertEqual(int(rep.figures["eth_frame_check_sequence_errors"][0]), counted)
        eth = rep.criteria["no_ethernet_errors"]
        self.assertEqual(eth["result"], "failed")
        self.assertTrue(eth["cells"][2].startswith(f"{counted} FCS, "), eth["cells"])
        self.assertEqual(doc["verdict"], "failed")

    def test_256_drops_between_two_passes_fail_the_link_criterion(self):
        proc = self.start("3s", *CLEAN)
        self.wait_pass(proc, 3)
        self.sim.control("drop 256")  # the 8-bit counter comes round to where it was
        code, doc, rep, _ = self.finish(proc)
        self.assertEqual(code, 7, self.err)
        self.assertEqual(doc["link_fail_count"]["first"], doc["link_fail_count"]["last"])
        self.assertEqual(doc["link_fail_count"]["micro_interruptions"], 1)
        self.assertEqual(rep.criteria["link_fail_unchanged"]["result"], "failed")
        self.assertEqual(doc["verdict"], "failed")

    def test_verdict_printed_when_the_report_cannot_be_written(self):
        for json_out in (True, False):
            with self.subTest(json=json_out):
                folder = os.path.join(self.sim.dir, "reports")
                os.mkdir(folder)
                report = os.path.join(folder, "report.html")
                args = self.sim.cli(*(["--json"] if json_out else []), "linetest", "--duration", "2s",
                                    "--interval", INTERVAL, *CLEAN, "--report", report)
                self.early_err = ""
                proc = subprocess.Popen(args, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
                self.wait_pass(proc, 2)
                shutil.rmtree(folder)  # the report's folder goes while the test runs
                out, err = proc.communicate(timeout=GUARD_S)
                self.assertEqual(proc.returncode, 5, err)
                self.assertIn(report + ": could not be written", err)
                if json_out:
                    doc = json.loads(out)  # the whole document, then the error on standard error
                    self.assertEqual(doc["verdict"], "passed")
                    self.assertEqual(len(doc["criteria"]), 9)
                    self.assertGreaterEqual(doc["passes"], 4)
                    self.assertIsNone(doc["report"])
                    self.assertIn("could not be written", doc["report_error"])
                else:
                    self.assertTrue(out.startswith("Line test PASSED\n"), out)
                    self.assertIn("The board answered every pass", out)
                    self.assertNotIn("Report: ", out)

    def test_criteria_file_numbers_not_finite_or_out_of_range_are_line_errors(self):
        criteria = os.path.join(self.sim.dir, "criteria.txt")
        for line in ("min_snr = nan", "min_snr = -nan", "min_snr = inf", "min_snr = -1", "min_snr = 100.01",
                     "max_rs_per_second = nan", "max_rs_per_second = infinity", "max_rs_per_second = -0.5",
                     "max_rs_per_second = 2e6"):
            with self.subTest(line=line):
                with open(criteria, "w") as f:
                    f.write("# acceptance\n" + line + "\n")
                open(self.sim.wire, "w").close()
                bad = subprocess.run(self.sim.cli("linetest", "--criteria", criteria), capture_output=True,
                                     text=True, timeout=GUARD_S)
                self.assertEqual(bad.returncode, 2, bad.stderr)
                self.assertIn(criteria + ": line 2: " + line.split()[0] + " needs a number", bad.stderr)
                self.assertEqual(self.sim.wire_lines(), [])

    def test_progress_lines_when_not_a_terminal(self):
        code, _, _, _ = self.finish(self.start("1s", *CLEAN))
        self.assertEqual(code, 0)
        lines = [l for l in self.err.splitlines() if l.startswith("linetest: ")]
        self.assertGreaterEqual(len(lines), 3)
        self.assertNotIn("\r", self.err)


class LineTestUsage(unittest.TestCase):
    def test_numbers_not_finite_or_out_of_range_are_bad_usage(self):
        missing = os.path.join(tempfile.gettempdir(), "tessor-no-such-device")
        cases = [("--duration", v, 2) for v in ("nan", "NaN", "inf", "-5s", "999ms", "170h")]
        cases += [("--interval", v, 2) for v in ("nan", "-nan", "infs", "99ms", "-1s")]
        cases += [("--min-snr", v, 2) for v in ("nan", "inf", "-1", "100.5")]
        cases += [("--max-rs-per-second", v, 2) for v in ("nan", "inf", "-0.5", "1000001")]
        cases += [(o, v, 2) for o in ("--max-esr-percent", "--max-sesr-percent") for v in ("nan", "-0.1", "100.5")]
        cases += [("--severe-error-percent", v, 2) for v in ("nan", "-1", "0", "100.5", "lots")]
        cases += [("--severe-error-percent", v, 3) for v in ("0.0001", "100")]
        # Within range: the device is tried next (and is missing).
        cases += [("--duration", "1s", 3), ("--interval", "100ms", 3), ("--min-snr", "100", 3),
                  ("--min-snr", "0", 3), ("--max-rs-per-second", "1000000", 3),
                  ("--max-esr-percent", "100", 3), ("--max-sesr-percent", "0", 3)]
        # The criteria that may be left out, by their names and the former name scripts may still use.
        cases += [("--skip", name, 3) for name in ("min_snr", "no_line_drop", "link_fail_unchanged",
                                                   "rs_corrected_per_second", "rs_per_second",
                                                   "no_ethernet_errors", "no_unavailable_interval", "esr",
                                                   "sesr")]
        cases += [("--skip", name, 2) for name in ("answered_every_pass", "rs_total", "snr")]
        for option, value, code in cases:
            with self.subTest(option=option, value=value):
                proc = subprocess.run([os.environ["TESSOR_CLI"], "--port", missing, "linetest", option, value],
                                      capture_output=True, text=True, timeout=GUARD_S)
                self.assertEqual(proc.returncode, code, proc.stderr)
                if code == 2:
                    self.assertIn(option, proc.stderr)


class LineTestNotRun(unittest.TestCase):
    def test_board_silent_from_the_start_is_never_a_pass(self):
        sim = Sim("--silent")
        try:
            report = os.path.join(sim.dir, "r.html")
            proc = subprocess.run(sim.cli("--json", "--answer-timeout-ms", "200", "linetest", "--duration", "2s",
                                          "--report", report), capture_output=True, text=True, timeout=GUARD_S)
            self.assertEqual(proc.returncode, 4, proc.stderr)
            self.assertEqual(json.loads(proc.stdout)["verdict"], "not_run")  # one document, nothing after it
            self.assertIn("could not run", proc.stderr)
            with open(report, encoding="utf-8") as f:
                self.assertEqual(Report(f.read()).verdict, "not_run")
        finally:
            sim.close()


class Verify(unittest.TestCase):
    def setUp(self):
        self.sim = Sim()
        self.file = os.path.join(self.sim.dir, "saved.LT")
        subprocess.run(self.sim.cli("save", self.file), check=True, capture_output=True, timeout=GUARD_S)

    def tearDown(self):
        self.sim.close()

    def verify(self, path):
        return subprocess.run(self.sim.cli("--json", "verify", path), capture_output=True, text=True,
                              timeout=GUARD_S)

    def test_equal(self):
        proc = self.verify(self.file)
        self.assertEqual(proc.returncode, 0, proc.stderr)
        doc = json.loads(proc.stdout)
        self.assertTrue(doc["equal"])
        self.assertEqual(doc["compared"], 31)
        self.assertEqual(doc["differences"], [])

    def test_mailbox_writes_are_the_only_writes_recognised_as_harmless(self):
        self.assertEqual(writes_outside_mailbox(["WR 8CC0 11", "RD 8C10  1"]), [])
        self.assertEqual(writes_outside_mailbox(["WR 8C10 32", "ND 8C00 7F"]), ["WR 8C10 32", "ND 8C00 7F"])

    def test_register_changed_behind_the_tools_back(self):
        self.sim.control("poke 8D41 E5")
        proc = self.verify(self.file)
        self.assertEqual(proc.returncode, 7, proc.stderr)
        doc = json.loads(proc.stdout)
        self.assertEqual(doc["differences"], [{"register": "8D41", "file": "E1", "board": "E5"}])
        text = subprocess.run(self.sim.cli("verify", self.file), capture_output=True, text=True,
                              timeout=GUARD_S)
        self.assertIn("8D41  file E1  board E5", text.stdout)
        # The same 31 reads as Save, and nothing written.
        self.assertEqual(writes_outside_mailbox(self.sim.wire_lines()), [])

    def copy(self, name, replacements):
        with open(self.file, "rb") as f:
            data = f.read()
        for old, new in replacements:
            self.assertIn(old, data)
            data = data.replace(old, new)
        path = os.path.join(self.sim.dir, name)
        with open(path, "wb") as f:
            f.write(data)
        return path

    def run_cli(self, *args, port=True):
        cmd = self.sim.cli(*args) if port else [os.environ["TESSOR_CLI"], *args]
        return subprocess.run(cmd, capture_output=True, text=True, timeout=GUARD_S)

    def test_diff_and_verify_agree(self):
        edited = self.copy("edited.LT", [(b"8C40:32", b"8C40:22"), (b"8D41:E1", b"8D41:E5")])
        verify = self.verify(edited)
        board = self.run_cli("--json", "diff", edited)
        files = self.run_cli("--json", "diff", edited, self.file, port=False)
        for proc in (verify, board, files):
            self.assertEqual(proc.returncode, 7, proc.stderr)
        changes = json.loads(verify.stdout)["changes"]
        self.assertEqual([c["name"] for c in changes],
                         ["downstream_interpolation", "downstream_line_rate", "preset", "register_8D41"])
        self.assertEqual(changes[0]["words"], "DS Interpolation: 8 -> 12")
        self.assertEqual(json.loads(board.stdout)["changes"], changes)
        self.assertEqual(json.loads(files.stdout)["changes"], changes)
        # In text: each register's line as before, its words under it; diff prints the same words.
        text = self.run_cli("verify", edited).stdout
        diff = self.run_cli("diff", edited, self.file, port=False).stdout
        self.assertIn("8C40  file 22  board 32\n    DS Interpolation: 8 -> 12\n"
                      "    Downstream Line Rate: 18,75 Mbps -> 12,50 Mbps\n    Standard Settings: none -> 10 M\n"
                      "8D41  file E5  board E1\n    Register 8D41: E5 -> E1\n", text)
        for change in changes:
            self.assertIn(change["words"], diff)

    def test_diff_of_equal_files_and_of_the_other_side(self):
        same = self.run_cli("diff", self.file, self.file, port=False)
        self.assertEqual(same.returncode, 0, same.stderr)
        self.assertIn("hold the same configuration", same.stdout)
        nt = self.copy("other.NT", [(b"LT\r\n", b"NT\r\n"), (b"8C67:05", b"8C67:00")])
        proc = self.run_cli("--json", "diff", self.file, nt, port=False)
        self.assertEqual(proc.returncode, 7, proc.stderr)
        doc = json.loads(proc.stdout)
        self.assertTrue(doc["sides_differ"])
        self.assertIn("8C67", doc["not_compared"])
        self.assertEqual([c["words"] for c in doc["changes"]], ["Modem side: LT -> NT"])
        text = self.run_cli("diff", self.file, nt, port=False).stdout
        self.assertIn("compared only where their registers mean the same", text)

    def test_diff_refuses_what_it_cannot_compare(self):
        bad = os.path.join(self.sim.dir, "notes.LT")
        with open(bad, "w") as f:
            f.write("shopping list\n")
        open(self.sim.wire, "w").close()
        proc = self.run_cli("diff", bad)
        self.assertEqual(proc.returncode, 5, proc.stderr)
        self.assertIn(bad + ": not a configuration file", proc.stderr)
        self.assertEqual(self.sim.wire_lines(), [])
        proc = self.run_cli("diff", self.file, bad, port=False)
        self.assertEqual(proc.returncode, 5, proc.stderr)
        self.assertIn(bad, proc.stderr)
        both = self.run_cli("diff", self.file, self.file)
        self.assertEqual(both.returncode, 2, both.stderr)

    def test_not_a_configuration_reads_nothing(self):
        bad = os.path.join(self.sim.dir, "notes.LT")
        with open(bad, "w") as f:
            f.write("shopping list\n")
        open(self.sim.wire, "w").close()
        proc = self.verify(bad)
        self.assertEqual(proc.returncode, 5, proc.stderr)
        self.assertIn("not a configuration file", proc.stderr)
        self.assertEqual(self.sim.wire_lines(), [])


if __name__ == "__main__":
    unittest.main()
