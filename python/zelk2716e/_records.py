"""Record files of timed measurements: their layout, the scaling into engineering units, the
file as numpy arrays over a memory map, and the records of a file that is still growing."""
import datetime
import os
import sys
import time
from typing import Callable, Iterator, Optional, Sequence, Union

import numpy as np

from . import _constants as C
from ._ini import Ini, ParamText
from ._text import ZelkError

ANALOG = C.CH_AIN_LAST - C.CH_AIN0 + 1

# Sections and keys of the parameter file and of the sidecar's [Záznam].
TIMER, LOG, CONVERSION = "Měření časovačem", "Logovací soubor", "Konverze souboru"
RECORD = "Záznam"
K_STARTED, K_FILE, K_RECORDS, K_BYTES = "Začátek", "Soubor", "Počet záznamů", "Bajtů na záznam"
UNIT_KEY = "Jednotka"  # a key of the host tool and of this package; the driver ignores it


def analog_section(n: int) -> str:
    return "Analogový kanál %d" % n


def scale(raw, range_code: int, a: float, b: float):
    """Engineering value of raw samples, as the driver computes the table's: the voltage
    (raw - 32767) x full scale / 32767 of the range the module measured with, then (U + B) x A.
    The order of the operations is the driver's, so the doubles are the same bit for bit."""
    u = (np.asarray(raw, dtype=np.float64) - 32767.0) * C.FULL_SCALE[int(range_code) & 15] / 32767.0
    return (u + b) * a


