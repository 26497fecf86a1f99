#!/usr/bin/env python3
"""One-way delay for the benchmark path on a kernel without netem: two TUN devices in the middle
namespace; policy routing sends what arrives from either veth into one of them, and this relay
writes each packet into the other device after the delay, from where the kernel forwards it on.
Optional jitter is drawn from a seeded generator; packets keep their order unless jitter
reorders them.
    delay_relay.py TUN_A TUN_B DELAY_MS [JITTER_MS [SEED]]
Prints "ready" once both devices exist."""
import fcntl
import heapq
import os
import random
import select
import struct
import sys
import time

TUNSETIFF = 0x400454CA
IFF_TUN = 0x0001
IFF_NO_PI = 0x1000


def open_tun(name):
    fd = os.open("/dev/net/tun", os.O_RDWR)
    fcntl.ioctl(fd, TUNSETIFF, struct.pack("16sH", name.encode(), IFF_TUN | IFF_NO_PI))
    os.set_blocking(fd, False)
    return fd


def main():
    name_a, name_b, delay = sys.argv[1], sys.argv[2], float(sys.argv[3]) / 1000
    jitter = float(sys.argv[4]) / 1000 if len(sys.argv) > 4 else 0.0
    rng = random.Random(int(sys.argv[5]) if len(sys.argv) > 5 else 1)
    fd_a, fd_b = open_tun(name_a), open_tun(name_b)
    other = {fd_a: fd_b, fd_b: fd_a}
    print("ready", flush=True)
    pending = []  # (due, order, out fd, packet)
    order = 0
    # Wake-ups come late on a loaded machine: wake that much earlier, as measured so far.
    late = 0.0
    while True:
        timeout = max(0.0, pending[0][0] - late - time.monotonic()) if pending else 1.0
        readable, _, _ = select.select([fd_a, fd_b], [], [], timeout)
        now = time.monotonic()
        for fd in readable:
            while True:
                try:
                    packet = os.read(fd, 65536)
                except BlockingIOError:
                    break
                due = now + delay + (rng.uniform(-jitter, jitter) if jitter else 0.0)
                heapq.heappush(pending, (due, order, other[fd], packet))
                order += 1
        now = time.monotonic()
        while pending and pending[0][0] - late <= now:
            due, _, fd, packet = heapq.heappop(pending)
            late = min(max(late + 0.05 * (now - due), 0.0), delay / 2)
            try:
                os.write(fd, packet)
            except OSError:
                pass  # a full device queue drops, as a link would


if __name__ == "__main__":
    main()
