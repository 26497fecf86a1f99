#!/usr/bin/env python3
"""An independent device-side peer of the secure link, written from the packet tables alone.

Its RSA and AES come from python3-cryptography; each step is also checked once against the
openssl command-line tool. It talks to a listening secure link either with plain "QDSC"/"QDBD"
datagrams or over its own reliable-UDP connection (tests/peers/rudp_peer.py), runs one named case
and exits 0 when every check held.

  secure_peer.py --port P --carriage dgram|rudp --case NAME [--bind ADDR] [--src-port N]

The owner on the other side answers by the data it gets (see secure_link_test.cpp): an echo of
what it was given, "DESTROY", "KEEP", "CLOSE", "TOKEN16", "TOKEN17" and "TOKENNULL" as commands.
"""
import argparse
import os
import socket
import struct
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import rudp_peer  # noqa: E402

from cryptography.hazmat.primitives import serialization  # noqa: E402
from cryptography.hazmat.primitives.asymmetric import padding, rsa  # noqa: E402
from cryptography.hazmat.primitives.ciphers import Cipher, algorithms, modes  # noqa: E402

HELLO_LEN, DATA_LEN, INFO_LEN = 36, 52, 280
KEY = bytes(range(0x10, 0x20))
TOKEN = b"device-token-016"
WAIT = 20.0


class Fail(Exception):
    pass


def check(cond, what):
    if not cond:
        raise Fail(what)


# ---- crypto ----

def ecb(key, data, encrypt=True):
    c = Cipher(algorithms.AES(key), modes.ECB())
    op = c.encryptor() if encrypt else c.decryptor()
    return op.update(data) + op.finalize()


def check_nist():
    # SP 800-38A F.1.1, ECB-AES128.Encrypt, first two blocks.
    key = bytes.fromhex("2b7e151628aed2a6abf7158809cf4f3c")
    plain = bytes.fromhex("6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e51")
    want = bytes.fromhex("3ad77bb40d7a3660a89ecaf32466ef97f5d3d58503b9699de785895a96fdbaaf")
    check(ecb(key, plain) == want, "AES-ECB matches NIST SP 800-38A F.1.1")


