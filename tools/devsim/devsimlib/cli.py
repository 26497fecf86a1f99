"""Command line of devsim."""
import argparse
import signal
import sys

from . import netio

DESCRIPTION = """\
Simulated discovery devices. Each device has its own MAC, serial number and addresses; all of
them answer Probe inquiries heard on 239.255.255.250 ports 37020 and 35090, announce themselves
with "hello" at start, answer subnet inquiries on port 37019 for the addresses this namespace
holds, and answer the requests addressed to their MAC. Every datagram heard is written to the
log as one JSON line (event "request"), beside the events ready, hello, change, silent, back and
stop. Runs only inside a test network namespace (tests/netns/netns-run.sh)."""

EPILOG = """\
Device number n (from --first on) is MAC 02-d5-xx-xx-xx-xx (n in the last four bytes), serial
DS-SIMnnnn-<n in 12 digits>, IPv4 address host 100 + position of the adapter's network. Its
secrets: user admin, the --password, reset code RCnnnnnnnnnn (10 digits, also the mail code),
short code of 8 digits (reset2_v31, PhoneNoReset_v31), GUID GUID-nnnnnnnn-SIMULATED, security
answers 1 blue, 2 seven, 3 river. Five wrong secrets lock a device.
DEVICES selects devices of this instance by position: "all", "3", "0-4" or "1,5,9-12".
--field values may use {n} (the device number) and {i} (its position): --field DeviceSN=TVA-{n}.
Example: devsim --devices 40 --change-after 5:Salt:0 --silent-after 8:39 --log devsim.jsonl"""


def devices_list(text):
    if text == "all":
        return range(1 << 24)
    picks = set()
    for part in text.split(","):
        first, _, last = part.partition("-")
        picks.update(range(int(first), int(last or first) + 1))
    return picks


def change_spec(text):
    """SECONDS[:ELEMENT[:DEVICES]]"""
    parts = text.split(":")
    try:
        return (float(parts[0]), parts[1] if len(parts) > 1 and parts[1] else "IPv4Address",
                devices_list(parts[2]) if len(parts) > 2 else {0})
    except ValueError:
        raise argparse.ArgumentTypeError("expected SECONDS[:ELEMENT[:DEVICES]]") from None


def silent_spec(text):
    """SECONDS[:DEVICES[:DURATION]]"""
    parts = text.split(":")
    try:
        return (float(parts[0]), devices_list(parts[1]) if len(parts) > 1 else devices_list("all"),
                float(parts[2]) if len(parts) > 2 else None)
    except ValueError:
        raise argparse.ArgumentTypeError("expected SECONDS[:DEVICES[:DURATION]]") from None


def reply_spec(text):
    ways = []
    for way in text.split(","):
        if way not in ("37020", "35090", "both", "sender"):
            raise argparse.ArgumentTypeError("expected 37020, 35090, both or sender")
        ways += ["37020", "35090"] if way == "both" else [way]
    return tuple(dict.fromkeys(ways))


HOSTILE = {
    "echo": "the request itself, sent back unchanged",
    "no-mac": "Result failed, no MAC element",
    "no-result": "no Result element",
    "odd-result": "Result Success, an unknown word",
    "long-code": "a Code of 512 characters",
    "huge-code": "a Code of 10000 characters",
    "qr-overflow": "QRcodes and MailBox that decode past their fields",
    "many-questions": "40 security questions",
    "many-serials": "33 bound serial numbers",
    "code-200": "a Code of 200 characters",
    "guid-200": "a GUID of 200 bytes",
    "guid-528": "a GUID of 528 bytes, past the 512 of the GUID record",
    "guid-1040": "a GUID of 1040 bytes, past a 1024-byte cipher copy",
    "guid-100": "a GUID of 100 bytes, no whole number of AES blocks",
    "qr-300": "a QR text of 300 bytes",
    "qr-text-1024": "a plain QR text (as 3.1 devices send it) of 1024 characters",
}


def result_spec(text):
    kind, eq, word = text.partition("=")
    if not eq or not kind:
        raise argparse.ArgumentTypeError("expected TYPE=WORD")
    return kind, word


def field_spec(text):
    """NAME=VALUE sets an answer element, NAME alone leaves it out."""
    name, eq, value = text.partition("=")
    return name, (value if eq else None)


def field_of_spec(text):
    """DEVICES:NAME=VALUE or DEVICES:NAME: --field for the devices picked only."""
    picks, colon, rest = text.partition(":")
    if not colon:
        raise argparse.ArgumentTypeError("expected DEVICES:NAME[=VALUE]")
    try:
        return devices_list(picks), *field_spec(rest)
    except ValueError:
        raise argparse.ArgumentTypeError("expected DEVICES:NAME[=VALUE]") from None


