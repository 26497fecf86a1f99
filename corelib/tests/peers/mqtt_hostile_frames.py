#!/usr/bin/python3
"""Hostile frames sent over raw sockets to the MQTT server on 127.0.0.1:PORT.

mqtt_hostile_frames.py PORT ROW        runs one row; --list prints the row names.
mqtt_hostile_frames.py PORT --half N   opens N connections that each send half a CONNECT, prints
                                       "ready N" and holds them until it is killed.

Each row opens a fresh connection, optionally passes a good CONNECT first, sends its bytes, ends
its sending half and reads until the server closes the connection. Exit 0 when the server answered nothing and
closed the connection; the host's side of each row is
checked by the calling test.
"""
import resource
import signal
import socket
import struct
import sys

WAIT = 30.0


def mqtt_str(s):
    return struct.pack("!H", len(s)) + s


def frame(header, body):
    out = bytearray([header])
    n = len(body)
    while True:
        digit = n % 128
        n //= 128
        out.append(digit | (0x80 if n else 0))
        if not n:
            return bytes(out) + body


def connect(flags=0x82, client_id=b"hostile", will=(b"w", b"m"), user=b"user", password=b"pw"):
    body = mqtt_str(b"MQTT") + bytes([4, flags]) + struct.pack("!H", 60) + mqtt_str(client_id)
    if flags & 0x04:
        body += mqtt_str(will[0]) + mqtt_str(will[1])
    if flags & 0x80:
        body += mqtt_str(user)
    if flags & 0x40:
        body += mqtt_str(password)
    return frame(0x10, body)


def stretch(data, index):
    """The CONNECT with its string number `index` (0: the protocol name) claiming one byte past the
    end of the frame; `data` has a one-byte remaining length."""
    pos = 2
    for i in range(index + 1):
        if i == 1:
            pos += 4  # level, flags, keep alive
        if i == index:
            claim = len(data) - pos - 2 + 1
            return data[:pos] + struct.pack("!H", claim) + data[pos + 2:]
        pos += 2 + struct.unpack("!H", data[pos:pos + 2])[0]


def publish(topic, payload, qos=0, packet_id=1):
    body = mqtt_str(topic) + (struct.pack("!H", packet_id) if qos else b"") + payload
    return frame(0x30 | (qos << 1), body)


GOOD_CONNECT = connect()
CONNACK = b"\x20\x02\x00\x00"
# Every field present: user name, password, a will of QoS 1 retained, clean session.
FULL_CONNECT = connect(flags=0xee)

# name: (a good CONNECT first, the hostile bytes); the server answers none of them.
ROWS = {
    "claim-268435455": (True, b"\x30\xff\xff\xff\x7f"),
    "fifth-length-byte": (True, b"\x30\x80\x80\x80\x80\x01"),
    "subscribe-filter-ends-packet": (True, frame(0x82, struct.pack("!H", 7) + mqtt_str(b"a/#"))),
    "publish-qos2": (True, publish(b"a", b"x", qos=2)),
    "publish-qos3": (True, frame(0x36, mqtt_str(b"a") + struct.pack("!H", 1) + b"x")),
    "topic-256-bytes": (True, publish(b"t" * 256, b"x")),
    "qos1-without-identifier": (True, frame(0x32, mqtt_str(b"a"))),
    "connect-protocol-name-past-frame": (False, stretch(FULL_CONNECT, 0)),
    "connect-client-id-past-frame": (False, stretch(FULL_CONNECT, 1)),
    "connect-will-topic-past-frame": (False, stretch(FULL_CONNECT, 2)),
    "connect-will-message-past-frame": (False, stretch(FULL_CONNECT, 3)),
    "connect-user-name-past-frame": (False, stretch(FULL_CONNECT, 4)),
    "connect-password-past-frame": (False, stretch(FULL_CONNECT, 5)),
    "first-frame-publish": (False, publish(b"a", b"x")),
    "first-frame-mqisdp": (False, frame(0x10, mqtt_str(b"MQIsdp") + b"\x03\x82\x00\x3c" + mqtt_str(b"c"))),
    "garbage-after-disconnect": (True, b"\xe0\x00" + b"\x00\x00\xff\xff"),
}


def read_until_closed(s):
    got = b""
    while True:
        part = s.recv(4096)
        if not part:
            return got
        got += part


def run(port, name):
    pre_connect, hostile = ROWS[name]
    with socket.create_connection(("127.0.0.1", port), timeout=WAIT) as s:
        if pre_connect:
            s.sendall(GOOD_CONNECT)
            ack = b""
            while len(ack) < len(CONNACK):
                part = s.recv(len(CONNACK) - len(ack))
                if not part:
                    break
                ack += part
            if ack != CONNACK:
                print(f"FAIL {name}: CONNACK {ack.hex()}")
                return 1
        s.sendall(hostile)
        # Our end of the stream is done: the server's close need not wait out its probe for more.
        s.shutdown(socket.SHUT_WR)
        try:
            got = read_until_closed(s)
        except socket.timeout:
            print(f"FAIL {name}: still open after {WAIT} s")
            return 1
        except ConnectionResetError:
            got = b""
    if got:
        print(f"FAIL {name}: answered {got.hex()}")
        return 1
    print(f"ok   {name}")
    return 0


def hold_half_frames(port, count):
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    if soft < count + 64:
        resource.setrlimit(resource.RLIMIT_NOFILE, (min(hard, count + 64), hard))
    half = GOOD_CONNECT[:len(GOOD_CONNECT) // 2]
    held = []
    for _ in range(count):
        s = socket.create_connection(("127.0.0.1", port), timeout=WAIT)
        s.sendall(half)
        held.append(s)
    print(f"ready {len(held)}", flush=True)
    while True:
        signal.pause()


if __name__ == "__main__":
    if sys.argv[1:] == ["--list"]:
        print("\n".join(ROWS))
        sys.exit(0)
    if sys.argv[2] == "--half":
        hold_half_frames(int(sys.argv[1]), int(sys.argv[3]))
    sys.exit(run(int(sys.argv[1]), sys.argv[2]))
