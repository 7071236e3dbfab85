"""Reads the table of make_table with one independent reader and checks its row count,
field names, types, widths, decimals and every value against the records it was made of.
Usage: check_table.py dbfread|ogrinfo|dbfdump <base path>. Exit 77 when the reader is missing."""
import re
import shutil
import subprocess
import sys

ROWS = 25
RANGE = [0, 0, 0, 2, 5, 9, 1, 3, 4, 0, 0, 0, 0, 0, 0, 0]
FULL_SCALE = {0: 10.0, 1: 5.0, 2: 2.0, 3: 1.0, 4: 0.5, 5: 0.2}
NAMES = ["INDEX"] + ["AIN%d" % j for j in range(16)] + ["CNT0", "CNT1", "DIN0", "DIN1", "DOUT"]
WIDTHS = [10] + [10] * 16 + [5, 5, 1, 1, 1]
DECIMALS = [0] + [4] * 16 + [0] * 5


def expected_rows():
    rows = []
    for k in range(ROWS):
        row = [k]
        for j in range(16):
            raw = 32767 + (k * 1311 + j * 977) % 30000 - 15000
            raw = {0: 32767, 1: 65534, 2: 0, 9: 32767}.get(j, raw)
            a, b = (2.0, 1.0) if j == 9 else (1.0, 0.0)
            # the module measures with the low three bits of the range code; 6 and 7 are 10 V
            v = (raw - 32767) * FULL_SCALE.get(RANGE[j] & 7, 10.0) / 32767
            row.append(round((v + b) * a, 4))
        row += [(k * 2731) & 0xFFFF, 65535 - k, k & 1, (k >> 1) & 1, 1 if k % 3 == 0 else 0]
        rows.append(row)
    return rows


def fail(msg):
    print("FAIL:", msg)
    sys.exit(1)


def compare(fields, rows):
    """fields: [(name, width, decimals)]; rows: lists of numbers in field order."""
    if [f[0] for f in fields] != NAMES:
        fail("field names %r" % [f[0] for f in fields])
    if [f[1] for f in fields] != WIDTHS:
        fail("widths %r" % [f[1] for f in fields])
    if [f[2] for f in fields] != DECIMALS:
        fail("decimals %r" % [f[2] for f in fields])
    want = expected_rows()
    if len(rows) != len(want):
        fail("%d rows, want %d" % (len(rows), len(want)))
    for k, (got, exp) in enumerate(zip(rows, want)):
        for name, g, e in zip(NAMES, got, exp):
            if abs(float(g) - e) > 5e-5:
                fail("row %d %s = %r, want %r" % (k, name, g, e))
    print("ok: %d rows, %d fields" % (len(rows), len(fields)))


def with_dbfread(path):
    try:
        import dbfread
    except ImportError:
        sys.exit(77)
    t = dbfread.DBF(path, load=True)
    if t.header.numrecords != ROWS or t.header.dbversion != 0x03:
        fail("header: %d rows, %s" % (t.header.numrecords, t.dbversion))
    if any(f.type != "N" for f in t.fields):
        fail("field types %r" % [f.type for f in t.fields])
    fields = [(f.name, f.length, f.decimal_count) for f in t.fields]
    compare(fields, [[r[n] for n in NAMES] for r in t.records])


def run(tool, *args):
    if shutil.which(tool) is None:
        sys.exit(77)
    return subprocess.run([tool, *args], check=True, capture_output=True, text=True).stdout


def with_ogrinfo(path):
    out = run("ogrinfo", "-al", "-q", path)
    summary = run("ogrinfo", "-al", "-so", path)
    m = re.search(r"Feature Count: (\d+)", summary)
    if not m or int(m.group(1)) != ROWS:
        fail("feature count in %r" % summary)
    fields = []
    types = {}
    for name, typ, w, dec in re.findall(r"^(\w+): (\w+) \((\d+)\.(\d+)\)$", summary, re.M):
        fields.append((name, int(w), int(dec)))
        types[name] = typ
    for name in NAMES:
        want = "Real" if name.startswith("AIN") else ("Integer64", "Integer")
        if types.get(name) not in ((want,) if isinstance(want, str) else want):
            fail("%s has type %s" % (name, types.get(name)))
    rows = []
    for block in re.split(r"^OGRFeature\(\w+\):\d+$", out, flags=re.M)[1:]:
        values = dict(re.findall(r"^\s+(\w+) \(\w+\) = (\S+)$", block, re.M))
        rows.append([values[n] for n in NAMES])
    compare(fields, rows)


def with_dbfdump(path):
    header = run("dbfdump", "-h", path)
    fields = []
    for typ, name, w, dec in re.findall(r"Type=(\w)/\w+, Title=`(\w+)', Width=(\d+), Decimals=(\d+)", header):
        if typ != "N":
            fail("%s has type %s" % (name, typ))
        fields.append((name, int(w), int(dec)))
    rows = []
    for block in run("dbfdump", "-m", path).split("Record: ")[1:]:
        values = dict(re.findall(r"^(\w+):\s*(\S+)$", block, re.M))
        rows.append([values[n] for n in NAMES])
    compare(fields, rows)


if __name__ == "__main__":
    reader, base = sys.argv[1], sys.argv[2]
    {"dbfread": with_dbfread, "ogrinfo": with_ogrinfo, "dbfdump": with_dbfdump}[reader](base + ".dbf")
