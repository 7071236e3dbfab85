"""Parameter files and sidecars, read as the driver's own reader reads them and changed by
one writer that keeps every other line and the file's encoding.

Reading: sections and keys compared without letter case (every letter of Windows-1250) and
surrounding blanks, the first of repeated keys and sections wins, values trimmed and freed of
one matching pair of outer quotes, ';' comment lines, CR LF, LF or CR line ends. A file
saved as UTF-16 (with a byte order mark) or UTF-8 is taken to Windows-1250 first, characters
the code page lacks becoming '?'."""
import math
import os
import re
from typing import Dict, Optional, Tuple

from ._text import cp1250, decode

_BLANKS = " \t\v\f\x1a"
_MAX_VALUE = 2047
_LINE_END = re.compile(r"\r\n|\r|\n")

CP1250, UTF8, UTF8_BOM, UTF16_LE, UTF16_BE = "cp1250", "utf-8", "utf-8-sig", "utf-16-le", "utf-16-be"


def _valid_utf8(b: bytes) -> bool:
    try:
        b.decode("utf-8")
        return True
    except UnicodeDecodeError:
        return False


def decode_file(b: bytes) -> Tuple[str, str]:
    """The file's text and its encoding, detected as the driver detects it."""
    if b[:2] == b"\xff\xfe":
        return b[2:].decode("utf-16-le", errors="replace"), UTF16_LE
    if b[:2] == b"\xfe\xff":
        return b[2:].decode("utf-16-be", errors="replace"), UTF16_BE
    if b[:3] == b"\xef\xbb\xbf" and _valid_utf8(b[3:]):
        return b[3:].decode("utf-8"), UTF8_BOM
    if any(c >= 0x80 for c in b) and _valid_utf8(b):
        return b.decode("utf-8"), UTF8
    if b[:3] == b"\xef\xbb\xbf":
        b = b[3:]  # a mark in front of bytes that are not UTF-8: dropped, the rest read as cp1250
    return decode(b), CP1250


def _as_driver_has_it(s: str) -> str:
    """What the driver holds of a text: characters outside Windows-1250 become '?'."""
    return decode(cp1250(s))


def _trim(s: str) -> str:
    return s.strip(_BLANKS)


def _up_to_zero(s: str) -> str:
    return s.split("\0", 1)[0]


def name_key(name: str) -> str:
    """A section or key name as lookups compare it."""
    return _trim(_up_to_zero(name)).lower()


def _lines(t: str):
    """(start, end, next) of every line."""
    pos = 0
    for m in _LINE_END.finditer(t):
        yield pos, m.start(), m.end()
        pos = m.end()
    if pos < len(t):
        yield pos, len(t), len(t)


class Ini:
    """A parameter file as the driver's reader sees it."""

    def __init__(self, data: bytes):
        self.text, self.encoding = decode_file(data)
        driver_text = _as_driver_has_it(self.text)
        self._sections: Dict[str, Dict[str, str]] = {}
        current = None
        for start, end, _ in _lines(driver_text):
            line = _trim(driver_text[start:end])
            if line.startswith("["):
                name = line[1:].split("]", 1)[0]
                key = name_key(name)
                if key in self._sections:
                    current = None  # a section written again adds nothing
                else:
                    current = self._sections[key] = {}
            elif line and line[0] != ";" and "=" in line and current is not None:
                k, v = line.split("=", 1)
                v = _trim(_up_to_zero(_trim(v)))
                if len(v) >= 2 and v[0] in "\"'" and v[-1] == v[0]:
                    v = v[1:-1]
                current.setdefault(name_key(k), v[:_MAX_VALUE])

    @classmethod
    def load(cls, path) -> "Ini":
        with open(path, "rb") as f:
            return cls(f.read())

    def find(self, section: str, key: str) -> Optional[str]:
        return self._sections.get(name_key(section), {}).get(name_key(key))

    def integer(self, section: str, key: str) -> Optional[int]:
        v = self.find(section, key)
        return None if v is None else parse_integer(v)

    def real(self, section: str, key: str) -> Optional[float]:
        v = self.find(section, key)
        return None if v is None else parse_real(v)


