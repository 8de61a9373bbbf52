"""tessor-configurator.exe under Wine, driven with real X input, checked against the Linux program.

The Linux program runs once first, against a fresh simulator, as the reference: its first traffic, the
PHY page's first values, and the file File > Save writes. The Windows program must match it exactly.
Run by scripts/test-windows.sh (see winesession.py for the environment); TESSOR_CONFIGURATOR and
TESSOR_UI_PROBE name the Linux program and its preloaded probe.
"""

import os
import shutil
import socket
import subprocess
import time
import unittest

from winesession import WineSession, windows_path
from realinput import Session, _wait

SHEET = "Tessor Console Configurator"
INIT = "Initialize Hardware"
TERMINAL = "Terminal"
HISTORY = "Line History"
SAVE_TITLE = "Save current hardware registers to file"
# The same simulator for both programs: no training time, answers at once, its fixed noise seed.
SIM_ARGS = ["--train-ms", "0", "--no-pacing"]
PHY_FIELDS = ["editSnr", "editMse", "editRs", "editPower", "editLinkFail"]
QUIET_S = 1.5  # the start-up's reads are done when the wire stays this long unchanged
SLOW_S = 60.0  # a guard for steps that Wine makes slow


def first_traffic(s):
    """The wire record once the sheet is shown and the start-up's reads have stopped (the first timer
    of the General page fires after 5 s)."""
    s.wait_window(SHEET, timeout=SLOW_S)
    seen = {"bytes": None, "since": 0.0}

    def settled():
        now, wire = time.monotonic(), s.wire_bytes()
        if wire != seen["bytes"]:
            seen.update(bytes=wire, since=now)
            return None
        return wire if wire and now - seen["since"] >= QUIET_S else None

    return _wait(settled, "the start-up's traffic to settle", SLOW_S, period=0.1)


def phy_values(s):
    """The PHY Status page's first shown values (read at one tick, shown at the next)."""
    s.click_tab(SHEET, "  PHY Status  ")
    window = s.wait_widget(SHEET, lambda w: w["text"] != "", "the PHY page's first values", SLOW_S,
                           name="editSnr")
    return {name: Session.find(window, name=name)["text"] for name in PHY_FIELDS}


def open_menu_entry(s, menu, entry_key):
    """Clicks a menu of the sheet's menu bar open and chooses an entry by its underlined letter."""
    s.click_item(SHEET, "menus", menu, cls="QMenuBar")
    s.wait_for(lambda st: any(w["class"] == "QMenu" for w in st["windows"]), f"the menu {menu}")
    s.key(entry_key)


def save_configuration(s, path, dialog_name):
    """File > Save current configuration, the file name typed into the dialog; returns the file's bytes."""
    open_menu_entry(s, "&File", "s")
    s.wait_x_window(SAVE_TITLE, timeout=SLOW_S)
    if not isinstance(s, WineSession):
        # Qt's dialog is mapped before it takes the keyboard; Wine routes the keys to its dialog itself.
        s.wait_x_focus(SAVE_TITLE, timeout=SLOW_S)
    s.type(dialog_name)
    s.key("Return")
    s.wait_x_window(SAVE_TITLE, visible=False, timeout=SLOW_S)
    _wait(lambda: os.path.exists(path), f"{path} written", SLOW_S)
    with open(path, "rb") as f:
        return f.read()


class Reference:
    """What the Linux program does against a fresh simulator; measured once."""
    done = None

    @classmethod
    def get(cls):
        if cls.done is None:
            with Session(SIM_ARGS) as s:
                s.start_up()
                traffic = first_traffic(s)
                phy = phy_values(s)
                path = s.path("linux.LT")
                saved = save_configuration(s, path, path)
                s.click_widget(SHEET, text="Close")
                s.wait_exit()
            cls.done = {"traffic": traffic, "phy": phy, "saved": saved}
        return cls.done


