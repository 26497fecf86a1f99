"""Answers to the requests addressed to one device (protocols 3.0 and 3.1).

Each handler takes the device and the request and returns the Result word and the further
elements of the answer. Secrets are checked the way the device side of each scheme allows."""
import hashlib

from . import secure
from .device import RETRIES, USER_NAME
from .secure import b64, cstr, unb64

LOCK_SECONDS = 30
UPDATE_FIELDS = ("IPv4Address", "IPv4SubnetMask", "IPv4Gateway", "CommandPort", "HttpPort",
                 "IPv6Address", "IPv6Gateway", "IPv6MaskLen", "DHCP", "SDKOverTLSPort")


class Secrets:
    """Opens the secrets of one request under the device's current random string."""

    def __init__(self, device, req):
        self.device = device
        self.req = req
        self.r16 = device.random[:16]

    # protocol 3.0: AES-128-ECB under the random string, the random string first
    def open30(self, text):
        plain = secure.ecb_decrypt(self.r16, unb64(text)) if len(self.r16) == 16 else None
        if not plain or plain[:16] != self.r16:
            return None
        return cstr(plain[16:])

    def answer30(self, text):
        """Security answers go without the random-string prefix."""
        plain = secure.ecb_decrypt(self.r16, unb64(text)) if len(self.r16) == 16 else None
        return cstr(plain) if plain else None

    # protocol 3.1: AES-128-CBC with the request's IV, a 16-byte prefix the device knows
    def iv(self):
        try:
            iv = bytes.fromhex(self.req.get("Iv"))
        except ValueError:
            return None
        return iv if len(iv) == 16 else None

    def open31(self, text, key, prefix):
        iv = self.iv()
        if iv is None or len(prefix) != 16:
            return None
        plain = secure.cbc_decrypt(key, iv, unb64(text))
        if not plain or plain[:16] != prefix:
            return None
        return cstr(plain[16:])

    def config_key(self, word):
        """The key of the common 3.1 scheme: random string, type word, salted digest."""
        salt, salt2 = self.device.salts()
        digest = secure.password_digest_v31(USER_NAME.encode(), self.device.password[:16], salt,
                                            salt2)
        return secure.key_v31(self.r16, word.encode(), digest)

    def iv_key(self, secret):
        """Key of the resets that need no exchange: SHA-256 of the IV and a secret."""
        iv = self.iv() or b""
        return secure.sha256(iv + secret)[:16]


def refused(device, retry="RetryTimes"):
    """A wrong secret costs one try; the last one locks the device for a while."""
    device.retry = max(0, device.retry - 1)
    word = "locked" if device.retry == 0 else "failed"
    lock = 0 if device.retry else LOCK_SECONDS
    return word, [(retry, device.retry), ("SurplusLockTime", lock)]


def accepted(device, elements=()):
    device.retry = RETRIES
    return "success", list(elements)


def checked(device, ok, elements=(), retry="RetryTimes"):
    if not device.activated:
        return "notActivated", []
    if device.retry == 0:
        return "locked", [(retry, 0), ("SurplusLockTime", LOCK_SECONDS)]
    return accepted(device, elements) if ok else refused(device, retry)


# -- key exchange ----------------------------------------------------------------------------
def exchange(device, req):
    key = secure.load_public_key(req.get("Code"))
    random = secure.random_string(16)
    cipher = secure.rsa_encrypt(key, random) if key else None
    if cipher is None:
        return "failed", []
    device.random = random
    return "success", [("Code", b64(cipher))]


# -- protocol 3.0 ----------------------------------------------------------------------------
def activate(device, req):
    if device.activated:
        return "hasActivated", []
    password = Secrets(device, req).open30(req.get("Password"))
    if password is None:
        return "failed", []
    return set_new_password(device, password)


def set_new_password(device, password):
    if len(password) < 8:
        return "riskPassword", []
    device.set_password(password[:16])
    return accepted(device)


def password_ok30(device, req):
    return Secrets(device, req).open30(req.get("Password")) == device.password[:16]


def update(device, req):
    salt, salt2 = device.salts()
    digest = secure.salted_digest_v30(USER_NAME.encode(), device.password[:16], salt, salt2)
    expected = digest
    if device.elements.get("Encrypt") == "true":
        plain = (digest + b";" + (req.uuid or "").encode()).ljust(64, b"\0")[:64]
        expected = secure.ecb_encrypt(digest, plain)
    return apply_update(device, req, unb64(req.get("Password")) == expected)


def apply_update(device, req, ok):
    word, elements = checked(device, ok, retry="RetryModifyTime")
    if word == "success":
        device.update({n: req.get(n) for n in UPDATE_FIELDS if n in req.children})
    return word, elements


def reset(device, req):
    """reset and MailReset: the code the device handed out, plain or encrypted, and maybe a
    new password."""
    s = Secrets(device, req)
    code_element = req.element("Code")
    code = req.get("Code").encode()
    if code_element is not None and code_element.get("bEncrypt") == "true":
        code = s.open30(req.get("Code"))
    return new_password_if(device, code == device.code.encode(),
                           s.open30(req.get("Password")) if "Password" in req.children else b"")


