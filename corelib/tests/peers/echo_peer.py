#!/usr/bin/env python3
"""Peers of the link tests, on loopback or inside a test's own namespaces.

Each mode prints "PORT <n>" once it listens, then serves until killed (or until its work is done):
  tcp-echo [--slow]      echo every connection; --slow reads 512 bytes every 2 ms
  tcp-stall              accept and never read (the sender's buffers fill up)
  tcp-close              accept and close at once
  tcp-reset              accept, wait for one byte, then reset the connection
  udp-echo               echo every datagram to its sender
  mcast-recv GROUP PORT IFADDR   join GROUP on the interface of IFADDR, print the first datagram
  mcast-send GROUP PORT IFADDR TEXT   send TEXT to GROUP from the interface of IFADDR
"""
import socket
import struct
import sys
import threading
import time


def ready(port):
    print(f"PORT {port}", flush=True)


def listener(host, family):
    s = socket.socket(family, socket.SOCK_STREAM)
    s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    s.bind((host, 0))
    s.listen(64)
    return s


def serve_tcp(sock, handler):
    ready(sock.getsockname()[1])
    while True:
        conn, _ = sock.accept()
        threading.Thread(target=handler, args=(conn,), daemon=True).start()


def echo(conn, slow=False):
    with conn:
        while True:
            data = conn.recv(512 if slow else 65536)
            if not data:
                return
            conn.sendall(data)
            if slow:
                time.sleep(0.002)


def stall(conn):
    conn.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
    time.sleep(3600)


def reset(conn):
    conn.recv(1)
    conn.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
    conn.close()


def udp_echo(host, family):
    s = socket.socket(family, socket.SOCK_DGRAM)
    s.bind((host, 0))
    ready(s.getsockname()[1])
    while True:
        data, peer = s.recvfrom(65536)
        s.sendto(data, peer)


def mcast_recv(group, port, ifaddr):
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    s.bind(("0.0.0.0", port))
    s.setsockopt(socket.IPPROTO_IP, socket.IP_ADD_MEMBERSHIP,
                 socket.inet_aton(group) + socket.inet_aton(ifaddr))
    ready(port)
    data, _ = s.recvfrom(65536)
    print(f"DATA {data.decode()}", flush=True)


def mcast_send(group, port, ifaddr, text):
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_IF, socket.inet_aton(ifaddr))
    s.sendto(text.encode(), (group, port))
    ready(port)


def main():
    args = sys.argv[1:]
    mode = args[0]
    host = "::1" if "--ipv6" in args else "127.0.0.1"
    family = socket.AF_INET6 if "--ipv6" in args else socket.AF_INET
    if mode == "tcp-echo":
        serve_tcp(listener(host, family), lambda c: echo(c, "--slow" in args))
    elif mode == "tcp-stall":
        serve_tcp(listener(host, family), stall)
    elif mode == "tcp-close":
        serve_tcp(listener(host, family), lambda c: c.close())
    elif mode == "tcp-reset":
        serve_tcp(listener(host, family), reset)
    elif mode == "udp-echo":
        udp_echo(host, family)
    elif mode == "mcast-recv":
        mcast_recv(args[1], int(args[2]), args[3])
    elif mode == "mcast-send":
        mcast_send(args[1], int(args[2]), args[3], args[4])
    else:
        sys.exit(f"unknown mode {mode}")


if __name__ == "__main__":
    main()