def parser():
    p = argparse.ArgumentParser(prog="devsim", description=DESCRIPTION, epilog=EPILOG,
                                formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("--devices", type=int, default=1, metavar="N", help="number of devices (1)")
    p.add_argument("--first", type=int, default=0, metavar="N",
                   help="number of the first device; instances with distinct numbers have "
                        "distinct identities (0)")
    p.add_argument("--interface", action="append", metavar="NAME",
                   help="adapter to serve (repeatable; default every adapter that is up with IPv4)")
    p.add_argument("--reply", type=reply_spec, default=("37020",), metavar="WAYS",
                   help="where answers go, comma-separated: 37020 and 35090 (the group on that "
                        "port), both (the two), sender (unicast to the sender); 37020")
    p.add_argument("--rate", type=float, default=0, metavar="PER_S",
                   help="pace inquiry answers to this many per second (0: as fast as possible)")
    p.add_argument("--change-after", type=change_spec, action="append", default=[],
                   metavar="S[:ELEMENT[:DEVICES]]",
                   help="after S seconds give ELEMENT (IPv4Address) of DEVICES (0) a new value; "
                        "repeatable; Salt changes the salt alone")
    p.add_argument("--silent-after", type=silent_spec, action="append", default=[],
                   metavar="S[:DEVICES[:DURATION]]",
                   help="after S seconds DEVICES (all) stop answering, for DURATION seconds "
                        "(for good when left out); repeatable")
    p.add_argument("--no-hello", action="store_true", help="send no hello at start")
    p.add_argument("--field", type=field_spec, action="append", default=[], dest="fields",
                   metavar="NAME[=VALUE]", help="set (or with no value leave out) an answer "
                                                "element of every device; repeatable")
    p.add_argument("--field-of", type=field_of_spec, action="append", default=[],
                   dest="device_fields", metavar="DEVICES:NAME[=VALUE]",
                   help="as --field, for the devices picked only (after every --field)")
    p.add_argument("--protocol", default="3.0", choices=("3.0", "3.0,3.1", "3.1"),
                   metavar="VERSION",
                   help="DRAVVersion the devices announce: 3.0, 3.0,3.1 or 3.1 (3.0)")
    p.add_argument("--encrypt-versions", action="store_true",
                   help="also send SoftwareVersionEncrypt, DSPVersionEncrypt and OEMInfoEncrypt "
                        "(the built-in values; --field changes only the plain elements)")
    p.add_argument("--password", default="Sim12345",
                   help="password of the activated devices (Sim12345)")
    p.add_argument("--inactive", action="store_true",
                   help="devices start not activated, without a password")
    p.add_argument("--result", action="append", default=[], type=result_spec, metavar="TYPE=WORD",
                   help="answer requests of TYPE (or all) with this Result word, whatever the "
                        "secrets; @FILE reads the word from FILE at each answer; repeatable")
    p.add_argument("--no-answer", action="append", default=[], metavar="TYPE",
                   help="leave requests of TYPE (or all) unanswered; repeatable")
    p.add_argument("--answer-delay", type=float, default=0, metavar="S",
                   help="answer requests S seconds late (0)")
    p.add_argument("--hostile", action="append", default=[], choices=sorted(HOSTILE),
                   help="before each request answer (not the exchange code) send a hostile one: "
                        + ", ".join("%s (%s)" % kv for kv in sorted(HOSTILE.items())) + "; repeatable")
    p.add_argument("--wrong-mac-first", action="store_true",
                   help="send each request answer first with another device's MAC, then right")
    p.add_argument("--frames", action="store_true",
                   help="also answer raw discovery frames (EtherType 0x8033) and send the online "
                        "frame at start")
    p.add_argument("--seconds", type=float, default=0, metavar="S",
                   help="stop after S seconds (0: on SIGTERM or Ctrl-C)")
    p.add_argument("--log", default="-", metavar="FILE", help="JSON lines log (- for stdout)")
    return p


def _stop(_signum, _frame):
    raise SystemExit(0)


def main(argv=None):
    opts = parser().parse_args(argv)
    if opts.devices < 1 or opts.first < 0 or opts.rate < 0:
        parser().error("--devices must be at least 1; --first and --rate not negative")
    if not netio.in_test_netns():
        print("devsim: refusing to send outside a test network namespace "
              "(run it with tests/netns/netns-run.sh)", file=sys.stderr)
        return 77
    from . import requests, sim, frames  # cryptography is needed only past this point
    signal.signal(signal.SIGTERM, _stop)
    signal.signal(signal.SIGINT, _stop)
    simulator = sim.Simulator(opts, requests.Handlers(),
                              frames.FrameResponder if opts.frames else None)
    try:
        simulator.run()
    finally:
        simulator.close()
    return 0
