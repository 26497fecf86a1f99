"""Linux side: the namespace guard, the interfaces and the sockets."""
import ipaddress
import json
import os
import socket
import struct
import subprocess

GROUP = "239.255.255.250"
PROBE_PORTS = (37020, 35090)
SUBNET_PORT = 37019
ETH_P_DISCOVERY = 0x8033

IP_PKTINFO = 8
SO_RCVBUFFORCE = 33
IP_MULTICAST_ALL = 49
PACKET_ADD_MEMBERSHIP = 1
PACKET_MR_PROMISC = 1


def in_test_netns():
    """True inside a namespace made by the test lab or tests/netns/netns-run.sh (named zt...)."""
    def inode(path):
        try:
            return os.stat(path).st_ino
        except OSError:
            return 0
    own = inode("/proc/self/ns/net")
    if not own or own == inode("/proc/1/ns/net"):
        return False
    try:
        names = os.listdir("/run/netns")
    except OSError:
        return False
    return any(n.startswith("zt") and inode("/run/netns/" + n) == own for n in names)


class Interface:
    """One adapter of the namespace, and the addresses that devices on it claim."""

    def __init__(self, info):
        self.name = info["ifname"]
        self.index = info["ifindex"]
        self.mac = bytes.fromhex(info.get("address", "00:00:00:00:00:00").replace(":", ""))
        v4 = [a for a in info.get("addr_info", []) if a["family"] == "inet"]
        v6 = [a for a in info.get("addr_info", [])
              if a["family"] == "inet6" and a.get("scope") == "global"]
        self.ipv4 = ipaddress.IPv4Interface("%s/%d" % (v4[0]["local"], v4[0]["prefixlen"]))
        self.addresses = [ipaddress.IPv4Address(a["local"]) for a in v4]
        self.ipv6 = (ipaddress.IPv6Interface("%s/%d" % (v6[0]["local"], v6[0]["prefixlen"]))
                     if v6 else None)
        self.ipv6_prefix = self.ipv6.network.prefixlen if self.ipv6 else 64
        self.gateway = self.ipv4.network.network_address + 1

    def device_ipv4(self, i):
        """Devices take consecutive addresses from host number 100 of the adapter's network."""
        return self.ipv4.network.network_address + 100 + i

    def device_ipv6(self, i):
        if not self.ipv6:
            return "::"
        return self.ipv6.network.network_address + 0x1000 + i


def interfaces(names=None):
    """The namespace's adapters that are up and hold an IPv4 address (or those named)."""
    out = subprocess.run(["ip", "-j", "addr", "show"], check=True, capture_output=True, text=True)
    found = []
    for info in json.loads(out.stdout):
        if names and info["ifname"] not in names:
            continue
        if "LOOPBACK" in info.get("flags", []) or "UP" not in info.get("flags", []):
            continue
        if any(a["family"] == "inet" for a in info.get("addr_info", [])):
            found.append(Interface(info))
    return found


def local_ipv4_addresses():
    """Every IPv4 address the namespace holds now (addresses may be added while we run)."""
    out = subprocess.run(["ip", "-j", "-4", "addr", "show"], check=True, capture_output=True,
                         text=True)
    return {a["local"] for i in json.loads(out.stdout) for a in i.get("addr_info", [])}


def _mreqn(group, ifindex):
    return socket.inet_aton(group) + socket.inet_aton("0.0.0.0") + struct.pack("@i", ifindex)


def _udp(port, rcvbuf):
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    try:
        s.setsockopt(socket.SOL_SOCKET, SO_RCVBUFFORCE, rcvbuf)  # past rmem_max, as root
    except PermissionError:
        s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, rcvbuf)
    s.setsockopt(socket.IPPROTO_IP, IP_PKTINFO, 1)
    s.bind(("", port))
    return s


def multicast_receiver(port, ifaces, rcvbuf=4 << 20):
    """Wildcard bind, only the groups joined here, joined on each adapter by index."""
    s = _udp(port, rcvbuf)
    s.setsockopt(socket.IPPROTO_IP, IP_MULTICAST_ALL, 0)
    for iface in ifaces:
        s.setsockopt(socket.IPPROTO_IP, socket.IP_ADD_MEMBERSHIP, _mreqn(GROUP, iface.index))
    return s


def subnet_receiver(rcvbuf=4 << 20):
    return _udp(SUBNET_PORT, rcvbuf)


def multicast_sender(iface, sndbuf=1 << 20):
    """Sends to the groups out of one adapter; our own answers do not come back to us."""
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.setsockopt(socket.SOL_SOCKET, socket.SO_SNDBUF, sndbuf)
    s.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_IF, _mreqn("0.0.0.0", iface.index))
    s.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_LOOP, 0)
    s.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_TTL, 1)
    return s


def receive(sock, size=65536):
    """One datagram with its sender, the address it was sent to and the adapter index."""
    data, anc, _flags, src = sock.recvmsg(size, socket.CMSG_SPACE(12))
    ifindex, dst = 0, None
    for level, kind, raw in anc:
        if level == socket.IPPROTO_IP and kind == IP_PKTINFO and len(raw) >= 12:
            ifindex, _spec, addr = struct.unpack("@i4s4s", raw[:12])
            dst = socket.inet_ntoa(addr)
    return data, src, dst, ifindex


def send_from(sock, data, dest, source):
    """Unicast with the given source address (the address the request was sent to)."""
    pktinfo = struct.pack("@i4s4s", 0, socket.inet_aton(source), b"\0" * 4)
    sock.sendmsg([data], [(socket.IPPROTO_IP, IP_PKTINFO, pktinfo)], 0, dest)


def raw_socket(iface):
    """Discovery frames of one adapter. Frames to the devices' own MACs need promiscuous mode."""
    s = socket.socket(socket.AF_PACKET, socket.SOCK_RAW, socket.htons(ETH_P_DISCOVERY))
    s.bind((iface.name, ETH_P_DISCOVERY))
    mreq = struct.pack("@iHH8s", iface.index, PACKET_MR_PROMISC, 0, b"")
    s.setsockopt(263, PACKET_ADD_MEMBERSHIP, mreq)  # SOL_PACKET
    return s
