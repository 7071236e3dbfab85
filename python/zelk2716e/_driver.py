"""Driver: one driver instance over ctypes, its read and write cycles, and timed measurements."""
import atexit
import ctypes
import datetime
import glob
import itertools
import os
import shutil
import subprocess
import threading
import time
import weakref
from typing import Dict, Iterable, List, NamedTuple, Optional, Union

import numpy as np

from . import _constants as C
from . import _library
from ._ini import Ini, ParamText
from ._records import (ANALOG, CONVERSION, Layout, open_shared, sidecar_path, write_sidecar)
from ._text import Status, ZelkError, gloss, table_text, text

_MEASURE_ENDED_BADLY = (C.MEASURE_NO_DATA, C.MEASURE_COMMAND_FAILED, C.MEASURE_FILE_FAILED)
_MEASURE_NAMES = {C.MEASURE_IDLE: "idle", C.MEASURE_RUNNING: "running", C.MEASURE_CONVERTING: "converting",
                  C.MEASURE_NO_DATA: "no data within the USB timeout",
                  C.MEASURE_COMMAND_FAILED: "a module command or D2XX call failed",
                  C.MEASURE_FILE_FAILED: "the record file could not be written"}


def measurement_status_name(code: int) -> str:
    return _MEASURE_NAMES.get(code, "unknown")


# ---------------------------------------------------------------------------------------------
# Notifications. One C function for every instance, alive as long as the module (so never
# collected while an instance may call it); the user value given to Init names the instance.
# It runs on the driver's notification thread: it only counts and wakes the waiting thread.

class _Notifier:
    def __init__(self):
        self.cond = threading.Condition(threading.Lock())
        self.counts = [0, 0]

    def notify(self, kind: int) -> None:
        with self.cond:
            self.counts[kind] += 1
            self.cond.notify_all()

    def seen(self, kind: int) -> int:
        with self.cond:
            return self.counts[kind]

    def wait_after(self, kind: int, seen: int, timeout: float) -> None:
        with self.cond:
            self.cond.wait_for(lambda: self.counts[kind] != seen, timeout)


_notifiers: Dict[int, _Notifier] = {}
_user_values = itertools.count(1)


def _on_notify(user_value, kind, instance):
    try:
        n = _notifiers.get(user_value)
        if n is not None and kind in (0, 1):
            n.notify(kind)
    except BaseException:  # nothing may unwind into the driver's thread
        pass
    return 0  # one call is enough: the waiting cycle finalizes its channels again


_callback = _library.CALLBACK(_on_notify)

# A notification that goes astray is made up for: a waiting cycle finalizes again after this long.
_MISSED_NOTIFICATION_S = 0.5

_open_drivers = weakref.WeakSet()


@atexit.register
def _close_all():
    # The driver's threads must not call into an interpreter that is shutting down.
    for d in list(_open_drivers):
        try:
            d.close()
        except Exception:
            pass


# ---------------------------------------------------------------------------------------------

class Reading(NamedTuple):
    """One channel of a read cycle: its value (None unless the channel's status is 0; channels
    97..99, the device status itself, always have one), its status code, the driver's Czech text
    of that status and its English gloss."""

    channel: int
    value: Union[None, bool, int, float, str]
    status: int
    text: str
    english: str


class Info(NamedTuple):
    version: int  # Version(), e.g. 0x30000
    driver: str  # GetDriverInfo
    module: str  # the module type the driver identified ("---" without a module)
    serial: str  # the serial number the instance drives


class Measurement:
    """A timed measurement that has ended: `status` (channel 203 at the end, 0 when it ended in
    order), `records` (stored), `path` (the record file if it is still there, else the table),
    `files`, `sidecar`, `period_us` (used), `layout`, `data` (numpy, values in engineering units)."""

    def __init__(self, status: int, records: int, files: List[str], sidecar: Optional[str], period_us: float,
                 layout: Layout, raw: bytes, device: Status):
        self.status = status
        self.records = records
        self.files = files
        self.sidecar = sidecar
        self.period_us = period_us
        self.layout = layout
        self.device_status = device
        self._raw_bytes = raw
        self._data = None
        bins = [f for f in files if f.endswith(".bin")]
        self.path = (bins or files or [None])[0]

    @property
    def raw(self) -> np.ndarray:
        r = self.layout.record_bytes
        whole = len(self._raw_bytes) // r * r
        return np.frombuffer(self._raw_bytes[:whole], dtype=self.layout.raw_dtype())

    @property
    def data(self) -> np.ndarray:
        if self._data is None:
            self._data = self.layout.values(self.raw)
        return self._data

    def to_dataframe(self, headings: bool = False):
        return self.layout.dataframe(self.data, headings)

    @property
    def status_name(self) -> str:
        return measurement_status_name(self.status)

    def __repr__(self) -> str:
        return "<Measurement %d records, status %d (%s), %s>" % (self.records, self.status, self.status_name, self.path)


