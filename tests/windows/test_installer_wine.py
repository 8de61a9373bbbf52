"""The per-user installer under Wine, each test in a fresh Wine prefix.

Silent install; the files, the Start menu entries, the "Apps" entry and the PATH entry; the installed
tessor-cli.exe found through the PATH; the installed window program started against the simulator; the
uninstaller removing what was installed and only that; an install over an older build keeping the
settings, and the uninstaller's /PURGE removing them.

Run by scripts/test-windows.sh. Environment: WINE, WINESERVER, TESSOR_SIM, TESSOR_SOURCE_DIR (as for
winesession.py); TESSOR_SETUP the installer, TESSOR_OLD_SETUP an older build of it whose folder also held
old-version-only.txt, TESSOR_STAGE the staged files the installer holds, TESSOR_VERSION its version,
TESSOR_CLI_VERSION what `tessor-cli --version` prints, TESSOR_PREFIX_TEMPLATE a Wine prefix as wineboot
made it, TESSOR_FRESH_PREFIX where the fresh prefixes go, TESSOR_SIGN_CA the certificate the installed
programs and the uninstaller must verify against.
"""

import filecmp
import os
import re
import shutil
import subprocess
import tempfile
import unittest

from winesession import WINE_START_S, WineSession
from realinput import _need, _wait

PRODUCT = "Tessor Console Configurator"
APPS_KEY = "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\tessor-configurator"
SETTINGS_KEY = "HKCU\\Software\\Calvadra\\tessor-configurator"
OLD_ONLY = "old-version-only.txt"
USER_PATH = "C:\\my tools"  # an entry of the user's own on the PATH before the install
SIM_ARGS = ["--train-ms", "0", "--no-pacing"]
SLOW_S = 60.0


def fresh_prefix(template, path):
    """A copy of the template prefix; Wine's own DLLs (most of its size, never written) are linked."""
    shutil.rmtree(path, ignore_errors=True)

    def link_or_copy(source, target):
        if os.sep + "system32" + os.sep in source:
            os.link(source, target)
        else:
            shutil.copy2(source, target)

    shutil.copytree(template, path, symlinks=True, copy_function=link_or_copy)


def staged_files(stage):
    """The files the installer holds, relative to its folder."""
    found = []
    for folder, _, names in os.walk(stage):
        found += [os.path.relpath(os.path.join(folder, name), stage) for name in names]
    return sorted(found)


def tree(path):
    """Every file and folder under path, relative to it."""
    found = []
    for folder, dirs, names in os.walk(path):
        found += [os.path.relpath(os.path.join(folder, name), path) for name in dirs + names]
    return sorted(found)


def registry_values(text):
    """`reg query` output as {name: (type, data)}."""
    values = {}
    for line in text.splitlines():
        parts = line.strip().split(None, 2)
        if len(parts) >= 2 and parts[1].startswith("REG_"):
            values[parts[0]] = (parts[1], parts[2] if len(parts) == 3 else "")
    return values


class InstalledProgram(WineSession):
    """The installed window program on a private display against its own simulator (it has no window
    probe: its windows are found by their X titles)."""

    def __init__(self, exe):
        super().__init__(SIM_ARGS)
        self.exe = exe

    def _app_command(self):
        return [_need("WINE"), self.exe]


