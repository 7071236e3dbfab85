#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets into fuzz/corpus/<target>/.

Each seed is written in the order the target reads its input (fuzz/byte_stream.h: bytes
front to back, numbers little-endian, an exhausted input reads as zeros): parameter files
as a host ships them, a module that answers every command as the real one does, records
of a real measurement layout, and host call sequences of a read cycle, a write cycle, a
measurement, an unplug and a restart. Run it again after changing how a target reads.
"""
import os
import shutil
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)


class Seed:
    def __init__(self):
        self.b = bytearray()

    def byte(self, v):
        self.b.append(v & 0xFF)
        return self

    def bytes(self, data):
        self.b += data
        return self

    def u16(self, v):
        self.b += struct.pack("<H", v & 0xFFFF)
        return self

    def u32(self, v):
        self.b += struct.pack("<I", v & 0xFFFFFFFF)
        return self

    def f64(self, v):
        self.b += struct.pack("<d", v)
        return self

    def zeros(self, n):
        self.b += bytes(n)
        return self


def write(target, name, data):
    d = os.path.join(HERE, "corpus", target)
    os.makedirs(d, exist_ok=True)
    with open(os.path.join(d, name), "wb") as f:
        f.write(bytes(data))


def cp(text):
    return text.replace("\n", "\r\n").encode("cp1250")


# ---------------------------------------------------------------- fuzz_ini
FULL = """; parametrický soubor
[Volba modulu]
Výrobní číslo=12000001
USB timeout=500
[Logovací soubor]
Úroveň=3
Název souboru=log/zelk.log
[Analogový kanál 0]
Název=Napětí
Vstup=0
Rozsah=10V
Konstanta A=1,5
Konstanta B=-0.25
[Analogový kanál 15]
Název="Teplota"
Vstup=$F
Rozsah=200mV
Konstanta A=100
[Měření časovačem]
Počet kanálů=4
Perioda [us]=250,5
Přednastavení CNT0=0x10
Povolení CNT0=256
Povolení CNT1=0
Povolení DIN a DOUT=1
Ustálení 10V [us]=3
Ustálení 200mV [us]=8
[Konverze souboru]
Typ souboru=dbf
Adresář=data
"""


def ini_seeds():
    t = "fuzz_ini"
    shutil.copy(os.path.join(ROOT, "examples", "demo.ini"), os.path.join(HERE, "corpus", t, "demo.ini"))
    write(t, "minimal.ini", cp("[Volba modulu]\nVýrobní číslo=12000001\n"))
    write(t, "full.ini", cp(FULL))
    write(t, "full-utf8-bom.ini", b"\xef\xbb\xbf" + FULL.replace("\n", "\r\n").encode("utf-8"))
    write(t, "full-utf16.ini", b"\xff\xfe" + FULL.replace("\n", "\r\n").encode("utf-16-le"))
    write(t, "refused.ini", cp("""[volba MODULU]
 Výrobní číslo = 12100002
USB timeout=0
USB timeout=10
[Logovací soubor]
Úroveň=1
Název souboru=ab
[Konverze souboru]
Typ souboru=XLS
"""))
    write(t, "numbers.ini", cp("""[Volba modulu]
