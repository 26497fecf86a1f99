#!/usr/bin/python3
"""Captures the bytes real MQTT 3.1.1 clients send, as parser fixtures.

A loopback listener plays a minimal broker (CONNACK, PUBACK, SUBACK) so that mosquitto_pub,
mosquitto_sub and paho send what they send to a real server. Each client's byte stream is written
to <out>/<name>.bin. Exit code 77 when a client tool is missing.

  capture_client_frames.py [out-dir]          refreshes the fixtures (default: beside this script)
  capture_client_frames.py --check <test>     captures into a scratch folder and runs the parser
                                              test's real-client checks on it
"""
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import threading

ANSWERS = {0x10: b"\x20\x02\x00\x00", 0xC0: b"\xd0\x00"}


def frames(stream):
    """Splits complete frames off the front of a byte string: (frames, rest)."""
    out, pos = [], 0
    while pos + 2 <= len(stream):
        length, mult, i = 0, 1, pos + 1
        while i < len(stream):
            length += (stream[i] & 0x7F) * mult
            mult *= 128
            i += 1
            if not stream[i - 1] & 0x80:
                break
        else:
            break
        if i + length > len(stream):
            break
        out.append(stream[pos:i + length])
        pos = i + length
    return out, stream[pos:]


def serve_one(listener, sink):
    conn, _ = listener.accept()
    conn.settimeout(10)
    pending = b""
    with conn:
        while True:
            try:
                data = conn.recv(65536)
            except socket.timeout:
                return
            if not data:
                return
            sink.extend(data)
            done, pending = frames(pending + data)
            for f in done:
                kind = f[0] & 0xF0
                if kind in ANSWERS:
                    conn.sendall(ANSWERS[kind])
                elif kind == 0x30 and (f[0] >> 1) & 3:
                    body = f[2:] if f[1] < 128 else f[3:]
                    tlen = (body[0] << 8) | body[1]
                    conn.sendall(b"\x40\x02" + body[2 + tlen:4 + tlen])
                elif kind == 0x80:
                    conn.sendall(b"\x90\x03" + f[2:4] + b"\x01")
                    # A published message, so that mosquitto_sub -C 1 ends.
                    conn.sendall(b"\x30\x07\x00\x01tdata")
                elif kind == 0xE0:
                    return


def capture(name, argv, out_dir):
    listener = socket.socket()
    listener.bind(("127.0.0.1", 0))
    listener.listen(1)
    port = listener.getsockname()[1]
    sink = bytearray()
    server = threading.Thread(target=serve_one, args=(listener, sink))
    server.start()
    subprocess.run([a.replace("PORT", str(port)) for a in argv], timeout=20, check=True,
                   stdout=subprocess.DEVNULL)
    server.join(20)
    listener.close()
    with open(os.path.join(out_dir, name + ".bin"), "wb") as f:
        f.write(bytes(sink))


def paho_publish(port):
    import paho.mqtt.client as mqtt
    c = mqtt.Client(client_id="paho-id", clean_session=True, protocol=mqtt.MQTTv311)
    c.username_pw_set("paho-user", "secret")
    c.will_set("will/topic", b"gone", qos=1, retain=True)
    c.connect("127.0.0.1", port, keepalive=30)
    c.loop_start()
    info = c.publish("paho/topic", b"x" * 300, qos=1)
    info.wait_for_publish(10)
    c.disconnect()
    c.loop_stop()


def main():
    if len(sys.argv) == 3 and sys.argv[1] == "--check":
        with tempfile.TemporaryDirectory() as scratch:
            result = capture_all(scratch)
            if result:
                return result
            env = dict(os.environ, MQTT_FIXTURE_DIR=scratch)
            return subprocess.run([sys.argv[2], "--gtest_filter=*RealClient*"], env=env).returncode
    return capture_all(sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__)))


def capture_all(out_dir):
    if not shutil.which("mosquitto_pub") or not shutil.which("mosquitto_sub"):
        print("mosquitto-clients missing")
        return 77
    capture("mosquitto_pub", ["mosquitto_pub", "-h", "127.0.0.1", "-p", "PORT", "-V", "mqttv311", "-u", "user",
                              "-k", "60", "-q", "1", "-i", "pub-id", "-t", "a/b", "-m", "hello"], out_dir)
    capture("mosquitto_sub", ["mosquitto_sub", "-h", "127.0.0.1", "-p", "PORT", "-V", "mqttv311", "-u", "user",
                              "-k", "60", "-q", "1", "-i", "sub-id", "-t", "a/#", "-C", "1"], out_dir)
    try:
        import paho.mqtt.client  # noqa: F401
    except ImportError:
        print("python3-paho-mqtt missing")
        return 77
    listener = socket.socket()
    listener.bind(("127.0.0.1", 0))
    listener.listen(1)
    sink = bytearray()
    server = threading.Thread(target=serve_one, args=(listener, sink))
    server.start()
    paho_publish(listener.getsockname()[1])
    server.join(20)
    listener.close()
    with open(os.path.join(out_dir, "paho_publish.bin"), "wb") as f:
        f.write(bytes(sink))
    return 0


if __name__ == "__main__":
    sys.exit(main())