_INTEGER = re.compile(r"([+-]?)(\$|0[xX])?([0-9A-Fa-f]+)\Z")
_REAL = re.compile(r"([+-]?)([0-9]*)(?:[.,]([0-9]*))?(?:[eE]([+-]?[0-9]+))?\Z")


def parse_integer(s: str) -> Optional[int]:
    """A 32-bit integer as the driver reads one: decimal, or hexadecimal after 0x or $ (a
    32-bit pattern: $FFFFFFFF is -1); None for anything else."""
    m = _INTEGER.match(s.strip(" \t"))
    if not m:
        return None
    sign, hexa, digits = m.groups()
    if not hexa and not digits.isdigit():
        return None
    magnitude = int(digits, 16 if hexa else 10)
    if magnitude > 0xFFFFFFFF:
        return None
    if hexa:
        bits = (-magnitude if sign == "-" else magnitude) & 0xFFFFFFFF
        return bits - (1 << 32) if bits >= 1 << 31 else bits
    value = -magnitude if sign == "-" else magnitude
    return value if -(1 << 31) <= value < (1 << 31) else None


def parse_real(s: str) -> Optional[float]:
    """A real number as the driver reads one: '.' or ',' before the decimals, an optional
    exponent; None for text, inf, nan and values too large for a double."""
    m = _REAL.match(s.strip(" \t"))
    if not m or not (m.group(2) or m.group(3)):
        return None
    sign, whole, frac, exp = m.groups()
    v = float("%s%s.%se%s" % (sign, whole or "0", frac or "0", exp or "0"))
    return None if math.isinf(v) else v


class ParamText:
    """A parameter file to change: `set()` replaces the value of the first key of a name in the
    first section of a name (names compared as the driver compares them), or adds the key
    (and the section); `save()` writes it in its own encoding, replacing the file whole."""

    def __init__(self, data: bytes):
        self.text, self.encoding = decode_file(data)
        m = _LINE_END.search(self.text)
        self.eol = m.group(0) if m else "\r\n"

    @classmethod
    def load(cls, path) -> "ParamText":
        with open(path, "rb") as f:
            return cls(f.read())

    def set(self, section: str, key: str, value: str) -> None:
        t = self.text
        want_section, want_key = name_key(section), name_key(key)
        inside = seen = False
        insert_at = None
        for start, end, nxt in _lines(t):
            line = t[start:end]
            stripped = line.lstrip(" \t")
            if stripped.startswith("["):
                if inside:
                    break
                if not seen and name_key(stripped[1:].split("]", 1)[0]) == want_section:
                    inside = seen = True
                    insert_at = nxt
                continue
            if not inside:
                continue
            if stripped.strip(" \t"):
                insert_at = nxt
            if not stripped or stripped[0] == ";":
                continue
            if "=" in line and name_key(line.split("=", 1)[0]) == want_key:
                eq = line.index("=")
                self.text = t[: start + eq + 1] + value + t[end:]
                return
        new_line = key + "=" + value + self.eol
        if seen:
            if insert_at == len(t) and t and t[-1] not in "\r\n":
                t += self.eol
                insert_at = len(t)
            self.text = t[:insert_at] + new_line + t[insert_at:]
            return
        if t and t[-1] not in "\r\n":
            t += self.eol
        self.text = t + self.eol + "[" + section + "]" + self.eol + new_line

    def bytes(self) -> bytes:
        if self.encoding == CP1250:
            return cp1250(self.text)
        if self.encoding == UTF8_BOM:
            return b"\xef\xbb\xbf" + self.text.encode("utf-8")
        if self.encoding in (UTF16_LE, UTF16_BE):
            bom = b"\xff\xfe" if self.encoding == UTF16_LE else b"\xfe\xff"
            return bom + self.text.encode(self.encoding, errors="surrogatepass")
        return self.text.encode("utf-8")

    def save(self, path) -> None:
        """Written beside its place and renamed over it: a reader sees the old file or the new one."""
        temporary = os.fspath(path) + ".tmp"
        with open(temporary, "wb") as f:
            f.write(self.bytes())
        os.replace(temporary, path)
