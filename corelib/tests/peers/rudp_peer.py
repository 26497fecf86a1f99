#!/usr/bin/env python3
"""An independent "RUDP" peer for the reliable-UDP tests, written from the wire tables alone.

Standard library only. As a client it runs one named case against an echoing server endpoint and
exits 0 when every check held; as a server it prints its port, answers one connection, echoes
every message and exits 0 after the client's FIN.

  rudp_peer.py client --port P --case NAME [--packets DIR]
  rudp_peer.py server [--version V]
  rudp_peer.py seeds --packets DIR   (fuzz seeds: framed packet sequences, session 0x4FFE = the
                                      server's connection)
"""
import argparse
import os
import socket
import struct
import sys
import time

MAGIC = b"RUDP"
DATA, INIT, INIT_ACK, ACK, FIN, FIN_RET, HEART, HEART_RET, RESET = 0, 1, 2, 4, 5, 6, 7, 8, 9
SINGLE, BEGIN, MIDDLE, END = 3, 0, 1, 2
ONE = 1438
HEAD = {0: 16, 1: 20, 2: 28}
RESEND = 0.3
WINDOW = 16
SAVED = None  # folder where every packet sent is also written (seed corpus)


class Fail(Exception):
    pass


def check(cond, what):
    if not cond:
        raise Fail(what)


def save(pkt):
    global SAVED
    if SAVED:
        n = len(os.listdir(SAVED))
        with open(os.path.join(SAVED, "pkt%04d" % n), "wb") as f:
            f.write(pkt)


def common(head_len, ptype, top, session, word):
    return MAGIC + struct.pack(">BBHI", head_len, (top << 6) | ptype, session, word)


def parse(pkt):
    if len(pkt) < 12 or pkt[:4] != MAGIC:
        return None
    head_len, b5, session, word = struct.unpack(">BBHI", pkt[4:12])
    return {"head": head_len, "type": b5 & 0x3F, "top": b5 >> 6, "session": session, "word": word}


class Conn:
    """One connection seen from this side: sequence numbers, acknowledgements, reassembly."""

    def __init__(self, sock, addr, version, own, remote, code):
        self.sock, self.addr, self.version = sock, addr, version
        self.own, self.remote, self.code = own, remote, code
        self.next_seq = 0
        self.need = 0
        self.unacked = {}  # seq -> [packet, last send time]
        self.held = {}  # seq -> (position, payload)
        self.messages = []
        self.controls = []  # control packets other than ACK, as parsed

    def send_raw(self, pkt):
        save(pkt)
        self.sock.sendto(pkt, self.addr)

    def data_packet(self, seq, pos, payload):
        pkt = common(HEAD[self.version], DATA, pos, self.remote, seq)
        pkt += struct.pack(">I", (self.need - 1) & 0xFFFFFFFF)
        if self.version >= 1:
            pkt += struct.pack(">HBB", self.own, self.version, 0)
        if self.version == 2:
            pkt += struct.pack(">II", self.code, 0)
        return pkt + payload

    def control(self, ptype, session=None):
        self.send_raw(common(12, ptype, self.version, self.remote if session is None else session, self.code))

    def queue(self, msg):
        blocks = [msg[i:i + ONE] for i in range(0, len(msg), ONE)] or [b""]
        out = []
        for i, b in enumerate(blocks):
            pos = SINGLE if len(blocks) == 1 else BEGIN if i == 0 else END if i == len(blocks) - 1 else MIDDLE
            out.append((self.next_seq, pos, b))
            self.next_seq = (self.next_seq + 1) & 0xFFFFFFFF
        return out

    def send_msg(self, msg, deadline=20.0):
        pending = self.queue(msg)
        end = time.monotonic() + deadline
        while pending or self.unacked:
            while pending and len(self.unacked) < WINDOW:
                seq, pos, b = pending.pop(0)
                pkt = self.data_packet(seq, pos, b)
                self.unacked[seq] = [pkt, time.monotonic()]
                self.send_raw(pkt)
            self.pump(0.05)
            now = time.monotonic()
            for entry in self.unacked.values():
                if now - entry[1] > RESEND:
                    entry[1] = now
                    self.send_raw(entry[0])
            check(now < end, "send timed out")

    def recv_msg(self, deadline=20.0):
        end = time.monotonic() + deadline
        while not self.messages:
            check(time.monotonic() < end, "receive timed out")
            self.pump(0.1)
        return self.messages.pop(0)

    def pump(self, timeout):
        self.sock.settimeout(timeout)
        try:
            pkt, src = self.sock.recvfrom(65536)
        except socket.timeout:
            return
        h = parse(pkt)
        if h is None or src != self.addr:
            return
        if h["type"] == DATA:
            self.on_data(h, pkt)
        elif h["type"] == ACK and len(pkt) >= 20:
            cum = struct.unpack(">I", pkt[16:20])[0]
            for seq in list(self.unacked):
                if ((cum - seq) & 0xFFFFFFFF) < 0x80000000:
                    del self.unacked[seq]
        elif h["type"] == HEART:
            self.control(HEART_RET)
            self.controls.append(h)
        elif h["type"] == FIN:
            self.control(FIN_RET)
            self.controls.append(h)
        else:
            self.controls.append(h)

    def on_data(self, h, pkt):
        check(h["head"] == HEAD[self.version], "data head %d for version %d" % (h["head"], self.version))
        check(h["session"] == self.own, "data for session %d" % h["session"])
        if self.version == 2:
            check(struct.unpack(">I", pkt[20:24])[0] == self.code, "recognise code in the data head")
        seq = h["word"]
        if ((seq - self.need) & 0xFFFFFFFF) < 0x80000000 and seq not in self.held:
            self.held[seq] = (h["top"], pkt[h["head"]:])
        while self.need in self.held:
            self.need = (self.need + 1) & 0xFFFFFFFF
        self.send_raw(common(12, ACK, self.version, self.remote, self.code) +
                      struct.pack(">II", seq, (self.need - 1) & 0xFFFFFFFF))
        self.reassemble()

    def reassemble(self):
        start = min(self.held, default=None)
        while start is not None:
            parts, seq = [], start
            while seq in self.held and ((self.need - seq) & 0xFFFFFFFF) < 0x80000000 and seq != self.need:
                pos, payload = self.held[seq]
                parts.append(payload)
                if pos in (SINGLE, END):
                    break
                seq += 1
            else:
                return
            for s in range(start, seq + 1):
                del self.held[s]
            self.messages.append(b"".join(parts))
            start = min(self.held, default=None)


