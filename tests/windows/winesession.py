"""The real-input harness (tests/realinput/realinput.py) for the Windows program under Wine.

A WineSession starts Xvfb and tessor-sim like a Linux Session, maps Wine's COM1 to the simulator's
pseudo-terminal through the registry key HKLM\\Software\\Wine\\Ports, clears the program's own settings
(HKCU\\Software\\Calvadra) and starts the test build of tessor-configurator.exe, which has the window probe
compiled in, under Wine on that display. Input goes through the X server as for the Linux program.

Paths come from the environment (set by scripts/test-windows.sh): WINE, WINESERVER, WINEPREFIX,
TESSOR_CONFIGURATOR_EXE, TESSOR_SIM and TESSOR_SOURCE_DIR (the program's working directory).
"""

import os
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "realinput"))

from realinput import HarnessError, Session, _need, center  # noqa: E402

# Wine starts slowly (its server and services first): a guard, not a measurement.
WINE_START_S = 120.0


def windows_path(path):
    """The path as a Windows program under Wine names it (Wine's drive Z: is the Unix root)."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


class WineSession(Session):
    """One run of the Windows program under Wine against the simulator on a private display."""

    def _wine_env(self):
        env = dict(os.environ)
        for name in ("WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "LD_PRELOAD", "TESSOR_COM1", "TESSOR_COM2",
                     "TESSOR_COM3"):
            env.pop(name, None)
        env.update({
            "WINEPREFIX": _need("WINEPREFIX"),
            "WINEDEBUG": "-all",
            "WINEDLLOVERRIDES": "mscoree,mshtml=,winemenubuilder.exe=d",
        })
        return env

    def wine(self, *args, display=False):
        """Runs a Wine command to its end; returns its standard output."""
        env = self._wine_env()
        if display:
            env["DISPLAY"] = self.display
        else:
            env.pop("DISPLAY", None)
        done = subprocess.run([_need("WINE"), *args], env=env, capture_output=True, text=True,
                              timeout=WINE_START_S)
        if done.returncode != 0:
            raise HarnessError(f"wine {' '.join(args)} failed: {done.stderr[-2000:]}")
        return done.stdout

    def wineserver(self, *args):
        subprocess.run([_need("WINESERVER"), *args], env=self._wine_env(), timeout=WINE_START_S,
                       check=False)

    def _prepare_prefix(self, device):
        # One registry import: COM1 to the simulator, the program's settings gone. The server restarts,
        # so that the program reads the port mapping afresh.
        reg = self._file("session.reg")
        with open(reg, "w", encoding="utf-16") as f:
            f.write("Windows Registry Editor Version 5.00\r\n\r\n"
                    "[HKEY_LOCAL_MACHINE\\Software\\Wine\\Ports]\r\n"
                    f'"COM1"="{device}"\r\n\r\n'
                    "[-HKEY_CURRENT_USER\\Software\\Calvadra]\r\n")
        self.wineserver("-k")
        self.wineserver("-w")
        self.wine("regedit", "/S", windows_path(reg))
        self.wineserver("-k")
        self.wineserver("-w")

    def _app_command(self):
        return [_need("WINE"), _need("TESSOR_CONFIGURATOR_EXE")]

    def _app_env(self, device):
        self._prepare_prefix(device)
        env = self._wine_env()
        env.update({"DISPLAY": self.display, "TESSOR_UI_PROBE_DIR": windows_path(self.probe_dir)})
        env.update(self.app_env)
        return env

    def stop(self):
        super().stop()
        if os.environ.get("WINEPREFIX"):
            self.wineserver("-k")

    def click(self, widget):
        """Moves the pointer onto the widget, waits until the program has seen it there, then clicks:
        under Wine a quick press and release right after a move was seen to get lost now and then."""
        if "class" not in widget:  # a part of a widget (a tab, a menu of the bar)
            return super().click(widget)
        x, y = center(widget)
        self.xdotool("mousemove", "--sync", str(x), str(y))

        def hovered(state):
            return any(w.get("hover") and w["rect"] == widget["rect"]
                       for window in state["windows"] for w in window["widgets"])

        self.wait_for(hovered, f"the pointer seen over {widget.get('text') or widget['name']!r}")
        # Press and release with a round trip of the probe between them, as a person's click takes time.
        self.xdotool("mousedown", "1")
        self.state()
        self.xdotool("mouseup", "1")

    def registry(self, key):
        """The values under a registry key as `reg query` prints them."""
        return self.wine("reg", "query", key, "/s")

    def start_up(self):
        self.wait_window("Initialize Hardware", timeout=WINE_START_S)
        self.key("Return")
        return self.wait_window("Tessor Console Configurator", timeout=WINE_START_S)
