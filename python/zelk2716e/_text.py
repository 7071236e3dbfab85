"""Texts, statuses and the package's one exception.

The driver speaks Windows-1250: every text it returns, and every parameter file read in that
code page, becomes a str in `decode()` and nowhere else."""
from typing import NamedTuple, Optional

from . import _constants as C


def decode(raw: bytes) -> str:
    """Windows-1250 bytes as str; the five bytes the code page leaves undefined become U+FFFD."""
    return bytes(raw).decode("cp1250", errors="replace")


def text(raw: bytes) -> str:
    """A zero-terminated text of the driver as str."""
    return decode(bytes(raw).split(b"\0", 1)[0])


def cp1250(s: str) -> bytes:
    """A str as the driver takes it: Windows-1250, '?' for characters the code page lacks."""
    return s.encode("cp1250", errors="replace")


def gloss(code: Optional[int]) -> str:
    """The English meaning of a device or channel status code ('' for a code without one)."""
    return C.GLOSSES.get(code, "") if code is not None else ""


def table_text(code: int) -> str:
    """The driver's own text of a status code from its table ('' for codes without one)."""
    code = C.TEXT_SLOTS.get(code, code)
    return C.STATUS_TEXTS[code] if 0 <= code < len(C.STATUS_TEXTS) else ""


class Status(NamedTuple):
    """A device or channel status: the code, the driver's Czech text and the English gloss."""

    code: int
    text: str
    english: str

    @classmethod
    def of(cls, code: int, czech: Optional[str] = None) -> "Status":
        return cls(code, table_text(code) if czech is None else czech, gloss(code))

    @property
    def ok(self) -> bool:
        return self.code == C.STATUS_OK

    def __str__(self) -> str:
        return "%d %s (%s)" % (self.code, self.text, self.english) if self.english else "%d %s" % (self.code, self.text)


class ZelkError(Exception):
    """Every failure of the package: `code` is the driver's status code (None when the failure
    is not one of the driver's), `text` the driver's Czech text, `english` what it means."""

    def __init__(self, english: str, code: Optional[int] = None, text: str = "", detail: str = ""):
        self.code = code
        self.text = text
        self.english = english
        self.detail = detail
        super().__init__(self._message())

    @classmethod
    def of_status(cls, status: Status, detail: str = "") -> "ZelkError":
        return cls(status.english, status.code, status.text, detail)

    def _message(self) -> str:
        head = self.english
        if self.code is not None:
            head = "%s: %d %s" % (head, self.code, self.text) if self.text else "%s (status %d)" % (head, self.code)
        elif self.text:
            head = "%s: %s" % (head, self.text)
        return head + ("; " + self.detail if self.detail else "")