class Ser2netSession(WineSession):
    """The Windows program with COM1 set to ser2net's RFC 2217 accepter on 127.0.0.1, ser2net (running
    natively, ended with the session) on the simulator's pseudo-terminal."""

    def _app_env(self, device):
        with socket.socket() as free:
            free.bind(("127.0.0.1", 0))
            port = free.getsockname()[1]
        config = self._file("ser2net.yaml")
        with open(config, "w") as f:
            f.write("%YAML 1.1\n---\nconnection: &board\n"
                    f"  accepter: telnet(rfc2217),tcp,127.0.0.1,{port}\n"
                    f"  connector: serialdev,{device},9600n81,local\n")
        ser2net = os.environ.get("SER2NET") or shutil.which("ser2net") or "/usr/sbin/ser2net"
        self.procs.append(subprocess.Popen([ser2net, "-n", "-u", "-c", config, "-P", self._file("ser2net.pid")],
                                           stdout=self._log("ser2net.out"), stderr=subprocess.STDOUT))

        def listening():
            # From the kernel's table: a connection would make ser2net open the pseudo-terminal.
            with open("/proc/net/tcp") as table:
                return f"0100007F:{port:04X} 00000000:0000 0A" in table.read()

        _wait(listening, "ser2net listening", SLOW_S)
        env = super()._app_env(device)
        env["TESSOR_COM1"] = f"rfc2217://127.0.0.1:{port}"
        return env


class ConfiguratorUnderWine(unittest.TestCase):

    def assert_phy_like(self, linux, windows):
        """The same line seen by both programs: the simulator's SNR jitters by up to 0.3 dB from one
        moment to the next, its RS error count by a few, the rest is fixed."""
        for name in ("editPower", "editLinkFail"):
            self.assertEqual(linux[name], windows[name], name)
        for name in ("editSnr", "editMse"):
            self.assertRegex(windows[name], r"^\d+,\d\d$", name)
            difference = float(windows[name].replace(",", ".")) - float(linux[name].replace(",", "."))
            self.assertLessEqual(abs(difference), 0.7, f"{name}: {windows[name]} against {linux[name]}")
        self.assertRegex(windows["editRs"], r"^\d+$")

    def test_start_up_pages_and_close(self):
        ref = Reference.get()
        with WineSession(SIM_ARGS) as s:
            dialog = s.wait_window(INIT, timeout=SLOW_S)
            self.assertEqual("COM1", Session.find(dialog, name="portList")["text"])
            s.click(Session.find(dialog, text="OK"))
            s.wait_window(INIT, visible=False, timeout=SLOW_S)

            self.assertEqual(ref["traffic"], first_traffic(s), "first traffic differs from Linux's")
            self.assert_phy_like(ref["phy"], phy_values(s))

            s.click_widget(SHEET, text="Close")
            self.assertEqual(0, s.wait_exit(SLOW_S), s.app_output())
            # The choices are kept in the registry, under the program's name.
            stored = s.registry("HKCU\\Software\\Calvadra\\tessor-configurator")
            self.assertRegex(stored, r"Port\s+REG_\w+\s+0", stored)

    def test_start_up_through_a_console_server(self):
        ref = Reference.get()
        with Ser2netSession(SIM_ARGS) as s:
            s.start_up()
            self.assertEqual(ref["traffic"], first_traffic(s), "first traffic through RFC 2217 differs")

    def test_terminal_save_and_line_history(self):
        ref = Reference.get()
        with WineSession(SIM_ARGS) as s:
            s.start_up()
            first_traffic(s)

            s.click_widget(SHEET, text="Terminal")
            s.wait_window(TERMINAL, timeout=SLOW_S)
            s.click(s.widget(TERMINAL, name="commandEdit"))
            s.type("RD 8C10")
            s.wait_widget(TERMINAL, lambda w: w["text"] == "RD 8C10", "the command typed", name="commandEdit")
            mark = len(s.wire())
            s.click_widget(TERMINAL, text="Send")
            s.wait_wire(lambda wire: "RD 8C10" in wire[mark:], "RD 8C10 on the wire", SLOW_S)
            window = s.wait_widget(TERMINAL, lambda w: w["items"][:1] == ["L> RD 8C10"],
                                   "the read listed", SLOW_S, name="lineList")
            self.assertRegex(Session.find(window, name="lineList")["items"][1], r"^ 8C10: [0-9A-F]{2}$")
            s.click_widget(TERMINAL, text="Close")
            s.wait_window(TERMINAL, visible=False)

            path = s.path("windows.LT")
            self.assertEqual(ref["saved"], save_configuration(s, path, windows_path(path)),
                             "the saved file differs from Linux's")

            open_menu_entry(s, "&Window", "h")
            s.wait_window(HISTORY, timeout=SLOW_S)
            # Out of the way of the sheet's buttons (there is no window manager to raise the sheet).
            s.move_window(HISTORY, 1000, 0)
            s.wait_for(lambda st: Session.window_in(st, HISTORY)["rect"]["x"] >= 1000, "the history moved")

            s.click_widget(SHEET, text="Close")
            self.assertEqual(0, s.wait_exit(SLOW_S), s.app_output())


if __name__ == "__main__":
    unittest.main()