Výrobní číslo="12000001"
USB timeout=$FFFFFFFF
[Analogový kanál 3]
Konstanta A=1e308
Konstanta B=.
[Měření časovačem]
Perioda [us]=nan
Počet kanálů=-2147483648
"""))


# ---------------------------------------------------------------- fuzz_link
def nibbles(data):
    out = bytearray()
    for v in data:
        out += bytes([v & 0x0F, v >> 4])
    return out


IDENT = b"ZELK-2716E  1.07"
CONFIG = bytes([16] + [i for i in range(16)] + [0xD0, 0x07, 1, 0, 0, 1, 0, 0, 1, 0, 0, 0, 0, 3, 8])
INPUTS = bytes([0xFF, 0x7F, 0x00, 0x80, 0x34, 0x12, 0xFE, 0xFF] + [0x00, 0x80] * 12 + [5, 0, 7, 0, 2])


def reply(code, payload, nibble):
    return bytes([code, 0, 0, 0, 0]) + (nibbles(payload) if nibble else payload)


# Control bytes of each link step when every answer is good (status 0, full counts, echo).
def exchange_ctl():
    return bytes(1 + 2 + 2 + 2 + 2)  # purge, write, queue poll, queue, read


def open_ctl():
    c = bytearray()
    c += bytes([0, 1])      # device count 1
    c += bytes([0, 0])      # serial of device 0: the configured one
    c += bytes([0, 100])    # its description
    c += bytes([0, 0])      # serial again before the open
    c += bytes([0, 0])      # open: the handle
    c += bytes(2)           # reset, latency timer
    c += bytes(4)           # module reset: write, reset, latency timer
    c += bytes(2)           # write long
    c += exchange_ctl()     # identification
    c += exchange_ctl()     # configuration read
    c += bytes(2)           # configuration write
    return bytes(c)


def record(k):
    samples = [(0x8000 + 37 * k + 1000 * j) & 0xFFFF for j in range(4)]
    return struct.pack("<4HHHBB", *samples, k, 1000 - k, k & 3, 1)


def link_seed(ctl, dat):
    return Seed().u16(len(ctl)).bytes(ctl).bytes(dat).b


def link_seeds():
    t = "fuzz_link"
    head = bytes([0, 49]) + bytes(16)  # full table, USB timeout 50, range codes 0
    opened = head + bytes([3]) + open_ctl()
    open_dat = reply(0x81, IDENT, False) + reply(0x84, CONFIG, True)
    write(t, "open", link_seed(opened, open_dat))

    read_ctl = bytes([1, 1]) + exchange_ctl() + bytes(2) + exchange_ctl()
    read_dat = reply(0x84, CONFIG, True) + reply(0x90, INPUTS, True)
    write(t, "open-read", link_seed(opened + read_ctl, open_dat + read_dat))

    # Start 4 channels, counters and DIN/DOUT, 10 records; upload them; close.
    start = Seed().byte(6).byte(1).byte(4).byte(1).byte(1).f64(1000.0).byte(10)
    start.zeros(4 + 2).bytes(exchange_ctl()).zeros(2).zeros(2)
    upload = Seed().byte(2).byte(0).zeros(1).byte(200).u32(140).zeros(1).byte(1).zeros(4)
    close = bytes([4]) + bytes(4 + 1)
    records = b"".join(record(k) for k in range(10))
    write(t, "measure", link_seed(opened + bytes(start.b) + bytes(upload.b) + close,
                                  open_dat + reply(0x84, CONFIG, True) + records))

    # Single exchanges (operation 0: timeout, code, raw, no request data), then purge, write,
    # queue polls and the read: a short read, a wrong echo, a raw reply, a reply longer than
    # the buffer, a queue that never fills, a failing write.
    def exchange(code, raw, after):
        return head + bytes([0, 20, code, raw, 0, 0, 0, 0]) + after
    for name, ctl, dat in [
        ("exchange-short", exchange(0x84, 0, bytes(4) + bytes([0, 170, 30])), reply(0x84, CONFIG, True)),
        ("exchange-echo", exchange(0x90, 0, bytes(4) + bytes([0, 1])), reply(0x91, INPUTS, True)),
        ("exchange-raw", exchange(0x81, 1, bytes(6)), reply(0x81, IDENT, False)),
        ("exchange-long", exchange(0x80, 0, bytes([0, 200]) + struct.pack("<I", 300) + bytes([0, 200]) +
                                   struct.pack("<I", 300) + bytes(2)), bytes(300)),
        ("exchange-timeout", exchange(0x84, 0, bytes([0, 130]) * 25), b""),
        ("exchange-fail", head + bytes([0, 20, 0x82, 0, 0, 0, 250]), b""),
    ]:
        write(t, name, link_seed(ctl, dat))


# ---------------------------------------------------------------- fuzz_records
def layout(s, channels=4, cnt0=1, cnt1=1, din=1, ranges=(0, 1, 5, 13)):
    s.u32(channels).byte(cnt0).byte(cnt1).byte(din)
    for k in range(16):
        s.byte(ranges[k] if k < len(ranges) else 0).byte(0).byte(1)  # A = 1, B = 0
    return s


def records_seeds():
    t = "fuzz_records"
    # Decoding a record of a running measurement, and an input block.
    s = Seed().byte(4).byte(1).byte(6).u32(1).u32(1).u32(1)
    s.bytes(bytes([0, 1, 5, 13] + [0] * 12)).bytes(bytes([0, 1, 5, 13] + [0] * 12))
    s.bytes(bytes([0, 1] * 16)).bytes(record(3))
    write(t, "decode-record", s.b)
    s = Seed().byte(4).byte(0).byte(18).u32(1).u32(1).u32(1)
    s.zeros(32).bytes(bytes([0, 1] * 16)).bytes(INPUTS)
    write(t, "decode-inputs", s.b)
    # Rows and header.
    s = layout(Seed().byte(1)).u32(10000 + 2026).byte(12).byte(8).u32(10).f64(-9.87654321)
    for k in range(3):
        s.bytes(record(k)).u32(k)
    write(t, "rows", s.b)
    s = layout(Seed().byte(1), channels=16, ranges=tuple(range(16))).u32(0).byte(0).byte(0).u32(0xFFFFFFFF).f64(1e12)
    s.bytes(bytes(range(38))).u32(0xFFFFFFFF)
    write(t, "rows-wide", s.b)
    # A table from a record file of 10 records, and one asked for more than the file holds.
    write(t, "table", layout(Seed().byte(0)).byte(1).byte(10).bytes(b"".join(record(k) for k in range(10))).b)
    write(t, "table-short", layout(Seed().byte(0), cnt1=0).byte(1).byte(12).bytes(b"".join(record(k) for k in range(5))).b)


# ---------------------------------------------------------------- fuzz_host
def long_value(s, v, tag=1):
    return s.byte(tag).bytes(struct.pack("<I", v) + bytes(4))


def host_seeds():
    t = "fuzz_host"
    # Read cycle: analog 0..3, DIN, counter, device status text into a host buffer.
    s = Seed()
    for ch in (0, 1, 2, 3, 50, 80):
        s.byte(0).byte(0).byte(ch)                      # InputRequest
    s.byte(1)                                           # InputRequestCompleted
    s.byte(13).u32(1450)                                # a pause for the acquisition thread
    for ch in (0, 50, 80):
        s.byte(2).byte(0).byte(ch).byte(0).byte(1)      # InputFinalized with an error pointer
    s.byte(3).byte(0).byte(0).byte(2).byte(0).zeros(8).byte(0)  # GetInput 0 as real
    s.byte(17).byte(0).byte(99).byte(3).byte(1)         # read cycle of 99, string buffer
    write(t, "read-cycle", s.b)

    # Write cycle: range code 13, channel count 4, period, digital output, counter preset.
    s = Seed()
    for ch, v in ((100, 13), (164, 4), (78, 3), (166, 500), (171, 127)):
        long_value(s.byte(4).byte(0).byte(ch), v)
    s.byte(4).byte(0).byte(165).byte(2).byte(1).f64(333.3)
    s.byte(4).byte(0).byte(70).byte(0).bytes(bytes([1] + [0] * 7))
    s.byte(5).byte(13).u32(950)
    for ch in (100, 165, 70):
        s.byte(6).byte(0).byte(ch).byte(0).byte(0)
    write(t, "write-cycle", s.b)

    # A measurement of 20 records, followed; the record count and the status read back.
    s = Seed()
    long_value(s.byte(4).byte(0).byte(202), 20)
    long_value(s.byte(4).byte(0).byte(200), 1)
    s.byte(5).byte(13).u32(1450).byte(13).u32(1450)
    for ch in (201, 203, 0, 200):
        s.byte(17).byte(0).byte(ch).byte(1).bytes(bytes(8))
    s.byte(14).byte(1)
    write(t, "measure", s.b)

    # Unplug and replug, a reply fault, a failing D2XX call, channels out of range.
    s = Seed()
    s.byte(11).byte(0).byte(0).byte(13).u32(1450).byte(11).byte(0).byte(1).byte(13).u32(1450)
    s.byte(12).byte(0).byte(2).byte(6).byte(3).byte(0).byte(1)
    s.byte(12).byte(0).byte(3).byte(7).byte(4).byte(0)
    s.byte(0).byte(250).u32(0xFFFFFFFF).byte(3).byte(250).u32(204).byte(1).bytes(bytes(8)).byte(0)
    s.byte(16).byte(250).u32(0x80000000)
    write(t, "unplug-faults", s.b)

    # Window and queries: show, text of the page, a key, the version, driver info.
    s = Seed()
    s.byte(8).byte(0).byte(1).u32(10).u32(10).u32(400).u32(300)
    s.byte(9).byte(1).byte(1).u32(102).byte(1).byte(0)  # WindowText, 100 bytes
    s.byte(9).byte(2).byte(0).byte(1).u32(2).byte(0).u32(ord("5")).byte(0)  # WindowKey
    s.byte(9).byte(0).byte(1).u32(2).byte(1).byte(0)    # GetVersion
    s.byte(10).byte(30).byte(0)                          # GetDriverInfo, 27 characters
    s.byte(8).byte(0).byte(0).zeros(16)
    write(t, "window-queries", s.b)

    # Done and Init again with the second parameter file, a callback asking for a repeat.
    s = Seed().byte(14).byte(1).byte(15).byte(2).byte(1).u32(102).byte(0).byte(0).u32(0).u32(77)
    s.byte(0).byte(0).byte(100).byte(1).byte(2).byte(0).byte(100).byte(0).byte(1)
    write(t, "restart", s.b)


if __name__ == "__main__":
    # Inputs that once crashed a target (crash-*) stay beside the seeds as regression cases.
    for target in ("fuzz_ini", "fuzz_link", "fuzz_records", "fuzz_host"):
        os.makedirs(os.path.join(HERE, "corpus", target), exist_ok=True)
    ini_seeds()
    link_seeds()
    records_seeds()
    host_seeds()
