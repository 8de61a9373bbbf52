"""The Line History window of the real program with real X input: a recording opened through its dialog,
zoomed with the button and the wheel, scrolled, a journal entry chosen (see realinput.py). What each graph
shows is read from its accessible description, which the window keeps up to date."""

import datetime
import os
import re
import shutil
import unittest

from realinput import Session

SHEET = "Tessor Console Configurator"
HISTORY = "Line History"
GRAPHS = ["graphSnr", "graphRs", "graphTxPower", "graphLinkFail", "graphFrames", "graphOctets"]
FIXTURE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "data", "line-history.csv")
SHOWN = re.compile(r"^From (\S+ \S+) to (\S+ \S+), (?:values (\S+) to (\S+)|no values)(?:, marked at (\S+ \S+))?\.$")


def parse_time(text):
    return datetime.datetime.strptime(text, "%Y-%m-%d %H:%M:%S")


def views(window):
    """Each graph's time range, value range and mark, by object name."""
    out = {}
    for name in GRAPHS:
        graph = Session.find(window, name=name)
        m = SHOWN.match(graph.get("accessibleDescription", ""))
        if not m:
            raise AssertionError(f"{name}: {graph.get('accessibleDescription')!r}")
        out[name] = {"from": parse_time(m.group(1)), "to": parse_time(m.group(2)), "bottom": m.group(3),
                     "top": m.group(4), "mark": parse_time(m.group(5)) if m.group(5) else None,
                     "graph": graph}
    return out


def span(window):
    """The one time range all graphs show (they share one axis)."""
    ranges = {(v["from"], v["to"]) for v in views(window).values()}
    if len(ranges) != 1:
        raise AssertionError(f"the graphs show different times: {ranges}")
    return ranges.pop()


def wait_view(s, title, predicate, what):
    """Waits until the window's graphs show a view for which predicate(from, to, window) holds."""
    def check(state):
        window = Session.window_in(state, title)
        return window if window is not None and predicate(*span(window), window) else None
    return s.wait_for(check, what)


class HistoryInput(unittest.TestCase):
    def test_open_zoom_scroll_and_choose_an_entry(self):
        with Session(["--train-ms", "300", "--no-pacing"]) as s:
            recording = s.path("line-history.csv")
            shutil.copy(FIXTURE, recording)
            s.start_up()
            s.key("alt+w")
            s.wait_for(lambda st: any(w["class"] == "QMenu" for w in st["windows"]), "the Window menu")
            s.key("h")
            s.wait_window(HISTORY)
            s.move_window(HISTORY, 0, 0)
            s.wait_for(lambda st: Session.window_in(st, HISTORY)["rect"]["x"] == 0, "the window moved")

            s.click_widget(HISTORY, text="&Open Recording...")
            s.wait_window("Open Recording")
            s.type(recording)
            s.key("Return")
            opened = f"{HISTORY} - line-history.csv"
            window = s.wait_window(opened)
            self.assertTrue(any(w.get("text", "").startswith("721 PHY samples, 722 Ethernet samples, 20 events")
                                for w in window["widgets"]), "the recording's counts")

            # Six graphs, each named for a screen reader after what it draws, on one time axis: the
            # whole hour of the recording.
            whole = views(window)
            self.assertEqual("SNR (dB), Mean square error (dB)", whole["graphSnr"]["graph"]["accessibleName"])
            self.assertEqual(len({v["graph"]["accessibleName"] for v in whole.values()}), 6)
            start, end = span(window)
            self.assertEqual(3600, round((end - start).total_seconds() / 60) * 60)
            # Values that cannot be negative get an axis from zero; the transmitted power stays negative.
            for name in ["graphRs", "graphLinkFail", "graphFrames", "graphOctets"]:
                self.assertEqual(0, float(whole[name]["bottom"]), name)
            self.assertTrue(whole["graphTxPower"]["top"].startswith("-"))
            scroll = Session.find(window, cls="QScrollBar")
            self.assertFalse(scroll["enabled"], "nothing to scroll in the whole view")

            # Zoom In: half the hour, around its middle.
            s.click_widget(opened, text="Zoom &In")
            window = wait_view(s, opened, lambda f, t, w: (f, t) != (start, end), "the view zoomed in")
            zoom_from, zoom_to = span(window)
            self.assertAlmostEqual((end - start).total_seconds() / 2, (zoom_to - zoom_from).total_seconds(), delta=2)
            middle = start + (end - start) / 2
            self.assertLess(abs((zoom_from + (zoom_to - zoom_from) / 2 - middle).total_seconds()), 2)

            # The wheel over the left edge of the SNR graph: half again, the time under it kept in place.
            graph = Session.find(window, name="graphSnr")["rect"]
            s.xdotool("mousemove", "--sync", str(graph["x"] + graph["w"] // 5), str(graph["y"] + graph["h"] // 2))
            s.xdotool("click", "4")
            window = wait_view(s, opened, lambda f, t, w: (f, t) != (zoom_from, zoom_to), "the wheel zoomed in")
            wheel_from, wheel_to = span(window)
            self.assertAlmostEqual((zoom_to - zoom_from).total_seconds() / 2, (wheel_to - wheel_from).total_seconds(),
                                   delta=2)
            self.assertGreaterEqual(wheel_from, zoom_from)
            self.assertLess(wheel_to, zoom_to)

            # The scroll bar: a click on its track left of the slider pages back by a view's width.
            scroll = Session.find(window, cls="QScrollBar")
            self.assertTrue(scroll["enabled"])
            before = scroll["value"]
            self.assertGreater(before, 0)
            r = scroll["rect"]
            s.click_at(r["x"] + 30, r["y"] + r["h"] // 2)
            window = wait_view(s, opened, lambda f, t, w: f < wheel_from, "the view scrolled back")
            back_from, back_to = span(window)
            self.assertAlmostEqual((wheel_to - wheel_from).total_seconds(), (back_to - back_from).total_seconds(),
                                   delta=2)
            self.assertLess(Session.find(window, cls="QScrollBar")["value"], before)

            # The line going down in the journal: every graph marks it and the view moves to it.
            journal = Session.find(window, cls="QTreeWidget")
            row = next(r for r in journal["rows"] if r["texts"][1] == "No DSL connection: line down")
            down = parse_time(row["texts"][0])
            s.click(row)
            window = wait_view(s, opened, lambda f, t, w: all(v["mark"] for v in views(w).values()),
                               "the entry marked on the graphs")
            marked = views(window)
            for name, v in marked.items():
                self.assertEqual(down, v["mark"], name)
                self.assertLessEqual(v["from"], down, name)
                self.assertGreaterEqual(v["to"], down, name)

            # Whole Recording: back to the hour, the mark kept.
            s.click_widget(opened, text="&Whole Recording")
            window = wait_view(s, opened, lambda f, t, w: (f, t) == (start, end), "the whole recording again")
            self.assertEqual(down, views(window)["graphOctets"]["mark"])


if __name__ == "__main__":
    unittest.main()
