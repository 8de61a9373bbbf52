"""Real-input test support: the real program under its own virtual X server, driven the way a person does.

A Session starts Xvfb on a free display (-displayfd), the tessor-sim program on a pseudo-terminal with a
wire log, and the real tessor-configurator pointed at it as COM1 (its own start-up: the modal "Initialize
Hardware" dialog, then the modal sheet). Input goes through the X server with xdotool (XTEST), so the window
system's modality applies exactly as for a user. What the windows show is read with the UI probe, a small
library preloaded into the program that writes the visible windows and widgets as JSON on request and
never sends input itself.

Paths come from the environment (set by CTest): TESSOR_CONFIGURATOR, TESSOR_SIM, TESSOR_UI_PROBE and
TESSOR_SOURCE_DIR (the working directory of the program, so that its help is found).

A display server that cannot start is an error, never a skip.
"""

import json
import os
import re
import shutil
import signal
import subprocess
import tempfile
import time

# A guard against a hang, not a measurement; sanitizer builds run several times slower and get a longer one.
GUARD_S = float(os.environ.get("TESSOR_REALINPUT_GUARD_S", "15"))


class HarnessError(AssertionError):
    """Raised when the harness cannot do what was asked; fails the test."""


def _need(name):
    path = os.environ.get(name)
    if not path:
        raise HarnessError(f"environment variable {name} is not set (run the test through CTest)")
    return path


def _wait(predicate, what, timeout=GUARD_S, period=0.05):
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() > deadline:
            raise HarnessError(f"timed out after {timeout:.0f} s waiting for {what}")
        time.sleep(period)


def center(widget):
    r = widget["rect"]
    return r["x"] + r["w"] // 2, r["y"] + r["h"] // 2


