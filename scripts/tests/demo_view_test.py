"""The demo's view (scripts/demo_view.py) fed with zeva-host --json reports as the host prints
them: rows with their seconds, what changed, the identity of a device gone offline, the count of
new devices past 20, a status line while nothing happens (a line with its seconds every few
seconds into a pipe, kept in place on a terminal, none once the demo says "Stopping..."), 80
columns, and the summary."""
import fcntl
import json
import os
import pty
import queue
import re
import select
import subprocess
import sys
import tempfile
import threading
import time
import unittest

VIEW = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "demo_view.py")
ROW = re.compile(r"^ *\d+\.\ds  (new|changed|offline|back) +\S")
STATUS = re.compile(r"^ *(\d+\.\d)s {11}\d+ online, \d+ offline, next inquiry in [12] s$")


def view_command(*args):
    """The view's command line and its stop file."""
    stop_file = tempfile.NamedTemporaryFile(suffix=".stop", delete=False).name
    summary = tempfile.NamedTemporaryFile(suffix=".json", delete=False).name
    return [sys.executable, "-B", VIEW, "--interval", "2", "--summary", summary, "--stop-file", stop_file,
            *args], summary, stop_file


def say_stopping(stop_file):
    """What the demo does before it says "Stopping...": a line into the stop file, under its lock."""
    with open(stop_file, "a") as f:
        fcntl.flock(f, fcntl.LOCK_EX)
        f.write("stopping\n")


def device(n, **fields):
    rep = {"status": "new", "serial": "DS-SIM%04d-%012d" % (n, n), "mac": "02-d5-00-00-00-%02x" % n,
           "ipv4": "10.99.1.%d" % (100 + n), "model": "DS-SIM%04d" % n, "activated": True}
    rep.update(fields)
    return rep


