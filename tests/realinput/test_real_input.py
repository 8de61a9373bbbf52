"""The real program driven with real X input while its sheet runs modally (see realinput.py)."""

import unittest

from realinput import Session

SHEET = "Tessor Console Configurator"
TERMINAL = "Terminal"
SIM_ARGS = ["--train-ms", "500", "--no-pacing"]


def list_items(window):
    return Session.find(window, name="lineList")["items"]


class TerminalInput(unittest.TestCase):
    """Typing into the terminal and hiding it, while the sheet runs modally beside it."""

    def test_typed_commands_reach_the_board_and_the_list(self):
        with Session(SIM_ARGS) as s:
            s.start_up()
            s.click_widget(SHEET, text="Terminal")
            s.wait_window(TERMINAL)

            for command in ["RD 8C10", "WR 8C12 66", "rd 8c12"]:
                mark = len(s.wire())
                s.click(s.widget(TERMINAL, name="commandEdit"))
                s.key("ctrl+a", "BackSpace")
                s.type(command)
                s.wait_widget(TERMINAL, lambda w: w["text"] == command, f"{command!r} in the edit",
                              name="commandEdit")
                s.key("Return")  # does nothing: only Send sends
                # Two answers of the probe, on the UI thread after the key press: had Enter sent anything,
                # the command would be on the wire by then.
                s.state()
                s.state()
                self.assertEqual([], [l for l in s.wire_since(mark) if l == command.upper()], "Enter sent")
                s.click_widget(TERMINAL, text="Send")
                sent = command.upper()
                s.wait_wire(lambda wire: sent in wire[mark:], f"{sent!r} on the wire")

            window = s.wait_widget(TERMINAL, lambda w: w["items"][:1] == ["L> RD 8C12"],
                                   "the last command at the top", name="lineList")
            shown = list_items(window)[:5]
            self.assertEqual(["L> RD 8C12", " 8C12: 66", "L> WR 8C12 66", "L> RD 8C10"], shown[:4])
            self.assertRegex(shown[4], r"^ 8C10: [0-9A-F]{2}$")

    def test_escape_and_close_hide_it_and_the_sheet_stays_usable(self):
        with Session(SIM_ARGS) as s:
            s.start_up()
            s.click_widget(SHEET, text="Terminal")
            s.wait_window(TERMINAL)
            # The sheet beside it still takes clicks.
            s.move_window(TERMINAL, 960, 40)
            s.wait_for(lambda st: Session.window_in(st, TERMINAL)["rect"]["x"] >= 960, "the terminal moved")
            s.click_tab(SHEET, "  PHY Status  ")
            s.wait_widget(SHEET, lambda w: w["current"] == 2, "the PHY Status tab", cls="QTabWidget")
            s.click(s.widget(TERMINAL, name="commandEdit"))
            s.key("Escape")
            s.wait_window(TERMINAL, visible=False)
            s.click_widget(SHEET, text="Terminal")
            s.wait_window(TERMINAL)
            s.click_widget(TERMINAL, text="Close")
            s.wait_window(TERMINAL, visible=False)
            # Hidden by its own Close, so the next press shows it again.
            s.click_widget(SHEET, text="Terminal")
            s.wait_window(TERMINAL)

    def test_clear_and_logging(self):
        with Session(SIM_ARGS) as s:
            s.start_up()
            s.click_widget(SHEET, text="Terminal")
            s.wait_widget(TERMINAL, lambda w: w["items"], "the start-up's read listed", name="lineList")
            s.click_widget(TERMINAL, text="Clear")
            s.wait_widget(TERMINAL, lambda w: w["items"] == [], "an empty list", name="lineList")

            log = s.path("typed.log")
            s.click_widget(TERMINAL, text="Start Logging...")
            s.wait_window("Open Log File")
            s.type(log)
            s.key("Return")
            s.wait_window("Open Log File", visible=False)
            s.wait_widget(TERMINAL, lambda w: True, "the Stop Logging button", text="Stop Logging")

            s.click(s.widget(TERMINAL, name="commandEdit"))
            s.type("RD 8C11")
            s.click_widget(TERMINAL, text="Send")
            s.wait_widget(TERMINAL, lambda w: w["items"][:1] == ["L> RD 8C11"], "the read listed",
                          name="lineList")
            s.click_widget(TERMINAL, text="Stop Logging")
            s.wait_widget(TERMINAL, lambda w: True, "Start Logging again", text="Start Logging...")
            with open(log, "rb") as f:
                lines = f.read().split(b"\r\n")
            self.assertEqual(b"L> RD 8C11", lines[1], lines)
            self.assertRegex(lines[0].decode(), r"^ 8C11: [0-9A-F]{2}$")


class SheetInput(unittest.TestCase):
    """A page button, a menu command and a radio button, with real clicks and keys."""

    def test_page_button_menu_and_radio(self):
        with Session(SIM_ARGS) as s:
            s.start_up()
            mark = len(s.wire())
            s.click_widget(SHEET, name="btnLineLoopbackLocal")
            s.wait_wire(lambda wire: "OR 8C00 02" in wire[mark:], "the local line loopback on the wire")

            # Window > Link Configuration with the keyboard.
            s.key("alt+w")
            s.wait_for(lambda st: any(w["class"] == "QMenu" for w in st["windows"]), "the Window menu")
            s.key("l")
            s.wait_widget(SHEET, lambda w: w["current"] == 1, "the Link Configuration tab", cls="QTabWidget")

            # "Standard Settings" chosen with an arrow key from "Current Settings".
            s.click_widget(SHEET, name="radioCurrent")
            s.key("Left")  # "Standard Settings" stands left of "Current Settings"
            sheet = s.wait_widget(SHEET, lambda w: w.get("checked"), "Standard Settings checked",
                                  name="radioStandard")
            self.assertTrue(Session.find(sheet, name="cmbDsPreset"), "preset list shown")
            self.assertTrue(Session.find(sheet, name="btnWriteUpdate")["enabled"], "Write && Update enabled")


if __name__ == "__main__":
    unittest.main()
