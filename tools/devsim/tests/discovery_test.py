"""devsim answering inquiries, announcing itself, changing and going silent."""
import base64
import re
import subprocess
import time
import unittest

from lab import DEVSIM, PEER, PEER_ADDR, DevsimCase, inquiry, xmllint_ok

MAC_RE = re.compile(r"^[0-9a-f]{2}(-[0-9a-f]{2}){5}$")


class Inquiry(DevsimCase):
    def test_each_device_answers_once_with_its_identity(self):
        self.start("--devices", "3", "--no-hello")
        answers, uid = self.inquire(3)
        self.wait_log(lambda e: e["event"] == "request" and e.get("duplicate"))
        answers += self.host.pending()
        self.assertEqual(3, len(answers), "one answer per device although both ports heard it")
        for a in answers:
            self.assertTrue(xmllint_ok(a.data), a.data)
            self.assertEqual("Probe", a.root.tag)
            self.assertEqual(("inquiry", uid), (a["Types"], a["Uuid"]))
            self.assertEqual(37020, a.port)
            self.assertRegex(a["MAC"], MAC_RE)
            self.assertRegex(a["Salt"], r"^[0-9a-f]{64}$")
            self.assertEqual("255.255.255.0", a["IPv4SubnetMask"])
            self.assertEqual("3.0", a["DRAVVersion"])
            for name in ("DeviceType", "CommandPort", "HttpPort", "DiskNumber"):
                self.assertRegex(a[name], r"^\d+$")
        for name in ("MAC", "DeviceSN", "IPv4Address", "IPv6Address"):
            self.assertEqual(3, len({a[name] for a in answers}), name)
        self.assertTrue(all(a["IPv4Address"].startswith("10.99.1.") for a in answers))
        heard = [e for e in self.events() if e["event"] == "request"]
        self.assertEqual([(37020, False, 3), (35090, True, 0)],
                         [(e["port"], e["duplicate"], e["answers"]) for e in heard])
        self.assertEqual(("inquiry", uid, "10.99.1.1"),
                         (heard[0]["type"], heard[0]["uuid"], heard[0]["src"].split(":")[0]))
        self.assertEqual("239.255.255.250", heard[0]["dst"])
        self.assertEqual({"Uuid": uid, "Types": "inquiry"}, heard[0]["elements"])

    def test_reply_modes_and_hello(self):
        for reply, ports in (("37020", {37020}), ("35090", {35090}), ("both", {37020, 35090}),
                             ("sender", {"unicast"}), ("both,sender", {37020, 35090, "unicast"})):
            with self.subTest(reply=reply):
                try:
                    self.start("--devices", "2", "--first", "10", "--reply", reply)
                    # hello has no sender to answer: unicast alone announces on 37020
                    hello_ports = (ports - {"unicast"}) or {37020}
                    hello = self.host.collect(lambda a: len(a) >= 2 * len(hello_ports))
                    self.assertEqual(hello_ports, {a.port for a in hello})
                    self.assertEqual({"hello"}, {a["Types"] for a in hello})
                    self.assertEqual(2, len({a["MAC"] for a in hello}))
                    answers, uid = self.inquire(2 * len(ports))
                    self.wait_log(lambda e: e["event"] == "request" and e.get("duplicate"))
                    answers += self.host.pending()
                    self.assertEqual(ports, {a.port for a in answers})
                    self.assertEqual(2 * len(ports), len(answers))
                    self.assertEqual({uid}, {a["Uuid"] for a in answers})
                    unicast = {a.src[0] for a in answers if a.port == "unicast"}
                    self.assertEqual({PEER_ADDR} if "unicast" in ports else set(), unicast)
                finally:
                    self.stop()

    def test_change_then_silence_then_back(self):
        self.start("--devices", "3", "--no-hello", "--change-after", "0.3:Salt:0",
                   "--change-after", "0.3:SoftwareVersion:2", "--silent-after", "0.6:1:0.6")
        before, _ = self.inquire(3)
        by_mac = {a["MAC"]: a.fields for a in before}
        self.wait_log(lambda e: e["event"] == "change" and e["element"] == "SoftwareVersion")
        after, uid = self.inquire(3)
        changed = {a["MAC"]: sorted(k for k in a.fields if k != "Uuid" and
                                    a.fields[k] != by_mac[a["MAC"]][k]) for a in after}
        macs = sorted(by_mac)
        self.assertEqual({macs[0]: ["Salt"], macs[1]: [], macs[2]: ["SoftwareVersion"]}, changed)
        self.wait_log(lambda e: e["event"] == "silent")
        quiet, uid = self.inquire(2)
        self.wait_log(lambda e: e["event"] == "request" and e.get("uuid") == uid)
        quiet += self.host.pending()
        self.assertEqual({macs[0], macs[2]}, {a["MAC"] for a in quiet})
        self.wait_log(lambda e: e["event"] == "back")
        back, _ = self.inquire(3)
        self.assertEqual(set(macs), {a["MAC"] for a in back})

    def test_fields_are_set_and_left_out(self):
        self.start("--no-hello", "--devices", "2", "--first", "7", "--field", "DeviceSN=TVA-{n}",
                   "--field", "Salt", "--field", "OEMInfo=a<b&c", "--protocol", "3.0,3.1",
                   "--field-of", "1:DeviceSN=ONE-{i}", "--field-of", "0:HttpPort")
        answers, _ = self.inquire(2)
        self.assertEqual({"TVA-7", "ONE-1"}, {a["DeviceSN"] for a in answers})
        self.assertEqual([False, True], sorted("HttpPort" in a.fields for a in answers))
        for a in answers:
            self.assertNotIn("Salt", a.fields)
            self.assertEqual(("a<b&c", "3.0,3.1"), (a["OEMInfo"], a["DRAVVersion"]))
            self.assertTrue(xmllint_ok(a.data))

    def test_encrypted_versions_open_under_the_fixed_key(self):
        self.start("--no-hello", "--encrypt-versions", "--field", "SoftwareVersion=plain")
        answer = self.inquire(1)[0][0]
        self.assertEqual("plain", answer["SoftwareVersion"])
        for name, length in (("SoftwareVersion", 47), ("DSPVersion", 47), ("OEMInfo", 31)):
            raw = base64.b64decode(answer[name + "Encrypt"])
            self.assertTrue(1 <= len(raw) <= length, name)
            plain = subprocess.run(
                ["openssl", "enc", "-d", "-aes-128-ecb", "-nopad", "-K", b"TRUVOLMEZDAKPINQ".hex()],
                input=raw, capture_output=True, check=True).stdout
            self.assertIn(b"\0", plain)  # the reader finds the end inside the block
            text = plain.split(b"\0")[0].decode()
            self.assertEqual(answer[name] if name != "SoftwareVersion" else "V5.7.3build 261210",
                             text)

    def test_stops_after_its_seconds(self):
        proc = self.start("--no-hello", "--seconds", "0.3")
        self.assertEqual(0, proc.wait(10))
        self.procs.remove(proc)
        self.assertEqual("stop", self.events()[-1]["event"])

    def test_hostile_requests_are_logged_and_survived(self):
        self.start("--no-hello")
        cases = {
            "not xml": b"hello there",
            "root Answer": b"<Answer><Types>inquiry</Types></Answer>",
            "no Types": b"<Probe><Uuid>x</Uuid></Probe>",
            "no Types ": b"<Probe><Uuid>x</Uuid><Types></Types></Probe>",
            "doctype": b'<!DOCTYPE p [<!ENTITY a "aaaa">]><Probe><Types>&a;</Types></Probe>',
            "not xml ": b"<Probe>" * 9000,
            "not xml  ": b"<Probe><Types>\xff\xfe</Types></Probe>",
            "not xml   ": b"<Probe><Types>inquiry</Types>\0</Probe>",
        }
        for data in cases.values():
            self.host.unicast.sendto(data, (PEER_ADDR, 37019))
        self.wait_log(lambda e: len([x for x in self.events() if x.get("error")]) == len(cases))
        errors = [e["error"] for e in self.events() if e.get("error")]
        self.assertEqual(sorted(k.strip() for k in cases),
                         sorted(re.sub(r":.*", "", e) for e in errors))
        answers, uid = self.inquire(1)
        self.assertEqual(uid, answers[0]["Uuid"])

    def test_paced_answers_take_their_time(self):
        self.start("--no-hello", "--devices", "100", "--rate", "400")
        data, _ = inquiry()
        t0 = time.monotonic()
        self.host.send_both(data)
        answers = self.host.collect(lambda a: len(a) >= 100)
        self.assertGreaterEqual(time.monotonic() - t0, 0.2)  # 100 answers at 400/s
        self.assertEqual(100, len({a["MAC"] for a in answers}))

    def test_many_devices_as_fast_as_possible(self):
        self.start("--no-hello", "--devices", "1000")
        answers, _ = self.inquire(1000)
        self.assertEqual(1000, len({a["MAC"] for a in answers}))


