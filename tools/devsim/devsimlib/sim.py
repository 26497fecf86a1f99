"""The simulator: devices, their sockets, the schedule and the request log."""
import base64
import errno
import heapq
import ipaddress
import itertools
import json
import selectors
import sys
import time
from collections import deque
from xml.sax.saxutils import escape

from . import netio, probe
from .device import Device


class JsonLog:
    """One JSON object per line, flushed at once so that tests can follow the file."""

    def __init__(self, path):
        self.out = sys.stdout if path in (None, "-") else open(path, "a", buffering=1)

    def write(self, event, **fields):
        fields = {"t": round(time.time(), 6), "event": event, **fields}
        self.out.write(json.dumps(fields, ensure_ascii=True) + "\n")
        self.out.flush()


def hostile_text(kind, type_word, uuid_text, mac, elements, request):
    """An answer with the request's Uuid that a sound host must not take for a good one."""
    if kind == "echo":
        return request
    rest = [e for e in elements if e[0] != "Result"]
    mac_element = [("MAC", mac)]
    success = [("Result", "success")]
    b64 = lambda n: base64.b64encode(b"x" * n).decode()  # noqa: E731
    built = {
        "no-mac": [("Result", "failed")] + rest,
        "no-result": mac_element + rest,
        "odd-result": mac_element + [("Result", "Success")] + rest,
        "long-code": mac_element + success + [("Code", "A" * 512)],
        "huge-code": mac_element + success + [("Code", "A" * 10000)],
        "qr-overflow": mac_element + success + [("QRcodes", b64(2000)), ("MailBox", b64(400))],
        "many-questions": mac_element + success + [("QuestionList", [
            ("Question", [("ID", i), ("mark", "true")]) for i in range(1, 41)])],
        "many-serials": mac_element + success + [("DeviceSNList", [
            ("DeviceSN", "HOSTILE-%02d" % i) for i in range(1, 34)])],
        "code-200": mac_element + success + [("Code", "C" * 200)],
        "guid-200": mac_element + success + [("GUID", b64(200))],
        "guid-528": mac_element + success + [("GUID", b64(528))],
        "guid-1040": mac_element + success + [("GUID", b64(1040))],
        "guid-100": mac_element + success + [("GUID", b64(100))],
        "qr-300": mac_element + success + [("QRcodes", b64(300))],
        "qr-text-1024": mac_element + success + [("QRcodes", "Q" * 1024)],
    }[kind]
    return probe.build(type_word, uuid_text, built)


