"""The broker bridge (veloxa2-gui --mqtt) and veloxa2-ctl --mqtt against a real
mosquitto that each test starts on the loopback of the isolated network
namespace, with mosquitto_sub and paho as the clients.

    python3 test_mqtt.py PATH-OF-veloxa2-gui PATH-OF-veloxa2-ctl
"""

import json
import os
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
import unittest

import paho.mqtt.client as mqtt
from paho.mqtt.packettypes import PacketTypes
from paho.mqtt.properties import Properties

from panel_harness import FakeUnit, PanelProcess, isolated, wait_until

GUI = os.environ.get("VELOXA_GUI_PATH", "")
CTL = os.environ.get("VELOXA_CTL_PATH", "")
EXAMPLE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "examples", "mqtt_frequency_scan.py")
CONTROLS = ["txtIP", "txtPort", "txtFreq", "lblLaserFreq", "txtRampRate", "txtRampStep", "txtStopFreq", "txtSysClk",
            "cmdHb", "sldGain", "sldContrast", "optDdsPolarity", "optDdsPower", "lblRev"]
# A broker address that is not the loopback's (added to lo for the test).
FAR_ADDRESS = "10.9.8.7"
USER, PASSWORD = "lab", "s3cret:with colon"


def free_port(address):
    with socket.socket() as probe:
        probe.bind((address, 0))
        return probe.getsockname()[1]


def run(*command, timeout=30):
    return subprocess.run(command, capture_output=True, text=True, timeout=timeout, check=False)


class Broker:
    """mosquitto on one address and port, anonymous, or with TLS (a throwaway
    CA made here) and a password file."""

    def __init__(self, folder, address="127.0.0.1", secure=False, port=None):
        self.folder, self.address, self.secure = folder, address, secure
        self.port = port or free_port(address)
        self.log = os.path.join(folder, f"mosquitto-{self.port}.log")
        lines = [f"listener {self.port} {address}", "persistence false", f"log_dest file {self.log}",
                 "log_type all", "connection_messages true"]
        if os.geteuid() == 0:
            lines.append("user root")  # root in the namespace: nothing to drop to
        if secure:
            self.ca = self._certificates()
            run("mosquitto_passwd", "-b", "-c", os.path.join(folder, "passwords"), USER, PASSWORD)
            lines += [f"cafile {self.ca}", f"certfile {folder}/server.crt", f"keyfile {folder}/server.key",
                      f"password_file {folder}/passwords", "allow_anonymous false"]
        else:
            lines.append("allow_anonymous true")
        self.config = os.path.join(folder, f"mosquitto-{self.port}.conf")
        with open(self.config, "w", encoding="utf-8") as config:
            config.write("\n".join(lines) + "\n")
        self.process = None
        self.starts = 0
        self.start()

    def _certificates(self):
        key = ["-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes"]
        f = self.folder
        run("openssl", "req", "-x509", *key, "-keyout", f"{f}/ca.key", "-out", f"{f}/ca.crt", "-subj", "/CN=test CA",
            "-days", "2")
        run("openssl", "req", *key, "-keyout", f"{f}/server.key", "-out", f"{f}/server.csr", "-subj", "/CN=broker")
        with open(f"{f}/san", "w", encoding="ascii") as extensions:
            extensions.write(f"subjectAltName=IP:{self.address}\n")
        run("openssl", "x509", "-req", "-in", f"{f}/server.csr", "-CA", f"{f}/ca.crt", "-CAkey", f"{f}/ca.key",
            "-CAcreateserial", "-out", f"{f}/server.crt", "-days", "2", "-extfile", f"{f}/san")
        return f"{f}/ca.crt"

    @property
    def url(self):
        return f"{'mqtts' if self.secure else 'mqtt'}://{self.address}:{self.port}"

    def start(self):
        self.process = subprocess.Popen(["mosquitto", "-c", self.config], stdout=subprocess.DEVNULL,
                                        stderr=subprocess.DEVNULL)

        def listening():  # from its log: a probe's connection would count as a client's
            with open(self.log, encoding="utf-8", errors="replace") as log:
                return log.read().count("listen socket on port") > self.starts

        wait_until(lambda: os.path.exists(self.log) and listening(), 10, f"mosquitto on {self.address}:{self.port}")
        self.starts += 1

    def stop(self):
        if self.process and self.process.poll() is None:
            self.process.terminate()
            self.process.wait(10)

    def connections(self):
        """When each client connected or tried to (mosquitto's log, seconds)."""
        if not os.path.exists(self.log):
            return []
        with open(self.log, encoding="utf-8", errors="replace") as log:
            return [int(line.split(":")[0]) for line in log if "New connection from" in line]

    def client_arguments(self):
        if not self.secure:
            return ["-h", self.address, "-p", str(self.port)]
        return ["-h", self.address, "-p", str(self.port), "--cafile", self.ca, "-u", USER, "-P", PASSWORD]

    def retained(self, topic="veloxa2/#", seconds=1.0):
        """topic -> payload of every retained message under topic (mosquitto_sub)."""
        out = run("mosquitto_sub", *self.client_arguments(), "-V", "5", "--retained-only", "-v", "-t", topic,
                  "-W", str(seconds)).stdout
        return dict(line.split(" ", 1) if " " in line else (line, "") for line in out.splitlines())