class _Settings:
    """What the next measurement will use: the parameter file as the driver read it, with the
    values this instance wrote since (as the driver stored them)."""

    def __init__(self, path: str):
        self.ini = Ini.load(path)
        self.layout = Layout.from_ini(self.ini)
        self.serial = self.ini.find("Volba modulu", "Výrobní číslo") or ""
        usb = self.ini.integer("Volba modulu", "USB timeout")
        self.usb_timeout_ms = 500 if usb is None else usb
        self.folder = self.ini.find(CONVERSION, "Adresář") or ""
        self.dbf = (self.ini.find(CONVERSION, "Typ souboru") or "DBF").upper() == "DBF"
        self.written: Dict[int, Union[int, float]] = {}

    def layout_now(self) -> Layout:
        l0 = self.layout
        w = self.written
        ranges = [w.get(C.CH_RANGE0 + n, l0.ranges[n]) for n in range(ANALOG)]
        return Layout(channels=w.get(C.CH_TIMER_CHANNELS, l0.channels),
                      cnt0=w.get(C.CH_TIMER_CNT0_ENABLE, l0.cnt0), cnt1=w.get(C.CH_TIMER_CNT1_ENABLE, l0.cnt1),
                      dio=w.get(C.CH_TIMER_DIO_ENABLE, l0.dio), ranges=ranges, a=l0.a, b=l0.b,
                      period_us=l0.period_us, names=l0.names, units=l0.units)

    def run_file(self, path: str) -> ParamText:
        """The parameter file with what was written since put in: the sidecar's base."""
        p = ParamText.load(path)
        w = self.written
        timer = "Měření časovačem"
        for ch, key in ((C.CH_TIMER_CHANNELS, "Počet kanálů"), (C.CH_TIMER_CNT0_ENABLE, "Povolení CNT0"),
                        (C.CH_TIMER_CNT1_ENABLE, "Povolení CNT1"), (C.CH_TIMER_DIO_ENABLE, "Povolení DIN a DOUT"),
                        (C.CH_TIMER_CNT0_PRESET, "Přednastavení CNT0"), (C.CH_TIMER_CNT1_PRESET, "Přednastavení CNT1")):
            if ch in w:
                p.set(timer, key, str(w[ch]))
        for n in range(ANALOG):
            if C.CH_RANGE0 + n in w:
                # The parameter file names the six ranges; a code measures with its low three
                # bits, and 6 and 7 measure as 10 V: the name of that range scales the same.
                code = w[C.CH_RANGE0 + n] & 7
                p.set("Analogový kanál %d" % n, "Rozsah", C.RANGE_NAMES[code] if code < len(C.RANGE_NAMES) else "10V")
            if C.CH_INPUT0 + n in w:
                p.set("Analogový kanál %d" % n, "Vstup", str(w[C.CH_INPUT0 + n]))
        for k in range(C.CH_SETTLE_LAST - C.CH_SETTLE0 + 1):
            if C.CH_SETTLE0 + k in w:
                p.set(timer, "Ustálení %s [us]" % C.RANGE_NAMES[k], str(w[C.CH_SETTLE0 + k]))
        return p


def stored_value(ch: int, value):
    """The value the driver stores for one written to the channel, by the channel's write rule."""
    rule = C.CHANNELS[ch][3]
    if rule == "period":
        v = float(value)
        if v != v or v < C.PERIOD_MIN_US:
            return C.PERIOD_MIN_US
        return min(v, C.PERIOD_MAX_US)
    x = int(value)
    return {"bit": lambda: int(x != 0), "low_two_bits": lambda: x & 3, "low_four_bits": lambda: x & 15,
            "channel_count": lambda: 1 if x == 0 else min(x, ANALOG), "at_most_1": lambda: min(x, 1),
            "at_most_127": lambda: min(x, 127), "at_most_65535": lambda: min(x, 65535)}.get(rule, lambda: x)()


