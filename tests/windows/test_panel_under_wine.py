"""The Windows panel as a Windows user meets it, run by Wine on a virtual X
display: veloxa2-gui.exe with its settings in the registry (seeded and read
back with Wine's own reg.exe), real X keys typed into its window, its closing
and the end of the session, its single-copy guard, and --control reached by
veloxa2-ctl.exe through the named pipe.

    test_panel_under_wine.py WINE GUI_EXE CTL_EXE SIM_EXE

Runs inside the network namespace and the Wine prefix of
scripts/test-windows (WINEPREFIX set, wineserver running); every Wine call
here has the same environment, so that they all meet the same wineserver.
"""

import json
import os
import re
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "system"))
from panel_harness import FakeUnit, isolated, wait_until  # noqa: E402

WINE, GUI, CTL, SIM = sys.argv[1:5] if len(sys.argv) >= 5 else (None, None, None, None)
KEY = r"HKLM\Software\KW\Veloxa"
UNIT_ADDRESS = "127.0.0.1"
WAIT = 60  # Wine starts a program in seconds, not milliseconds


def run(*command, timeout=WAIT):
    """The command's outcome, its output read from files: a Wine call may leave
    Wine's own services running with a pipe of its output still open."""
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        status = subprocess.run(command, stdout=out, stderr=err, stdin=subprocess.DEVNULL, timeout=timeout).returncode
        out.seek(0)
        err.seek(0)
        return subprocess.CompletedProcess(command, status, out.read().decode(errors="replace"),
                                           err.read().decode(errors="replace"))


def xdotool(*arguments):
    done = run("xdotool", *arguments)
    if done.returncode != 0:
        raise AssertionError(f"xdotool {' '.join(arguments)}: {done.stderr.strip()}")
    return done.stdout.strip()


def registry():
    """The panel's values in the 32-bit view, as reg.exe lists them."""
    listed = run(WINE, "reg", "query", KEY, "/reg:32")
    values = {}
    for line in listed.stdout.splitlines():
        found = re.match(r"^ {4}(.+?) {4}(REG_\w+) {4}(.*)$", line.rstrip("\r"))
        if found:
            values[found.group(1)] = found.group(3)
    return values


def seed(values):
    """The panel's key afresh, holding these values."""
    run(WINE, "reg", "delete", KEY, "/f", "/reg:32")
    for name, value in values.items():
        add = (WINE, "reg", "add", KEY, "/v", name, "/t", "REG_SZ", "/d", value, "/f", "/reg:32")
        added = run(*add)
        if added.returncode != 0:
            # Seen once in many runs, with nothing on its output: said here,
            # and tried once more, since the panel is not what failed.
            print(f"reg add {name}: status {added.returncode}: {added.stdout}{added.stderr}; again",
                  file=sys.stderr)
            added = run(*add)
        assert added.returncode == 0, f"reg add {name}: status {added.returncode}: {added.stdout}{added.stderr}"