class Subnet(DevsimCase):
    def test_answers_for_the_addresses_the_namespace_holds(self):
        subprocess.run(["ip", "route", "replace", "10.98.0.0/24", "via", PEER_ADDR], check=True)
        for addr in ("10.98.0.5", "10.98.0.6"):
            subprocess.run(["ip", "-n", PEER, "addr", "add", addr + "/32", "dev", "lo"], check=True)
        self.start("--no-hello", "--devices", "2")
        sent = {}
        for host in (4, 5, 6):
            uid = "00000000-0000-4000-8000-%012d" % host
            data = ('<?xml version="1.0" encoding="utf-8"?><Probe><Uuid>%s</Uuid>'
                    '<Types>inquiry_v32</Types></Probe>' % uid).encode()
            self.host.unicast.sendto(data, ("10.98.0.%d" % host, 37019))
            sent["10.98.0.%d" % host] = uid
        answers = self.host.collect(lambda a: len(a) >= 2)
        self.wait_log(lambda e: e.get("dst") == "10.98.0.6")
        answers += self.host.pending()
        self.assertEqual(["10.98.0.5", "10.98.0.6"], sorted(a.src[0] for a in answers))
        for a in answers:
            self.assertTrue(xmllint_ok(a.data))
            self.assertEqual(("inquiry_v32", sent[a.src[0]], a.src[0]),
                             (a["Types"], a["Uuid"], a["IPv4Address"]))
            for name in ("DeviceType", "DeviceDescription", "DeviceSN", "IPv4SubnetMask",
                         "IPv4Gateway", "IPv6Address", "IPv6Gateway", "IPv6MaskLen",
                         "supportIPv6", "supportModifyIPv6", "IPv4DHCPAbility", "IPv4DHCP"):
                self.assertIn(name, a.fields)
        self.assertNotEqual(answers[0]["DeviceSN"], answers[1]["DeviceSN"])


class Guard(unittest.TestCase):
    def test_refuses_outside_a_test_namespace(self):
        run = subprocess.run(["unshare", "-n", DEVSIM, "--seconds", "1"], capture_output=True,
                             text=True)
        self.assertEqual(77, run.returncode)
        self.assertIn("refusing", run.stderr)


if __name__ == "__main__":
    unittest.main()
