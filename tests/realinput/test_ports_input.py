"""Choosing a serial device with real X input: the Ports dialog over the modal Initialize Hardware dialog.

The made-up device tree of scripts/fake-ports.sh (TESSOR_PORTS_ROOT) holds an FTDI adapter whose node
leads to the simulator's pseudo-terminal, and a Prolific adapter that is plugged in while the dialog is
open. COM1 is set by TESSOR_COM1 (the harness does that), so the test works on COM2.
"""

import os
import subprocess
import unittest

from realinput import HarnessError, Session, _wait

INIT = "Initialize Hardware"
PORTS = "Serial Ports"
SHEET = "Tessor Console Configurator"
FTDI = "usb-FTDI_FT232R_USB_UART_A1B2C3D4-if00-port0"
PROLIFIC = "usb-Prolific_Technology_Inc._USB-Serial_Controller-if00-port0"
SIM_ARGS = ["--train-ms", "500", "--no-pacing"]


class PortsSession(Session):
    """A session whose program sees the made-up adapters; the program can be started again."""

    def start(self):
        self._start_xvfb()
        self.device = self._start_sim()
        self.root = self._file("ports")
        script = os.path.join(os.environ["TESSOR_SOURCE_DIR"], "scripts", "fake-ports.sh")
        subprocess.run(["bash", script, self.root, self.device], check=True, timeout=30)
        self.unplug_prolific()
        self.start_program()

    def start_program(self):
        saved = os.environ.get("TESSOR_PORTS_ROOT")
        os.environ["TESSOR_PORTS_ROOT"] = self.root
        try:
            self._start_app(self.device)
        finally:
            if saved is None:
                del os.environ["TESSOR_PORTS_ROOT"]
            else:
                os.environ["TESSOR_PORTS_ROOT"] = saved

    def _prolific_paths(self):
        return [("sys/class/tty/ttyUSB1", "aside/class-ttyUSB1"), ("dev/ttyUSB1", "aside/node-ttyUSB1"),
                ("dev/serial/by-id/" + PROLIFIC, "aside/by-id")]

    def unplug_prolific(self):
        os.makedirs(os.path.join(self.root, "aside"), exist_ok=True)
        for there, aside in self._prolific_paths():
            os.rename(os.path.join(self.root, there), os.path.join(self.root, aside))

    def plug_prolific(self):
        for there, aside in self._prolific_paths():
            os.rename(os.path.join(self.root, aside), os.path.join(self.root, there))

    def by_id(self, name):
        return os.path.join(self.root, "dev", "serial", "by-id", name)

    def settings(self):
        with open(self._file("config/Calvadra/tessor-configurator.conf")) as f:
            return f.read()

    def wait_program_end(self):
        _wait(lambda: self.app.poll() is not None, "the program to end")


def rows(window):
    return Session.find(window, name="deviceList")["rows"]


def text_of(name):
    return lambda window: Session.find(window, name=name)["text"]


class PortsInput(unittest.TestCase):
    def test_assign_a_plugged_adapter_and_use_it_at_the_next_start(self):
        with PortsSession(SIM_ARGS) as s:
            init = s.wait_window(INIT)
            # The variable's device is the FTDI adapter's node: the line names the adapter.
            self.assertEqual(f"COM1 = FTDI FT232R USB UART, {s.device} (set by TESSOR_COM1)",
                             text_of("deviceLine")(init))

            s.open_list(INIT, name="portList")  # opens the list; Down and Return pick COM2
            s.key("Down", "Return")
            s.wait_widget(INIT, lambda w: w["text"].startswith("COM2 = /dev/ttyS1"), "the COM2 line",
                          name="deviceLine")

            s.click_widget(INIT, text="Ports...")
            ports = s.wait_window(PORTS)
            self.assertTrue(ports["modal"])
            self.assertEqual("COM2", text_of("comList")(ports))
            self.assertEqual([[s.root + "/dev/ttyUSB0", "yes", "FTDI FT232R USB UART", "0403:6001",
                               "ftdi_sio", "A1B2C3D4", s.by_id(FTDI)]], [r["texts"] for r in rows(ports)])

            # An adapter plugged in while the dialog is open appears without any input.
            s.plug_prolific()
            ports = s.wait_widget(PORTS, lambda w: len(w["rows"]) == 2, "the plugged adapter",
                                  name="deviceList")
            self.assertEqual("Prolific Technology Inc. USB-Serial Controller", rows(ports)[1]["texts"][2])

            s.click(rows(ports)[0])
            s.wait_widget(PORTS, lambda w: w["current"] == 0, "the FTDI row selected", name="deviceList")
            s.click_widget(PORTS, name="assignButton")
            s.wait_widget(PORTS, lambda w: w["text"] == "COM2 = " + s.by_id(FTDI), "COM2 assigned",
                          name="com2Label")
            ok = [w for w in s.wait_window(PORTS)["widgets"]
                  if w["class"] == "QPushButton" and w.get("text", "").replace("&", "") == "OK"]
            if not ok:
                raise HarnessError("no OK button in the Ports dialog")
            s.click(ok[0])
            s.wait_window(PORTS, visible=False)
            s.wait_widget(INIT, lambda w: w["text"] == "COM2 = FTDI FT232R USB UART, " + s.by_id(FTDI),
                          "the line naming the adapter", name="deviceLine")
            self.assertIn("COM2=" + s.by_id(FTDI), s.settings())

            s.click_widget(INIT, text="OK")
            sheet = s.wait_window(SHEET)
            self.assertTrue(text_of("portLabel")(sheet).startswith("COM2 = FTDI FT232R US"))
            s.wait_wire(lambda wire: "RD 8C70" in wire, "the side read through the adapter's device")
            s.click_widget(SHEET, text="Close")
            s.wait_program_end()

            # The next start preselects COM2 and opens the stored device.
            mark = len(s.wire())
            s.start_program()
            init = s.wait_window(INIT)
            self.assertEqual("COM2", text_of("portList")(init))
            self.assertEqual("COM2 = FTDI FT232R USB UART, " + s.by_id(FTDI), text_of("deviceLine")(init))
            s.key("Return")
            s.wait_window(SHEET)
            s.wait_wire(lambda wire: "RD 8C70" in wire[mark:], "the side read at the second start")


if __name__ == "__main__":
    unittest.main()