class Layout:
    """What a record holds and how its samples scale.

    channels: analog channels 0..n-1 recorded (1..16); cnt0, cnt1, dio: counters and DIN/DOUT
    recorded; ranges: range code per channel (0..15, the module measures with the code AND 7);
    a, b: the constants, value = (U + B) x A; period_us: the period used (None when unknown);
    names, units: what the parameter file calls the channels and their unit (None: not said)."""

    def __init__(self, channels: int = 16, cnt0: bool = True, cnt1: bool = True, dio: bool = True,
                 ranges: Union[int, Sequence[int]] = 0, a: Union[float, Sequence[float]] = 1.0,
                 b: Union[float, Sequence[float]] = 0.0, period_us: Optional[float] = None,
                 names: Optional[Sequence[Optional[str]]] = None, units: Optional[Sequence[Optional[str]]] = None):
        self.channels = min(max(int(channels), 1), ANALOG)
        self.cnt0, self.cnt1, self.dio = bool(cnt0), bool(cnt1), bool(dio)
        self.ranges = self._per_channel(ranges, int, 0)
        self.a = self._per_channel(a, float, 1.0)
        self.b = self._per_channel(b, float, 0.0)
        self.period_us = None if period_us is None else float(period_us)
        self.names = tuple(names or (None,) * ANALOG)
        self.units = tuple(units or (None,) * ANALOG)

    @staticmethod
    def _per_channel(v, kind, default) -> tuple:
        if np.isscalar(v):
            return (kind(v),) * ANALOG
        v = [kind(x) for x in v]
        if len(v) > ANALOG:
            raise ValueError("at most %d analog channels" % ANALOG)
        return tuple(v) + (kind(default),) * (ANALOG - len(v))

    @classmethod
    def from_param_file(cls, path) -> "Layout":
        """The layout a parameter file (or a sidecar) sets up, as the driver reads it."""
        return cls.from_ini(Ini.load(path))

    @classmethod
    def from_ini(cls, ini: Ini) -> "Layout":
        def integer(key, default):
            v = ini.integer(TIMER, key)
            return default if v is None else v

        ranges, a, b, names, units = [], [], [], [], []
        for n in range(ANALOG):
            s = analog_section(n)
            r = ini.find(s, "Rozsah")
            ranges.append(C.RANGE_NAMES.index(r) if r in C.RANGE_NAMES else 0)
            ca, cb = ini.real(s, "Konstanta A"), ini.real(s, "Konstanta B")
            a.append(1.0 if ca is None else ca)
            b.append(0.0 if cb is None else cb)
            names.append(ini.find(s, "Název"))
            units.append(ini.find(s, UNIT_KEY))
        return cls(channels=integer("Počet kanálů", 8),
                   cnt0=recorded(integer("Povolení CNT0", 1)), cnt1=recorded(integer("Povolení CNT1", 1)),
                   dio=recorded(integer("Povolení DIN a DOUT", 1)),
                   ranges=ranges, a=a, b=b, period_us=ini.real(TIMER, "Perioda [us]"), names=names, units=units)

    @property
    def record_bytes(self) -> int:
        return 2 * self.channels + 2 * self.cnt0 + 2 * self.cnt1 + 2 * self.dio

    @property
    def fields(self) -> list:
        """The table's columns after INDEX: AIN0.., CNT0, CNT1, DIN0, DIN1, DOUT."""
        f = ["AIN%d" % n for n in range(self.channels)]
        f += ["CNT0"] * self.cnt0 + ["CNT1"] * self.cnt1 + ["DIN0", "DIN1", "DOUT"] * self.dio
        return f

    def raw_dtype(self) -> np.dtype:
        """One record as stored: little-endian 16-bit samples and counters, the DIN byte (bit 0
        DIN0, bit 1 DIN1; the fields DIN0 and DIN1 both name it) and the DOUT byte."""
        names, formats, offsets = [], [], []
        at = 0
        for n in range(self.channels):
            names.append("AIN%d" % n), formats.append("<u2"), offsets.append(at)
            at += 2
        for on, name in ((self.cnt0, "CNT0"), (self.cnt1, "CNT1")):
            if on:
                names.append(name), formats.append("<u2"), offsets.append(at)
                at += 2
        if self.dio:
            names += ["DIN0", "DIN1", "DOUT"]
            formats += ["u1", "u1", "u1"]
            offsets += [at, at, at + 1]
        return np.dtype({"names": names, "formats": formats, "offsets": offsets, "itemsize": self.record_bytes})

    def values_dtype(self) -> np.dtype:
        f = [("INDEX", "<u8")] + [("AIN%d" % n, "<f8") for n in range(self.channels)]
        f += [(n, "<u2") for n in ("CNT0", "CNT1") if getattr(self, n.lower())]
        f += [(n, "u1") for n in ("DIN0", "DIN1", "DOUT")] if self.dio else []
        return np.dtype(f, align=True)

    def _table(self, n: int) -> np.ndarray:
        """scale() of every raw sample for analog channel n: a value depends only on the sample,
        the full scale and the constants, so channels alike share one table of 65536 values."""
        key = (C.FULL_SCALE[self.ranges[n] & 15], self.a[n], self.b[n])
        tables = self.__dict__.setdefault("_tables", {})
        if key not in tables:
            tables[key] = scale(np.arange(65536), self.ranges[n], self.a[n], self.b[n])
        return tables[key]

    def values(self, raw: np.ndarray, first_index: int = 0) -> np.ndarray:
        """Records in engineering units, as the driver's table has them: INDEX, the analog
        channels (U + B) x A in full precision (the table shows them to 4 decimals), the counters,
        and DIN0, DIN1, DOUT as 0 or 1."""
        count = len(raw)
        out = np.empty(count, dtype=self.values_dtype())
        ain = [("AIN%d" % n, self._table(n)) for n in range(self.channels)]
        counters = [name for name in ("CNT0", "CNT1") if getattr(self, name.lower())]
        # Row blocks that stay in the cache while every column of them is filled.
        step = 8192
        for start in range(0, count, step):
            part, block = raw[start:start + step], out[start:start + step]
            block["INDEX"] = np.arange(first_index + start, first_index + start + len(part), dtype=np.uint64)
            for name, table in ain:
                np.take(table, part[name], out=block[name])
            for name in counters:
                block[name] = part[name]
            if self.dio:
                block["DIN0"] = part["DIN0"] & 1
                block["DIN1"] = (part["DIN1"] >> 1) & 1
                block["DOUT"] = part["DOUT"] & 1
        return out

    def unit(self, n: int) -> str:
        """The unit of analog channel n: the parameter file's Jednotka when present, else V for
        a channel read with A = 1 and B = 0, else none ('')."""
        if self.units[n] is not None:
            return self.units[n]
        return "V" if self.a[n] == 1.0 and self.b[n] == 0.0 else ""

    def heading(self, field: str) -> str:
        """A column heading as zelk's CSV has it: 'AIN1 Teplota [°C]' for a channel the file
        names or gives a unit, else the bare field name."""
        if not field.startswith("AIN") or not field[3:].isdigit():
            return field
        n = int(field[3:])
        if self.names[n] is None and self.units[n] is None:
            return field
        h = field + (" " + self.names[n] if self.names[n] else "")
        unit = self.unit(n)
        return h + (" [%s]" % unit if unit else "")

    def dataframe(self, values: np.ndarray, headings: bool = False):
        """A pandas DataFrame of values(): INDEX, TIME (INDEX x the period, in seconds; absent
        when the period is not known), then the fields."""
        import pandas as pd

        columns = {"INDEX": values["INDEX"]}
        if self.period_us:
            columns["TIME"] = values["INDEX"].astype(np.float64) * self.period_us * 1e-6
        for f in self.fields:
            columns[self.heading(f) if headings else f] = values[f]
        return pd.DataFrame(columns)

    def __setattr__(self, name, value):
        if name in ("ranges", "a", "b"):
            self.__dict__.pop("_tables", None)  # made for other constants
        super().__setattr__(name, value)

    def __eq__(self, other) -> bool:
        return isinstance(other, Layout) and self._key() == other._key()

    def _key(self):
        n = self.channels
        return (n, self.cnt0, self.cnt1, self.dio, self.ranges[:n], self.a[:n], self.b[:n])

    def __repr__(self) -> str:
        n = self.channels
        return "Layout(channels=%d, cnt0=%s, cnt1=%s, dio=%s, ranges=%r, a=%r, b=%r, period_us=%r)" % (
            n, self.cnt0, self.cnt1, self.dio, list(self.ranges[:n]), list(self.a[:n]), list(self.b[:n]), self.period_us)