def _record_files(folder: str, serial: str) -> set:
    pattern = os.path.join(glob.escape(folder or "."), "Zelk2716e_%s_*" % glob.escape(serial))
    return {os.path.abspath(p) for p in glob.glob(pattern) if p.endswith((".bin", ".dbf"))}


class Driver:
    """One driver instance: MakeDriver and Init with a parameter file, then read and write
    cycles and measurements; Done and DisposeDriver when closed (also as a context manager).

    library: a path, "sim" (the driver with the simulated module) or None (ZELK2716E_LIBRARY,
    else the driver for real modules); see _library for where it is looked for.
    timeout: the longest a read or write cycle may take, in seconds."""

    def __init__(self, param_file, library: Optional[str] = None, timeout: float = 5.0):
        self._inst = None
        self._lib = _library.load(library)
        self.library = self._lib.zelk_path
        self.param_file = os.path.abspath(os.fspath(param_file))
        self.timeout = timeout
        self._lock = threading.RLock()
        self._measuring = False
        if not os.path.isfile(self.param_file):
            raise ZelkError(gloss(C.STATUS_PARAMETER_FILE), C.STATUS_PARAMETER_FILE, table_text(C.STATUS_PARAMETER_FILE),
                            "cannot read %s: no such file" % self.param_file)
        self._settings = _Settings(self.param_file)
        self._user_value = next(_user_values)
        self._notifier = _notifiers[self._user_value] = _Notifier()
        inst = self._lib.MakeDriver()
        if not inst:
            raise ZelkError(gloss(C.STATUS_LIBRARY_ALLOC), C.STATUS_LIBRARY_ALLOC, table_text(C.STATUS_LIBRARY_ALLOC))
        msg = ctypes.create_string_buffer(1025)
        path = self.param_file.encode("mbcs") if _library.WINDOWS else os.fsencode(self.param_file)
        ok = self._lib.Init(inst, 0, path, 1024, msg, 0, 0, self._user_value, _callback) == 1
        if not ok:
            # A failed Init may have opened the log; Done closes it and is harmless otherwise.
            self._lib.Done(inst)
            self._lib.DisposeDriver(inst)
            del _notifiers[self._user_value]
            raise self._init_error(text(msg.raw))
        self._inst = inst
        _open_drivers.add(self)

    def _init_error(self, message: str) -> ZelkError:
        """Init's message with its status code and gloss, and what zelk check finds in the
        parameter file when the tool is at hand. Init answers with a text of the status table
        (library, window) or with the message of the parameter file's check."""
        codes = [c for c, t in enumerate(C.STATUS_TEXTS) if t == message]
        code = codes[0] if codes else C.STATUS_PARAMETER_FILE
        detail = "Init refused " + (self.param_file if code == C.STATUS_PARAMETER_FILE else "to start")
        tool = _library.tool_beside(self.library)
        if tool and code == C.STATUS_PARAMETER_FILE:
            try:
                p = subprocess.run([tool, "check", self.param_file], capture_output=True, timeout=20)
                lines = p.stdout.decode("utf-8", "replace").splitlines()
                found = [l.split(": ", 1)[1] if ": " in l else l for l in lines if ": error: " in l]
                detail += "".join("; " + f for f in found)
            except (OSError, subprocess.SubprocessError):
                pass
        return ZelkError(gloss(code), code, message, detail)

    # -- lifetime ---------------------------------------------------------------------------

    def close(self) -> None:
        """Done and DisposeDriver; a measurement still running is stopped by them."""
        with self._lock:
            inst, self._inst = self._inst, None
            if inst is None:
                return
            self._lib.Done(inst)
            self._lib.DisposeDriver(inst)
            _notifiers.pop(self._user_value, None)
            _open_drivers.discard(self)

    def __enter__(self) -> "Driver":
        return self

    def __exit__(self, *exc) -> None:
        self.close()

    def __del__(self):
        try:
            self.close()
        except Exception:
            pass

    def _instance(self):
        if self._inst is None:
            raise ZelkError("the driver instance is closed")
        return self._inst

    # -- cycles -----------------------------------------------------------------------------

    def _finish(self, channels: List[int], finalized, kind: int, timeout: float) -> List[int]:
        """Waits until every channel has finished; the channels that did not within the timeout."""
        inst = self._instance()
        deadline = time.monotonic() + timeout
        waiting = list(dict.fromkeys(channels))
        err = ctypes.c_int32(0)
        while True:
            seen = self._notifier.seen(kind)  # before finalizing: no notification slips past
            waiting = [ch for ch in waiting if finalized(inst, ch, ctypes.byref(err)) != 1]
            left = deadline - time.monotonic()
            if not waiting or left <= 0:
                return waiting
            self._notifier.wait_after(kind, seen, min(left, _MISSED_NOTIFICATION_S))

    def _get(self, ch: int):
        inst = self._instance()
        tag = C.CHANNELS[ch][0]
        v = _library.Value()
        v.tag = tag
        if tag == C.TAG_STRING:
            buf = ctypes.create_string_buffer(2048)  # the longest status text is copied whole
            ctypes.memmove(v.payload, ctypes.byref(ctypes.c_void_p(ctypes.addressof(buf))), ctypes.sizeof(ctypes.c_void_p))
            self._lib.GetInput(inst, ch, ctypes.byref(v))
            return text(buf.raw)
        self._lib.GetInput(inst, ch, ctypes.byref(v))
        payload = bytes(v.payload)
        if tag == C.TAG_REAL:
            return ctypes.c_double.from_buffer_copy(payload).value
        if tag == C.TAG_LONGCARD:
            return ctypes.c_uint32.from_buffer_copy(payload[:4]).value
        return payload[0] != 0

    def read(self, channels: Union[int, Iterable[int]]) -> Dict[int, Reading]:
        """One read cycle: {channel: Reading}. The device status is read in the same cycle; a
        channel's status is that status (100 for a number that names no channel)."""
        chs = [channels] if isinstance(channels, int) else [int(c) for c in channels]
        for ch in chs:
            if ch < 0 or ch > 0xFFFFFFFF:
                raise ValueError("channel %d: channels are 0..%d" % (ch, C.CHANNEL_COUNT - 1))
        batch = list(dict.fromkeys(chs + [C.CH_DEVICE_STATUS, C.CH_DEVICE_TEXT]))
        with self._lock:
            inst = self._instance()
            for ch in batch:
                self._lib.InputRequest(inst, ch)
            self._lib.InputRequestCompleted(inst)
            unfinished = self._finish(batch, self._lib.InputFinalized, 0, self.timeout)
            if unfinished:
                raise ZelkError("the read cycle of channels %s did not finish within %g s"
                                % (", ".join(map(str, unfinished)), self.timeout))
            got = {ch: self._get(ch) for ch in batch if ch in C.CHANNELS}
        device = Status.of(got[C.CH_DEVICE_STATUS], got[C.CH_DEVICE_TEXT])
        out = {}
        for ch in chs:
            if ch not in C.CHANNELS:
                s = Status.of(C.STATUS_CHANNEL_UNDEFINED)
                out[ch] = Reading(ch, None, s.code, s.text, s.english)
                continue
            stands = device.ok or C.CH_DEVICE_FAULT <= ch <= C.CH_DEVICE_TEXT
            out[ch] = Reading(ch, got[ch] if stands else None, device.code, device.text, device.english)
        return out

    def write(self, values: Dict[int, Union[bool, int, float]]) -> Dict[int, Union[int, float]]:
        """One write cycle: {channel: value}; returns the values as the driver stored them (after
        its limits: a channel count above 16 is 16, a range code is taken AND 15, ...)."""
        records = []
        for ch, value in values.items():
            if ch not in C.CHANNELS:
                raise ZelkError("channel %d is not defined" % ch, C.STATUS_CHANNEL_UNDEFINED,
                                table_text(C.STATUS_CHANNEL_UNDEFINED))
            tag, _, output, rule = C.CHANNELS[ch]
            if not output or rule == "none":
                raise ZelkError("channel %d is an input: a write changes nothing" % ch)
            v = _library.Value()
            v.tag = tag
            if tag == C.TAG_REAL:
                ctypes.memmove(v.payload, ctypes.byref(ctypes.c_double(float(value))), 8)
            elif tag == C.TAG_BOOLEAN:
                v.payload[0] = 1 if value else 0
            else:
                x = int(value)
                if not 0 <= x <= 0xFFFFFFFF:
                    raise ValueError("channel %d takes 0..4294967295, not %d" % (ch, x))
                ctypes.memmove(v.payload, ctypes.byref(ctypes.c_uint32(x)), 4)
            records.append((ch, v, stored_value(ch, value if tag != C.TAG_BOOLEAN else bool(value))))
        with self._lock:
            inst = self._instance()
            for ch, v, _ in records:
                self._lib.OutputRequest(inst, ch, v)
            self._lib.OutputRequestCompleted(inst)
            unfinished = self._finish([ch for ch, _, _ in records], self._lib.OutputFinalized, 1, self.timeout)
            if unfinished:
                raise ZelkError("the write cycle of channels %s did not finish within %g s"
                                % (", ".join(map(str, unfinished)), self.timeout))
            for ch, _, stored in records:
                self._settings.written[ch] = stored
        return {ch: stored for ch, _, stored in records}

    def value(self, ch: int):
        """The value of one channel; ZelkError when it has none (its status is not 0)."""
        r = self.read([ch])[ch]
        if r.value is None:
            raise ZelkError(r.english, r.status, r.text, "channel %d" % ch)
        return r.value

    @property
    def status(self) -> Status:
        """The device status (channels 98 and 99)."""
        r = self.read([C.CH_DEVICE_STATUS, C.CH_DEVICE_TEXT])
        return Status.of(r[C.CH_DEVICE_STATUS].value, r[C.CH_DEVICE_TEXT].value)

    def _window_text(self, page: int) -> str:
        inst = self._instance()
        v = _library.Value()
        v.tag = C.TAG_LONGCARD
        ctypes.memmove(v.payload, ctypes.byref(ctypes.c_uint32(page)), 4)
        self._lib.QueryProc(inst, C.TAG_LONGCARD, b"WindowPage", 0, ctypes.byref(v))
        buf = ctypes.create_string_buffer(16384)
        v = _library.Value()
        v.tag = C.TAG_STRING
        ctypes.memmove(v.payload, ctypes.byref(ctypes.c_void_p(ctypes.addressof(buf))), ctypes.sizeof(ctypes.c_void_p))
        self._lib.QueryProc(inst, C.TAG_STRING, b"WindowText", len(buf), ctypes.byref(v))
        return text(buf.raw)

    @property
    def info(self) -> Info:
        """Version, driver text, module type and serial number (from the driver's settings page)."""
        with self._lock:
            fields = {}
            for line in self._window_text(0).splitlines():
                if ": " in line:
                    k, v = line.split(": ", 1)
                    fields.setdefault(k.strip(), v.strip())
            buf = ctypes.create_string_buffer(257)
            self._lib.GetDriverInfo(256, buf)
            return Info(self._lib.Version(), text(buf.raw), fields.get("Typ", ""),
                        fields.get("Výrobní číslo", self._settings.serial))

    @property
    def layout(self) -> Layout:
        """The layout of the next measurement: the parameter file's settings with what was written
        since, the channels' constants, names (Název) and units (Jednotka, else V for A = 1, B = 0)."""
        return self._settings.layout_now()

    def window(self, function: int = C.WINDOW_SHOW, left: int = 0, top: int = 0, width: int = 0, height: int = 0):
        """DriverProc: show (1), hide (0), minimise, restore, focus or place the driver window."""
        with self._lock:
            self._lib.DriverProc(self._instance(), function, left, top, width, height)

    # -- measurements -----------------------------------------------------------------------

    def _progress(self):
        r = self.read([C.CH_MEASURE_STORED, C.CH_MEASURE_STATUS])
        return r[C.CH_MEASURE_STORED].value or 0, r[C.CH_MEASURE_STATUS].value or 0

    def measure(self, records: Optional[int] = None, duration: Optional[float] = None,
                folder=None) -> Measurement:
        """A timed measurement with the settings the instance has (the parameter file and what
        was written since) that ends after `records` records or `duration` seconds, whichever
        comes first. The files go where the parameter file's Adresář says (the current folder
        when empty) and are moved into `folder` when it is given; a sidecar (FILE.ini) with the
        layout goes beside them. `data` holds the records, read while the measurement ran.
        A measurement that fails raises ZelkError, its Measurement in `.measurement`."""
        if records is None and duration is None:
            raise ValueError("measure() needs records=, duration= or both; stream() runs without a limit")
        run = _Run(self, records, duration)
        kept = bytearray()
        try:
            for block in run.blocks():
                kept += block
        finally:
            run.finish()
        return run.result(bytes(kept), folder)

    def stream(self, records: Optional[int] = None, duration: Optional[float] = None,
               interval: float = 0.01, raw: bool = False) -> "Stream":
        """Starts a timed measurement and yields its records as they are stored, in numpy blocks
        of values (raw=True: as stored), until it ends after `records` or `duration` (without
        either: until the consumer stops). Leaving the loop early, by break or an exception,
        stops the measurement; its Measurement is then `.measurement` (without data)."""
        return Stream(self, records, duration, interval, raw)


