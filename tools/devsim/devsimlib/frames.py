"""Raw discovery frames (EtherType 0x8033): the device side.

Frame: Ethernet header, a 38-byte discovery header (magic '!', version, checksum length,
sequence, op and sub-code, checksum, sender MAC and IPv4, target MAC, two IPv4 addresses), then
the op's data block. Numbers go most significant byte first."""
import ipaddress
import selectors
import struct

from . import netio, secure

BROADCAST = b"\xff" * 6
MAGIC = 0x21
HEADER = struct.Struct(">6s6sH BBBB I BB BB H 6s4s6s4s4s")  # Ethernet + discovery header
ETH_LEN = 14
DATA_LEN = 208      # device data block
EXT_LEN = 156       # extended block: its own header of 4 bytes and 152 data bytes
MIN_DATA = 28
PACKET_OUTGOING = 4

OP_ONLINE, OP_INQUIRY, OP_INQUIRY_ANSWER = 1, 3, 4  # the host answers an online frame with 2
OP_MODIFY, OP_MODIFY_ANSWER, OP_RESET, OP_RESET_ANSWER = 6, 7, 10, 11
MODIFY_FAILED, MODIFY_SUCCESS, MODIFY_LOCKED = 1, 2, 3
RESET_SUCCESS, RESET_FAILED = 1, 2


def checksum(data):
    """One's complement of the sum of 16-bit words whose first byte is the low one; the
    result goes most significant byte first."""
    total = 0
    for i in range(0, len(data) - 1, 2):
        total += data[i] | (data[i + 1] << 8)
    if len(data) % 2:
        total += data[-1]
    total = (total & 0xFFFF) + (total >> 16)
    total += total >> 16
    return struct.pack(">H", ~total & 0xFFFF)


def build(dst, src, seq, op, sub, sender_ip, target, ip1, ip2, data, checked_len=None):
    data = data.ljust(MIN_DATA, b"\0")
    covered = checked_len or min(255, 38 + len(data))
    frame = bytearray(HEADER.pack(dst, src, netio.ETH_P_DISCOVERY, MAGIC, 2, 1, covered, seq, 6,
                                  4, op, sub, 0, src, sender_ip, target, ip1, ip2) + data)
    frame[ETH_LEN + 12:ETH_LEN + 14] = checksum(bytes(frame[ETH_LEN:ETH_LEN + covered]))
    return bytes(frame)


def parse(frame):
    """The header fields of a discovery frame, or a text saying why it is not one."""
    if len(frame) < HEADER.size:
        return "short"
    f = dict(zip(("dst", "src", "ethertype", "magic", "version", "one", "covered", "seq",
                  "maclen", "iplen", "op", "sub", "checksum", "sender_mac", "sender_ip", "target",
                  "ip1", "ip2"), HEADER.unpack_from(frame)))
    if f["ethertype"] != netio.ETH_P_DISCOVERY or f["magic"] != MAGIC:
        return "not discovery"
    covered = bytearray(frame[ETH_LEN:ETH_LEN + f["covered"]])
    if len(covered) < 38:
        return "short checksum length"
    covered[12:14] = b"\0\0"
    if checksum(bytes(covered)) != struct.pack(">H", f["checksum"]):
        return "checksum"
    f["data"] = frame[HEADER.size:]
    return f


def ip4(text):
    try:
        return ipaddress.IPv4Address(text).packed
    except ValueError:
        return bytes(4)


def ip6(text):
    try:
        return ipaddress.IPv6Address(text).packed
    except ValueError:
        return bytes(16)


def flag(device, name):
    return 1 if device.elements.get(name) == "true" else 0


def number(device, name, bits=32):
    """A decimal element cut to its field, as the frame carries it unsigned."""
    try:
        return int(device.elements.get(name, "0")) & ((1 << bits) - 1)
    except ValueError:
        return 0


def device_block(device):
    """The 208-byte data block and the 156-byte extended block of a device's answer."""
    e = device.elements
    data = (secure.field(e.get("DeviceSN", ""), 48) +
            struct.pack(">IIII", *(number(device, n) for n in (
                "DeviceType", "CommandPort", "AnalogChannelNum", "DiskNumber"))) +
            b"".join(secure.field(e.get(n, ""), 48)
                     for n in ("SoftwareVersion", "DSPVersion", "BootTime")))
    support = 0x08 | sum(flag(device, n) << b for b, n in enumerate((
        "supportIPv6", "supportModifyIPv6", "DHCPAbility", None, "Encrypt", "ResetAbility",
        "PasswordResetAbility", "SyncIPCPassword")) if n)
    support1 = sum(flag(device, n) << b for b, n in enumerate((
        "PasswordResetModeSecond", "DeviceLock", "SupportGUID", "SupportSecurityQuestion", None,
        "SupportBind", "SupportRestoreInactive", "supportWifiEnhancement")) if n)
    ext = (ip4(e.get("IPv4Gateway")) + ip6(e.get("IPv6Address")) + ip6(e.get("IPv6Gateway")) +
           bytes([number(device, "IPv6MaskLen", 8), support, flag(device, "DHCP"), support1]) +
           bytes(24) + struct.pack(">HH", 0, 0) +
           struct.pack(">HHBBBBI", number(device, "HttpPort", 16),
                       number(device, "DigitalChannelNum", 16), flag(device, "OEMCode"),
                       0 if device.activated else 1, 0, flag(device, "TOVUKCode"),
                       number(device, "DetailOEMCode")) +
           bytes(24) + secure.field(e.get("DeviceDescription", ""), 24) +
           secure.field(e.get("OEMInfo", ""), 24))
    assert len(data) == DATA_LEN and len(ext) == EXT_LEN - 4
    block = bytearray(b"\x02" + bytes([EXT_LEN]) + b"\0\0" + ext)
    block[2:4] = checksum(bytes(block))
    return data + bytes(block)


