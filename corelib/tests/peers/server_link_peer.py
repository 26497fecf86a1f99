#!/usr/bin/env python3
"""Clients of the server-link tests, on loopback only.

  tcp-send HOST PORT HEX [HEX ...]   connect, send each piece as its own write (TCP_NODELAY, a
                                     short pause between), half-close, read until the server
                                     closes, print "DONE"
  udp-send HOST PORT SIZE [SIZE ...] send one datagram of each size (bytes i % 251), print "SENT"
  udp-flood HOST PORT                send 64-byte datagrams until killed
"""
import socket
import sys
import time


def family(host):
    return socket.AF_INET6 if ":" in host else socket.AF_INET


def tcp_send(host, port, pieces):
    s = socket.create_connection((host, port))
    s.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    for i, piece in enumerate(pieces):
        if i:
            time.sleep(0.03)
        s.sendall(bytes.fromhex(piece))
    s.shutdown(socket.SHUT_WR)
    while s.recv(65536):
        pass
    print("DONE", flush=True)


def udp_send(host, port, sizes):
    s = socket.socket(family(host), socket.SOCK_DGRAM)
    s.setsockopt(socket.SOL_SOCKET, socket.SO_SNDBUF, 1 << 20)
    for size in sizes:
        s.sendto(bytes(i % 251 for i in range(size)), (host, port))
    print("SENT", flush=True)


def udp_flood(host, port):
    s = socket.socket(family(host), socket.SOCK_DGRAM)
    print("FLOOD", flush=True)
    while True:
        try:
            s.sendto(b"x" * 64, (host, port))
        except OSError:
            time.sleep(0.001)


def main():
    mode, host, port = sys.argv[1], sys.argv[2], int(sys.argv[3])
    if mode == "tcp-send":
        tcp_send(host, port, sys.argv[4:])
    elif mode == "udp-send":
        udp_send(host, port, [int(a) for a in sys.argv[4:]])
    elif mode == "udp-flood":
        udp_flood(host, port)


if __name__ == "__main__":
    main()
