"""The Python client (examples/veloxa2_panel.py) and the frequency scan
example against the built panel.

Each test starts the panel with --control, scratch settings and runtime
folders and a store that points it at UNIT_ADDRESS, where a UDP socket plays
the unit and answers every datagram. Run by CTest inside the isolated
network namespace: python3 test_panel_client.py PATH-OF-veloxa2-gui
(or VELOXA_GUI_PATH in the environment).
"""

import math
import os
import subprocess
import sys
import tempfile
import time
import unittest

EXAMPLES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "examples")
SCAN = os.path.join(EXAMPLES, "frequency_scan.py")
sys.path.insert(0, EXAMPLES)

from veloxa2_panel import Panel, PanelError  # noqa: E402
from panel_harness import (FREQUENCY, REGISTER_DUMP, UNIT_PORT, FakeUnit, PanelProcess,  # noqa: E402
                           hex_bytes)

GUI = os.environ.get("VELOXA_GUI_PATH", "")
# An address of the loopback of its own, so that tests running beside this
# one that play the unit elsewhere on 127.0.0.0/8 do not meet it.
UNIT_ADDRESS = "127.0.0.91"


def frequency_datagram(mhz, clock_mhz):
    """The frequency command for a frequency: the tuning word |f| / (clock / 2^32)
    rounded down, least significant byte first."""
    ftw = math.floor(abs(mhz) * 1e6 / (clock_mhz * 1e6 / 2**32))
    return bytes([FREQUENCY, 0x00]) + ftw.to_bytes(4, "little")


class PanelTestCase(unittest.TestCase):
    def setUp(self):
        self.unit = FakeUnit(UNIT_ADDRESS, UNIT_PORT)
        self.addCleanup(self.unit.close)
        panel = PanelProcess(GUI, UNIT_ADDRESS, ["--control"])
        self.addCleanup(panel.close)
        self.process, self.endpoint = panel.process, panel.endpoint
        self.panel = self._connect()
        self.addCleanup(self.panel.close)
        self.clock = float(self.panel.get()["controls"]["txtSysClk"])

    def _connect(self, timeout=30.0):
        deadline = time.monotonic() + timeout
        while True:
            if self.process.poll() is not None:
                self.fail(f"the panel ended at start-up with status {self.process.returncode}")
            try:
                return Panel(self.endpoint)
            except (FileNotFoundError, ConnectionRefusedError):
                if time.monotonic() > deadline:
                    self.fail(f"no endpoint at {self.endpoint} within {timeout} s")
                time.sleep(0.05)

    def take_events(self, events, done, seconds=10.0):
        """The events up to the one after which done(events so far) holds."""
        seen = []
        deadline = time.monotonic() + seconds
        for event in events:
            seen.append(event)
            if done(seen):
                return seen
            if time.monotonic() > deadline:
                break
        self.fail(f"not within {seconds} s; the events: {seen}")