class Session:
    """One run of the program against the simulator on a private display."""

    def __init__(self, sim_args=(), screen="1280x900x24", app_env=None):
        self.sim_args = list(sim_args)
        self.app_env = dict(app_env or {})
        self.screen = screen
        self.tmp = tempfile.mkdtemp(prefix="tessor-realinput-")
        self.wire_log = os.path.join(self.tmp, "wire.log")
        self.probe_dir = os.path.join(self.tmp, "probe")
        os.mkdir(self.probe_dir)
        self.procs = []
        self.logs = []
        self.display = None
        self.app = None

    # ----- start and stop -----

    def __enter__(self):
        try:
            self.start()
        except BaseException:
            self.stop()
            raise
        return self

    def __exit__(self, *exc):
        self.stop()

    def start(self):
        self._start_xvfb()
        device = self._start_sim()
        self._start_app(device)

    def _start_xvfb(self):
        if shutil.which("Xvfb") is None:
            raise HarnessError("Xvfb is not installed (apt-get install xvfb); real-input tests need it")
        if shutil.which("xdotool") is None:
            raise HarnessError("xdotool is not installed (apt-get install xdotool)")
        read_end, write_end = os.pipe()
        xvfb = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", self.screen, "-nolisten", "tcp",
             "-noreset"],
            pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=self._log("xvfb.err"))
        os.close(write_end)
        self.procs.append(xvfb)
        number = b""  # the display number, then a line feed
        deadline = time.monotonic() + GUARD_S
        while not number.endswith(b"\n"):
            if time.monotonic() > deadline or xvfb.poll() is not None:
                os.close(read_end)
                raise HarnessError("the virtual X server did not start: " + self._tail("xvfb.err"))
            chunk = os.read(read_end, 16)
            if not chunk:
                os.close(read_end)
                raise HarnessError("the virtual X server did not start: " + self._tail("xvfb.err"))
            number += chunk
        os.close(read_end)
        self.display = ":" + number.decode().strip()

    def _start_sim(self):
        path_file = self._file("sim.path")
        sim = subprocess.Popen(
            [_need("TESSOR_SIM"), "--no-stdin", "--path-file", path_file, "--wire-log", self.wire_log]
            + self.sim_args,
            stdout=subprocess.DEVNULL, stderr=self._log("sim.err"))
        self.procs.append(sim)

        def announced():
            if sim.poll() is not None:
                raise HarnessError("tessor-sim ended: " + self._tail("sim.err"))
            if not os.path.exists(path_file):
                return None
            with open(path_file) as f:
                return f.read().strip()

        return _wait(announced, "the simulator's pseudo-terminal")

    def _start_app(self, device):
        self.app = subprocess.Popen(
            self._app_command(), env=self._app_env(device),
            cwd=os.environ.get("TESSOR_SOURCE_DIR", self.tmp),
            stdout=self._log("app.out"), stderr=subprocess.STDOUT)
        self.procs.append(self.app)

    def _app_command(self):
        return [_need("TESSOR_CONFIGURATOR")]

    def _app_env(self, device):
        env = dict(os.environ)
        env.pop("QT_QPA_PLATFORM", None)  # the real window system, not offscreen
        env.pop("WAYLAND_DISPLAY", None)
        env.update({
            "DISPLAY": self.display,
            "QT_QPA_PLATFORM": "xcb",
            "TESSOR_COM1": device,
            "XDG_CONFIG_HOME": self._file("config"),
            "XDG_RUNTIME_DIR": self.tmp,
            "LD_PRELOAD": _need("TESSOR_UI_PROBE"),
            "TESSOR_UI_PROBE_DIR": self.probe_dir,
            # A sanitized program sees the preloaded probe before its runtime; harmless here.
            "ASAN_OPTIONS": ":".join(filter(None, [env.get("ASAN_OPTIONS"), "verify_asan_link_order=0"])),
        })
        env.update(self.app_env)
        return env

    def stop(self):
        for proc in reversed(self.procs):
            if proc.poll() is None:
                proc.send_signal(signal.SIGTERM)
                try:
                    proc.wait(5)
                except subprocess.TimeoutExpired:
                    proc.kill()
                    proc.wait()
        self.procs = []
        for f in self.logs:
            f.close()
        self.logs = []
        if os.environ.get("TESSOR_KEEP_REALINPUT") is None:
            shutil.rmtree(self.tmp, ignore_errors=True)

    def path(self, name):
        """A file name in the session's own folder (removed with the session)."""
        return self._file(name)

    def _log(self, name):
        """A file for a child's output; the child keeps its own copy of the descriptor."""
        f = open(self._file(name), "w")
        self.logs.append(f)
        return f

    def _file(self, name):
        return os.path.join(self.tmp, name)

    def _tail(self, name):
        try:
            with open(self._file(name)) as f:
                return f.read()[-2000:]
        except OSError:
            return "(no output)"

    def app_output(self):
        return self._tail("app.out")

    # ----- what the windows show -----

    def state(self):
        """The visible windows, as the UI probe reports them."""
        if self.app.poll() is not None:
            raise HarnessError(f"the program ended (status {self.app.returncode}): {self.app_output()}")
        answer = os.path.join(self.probe_dir, "state.json")
        if os.path.exists(answer):
            os.remove(answer)
        open(os.path.join(self.probe_dir, "request"), "w").close()
        _wait(lambda: os.path.exists(answer), "the UI probe's answer")
        with open(answer) as f:
            return json.load(f)

    def windows(self):
        return self.state()["windows"]

    @staticmethod
    def window_in(state, title):
        """The visible window with this title in a probe state, or None."""
        for w in state["windows"]:
            if w["title"] == title:
                return w
        return None

    def window(self, title):
        """The visible window with this title, or None."""
        return self.window_in(self.state(), title)

    def wait_window(self, title, visible=True, timeout=GUARD_S):
        if visible:
            return _wait(lambda: self.window(title), f'window "{title}"', timeout)
        _wait(lambda: self.window(title) is None, f'window "{title}" to close', timeout)
        return None

    @staticmethod
    def find(window, text=None, name=None, cls=None):
        """The first widget of the window matching all given keys; raises when there is none."""
        for w in window["widgets"]:
            if ((text is None or w.get("text") == text) and (name is None or w["name"] == name)
                    and (cls is None or w["class"] == cls)):
                return w
        raise HarnessError(f'no widget text={text!r} name={name!r} class={cls!r} in "{window["title"]}"')

    def widget(self, title, **keys):
        return self.find(self.wait_window(title), **keys)

    def wait_for(self, predicate, what, timeout=GUARD_S):
        """Waits until predicate(state) is true; returns its value."""
        return _wait(lambda: predicate(self.state()), what, timeout, period=0.1)

    def wait_widget(self, title, predicate, what, timeout=GUARD_S, **keys):
        """Waits until the widget (found by keys in the window) satisfies predicate; returns the window."""
        def check(state):
            w = self.window_in(state, title)
            return w if w is not None and predicate(self.find(w, **keys)) else None
        return self.wait_for(check, what, timeout)

    # ----- input through the X server -----

    def xdotool(self, *args):
        env = dict(os.environ, DISPLAY=self.display)
        subprocess.run(["xdotool", *args], env=env, check=True, timeout=GUARD_S)

    def click_at(self, x, y, button=1):
        self.xdotool("mousemove", "--sync", str(x), str(y), "click", str(button))

    def click(self, widget):
        self.click_at(*center(widget))

    def click_widget(self, title, **keys):
        self.click(self.widget(title, **keys))

    def open_list(self, title, **keys):
        """Clicks a combo box and waits until its list has opened, so that the keys that follow reach it."""
        self.click_widget(title, **keys)
        self.wait_for(lambda state: any(w["class"] == "QComboBoxPrivateContainer" for w in state["windows"]),
                      "the opened list")

    def click_item(self, title, list_key, text, **keys):
        """Clicks the entry with this text of a widget's list of parts (tabs of a tab bar, menus of a bar)."""
        for part in self.widget(title, **keys)[list_key]:
            if part["text"] == text:
                return self.click(part)
        raise HarnessError(f'no {list_key} entry {text!r} in "{title}"')

    def click_tab(self, title, text):
        self.click_item(title, "tabs", text, cls="QTabBar")

    def move_window(self, title, x, y):
        """Moves a top-level window (there is no window manager: windows open where they are placed)."""
        found = self.x_windows(title)
        if not found:
            raise HarnessError(f'no X window named "{title}"')
        for window_id in found:
            self.xdotool("windowmove", "--sync", window_id, str(x), str(y))

    def x_windows(self, title):
        """The ids of the visible X windows with this title (also those the probe does not see, such as a
        system dialog)."""
        env = dict(os.environ, DISPLAY=self.display)
        return subprocess.run(["xdotool", "search", "--onlyvisible", "--name", f"^{title}$"], env=env,
                              capture_output=True, text=True, timeout=GUARD_S).stdout.split()

    def x_focus(self):
        """The X window that has the keyboard focus and the windows it lies in, up to the root's child."""
        env = dict(os.environ, DISPLAY=self.display)
        run = lambda *args: subprocess.run(args, env=env, capture_output=True, text=True, timeout=GUARD_S).stdout
        focus = run("xdotool", "getwindowfocus", "-f").strip()
        chain = [int(focus)] if focus.isdigit() else []
        while chain:
            tree = run("xwininfo", "-children", "-id", str(chain[-1]))
            root = re.search(r"Root window id: (0x[0-9a-f]+)", tree)
            parent = re.search(r"Parent window id: (0x[0-9a-f]+)", tree)
            if not root or not parent or parent.group(1) == root.group(1):
                break
            chain.append(int(parent.group(1), 16))
        return chain

    def wait_x_focus(self, title, timeout=GUARD_S):
        """Waits until the keyboard focus is in the X window with this title: a window is mapped before it
        takes the keyboard, and keys typed in between go elsewhere."""
        def focused():
            ids = {int(w) for w in self.x_windows(title)}
            return any(w in ids for w in self.x_focus())
        _wait(focused, f'the keyboard focus in "{title}"', timeout, period=0.1)

    def wait_x_window(self, title, visible=True, timeout=GUARD_S):
        if visible:
            return _wait(lambda: self.x_windows(title), f'X window "{title}"', timeout, period=0.2)
        return _wait(lambda: not self.x_windows(title), f'X window "{title}" to close', timeout, period=0.2)

    def wait_exit(self, timeout=GUARD_S):
        """Waits for the program to end by itself; returns its exit status."""
        try:
            return self.app.wait(timeout)
        except subprocess.TimeoutExpired:
            raise HarnessError(f"the program did not end within {timeout:.0f} s") from None

    def key(self, *keys):
        self.xdotool("key", "--delay", "30", *keys)

    def type(self, text):
        self.xdotool("type", "--delay", "20", text)

    def screenshot(self, path):
        env = dict(os.environ, DISPLAY=self.display)
        subprocess.run(["import", "-window", "root", path], env=env, check=True, timeout=GUARD_S)

    # ----- the simulator's wire record -----

    def wire(self):
        """Every command line the board received so far, without line ends, in order."""
        if not os.path.exists(self.wire_log):
            return []
        with open(self.wire_log, "rb") as f:
            return [line.rstrip(b"\n").decode("latin-1") for line in f.read().split(b"\n")[:-1]]

    def wire_bytes(self):
        """The wire record as the simulator wrote it."""
        if not os.path.exists(self.wire_log):
            return b""
        with open(self.wire_log, "rb") as f:
            return f.read()

    def wire_since(self, mark):
        return self.wire()[mark:]

    def wait_wire(self, predicate, what, timeout=GUARD_S):
        return _wait(lambda: predicate(self.wire()), what, timeout)

    # ----- the program's own start-up -----

    def start_up(self):
        """Accepts the "Initialize Hardware" dialog with the keyboard and waits for the sheet."""
        self.wait_window("Initialize Hardware")
        self.key("Return")
        return self.wait_window("Tessor Console Configurator")
