"""devsim answering raw discovery frames (EtherType 0x8033) on the veth pair."""
import hashlib
import ipaddress
import select
import socket
import struct
import time

from lab import DevsimCase
from devsimlib import frames

ETHERTYPE = 0x8033
BROADCAST = b"\xff" * 6


def ones_complement(data):
    """The frame checksum, written out independently of devsim: little-endian words."""
    data = data + b"\0" * (len(data) % 2)
    total = sum(struct.unpack("<%dH" % (len(data) // 2), data))
    while total >> 16:
        total = (total & 0xFFFF) + (total >> 16)
    return (~total & 0xFFFF).to_bytes(2, "big")


class Link:
    """The host end of the veth pair, as a raw socket."""

    def __init__(self):
        self.sock = socket.socket(socket.AF_PACKET, socket.SOCK_RAW, socket.htons(ETHERTYPE))
        self.sock.bind(("h1", ETHERTYPE))
        self.mac = self.sock.getsockname()[4]
        self.seq = 5000

    def send(self, dst, op, ip1=b"\0" * 4, ip2=b"\0" * 4, data=b""):
        self.seq += 1
        data = data.ljust(28, b"\0")
        head = struct.pack(">BBBBIBBBB", 0x21, 2, 1, 66, self.seq, 6, 4, op, 0)
        body = self.mac + socket.inet_aton("10.99.1.1") + dst + ip1 + ip2 + data
        disc = head + ones_complement((head + b"\0\0" + body)[:66]) + body
        self.sock.send(dst + self.mac + struct.pack(">H", ETHERTYPE) + disc)
        return self.seq

    def receive(self, count, timeout=5.0):
        got = []
        deadline = time.monotonic() + timeout
        while len(got) < count:
            left = deadline - time.monotonic()
            if left <= 0 or not select.select([self.sock], [], [], left)[0]:
                raise AssertionError("timed out with %d frames" % len(got))
            frame, addr = self.sock.recvfrom(2048)
            if addr[2] != socket.PACKET_OUTGOING:
                got.append(frame)
        return got


class Frames(DevsimCase):
    def setUp(self):
        super().setUp()
        self.link = Link()

    def tearDown(self):
        self.link.sock.close()
        super().tearDown()

    def check(self, frame):
        """Header fields that every device frame carries; returns (op, sub, seq, data)."""
        self.assertEqual(ETHERTYPE, struct.unpack(">H", frame[12:14])[0])
        self.assertEqual(bytes([0x21, 2, 1]), frame[14:17])
        covered = bytearray(frame[14:14 + frame[17]])
        got = bytes(covered[12:14])
        covered[12:14] = b"\0\0"
        self.assertEqual(ones_complement(bytes(covered)), got)
        self.assertEqual((6, 4), (frame[22], frame[23]))
        self.assertEqual(frame[6:12], frame[28:34])  # the device is the sender
        return frame[24], frame[25], struct.unpack(">I", frame[18:22])[0], frame[52:]

    def test_checksum_example(self):
        self.assertEqual(b"\xfd\xfe", frames.checksum(b"\x01\x02"))
        self.assertEqual(ones_complement(bytes(range(67))), frames.checksum(bytes(range(67))))

    def test_online_at_start_then_inquiry_answers(self):
        self.start("--frames", "--devices", "3")
        online = self.link.receive(3)
        answers = [self.check(f) for f in online]
        self.assertEqual({1}, {a[0] for a in answers})
        self.assertEqual({BROADCAST}, {f[:6] for f in online})
        seq = self.link.send(BROADCAST, 3, data=ipaddress.IPv6Address("fd99:1::1").packed)
        frames_ = self.link.receive(3)
        macs = set()
        for f in frames_:
            op, _sub, fseq, data = self.check(f)
            self.assertEqual((4, seq, self.link.mac, 416), (op, fseq, f[:6], len(f)))
            macs.add(f[6:12])
            self.assertTrue(data[:48].startswith(b"DS-SIM"))
            self.assertEqual((139, 8000), struct.unpack(">II", data[48:56]))
            self.assertEqual(socket.inet_aton("255.255.255.0"), f[48:52])
            ext = data[208:]
            self.assertEqual(156, ext[1])
            block = bytearray(ext)
            block[2:4] = b"\0\0"
            self.assertEqual(ones_complement(bytes(block)), ext[2:4])
            self.assertEqual(socket.inet_aton("10.99.1.1"), ext[4:8])  # the gateway
            self.assertEqual(80, struct.unpack(">H", ext[4 + 68:4 + 70])[0])
        self.assertEqual(3, len(macs))
        self.assertTrue(self.wait_log(lambda e: e["event"] == "frame" and e.get("op") == 3))

    def test_modify_and_reset_by_frame(self):
        self.start("--frames", "--no-hello")
        self.link.send(BROADCAST, 3)
        mac = self.link.receive(1)[0][6:12]
        for password, sub in ((b"wrong", 1), (b"Sim12345", 2)):
            block = bytearray(184)
            block[0:16] = hashlib.md5(password).digest()
            block[16:20] = struct.pack(">I", 8123)
            block[28:30] = bytes([2, 156])
            block[32:36] = socket.inet_aton("10.99.1.254")
            block[30:32] = ones_complement(bytes(block[28:184]))
            seq = self.link.send(mac, 6, socket.inet_aton("10.99.1.50"),
                                 socket.inet_aton("255.255.0.0"), bytes(block))
            op, got_sub, fseq, _ = self.check(self.link.receive(1)[0])
            self.assertEqual((7, sub, seq), (op, got_sub, fseq))
        answers, _ = self.inquire(1)
        self.assertEqual(("10.99.1.50", "255.255.0.0", "8123", "10.99.1.254"),
                         tuple(answers[0][n] for n in ("IPv4Address", "IPv4SubnetMask",
                                                       "CommandPort", "IPv4Gateway")))
        for code, sub in ((b"RC-nope", 2), (b"RC0000000000", 1)):
            seq = self.link.send(mac, 10, data=code)
            op, got_sub, fseq, _ = self.check(self.link.receive(1)[0])
            self.assertEqual((11, sub, seq), (op, got_sub, fseq))

    def test_bad_frames_are_logged(self):
        self.start("--frames", "--no-hello")
        bad = bytearray(BROADCAST + self.link.mac + struct.pack(">H", ETHERTYPE) + bytes(66))
        bad[14] = 0x21
        bad[17] = 66
        self.link.sock.send(bytes(bad))  # checksum left zero
        self.wait_log(lambda e: e.get("error") == "checksum")


if __name__ == "__main__":
    import unittest
    unittest.main()