class FrameResponder:
    """Answers inquiry, modify and reset frames for the simulator's devices."""

    def __init__(self, sim):
        self.sim = sim
        self.seq = 0
        self.socks = {}
        for iface in sim.ifaces:
            sock = netio.raw_socket(iface)
            sock.setblocking(False)
            self.socks[iface.index] = sock
            sim.sel.register(sock, selectors.EVENT_READ, (self.on_readable, None))

    def answer(self, sock, device, dst, seq, op, sub, data=b"", checked_len=None):
        frame = build(dst, device.mac_bytes, seq, op, sub, ip4(device.elements.get("IPv4Address")),
                      dst, ip4(device.elements.get("IPv4Address")),
                      ip4(device.elements.get("IPv4SubnetMask")), data, checked_len)
        sock.send(frame)
        self.sim.sent += 1

    def online(self):
        """Each device announces itself by a broadcast online frame."""
        for sock in self.socks.values():
            for device in self.sim.devices:
                self.seq += 1
                self.answer(sock, device, BROADCAST, self.seq, OP_ONLINE, 0,
                            device_block(device), 38 + DATA_LEN)

    def on_readable(self, sock):
        while True:
            try:
                frame, addr = sock.recvfrom(2048)
            except BlockingIOError:
                return
            if addr[2] != PACKET_OUTGOING:
                self.handle(sock, frame)

    def handle(self, sock, frame):
        f = parse(frame)
        if isinstance(f, str):
            self.sim.log.write("frame", size=len(frame), error=f)
            return
        targets = [d for d in self.sim.devices if not d.silent and
                   (f["dst"] in (BROADCAST, d.mac_bytes))]
        answered = 0
        if f["op"] == OP_INQUIRY:
            for device in targets:
                self.answer(sock, device, f["src"], f["seq"], OP_INQUIRY_ANSWER, 0,
                            device_block(device), 38 + DATA_LEN)
                answered += 1
        elif f["op"] in (OP_MODIFY, OP_RESET):
            for device in targets if f["dst"] != BROADCAST else []:
                op, sub = self.modify(device, f) if f["op"] == OP_MODIFY else self.reset(device, f)
                self.answer(sock, device, f["src"], f["seq"], op, sub)
                answered += 1
        self.sim.log.write("frame", size=len(frame), op=f["op"], sub=f["sub"], seq=f["seq"],
                           src=f["src"].hex("-"), dst=f["dst"].hex("-"), answers=answered)

    @staticmethod
    def modify(device, f):
        block = f["data"]
        if len(block) < 184:
            return OP_MODIFY_ANSWER, MODIFY_FAILED
        if not device.activated or secure.md5(device.password[:16]) != block[:16]:
            device.retry = max(0, device.retry - 1)
            return OP_MODIFY_ANSWER, MODIFY_LOCKED if device.retry == 0 else MODIFY_FAILED
        device.update({
            "IPv4Address": str(ipaddress.IPv4Address(f["ip1"])),
            "IPv4SubnetMask": str(ipaddress.IPv4Address(f["ip2"])),
            "CommandPort": str(struct.unpack(">I", block[16:20])[0]),
            "IPv4Gateway": str(ipaddress.IPv4Address(block[32:36])),
            "IPv6Address": str(ipaddress.IPv6Address(block[36:52])),
            "IPv6Gateway": str(ipaddress.IPv6Address(block[52:68])),
            "IPv6MaskLen": str(block[68]),
            "DHCP": "true" if block[70] == 1 else "false",
            "HttpPort": str(struct.unpack(">H", block[100:102])[0]),
        })
        return OP_MODIFY_ANSWER, MODIFY_SUCCESS

    @staticmethod
    def reset(device, f):
        code = secure.cstr(f["data"][:16])
        ok = code == device.code.encode()[:16]
        return OP_RESET_ANSWER, RESET_SUCCESS if ok else RESET_FAILED
