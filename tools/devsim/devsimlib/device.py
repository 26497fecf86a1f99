"""One simulated device: its identity, its answer elements and its secrets."""
import ipaddress
import os

from . import secure

# Elements whose value is a decimal number; a scheduled change counts them up.
NUMERIC = {"DeviceType", "CommandPort", "HttpPort", "AnalogChannelNum", "DigitalChannelNum",
           "DiskNumber", "IPv6MaskLen", "DetailOEMCode", "MaxBindNum", "HttpsPort",
           "SDKOverTLSPort", "TOVUKBindStatus"}

# Elements that may be sent again encrypted under the fixed answer key.
ENCRYPTABLE = ("SoftwareVersion", "DSPVersion", "OEMInfo")

USER_NAME = "admin"
RETRIES = 5


def is_ipv4(text):
    try:
        return ipaddress.IPv4Address(text) < ipaddress.IPv4Address("255.255.255.255")
    except ValueError:
        return False


def salt_text():
    return os.urandom(32).hex()


class Device:
    """Identity and state of device number `number`; `net` is the interface it lives on."""

    def __init__(self, number, net, opts):
        self.number = number
        self.silent = False
        self.change_count = 0
        mac = (0x02D5 << 32) | (number & 0xFFFFFFFF)
        self.mac_bytes = mac.to_bytes(6, "big")
        self.mac = "-".join("%02x" % b for b in self.mac_bytes)
        ipv4 = net.device_ipv4(number - opts.first)
        self.password = b"" if opts.inactive else opts.password.encode()
        self.code = "RC%010d" % number           # getcode and the reset requests
        self.code8 = "%08d" % (number % 10**8)    # short reset and phone-number reset
        self.guid = "GUID-%08d-SIMULATED" % number
        self.answers = {1: "blue", 2: "seven", 3: "river"}  # security question ID -> answer
        self.random = b""                         # random string of the last exchange code
        self.retry = RETRIES                      # wrong secrets left before the lock
        self.elements = self._default_elements(number, ipv4, net, opts)
        self.plain = dict((k, self.elements[k]) for k in ENCRYPTABLE)
        self.encrypt_versions = opts.encrypt_versions
        fields = list(opts.fields)
        fields += [(name, value) for picks, name, value in opts.device_fields if number - opts.first in picks]
        for name, value in fields:
            if value is None:
                self.elements.pop(name, None)
            else:
                self.elements[name] = self._expand(value, number, number - opts.first)

    @staticmethod
    def _expand(value, number, position):
        """{n} and {i} in a --field value; other braces stay as they are."""
        try:
            return value.format(n=number, i=position)
        except (KeyError, IndexError, ValueError):
            return value

    @staticmethod
    def _default_elements(number, ipv4, net, opts):
        return {
            "DeviceType": "139",
            "DeviceDescription": "DS-SIM%04d" % (number % 10000),
            "DeviceSN": "DS-SIM%04d-%012d" % (number % 10000, number),
            "CommandPort": "8000",
            "HttpPort": "80",
            "MAC": None,  # filled from the identity
            "IPv4Address": str(ipv4),
            "IPv4SubnetMask": str(net.ipv4.netmask),
            "IPv4Gateway": str(net.gateway),
            "IPv6Address": str(net.device_ipv6(number - opts.first)),
            "IPv6Gateway": "::",
            "IPv6MaskLen": str(net.ipv6_prefix),
            "DHCP": "false",
            "AnalogChannelNum": "0",
            "DigitalChannelNum": "4",
            "SoftwareVersion": "V5.7.3build 261210",
            "DSPVersion": "V7.3build 261210",
            "BootTime": "2026-12-10 00:00:00",
            "DiskNumber": "1",
            "OEMInfo": "SIMULATOR",
            "Encrypt": "true",
            "ResetAbility": "false",
            "PasswordResetAbility": "true",
            "SyncIPCPassword": "true",
            "Activated": "false" if opts.inactive else "true",
            "PasswordResetModeSecond": "true",
            "DeviceLock": "true",
            "SupportGUID": "true",
            "SupportSecurityQuestion": "true",
            "SupportBind": "true",
            "SupportRestoreInactive": "true",
            "supportWifiEnhancement": "false",
            "Salt": salt_text(),
            "DRAVVersion": opts.protocol,
            "UserName": USER_NAME,
            "supportIPv6": "true",
            "supportModifyIPv6": "true",
            "DHCPAbility": "true",
            "OEMCode": "false",
            "DetailOEMCode": "0",
            "SupportKWPlatform": "true",
            "KWPlatformEnable": "false",
            "MaxBindNum": "8",
            "codeEncrypt": "true",
            "SupportPasswordResetType": "true",
            "supportTovukUnbind": "true",
            "HttpsPort": "443",
            "SDKOverTLSPort": "8443",
            "SDKServerStatus": "true",
            "SDKOverTLSServerStatus": "true",
            "SecurityMode": "standard",
            "manufacturer": "devsim",
        }

    # -- answers ---------------------------------------------------------------------------
    def answer_elements(self):
        """The children of an inquiry or hello answer, in sending order."""
        items = []
        for name, value in self.elements.items():
            items.append((name, self.mac if name == "MAC" else value))
            if self.encrypt_versions and name in ENCRYPTABLE:
                items.append((name + "Encrypt", secure.encrypt_answer_text(self.plain[name])))
        return items

    def subnet_elements(self, address):
        """The children of a subnet inquiry answer for one of the namespace's addresses."""
        names = ("DeviceType", "DeviceDescription", "DeviceSN", "MAC", "IPv4Address",
                 "IPv4SubnetMask", "IPv4Gateway", "IPv6Address", "IPv6Gateway", "IPv6MaskLen",
                 "supportIPv6", "supportModifyIPv6")
        items = [(n, self.mac if n == "MAC" else self.elements.get(n)) for n in names]
        items = [(n, address if n == "IPv4Address" else v) for n, v in items if v is not None]
        items.append(("IPv4DHCPAbility", self.elements.get("DHCPAbility", "true")))
        items.append(("IPv4DHCP", self.elements.get("DHCP", "false")))
        return items

    # -- state -----------------------------------------------------------------------------
    @property
    def activated(self):
        return bool(self.password)

    def salts(self):
        """First and second salt as the host keeps them: over 64 characters counts as none."""
        def salt(name):
            text = self.elements.get(name) or ""
            return text.encode() if len(text) <= 64 else b""
        return salt("Salt"), salt("Salt2")

    def set_password(self, password):
        self.password = password
        self.update({"Activated": "true"})

    def deactivate(self):
        self.password = b""
        self.update({"Activated": "false"})

    def update(self, values):
        """New values from a request; answers are built anew from here on."""
        self.elements.update(values)
        self.change_count += 1

    def change(self, name):
        """Gives one element a new value, as a device does when its settings change."""
        self.change_count += 1
        old = self.elements.get(name)
        if name in ("Salt", "Salt2"):
            new = salt_text()
        elif name in NUMERIC and (old or "0").isdigit():
            new = str(int(old or 0) + 1)
        elif name in ("IPv4Address", "IPv4Gateway") and is_ipv4(old):
            new = str(ipaddress.IPv4Address(old) + 1)
        elif name in ("DHCP", "Activated") or old in ("true", "false"):
            new = "false" if old == "true" else "true"
        else:
            new = "%s-c%d" % ((old or "")[:40], self.change_count)
        self.elements[name] = new
        if name in ENCRYPTABLE:
            self.plain[name] = new
        return old, new