def open_sock():
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.bind(("127.0.0.1", 0))
    return s


def recv_type(sock, ptype, timeout=1.0):
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        sock.settimeout(max(end - time.monotonic(), 0.01))
        try:
            pkt, _ = sock.recvfrom(65536)
        except socket.timeout:
            break
        h = parse(pkt)
        if h and h["type"] == ptype:
            return h, pkt
    return None, None


def handshake(port, version=2, session=0x0101, code=0x5A5A0001, sock=None):
    sock = sock or open_sock()
    init = common(12, INIT, version, session, code)
    save(init)
    sock.sendto(init, ("127.0.0.1", port))
    h, pkt = recv_type(sock, INIT_ACK)
    check(h is not None, "no INIT-ACK")
    check(len(pkt) == 14, "INIT-ACK of %d bytes" % len(pkt))
    check(h["session"] == session and h["word"] == code, "INIT-ACK names the attempt")
    check(h["top"] == min(version, 2), "negotiated version %d" % h["top"])
    server = struct.unpack(">H", pkt[12:14])[0]
    return Conn(sock, ("127.0.0.1", port), h["top"], session, server, code)


def case_versions(port):
    for v in (0, 1, 2):
        c = handshake(port, version=v, session=0x0200 + v, code=0x1000 + v)
        msg = bytes(range(256)) * 9
        c.send_msg(msg)
        check(c.recv_msg() == msg, "echo at version %d" % v)  # on_data checked the head length


def case_sizes(port):
    c = handshake(port)
    for n in (1, ONE, ONE + 1, 2 * ONE, 2 * ONE + 1, 128 * ONE):
        msg = os.urandom(n)
        c.send_msg(msg)
        check(c.recv_msg() == msg, "echo of %d bytes" % n)


def case_rate(port):
    socks = [open_sock() for _ in range(60)]
    for i, s in enumerate(socks):
        s.sendto(common(12, INIT, 2, 0x0300 + i, 0x2000 + i), ("127.0.0.1", port))
    answered = sum(1 for s in socks if recv_type(s, INIT_ACK, 0.3)[0] is not None)
    check(answered == 41, "%d INIT-ACKs; 20, then the window's opener and 20 more" % answered)


