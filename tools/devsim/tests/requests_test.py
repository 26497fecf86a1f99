"""devsim answering the requests of protocols 3.0 and 3.1; the host side is played with the
openssl command as the outside reference."""
import base64
import hashlib
import os
import subprocess
import tempfile
import unittest
import uuid

from lab import DevsimCase, request, xmllint_ok
from devsimlib import secure

NEW_PASSWORD = b"Abcd12345"
SIM_PASSWORD = b"Sim12345"


def openssl(*args, data=b""):
    return subprocess.run(["openssl"] + list(args), input=data, check=True,
                          capture_output=True).stdout


def zero_fill(data, size=None):
    size = size or len(data) + (-len(data) % 16)
    return data.ljust(size, b"\0")


def aes(mode, key, data, iv=None, decrypt=False):
    args = ["enc", "-aes-128-" + mode, "-K", key.hex(), "-nopad"] + (["-d"] if decrypt else [])
    return openssl(*(args + (["-iv", iv.hex()] if iv else [])), data=data)


def b64(data):
    return base64.b64encode(data).decode()


class RsaPair:
    """The host's key pair of one exchange: its public half in DER PKCS#1, Base64."""

    def __init__(self, bits):
        self.dir = tempfile.mkdtemp(prefix="devsim-rsa-")
        self.key = os.path.join(self.dir, "key.pem")
        openssl("genrsa", "-out", self.key, str(bits))
        self.public = b64(openssl("rsa", "-in", self.key, "-RSAPublicKey_out", "-outform", "DER"))

    def decrypt(self, text):
        return openssl("pkeyutl", "-decrypt", "-inkey", self.key, "-pkeyopt",
                       "rsa_padding_mode:pkcs1", data=base64.b64decode(text))

    def close(self):
        subprocess.run(["rm", "-rf", self.dir])


class RequestCase(DevsimCase):
    def setUp(self):
        super().setUp()
        self.keys = {}

    def tearDown(self):
        for pair in self.keys.values():
            pair.close()
        super().tearDown()

    def device(self, *args):
        """Starts one device and returns its inquiry answer."""
        self.start("--no-hello", *args)
        answers, _ = self.inquire(1)
        return answers[0].fields

    def ask(self, types, mac, **elements):
        """One request to both ports; exactly one answer, well-formed, for our Uuid and MAC."""
        data, uid = request(types, mac, **elements)
        self.host.send_both(data)
        answer = self.host.collect(lambda a: len(a) >= 1)[0]
        self.assertTrue(xmllint_ok(answer.data), answer.data)
        self.assertEqual((types, uid, mac), (answer["Types"], answer["Uuid"], answer["MAC"]))
        return answer.fields

    def exchange(self, mac, v31=False):
        bits = 2048 if v31 else 1024
        pair = self.keys.get(bits) or self.keys.setdefault(bits, RsaPair(bits))
        got = self.ask("exchangecode_v31" if v31 else "exchangecode", mac, Code=pair.public)
        self.assertEqual("success", got["Result"])
        r16 = pair.decrypt(got["Code"])[:16]
        self.assertEqual(16, len(r16))
        return r16

    # protocol 3.0: the random string is the key and the first block
    def enc30(self, r16, text, size=32):
        return b64(aes("ecb", r16, zero_fill(r16 + text, size)))


