"""The Line Test dialog and File > Compare with File... with real X input (see realinput.py)."""

import os
import re
import subprocess
import sys
import unittest

from realinput import Session

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "linetest"))
from reportparse import Report  # noqa: E402

SHEET = "Tessor Console Configurator"
DIALOG = "Line Test"
SIM_ARGS = ["--train-ms", "500", "--no-pacing"]
CONFIG_REGISTERS = ["8C40", "8C41", "8C42", "8C43", "8C44", "8C45", "8C46", "8C47", "8C48", "8C49", "8C4A",
                    "8C4B", "8C4C", "8C4D", "8C4E", "8C4F", "8C50", "8C51", "8C60", "8C61", "8C66", "8C67",
                    "8C6B", "8D40", "8D41", "8D42", "8D45", "8D46", "8D47", "8D48", "8D49"]


def text_of(window, name):
    return Session.find(window, name=name).get("text", "")


class LineTestInput(unittest.TestCase):
    def save_report(self, s, path):
        s.xdotool("mousemove", "1", "1")  # a move --sync to where the pointer already is never ends
        s.click_widget(DIALOG, text="Save &Report...")
        s.wait_window("Save line test report")
        s.type(path)
        s.key("Return")
        s.wait_for(lambda st: os.path.exists(path) and os.path.getsize(path) > 0, f"{path} written")
        s.wait_window("Save line test report", visible=False)

    def test_start_watch_stop_save_and_compare(self):
        with Session(SIM_ARGS, app_env={"TESSOR_LINETEST_INTERVAL_MS": "300"}) as s:
            s.start_up()
            s.key("alt+w")
            s.wait_for(lambda st: any(w["class"] == "QMenu" for w in st["windows"]), "the Window menu")
            s.key("t")
            dialog = s.wait_window(DIALOG)
            self.assertTrue(Session.find(dialog, text="15 min", cls="QLineEdit"), "the default duration")
            s.click_widget(DIALOG, name="site")
            s.type("Depot <7> & co")
            # The ESR limit, and the severe error threshold through its label's mnemonic; leaving a field
            # shows the value as it is taken.
            s.click_widget(DIALOG, name="maxEsr")
            s.key("ctrl+a")
            s.type("2.5")
            s.key("alt+v", "ctrl+a")
            s.type("5")
            s.key("Tab")
            s.wait_for(lambda st: any(w.get("text") == "5.00 %" for w in Session.window_in(st, DIALOG)["widgets"]),
                       "the threshold taken")
            self.assertTrue(s.widget(DIALOG, text="2.50 %", cls="QLineEdit"), "the ESR limit taken")
            r = s.window(DIALOG)["rect"]
            s.screenshot(s.path("screen.png"))
            subprocess.run(["convert", s.path("screen.png"), "-crop", f"{r['w']}x{r['h']}+{r['x']}+{r['y']}",
                            s.path("dialog.png")], check=True)

            s.click_widget(DIALOG, text="&Start")
            # The progress: passes counted, the bar moving, the figures of the simulated line.
            dialog = s.wait_widget(DIALOG, lambda w: re.search(r"pass [3-9]", w.get("text", "")),
                                   "three passes in the status line", name="status")
            status = text_of(dialog, "status")
            self.assertRegex(status, r"^14:[0-5]\d left, pass \d+, line up, SNR 3\d\.\d\d dB")
            # One step of the bar is a thousandth of the 15 minutes: it moves within the first second or two.
            s.wait_widget(DIALOG, lambda w: w.get("value", 0) > 0, "the bar moving", name="progress")
            self.assertFalse(Session.find(dialog, text="&Start")["enabled"])

            s.click_widget(DIALOG, text="S&top")
            s.wait_widget(DIALOG, lambda w: w.get("text") == "Verdict: STOPPED", "the verdict", name="verdict")

            pdf = s.path("report.pdf")
            self.save_report(s, pdf)
            text = " ".join(subprocess.run(["pdftotext", pdf, "-"], capture_output=True, text=True,
                                           check=True).stdout.split())
            self.assertIn("Line test report", text)
            self.assertIn("STOPPED", text)
            self.assertIn("Depot <7> & co", text)
            self.assertIn("Minimum SNR", text)
            self.assertIn("The board answered every pass", text)
            self.assertRegex(text, r"SNR \d\d\.\d\d \d\d\.\d\d \d\d\.\d\d dB")

            html = s.path("report.html")
            self.save_report(s, html)
            with open(html, encoding="utf-8") as f:
                report = Report(f.read())
            self.assertEqual(report.verdict, "stopped")
            self.assertEqual(report.figures["site"], ["Depot <7> & co"])
            self.assertGreaterEqual(int(report.figures["passes"][0]), 3)
            self.assertEqual(report.criteria["answered_every_pass"]["result"], "passed")
            self.assertEqual(report.figures["severe_error_percent"], ["5 % of the frames received"])
            self.assertIn("at most 2.50 % of the available time", report.criteria["esr"]["cells"])

            s.click_widget(DIALOG, text="&Close")
            s.wait_window(DIALOG, visible=False)
            # Kept with the other limits.
            store = s.path("config/Calvadra")
            with open(os.path.join(store, os.listdir(store)[0])) as f:
                settings = f.read()
            self.assertRegex(settings, r"(?m)^MaxEsrPercent=2.5$")
            self.assertRegex(settings, r"(?m)^SevereErrorPercent=5$")

            # File > Compare with File... (the last entry of the File menu) against a file of zeros.
            config = s.path("zeros.LT")
            with open(config, "wb") as f:
                f.write(b"LT" + b"".join(b"\r\n" + r.encode() + b":00" for r in CONFIG_REGISTERS))
            s.click_item(SHEET, "menus", "&File", cls="QMenuBar")
            s.wait_for(lambda st: any(w["class"] == "QMenu" for w in st["windows"]), "the File menu")
            s.key("Up", "Return")
            s.wait_window("Choose the file to compare with")
            s.type(config)
            s.key("Return")
            compare = s.wait_window("Compare with File")
            summary = text_of(compare, "summary")
            match = re.match(r"^(\d+) of 31 registers differ from ", summary)
            self.assertTrue(match, summary)
            rows = Session.find(compare, name="differences")["rows"]
            self.assertEqual(len(rows), int(match.group(1)))
            words = {}
            for row in rows:
                register, in_file, on_board, words[register] = row["texts"]
                self.assertIn(register, CONFIG_REGISTERS)
                self.assertEqual(in_file, "00")
                self.assertNotEqual(on_board, "00")
            # Beside the bytes, the changes in the words of the Link Configuration page.
            self.assertIn("DS Constellation: QAM 256 -> QAM 64", words["8C40"])
            self.assertIn("Standard Settings: none -> 10 M", words["8C40"])
            self.assertIn("Ethernet Port Speed setup: none -> 3", words["8D40"])
            self.assertEqual(words["8D41"], "Register 8D41: 00 -> E1")
            s.key("Escape")
            s.wait_window("Compare with File", visible=False)


if __name__ == "__main__":
    unittest.main()