def new_password_if(device, ok, password):
    if password is None or not ok:
        return refused(device)
    if password:
        return set_new_password(device, password)
    return accepted(device)


def guid_reset(device, req):
    s = Secrets(device, req)
    return new_password_if(device, unb64(req.get("GUID")) == device.guid.encode(),
                           s.open30(req.get("Password")))


def questions(req):
    """(ID, answer text) of each listed question, in order."""
    listed = req.element("QuestionList")
    found = []
    for q in (listed.findall("Question") if listed is not None else []):
        try:
            found.append((int(q.findtext("ID", "0")), q.findtext("Answer", "")))
        except ValueError:
            found.append((0, q.findtext("Answer", "")))
    return found


def answer_reset(device, req):
    s = Secrets(device, req)
    given = questions(req)
    ok = len(given) == 3 and all(
        s.answer30(a) == device.answers.get(i, "").encode() for i, a in given)
    return new_password_if(device, ok, s.open30(req.get("Password")))


def set_questions(device, req):
    s = Secrets(device, req)
    given = questions(req)
    if len(given) != 3:
        return "QuestionNumErr", []
    answers = {i: s.answer30(a) for i, a in given}
    word, elements = checked(device, password_ok30(device, req) and None not in answers.values())
    if word == "success":
        device.answers = {i: a.decode(errors="replace") for i, a in answers.items()}
    return word, elements


def export_guid(device, req):
    word, elements = checked(device, password_ok30(device, req))
    if word == "success":
        elements.append(("GUID", b64(device.guid.encode())))
    return word, elements


def on_success(answer, action, *args):
    if answer[0] == "success":
        action(*args)
    return answer


def password_ok(device, req):
    """The password proof of a settings request, in the protocol of its type word."""
    if req.type == "restoreInactive_v31":
        # this request carries no IV, so its one block cannot be opened: its size must do
        raw = unb64(req.get("Password"))
        return raw is not None and len(raw) == 16
    if req.type.endswith("_v31"):
        return config_ok(device, req)
    return password_ok30(device, req)


def restore_inactive(device, req):
    return on_success(checked(device, password_ok(device, req)), device.deactivate)


def kw_platform(device, req):
    return on_success(checked(device, password_ok(device, req)), device.update,
                      {"KWPlatformEnable": req.get("KWPlatformEnable")})


def password_only(device, req):
    """The settings a simulated device only acknowledges: the password decides."""
    return checked(device, password_ok(device, req))


def unbind_del_users(device, req):
    """Carries the unbind code alone, encrypted under the random string."""
    return checked(device, Secrets(device, req).open30(req.get("Code")) is not None)


# -- protocol 3.1 ----------------------------------------------------------------------------
def activate_v31(device, req):
    if device.activated:
        return "hasActivated", []
    s = Secrets(device, req)
    password = s.open31(req.get("Password"), s.r16, s.r16)
    if password is None:
        return "failed", []
    return set_new_password(device, password)


def config_ok(device, req):
    """The common 3.1 scheme with an empty plaintext: Password is the random string alone,
    under the key of the request's type word."""
    s = Secrets(device, req)
    return s.open31(req.get("Password"), s.config_key(req.type), s.r16) == b""


def update_v31(device, req):
    return apply_update(device, req, config_ok(device, req))


def export_guid_v31(device, req):
    s = Secrets(device, req)
    key = s.config_key(req.type)
    word, elements = checked(device, s.open31(req.get("Password"), key, s.r16) == b"")
    if word == "success":
        cipher = secure.cbc_encrypt(key, s.iv(), s.r16 + device.guid.encode())
        elements.append(("GUID", b64(cipher)))
    return word, elements


def mailbox_v31(device, req):
    s = Secrets(device, req)
    key = s.config_key(req.type)
    ok = (s.open31(req.get("Password"), key, s.r16) == b"" and
          s.open31(req.get("MailBox"), key, s.r16) is not None)
    return checked(device, ok)


def set_questions_v31(device, req):
    s = Secrets(device, req)
    key = s.config_key(req.type)
    given = questions(req)
    answers = {i: s.open31(a, key, s.r16) for i, a in given if i}
    ok = s.open31(req.get("Password"), key, s.r16) == b"" and None not in answers.values()
    word, elements = checked(device, ok)
    if word == "success":
        device.answers = {i: a.decode(errors="replace") for i, a in answers.items()}
    return word, elements


def reset_v31(device, req):
    s = Secrets(device, req)
    code = s.open31(req.get("Code"), s.r16, s.r16)
    return new_password_if(device, code == device.code.encode(),
                           s.open31(req.get("Password"), s.r16, s.r16))


def iv_reset(secret_of):
    """The 3.1 resets keyed by the IV and a secret the device knows (short code, GUID, mail
    code): the IV is also the prefix."""
    def handle(device, req):
        s = Secrets(device, req)
        password = s.open31(req.get("Password"), s.iv_key(secret_of(device)), s.iv() or b"")
        return new_password_if(device, password is not None, password)
    return handle