def padded(data):
    return data + b"\0" * ((len(data) // 16 + 1) * 16 - len(data)) if data else b""


def openssl(args, data):
    return subprocess.run(["openssl"] + args, input=data, stdout=subprocess.PIPE, check=True).stdout


# ---- packets ----

def hello(ptype, words=(1, 1, 1), head_len=HELLO_LEN, block=b""):
    head = b"QDSC" + struct.pack(">HBB", head_len, 1, ptype) + struct.pack(">III", *words) + bytes(16)
    return head + block


def key_exchange(ciphertext, key_len=None, head_len=HELLO_LEN):
    n = len(ciphertext) if key_len is None else key_len
    return hello(1, head_len=head_len, block=struct.pack(">H", n) + ciphertext)


def parse_answer(pkt):
    check(len(pkt) >= HELLO_LEN and pkt[:4] == b"QDSC", "hello answer head")
    check(struct.unpack(">H", pkt[4:6])[0] == HELLO_LEN and pkt[6] == 1, "answer length 36, byte 6 = 1")
    flags = struct.unpack("<III", pkt[8:20])  # the library writes its flags least significant byte first
    status = struct.unpack(">I", pkt[20:24])[0]
    return flags, status


def frame(key, data, token=TOKEN, cmd=7, info=0, seq=1, value=0x0A0B0C0D, sender=0x5A, plain_len=None,
          length=None, head_len=DATA_LEN):
    body = padded(data)
    tok = token.ljust(16, b"\0")
    if key:
        body = ecb(key, body) if body else body
        tok = ecb(key, tok)
    length = DATA_LEN + len(body) if length is None else length
    plain_len = len(data) if plain_len is None else plain_len
    head = b"QDBD" + struct.pack(">IIBBBBIIII", length, plain_len, head_len, 4, info, sender, seq, 0, cmd, value)
    return head + tok + bytes(4) + body


def parse_frame(key, pkt):
    check(len(pkt) >= DATA_LEN and pkt[:4] == b"QDBD", "data head, got %r" % pkt[:8])
    length, plain = struct.unpack(">II", pkt[4:12])
    check(length == len(pkt) and pkt[12] == DATA_LEN and pkt[13] == 4, "head length fields")
    body = pkt[DATA_LEN:]
    check(len(body) == len(padded(bytes(plain))), "padding adds a whole block to an aligned length")
    token = ecb(key, pkt[32:48], False) if key else pkt[32:48]
    data = ecb(key, body, False)[:plain] if (key and body) else body[:plain]
    return {"cmd": struct.unpack(">I", pkt[24:28])[0], "token": token, "data": data, "len": len(pkt)}


# ---- carriages ----

class Dgram:
    def __init__(self, port, bind="127.0.0.1", src_port=0):
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.sock.bind((bind, src_port))
        self.dst = ("127.0.0.1", port)

    def send(self, pkt):
        self.sock.sendto(pkt, self.dst)

    def recv(self, timeout=WAIT):
        self.sock.settimeout(timeout)
        try:
            return self.sock.recvfrom(65536)[0]
        except socket.timeout:
            raise Fail("no answer")


class Rudp:
    def __init__(self, port, **_):
        # A code of its own: the same code from the same address would stand for the same link.
        self.conn = rudp_peer.handshake(port, code=struct.unpack(">I", os.urandom(4))[0] | 1)

    def send(self, pkt):
        self.conn.send_msg(pkt)

    def recv(self, timeout=WAIT):
        try:
            return self.conn.recv_msg(timeout)
        except rudp_peer.Fail as e:
            raise Fail(str(e))


# ---- steps ----

def get_public_key(c, use_openssl=False):
    c.send(hello(0))
    pkt = c.recv()
    flags, status = parse_answer(pkt)
    check(status == 100 and flags == (1, 1, 1), "capability answer: status 100, flags %r" % (flags,))
    check(len(pkt) == 178, "capability answer of %d bytes, not 178" % len(pkt))
    der = pkt[38:]
    check(struct.unpack(">H", pkt[36:38])[0] == len(der) == 140, "u16 length and a 140-byte key")
    pub = serialization.load_der_public_key(der)
    check(isinstance(pub, rsa.RSAPublicKey) and pub.key_size == 1024, "an RSA-1024 PKCS#1 key")
    if use_openssl:
        pem = openssl(["rsa", "-RSAPublicKey_in", "-inform", "DER", "-pubout"], der)
        check(serialization.load_pem_public_key(pem).public_numbers() == pub.public_numbers(),
              "openssl reads the same key")
        return pub, pem
    return pub, None


def exchange_key(c, use_openssl=False):
    pub, pem = get_public_key(c, use_openssl)
    if pem:
        with tempfile.NamedTemporaryFile(suffix=".pem") as f:
            f.write(pem)
            f.flush()
            ct = openssl(["pkeyutl", "-encrypt", "-pubin", "-inkey", f.name, "-pkeyopt",
                          "rsa_padding_mode:pkcs1"], KEY)
    else:
        ct = pub.encrypt(KEY, padding.PKCS1v15())
    check(len(ct) == 128, "RSA-1024 ciphertext")
    c.send(key_exchange(ct))
    _, status = parse_answer(c.recv())
    check(status == 200, "key accepted with status 200, got %d" % status)
    return pub


def roundtrip(c, key, data, **kw):
    c.send(frame(key, data, **kw))
    return parse_frame(key, c.recv())


# ---- cases ----

def case_exchange(c, args):
    check_nist()
    exchange_key(c, use_openssl=args.carriage == "dgram")
    data = bytes(range(16))
    pkt = frame(KEY, data)
    if args.carriage == "dgram":
        want = openssl(["enc", "-aes-128-ecb", "-nopad", "-K", KEY.hex()], padded(data))
        check(pkt[DATA_LEN:] == want, "openssl enc gives the same data part")
    c.send(pkt)
    answer = c.recv()
    check(len(answer) == 52 + 32, "16 bytes go out as 52 + 32, got %d" % len(answer))
    got = parse_frame(KEY, answer)
    check(got["data"] == data and got["token"] == TOKEN, "echo and learned token")
    got = roundtrip(c, KEY, b"")
    check(got["len"] == 52 and got["data"] == b"", "0 bytes go out as the bare head")
    big = os.urandom(1000)
    check(roundtrip(c, KEY, big)["data"] == big, "1000 bytes both ways")
    # The info flag puts the 280-byte block in front of the data; a heartbeat is command 4097.
    got = roundtrip(c, KEY, b"beat", info=1, cmd=4097, seq=0x01020304)
    d = got["data"]
    check(len(d) == INFO_LEN + 4 and d[:4] == b"QDBD" and d[INFO_LEN:] == b"beat", "info block and data")
    check(struct.unpack("<III", d[4:16]) == (4097, 0x01020304, 0x0A0B0C0D), "command, sequence, value")
    check(d[20] == 0x5A and d[21:33] == TOKEN[:12] and d[277] == 4, "sender byte, token, version")


def case_nokey(c, args):
    c.send(hello(0, words=(1, 0, 1)))
    pkt = c.recv()
    flags, status = parse_answer(pkt)
    check(len(pkt) == 36 and status == 100, "one capability bit clear: bare head, status 100")
    pub, _ = get_public_key(c)
    c.send(key_exchange(pub.encrypt(KEY, padding.PKCS1v15()) + b"\0", key_len=129))
    check(parse_answer(c.recv())[1] == 100, "a key of 129 bytes is refused")
    c.send(key_exchange(bytes([0x55]) * 128))
    check(parse_answer(c.recv())[1] == 100, "a ciphertext OpenSSL rejects is refused")
    # Still plain: the frame is read without a key and the echo goes out as it is, unframed.
    c.send(frame(None, b"plain data"))
    check(c.recv() == b"plain data", "the session stays plain")


def case_token(c, args):
    exchange_key(c)
    check(roundtrip(c, KEY, b"first")["token"] == TOKEN, "token learned from the first head")
    other = b"someone-else-016"
    c.send(frame(KEY, b"wrong token", token=other))
    got = roundtrip(c, KEY, b"right token")
    check(got["data"] == b"right token", "a head with another token is dropped, got %r" % got["data"])
    for command, want in ((b"TOKENNULL", b"SETINFO 1"), (b"TOKEN17", b"SETINFO 2"), (b"TOKEN16", b"SETINFO 0")):
        got = roundtrip(c, KEY, command)
        check(got["data"] == want, "%r gives %r, got %r" % (command, want, got["data"]))
    check(got["token"] == b"0123456789abcdef", "the set token goes out")
    got = roundtrip(c, KEY, b"after set", token=b"0123456789abcdef")
    check(got["data"] == b"after set", "the set token is the one checked")


def case_keep(c, args):
    exchange_key(c)
    check(roundtrip(c, KEY, b"KEEP")["data"] == b"KEEP", "kept alive")


def case_silent(c, args):
    """Connects and says nothing: the link expires without ever making a session."""


def case_ping(c, args):
    c.send(frame(None, b"ping"))
    check(c.recv() == b"ping", "plain echo")


def case_destroy(c, args):
    exchange_key(c)
    c.send(frame(KEY, b"DESTROY"))


def case_close(c, args):
    exchange_key(c)
    check(roundtrip(c, KEY, b"CLOSE")["data"] == b"CLOSE 1", "close from inside the callback")


def case_plain(c, args):
    c.send(b"HELLO")
    check(c.recv() == b"PLAIN:HELLO", "a datagram that is no secure packet reaches the owner with handle -1")


def case_hostile(c, args):
    probe_no = [0]

    def probe(what):
        probe_no[0] += 1
        data = b"probe %d" % probe_no[0]
        c.send(frame(None, data))
        check(c.recv() == data, "after %s the session still works" % what)

    short = hello(0)[:35]
    rows = [
        ("a hello of 35 bytes", short, 36),
        ("a head length past the packet", key_exchange(bytes(128), head_len=0xFFFF), 36),
        ("a key length past the packet", key_exchange(bytes(16), key_len=200), 36),
        ("QDBD of 51 bytes", frame(None, b"")[:51], None),
        ("dwLength below the head length", frame(None, b"x", length=40), None),
        ("dwLength past the packet", frame(None, b"x", length=5000), None),
        ("a plain length above dwLength - 52", frame(None, b"x" * 16, plain_len=33), None),
        ("a plain length of 0xFFFFFF00", frame(None, b"x", plain_len=0xFFFFFF00), None),
        ("157 heads with the info flag", b"".join(frame(None, b"", info=1, cmd=9) for _ in range(157)), None),
    ]
    probe("the first packet")
    for what, pkt, answer in rows:
        try:
            c.send(pkt)
            if answer == 36:
                flags, status = parse_answer(c.recv())
                check(status == 100, "status 100")
            elif answer is not None:
                check(c.recv() == answer, "delivered")
            probe(what)
        except Fail as e:
            raise Fail("%s: %s" % (what, e))
    # 40 bytes stay held behind a complete head as the start of the next; 8160 more do not fit
    # behind them, and the next packet starts clean.
    c.send(frame(None, b"held") + b"Z" * 40)
    check(c.recv() == b"held", "a head with 40 bytes more is delivered")
    c.send(b"QDBD" + bytes(8156))
    probe("Buffer Not Enough")


CARRIAGES = {"dgram": Dgram, "rudp": Rudp}


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--port", type=int, required=True)
    ap.add_argument("--carriage", choices=CARRIAGES, default="dgram")
    ap.add_argument("--case", required=True)
    ap.add_argument("--bind", default="127.0.0.1")
    ap.add_argument("--src-port", type=int, default=0)
    args = ap.parse_args()
    try:
        c = CARRIAGES[args.carriage](args.port, bind=args.bind, src_port=args.src_port)
        globals()["case_" + args.case](c, args)
    except (Fail, rudp_peer.Fail) as e:
        print("FAIL: %s" % e, file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
