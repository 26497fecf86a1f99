"""Test side of devsim: runs it in the peer namespace and plays the host in this one.

Run inside tests/netns/netns-run.sh, which puts us in the host namespace (adapter h1,
10.99.1.1) and names the peer (adapter p0, 10.99.1.2) in ZEVA_NETNS_PEERS."""
import json
import os
import select
import socket
import subprocess
import sys
import tempfile
import time
import unittest
import uuid
import xml.etree.ElementTree as ET

HERE = os.path.dirname(os.path.abspath(__file__))
DEVSIM = os.path.join(os.path.dirname(HERE), "devsim")
sys.path.insert(0, os.path.dirname(HERE))

from devsimlib import netio  # noqa: E402  (the same Linux socket setup on the host side)

PEER = os.environ.get("ZEVA_NETNS_PEERS", "").split()[0] if os.environ.get(
    "ZEVA_NETNS_PEERS") else None
HOST_ADDR = "10.99.1.1"
PEER_ADDR = "10.99.1.2"
DECL = '<?xml version="1.0" encoding="utf-8"?>'


def inquiry(uid=None):
    uid = uid or str(uuid.uuid4())
    return ("%s<Probe><Uuid>%s</Uuid><Types>inquiry</Types></Probe>" % (DECL, uid)).encode(), uid


def request(types, mac, uid=None, **elements):
    """A request as the host prints it: values unescaped; a name may carry attributes."""
    uid = uid or str(uuid.uuid4())
    body = "".join("<%s>%s</%s>" % (k, v, k.split()[0]) for k, v in elements.items())
    return ("%s<Probe><Uuid>%s</Uuid><MAC>%s</MAC><Types>%s</Types>%s</Probe>" % (
        DECL, uid, mac, types, body)).encode(), uid


def xmllint_ok(data):
    return subprocess.run(["xmllint", "--noout", "-"], input=data,
                          capture_output=True).returncode == 0


class Answer:
    def __init__(self, data, src, port):
        self.data, self.src, self.port = data, src, port
        self.root = ET.fromstring(data)
        self.fields = {c.tag: (c.text or "") for c in self.root}

    def __getitem__(self, name):
        return self.fields[name]


class Host:
    """The host's sockets: both groups joined on h1, and a unicast socket for everything else."""

    def __init__(self):
        iface = [i for i in netio.interfaces() if i.name == "h1"][0]
        self.ports = {p: netio.multicast_receiver(p, [iface]) for p in netio.PROBE_PORTS}
        self.sender = netio.multicast_sender(iface)
        self.unicast = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.unicast.bind((HOST_ADDR, 0))
        self.unicast.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_IF,
                                socket.inet_aton(HOST_ADDR))
        self.unicast.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_LOOP, 0)
        self.socks = dict(self.ports)
        self.socks["unicast"] = self.unicast
        for sock in self.socks.values():
            sock.setblocking(False)

    def close(self):
        for s in self.socks.values():
            s.close()
        self.sender.close()

    def send_both(self, data):
        """As the host sends a request: to the group on 37020, then on 35090, from one socket."""
        for port in netio.PROBE_PORTS:
            self.unicast.sendto(data, (netio.GROUP, port))

    def collect(self, until, timeout=10.0):
        """Answers from every socket until `until(answers)` holds; fails after `timeout`."""
        answers = []
        deadline = time.monotonic() + timeout
        while not until(answers):
            left = deadline - time.monotonic()
            if left <= 0:
                raise AssertionError("timed out with %d answers" % len(answers))
            answers += self.read(min(left, 0.2))
        return answers

    def read(self, wait):
        """What arrives on any socket within `wait` seconds (0: what is already there)."""
        got = []
        ready, _, _ = select.select(list(self.socks.values()), [], [], wait)
        for name, s in self.socks.items():
            while s in ready:
                try:
                    data, src = s.recvfrom(65536)[:2]
                except BlockingIOError:
                    break
                got.append(Answer(data, src, name))
        return got

    def pending(self):
        """Whatever is already waiting, without blocking."""
        return self.read(0)


class DevsimCase(unittest.TestCase):
    """Starts devsim in the peer per test; its JSON log is self.log_path."""

    def setUp(self):
        if not PEER:
            self.skipTest("needs tests/netns/netns-run.sh")
        self.host = Host()
        self.procs = []

    def tearDown(self):
        self.stop()
        self.host.close()

    def stop(self):
        """Ends every devsim of the test; what they sent last is nobody's answer."""
        for p in self.procs:
            p.terminate()
            p.wait(10)
        self.procs = []
        self.host.pending()

    def start(self, *args, ready=True):
        fd, path = tempfile.mkstemp(prefix="devsim-", suffix=".jsonl")
        os.close(fd)
        self.addCleanup(os.unlink, path)
        proc = subprocess.Popen(["ip", "netns", "exec", PEER, DEVSIM, "--log", path] +
                                list(args))
        self.procs.append(proc)
        self.log_path = path
        if ready:
            self.wait_log(lambda e: e["event"] == "ready")
        return proc

    def events(self):
        with open(self.log_path) as f:
            return [json.loads(line) for line in f if line.endswith("\n")]

    def wait_log(self, pred, timeout=10.0):
        """Waits for a log line that satisfies `pred`."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            found = [e for e in self.events() if pred(e)]
            if found:
                return found[0]
            for p in self.procs:
                self.assertIsNone(p.poll(), "devsim ended early")
            time.sleep(0.01)
        raise AssertionError("no such log line in %s" % self.events()[-5:])

    def inquire(self, count, uid=None):
        """One inquiry to both ports; the first `count` answers."""
        data, uid = inquiry(uid)
        self.host.send_both(data)
        answers = self.host.collect(lambda a: len(a) >= count)
        return answers, uid