class InstallerUnderWine(unittest.TestCase):

    def setUp(self):
        self.prefix = _need("TESSOR_FRESH_PREFIX")
        fresh_prefix(_need("TESSOR_PREFIX_TEMPLATE"), self.prefix)
        os.environ["WINEPREFIX"] = self.prefix
        self.env = dict(os.environ, WINEDEBUG="-all",
                        WINEDLLOVERRIDES="mscoree,mshtml=,winemenubuilder.exe=d")
        for name in ("DISPLAY", "WAYLAND_DISPLAY", "TESSOR_COM1", "TESSOR_COM2", "TESSOR_COM3"):
            self.env.pop(name, None)
        # One Wine server with its services for the whole test: each command then starts in a second
        # instead of starting them all again.
        self.wineserver("-p")
        folders = self.wine("cmd", "/c", "echo %LOCALAPPDATA%;%APPDATA%").strip().split(";")
        self.install_dir = folders[0] + "\\Programs\\" + PRODUCT
        self.start_menu = folders[1] + "\\Microsoft\\Windows\\Start Menu\\Programs\\" + PRODUCT

    def tearDown(self):
        self.wineserver("-k")
        self.wineserver("-w")

    # ----- Wine -----

    def run_wine(self, *args):
        # The output goes to a file, not a pipe: Wine's services, started by whichever command comes first,
        # keep its output open long after it has ended.
        with tempfile.TemporaryFile() as out:
            done = subprocess.run([_need("WINE"), *args], env=self.env, stdout=out, stderr=subprocess.STDOUT,
                                  timeout=WINE_START_S)
            out.seek(0)
            return done.returncode, out.read().decode("utf-8", "replace").replace("\r", "")

    def wine(self, *args):
        status, out = self.run_wine(*args)
        self.assertEqual(0, status, f"wine {' '.join(args)}: {out}")
        return out

    def wineserver(self, *args):
        subprocess.run([_need("WINESERVER"), *args], env=self.env, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=WINE_START_S, check=False)

    def unix(self, path):
        """The Unix path of a C: path in the prefix."""
        self.assertRegex(path, r"^[Cc]:\\")
        return os.path.join(self.prefix, "drive_c", *path[3:].split("\\"))

    def query(self, key):
        """The values of a key, or None when it does not exist."""
        status, out = self.run_wine("reg", "query", key)
        return registry_values(out) if status == 0 else None

    def install(self, setup, *options):
        self.wine(setup, "/S", *options)

    def uninstall(self, *options):
        # The uninstaller copies itself into the Temp folder and runs from there, so that it can delete
        # itself; the command returns at once, and the copy is waited for.
        self.wine(self.install_dir + "\\Uninstall.exe", "/S", *options)
        _wait(lambda: not self.running_from_temp(), "the uninstaller to end", SLOW_S, period=0.2)

    def running_from_temp(self):
        """The command lines of the prefix's programs started from its Temp folder."""
        found = []
        for pid in filter(str.isdigit, os.listdir("/proc")):
            try:
                with open(f"/proc/{pid}/environ", "rb") as f:
                    if f"WINEPREFIX={self.prefix}".encode() not in f.read().split(b"\0"):
                        continue
                with open(f"/proc/{pid}/cmdline", "rb") as f:
                    command = f.read().replace(b"\0", b" ").decode("utf-8", "replace")
            except OSError:  # ended meanwhile, or not ours to read
                continue
            if re.search(r"[\\/]Temp[\\/]", command):  # a Windows or (while it starts) a Unix path
                found.append(command)
        return found

    # ----- checks -----

    def assert_installed(self, version):
        apps = self.query(APPS_KEY)
        self.assertIsNotNone(apps, "no Apps entry")
        uninstaller = self.install_dir + "\\Uninstall.exe"
        self.assertEqual(PRODUCT, apps["DisplayName"][1])
        self.assertEqual(version, apps["DisplayVersion"][1])
        self.assertEqual(self.install_dir, apps["InstallLocation"][1])
        self.assertEqual(f'"{uninstaller}"', apps["UninstallString"][1])
        self.assertEqual(f'"{uninstaller}" /S', apps["QuietUninstallString"][1])
        # The staged files, byte for byte, with the uninstaller and nothing else.
        stage = _need("TESSOR_STAGE")
        files = staged_files(stage)
        folder = self.unix(self.install_dir)
        installed = [f for f in tree(folder) if os.path.isfile(os.path.join(folder, f))]
        self.assertEqual(sorted(files + ["Uninstall.exe"]), installed)
        _, mismatch, errors = filecmp.cmpfiles(stage, folder, files, shallow=False)
        self.assertEqual(([], []), (mismatch, errors))
        menu = self.unix(self.start_menu)
        self.assertEqual([f"{PRODUCT} Help.lnk", f"{PRODUCT}.lnk"], tree(menu))

    def assert_signed(self):
        ca = _need("TESSOR_SIGN_CA")
        for name in ("tessor-configurator.exe", "tessor-cli.exe", "Uninstall.exe"):
            done = subprocess.run(["osslsigncode", "verify", "-in", self.unix(self.install_dir + "\\" + name),
                                   "-CAfile", ca], capture_output=True, text=True, timeout=SLOW_S)
            self.assertEqual(0, done.returncode, f"{name}: {done.stdout}{done.stderr}")

    def start_installed_program(self):
        """The Initialize Hardware dialog, OK (its default button), the sheet talking to the board; Escape
        closes the sheet, and the program ends having stored the choices."""
        with InstalledProgram(self.unix(self.install_dir + "\\tessor-configurator.exe")) as s:
            s.wait_x_window("Initialize Hardware", timeout=WINE_START_S)
            s.key("Return")
            s.wait_x_window("Initialize Hardware", visible=False, timeout=SLOW_S)
            sheet = s.wait_x_window("Tessor Console Configurator", timeout=SLOW_S)
            s.wait_wire(lambda wire: len(wire) > 0, "the program's first reads", SLOW_S)
            s.xdotool("windowfocus", "--sync", sheet[0])  # no window manager gives it the keyboard
            s.key("Escape")
            self.assertEqual(0, s.wait_exit(SLOW_S), s.app_output())
        self.wineserver("-p")  # the session ended its server
        values = self.query(SETTINGS_KEY + "\\Settings")
        self.assertIsNotNone(values, "the program kept no settings")
        self.assertIn("Port", values)

    # ----- tests -----

    def test_install_start_and_uninstall(self):
        self.wine("reg", "add", "HKCU\\Environment", "/v", "Path", "/t", "REG_EXPAND_SZ", "/d", USER_PATH,
                  "/f")
        self.install(_need("TESSOR_SETUP"), "/ADDTOPATH")
        self.assert_installed(_need("TESSOR_VERSION"))
        self.assertEqual(f"{USER_PATH};{self.install_dir}", self.query("HKCU\\Environment")["Path"][1])
        self.assertEqual(1, int(self.query(APPS_KEY)["CliOnPath"][1], 16))

        # tessor-cli found through the PATH the installer set, from a folder that does not hold it.
        out = self.wine("cmd", "/c", "cd /d C:\\ && tessor-cli --version")
        self.assertEqual(_need("TESSOR_CLI_VERSION"), out.strip())

        self.start_installed_program()
        self.assert_signed()

        # A file of the user's in the program's folder stays; everything installed goes, the settings stay.
        notes = os.path.join(self.unix(self.install_dir), "my notes.txt")
        with open(notes, "w") as f:
            f.write("kept\n")
        self.uninstall()
        self.assertEqual(["my notes.txt"], tree(self.unix(self.install_dir)))
        self.assertFalse(os.path.exists(self.unix(self.start_menu)), "the Start menu folder stayed")
        self.assertIsNone(self.query(APPS_KEY), "the Apps entry stayed")
        self.assertEqual(USER_PATH, self.query("HKCU\\Environment")["Path"][1])
        self.assertIn("Port", self.query(SETTINGS_KEY + "\\Settings"))

    def test_upgrade_keeps_settings_and_purge_removes_them(self):
        self.install(_need("TESSOR_OLD_SETUP"))
        old = self.query(APPS_KEY)["DisplayVersion"][1]
        self.assertNotEqual(_need("TESSOR_VERSION"), old)
        self.assertTrue(os.path.exists(os.path.join(self.unix(self.install_dir), OLD_ONLY)))
        self.assertNotIn("Path", self.query("HKCU\\Environment"), "the PATH changed without being asked")
        # Settings as the program keeps them: the last port, and COM2 assigned to COM7.
        self.wine("reg", "add", SETTINGS_KEY + "\\Settings", "/v", "Port", "/t", "REG_DWORD", "/d", "2", "/f")
        self.wine("reg", "add", SETTINGS_KEY + "\\Ports", "/v", "COM2", "/t", "REG_SZ", "/d", "COM7", "/f")
        status, before = self.run_wine("reg", "query", SETTINGS_KEY, "/s")
        self.assertEqual(0, status, before)

        self.install(_need("TESSOR_SETUP"))
        self.assert_installed(_need("TESSOR_VERSION"))  # the old build's own file is gone too
        self.assertEqual(before, self.run_wine("reg", "query", SETTINGS_KEY, "/s")[1])

        self.uninstall("/PURGE")
        self.assertFalse(os.path.exists(self.unix(self.install_dir)), "the program's folder stayed")
        self.assertIsNone(self.query(APPS_KEY), "the Apps entry stayed")
        self.assertIsNone(self.query(SETTINGS_KEY), "/PURGE left the settings")
        self.assertIsNone(self.query("HKCU\\Software\\Calvadra"), "/PURGE left the maker's empty key")


if __name__ == "__main__":
    unittest.main()
