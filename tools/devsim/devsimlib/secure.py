"""The ciphers and digests of the device side of the protocol."""
import base64
import hashlib
import os
import string

from cryptography.exceptions import UnsupportedAlgorithm
from cryptography.hazmat.primitives import serialization
from cryptography.hazmat.primitives.asymmetric import padding, rsa
from cryptography.hazmat.primitives.ciphers import Cipher, algorithms, modes

# The one fixed key under which devices encrypt their version and OEM texts.
ANSWER_KEY = b"TRUVOLMEZDAKPINQ"


def zero_pad(data, multiple=16):
    """Zero-fills to a multiple of the block size; whole blocks stay as they are."""
    return data + b"\0" * (-len(data) % multiple)


def field(text, width):
    """A text as a fixed-width zero-filled field, cut to the width."""
    return text.encode()[:width].ljust(width, b"\0")


def cstr(data):
    """The bytes up to the first zero byte."""
    return data.split(b"\0", 1)[0]


def b64(data):
    return base64.b64encode(data).decode()


def unb64(text):
    """Lenient decode: white space is ignored; None when the text is not Base64."""
    try:
        return base64.b64decode("".join((text or "").split()), validate=True)
    except ValueError:
        return None


def _aes(key, mode):
    return Cipher(algorithms.AES(key), mode)


def ecb_encrypt(key, data):
    enc = _aes(key, modes.ECB()).encryptor()
    return enc.update(zero_pad(data)) + enc.finalize()


def ecb_decrypt(key, data):
    if not data or len(data) % 16:
        return None
    dec = _aes(key, modes.ECB()).decryptor()
    return dec.update(data) + dec.finalize()


def cbc_encrypt(key, iv, data):
    enc = _aes(key, modes.CBC(iv)).encryptor()
    return enc.update(zero_pad(data)) + enc.finalize()


def cbc_decrypt(key, iv, data):
    if not data or len(data) % 16:
        return None
    dec = _aes(key, modes.CBC(iv)).decryptor()
    return dec.update(data) + dec.finalize()


def encrypt_answer_text(text):
    """A version or OEM text under the fixed key, Base64. One zero byte at least follows the
    text, so the reader finds its end inside the decrypted block."""
    raw = text.encode() + b"\0"
    return b64(ecb_encrypt(ANSWER_KEY, raw))


def random_string(length=16):
    """The random string handed out by the exchange-code answer: letters and digits, never a
    zero byte, so every reader agrees on where it ends."""
    alphabet = string.ascii_letters + string.digits
    return "".join(alphabet[b % len(alphabet)] for b in os.urandom(length)).encode()


def load_public_key(code):
    """The host's RSA public key from the exchange-code request: DER (PKCS#1 or
    SubjectPublicKeyInfo) or PEM, Base64-encoded. None when it is none of these."""
    raw = unb64(code)
    if not raw:
        return None
    for load in (serialization.load_der_public_key, serialization.load_pem_public_key):
        try:
            key = load(raw)
        except (ValueError, TypeError, UnsupportedAlgorithm):
            continue
        return key if isinstance(key, rsa.RSAPublicKey) else None
    return None


def rsa_encrypt(public_key, data):
    """PKCS#1 v1.5; None when the key is too small to carry the data."""
    try:
        return public_key.encrypt(data, padding.PKCS1v15())
    except ValueError:
        return None


def md5(data):
    return hashlib.md5(data).digest()


def sha256(data):
    return hashlib.sha256(data).digest()


def salted_digest_v30(user, password, salt, salt2):
    """The 16-byte password digest of the protocol-3.0 update request."""
    if not salt:
        return md5(password)
    h1 = hashlib.sha256(user + salt + password).hexdigest().encode()
    if not salt2:
        return md5(h1)
    h2 = hashlib.sha256(user + salt2 + h1).hexdigest().encode()
    return md5(h2)


def password_digest_v31(user, password, salt, salt2):
    """The 32-byte password digest of protocol 3.1."""
    d = sha256(user + salt + password)
    if salt2:
        d = sha256(user + salt2 + cstr(d))
    return d


def key_v31(random, word, digest):
    """The 16-byte key of a protocol-3.1 request: random string, type word and digest, each
    taken up to its first zero byte."""
    return sha256(cstr(random) + cstr(word) + cstr(digest))[:16]
