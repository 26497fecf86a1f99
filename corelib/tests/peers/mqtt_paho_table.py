#!/usr/bin/python3
"""CONNECT variants against the MQTT server on 127.0.0.1:PORT and the CONNACK each gets.

paho-mqtt 1.6.1 drives the 3.1.1 rows; the rows paho will not send (an MQTT 5 CONNECT read as
3.1.1, an empty client id without clean session) go over a raw socket. Exit 0 when every row
gets what the table says; None means no CONNACK within the wait.
"""
import socket
import struct
import sys
import threading

import paho.mqtt.client as mqtt

PORT = int(sys.argv[1])
WAIT = 3.0


def paho_row(keepalive=60, user="user", will=None, protocol=mqtt.MQTTv311, client_id="paho"):
    got = threading.Event()
    result = {}

    def on_connect(client, userdata, flags, rc):
        result["rc"] = rc
        got.set()

    c = mqtt.Client(client_id=client_id, protocol=protocol)
    if user is not None:
        c.username_pw_set(user, "secret")
    if will:
        c.will_set("will/topic", "gone", qos=will[0], retain=will[1])
    c.on_connect = on_connect
    c.connect("127.0.0.1", PORT, keepalive=keepalive)
    c.loop_start()
    got.wait(WAIT)
    c.loop_stop()
    c.disconnect()
    return result.get("rc")


def mqtt_str(s):
    return struct.pack("!H", len(s)) + s


def raw_row(level, flags, client_id, props=b""):
    body = mqtt_str(b"MQTT") + bytes([level, flags]) + struct.pack("!H", 60) + props + mqtt_str(client_id)
    if flags & 0x80:
        body += mqtt_str(b"user")
    frame = bytes([0x10, len(body)]) + body
    with socket.create_connection(("127.0.0.1", PORT), timeout=WAIT) as s:
        s.sendall(frame)
        ack = b""
        try:
            while len(ack) < 4:
                part = s.recv(4 - len(ack))
                if not part:
                    break
                ack += part
        except socket.timeout:
            pass
    return ack[3] if len(ack) == 4 and ack[0] == 0x20 else None


ROWS = [
    ("3.1.1 with user name", lambda: paho_row(), 0),
    ("password skipped", lambda: paho_row(user="user"), 0),
    ("no user name", lambda: paho_row(user=None), None),
    ("keep alive 4", lambda: paho_row(keepalive=4), None),
    ("keep alive 5", lambda: paho_row(keepalive=5), 0),
    ("keep alive 600", lambda: paho_row(keepalive=600), 0),
    ("keep alive 601", lambda: paho_row(keepalive=601), None),
    ("will QoS 1 retained", lambda: paho_row(will=(1, True)), 0),
    ("will QoS 0", lambda: paho_row(will=(0, False)), None),
    ("MQTT 3.1 (MQIsdp)", lambda: paho_row(protocol=mqtt.MQTTv31), None),
    ("MQTT 5 CONNECT", lambda: raw_row(5, 0x82, b"v5", props=b"\x00"), 1),
    ("empty id, clean session", lambda: raw_row(4, 0x82, b""), 0),
    ("empty id, no clean session", lambda: raw_row(4, 0x80, b""), 11),
]

failed = 0
for name, run, want in ROWS:
    got = run()
    ok = got == want
    failed += not ok
    print(f"{'ok  ' if ok else 'FAIL'} {name}: CONNACK {got}, expected {want}")
sys.exit(1 if failed else 0)
