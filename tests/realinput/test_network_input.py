"""Assigning a network console with real X input: the Ports dialog's "Network console" fields, checked by a
connection to a real ser2net (its telnet(rfc2217) accepter on 127.0.0.1, its connector on the simulator's
pseudo-terminal), then the program's start through it, its traffic the same as through the pseudo-terminal.
"""

import os
import shutil
import socket
import subprocess
import unittest

from realinput import HarnessError, Session, _wait

INIT = "Initialize Hardware"
PORTS = "Serial Ports"
SHEET = "Tessor Console Configurator"
SIM_ARGS = ["--train-ms", "500", "--no-pacing"]


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def listens(port):
    """Whether something listens on 127.0.0.1:port, from the kernel's table (a connection would make
    ser2net open the pseudo-terminal)."""
    wanted = "0100007F:%04X" % port
    with open("/proc/net/tcp") as table:
        return any(f[1] == wanted and f[3] == "0A" for f in (line.split() for line in table) if len(f) > 3)


class NetworkSession(Session):
    """The simulator behind ser2net; COM1 is the pseudo-terminal itself (the harness sets TESSOR_COM1)."""

    def start(self):
        ser2net = shutil.which("ser2net") or "/usr/sbin/ser2net"
        if not os.path.exists(ser2net):
            raise HarnessError("ser2net is not installed (scripts/setup-deps.sh installs it)")
        self._start_xvfb()
        self.device = self._start_sim()
        self.port = free_port()
        config = self._file("ser2net.yaml")
        with open(config, "w") as f:
            f.write("%%YAML 1.1\n---\nconnection: &board\n  accepter: telnet(rfc2217),tcp,127.0.0.1,%d\n"
                    "  connector: serialdev,%s,9600n81,local\n" % (self.port, self.device))
        self.procs.append(subprocess.Popen([ser2net, "-n", "-u", "-c", config, "-P", self._file("ser2net.pid")],
                                           stdout=self._log("ser2net.out"), stderr=subprocess.STDOUT))
        _wait(lambda: listens(self.port), "ser2net's accepter")
        self._start_app(self.device)

    def settings(self):
        with open(self._file("config/Calvadra/tessor-configurator.conf")) as f:
            return f.read()


def text_of(window, name):
    return Session.find(window, name=name)["text"]


def start_up_lines(wire):
    """The start's command lines up to the side read, which every start makes once."""
    return wire[:wire.index("RD 8C70") + 1] if "RD 8C70" in wire else None


class NetworkInput(unittest.TestCase):
    def test_assign_a_console_server_port_and_start_through_it(self):
        with NetworkSession(SIM_ARGS) as s:
            url = "rfc2217://127.0.0.1:%d" % s.port
            s.wait_window(INIT)
            s.open_list(INIT, name="portList")  # opens the list; Down and Return pick COM2
            s.key("Down", "Return")
            s.wait_widget(INIT, lambda w: w["text"].startswith("COM2 = /dev/ttyS1"), "the COM2 line",
                          name="deviceLine")
            s.click_widget(INIT, text="Ports...")
            ports = s.wait_window(PORTS)
            self.assertEqual("COM2", text_of(ports, "comList"))

            # A port nobody listens on: refused, and COM2 stays as it was.
            s.click_widget(PORTS, name="hostEdit")
            s.type("127.0.0.1")
            s.click_widget(PORTS, name="tcpPortSpin")
            s.key("ctrl+a")
            s.type(str(free_port()))
            s.click_widget(PORTS, name="networkButton")
            s.wait_widget(PORTS, lambda w: "Connection refused" in w["text"], "the refusal",
                          name="networkStatus")
            self.assertEqual("COM2 = /dev/ttyS1 (default)", text_of(s.window(PORTS), "com2Label"))

            # ser2net's port: checked and assigned.
            s.click_widget(PORTS, name="tcpPortSpin")
            s.key("ctrl+a")
            s.type(str(s.port))
            s.click_widget(PORTS, name="networkButton")
            s.wait_widget(PORTS, lambda w: w["text"] == "COM2 = " + url + ", network console", "COM2 assigned",
                          name="com2Label")
            self.assertTrue(text_of(s.window(PORTS), "networkStatus").startswith("Connected to " + url))
            ok = [w for w in s.window(PORTS)["widgets"]
                  if w["class"] == "QPushButton" and w.get("text", "").replace("&", "") == "OK"]
            if not ok:
                raise HarnessError("no OK button in the Ports dialog")
            s.click(ok[0])
            s.wait_window(PORTS, visible=False)
            s.wait_widget(INIT, lambda w: w["text"] == "COM2 = " + url + ", network console",
                          "the line naming the network console", name="deviceLine")
            self.assertIn("COM2=" + url, s.settings())

            # The start through ser2net sends what a start through the pseudo-terminal sends.
            mark = len(s.wire())
            s.click_widget(INIT, text="OK")
            s.wait_window(SHEET)
            through_network = s.wait_wire(lambda wire: start_up_lines(wire[mark:]), "the side read through ser2net")
            s.click_widget(SHEET, text="Close")
            _wait(lambda: s.app.poll() is not None, "the program to end")

            mark = len(s.wire())
            s._start_app(s.device)
            s.wait_window(INIT)
            s.open_list(INIT, name="portList")  # COM1: the pseudo-terminal itself
            s.key("Up", "Return")
            s.wait_widget(INIT, lambda w: w["text"].startswith("COM1 = " + s.device), "the COM1 line",
                          name="deviceLine")
            s.click_widget(INIT, text="OK")
            s.wait_window(SHEET)
            direct = s.wait_wire(lambda wire: start_up_lines(wire[mark:]), "the side read through the terminal")
            self.assertEqual(direct, through_network)


if __name__ == "__main__":
    unittest.main()