def recorded(enable: int) -> bool:
    """The module records an item when the low byte of its enable is not 0."""
    return (enable & 0xFF) != 0


def sidecar_path(data_file) -> str:
    """FILE.bin or FILE.dbf -> FILE.ini"""
    return os.path.splitext(os.fspath(data_file))[0] + ".ini"


def sidecar_records(path) -> Optional[int]:
    """The sidecar's Počet záznamů: written when the measurement has ended, None before."""
    try:
        v = Ini.load(path).find(RECORD, K_RECORDS)
    except OSError:
        return None
    return int(v) if v is not None and v.isdigit() else None


def write_sidecar(run: ParamText, path, period_us: float, started: datetime.datetime, data_file: str,
                  record_bytes: int, records: Optional[int] = None) -> None:
    """The run's parameter file beside its data, with the period used, the log switched off
    and a [Záznam] section: start, data file, records (only once the measurement has ended)
    and bytes per record. Each write replaces the file whole."""
    p = ParamText(run.bytes())
    p.set(TIMER, "Perioda [us]", "%.1f" % period_us)
    p.set(LOG, "Úroveň", "0")
    p.set(RECORD, K_STARTED, started.strftime("%Y-%m-%d %H:%M:%S"))
    p.set(RECORD, K_FILE, data_file)
    if records is not None:
        p.set(RECORD, K_RECORDS, str(records))
    p.set(RECORD, K_BYTES, str(record_bytes))
    p.save(path)


def open_shared(path):
    """The file opened for reading beside a writer. On Windows it shares write and delete
    access, so that the driver may go on appending and delete the file after its conversion."""
    if sys.platform != "win32":
        return open(path, "rb", buffering=0)
    import ctypes
    import msvcrt
    from ctypes import wintypes

    create = ctypes.WinDLL("kernel32", use_last_error=True).CreateFileW
    create.restype = wintypes.HANDLE
    create.argtypes = [wintypes.LPCWSTR, wintypes.DWORD, wintypes.DWORD, ctypes.c_void_p, wintypes.DWORD,
                       wintypes.DWORD, wintypes.HANDLE]
    generic_read, share_all, open_existing = 0x80000000, 0x7, 3
    h = create(os.fspath(path), generic_read, share_all, None, open_existing, 0, None)
    if h in (None, wintypes.HANDLE(-1).value):
        raise FileNotFoundError(ctypes.get_last_error(), "cannot open", os.fspath(path))
    return open(msvcrt.open_osfhandle(h, os.O_RDONLY | os.O_BINARY), "rb", buffering=0)


