#!/usr/bin/env python3
"""The far end of the raw-frame tests, run inside the peer namespace.

  frame_peer.py capture IFACE OUT SECONDS  writes OUT.ready, then appends every discovery frame
                                           (EtherType 0x8033) that comes in on IFACE to OUT as
                                           one hexadecimal line, for SECONDS
  frame_peer.py send IFACE HEX...          sends each frame as given, one after the other
"""
import os
import select
import socket
import sys
import time

ETHERTYPE = 0x8033


def link(iface, proto):
    s = socket.socket(socket.AF_PACKET, socket.SOCK_RAW, socket.htons(proto))
    s.bind((iface, proto))
    return s


def capture(iface, out, seconds):
    s = link(iface, ETHERTYPE)
    with open(out + ".ready", "w"):
        pass
    end = time.monotonic() + seconds
    with open(out, "a") as f:
        while time.monotonic() < end:
            if not select.select([s], [], [], 0.2)[0]:
                continue
            frame, addr = s.recvfrom(4096)
            if addr[2] != socket.PACKET_OUTGOING:
                f.write(frame.hex() + "\n")
                f.flush()


def send(iface, frames):
    # Bound to every EtherType, so frames that are no discovery frames go out as given too.
    s = link(iface, 0x0003)
    for text in frames:
        s.send(bytes.fromhex(text))


def main(argv):
    if len(argv) == 5 and argv[1] == "capture":
        capture(argv[2], argv[3], float(argv[4]))
    elif len(argv) >= 4 and argv[1] == "send":
        send(argv[2], argv[3:])
    else:
        sys.stderr.write(__doc__)
        return 2
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