def case_repeat_init(port):
    sock = open_sock()
    init = common(12, INIT, 2, 0x0400, 0x3000)
    sock.sendto(init, ("127.0.0.1", port))
    first, pkt1 = recv_type(sock, INIT_ACK)  # taken as lost
    check(first is not None, "no first INIT-ACK")
    sock.sendto(init, ("127.0.0.1", port))
    again, pkt2 = recv_type(sock, INIT_ACK)
    check(again is not None, "a repeated INIT after a lost INIT-ACK is answered again")
    check(pkt1 == pkt2, "by the same connection")


def case_new_code(port):
    sock = open_sock()
    a = handshake(port, session=0x0500, code=0x4000, sock=sock)
    b = handshake(port, session=0x0500, code=0x4001, sock=sock)
    check(a.remote != b.remote, "a new code makes a new connection")
    msg = b"after the new code"
    b.send_msg(msg)
    check(b.recv_msg() == msg, "the new connection works")
    print(a.remote)


def case_fin(port):
    c = handshake(port, session=0x0600, code=0x5000)
    c.control(FIN)
    h, pkt = recv_type(c.sock, FIN_RET)
    check(h is not None, "no FIN-RET")
    check(h["session"] == 0x0600 and h["word"] == 0x5000, "FIN-RET carries the old session and the code")
    check(recv_type(c.sock, FIN_RET, 0.3)[0] is None, "exactly one FIN-RET")


def case_heart(port):
    c = handshake(port, session=0x0700, code=0x6000)
    c.control(HEART)
    h, _ = recv_type(c.sock, HEART_RET)
    check(h is not None and h["word"] == 0x6000, "HEART answered by HEART-RET")


def serve(version):
    sock = open_sock()
    print(sock.getsockname()[1], flush=True)
    sock.settimeout(10)
    while True:
        pkt, src = sock.recvfrom(65536)
        h = parse(pkt)
        if h and h["type"] == INIT:
            break
    v = min(h["top"], version)
    conn = Conn(sock, src, v, 7, h["session"], h["word"])
    sock.sendto(common(12, INIT_ACK, v, h["session"], h["word"]) + struct.pack(">H", 7), src)
    end = time.monotonic() + 60
    while time.monotonic() < end:
        conn.pump(0.1)
        while conn.messages:
            conn.send_msg(conn.messages.pop(0))
        if any(c["type"] == FIN for c in conn.controls):
            check(all(c["word"] == conn.code for c in conn.controls), "controls carry the code")
            return
    raise Fail("no FIN")


def write_seeds(folder):
    """Packet sequences of whole exchanges, each datagram framed by a big-endian u16 length."""
    os.makedirs(folder, exist_ok=True)
    server = 0x4FFE
    for v in (0, 1, 2):
        c = Conn(None, None, v, 0x0101, server, 0x5A5A0001)
        msgs = [common(12, INIT, v, 0x0101, 0x5A5A0001)]
        for seq, pos, b in c.queue(bytes(range(200)) * 10):
            msgs.append(c.data_packet(seq, pos, b))
        c.need = 1
        msgs.append(common(12, ACK, v, server, 0x5A5A0001) + struct.pack(">II", 0, 0))
        msgs.append(common(12, HEART, v, server, 0x5A5A0001))
        msgs.append(common(12, FIN, v, server, 0x5A5A0001))
        msgs.append(common(12, RESET, v, server, 0))
        with open(os.path.join(folder, "exchange_v%d" % v), "wb") as f:
            for m in msgs:
                f.write(struct.pack(">H", len(m)) + m)


def main():
    global SAVED
    ap = argparse.ArgumentParser()
    ap.add_argument("mode", choices=("client", "server", "seeds"))
    ap.add_argument("--port", type=int)
    ap.add_argument("--case")
    ap.add_argument("--version", type=int, default=2)
    ap.add_argument("--packets")
    args = ap.parse_args()
    SAVED = args.packets
    try:
        if args.mode == "seeds":
            write_seeds(args.packets)
        elif args.mode == "server":
            serve(args.version)
        else:
            globals()["case_" + args.case](args.port)
    except Fail as e:
        print("FAIL: %s" % e, file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
