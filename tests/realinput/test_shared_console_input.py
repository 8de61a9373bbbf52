"""The program's start-up and its PHY page through the console a monitor shares, with real X input.

tessor-cli monitor polls the simulator, which answers slowly, every 2 s and offers its console as an
RFC 2217 accepter on 127.0.0.1; COM1 is pointed at it in the Ports dialog (the program is started
without TESSOR_COM1). The board's wire log is then the monitor's passes and the program's reads merged
whole command by whole command: cut at the end of each of the monitor's passes, every piece holds one
whole pass of the monitor in its order, and what is left over is exactly as many commands as the
monitor says it passed for the program. The PHY page shows what the monitor reads from the same board,
and the monitor's series stay fresh while the program is in.
"""

import json
import re
import subprocess
import time
import unittest

from realinput import GUARD_S, HarnessError, Session, _need, _wait

INIT = "Initialize Hardware"
PORTS = "Serial Ports"
SHEET = "Tessor Console Configurator"
SNR = 31.5  # not the simulator's default, so the page cannot show it by chance
# Every answer 120 ms late: a pass of the monitor (19 commands) takes longer than its interval, so the
# monitor is always in a pass and each of the program's commands has to go in between two of its own.
SIM_ARGS = ["--train-ms", "500", "--no-pacing", "--snr", str(SNR), "--reply-delay-ms", "120"]
INTERVAL_S = 2
COMMAND = re.compile(r"RD [0-9A-F]{4}(,[0-9]+)?")
OFFERED = re.compile(r"console offered on rfc2217://127\.0\.0\.1:([0-9]+)")
LEFT = re.compile(r"127\.0\.0\.1:[0-9]+ left after ([0-9]+) lines")


class SharedConsoleSession(Session):
    """The simulator watched by a monitor that shares its console; the program reaches the board only
    through that console."""

    def start(self):
        self._start_xvfb()
        self.device = self._start_sim()
        self.monitor = subprocess.Popen(
            [_need("TESSOR_CLI"), "monitor", self.device, "--listen", "127.0.0.1:0", "--interval",
             str(INTERVAL_S), "--jsonl", "--console-listen", "127.0.0.1:0"],
            stdout=self._log("monitor.jsonl"), stderr=self._log("monitor.err"))
        self.procs.append(self.monitor)
        self.port = int(_wait(lambda: self._monitor_says(OFFERED), "the monitor's console port").group(1))
        # Four passes with the line up: the monitor has read the identification again (the pass after the
        # line came up) and has made two steady passes since.
        _wait(lambda: len([p for p in self.passes() if p["line_up"]]) >= 4, "four passes with the line up",
              timeout=4 * GUARD_S)
        self._start_app(self.device)

    def _monitor_says(self, pattern):
        if self.monitor.poll() is not None:
            raise HarnessError("the monitor ended: " + self._tail("monitor.err"))
        return pattern.search(self._tail("monitor.err"))

    def _app_env(self, device):
        env = super()._app_env(device)
        del env["TESSOR_COM1"]  # COM1 is what the Ports dialog makes it
        return env

    def passes(self):
        with open(self._file("monitor.jsonl")) as f:
            return [json.loads(line) for line in f.read().split("\n")[:-1]]

    def sessions_left(self):
        """The lines of each console client that has gone, in order."""
        with open(self._file("monitor.err")) as f:
            return [int(m.group(1)) for m in LEFT.finditer(f.read())]


def pass_ends(wire):
    """The indices of the monitor's pass ends in the wire log of a monitor alone: each pass that reads the
    identification begins with the side read, so the line before the last of those ends a pass."""
    end_line = wire[max(i for i, line in enumerate(wire) if line == "RD 8C70") - 1]
    return [i for i, line in enumerate(wire) if line == end_line]


def without_pass(piece, one_pass):
    """The piece without the pass as a subsequence, and how many of the lines left over stand between the
    pass's first and last command; (None, 0) when the pass is not whole in the piece. The pass is matched
    as late as it can be: the program's own PHY reads just before a pass are the pass's first commands,
    and would otherwise be taken for the monitor's and make its pass look broken into."""
    rest, at, within = [], len(one_pass), 0
    for line in reversed(piece):
        if at > 0 and line == one_pass[at - 1]:
            at -= 1
        else:
            rest.append(line)
            within += at > 0
    return (rest[::-1], within) if at == 0 else (None, 0)


def number(text):
    """A number as the page shows it: the locale's decimal mark, a blank after a minus sign."""
    return float(text.replace(",", ".").replace(" ", ""))


def value(window, name):
    return Session.find(window, name=name)["text"]


