"""Drive a running Veloxa2 GUI panel from Python through its control endpoint.

Start the panel with ``veloxa2-gui --control``; then::

    from veloxa2_panel import Panel

    with Panel() as panel:
        print(panel.get()["controls"]["txtFreq"])
        print(panel.set("txtFreq", "12.5"))      # what the panel's rules made of it
        panel.click("optDdsPolarity", index=1)
        for event in panel.events(timeout=5):
            print(event["kind"], event)

Only the standard library is used. The protocol is JSON-RPC 2.0, one JSON
object per line, over the local socket $XDG_RUNTIME_DIR/veloxa2-gui/control.
"""

import collections
import json
import os
import pwd
import socket


def default_path():
    """The endpoint a panel started with --control opens for this user."""
    runtime = os.environ.get("XDG_RUNTIME_DIR")
    if not runtime:  # where Qt puts the runtime folder then
        temp = os.environ.get("TMPDIR") or "/tmp"
        runtime = os.path.join(temp, "runtime-" + pwd.getpwuid(os.geteuid()).pw_name)
    return os.path.join(runtime, "veloxa2-gui", "control")


class PanelError(Exception):
    """The panel refused a request: ``code`` is the JSON-RPC error code
    (-32602 for an unknown control, a wrong type or a value out of range,
    -32601 for an unknown method), ``message`` says why."""

    def __init__(self, code, message):
        super().__init__(f"{message} (JSON-RPC error {code})")
        self.code = code
        self.message = message


class Panel:
    """One connection to a running panel. Requests are answered in order;
    events that arrive while a request waits for its answer are kept for
    events()."""

    def __init__(self, path=None, timeout=10.0):
        """Connects to the endpoint at ``path`` (default_path() when None).
        ``timeout`` is how long a request waits for its answer, in seconds.
        Raises OSError (FileNotFoundError, ConnectionRefusedError) when no
        panel is there."""
        self.path = path or default_path()
        self.timeout = timeout
        self._socket = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        self._socket.settimeout(timeout)
        try:
            self._socket.connect(self.path)
        except OSError:
            self._socket.close()
            raise
        self._buffer = b""
        self._next_id = 1
        self._events = collections.deque()
        self._subscribed = False

    def close(self):
        """Closes the connection."""
        self._socket.close()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def call(self, method, params=None):
        """Sends one request and returns its result; raises PanelError on an
        error answer, ConnectionError when the panel went away and
        TimeoutError when it does not answer in time."""
        request = {"jsonrpc": "2.0", "id": self._next_id, "method": method, "params": params or {}}
        self._next_id += 1
        self._socket.sendall(json.dumps(request, separators=(",", ":")).encode() + b"\n")
        while True:
            message = self._read_message(self.timeout)
            if message is None:
                raise ConnectionError(f"the panel closed the connection before answering {method}")
            if "id" not in message:  # a notification: an event for events()
                if message.get("method") == "event":
                    self._events.append(message["params"])
                continue
            # One request at a time, answered in order: this is its answer.
            if "error" in message:
                error = message["error"]
                raise PanelError(error.get("code"), error.get("message", ""))
            return message.get("result")

    def get(self):
        """The panel's state: {"controls": {name: value, ...},
        "link": {"heard": bool}, "heartbeat": bool}."""
        return self.call("get")

    def set(self, name, value):
        """Assigns a box (a string) or a slider (a whole number) as the
        program does, and returns its value after the panel's rules ran
        (set("txtFreq", "600") gives "500")."""
        return self.call("set", {"name": name, "value": value})

    def click(self, name, index=None):
        """Clicks a button ("cmdUpdateFreq", ...) or, with ``index``, one
        option of a group ("optDdsPolarity", "optDdsPower"); returns the
        control's state afterwards (true for a button without one)."""
        params = {"name": name}
        if index is not None:
            params["index"] = index
        return self.call("click", params)

    def enter(self, name):
        """Presses Enter in "txtFreq" (frequency update) or "txtStopFreq"
        (ramp start); returns the box's text."""
        return self.call("enter", {"name": name})

    def events(self, timeout=None):
        """Subscribes (the first time) and returns an iterator over the
        events' params dicts ({"time", "kind", ...}), oldest first. Each wait
        for the next event lasts at most ``timeout`` seconds (None: no limit)
        and then raises TimeoutError. The iterator ends when the panel closes
        the connection. Requests may be made between events."""
        if not self._subscribed:
            self.call("subscribe")
            self._subscribed = True
        return self._iterate_events(timeout)

    def _iterate_events(self, timeout):
        while True:
            if self._events:
                yield self._events.popleft()
                continue
            message = self._read_message(timeout)
            if message is None:
                return
            if message.get("method") == "event":
                yield message["params"]

    def _read_message(self, timeout):
        """The next line as a JSON object; None when the panel closed the connection."""
        self._socket.settimeout(timeout)
        while b"\n" not in self._buffer:
            chunk = self._socket.recv(65536)
            if not chunk:
                return None
            self._buffer += chunk
        line, _, self._buffer = self._buffer.partition(b"\n")
        return json.loads(line)