class ViewRun:
    """The view as a process, its output lines read as they come."""

    def __init__(self, *args):
        command, self.summary, self.stop_file = view_command(*args)
        self.proc = subprocess.Popen(command, stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        self.lines = []
        self.queue = queue.Queue()
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for line in self.proc.stdout:
            self.queue.put(line.rstrip("\n"))
        self.queue.put(None)

    def send(self, *reports):
        for rep in reports:
            self.proc.stdin.write(json.dumps(rep, separators=(",", ":")) + "\n")
        self.proc.stdin.flush()

    def wait_for(self, pattern, timeout=10):
        """The first new line matching the pattern; fails after the timeout."""
        while True:
            line = self.queue.get(timeout=timeout)
            if line is None:
                raise AssertionError("the view ended before %r; it printed %s" % (pattern, self.lines))
            self.lines.append(line)
            if re.search(pattern, line):
                return line

    def finish(self):
        self.proc.stdin.close()
        while (line := self.queue.get(timeout=10)) is not None:
            self.lines.append(line)
        self.proc.wait(timeout=10)
        self.proc.stdout.close()
        with open(self.summary) as f:
            counts = json.load(f)
        os.unlink(self.summary)
        os.unlink(self.stop_file)
        return counts


class TerminalRun:
    """The view writing to a terminal, all it wrote read as it comes."""

    def __init__(self):
        self.controller, terminal = pty.openpty()
        command, self.summary, self.stop_file = view_command()
        self.proc = subprocess.Popen(command, stdin=subprocess.PIPE, stdout=terminal)
        os.close(terminal)
        self.seen = b""

    def send(self, rep):
        self.proc.stdin.write((json.dumps(rep) + "\n").encode())
        self.proc.stdin.flush()

    def read_until(self, done, timeout=10):
        """Reads until done() holds or the view ends; fails when nothing comes within the timeout."""
        while not done():
            ready, _, _ = select.select([self.controller], [], [], timeout)
            assert ready, "the view wrote nothing more after %r" % self.seen
            try:
                chunk = os.read(self.controller, 4096)
            except OSError:  # the terminal's other end is closed
                chunk = b""
            if not chunk:
                return
            self.seen += chunk

    def read_for(self, seconds):
        """All the view writes within the seconds."""
        end = time.monotonic() + seconds
        while (left := end - time.monotonic()) > 0:
            ready, _, _ = select.select([self.controller], [], [], left)
            if ready:
                self.seen += os.read(self.controller, 4096)

    def finish(self):
        self.proc.stdin.close()
        self.read_until(lambda: False)
        self.proc.wait(timeout=10)
        os.close(self.controller)
        os.unlink(self.summary)
        os.unlink(self.stop_file)
        return self.seen.decode()


class DemoView(unittest.TestCase):
    def test_rows_say_what_happened(self):
        view = ViewRun()
        view.send(*[device(n) for n in range(25)])
        view.wait_for(r"new +and 5 more devices \(--all lists them\)$")
        view.wait_for(STATUS.pattern)
        view.send(device(24, status="changed", ipv4="10.99.1.125"))
        view.wait_for(r"changed  DS-SIM0024-000000000024  ipv4 10\.99\.1\.124 -> 10\.99\.1\.125$")
        view.send(device(1, status="changed"))
        view.wait_for(r"changed  DS-SIM0001-000000000001  salt changed$")
        view.send({"status": "offline", "serial": device(0)["serial"], "mac": device(0)["mac"]})
        view.wait_for(r"offline  DS-SIM0000-000000000000  10\.99\.1\.100 +02-d5-00-00-00-00$")
        view.wait_for(r"\ds {11}24 online, 1 offline, next inquiry in")
        view.send(device(0))
        view.wait_for(r"back     DS-SIM0000-000000000000  10\.99\.1\.100")
        view.send(device(2, status="changed", model="M" * 60, ipv4="10.99.1.201"))
        view.wait_for(r"changed  DS-SIM0002-000000000002  ipv4 10\.99\.1\.102 -> 10\.99\.1\.201; mo\.\.\.$")
        counts = view.finish()

        self.assertEqual(20, sum(1 for l in view.lines if re.search(r"\ds  new +DS-SIM", l)))
        for line in view.lines:
            self.assertLessEqual(len(line), 80, line)
            self.assertTrue(ROW.match(line) or STATUS.match(line), line)
        self.assertEqual({"found": 25, "changed": 3, "moved": 2, "salt": 1, "offline": 1, "back": 1,
                          "online": 25}, {k: v for k, v in counts.items() if k != "seconds"})

    def test_status_repeats_with_its_seconds_while_quiet(self):
        view = ViewRun()
        view.send(*[device(n) for n in range(3)])
        first = float(STATUS.match(view.wait_for(STATUS.pattern)).group(1))
        second = float(STATUS.match(view.wait_for(STATUS.pattern, timeout=15)).group(1))
        view.finish()
        # Nothing happened in between: the second line comes some seconds after the first.
        self.assertEqual(2, sum(1 for l in view.lines if STATUS.match(l)), view.lines)
        self.assertGreaterEqual(second - first, 4, view.lines)
        self.assertEqual(3, sum(1 for l in view.lines if ROW.match(l)))

    def test_status_stays_in_place_on_a_terminal(self):
        term = TerminalRun()
        term.send(device(0))
        term.read_until(lambda: b"next inquiry in" in term.seen)
        text = term.finish()
        self.assertRegex(text, r"\r\x1b\[K1 online, 0 offline, next inquiry in [12] s")
        # The status line is never ended by a line break of its own, and it is cleared at the end.
        self.assertNotRegex(text, r"next inquiry in [12] s\r?\n")
        self.assertTrue(text.endswith("\r\x1b[K"), repr(text[-40:]))

    # Once the demo has said "Stopping..." a report may still come, but no status line: a report
    # starts a quiet period whose status line would come a second later, and on a terminal the
    # line changes every second. Nothing must come within three.
    def test_no_status_line_once_stopping(self):
        view = ViewRun()
        view.send(device(0))
        view.wait_for(STATUS.pattern)
        say_stopping(view.stop_file)
        view.send(device(1))
        row = view.wait_for(r"new +DS-SIM0001-")
        with self.assertRaises(queue.Empty):
            view.wait_for(STATUS.pattern, timeout=3)
        view.finish()
        self.assertFalse([l for l in view.lines[view.lines.index(row):] if STATUS.match(l)], view.lines)

    def test_no_status_line_on_a_terminal_once_stopping(self):
        term = TerminalRun()
        term.send(device(0))
        term.read_until(lambda: b"next inquiry in" in term.seen)
        say_stopping(term.stop_file)
        stopped_at = len(term.seen)
        term.send(device(1))
        term.read_until(lambda: b"DS-SIM0001-" in term.seen[stopped_at:])
        term.read_for(3)
        text = term.finish()[stopped_at:]
        self.assertNotIn("next inquiry in", text)
        self.assertIn("new      DS-SIM0001-", text)

    def test_all_lists_every_new_device(self):
        view = ViewRun("--all")
        view.send(*[device(n) for n in range(25)])
        view.wait_for(r"new +DS-SIM0024-")
        view.finish()
        self.assertEqual(25, sum(1 for l in view.lines if re.search(r"\ds  new +DS-SIM", l)))
        self.assertFalse([l for l in view.lines if "more devices" in l])


if __name__ == "__main__":
    unittest.main()
