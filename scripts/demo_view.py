"""The demo's view of zeva-host --json: one row per report, fit to 80 columns, with the seconds
since the start, what changed (old -> new), the last known address of a device gone offline, and a
status line while nothing happens: kept in place on a terminal, written as a line of its own with
the seconds every few seconds into a file or pipe, and none once the demo says "Stopping...".
Writes the counts to --summary at the end of its input.

    zeva-host --json ... | python3 demo_view.py --interval S [--all] --summary FILE --stop-file FILE"""
import argparse
import fcntl
import json
import os
import select
import sys
import time

WIDTH = 80
SHOWN_NEW = 20  # new devices listed one by one, unless --all
STATUS_EVERY = 5  # seconds between status lines into a file or pipe while nothing happens


class View:
    def __init__(self, opts):
        self.opts = opts
        self.start = time.monotonic()
        self.devices = {}  # MAC -> last full report
        self.online = set()
        self.counts = {"found": 0, "moved": 0, "changed": 0, "salt": 0, "offline": 0, "back": 0}
        self.new_rows = 0
        self.hidden = 0  # new devices counted but not listed yet
        self.hidden_at = 0.0
        self.last_event = self.start
        self.status_quiet_since = None  # the quiet period a status line was printed for
        self.status_written_at = 0.0
        self.tty = sys.stdout.isatty()
        self.status_shown = False
        self.status_text = ""
        self.stop_file = open(opts.stop_file, "ab")

    def now(self):
        return time.monotonic() - self.start

    # -- output ------------------------------------------------------------------------------
    def write(self, text):
        if self.status_shown:
            sys.stdout.write("\r\033[K")
            self.status_shown = False
        sys.stdout.write(text + "\n")
        sys.stdout.flush()

    def row(self, status, serial, detail):
        if len(serial) > 23:
            serial = serial[:22] + "~"
        self.line_at(self.now(), status, "%-23s  %s" % (serial, detail))

    def line_at(self, at, status, text):
        text = "%5.1fs  %-8s %s" % (at, status, text)
        self.write(text if len(text) <= WIDTH else text[:WIDTH - 3] + "...")

    def flush_hidden(self):
        if self.hidden:
            self.line_at(self.hidden_at, "new", "and %d more devices (--all lists them)" % self.hidden)
            self.hidden = 0

    def status_line(self):
        # The demo writes into the stop file, holding its lock, before it says "Stopping...": a
        # status line written under the lock comes before those words, and none comes after.
        fcntl.flock(self.stop_file, fcntl.LOCK_EX)
        try:
            if os.fstat(self.stop_file.fileno()).st_size == 0:
                self.write_status()
            else:
                self.status_shown = False  # the demo cleared it with its words
        finally:
            fcntl.flock(self.stop_file, fcntl.LOCK_UN)

    def write_status(self):
        interval = self.opts.interval
        # Inquiries go out at the start and then every interval seconds.
        next_in = interval - int(self.now()) % interval
        text = "%d online, %d offline, next inquiry in %d s" % (
            len(self.online), len(self.devices) - len(self.online), next_in)
        if self.tty:
            if not self.status_shown or text != self.status_text:
                sys.stdout.write("\r\033[K" + text)
                sys.stdout.flush()
                self.status_shown, self.status_text = True, text
        elif (self.status_quiet_since != self.last_event
              or time.monotonic() - self.status_written_at >= STATUS_EVERY):
            # Into a file or pipe: at the start of each quiet period and every few seconds in it,
            # so that a captured run shows that it went on.
            self.line_at(self.now(), "", text)
            self.status_quiet_since = self.last_event
            self.status_written_at = time.monotonic()

    # -- reports -----------------------------------------------------------------------------
    def report(self, rep):
        self.last_event = time.monotonic()
        status, mac = rep.get("status"), rep.get("mac", "")
        if status == "new":
            self.on_new(rep, mac)
            return
        self.flush_hidden()
        if status == "changed":
            self.on_changed(rep, mac)
        elif status == "offline":
            self.on_offline(rep, mac)

    def on_new(self, rep, mac):
        back = mac in self.devices
        self.devices[mac] = rep
        self.online.add(mac)
        identity = "%-15s  %s" % (rep.get("ipv4", ""), mac)
        if back:
            self.counts["back"] += 1
            self.flush_hidden()
            self.row("back", rep.get("serial", ""), identity)
            return
        self.counts["found"] += 1
        self.new_rows += 1
        if self.opts.all or self.new_rows <= SHOWN_NEW:
            self.row("new", rep.get("serial", ""), identity)
        else:
            self.hidden += 1
            self.hidden_at = self.now()

    def on_changed(self, rep, mac):
        old = self.devices.get(mac, {})
        self.devices[mac] = rep
        self.online.add(mac)
        diffs = ["%s %s -> %s" % (key, old.get(key), value) for key, value in rep.items()
                 if key != "status" and old.get(key) != value]
        if any(d.startswith("ipv4 ") for d in diffs):
            self.counts["moved"] += 1
        if not diffs:
            # Every field the host sees is as it was: the device answered with a new salt.
            self.counts["salt"] += 1
            diffs = ["salt changed"]
        self.counts["changed"] += 1
        self.row("changed", rep.get("serial", ""), "; ".join(diffs))

    def on_offline(self, rep, mac):
        # The offline report holds only the serial number and the MAC: the address is the last known.
        last = self.devices.get(mac, rep)
        self.online.discard(mac)
        self.counts["offline"] += 1
        self.row("offline", rep.get("serial", ""), "%-15s  %s" % (last.get("ipv4", ""), mac))

    # -- loop --------------------------------------------------------------------------------
    def run(self, stream):
        fd = stream.fileno()
        pending = b""
        while True:
            ready, _, _ = select.select([fd], [], [], 0.25)
            if ready:
                chunk = os.read(fd, 65536)
                if not chunk:
                    break
                pending += chunk
                *lines, pending = pending.split(b"\n")
                for line in lines:
                    self.take(line)
            quiet = time.monotonic() - self.last_event
            if quiet >= 0.5:
                self.flush_hidden()
            if quiet >= 1:
                self.status_line()
        self.flush_hidden()
        if self.status_shown:
            sys.stdout.write("\r\033[K")
            sys.stdout.flush()

    def take(self, raw):
        try:
            rep = json.loads(raw)
        except ValueError:
            self.write("        (not a report: %r)" % raw[:60])
            return
        if "status" in rep:
            self.report(rep)


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--interval", type=int, required=True)
    p.add_argument("--all", action="store_true")
    p.add_argument("--summary", required=True)
    p.add_argument("--stop-file", required=True)
    opts = p.parse_args()
    view = View(opts)
    view.run(sys.stdin)
    counts = dict(view.counts, online=len(view.online), seconds=round(view.now()))
    with open(opts.summary, "w") as f:
        json.dump(counts, f)
    return 0


if __name__ == "__main__":
    sys.exit(main())
