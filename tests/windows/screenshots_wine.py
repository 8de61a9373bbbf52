"""Screenshots of tessor-configurator.exe under Wine talking to the simulator, for the README.

Run by scripts/screenshots-windows.sh after scripts/test-windows.sh has built everything; writes
docs/screenshots/windows-*.png (the windows only, the empty screen around them trimmed).
"""

import os
import subprocess
import sys
import time

from winesession import WineSession
from realinput import Session

SHEET = "Tessor Console Configurator"
OUT = sys.argv[1] if len(sys.argv) > 1 else "docs/screenshots"


def shot(s, name):
    path = os.path.join(OUT, f"windows-{name}.png")
    s.screenshot(path)
    subprocess.run(["convert", path, "-bordercolor", "black", "-border", "1", "-fuzz", "2%", "-trim",
                    "+repage", path], check=True)
    print(path)


def settle(s, seconds):
    """Lets the poll timers run (the PHY values read at one tick are shown at the next)."""
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        s.state()
        time.sleep(0.5)


def main():
    with WineSession(["--train-ms", "500"]) as s:
        s.wait_window("Initialize Hardware", timeout=120)
        settle(s, 1)
        shot(s, "startup")
        s.key("Return")
        s.wait_window(SHEET, timeout=60)
        s.move_window(SHEET, 20, 20)
        settle(s, 6)
        shot(s, "general")

        s.click_tab(SHEET, "  PHY Status  ")
        s.wait_widget(SHEET, lambda w: w["text"] != "", "PHY values", 30, name="editSnr")
        settle(s, 1)
        shot(s, "phy")

        s.click_widget(SHEET, text="Terminal")
        s.wait_window("Terminal", timeout=30)
        s.move_window("Terminal", 560, 60)
        s.click(s.widget("Terminal", name="commandEdit"))
        s.type("RD 8C10")
        s.click_widget("Terminal", text="Send")
        s.wait_widget("Terminal", lambda w: w["items"][:1] == ["L> RD 8C10"], "the read", 30, name="lineList")
        settle(s, 1)
        shot(s, "terminal")
        s.click_widget("Terminal", text="Close")
        s.wait_window("Terminal", visible=False)

        s.click_item(SHEET, "menus", "&File", cls="QMenuBar")
        s.wait_for(lambda st: any(w["class"] == "QMenu" for w in st["windows"]), "the File menu")
        s.key("s")
        title = "Save current hardware registers to file"
        s.wait_x_window(title, timeout=60)
        time.sleep(1)  # a system dialog: nothing to ask when it has drawn itself
        shot(s, "save-dialog")
        s.key("Escape")
        s.wait_x_window(title, visible=False, timeout=30)

        s.click_item(SHEET, "menus", "&Window", cls="QMenuBar")
        s.wait_for(lambda st: any(w["class"] == "QMenu" for w in st["windows"]), "the Window menu")
        s.key("h")
        s.wait_window("Line History", timeout=30)
        s.move_window("Line History", 40, 40)
        settle(s, 12)
        shot(s, "history")
        s.move_window("Line History", 1000, 0)  # off the sheet's Close button
        s.wait_for(lambda st: Session.window_in(st, "Line History")["rect"]["x"] >= 1000, "the history moved")
        s.click_widget(SHEET, text="Close")
        s.wait_exit(60)


if __name__ == "__main__":
    main()
