"""The demo's view (scripts/demo_view.py) fed with zeva-host --json reports as the host prints
them: rows with their seconds, what changed, the identity of a device gone offline, the count of
new devices past 20, a status line while nothing happens, 80 columns, and the summary."""
import json
import os
import queue
import re
import subprocess
import sys
import tempfile
import threading
import unittest

VIEW = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "demo_view.py")
ROW = re.compile(r"^ *\d+\.\ds  (new|changed|offline|back) +\S")
STATUS = re.compile(r"^ {8}\d+ online, \d+ offline, next inquiry in [12] s$")


def device(n, **fields):
    rep = {"status": "new", "serial": "DS-SIM%04d-%012d" % (n, n), "mac": "02-d5-00-00-00-%02x" % n,
           "ipv4": "10.99.1.%d" % (100 + n), "model": "DS-SIM%04d" % n, "activated": True}
    rep.update(fields)
    return rep


class ViewRun:
    """The view as a process, its output lines read as they come."""

    def __init__(self, *args):
        self.summary = tempfile.NamedTemporaryFile(suffix=".json", delete=False).name
        self.proc = subprocess.Popen([sys.executable, "-B", VIEW, "--interval", "2", "--summary",
                                      self.summary, *args], stdin=subprocess.PIPE,
                                     stdout=subprocess.PIPE, text=True)
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
        return counts


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
        view.wait_for(r"^ {8}24 online, 1 offline, next inquiry in")
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

    def test_all_lists_every_new_device(self):
        view = ViewRun("--all")
        view.send(*[device(n) for n in range(25)])
        view.wait_for(r"new +DS-SIM0024-")
        view.finish()
        self.assertEqual(25, sum(1 for l in view.lines if re.search(r"\ds  new +DS-SIM", l)))
        self.assertFalse([l for l in view.lines if "more devices" in l])


if __name__ == "__main__":
    unittest.main()
