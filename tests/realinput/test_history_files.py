"""The Line History window's recording file with real X input: recording on after a row cut short, the
file opened with that row skipped, and a pipe refused without the window waiting for it."""

import os
import unittest

from realinput import Session

SIM_ARGS = ["--train-ms", "500", "--no-pacing"]
HISTORY = "Line History"


def open_history(s):
    s.key("alt+w")
    s.wait_for(lambda st: any(w["class"] == "QMenu" for w in st["windows"]), "the Window menu")
    s.key("h")
    return s.wait_window(HISTORY)


def window_showing(state, text):
    """The visible window with a widget whose text holds text, or None."""
    for w in state["windows"]:
        if any(text in (x.get("text") or "") for x in w["widgets"]):
            return w
    return None


def answer_dialog(s, title, path):
    s.wait_window(title)
    s.type(path)
    s.key("Return")
    s.wait_window(title, visible=False)


def rows(path):
    with open(path, "rb") as f:
        return f.read().count(b"\n")


class HistoryFiles(unittest.TestCase):
    def setUp(self):
        os.environ["TESSOR_HISTORY_INTERVAL_MS"] = "300"  # background passes come quickly

    def record_for_a_while(self, s, path):
        before = rows(path) if os.path.exists(path) else 0
        s.click_widget(HISTORY, text="&Record to File...")
        answer_dialog(s, "Record to File", path)
        s.wait_for(lambda st: rows(path) >= before + 6, "rows in the recording")
        s.click_widget(HISTORY, text="Stop &Recording to File")
        s.wait_widget(HISTORY, lambda w: True, "recording stopped", text="&Record to File...")

    def test_recording_goes_on_after_a_cut_row_and_the_file_opens_without_it(self):
        with Session(SIM_ARGS) as s:
            s.start_up()
            open_history(s)
            s.click_widget(HISTORY, text="Record in &background")
            recording = s.path("site.csv")
            self.record_for_a_while(s, recording)
            # A full disk cut the last row in half.
            with open(recording, "rb") as f:
                data = f.read()
            last = data[data.rindex(b"\n", 0, len(data) - 1) + 1:]
            with open(recording, "wb") as f:
                f.write(data[:len(data) - len(last) // 2])
            cut_line = data.count(b"\n")
            self.record_for_a_while(s, recording)

            s.click_widget(HISTORY, text="&Open Recording...")
            answer_dialog(s, "Open Recording", recording)
            shown = s.wait_for(lambda st: window_showing(st, "1 damaged row was skipped; the journal says where."),
                               "the skipped row in the status line")
            self.assertEqual(HISTORY + " - site.csv", shown["title"])
            journal = [r["texts"][1] for w in shown["widgets"] if w["class"] == "QTreeWidget" for r in w["rows"]]
            self.assertIn(f"Damaged row skipped: line {cut_line} of site.csv", journal)
            self.assertTrue(any(t.startswith("The row before this one was cut short") for t in journal), journal)
            self.assertEqual(2, sum(t == "Recording to " + recording for t in journal), journal)

    def test_a_pipe_is_refused_at_once_and_the_window_goes_on(self):
        with Session(SIM_ARGS) as s:
            s.start_up()
            open_history(s)
            pipe = s.path("pipe.csv")
            os.mkfifo(pipe)
            for button, title in (("&Record to File...", "Record to File"), ("&Open Recording...", "Open Recording")):
                s.click_widget(HISTORY, text=button)
                answer_dialog(s, title, pipe)
                box = s.wait_for(lambda st: window_showing(st, "is not a regular file"), "the refusal")
                self.assertIn(pipe, [x.get("text") for x in box["widgets"] if "regular" in (x.get("text") or "")][0])
                s.key("Return")
                s.wait_for(lambda st: window_showing(st, "is not a regular file") is None, "the box closed")
            s.wait_widget(HISTORY, lambda w: True, "still not recording", text="&Record to File...")


if __name__ == "__main__":
    unittest.main()
