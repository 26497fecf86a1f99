#!/usr/bin/env python3
"""A SOCKS5 proxy for the link tests (RFC 1928, no authentication sub-negotiation).

It accepts the method 0x00 and the private method 0x80 (0x80 first), takes a CONNECT to an
IPv4, IPv6 or domain address, connects to it, answers and relays both ways. It prints
"PORT <n>" once it listens and "REQUEST <hex>" for each CONNECT request it read.

  --rep N     the REP byte of the reply (default 0); with a non-zero REP nothing is relayed
  --atyp N    the ATYP of the reply: 1 (default), 3 (the name "proxy.test") or 4
"""
import argparse
import select
import socket
import struct
import threading


def read_exactly(conn, n):
    data = b""
    while len(data) < n:
        chunk = conn.recv(n - len(data))
        if not chunk:
            raise ConnectionError("cut")
        data += chunk
    return data


def bound_address(atyp):
    if atyp == 3:
        name = b"proxy.test"
        return bytes([3, len(name)]) + name + struct.pack("!H", 1080)
    if atyp == 4:
        return bytes([4]) + socket.inet_pton(socket.AF_INET6, "::1") + struct.pack("!H", 1080)
    return bytes([1]) + socket.inet_aton("127.0.0.1") + struct.pack("!H", 1080)


def relay(a, b):
    try:
        while True:
            ready, _, _ = select.select([a, b], [], [])
            for s in ready:
                data = s.recv(65536)
                if not data:
                    return
                (b if s is a else a).sendall(data)
    except OSError:
        pass
    finally:
        a.close()
        b.close()


def serve(conn, args):
    try:
        ver, nmethods = read_exactly(conn, 2)
        methods = read_exactly(conn, nmethods)
        method = 0x80 if 0x80 in methods else (0 if 0 in methods else 0xFF)
        conn.sendall(bytes([5, method]))
        if ver != 5 or method == 0xFF:
            return conn.close()
        head = read_exactly(conn, 4)
        atyp = head[3]
        if atyp == 1:
            addr = read_exactly(conn, 4)
            host = socket.inet_ntoa(addr)
        elif atyp == 4:
            addr = read_exactly(conn, 16)
            host = socket.inet_ntop(socket.AF_INET6, addr)
        else:
            n = read_exactly(conn, 1)
            addr = n + read_exactly(conn, n[0])
            host = addr[1:].decode()
        port_bytes = read_exactly(conn, 2)
        print("REQUEST " + (head + addr + port_bytes).hex(), flush=True)
        (port,) = struct.unpack("!H", port_bytes)
        if args.rep != 0:
            conn.sendall(bytes([5, args.rep, 0]) + bound_address(args.atyp))
            return conn.close()
        target = socket.create_connection((host, port), timeout=5)
        target.settimeout(None)
        conn.sendall(bytes([5, 0, 0]) + bound_address(args.atyp))
        relay(conn, target)
    except (OSError, ConnectionError):
        conn.close()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--rep", type=int, default=0)
    parser.add_argument("--atyp", type=int, default=1)
    args = parser.parse_args()
    s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    s.bind(("127.0.0.1", 0))
    s.listen(16)
    print(f"PORT {s.getsockname()[1]}", flush=True)
    while True:
        conn, _ = s.accept()
        threading.Thread(target=serve, args=(conn, args), daemon=True).start()


if __name__ == "__main__":
    main()
