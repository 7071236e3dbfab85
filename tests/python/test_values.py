"""Values in engineering units equal to the driver's own table and CSV (zelk convert runs the
driver's conversion code), for every range code 0..15 and constants that are negative, zero,
fractional and large enough to overflow the table's field; the parameter-file reader agrees
with the driver's on the constants however the file is written."""
import csv
import io
import math
import struct

import dbfread
import numpy as np
import pytest

import zelk2716e
from conftest import write_param, zelk

CODES = list(range(16))  # channel n measures with range code n: every code in one file
# Raw samples: the ends of the scale, around the middle, and a sweep with an odd step.
SAMPLES = sorted(set([0, 1, 2, 16383, 32766, 32767, 32768, 49151, 65533, 65534, 65535] + list(range(3, 65535, 97))))

CONSTANTS = [  # (A, B)
    (1.0, 0.0),
    (0.0, 0.0),
    (-1.0, 0.0),
    (100.0, 0.0),
    (2.5, -1.25),
    (-0.001, 1000.0),
    (1234.5678, 3.3),  # beyond the table's field on the wide ranges: asterisks there
    (-98765.4321, -0.5),
    (1e-9, 7.0),
    (1e12, -2e-3),
]


def write_records(path, layout):
    recs = []
    for i, s in enumerate(SAMPLES):
        samples = [(s + 31 * n) % 65536 for n in range(16)]
        recs.append(struct.pack("<16H2H2B", *samples, i % 65536, (i * 7) % 65536, i % 4, i % 2))
    with open(path, "wb") as f:
        f.write(b"".join(recs))
    return len(recs)


def param_with_constants(path, a, b, a_text=repr, b_text=repr, encoding="cp1250"):
    extra = "".join("[Analogový kanál %d]\r\nKonstanta A=%s\r\nKonstanta B=%s\r\n" % (n, a_text(a), b_text(b))
                    for n in range(16))
    return write_param(path, channels=16, extra=extra, encoding=encoding)


def convert(tmp_path, ini, fmt):
    out = tmp_path / ("table." + fmt)
    zelk("convert", tmp_path / "r.bin", "--param", ini, "--ranges", ",".join(map(str, CODES)), "--format", fmt,
         "-o", out, "--force")
    return out


@pytest.mark.parametrize("a,b", CONSTANTS)
def test_values_are_the_drivers_table_for_every_range_code(tmp_path, a, b):
    write_records(tmp_path / "r.bin", None)
    ini = param_with_constants(tmp_path / "p.ini", a, b)
    layout = zelk2716e.Layout.from_param_file(ini)
    layout.ranges = tuple(CODES)
    values = zelk2716e.RecordFile(tmp_path / "r.bin", layout).values()

    # Full precision: the driver's doubles, bit for bit.
    rows = list(csv.DictReader(io.StringIO(open(convert(tmp_path, ini, "csv"), encoding="utf-8").read())))
    assert len(rows) == len(values)
    for field in layout.fields:
        want = np.array([float(r[field]) for r in rows])
        assert np.array_equal(values[field], want), field

    # The table, read by an independent dBASE reader: its text is the value rounded to 10
    # significant digits and then to 4 decimals, or asterisks where it does not fit ten characters.
    table = list(dbfread.DBF(str(convert(tmp_path, ini, "dbf"))))
    ours = zelk2716e.read_table(tmp_path / "table.dbf")
    for i, row in enumerate(table):
        assert row["INDEX"] == values["INDEX"][i] == ours["INDEX"][i]
        for field in layout.fields:
            v, cell = float(values[field][i]), row[field]
            if cell is None:  # asterisks
                assert not -1e4 < v < 1e5, (field, i, v)
                assert math.isnan(ours[field][i])
            else:
                digits = 0.5 * 10.0 ** (math.floor(math.log10(abs(v))) - 9) if v else 0.0
                assert abs(cell - v) <= (0.5e-4 + digits) * (1 + 1e-9), (field, i, v, cell)
                assert ours[field][i] == cell


@pytest.mark.parametrize("a_text,b_text,encoding", [
    (lambda a: ("%r" % a).replace(".", ","), repr, "cp1250"),  # a decimal comma
    (lambda a: " %r " % a, lambda b: '"%r"' % b, "cp1250"),  # blanks and quotes around the value
    (repr, repr, "utf-8"),
    (repr, repr, "utf-16"),
])
def test_layout_from_a_parameter_file_as_the_driver_reads_it(tmp_path, a_text, b_text, encoding):
    write_records(tmp_path / "r.bin", None)
    ini = param_with_constants(tmp_path / "p.ini", -12.5, 0.75, a_text, b_text, encoding)
    layout = zelk2716e.Layout.from_param_file(ini)
    assert (layout.a[15], layout.b[15], layout.channels) == (-12.5, 0.75, 16)
    layout.ranges = tuple(CODES)
    values = zelk2716e.RecordFile(tmp_path / "r.bin", layout).values()
    rows = list(csv.DictReader(open(convert(tmp_path, ini, "csv"), encoding="utf-8")))
    assert np.array_equal(values["AIN7"], [float(r["AIN7"]) for r in rows])
