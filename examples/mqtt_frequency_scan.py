#!/usr/bin/env python3
"""Scan the DDS frequency of a panel from another machine, through the lab's
MQTT broker (the panel started with veloxa2-gui --mqtt URL --mqtt-commands).

Publishes each frequency from START to STOP (MHz, in steps of STEP) to the
unit's set/txtFreq topic with an MQTT 5 response topic, waits for the panel's
answer, and prints what the panel settled on; the panel sends it to the unit
as when the box is typed in. Needs paho-mqtt (Debian: python3-paho-mqtt).

    examples/mqtt_frequency_scan.py --broker lab-broker --unit laser-2 10 12 0.5
"""

import argparse
import json
import os
import queue
import sys
import time
import uuid

import paho.mqtt.client as mqtt
from paho.mqtt.packettypes import PacketTypes
from paho.mqtt.properties import Properties

from frequency_scan import as_text, frequencies


class BrokerPanel:
    """One unit's panel on a broker: requests out, answers back on a topic of our own."""

    def __init__(self, host, port, unit, tls_ca=None, user=None, password=None, timeout=10.0):
        self.unit, self.timeout = unit, timeout
        self.reply_topic = f"veloxa2-ctl/{uuid.uuid4()}"
        self.status_topic = f"veloxa2/{unit}/status"
        self.answers, self.status = queue.Queue(), queue.Queue()
        self.client = mqtt.Client(protocol=mqtt.MQTTv5)
        if tls_ca:
            self.client.tls_set(ca_certs=tls_ca)
        if user:
            self.client.username_pw_set(user, password)
        self.client.on_message = self._arrived
        self.client.connect(host, port)
        self.client.loop_start()
        self.client.subscribe([(self.reply_topic, 1), (self.status_topic, 1)])
        try:
            status = self.status.get(timeout=3.0)  # retained: it comes at once when the unit is known
        except queue.Empty:
            status = None
        if status != "online":
            self.close()
            raise RuntimeError(f"unit {unit!r} is {status or 'not on the broker'}")

    def _arrived(self, _client, _data, message):
        (self.status if message.topic == self.status_topic else self.answers).put(
            message.payload.decode() if message.topic == self.status_topic else message)

    def set(self, name, value):
        """Sets a control as the panel's endpoint would; its value afterwards."""
        correlation = uuid.uuid4().bytes
        properties = Properties(PacketTypes.PUBLISH)
        properties.ResponseTopic = self.reply_topic
        properties.CorrelationData = correlation
        self.client.publish(f"veloxa2/{self.unit}/set/{name}", str(value), qos=1, properties=properties)
        deadline = time.monotonic() + self.timeout
        while time.monotonic() < deadline:
            try:
                message = self.answers.get(timeout=max(0.0, deadline - time.monotonic()))
            except queue.Empty:
                break
            if getattr(message.properties, "CorrelationData", None) == correlation:
                answer = json.loads(message.payload)
                if "error" in answer:
                    raise RuntimeError(answer["error"]["message"])
                return answer["result"]
        raise RuntimeError("the panel did not answer (is it started with --mqtt-commands?)")

    def close(self):
        self.client.loop_stop()
        self.client.disconnect()


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("start", type=float, help="first frequency, MHz")
    parser.add_argument("stop", type=float, help="last frequency, MHz")
    parser.add_argument("step", type=float, help="step between frequencies, MHz (> 0)")
    parser.add_argument("--broker", required=True, help="the broker's host name or address")
    parser.add_argument("--port", type=int, help="the broker's port (default 1883, 8883 with --tls-ca)")
    parser.add_argument("--unit", required=True, help="the panel's unit name (veloxa2-gui --unit)")
    parser.add_argument("--tls-ca", help="TLS with this CA's certificate file")
    parser.add_argument("--user", help="the broker's user name; the password is read from $VELOXA2_MQTT_PASSWORD")
    parser.add_argument("--pause", type=float, default=0.5, help="seconds at each frequency (default 0.5)")
    args = parser.parse_args()
    if args.step <= 0:
        parser.error("the step must be greater than 0")
    port = args.port or (8883 if args.tls_ca else 1883)

    try:
        panel = BrokerPanel(args.broker, port, args.unit, args.tls_ca, args.user,
                            os.environ.get("VELOXA2_MQTT_PASSWORD"))
    except (OSError, RuntimeError) as error:
        sys.exit(f"mqtt_frequency_scan: {error}")
    try:
        for mhz in frequencies(args.start, args.stop, args.step):
            asked = as_text(mhz)
            settled = panel.set("txtFreq", asked)
            note = "" if settled == asked else "  (the panel's rule changed it)"
            print(f"{asked} MHz -> {settled}{note}", flush=True)
            time.sleep(args.pause)
    except RuntimeError as error:
        sys.exit(f"mqtt_frequency_scan: the panel refused: {error}")
    finally:
        panel.close()


if __name__ == "__main__":
    main()
