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
"""
import socket
import ssl
import sys


def read_line(conn):
    data = b""
    while not data.endswith(b"\n"):
        chunk = conn.recv(1)
        if not chunk:
            break
        data += chunk
    return data


def over_bios(conn, ctx, answer):
    """Runs the server handshake over memory BIOs and reads one line; answer(tls, line, outgoing)
    gives the bytes to send in one go and the text to print."""
    incoming, outgoing = ssl.MemoryBIO(), ssl.MemoryBIO()
    tls = ctx.wrap_bio(incoming, outgoing, server_side=True)

    def pump():
        data = outgoing.read()
        if data:
            conn.sendall(data)

    def feed():
        data = conn.recv(65536)
        if not data:
            raise EOFError
        incoming.write(data)

    while True:
        try:
            tls.do_handshake()
            break
        except ssl.SSLWantReadError:
            pump()
            feed()
    pump()
    line = b""
    while not line.endswith(b"\n"):
        try:
            line += tls.read(4096)
        except ssl.SSLWantReadError:
            pump()
            feed()
    pump()
    data, text = answer(tls, line, outgoing)
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


def main():
    mode, cert, key = sys.argv[1], sys.argv[2], sys.argv[3]
    ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    ctx.load_cert_chain(cert, key)
    seen = []
    ctx.sni_callback = lambda sock, name, c: seen.append(name)
    srv = socket.socket()
    if mode == "sink":
        srv.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
    srv.bind(("127.0.0.1", 0))
    srv.listen(1)
    print(f"PORT {srv.getsockname()[1]}", flush=True)
    conn, _ = srv.accept()
    if mode in ("flip", "burst"):
        over_bios(conn, ctx, flip if mode == "flip" else burst)
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