class Panel:
    """veloxa2-gui.exe under Wine; its window found by its title."""

    def __init__(self, *arguments, title="Veloxa2 GUI"):
        self.process = subprocess.Popen([WINE, GUI, *arguments], env=os.environ,
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.window = None
        self.title = title

    def find_window(self):
        self.window = xdotool("search", "--sync", "--onlyvisible", "--name", f"^{self.title}$").splitlines()[0]
        xdotool("windowfocus", "--sync", self.window)
        return self.window

    def keys(self, *keys):
        xdotool("key", "--window", self.window, "--clearmodifiers", *keys)

    def ended(self, timeout):
        try:
            self.process.wait(timeout)
            return True
        except subprocess.TimeoutExpired:
            return False

    def kill(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait(WAIT)


class WinePanelTestCase(unittest.TestCase):
    def setUp(self):
        self.unit = FakeUnit(UNIT_ADDRESS)
        self.addCleanup(self.unit.close)

    def start(self, *arguments, seeded=None):
        seed({"IP Address": UNIT_ADDRESS, **(seeded or {})})
        panel = Panel(*arguments)
        self.addCleanup(panel.kill)
        return panel

    def started(self, panel, contrast="63 50", gain="67 E0"):
        """Start-up: contrast, then gain; its window shown. The unit's first
        answer may come after the link counted as silent (Wine starts slowly),
        and then brings the same pair again, as it would on Windows."""
        sent = self.commands(2, "start-up")
        panel.find_window()
        time.sleep(2)  # past the first heartbeat and its answer
        sent += self.unit.commands()
        self.assertIn(sent, ([contrast, gain], [contrast, gain] * 2))

    def commands(self, count, what):
        """The next `count` datagrams but heartbeats, as hex."""
        taken = []
        deadline = time.monotonic() + WAIT
        while len(taken) < count and time.monotonic() < deadline:
            taken += self.unit.commands()
        self.assertGreaterEqual(len(taken), count, f"{what}: {taken}")
        return taken


class TestPanelUnderWine(WinePanelTestCase):
    def test_start_up_sends_the_stored_contrast_and_gain(self):
        panel = self.start(seeded={"Display Contrast": "40", "Gain (CP current)": "3"})
        self.started(panel, "63 28", "67 60")

    def test_keys_typed_into_the_window_and_its_close(self):
        panel = self.start(seeded={"System Clock": "800"})
        self.started(panel)
        # The focus starts in the frequency box: every key sends the new
        # frequency and the polarity.
        panel.keys("ctrl+a", "1", "2", "period", "3", "4")
        sent = self.commands(10, "typing 12.34")
        self.assertEqual(sent[-2:], ["A5 00 8E E4 F2 03", "70 00"])  # 12.34 / 800 * 2^32 = 0x03F2E48E
        self.assertEqual([s[:2] for s in sent], ["A5", "70"] * 5)
        # Past half the clock (800 MHz) the box is clamped, and sends again.
        panel.keys("ctrl+a", "6", "0", "0")
        sent = self.commands(6, "typing 600")
        self.assertEqual(sent[-4:], ["A5 00 00 00 00 80", "70 00"] * 2)
        # Enter in the stop box starts the ramp (four tabs on).
        panel.keys("Tab", "Tab", "Tab", "Tab", "Return")
        sent = self.commands(2, "Enter in the stop box")
        self.assertEqual(sent[0][:2], "AC")
        # Closing the window stores the six values.
        panel.keys("alt+F4")
        self.assertTrue(panel.ended(WAIT), "the panel did not end on Alt+F4")
        stored = registry()
        self.assertEqual(stored.get("Frequency"), "400")
        self.assertEqual(stored.get("System Clock"), "800")
        self.assertEqual(stored.get("IP Address"), UNIT_ADDRESS)
        self.assertEqual(stored.get("Polarity"), "True")  # "+" selected
        self.assertTrue({"Left", "Top"} <= stored.keys(), stored)

    def test_the_end_of_the_session_stores_the_six_values(self):
        panel = self.start(seeded={"Frequency": "12.34"})
        self.started(panel)
        run(WINE, "reg", "delete", KEY, "/v", "Frequency", "/f", "/reg:32")
        ended = run(WINE, "wineboot", "--end-session")
        self.assertEqual(ended.returncode, 0, ended.stderr)
        self.assertTrue(panel.ended(WAIT), "the panel did not end with the session")
        stored = registry()
        self.assertEqual((stored.get("Frequency"), stored.get("IP Address")), ("12.34", UNIT_ADDRESS))

    def test_one_copy_runs_and_a_killed_one_leaves_nothing_behind(self):
        first = self.start()
        self.started(first)
        second = Panel()
        self.addCleanup(second.kill)
        self.assertTrue(second.ended(WAIT), "a second copy kept running")
        self.assertEqual(second.process.returncode, 0)
        self.assertEqual(self.unit.commands(), [], "the second copy sent something")
        first.kill()
        after = Panel()
        self.addCleanup(after.kill)
        self.started(after)

    def test_veloxa2_ctl_reaches_the_panel_through_the_pipe(self):
        panel = self.start("--control")
        self.started(panel)
        got = wait_until(lambda: (lambda r: r if r.returncode == 0 else None)(run(WINE, CTL, "--panel", "get")),
                         WAIT, "veloxa2-ctl.exe --panel get")
        controls = json.loads(got.stdout)["controls"]
        # The revision comes from the program's version resource (2.1.0.2).
        self.assertEqual((controls["txtIP"], controls["lblRev"]), (UNIT_ADDRESS, "Rev:2.1.2"))
        gain = run(WINE, CTL, "--panel", "gain", "3")
        self.assertEqual(gain.returncode, 0, gain.stderr)
        self.assertEqual(self.commands(1, "gain through the pipe"), ["67 60"])



class TestToolsUnderWine(unittest.TestCase):
    def test_ctl_and_the_simulated_unit_on_winsock(self):
        # 127.0.0.1: Wine binds a UDP socket meant for one address of an
        # interface to all of that interface's, so that its answers leave from
        # the interface's first address.
        unit = subprocess.Popen([WINE, SIM, "--bind", "127.0.0.1", "--port", "37830"], env=os.environ,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.addCleanup(unit.wait, WAIT)
        self.addCleanup(unit.kill)
        # The simulator answers a heartbeat with "ok" and the opcode.
        answer = "arrived from 127.0.0.1:37830, 3 bytes: 6F 6B 7F"
        wait_until(lambda: answer in run(WINE, CTL, "--host", "127.0.0.1", "--port", "37830", "--listen", "1",
                                         "heartbeat").stdout, WAIT, "the simulated unit's answer")


if __name__ == "__main__":
    if not isolated():
        sys.exit("test_panel_under_wine: run it inside a network namespace with only the loopback")
    if "DISPLAY" not in os.environ or "WINEPREFIX" not in os.environ:
        sys.exit("test_panel_under_wine: DISPLAY and WINEPREFIX must be set (scripts/test-windows sets them)")
    unittest.main(argv=sys.argv[:1], verbosity=2)