class SharedConsoleInput(unittest.TestCase):
    def test_start_up_and_phy_page_through_the_monitors_console(self):
        with SharedConsoleSession(SIM_ARGS) as s:
            url = "rfc2217://127.0.0.1:%d" % s.port
            s.wait_window(INIT)
            s.click_widget(INIT, text="Ports...")
            ports = s.wait_window(PORTS)
            self.assertEqual("COM1", value(ports, "comList"))
            s.click_widget(PORTS, name="hostEdit")
            s.type("127.0.0.1")
            s.click_widget(PORTS, name="tcpPortSpin")
            s.key("ctrl+a")
            s.type(str(s.port))
            s.click_widget(PORTS, name="networkButton")
            s.wait_widget(PORTS, lambda w: w["text"] == "COM1 = " + url + ", network console", "COM1 assigned",
                          name="com1Label")
            ok = [w for w in s.window(PORTS)["widgets"]
                  if w["class"] == "QPushButton" and w.get("text", "").replace("&", "") == "OK"]
            if not ok:
                raise HarnessError("no OK button in the Ports dialog")
            s.click(ok[0])
            s.wait_window(PORTS, visible=False)
            s.wait_widget(INIT, lambda w: w["text"] == "COM1 = " + url + ", network console",
                          "the line naming the monitor's console", name="deviceLine")
            # The Ports dialog's check was a client of its own; it has gone before the start comes in.
            _wait(lambda: len(s.sessions_left()) == 1, "the check's connection to end")

            wire = s.wire()
            ends = pass_ends(wire)
            mark, one_pass = ends[-1] + 1, wire[ends[-2] + 1:ends[-1] + 1]
            passes_before = len(s.passes())
            came_in = time.time()
            s.click_widget(INIT, text="OK")
            s.wait_window(SHEET)
            s.click_tab(SHEET, "  PHY Status  ")
            # The page reads at its first tick and shows the values at the next one (5 s each).
            sheet = s.wait_widget(SHEET, lambda w: w["text"] != "", "the PHY page's values",
                                  timeout=2 * GUARD_S, name="editSnr")
            s.screenshot(s.path("phy-through-monitor.png"))
            shown = {name: value(sheet, name) for name in ("editSnr", "editMse", "editPower", "editLinkFail")}
            snr = number(shown["editSnr"])
            s.click_widget(SHEET, text="Close")
            _wait(lambda: s.app.poll() is not None, "the program to end")
            window_lines = _wait(lambda: s.sessions_left()[1:], "the program's console session to end")[0]
            left = time.time()
            end = len(s.wire())
            s.wait_wire(lambda w: w[end:].count(one_pass[-1]) >= 1, "one more pass of the monitor")

            # The board's side: only whole reads, the monitor's passes whole and in order, the rest the
            # program's, as many as the monitor passed for it.
            wire = s.wire()
            self.assertEqual([], [l for l in wire if not COMMAND.fullmatch(l)], "lines that are no command")
            stop = max(i for i in range(len(wire)) if wire[i] == one_pass[-1]) + 1
            theirs, inside, start = [], 0, mark
            for i in range(mark, stop):
                if wire[i] == one_pass[-1]:
                    rest, within = without_pass(wire[start:i + 1], one_pass)
                    self.assertIsNotNone(rest, "a pass of the monitor broken up: %s" % wire[start:i + 1])
                    theirs += rest
                    inside += within
                    start = i + 1
            self.assertEqual(window_lines, len(theirs), theirs)
            self.assertIn("RD 8C00", theirs)  # the sheet's own read; the monitor never sends it
            self.assertGreater(inside, 0, "none of the program's reads went in between two of the monitor's")

            # The page shows the board's values as the monitor reads them.
            during = [p for p in s.passes()[passes_before:] if p["time"] <= left]
            snrs = [p["snr_db"] for p in during if p["snr_db"] is not None]
            self.assertTrue(snrs, "the monitor read no SNR while the program was in")
            # The line's SNR wanders a few tenths of a dB from read to read.
            self.assertLess(abs(snr - SNR), 0.6, shown)
            self.assertLess(abs(snr - sorted(snrs)[len(snrs) // 2]), 0.6, (shown, snrs))
            self.assertEqual(during[-1]["tx_power_dbm_hz"], number(shown["editPower"]), shown)
            self.assertEqual(during[-1]["link_fail_count"], number(shown["editLinkFail"]), shown)
            self.assertNotEqual("", shown["editMse"])

            # The monitor's series stayed fresh: from before the program came in until it left, no pass
            # late by more than an interval, all of them good.
            late = 2 * INTERVAL_S + 0.5
            times = [came_in] + [p["time"] for p in during] + [left]
            self.assertLessEqual(during[0]["time"], came_in)
            for before, after in zip(times, times[1:]):
                self.assertLessEqual(after - before, late, times)
            for p in during:
                self.assertEqual((True, True, 0, 0),
                                 (p["up"], p["line_up"], p["corrupted_replies"], p["timeouts"]), p)


if __name__ == "__main__":
    unittest.main()