class _Run:
    """One measurement from the start to its files: start, follow the record file, stop,
    wait for the conversion, complete the sidecar."""

    def __init__(self, driver: Driver, records: Optional[int], duration: Optional[float], interval: float = 0.01):
        if driver._measuring:
            raise ZelkError("a measurement of this instance is running already")
        self.d = driver
        self.records_wanted = records or 0
        self.duration = duration
        self.interval = interval
        s = driver._settings
        self.layout = s.layout_now()
        self.folder = os.path.abspath(s.folder or ".")
        self.serial = s.serial
        self.file = None
        self.sidecar = None
        self.stored = 0
        self.status = C.MEASURE_IDLE
        self.stop_asked = False
        self.finished = False
        device = driver.status
        if not device.ok:
            raise ZelkError.of_status(device, "the module is not in order: nothing measured")
        self.before = _record_files(self.folder, self.serial)
        self.started = datetime.datetime.now()
        self.fd = None
        driver._measuring = True
        try:
            driver.write({C.CH_MEASURE_RECORDS: self.records_wanted, C.CH_MEASURE_START: 1})
            self.start = time.monotonic()
            # The start creates the record file in the pass that finished the write: it is
            # opened at once, so that even a short measurement that a conversion deletes at
            # its end is read whole.
            self._open_record_file()
            self.period_us = driver.read([C.CH_TIMER_PERIOD])[C.CH_TIMER_PERIOD].value
            self.layout.period_us = self.period_us
            self._await_start(s.usb_timeout_ms)
            self.run = s.run_file(driver.param_file)
            self._write_sidecar(None)
        except BaseException:
            if self.fd is not None:
                self.fd.close()
            driver._measuring = False
            raise

    def _open_record_file(self) -> None:
        if self.fd is not None:
            return
        new = sorted(f for f in _record_files(self.folder, self.serial) - self.before if f.endswith(".bin"))
        if new:
            try:
                self.fd = open_shared(new[0])
                self.file = new[0]
                self.sidecar = sidecar_path(self.file)
            except OSError:
                pass

    def _await_start(self, usb_timeout_ms: int) -> None:
        # The start runs in the acquisition thread's output pass: four module commands.
        deadline = time.monotonic() + 4 * usb_timeout_ms / 1000 + 1
        self.stored, self.status = self.d._progress()
        while self.status == C.MEASURE_IDLE and self.stored == 0 and time.monotonic() < deadline:
            time.sleep(0.01)
            self.stored, self.status = self.d._progress()
        self._open_record_file()
        if self.status != C.MEASURE_RUNNING and self.stored == 0 or self.fd is None:
            device = self.d.status
            raise ZelkError("the measurement did not start (measurement status %d, %s)"
                            % (self.status, measurement_status_name(self.status)), device.code, device.text,
                            "device status: " + device.english)

    def _write_sidecar(self, records: Optional[int]) -> None:
        name = os.path.basename(self.file if os.path.exists(self.file) else self._data_files()[0])
        write_sidecar(self.run, self.sidecar, self.period_us, self.started, name, self.layout.record_bytes, records)

    def _data_files(self) -> List[str]:
        stem = os.path.splitext(self.file)[0]
        return sorted(f for f in _record_files(self.folder, self.serial)
                      if os.path.splitext(f)[0] == stem or os.path.splitext(f)[0].startswith(stem + "_part"))

    def ended(self) -> bool:
        """Asks the driver: true once the measurement no longer runs (asking it to stop when
        its duration has passed)."""
        self.stored, self.status = self.d._progress()
        if self.status != C.MEASURE_RUNNING:
            return True
        if not self.stop_asked and self.duration is not None and time.monotonic() - self.start >= self.duration:
            self.stop()
        return False

    def stop(self) -> None:
        if not self.stop_asked:
            self.stop_asked = True
            # 0 stops the module; in DBF mode it also starts the conversion.
            self.d.write({C.CH_MEASURE_START: 0})

    def blocks(self):
        """The bytes of whole records as they are stored, until the measurement has ended and
        the file has been read to its end."""
        r = self.layout.record_bytes
        pending = b""
        while True:
            ended = self.ended()  # asked before the read: what was stored before it is read now
            chunk = self.fd.read(1 << 22)
            if chunk:
                pending += chunk
                whole = len(pending) // r * r
                if whole:
                    yield pending[:whole]
                    pending = pending[whole:]
                if len(chunk) == 1 << 22:
                    continue
            if ended:
                return
            time.sleep(self.interval)  # what a block of the driver's uploads brings, at once

    def finish(self) -> None:
        """Stops the measurement if it still runs, waits for the conversion of a DBF measurement
        and completes the sidecar with the count."""
        if self.finished:
            return
        self.finished = True
        try:
            self.fd.close()
            if self.d._inst is None:
                return  # closed: Done has stopped it
            if self.status == C.MEASURE_RUNNING:
                self.stop()
                deadline = time.monotonic() + 10
                while self.d._progress()[1] == C.MEASURE_RUNNING and time.monotonic() < deadline:
                    time.sleep(0.01)
                self.stored, self.status = self.d._progress()
            if self.d._settings.dbf and self.status not in _MEASURE_ENDED_BADLY:
                # The conversion deletes the record file once the table is whole; Done would cut
                # it short, so it is waited for (a failed one says so on channel 203).
                deadline = time.monotonic() + 30 + self.stored / 20000
                while os.path.exists(self.file) and time.monotonic() < deadline:
                    if self.d._progress()[1] == C.MEASURE_FILE_FAILED:
                        self.status = C.MEASURE_FILE_FAILED
                        break
                    time.sleep(0.02)
            self._write_sidecar(self.stored)
        finally:
            self.d._measuring = False

    def result(self, raw: bytes, folder) -> Measurement:
        files = self._data_files()
        sidecar = self.sidecar
        if folder is not None:
            folder = os.path.abspath(os.fspath(folder))
            os.makedirs(folder, exist_ok=True)
            if folder != self.folder:
                moved = []
                for f in files + [sidecar]:
                    target = os.path.join(folder, os.path.basename(f))
                    shutil.move(f, target)
                    moved.append(target)
                files, sidecar = moved[:-1], moved[-1]
        device = self.d.status
        m = Measurement(self.status, self.stored, files, sidecar, self.period_us, self.layout, raw, device)
        if self.status in _MEASURE_ENDED_BADLY:
            e = ZelkError("the measurement failed: " + measurement_status_name(self.status), device.code,
                          device.text, "measurement status %d" % self.status)
            e.measurement = m
            raise e
        return m