class Simulator:
    def __init__(self, opts, handlers, frames=None):
        self.opts = opts
        self.log = JsonLog(opts.log)
        self.handlers = handlers
        self.ifaces = netio.interfaces(opts.interface)
        if not self.ifaces:
            raise SystemExit("devsim: no adapter that is up with an IPv4 address")
        home = self.ifaces[0]
        self.devices = [Device(opts.first + i, home, opts) for i in range(opts.devices)]
        self.by_mac = {d.mac: d for d in self.devices}
        self.subnet_devices = {}
        self.templates = {}
        self.queue = deque()             # answers waiting for their turn: (data, socket, dest)
        self.recent = deque(maxlen=512)  # Uuids answered: one inquiry reaches both ports
        self.timers = []
        self.seq = itertools.count()
        self.sent = 0
        self.heard = 0
        self.sel = selectors.DefaultSelector()
        self.senders = {i.index: netio.multicast_sender(i) for i in self.ifaces}
        for port in netio.PROBE_PORTS:
            self._watch(netio.multicast_receiver(port, self.ifaces), self._on_probe, port)
        self.subnet = netio.subnet_receiver()
        self._watch(self.subnet, self._on_subnet, netio.SUBNET_PORT)
        self.frames = frames(self) if frames else None
        self.start = self.paced_at = time.monotonic()  # the schedule counts from run()
        self.tokens = 0.0
        self.burst = None  # (start, sent count) of the answers queued since the queue was empty

    def _watch(self, sock, handler, port):
        sock.setblocking(False)
        self.sel.register(sock, selectors.EVENT_READ, (handler, port))

    def at(self, delay, action):
        heapq.heappush(self.timers, (self.start + delay, next(self.seq), action))

    # -- outgoing --------------------------------------------------------------------------
    def destinations(self, ifindex, src):
        """Where an answer goes, by --reply: the group on the adapter it came in, the sender.
        Without a sender (hello) unicast falls back to the group on 37020."""
        sock = self.senders.get(ifindex) or next(iter(self.senders.values()))
        dests = [(sock, src if way == "sender" else (netio.GROUP, int(way)))
                 for way in self.opts.reply if src or way != "sender"]
        return dests or [(sock, (netio.GROUP, 37020))]

    def answer_text(self, device, type_word, uuid_text):
        """Inquiry and hello answers come from a template built once per device state."""
        key = (device.number, type_word)
        version, parts = self.templates.get(key, (None, None))
        if version != device.change_count:
            parts = probe.build_template(type_word, device.answer_elements())
            self.templates[key] = (device.change_count, parts)
        return parts[0] + escape(uuid_text or "").encode() + parts[1]

    def enqueue(self, data, dests):
        if not self.queue:
            self.burst = (time.monotonic(), self.sent)
        for sock, dest in dests:
            self.queue.append((data, sock, dest))

    def send(self, data, sock, dest):
        try:
            sock.sendto(data, dest)
            self.sent += 1
        except BlockingIOError:
            return False
        except OSError as e:
            if e.errno == errno.ENOBUFS:
                return False
            self.log.write("send-error", dest="%s:%d" % dest, error=e.strerror)
        return True

    def flush(self):
        """Sends what is queued, all of it or as many as --rate allows by now."""
        now = time.monotonic()
        if self.opts.rate:
            self.tokens = min(self.tokens + (now - self.paced_at) * self.opts.rate,
                              max(1.0, self.opts.rate / 100))
        self.paced_at = now
        while self.queue and (not self.opts.rate or self.tokens >= 1):
            data, sock, dest = self.queue[0]
            if not self.send(data, sock, dest):
                return  # the socket is full: try again on the next turn
            self.queue.popleft()
            self.tokens -= 1
        if not self.queue and self.burst:
            # how fast the answers went out, for benchmarks
            seconds = time.monotonic() - self.burst[0]
            count = self.sent - self.burst[1]
            self.log.write("sent", answers=count, seconds=round(seconds, 6),
                           per_second=round(count / seconds) if seconds else None)
            self.burst = None

    # -- incoming --------------------------------------------------------------------------
    def _drain(self, sock, port, handler):
        while True:
            try:
                data, src, dst, ifindex = netio.receive(sock)
            except BlockingIOError:
                return
            self.heard += 1
            handler(data, src, dst, ifindex, port)

    def _record(self, port, src, dst, ifindex, data, **fields):
        self.log.write("request", port=port, src="%s:%d" % src, dst=dst, ifindex=ifindex,
                       size=len(data), **fields)

    def _parse(self, data, src, dst, ifindex, port):
        try:
            req = probe.parse(data)
        except probe.BadProbe as e:
            self._record(port, src, dst, ifindex, data, error=str(e),
                         head=data[:64].decode("latin-1"))
            return None
        if req.is_device_answer():
            return None
        return req

    def _on_probe(self, data, src, dst, ifindex, port):
        req = self._parse(data, src, dst, ifindex, port)
        if req is None:
            return
        duplicate = bool(req.uuid) and req.uuid in self.recent
        answered = 0
        if not duplicate:
            if req.uuid:
                self.recent.append(req.uuid)
            answered = self._answer(req, src, ifindex, data)
        self._record(port, src, dst, ifindex, data, type=req.type, uuid=req.uuid, mac=req.mac,
                     elements=req.children, duplicate=duplicate, answers=answered)

    def _answer(self, req, src, ifindex, data=b""):
        dests = self.destinations(ifindex, src)
        if req.type == "inquiry":
            live = [d for d in self.devices if not d.silent]
            for device in live:
                self.enqueue(self.answer_text(device, "inquiry", req.uuid), dests)
            return len(live)
        device = self.by_mac.get((req.mac or "").lower().replace(":", "-"))
        if device is None or device.silent:
            return 0
        try:
            answer = self.handlers.answer(device, req)
        except Exception as e:  # noqa: BLE001  a fault of ours must not end the simulation
            self.log.write("fault", type=req.type, uuid=req.uuid, error=repr(e))
            return 0
        if answer is None or self._chosen(self.opts.no_answer, req.type):
            return 0
        type_word, elements = answer
        forced = dict(self.opts.result)
        word = forced.get(req.type, forced.get("all"))
        if word is not None and word.startswith("@"):
            word = self._read_word(word[1:])
        if word is not None:
            elements = [("Result", word)] + [e for e in elements if e[0] != "Result"]
        texts = []
        if req.type not in ("exchangecode", "exchangecode_v31"):
            texts += [hostile_text(kind, type_word, req.uuid, device.mac, elements, data)
                      for kind in self.opts.hostile]
        if self.opts.wrong_mac_first:
            texts.append(probe.build(type_word, req.uuid, [("MAC", "02-d5-ff-ff-ff-ff")] + elements))
        texts.append(probe.build(type_word, req.uuid, [("MAC", device.mac)] + elements))

        def send_all():
            for data in texts:
                for sock, dest in dests:
                    self.send(data, sock, dest)
            self.log.write("answer", type=type_word, uuid=req.uuid, result=elements[0][1])
        if self.opts.answer_delay:
            self.at(time.monotonic() - self.start + self.opts.answer_delay, send_all)
        else:
            send_all()
        return 1

    @staticmethod
    def _read_word(path):
        """A Result word a test changes between requests; None (the device decides) without one."""
        try:
            with open(path) as f:
                return f.read().strip() or None
        except OSError:
            return None

    @staticmethod
    def _chosen(kinds, type_word):
        return type_word in kinds or "all" in kinds

    def _subnet_device(self, address):
        for d in self.devices:
            if d.elements.get("IPv4Address") == address:
                return d
        if address not in self.subnet_devices:
            # a device made up for an address no simulated device claims
            number = 0x10000 + (int(ipaddress.IPv4Address(address)) & 0xFFFF)
            self.subnet_devices[address] = Device(number, self.ifaces[0], self.opts)
        return self.subnet_devices[address]

    def _on_subnet(self, data, src, dst, ifindex, port):
        req = self._parse(data, src, dst, ifindex, port)
        if req is None:
            return
        answered = 0
        if req.type == "inquiry_v32" and dst in netio.local_ipv4_addresses():
            device = self._subnet_device(dst)
            if not device.silent:
                text = probe.build("inquiry_v32", req.uuid, device.subnet_elements(dst))
                netio.send_from(self.subnet, text, src, dst)
                self.sent += 1
                answered = 1
        self._record(port, src, dst, ifindex, data, type=req.type, uuid=req.uuid, mac=req.mac,
                     elements=req.children, answers=answered)

    # -- schedule --------------------------------------------------------------------------
    def hello(self):
        for device in self.devices:
            for iface in self.ifaces:
                self.enqueue(self.answer_text(device, "hello", probe.new_uuid()),
                             self.destinations(iface.index, None))
        if self.frames:
            self.frames.online()
        self.log.write("hello", devices=len(self.devices))

    def change(self, name, picks):
        for device in self.pick(picks):
            old, new = device.change(name)
            self.log.write("change", mac=device.mac, element=name, old=old, new=new)

    def silence(self, picks, on):
        for device in self.pick(picks):
            device.silent = on
        self.log.write("silent" if on else "back", macs=[d.mac for d in self.pick(picks)])

    def pick(self, picks):
        return [d for i, d in enumerate(self.devices) if i in picks]

    def schedule(self):
        if not self.opts.no_hello:
            self.at(0, self.hello)
        for seconds, name, picks in self.opts.change_after:
            self.at(seconds, lambda n=name, p=picks: self.change(n, p))
        for seconds, picks, duration in self.opts.silent_after:
            self.at(seconds, lambda p=picks: self.silence(p, True))
            if duration is not None:
                self.at(seconds + duration, lambda p=picks: self.silence(p, False))

    # -- main loop -------------------------------------------------------------------------
    def run(self):
        for device in self.devices:  # inquiry answers are ready before the first inquiry
            self.answer_text(device, "inquiry", "")
        self.start = self.paced_at = time.monotonic()
        self.schedule()
        end = self.start + self.opts.seconds if self.opts.seconds else None
        self.log.write("ready", devices=[d.mac for d in self.devices][:64], count=len(self.devices),
                       interfaces=[i.name for i in self.ifaces], reply=self.opts.reply,
                       frames=bool(self.frames))
        while end is None or time.monotonic() < end:
            now = time.monotonic()
            while self.timers and self.timers[0][0] <= now:
                heapq.heappop(self.timers)[2]()
            self.flush()
            for key, _ in self.sel.select(self.timeout(end)):
                handler, port = key.data
                if port is None:
                    handler(key.fileobj)
                else:
                    self._drain(key.fileobj, port, handler)

    def timeout(self, end):
        """Until the end, the next timer or the next answer that pacing lets out."""
        wake = [end] if end else []
        if self.timers:
            wake.append(self.timers[0][0])
        if self.queue:
            wake.append(self.paced_at + max(0.0, 1 - self.tokens) / self.opts.rate
                        if self.opts.rate else 0)
        return max(0.0, min(wake) - time.monotonic()) if wake else None

    def close(self):
        self.log.write("stop", heard=self.heard, sent=self.sent, queued=len(self.queue))