class TestPanelClient(PanelTestCase):
    def test_get_shows_every_control_and_the_link(self):
        state = self.panel.get()
        self.assertEqual(set(state), {"controls", "link", "heartbeat"})
        kinds = {
            str: ["txtIP", "txtPort", "txtFreq", "lblLaserFreq", "txtRampRate", "txtRampStep", "txtStopFreq",
                  "txtSysClk", "cmdHb", "lblRev"],
            int: ["sldGain", "sldContrast", "optDdsPolarity", "optDdsPower"],
        }
        self.assertEqual(set(state["controls"]), {name for names in kinds.values() for name in names})
        for kind, names in kinds.items():
            for name in names:
                with self.subTest(control=name):
                    self.assertIsInstance(state["controls"][name], kind)
        self.assertEqual(state["controls"]["txtIP"], UNIT_ADDRESS)  # the store was read
        self.assertIs(state["link"]["heard"], True)
        self.assertIsInstance(state["heartbeat"], bool)

    def test_set_returns_the_corrected_value_and_sends_it(self):
        rows = [  # name, value, what the panel makes of it, the frequency it then sends (MHz)
            ("txtFreq", "600", "500", 500),
            ("txtFreq", "12.34", "12.34", 12.34),
            ("txtFreq", "-700", "-500", -500),
            ("sldGain", 5, 5, None),
            ("sldContrast", 99, 99, None),
        ]
        for name, value, settled, mhz in rows:
            with self.subTest(name=name, value=value):
                self.unit.drain()
                self.assertEqual(self.panel.set(name, value), settled)
                self.assertEqual(self.panel.get()["controls"][name], settled)
                if mhz is not None:
                    sent = self.unit.wait_for(FREQUENCY)
                    self.assertEqual(hex_bytes(sent), hex_bytes(frequency_datagram(mhz, self.clock)))

    def test_click_sends_the_option_and_button_commands(self):
        rows = [  # name, index, result, the datagram the unit gets
            ("optDdsPolarity", 1, 1, "70 01"),
            ("optDdsPolarity", 0, 0, "70 00"),
            ("optDdsPower", 1, 1, "A0 00"),
            ("optDdsPower", 0, 0, "A0 01"),
            ("cmdDdsReg", None, True, "B0"),
        ]
        for name, index, result, expected in rows:
            with self.subTest(name=name, index=index):
                self.unit.drain()
                self.assertEqual(self.panel.click(name, index), result)
                sent = self.unit.wait_for(bytes.fromhex(expected)[0])
                self.assertEqual(hex_bytes(sent), expected)

    def test_enter_in_the_frequency_box_sends_it_again(self):
        self.panel.set("txtFreq", "12.34")
        self.unit.drain()
        self.assertEqual(self.panel.enter("txtFreq"), "12.34")
        self.assertEqual(hex_bytes(self.unit.wait_for(FREQUENCY)), "A5 00 D8 B6 28 03")

    def test_refused_requests_raise_with_their_code(self):
        rows = [  # method, params, code
            ("set", {"name": "txtNoSuchBox", "value": "1"}, -32602),
            ("set", {"name": "txtFreq", "value": 12}, -32602),
            ("set", {"name": "sldGain", "value": 8}, -32602),
            ("set", {"name": "sldContrast", "value": "50"}, -32602),
            ("click", {"name": "optDdsPolarity", "index": 2}, -32602),
            ("enter", {"name": "txtSysClk"}, -32602),
            ("reboot", {}, -32601),
        ]
        before = self.panel.get()["controls"]
        for method, params, code in rows:
            with self.subTest(method=method, params=params):
                with self.assertRaises(PanelError) as refused:
                    self.panel.call(method, params)
                self.assertEqual(refused.exception.code, code)
                self.assertTrue(refused.exception.message)
                self.assertIn(str(code), str(refused.exception))
        # A refused request changed nothing, and the connection goes on.
        self.assertEqual(self.panel.get()["controls"], before)
        self.assertEqual(self.panel.set("sldGain", 3), 3)

    def test_events_come_with_the_bytes_and_changes_of_a_set(self):
        events = self.panel.events(timeout=5)
        # The panel writes a set's events before its answer: the client keeps
        # them for the iterator.
        self.assertEqual(self.panel.set("txtFreq", "10.5"), "10.5")

        def complete(seen):
            names = {event.get("name") for event in seen if event["kind"] == "changed"}
            return {"txtFreq", "lblLaserFreq"} <= names and any(event.get("bytes") == "70 00" for event in seen)

        seen = self.take_events(events, complete)
        for event in seen:
            self.assertTrue(event["time"].endswith("Z"), event)
        commands = [event["bytes"] for event in seen if event["kind"] == "sent" and event["bytes"] != "7F"]
        self.assertEqual(commands[:2], [hex_bytes(frequency_datagram(10.5, self.clock)), "70 00"])
        changed = {event["name"]: event["value"] for event in seen if event["kind"] == "changed"}
        self.assertEqual(changed["txtFreq"], "10.5")
        self.assertEqual(changed["lblLaserFreq"], self.panel.get()["controls"]["lblLaserFreq"])

    def test_events_report_the_units_answers(self):
        events = self.panel.events(timeout=5)
        self.panel.click("cmdDdsReg")
        arrived = self.take_events(events, lambda seen: seen[-1]["kind"] == "arrived")[-1]
        self.assertEqual(arrived["length"], len(b"ok"))
        self.assertEqual(arrived["from"], f"{UNIT_ADDRESS}:{UNIT_PORT}")


class TestFrequencyScan(PanelTestCase):
    def test_the_scan_sets_each_frequency_and_the_unit_gets_it(self):
        rows = [  # arguments, the texts asked for, what the panel settled on, what the unit got (MHz)
            (["10", "11", "0.5"], ["10", "10.5", "11"], ["10", "10.5", "11"], [10, 10.5, 11]),
            (["-499", "-501", "1"], ["-499", "-500", "-501"], ["-499", "-500", "-500"], [-499, -500]),
        ]
        for arguments, asked, settled, mhz in rows:
            with self.subTest(arguments=arguments):
                self.unit.drain()
                scan = subprocess.run(
                    [sys.executable, SCAN, *arguments, "--pause", "0", "--endpoint", self.endpoint],
                    capture_output=True, text=True, timeout=60, check=False)
                self.assertEqual(scan.returncode, 0, scan.stderr)
                lines = scan.stdout.splitlines()
                self.assertEqual([line.split(" -> ")[1].split()[0] for line in lines], settled)
                self.assertEqual([line.split(" MHz")[0] for line in lines], asked)
                # The register dump goes out behind everything the scan sent.
                self.panel.click("cmdDdsReg")
                frequencies = [d for d in self.unit.until(REGISTER_DUMP) if d[:1] == bytes([FREQUENCY])]
                distinct = [d for i, d in enumerate(frequencies) if i == 0 or d != frequencies[i - 1]]
                self.assertEqual([hex_bytes(d) for d in distinct],
                                 [hex_bytes(frequency_datagram(f, self.clock)) for f in mhz])


class TestFrequencyScanAlone(unittest.TestCase):
    def test_the_scan_says_when_no_panel_is_there(self):
        scratch = tempfile.TemporaryDirectory(prefix="veloxa2-py.")
        self.addCleanup(scratch.cleanup)
        scan = subprocess.run(
            [sys.executable, SCAN, "1", "2", "1", "--endpoint", os.path.join(scratch.name, "control")],
            capture_output=True, text=True, timeout=60, check=False)
        self.assertNotEqual(scan.returncode, 0)
        self.assertIn("--control", scan.stderr)
        self.assertEqual(scan.stdout, "")


if __name__ == "__main__":
    if len(sys.argv) > 1 and not sys.argv[1].startswith("-"):
        GUI = sys.argv.pop(1)
    unittest.main()