def short_code(device):
    return device.code8.encode()


def answer_reset_v31(device, req):
    s = Secrets(device, req)
    joined = b"".join(device.answers.get(i, "").encode() if i else b"" for i, _ in questions(req))
    key = hashlib.sha256(s.r16 + joined).digest()[:16]
    password = s.open31(req.get("Password"), key, s.r16)
    return new_password_if(device, password is not None, password)


# -- plain reads -----------------------------------------------------------------------------
def reads(device, req):
    t = req.type
    n = device.number
    if t in ("getcode", "getcode_v31"):
        return "success", [("Code", device.code)]
    if t in ("getencryptstring", "getencryptstring_v31"):
        return "success", [("EncryptString", b64(secure.sha256(device.code.encode())))]
    if t == "deviceTypeUnlockCode":
        return "success", [("Code", "UNLOCK-%08d" % n)]
    if t == "getsecurityquestion":
        return "success", [("QuestionList", [("Question", [("ID", i), ("mark", "true")])
                                             for i in sorted(device.answers)])]
    if t == "getBindList":
        return "success", [("DeviceSNList", [("DeviceSN", "BOUND-%08d-%d" % (n, k))
                                             for k in (1, 2)])]
    if t == "selfCheck":
        return "success", [("Progress", 100), ("TotalDisk", 1), ("GoodDisk", 1),
                           ("TemperatureState", "normal"), ("FanState", "normal"),
                           ("PowerState", "normal"), ("SASConnectState", "connected"),
                           ("TotalNetworkPort", 1), ("ConnectNetworkPort", 1),
                           ("CPU", "12%"), ("Memory", "30%")]
    if t == "getUnbindStatus":
        return "notBind", []
    if t == "getPasswordResetType":
        return "success", [(name, "true") for name in (
            "PasswordResetTypeEnabled", "GuidFileDataEnabled", "SecurityQuestionEnabled",
            "SecurityEmailEnabled", "KWVerificationCodeEnabled")]
    if t in ("GetQRcodes", "GetQRcodes_v31"):
        qr = "QR:%s:%s" % (device.mac, device.code)
        return "success", [("QRcodes", qr if t.endswith("_v31") else b64(qr.encode())),
                           ("MailBox", b64(b"admin@devsim.test")),
                           ("MailServiceBox", b64(b"service@devsim.test"))]
    if t == "GetPhoneNoQRCode":
        return "success", [("QRCode", "PHONE:%s" % device.mac), ("DomainName", "devsim.test"),
                           ("Model", device.elements.get("DeviceDescription", ""))]
    return "success", []  # diskLocate, lamp, deviceTypeCustom, wifiParamCfg, wifiParamCheck


HANDLERS = {
    "exchangecode": exchange, "exchangecode_v31": exchange,
    "activate": activate, "activate_v31": activate_v31,
    "update": update, "update_v31": update_v31,
    "reset": reset, "MailReset": reset, "GUIDReset": guid_reset, "AnswerReset": answer_reset,
    "reset_v31": reset_v31,
    "reset2_v31": iv_reset(short_code), "PhoneNoReset_v31": iv_reset(short_code),
    "GUIDReset_v31": iv_reset(lambda d: d.guid.encode()),
    "MailReset_v31": iv_reset(lambda d: d.code.encode()),
    "AnswerReset_v31": answer_reset_v31,
    "ExportGUID": export_guid, "ExportGUID_v31": export_guid_v31,
    "setsecurityquestion": set_questions, "setsecurityquestion_v31": set_questions_v31,
    "SetKWPlatform": kw_platform, "SetKWPlatform_v31": kw_platform,
    "restoreInactive": restore_inactive, "restoreInactive_v31": restore_inactive,
    "tovukUnbind_v31": password_only, "SetMailBox_v31": mailbox_v31,
    "tovukUnbindDelUsers": unbind_del_users,
}
HANDLERS.update({t: password_only for t in (
    "SetVerificationCode", "setBindList", "setWifiRegion", "setChannelDefaultPassword",
    "QadraEnable", "SetMailBox", "tovukUnbind", "SetUserToken")})
HANDLERS.update({t: reads for t in (
    "getcode", "getcode_v31", "getencryptstring", "getencryptstring_v31", "deviceTypeUnlockCode",
    "getsecurityquestion", "getBindList", "selfCheck", "getUnbindStatus", "getPasswordResetType",
    "GetQRcodes", "GetQRcodes_v31", "GetPhoneNoQRCode", "diskLocate", "lamp", "deviceTypeCustom",
    "wifiParamCfg", "wifiParamCheck")})


class Handlers:
    def answer(self, device, req):
        """(type word, elements) of the answer, or None for a request no device knows."""
        handler = HANDLERS.get(req.type)
        if handler is None:
            return None
        word, elements = handler(device, req)
        return req.type, [("Result", word)] + elements