class Stream:
    """The records of a running measurement (Driver.stream): iterate over it, or use it as a
    context manager around the loop. When the iteration ends, however it ends, the measurement
    is stopped, its conversion waited for and its sidecar completed; `measurement` then says
    how it went (its `data` is empty: the blocks went to the consumer)."""

    def __init__(self, driver: Driver, records, duration, interval, raw):
        # The generator holds no reference to this object: a loop that owns it (for b in
        # d.stream()) drops it when it is left, which ends the generator, and the measurement, at once.
        self._gen = self._blocks(driver, records, duration, interval, raw, weakref.ref(self))

    @property
    def measurement(self) -> Optional[Measurement]:
        return getattr(self, "_measurement", None)

    def __iter__(self):
        return self._gen

    @staticmethod
    def _blocks(driver, records, duration, interval, raw, owner):
        run = _Run(driver, records, duration, interval)
        layout = run.layout
        index = 0
        dtype = layout.raw_dtype()
        try:
            for chunk in run.blocks():
                block = np.frombuffer(chunk, dtype=dtype)
                yield block if raw else layout.values(block, index)
                index += len(block)
        finally:
            run.finish()
            try:
                device = driver.status
            except ZelkError:
                device = Status.of(C.STATUS_OK)
            stream = owner()
            if stream is not None:
                stream._measurement = Measurement(run.status, run.stored, run._data_files(), run.sidecar,
                                                  run.period_us, layout, b"", device)

    def close(self) -> None:
        self._gen.close()

    def __enter__(self) -> "Stream":
        return self

    def __exit__(self, *exc) -> None:
        self.close()