class Client:
    """A paho MQTT 5 client that keeps what arrives and asks with a response topic."""

    def __init__(self, broker, *topics):
        self.messages, self.arrived = [], threading.Condition()
        self.client = mqtt.Client(protocol=mqtt.MQTTv5)
        if broker.secure:
            self.client.tls_set(ca_certs=broker.ca)
            self.client.username_pw_set(USER, PASSWORD)
        self.client.on_message = self._keep
        self.client.connect(broker.address, broker.port)
        self.client.loop_start()
        self.reply = f"replies/{id(self)}"
        subscribed = threading.Event()
        self.client.on_subscribe = lambda *_: subscribed.set()
        self.client.subscribe([(self.reply, 0), *[(topic, 0) for topic in topics]])
        subscribed.wait(5)

    def publish(self, topic, payload, reply=False, correlation=b"1"):
        properties = Properties(PacketTypes.PUBLISH)
        if reply:
            properties.ResponseTopic = self.reply
            properties.CorrelationData = correlation
        self.client.publish(topic, payload, qos=1, properties=properties).wait_for_publish(5)

    def ask(self, topic, payload):
        """The panel's answer to one command, with its correlation data checked."""
        correlation = os.urandom(8)
        self.publish(topic, payload, reply=True, correlation=correlation)
        message = self.next(lambda m: m.topic == self.reply)
        assert message.properties.CorrelationData == correlation
        return json.loads(message.payload)

    def _keep(self, _client, _data, message):
        with self.arrived:
            self.messages.append(message)
            self.arrived.notify_all()

    def next(self, wanted, timeout=5.0):
        """The first message kept that is wanted, taken out; the others stay."""
        with self.arrived:  # by position: paho's messages compare equal by their packet id
            found = self.arrived.wait_for(lambda: [i for i, m in enumerate(self.messages) if wanted(m)], timeout)
            if not found:
                raise AssertionError(f"no such message within {timeout} s")
            return self.messages.pop(found[0])

    def close(self):
        self.client.loop_stop()
        self.client.disconnect()


class BrokerTestCase(unittest.TestCase):
    def setUp(self):
        if not isolated():
            self.fail("refusing to run: this network namespace has interfaces besides lo")
        scratch = tempfile.TemporaryDirectory(prefix="veloxa2-mqtt.")
        self.addCleanup(scratch.cleanup)
        self.folder = scratch.name
        self.credentials = os.path.join(self.folder, "credentials")
        with open(os.open(self.credentials, os.O_WRONLY | os.O_CREAT, 0o600), "w", encoding="utf-8") as file:
            file.write(f"{USER}:{PASSWORD}\n")

    def broker(self, **options):
        broker = Broker(self.folder, **options)
        self.addCleanup(broker.stop)
        return broker

    def unit(self, address):
        unit = FakeUnit(address)
        self.addCleanup(unit.close)
        return unit

    def panel(self, address, *args, unit="a"):
        # One settings and one runtime folder for every panel, as on one PC.
        panel = PanelProcess(GUI, address, args, unit=unit, folder=self.folder)
        self.addCleanup(panel.close)
        return panel

    def client(self, broker, *topics):
        client = Client(broker, *topics)
        self.addCleanup(client.close)
        return client

    def ctl(self, *arguments, environment=None):
        return subprocess.run([CTL, *arguments], capture_output=True, text=True, timeout=60, check=False,
                              env=environment)