class Protocol30(RequestCase):
    def test_activate_then_update_the_salted_way(self):
        dev = self.device("--inactive")
        mac, salt = dev["MAC"], dev["Salt"].encode()
        self.assertEqual("false", dev["Activated"])
        r16 = self.exchange(mac)
        self.assertEqual("success", self.ask("activate", mac,
                                             Password=self.enc30(r16, NEW_PASSWORD))["Result"])
        self.assertEqual("hasActivated",
                         self.ask("activate", mac, Password=self.enc30(r16, b"x"))["Result"])
        # update: MD5 of the hex SHA-256 of user, salt and password, then under itself with ";Uuid"
        for password, result in ((b"wrong-pw", "failed"), (NEW_PASSWORD, "success")):
            h1 = hashlib.sha256(b"admin" + salt + password).hexdigest().encode()
            d = hashlib.md5(h1).digest()
            uid = str(uuid.uuid4())  # the Uuid enters the cipher text
            cipher = aes("ecb", d, zero_fill(d + b";" + uid.encode(), 64))
            data, _ = request("update", mac, uid=uid, IPv4Address="10.99.1.77", CommandPort=8001,
                              Password=b64(cipher))
            self.host.send_both(data)
            got = self.host.collect(lambda a: len(a) >= 1)[0]
            self.assertEqual((result, uid), (got["Result"], got["Uuid"]))
            if result == "failed":
                self.assertEqual(("4", "0"), (got["RetryModifyTime"], got["SurplusLockTime"]))
        now, _ = self.inquire(1)
        self.assertEqual(("10.99.1.77", "8001", "true"),
                         (now[0]["IPv4Address"], now[0]["CommandPort"], now[0]["Activated"]))

    def test_reset_with_the_encrypted_code_sets_a_new_password(self):
        mac = self.device()["MAC"]
        code = self.ask("getcode", mac)["Code"].encode()
        r16 = self.exchange(mac)
        for sent, result in ((b"RC-wrong", "failed"), (code, "success")):
            got = self.ask("reset", mac, Password=self.enc30(r16, NEW_PASSWORD),
                           **{'Code bEncrypt="true"': self.enc30(r16, sent, 48)})
            self.assertEqual(result, got["Result"])
        # the old password no longer opens anything, the new one does
        for password, result in ((SIM_PASSWORD, "failed"), (NEW_PASSWORD, "success")):
            got = self.ask("ExportGUID", mac, Password=self.enc30(r16, password))
            self.assertEqual(result, got["Result"])
        self.assertTrue(base64.b64decode(got["GUID"]).startswith(b"GUID-"))

    def test_wrong_passwords_lock_the_device(self):
        mac = self.device()["MAC"]
        r16 = self.exchange(mac)
        words = [self.ask("SetMailBox", mac, Password=self.enc30(r16, b"bad"))["Result"]
                 for _ in range(6)]
        self.assertEqual(["failed"] * 4 + ["locked"] * 2, words)

    def test_plain_reads(self):
        mac = self.device()["MAC"]
        table = {
            "getcode": ("success", "Code"),
            "getencryptstring": ("success", "EncryptString"),
            "deviceTypeUnlockCode": ("success", "Code"),
            "getsecurityquestion": ("success", "QuestionList"),
            "getBindList": ("success", "DeviceSNList"),
            "selfCheck": ("success", "TemperatureState"),
            "getUnbindStatus": ("notBind", None),
            "getPasswordResetType": ("success", "SecurityEmailEnabled"),
            "GetQRcodes": ("success", "MailBox"),
            "GetPhoneNoQRCode": ("success", "DomainName"),
            "diskLocate": ("success", None),
        }
        for types, (result, element) in table.items():
            with self.subTest(types=types):
                got = self.ask(types, mac)
                self.assertEqual(result, got["Result"])
                if element:
                    self.assertIn(element, got)

    def test_only_the_addressed_device_answers_known_requests(self):
        self.start("--no-hello", "--devices", "2")
        answers, _ = self.inquire(2)
        for types, mac in (("getcode", "02-00-00-00-00-99"), ("noSuchRequest", answers[0]["MAC"])):
            data, uid = request(types, mac)
            self.host.send_both(data)
            self.wait_log(lambda e: e.get("uuid") == uid and e.get("duplicate"))
            self.assertEqual([], self.host.pending())
        got = self.ask("getcode", answers[1]["MAC"])
        self.assertEqual("success", got["Result"])


