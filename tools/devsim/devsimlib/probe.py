"""Probe messages: reading a request, writing an answer."""
import uuid
import xml.etree.ElementTree as ET
from xml.sax.saxutils import escape

DECLARATION = '<?xml version="1.0" encoding="UTF-8"?>'


class BadProbe(Exception):
    """A datagram that is not a Probe request; the text says why."""


class Request:
    """A parsed Probe: its type word, Uuid, MAC and the texts of its direct children."""

    def __init__(self, root):
        self.root = root
        self.children = {}
        for child in root:
            self.children.setdefault(child.tag, child.text or "")
        self.type = self.children.get("Types", "")
        self.uuid = self.children.get("Uuid")
        self.mac = self.children.get("MAC")

    def get(self, name, default=""):
        return self.children.get(name, default)

    def element(self, name):
        return self.root.find(name)

    def is_device_answer(self):
        """Answers of other devices share the groups; they carry a serial number."""
        return self.type in ("hello", "inquiry", "inquiry_v32") and "DeviceSN" in self.children


def parse(data):
    if b"<!DOCTYPE" in data or b"<!ENTITY" in data:
        raise BadProbe("doctype")  # no entity expansion from the network
    try:
        root = ET.fromstring(data)
    except ET.ParseError as e:
        raise BadProbe("not xml: %s" % e) from None
    if root.tag != "Probe":
        raise BadProbe("root %s" % root.tag[:64])
    req = Request(root)
    if not req.type:
        raise BadProbe("no Types")
    return req


def new_uuid():
    return str(uuid.uuid4()).upper()


def element_text(name, value):
    if isinstance(value, list):  # nested elements
        inner = "".join(element_text(n, v) for n, v in value)
        return "<%s>%s</%s>" % (name, inner, name)
    return "<%s>%s</%s>" % (name, escape(str(value)), name)


def build(type_word, uuid_text, elements):
    """The answer text; `elements` is a list of (name, value) pairs, a list value nests."""
    head = "%s<Probe><Uuid>%s</Uuid><Types>%s</Types>" % (
        DECLARATION, escape(uuid_text or ""), escape(type_word))
    return (head + "".join(element_text(n, v) for n, v in elements) + "</Probe>").encode()


def build_template(type_word, elements):
    """An answer split around its Uuid, so that answers are joined, not printed, per inquiry."""
    marker = "\x00UUID\x00"
    text = build(type_word, marker, elements)
    head, tail = text.split(marker.encode())
    return head, tail