class TestPublishing(BrokerTestCase):
    def test_status_state_and_link_are_retained_and_follow_changes(self):
        broker = self.broker()
        self.unit("127.0.0.81")
        panel = self.panel("127.0.0.81", "--control", "--mqtt", broker.url)
        retained = wait_until(lambda: (r := broker.retained("veloxa2/a/#")) and len(r) == 16 and r, 20,
                              "status, link and 14 controls retained")
        self.assertEqual(retained["veloxa2/a/status"], "online")
        self.assertEqual(retained["veloxa2/a/state/txtIP"], "127.0.0.81")
        self.assertEqual(set(retained), {"veloxa2/a/status", "veloxa2/a/link", *(f"veloxa2/a/state/{c}" for c in CONTROLS)})
        wait_until(lambda: broker.retained("veloxa2/a/link") == {"veloxa2/a/link": "heard"}, 10, "link heard")
        # A change made on the endpoint, as a script does; the rule corrects it.
        answer = self.ctl("--panel", "--unit", "a", "freq", "600", environment=panel.environment)
        self.assertEqual(answer.returncode, 0, answer.stderr)
        wait_until(lambda: broker.retained("veloxa2/a/state/txtFreq") == {"veloxa2/a/state/txtFreq": "500"}, 10,
                   "state/txtFreq 500")

    def test_offline_after_a_kill_by_the_will_and_after_a_close(self):
        broker = self.broker()
        self.unit("127.0.0.82")
        for how in (signal.SIGKILL, signal.SIGTERM):
            with self.subTest(signal=how.name):
                panel = self.panel("127.0.0.82", "--mqtt", broker.url, unit=f"u{how.value}")
                status = f"veloxa2/u{how.value}/status"
                wait_until(lambda s=status: broker.retained(s) == {s: "online"}, 20, "online")
                started = time.monotonic()
                panel.stop(how)
                wait_until(lambda s=status: broker.retained(s) == {s: "offline"}, 5, "offline")
                if how == signal.SIGTERM:  # the store first, then at most a second for the broker
                    self.assertLess(time.monotonic() - started, 8)
                    self.assertEqual(panel.process.returncode, 0)

    def test_publish_only_broker_elsewhere_but_commands_need_tls_and_credentials(self):
        run("ip", "addr", "add", f"{FAR_ADDRESS}/32", "dev", "lo")
        plain, secure = self.broker(address=FAR_ADDRESS), self.broker(address=FAR_ADDRESS, secure=True)
        self.unit("127.0.0.83")
        rows = [  # unit, options, reaches the broker, stderr holds
            ("p", ["--mqtt", plain.url], plain, None),
            ("q", ["--mqtt", plain.url, "--mqtt-commands"], None, "need mqtts:// and --mqtt-credentials"),
            ("r", ["--mqtt", secure.url, "--mqtt-ca", secure.ca, "--mqtt-commands"], None, "need mqtts://"),
            ("s", ["--mqtt", secure.url, "--mqtt-ca", secure.ca, "--mqtt-credentials", self.credentials,
                   "--mqtt-commands"], secure, None),
        ]
        for unit, options, reached, said in rows:
            with self.subTest(options=options):
                panel = self.panel("127.0.0.83", *options, unit=unit)
                if reached:
                    status = f"veloxa2/{unit}/status"
                    wait_until(lambda b=reached, s=status: b.retained(s) == {s: "online"}, 20, "online")
                else:
                    wait_until(lambda p=panel: p.stderr_lines(), 20, "the refusal on stderr")
                    self.assertIn(said, panel.stderr_lines()[0])
                    self.assertEqual(len(panel.stderr_lines()), 1)
                    self.assertIsNone(panel.process.poll())  # the panel runs on
        # The TLS bridge takes commands.
        answer = self.client(secure).ask("veloxa2/s/set/sldGain", "4")
        self.assertEqual(answer, {"result": 4})

    def test_credentials_that_others_may_read_are_refused(self):
        broker = self.broker()
        os.chmod(self.credentials, 0o640)
        self.unit("127.0.0.84")
        panel = self.panel("127.0.0.84", "--mqtt", broker.url, "--mqtt-credentials", self.credentials)
        wait_until(panel.stderr_lines, 20, "the refusal on stderr")
        self.assertIn("may be read by others", panel.stderr_lines()[0])
        time.sleep(1)
        self.assertEqual(broker.connections(), [])