class Hostile(RequestCase):
    def test_malformed_secrets_are_refused_without_a_fault(self):
        mac = self.device("--inactive")["MAC"]
        ec_key = os.path.join(tempfile.mkdtemp(prefix="devsim-ec-"), "ec.pem")
        self.addCleanup(subprocess.run, ["rm", "-rf", os.path.dirname(ec_key)])
        openssl("ecparam", "-name", "prime256v1", "-genkey", "-out", ec_key)
        ec_public = b64(openssl("ec", "-in", ec_key, "-pubout", "-outform", "DER"))
        long_text = b64(os.urandom(7500))  # 10 KB of Base64
        cases = [
            ("exchangecode", {"Code": "not base64 !!"}, "failed"),
            ("exchangecode", {"Code": b64(b"no key here")}, "failed"),
            ("exchangecode", {"Code": ec_public}, "failed"),
            ("exchangecode_v31", {}, "failed"),
            ("activate", {"Password": long_text}, "failed"),  # no random string yet
            ("activate_v31", {"Password": "%%%", "Iv": "zz"}, "failed"),
            ("update", {"Password": long_text}, "notActivated"),
            ("reset", {'Code bEncrypt="true"': "###", "Password": "AAAA"}, "failed"),
            ("AnswerReset", {"QuestionList": "<Question><ID>x</ID></Question>"}, "failed"),
            ("reset2_v31", {"Password": long_text, "Iv": "00" * 15}, "failed"),
            ("GUIDReset", {"GUID": "\u00ff\u00fe", "Password": ""}, "failed"),
        ]
        for types, elements, result in cases:
            with self.subTest(types=types, elements=sorted(elements)):
                self.assertEqual(result, self.ask(types, mac, **elements)["Result"])
        self.assertEqual([], [e for e in self.events() if e["event"] == "fault"])

    def test_public_key_forms(self):
        pair = RsaPair(1024)
        self.addCleanup(pair.close)
        forms = {
            "PKCS#1 DER": ["-RSAPublicKey_out", "-outform", "DER"],
            "SubjectPublicKeyInfo DER": ["-pubout", "-outform", "DER"],
            "PEM": ["-pubout"],
        }
        for name, args in forms.items():
            with self.subTest(form=name):
                public = b64(openssl("rsa", "-in", pair.key, *args))
                key = secure.load_public_key(public)
                self.assertIsNotNone(key)
                self.assertEqual(b"sixteen bytes ok", pair.decrypt(
                    b64(secure.rsa_encrypt(key, b"sixteen bytes ok"))))


class Protocol31(RequestCase):
    """3.1: RSA-2048 exchange, AES-128-CBC with the Iv element."""

    IV = bytes(range(16))

    def cbc(self, key, prefix, text):
        return b64(aes("cbc", key, zero_fill(prefix + text), iv=self.IV))

    def config_key(self, r16, word, salt, password):
        d = hashlib.sha256(b"admin" + salt + password).digest().split(b"\0")[0]
        return hashlib.sha256(r16 + word.encode() + d).digest()[:16]

    def test_activate_update_and_export_guid(self):
        dev = self.device("--inactive", "--protocol", "3.1")
        mac, salt = dev["MAC"], dev["Salt"].encode()
        r16 = self.exchange(mac, v31=True)
        got = self.ask("activate_v31", mac, Password=self.cbc(r16, r16, NEW_PASSWORD),
                       Iv=self.IV.hex())
        self.assertEqual("success", got["Result"])
        for password, result in ((b"wrong-pw", "failed"), (NEW_PASSWORD, "success")):
            key = self.config_key(r16, "update_v31", salt, password)
            got = self.ask("update_v31", mac, Password=self.cbc(key, r16, b""), Iv=self.IV.hex(),
                           IPv4Address="10.99.1.88")
            self.assertEqual(result, got["Result"])
        key = self.config_key(r16, "ExportGUID_v31", salt, NEW_PASSWORD)
        got = self.ask("ExportGUID_v31", mac, Password=self.cbc(key, r16, b""), Iv=self.IV.hex())
        plain = aes("cbc", key, base64.b64decode(got["GUID"]), iv=self.IV, decrypt=True)
        self.assertEqual(r16, plain[:16])
        self.assertTrue(plain[16:].startswith(b"GUID-"))
        now, _ = self.inquire(1)
        self.assertEqual("10.99.1.88", now[0]["IPv4Address"])

    def test_short_code_reset_needs_no_exchange(self):
        mac = self.device("--protocol", "3.0,3.1", "--first", "42")["MAC"]
        for code, result in ((b"00000041", "failed"), (b"00000042", "success")):
            key = hashlib.sha256(self.IV + code).digest()[:16]
            got = self.ask("reset2_v31", mac, Password=self.cbc(key, self.IV, NEW_PASSWORD),
                           Iv=self.IV.hex())
            self.assertEqual(result, got["Result"])
        r16 = self.exchange(mac, v31=True)
        key = self.config_key(r16, "tovukUnbind_v31", b"", NEW_PASSWORD)
        got = self.ask("tovukUnbind_v31", mac, Password=self.cbc(key, r16, b""), Iv=self.IV.hex())
        self.assertNotEqual("success", got["Result"])  # the device has a salt: unsalted fails


if __name__ == "__main__":
    unittest.main()
