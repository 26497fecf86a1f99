#!/usr/bin/env python3
"""The far end of the discovery tests, run inside the peer namespace.

  probe_peer.py listen OUTDIR IFADDR   writes OUTDIR/ready, then the first datagram of the
                                       239.255.255.250 group on ports 37020 and 35090 into
                                       OUTDIR/37020 and OUTDIR/35090 (gives up after 20 s)
  probe_peer.py sources OUTDIR IFADDR  writes OUTDIR/ready, then appends the source address of
                                       every datagram on 37020 to OUTDIR/sources (for 60 s)
  probe_peer.py send IFADDR PORT TEXT  sends TEXT to 239.255.255.250:PORT from IFADDR
  probe_peer.py burst IFADDR COUNT     sends COUNT datagrams of burst_datagram() to
                                       239.255.255.250:37020 from IFADDR as fast as it can
  probe_peer.py hostile OUTDIR IFADDR  writes OUTDIR/ready, learns the host's subnet socket from
                                       the first datagram on port 37019, sends every file of
                                       OUTDIR/payloads (in name order) to the group on 37020
                                       and 35090 and to that socket, then OUTDIR/hello to the
                                       group on 37020 and OUTDIR/subnet to the socket, and
                                       writes OUTDIR/done (gives up after 30 s)
"""
import os
import select
import socket
import struct
import sys
import time

GROUP = "239.255.255.250"


def group_socket(port, ifaddr):
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    s.bind(("0.0.0.0", port))
    mreq = struct.pack("4s4s", socket.inet_aton(GROUP), socket.inet_aton(ifaddr))
    s.setsockopt(socket.IPPROTO_IP, socket.IP_ADD_MEMBERSHIP, mreq)
    return s


def listen(outdir, ifaddr):
    socks = {group_socket(port, ifaddr): port for port in (37020, 35090)}
    open(os.path.join(outdir, "ready"), "w").close()
    deadline = time.monotonic() + 20
    while socks and time.monotonic() < deadline:
        ready, _, _ = select.select(list(socks), [], [], 0.5)
        for s in ready:
            data = s.recv(65535)
            path = os.path.join(outdir, str(socks.pop(s)))
            with open(path + ".part", "wb") as f:
                f.write(data)
            os.rename(path + ".part", path)
    return 0 if not socks else 1


def sources(outdir, ifaddr):
    s = group_socket(37020, ifaddr)
    s.settimeout(0.5)
    open(os.path.join(outdir, "ready"), "w").close()
    deadline = time.monotonic() + 60
    with open(os.path.join(outdir, "sources"), "a") as out:
        while time.monotonic() < deadline:
            try:
                _, (addr, _) = s.recvfrom(65535)
            except socket.timeout:
                continue
            out.write(addr + "\n")
            out.flush()
    return 0


def send(ifaddr, port, text):
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_IF, socket.inet_aton(ifaddr))
    s.sendto(text.encode(), (GROUP, int(port)))
    return 0


# Datagram i of a burst: a numbered head and binary bytes (zeros too), from empty to the largest
# datagram the SDK takes whole (10239 bytes).
BURST_SIZES = (0, 50, 1400, 8000, 10239)


def burst_datagram(i):
    head = b"relay-burst %d:" % i
    size = max(0, BURST_SIZES[i % len(BURST_SIZES)] - len(head))
    return head + bytes((i + j) % 256 for j in range(size))


def burst(ifaddr, count):
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_IF, socket.inet_aton(ifaddr))
    s.setsockopt(socket.SOL_SOCKET, socket.SO_SNDBUF, 8 << 20)
    for i in range(int(count)):
        s.sendto(burst_datagram(i), (GROUP, 37020))
    return 0


def hostile(outdir, ifaddr):
    inquiries = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    inquiries.bind((ifaddr, 37019))
    inquiries.settimeout(30)
    out = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    out.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_IF, socket.inet_aton(ifaddr))
    out.setsockopt(socket.SOL_SOCKET, socket.SO_SNDBUF, 1 << 20)
    open(os.path.join(outdir, "ready"), "w").close()
    _, subnet = inquiries.recvfrom(65535)

    def read(name):
        with open(os.path.join(outdir, name), "rb") as f:
            return f.read()

    folder = os.path.join(outdir, "payloads")
    for name in sorted(os.listdir(folder)):
        data = read(os.path.join("payloads", name))
        for dest in ((GROUP, 37020), (GROUP, 35090), subnet):
            out.sendto(data, dest)
    out.sendto(read("hello"), (GROUP, 37020))
    inquiries.sendto(read("subnet"), subnet)
    open(os.path.join(outdir, "done"), "w").close()
    return 0


if __name__ == "__main__":
    mode = sys.argv[1]
    if mode == "listen":
        sys.exit(listen(*sys.argv[2:4]))
    if mode == "sources":
        sys.exit(sources(*sys.argv[2:4]))
    if mode == "hostile":
        sys.exit(hostile(*sys.argv[2:4]))
    if mode == "burst":
        sys.exit(burst(*sys.argv[2:4]))
    sys.exit(send(*sys.argv[2:5]))
