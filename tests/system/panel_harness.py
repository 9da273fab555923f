"""What the Python tests of the built programs share: a UDP socket that plays
the unit, the panel as a process in scratch settings and runtime folders, and
waiting with a limit. Every test using it runs inside the isolated network
namespace (CTest under scripts/test)."""

import os
import queue
import signal
import socket
import subprocess
import tempfile
import threading
import time

UNIT_PORT = 37829
HEARTBEAT, FREQUENCY, POLARITY, REGISTER_DUMP = 0x7F, 0xA5, 0x70, 0xB0


def hex_bytes(data):
    return " ".join(f"{b:02X}" for b in data)


def isolated():
    """True when the only network interface is the loopback."""
    return [name for _, name in socket.if_nameindex()] == ["lo"]


def wait_until(predicate, timeout, what):
    """predicate()'s first true value within timeout seconds; AssertionError naming what, else."""
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() > deadline:
            raise AssertionError(f"not within {timeout} s: {what}")
        time.sleep(0.05)


class FakeUnit:
    """A UDP socket that takes in every datagram, notes when it came and answers it."""

    def __init__(self, address, port=UNIT_PORT):
        self._socket = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self._socket.bind((address, port))
        self._socket.settimeout(0.1)
        self.received = queue.Queue()
        self.heartbeats = []  # monotonic arrival times
        self._running = True
        self._thread = threading.Thread(target=self._serve, daemon=True)
        self._thread.start()

    def _serve(self):
        while self._running:
            try:
                data, sender = self._socket.recvfrom(65536)
            except socket.timeout:
                continue
            if data == bytes([HEARTBEAT]):
                self.heartbeats.append(time.monotonic())
            self.received.put(data)
            self._socket.sendto(b"ok", sender)

    def close(self):
        self._running = False
        self._thread.join()
        self._socket.close()

    def drain(self, settle=0.3):
        """Drop every datagram that came until none came for `settle` seconds.

        Waiting for the quiet matters: a request's answer can reach the test
        before this thread has taken in the datagrams the request sent."""
        while True:
            try:
                self.received.get(timeout=settle)
            except queue.Empty:
                return

    def commands(self, settle=0.15):
        """Every datagram but heartbeats that came until none came for `settle` seconds."""
        taken = []
        while True:
            try:
                data = self.received.get(timeout=settle)
            except queue.Empty:
                return taken
            if data != bytes([HEARTBEAT]):
                taken.append(hex_bytes(data))

    def wait_for(self, opcode, timeout=5.0):
        """The next datagram with this opcode; the others before it are dropped."""
        deadline = time.monotonic() + timeout
        while True:
            left = deadline - time.monotonic()
            if left <= 0:
                raise AssertionError(f"no datagram with opcode {opcode:02X} within {timeout} s")
            try:
                data = self.received.get(timeout=left)
            except queue.Empty:
                continue
            if data[:1] == bytes([opcode]):
                return data

    def until(self, opcode, timeout=5.0):
        """Every datagram up to (not including) the next one with this opcode."""
        seen = []
        deadline = time.monotonic() + timeout
        while True:
            try:
                data = self.received.get(timeout=max(0.0, deadline - time.monotonic()))
            except queue.Empty:
                raise AssertionError(f"no datagram with opcode {opcode:02X} within {timeout} s") from None
            if data[:1] == bytes([opcode]):
                return seen
            seen.append(data)

    def longest_heartbeat_gap(self, since):
        """The longest pause between heartbeats that came after `since` (monotonic)."""
        times = [t for t in self.heartbeats if t >= since]
        return max((b - a for a, b in zip(times, times[1:])), default=0.0)


class PanelProcess:
    """veloxa2-gui on the offscreen platform, with its own settings and runtime
    folders and a store that points it at unit_address."""

    def __init__(self, gui, unit_address, args=(), unit=None, folder=None):
        if not gui or not os.access(gui, os.X_OK):
            raise AssertionError(f"no built panel at {gui!r}")
        if not isolated():
            raise AssertionError("refusing to start the panel: this network namespace has interfaces besides lo")
        self._scratch = None if folder else tempfile.TemporaryDirectory(prefix="veloxa2-py.")
        self.folder = folder or self._scratch.name
        self.config = os.path.join(self.folder, "config")
        self.runtime = os.path.join(self.folder, "runtime")
        os.makedirs(os.path.join(self.config, "KW"), exist_ok=True)
        os.makedirs(self.runtime, 0o700, exist_ok=True)
        name = f"Veloxa-{unit}.conf" if unit else "Veloxa.conf"
        self.store = os.path.join(self.config, "KW", name)
        if not os.path.exists(self.store):
            with open(self.store, "w", encoding="utf-8") as store:
                store.write(f"[General]\nIP%20Address={unit_address}\n")
        folder = os.path.join(self.runtime, "veloxa2-gui", unit) if unit else os.path.join(self.runtime, "veloxa2-gui")
        self.endpoint = os.path.join(folder, "control")
        self.environment = dict(os.environ, QT_QPA_PLATFORM="offscreen", XDG_CONFIG_HOME=self.config,
                                XDG_RUNTIME_DIR=self.runtime)
        self._stderr = open(os.path.join(self.folder, f"stderr-{unit or 'panel'}.txt"), "w+b")  # noqa: SIM115
        command = [gui, *(["--unit", unit] if unit else []), *args]
        self.process = subprocess.Popen(command, env=self.environment, stdin=subprocess.DEVNULL,
                                        stdout=subprocess.DEVNULL, stderr=self._stderr)

    def stderr_lines(self):
        self._stderr.flush()
        with open(self._stderr.name, encoding="utf-8", errors="replace") as text:
            return [line.rstrip("\n") for line in text]

    def rss_kib(self):
        with open(f"/proc/{self.process.pid}/status", encoding="ascii") as status:
            for line in status:
                if line.startswith("VmRSS:"):
                    return int(line.split()[1])
        return 0

    def stop(self, how=signal.SIGTERM):
        if self.process.poll() is None:
            self.process.send_signal(how)
            try:
                self.process.wait(15)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        return self.process.returncode

    def close(self):
        self.stop()
        self._stderr.close()
        if self._scratch:
            self._scratch.cleanup()