class TestBrokerComesAndGoes(BrokerTestCase):
    def test_absent_then_started_then_restarted_with_the_heartbeat_on_time(self):
        port = free_port("127.0.0.1")
        unit = self.unit("127.0.0.85")
        started = time.monotonic()
        panel = self.panel("127.0.0.85", "--mqtt", f"mqtt://127.0.0.1:{port}")
        wait_until(panel.stderr_lines, 20, "the broker's absence on stderr")
        time.sleep(2)
        broker = self.broker(port=port)
        wait_until(lambda: len(broker.retained("veloxa2/a/#")) == 16, 40, "everything retained")
        broker.stop()
        broker.start()  # no persistence: the retained values are gone until the panel sends them again
        wait_until(lambda: len(broker.retained("veloxa2/a/#")) == 16, 40, "everything retained again")
        lines = panel.stderr_lines()
        self.assertEqual([("trying again" in line, "connected" in line) for line in lines],
                         [(True, False), (False, True), (True, False), (False, True)], lines)
        self.assertLessEqual(unit.longest_heartbeat_gap(started + 2), 1.1)

    def test_a_refused_password_is_said_once_and_retried_with_growing_pauses(self):
        broker = self.broker(secure=True, address="127.0.0.1")
        with open(self.credentials, "w", encoding="utf-8") as file:
            file.write(f"{USER}:wrong\n")
        self.unit("127.0.0.86")
        panel = self.panel("127.0.0.86", "--mqtt", broker.url, "--mqtt-ca", broker.ca, "--mqtt-credentials",
                           self.credentials)
        time.sleep(8.5)
        self.assertEqual(len(panel.stderr_lines()), 1, panel.stderr_lines())
        self.assertIn("refused", panel.stderr_lines()[0])
        attempts = broker.connections()
        pauses = [b - a for a, b in zip(attempts, attempts[1:])]
        self.assertGreaterEqual(len(attempts), 3, attempts)
        self.assertLessEqual(len(attempts), 5, attempts)  # 0, 1, 3, 7 s: not faster
        self.assertEqual(pauses, sorted(pauses))