class RecordFile:
    """A record file (.bin) of a timed measurement.

    The layout comes from the sidecar beside it (FILE.ini, written by zelk measure and by this
    package), or is given as a Layout; a given layout wins. `raw` and `values()` see the whole
    records the file held when `raw` was first used; `follow()` reads a file that grows."""

    def __init__(self, path, layout: Optional[Layout] = None):
        self.path = os.fspath(path)
        self.sidecar = sidecar_path(self.path)
        has_sidecar = os.path.isfile(self.sidecar)
        if layout is None:
            if not has_sidecar:
                raise ZelkError("no sidecar %s beside the record file: give the layout (RecordFile(path, "
                                "layout=Layout(...)) or Layout.from_param_file(...))" % self.sidecar)
            ini = Ini.load(self.sidecar)
            layout = Layout.from_ini(ini)
            said = ini.find(RECORD, K_BYTES)
            if said is not None and said.isdigit() and int(said) != layout.record_bytes:
                raise ZelkError("the sidecar %s says %s bytes per record, its layout gives %d: it does not "
                                "describe this file" % (self.sidecar, said, layout.record_bytes))
        self.layout = layout
        self._raw = None

    def __len__(self) -> int:
        """Whole records in the file now."""
        return os.path.getsize(self.path) // self.layout.record_bytes

    @property
    def raw(self) -> np.ndarray:
        """The records as stored: a structured array over a read-only memory map."""
        if self._raw is None:
            dtype = self.layout.raw_dtype()
            try:
                count = len(self)
            except OSError as e:
                raise ZelkError("cannot read the record file %s: %s" % (self.path, e.strerror)) from e
            self._raw = np.memmap(self.path, dtype=dtype, mode="r", shape=(count,)) if count else np.zeros(0, dtype)
        return self._raw

    def values(self) -> np.ndarray:
        """The records in engineering units, exactly the numbers the driver writes into its table."""
        return self.layout.values(self.raw)

    def to_dataframe(self, headings: bool = False):
        """A pandas DataFrame: INDEX, TIME in seconds from the period, the fields (headings=True:
        with the channels' names and units, as zelk's CSV)."""
        return self.layout.dataframe(self.values(), headings)

    def follow(self, interval: float = 0.01, idle: Optional[float] = None,
               until: Optional[Callable[[], bool]] = None, raw: bool = False,
               block_bytes: int = 1 << 22) -> Iterator[np.ndarray]:
        """Yields the records the file gains, from its first, in blocks of values() (raw=True:
        of raw), while a measurement writes it.

        It ends once the measurement has ended and the file has been read to its end. The end is
        known from the file's side when the sidecar holds `Počet záznamů`, which zelk measure and
        Driver.measure/stream write when the measurement has ended (also after a DBF conversion
        deleted the record file: it stays readable through the handle opened here, on Windows
        because the handle shares delete access). `until()` returning true ends it too, and so
        does no new byte for `idle` seconds. Without any of these it waits for records forever."""
        layout = self.layout
        r = layout.record_bytes
        dtype = layout.raw_dtype()
        try:
            f = open_shared(self.path)
        except OSError as e:
            raise ZelkError("cannot read the record file %s: %s" % (self.path, e.strerror or e)) from e
        sidecar = _SidecarWatch(self.sidecar)
        pending = b""
        index = 0
        last_growth = time.monotonic()
        try:
            while True:
                # The end is asked before the read: what was stored before it is then read now.
                ended = sidecar.ended() or (until is not None and until())
                chunk = f.read(block_bytes)
                if chunk:
                    pending += chunk
                    last_growth = time.monotonic()
                whole = len(pending) // r * r
                if whole:
                    block = np.frombuffer(pending[:whole], dtype=dtype).copy()
                    pending = pending[whole:]
                    yield block if raw else layout.values(block, index)
                    index += len(block)
                if chunk and len(chunk) == block_bytes:
                    continue  # more is waiting
                if ended:
                    return
                if idle is not None and time.monotonic() - last_growth >= idle:
                    return
                time.sleep(interval)
        finally:
            f.close()


class _SidecarWatch:
    """Whether the sidecar says its measurement has ended; read again only when it changed."""

    def __init__(self, path: str):
        self.path = path
        self.stamp = None
        self.done = False

    def ended(self) -> bool:
        if self.done:
            return True
        try:
            st = os.stat(self.path)
        except OSError:
            return False
        stamp = (st.st_mtime_ns, st.st_size, st.st_ino)
        if stamp != self.stamp:
            self.stamp = stamp
            self.done = sidecar_records(self.path) is not None
        return self.done
