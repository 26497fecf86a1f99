#!/usr/bin/env python3
"""TLS peers of the link tests on loopback (Python's ssl module).

Each mode prints "PORT <n>" once it listens and serves one connection:
  sni CERT KEY      TLS server; prints "SNI <name>" (the name the client sent, or "-"), then
                    echoes one line
  switch CERT KEY   reads one line in clear text and prints "CLEAR <line>", echoes it; then runs
                    the TLS server handshake on the same socket, prints "TLS <line>" for the next
                    line and echoes it
  flip CERT KEY     TLS server over memory BIOs; reads one line and answers with a record whose
                    last byte (in its authentication tag) is flipped
  burst CERT KEY    TLS server over memory BIOs; reads one line and answers it three times, as
                    three records in one send, then sends nothing more
  sink CERT KEY N   TLS server with a small receive buffer, so that the client's socket fills;
                    reads N blocks of 16384 bytes, block i filled with i in four big-endian bytes,
                    and prints "SINK OK", or "SINK BAD <i>" for the first block out of place
  slow CERT KEY N   TLS server over memory BIOs with a small receive buffer: takes N plain bytes
                    at full speed, then 1024 bytes from the socket every 100 ms until two seconds
                    have passed, then the rest at full speed until the client's end of stream;
                    prints "SLOW <n>", the plain bytes it received
  stall             reads the client's first bytes, sends the first byte of a handshake record
                    400 ms later, then nothing more until the client closes
"""
import socket
import ssl
import sys
import time


def read_line(conn):
    data = b""
    while not data.endswith(b"\n"):
        chunk = conn.recv(1)
        if not chunk:
            break
        data += chunk
    return data


class BioServer:
    """The server handshake over memory BIOs on a connected socket; then the caller moves the bytes."""

    def __init__(self, conn, ctx):
        self.conn = conn
        self.incoming, self.outgoing = ssl.MemoryBIO(), ssl.MemoryBIO()
        self.tls = ctx.wrap_bio(self.incoming, self.outgoing, server_side=True)
        while True:
            try:
                self.tls.do_handshake()
                break
            except ssl.SSLWantReadError:
                self.pump()
                self.feed()
        self.pump()

    def pump(self):
        data = self.outgoing.read()
        if data:
            self.conn.sendall(data)

    def feed(self, size=65536):
        data = self.conn.recv(size)
        if not data:
            raise EOFError
        self.incoming.write(data)


def over_bios(conn, ctx, answer):
    """Reads one line over memory BIOs; answer(tls, line, outgoing) gives the bytes to send in one
    go and the text to print."""
    server = BioServer(conn, ctx)
    line = b""
    while not line.endswith(b"\n"):
        try:
            line += server.tls.read(4096)
        except ssl.SSLWantReadError:
            server.pump()
            server.feed()
    server.pump()
    data, text = answer(server.tls, line, server.outgoing)
    conn.sendall(data)
    print(text, flush=True)
    conn.recv(1)


def flip(tls, line, outgoing):
    tls.write(line)
    record = bytearray(outgoing.read())
    record[-1] ^= 0x01
    return bytes(record), "FLIPPED"


def burst(tls, line, outgoing):
    for _ in range(3):
        tls.write(line)
    return outgoing.read(), "BURST"


def sink(tls, blocks):
    size = 16384
    data = bytearray()
    while len(data) < blocks * size:
        chunk = tls.recv(65536)
        if not chunk:
            break
        data += chunk
    for i in range(blocks):
        if data[i * size:(i + 1) * size] != i.to_bytes(4, "big") * (size // 4):
            print(f"SINK BAD {i}", flush=True)
            return
    print("SINK OK", flush=True)


def slow(conn, ctx, first):
    # Raw bytes from the socket, so that the client's socket fills and drains at the pace.
    server = BioServer(conn, ctx)
    total = 0
    fast_from = time.monotonic() + 2
    try:
        while True:
            paced = total >= first and time.monotonic() < fast_from
            server.feed(1024 if paced else 65536)
            try:
                while True:
                    total += len(server.tls.read(65536))
            except ssl.SSLWantReadError:
                pass
            if paced:
                time.sleep(0.1)
    except (EOFError, ssl.SSLError, OSError):
        pass  # the client's end of stream, also inside a record it never finished
    print(f"SLOW {total}", flush=True)


def stall(conn):
    conn.recv(65536)
    time.sleep(0.4)
    conn.sendall(b"\x16")
    conn.recv(1)


def listen(mode):
    srv = socket.socket()
    if mode in ("sink", "slow"):
        srv.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 1024 if mode == "slow" else 4096)
    srv.bind(("127.0.0.1", 0))
    srv.listen(1)
    print(f"PORT {srv.getsockname()[1]}", flush=True)
    conn, _ = srv.accept()
    return conn


def main():
    mode = sys.argv[1]
    if mode == "stall":
        stall(listen(mode))
        return
    cert, key = sys.argv[2], sys.argv[3]
    ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    ctx.load_cert_chain(cert, key)
    seen = []
    ctx.sni_callback = lambda sock, name, c: seen.append(name)
    conn = listen(mode)
    if mode in ("flip", "burst"):
        over_bios(conn, ctx, flip if mode == "flip" else burst)
        return
    if mode == "slow":
        slow(conn, ctx, int(sys.argv[4]))
        return
    if mode == "switch":
        line = read_line(conn)
        print("CLEAR " + line.decode(errors="replace").rstrip("\n"), flush=True)
        conn.sendall(line)
    tls = ctx.wrap_socket(conn, server_side=True)
    if mode == "sink":
        sink(tls, int(sys.argv[4]))
        return
    if mode == "sni":
        print("SNI " + (seen[0] if seen and seen[0] else "-"), flush=True)
    line = read_line(tls)
    print("TLS " + line.decode(errors="replace").rstrip("\n"), flush=True)
    tls.sendall(line)
    tls.close()


if __name__ == "__main__":
    main()