class TestCommands(BrokerTestCase):
    """Two panels side by side: "e" driven on its endpoint, "m" through the
    broker, from the same stored settings; each row must give both units the
    same datagrams."""

    def setUp(self):
        super().setUp()
        self.broker_ = self.broker()
        self.units = {"e": self.unit("127.0.0.87"), "m": self.unit("127.0.0.88")}
        self.panels = {name: self.panel(f"127.0.0.{87 if name == 'e' else 88}", "--control", "--mqtt",
                                        self.broker_.url, "--mqtt-commands", unit=name) for name in "em"}
        for name in "em":
            wait_until(lambda n=name: self.broker_.retained(f"veloxa2/{n}/status") == {f"veloxa2/{n}/status": "online"},
                       20, f"{name} online")
        for unit in self.units.values():
            unit.commands(0.5)

    def same_datagrams(self, on_endpoint, through_broker):
        on_endpoint()
        by_endpoint = self.units["e"].commands()
        through_broker()
        self.assertEqual(self.units["m"].commands(), by_endpoint)
        return by_endpoint

    def test_each_command_does_what_the_same_request_does_on_the_endpoint(self):
        client = self.client(self.broker_, "veloxa2/m/error")
        endpoint = self.panels["e"].environment
        rows = [  # topic leaf, payload, endpoint request (veloxa2-ctl --panel), answer
            ("set/txtFreq", "600", ["freq", "600"], {"result": "500"}),
            ("set/sldGain", "5", ["gain", "5"], {"result": 5}),
            ("click/optDdsPower", "1", ["power", "off"], {"result": 1}),
            ("click/cmdDdsReg", "", ["dds-reg"], {"result": True}),
            ("set/txtStopFreq", "20", None, {"result": "20"}),
            ("enter/txtStopFreq", "", None, {"result": "20"}),
        ]
        for leaf, payload, request, answer in rows:
            with self.subTest(topic=leaf, payload=payload):
                def on_endpoint(request=request, leaf=leaf, payload=payload):
                    if request:
                        self.assertEqual(self.ctl("--panel", "--unit", "e", *request, environment=endpoint).returncode, 0)
                    else:
                        self.assertEqual(client.ask(f"veloxa2/e/{leaf}", payload), answer)  # e takes them too
                self.same_datagrams(on_endpoint, lambda leaf=leaf, payload=payload, answer=answer:
                                    self.assertEqual(client.ask(f"veloxa2/m/{leaf}", payload), answer))

    def test_refused_commands_change_nothing_and_are_published_as_errors(self):
        client = self.client(self.broker_, "veloxa2/m/error")
        before = self.broker_.retained("veloxa2/m/state/#")
        rows = [  # topic leaf, payload
            ("set/sldGain", "abc"), ("set/sldGain", "8"), ("set/txtNoSuchBox", "1"), ("set/txtFreq", b"\xff\xfe1"),
            ("click/optDdsPolarity", "2"), ("click/cmdDdsReg", "now"), ("enter/txtSysClk", ""),
            ("set/txtFreq/deeper", "1"), ("set/lblRev", "x"),
        ]
        for leaf, payload in rows:
            with self.subTest(topic=leaf, payload=payload):
                answer = client.ask(f"veloxa2/m/{leaf}", payload)
                self.assertEqual(answer["error"]["code"], -32602, answer)
                error = json.loads(client.next(lambda m: m.topic == "veloxa2/m/error").payload)
                self.assertEqual(error, {"topic": f"veloxa2/m/{leaf}", "error": answer["error"]})
        client.publish("veloxa2/m/frobnicate/txtFreq", "1")
        client.publish("veloxa2/m/set/txtFreq", "x" * (1024 * 1024))  # over the size the panel takes
        self.assertEqual(self.units["m"].commands(0.5), [])
        self.assertEqual(self.broker_.retained("veloxa2/m/state/#"), before)

    def test_without_commands_the_panel_only_publishes(self):
        self.unit("127.0.0.89")
        self.panel("127.0.0.89", "--mqtt", self.broker_.url, unit="quiet")
        wait_until(lambda: self.broker_.retained("veloxa2/quiet/status"), 20, "quiet online")
        self.client(self.broker_).publish("veloxa2/quiet/set/sldGain", "1")
        time.sleep(0.5)
        self.assertEqual(self.broker_.retained("veloxa2/quiet/state/sldGain"), {"veloxa2/quiet/state/sldGain": "7"})

    def test_veloxa2_ctl_through_the_broker_as_on_the_endpoint(self):
        broker = ["--mqtt", self.broker_.url]
        rows = [
            ["freq", "12.5"], ["freq", "100", "--polarity", "-"], ["ramp", "--step", "10", "--rate", "5", "--stop", "20"],
            ["ramp-stop"], ["polarity", "+"], ["power", "off"], ["gain", "3"], ["contrast", "50"], ["dds-reg"],
            ["heartbeat", "off"], ["heartbeat", "on"], ["seq", "clear"], ["seq", "add-freq", "10"],
            ["seq", "add-ramp", "--step", "1", "--rate", "2", "--stop", "30"], ["seq", "add-wait"],
            ["seq", "execute"], ["seq", "restart"], ["freq", "700", "--sysclk", "800"],
        ]
        endpoint = self.panels["e"].environment
        for row in rows:
            with self.subTest(command=row):
                self.same_datagrams(
                    lambda row=row: self.assertEqual(self.ctl("--panel", "--unit", "e", *row, environment=endpoint)
                                                     .returncode, 0),
                    lambda row=row: self.assertEqual(self.ctl(*broker, "--unit", "m", *row).returncode, 0))
        through_broker = json.loads(self.ctl(*broker, "--unit", "m", "get").stdout)
        on_endpoint = json.loads(self.ctl("--panel", "--unit", "e", "get", environment=endpoint).stdout)
        self.assertEqual(through_broker["controls"].pop("txtIP"), "127.0.0.88")
        on_endpoint["controls"].pop("txtIP")
        self.assertEqual(through_broker, on_endpoint)
        self.assertEqual(self.ctl(*broker, "units").stdout, "e online heard\nm online heard\n")
        missing = self.ctl(*broker, "--unit", "x", "gain", "1")
        self.assertEqual((missing.returncode, missing.stderr), (3, f'veloxa2-ctl: no unit "x" on the broker at '
                                                                  f"{self.broker_.url}\n"))

    def test_watch_prints_the_events_of_every_unit(self):
        watcher = subprocess.Popen([CTL, "--mqtt", self.broker_.url, "--unit", "+", "watch"],
                                   stdout=subprocess.PIPE, text=True)
        self.addCleanup(watcher.wait)
        self.addCleanup(watcher.terminate)
        lines = []
        threading.Thread(target=lambda: lines.extend(iter(watcher.stdout.readline, "")), daemon=True).start()
        # Once it watches, a command on each unit shows up under the unit's name.
        wait_until(lambda: any(line.startswith("m ") for line in lines), 20, "the heartbeat of m watched")
        for name in "em":
            self.assertEqual(self.ctl("--mqtt", self.broker_.url, "--unit", name, "dds-reg").returncode, 0)
            wait_until(lambda n=name: any(line.startswith(f"{n} ") and " sent B0 | " in line for line in lines), 10,
                       f"{name}'s register dump watched")

    def test_two_units_keep_their_own_settings_endpoints_and_guards(self):
        for name, gain in (("e", "2"), ("m", "6")):
            self.assertEqual(self.ctl("--panel", "--unit", name, "gain", gain,
                                      environment=self.panels[name].environment).returncode, 0)
        self.assertEqual(self.units["e"].commands(), ["67 40"])
        self.assertEqual(self.units["m"].commands(), ["67 C0"])
        second = PanelProcess(GUI, "127.0.0.87", unit="e", folder=self.folder)
        self.addCleanup(second.close)
        self.assertEqual(second.process.wait(30), 0)  # e runs already: the second copy ends at once
        for name, gain in (("e", "2"), ("m", "6")):
            self.assertEqual(self.panels[name].stop(), 0)
            with open(self.panels[name].store, encoding="utf-8") as store:
                self.assertIn(f"Gain%20%28CP%20current%29={gain}\n", store.read())

    def test_the_python_example_scans_through_the_broker(self):
        scan = run(sys.executable, EXAMPLE, "--broker", "127.0.0.1", "--port", str(self.broker_.port), "--unit", "m",
                   "--pause", "0", "499", "501", "1", timeout=60)
        self.assertEqual(scan.returncode, 0, scan.stderr)
        self.assertEqual(scan.stdout.splitlines(),
                         ["499 MHz -> 499", "500 MHz -> 500", "501 MHz -> 500  (the panel's rule changed it)"])
        # The unit got 499 MHz and 500 MHz (twice, the second time from the rule).
        self.assertEqual(sorted({d for d in self.units["m"].commands() if d.startswith("A5")}),
                         ["A5 00 00 00 00 80", "A5 00 C8 76 BE 7F"])

    def test_a_flood_of_hostile_commands_leaves_the_panel_on_time(self):
        unit, panel = self.units["m"], self.panels["m"]
        flooder = mqtt.Client(protocol=mqtt.MQTTv5)
        flooder.connect("127.0.0.1", self.broker_.port)
        flooder.loop_start()
        self.addCleanup(flooder.loop_stop)
        rows = [("veloxa2/m/set/txtFreq", None), ("veloxa2/m/set/sldGain", b"\xff"), ("veloxa2/m/nothing", "1"),
                ("veloxa2/m/set/txtNoSuchBox", "1")]

        def flood(seconds=5, per_second=10000):
            started, sent = time.monotonic(), 0
            while time.monotonic() - started < seconds:
                for i in range(100):
                    topic, payload = rows[i % 4]
                    flooder.publish(topic, payload or str(i % 50))
                sent += 100
                time.sleep(max(0.0, started + sent / per_second - time.monotonic()))
            return started

        flood()
        after_first = panel.rss_kib()
        started = flood()
        # Answers at once afterwards: no backlog left to carry out.
        asked = time.monotonic()
        got = self.ctl("--panel", "--unit", "m", "get", environment=panel.environment)
        self.assertEqual(got.returncode, 0)
        self.assertLess(time.monotonic() - asked, 3)
        self.assertLessEqual(unit.longest_heartbeat_gap(started), 1.1)
        # Bounded: a second flood leaves nothing more behind than the first did.
        self.assertLess(panel.rss_kib() - after_first, 8 * 1024)

if __name__ == "__main__":
    if len(sys.argv) > 2 and os.sep in sys.argv[1]:
        GUI, CTL = sys.argv.pop(1), sys.argv.pop(1)
    unittest.main()
