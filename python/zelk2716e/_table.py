"""The driver's dBASE III tables read into numpy (or pandas), without a dBASE library."""
import os
import struct

import numpy as np

from ._text import ZelkError, text


def _fields(header: bytes, path: str):
    """(name, type, offset in the row, width, decimals) of every field."""
    fields = []
    offset = 1  # the deletion mark
    for at in range(32, len(header) - 31, 32):
        d = header[at:at + 32]
        if d[0] == 0x0D:
            break
        name = text(d[:11])
        kind, width, decimals = chr(d[11]), d[16], d[17]
        fields.append((name, kind, offset, width, decimals))
        offset += width
    if not fields:
        raise ZelkError("%s is not a dBASE table: no fields" % path)
    return fields


def _numbers(cells: np.ndarray, width: int, decimals: int) -> np.ndarray:
    """Right-aligned numeric cells (an (n, width) array of bytes) as float64. Cells in the
    form the driver writes ([blanks][-]digits[.decimals]) are read column-wise; others (ten
    asterisks of a value that did not fit, blank cells) one by one, NaN where not a number."""
    n = len(cells)
    digits = cells - ord("0")
    is_digit = digits < 10  # bytes below '0' wrap around in uint8
    point = width - decimals - 1 if decimals else width
    frac_ok = np.ones(n, bool)
    if decimals:
        frac_ok = (cells[:, point] == ord(".")) & is_digit[:, point + 1:].all(axis=1)
    whole = cells[:, :point]
    blank = whole == ord(" ")
    minus = whole == ord("-")
    wd = is_digit[:, :point]
    # Blanks, then at most one '-', then digits (at least one) up to the point.
    kinds = np.where(blank, 0, np.where(minus, 1, np.where(wd, 2, 3)))
    ordered = (np.diff(kinds, axis=1) >= 0).all(axis=1) if point > 1 else np.ones(n, bool)
    ok = frac_ok & ordered & (kinds != 3).all(axis=1) & (minus.sum(axis=1) <= 1) & wd[:, -1]
    value = np.zeros(n, np.int64)
    for c in range(width):
        if c == point:
            continue
        value = np.where(is_digit[:, c], value * 10 + digits[:, c], value)
    out = value.astype(np.float64)
    if decimals:
        out /= 10.0 ** decimals  # the quotient is rounded once: the double the text names
    out = np.where(minus.any(axis=1), -out, out)
    for i in np.flatnonzero(~ok):
        try:
            out[i] = float(bytes(cells[i]).decode("ascii").strip())
        except ValueError:
            out[i] = np.nan
    return out


def read_table(path, dataframe: bool = False):
    """A dBASE table the driver (or zelk convert) wrote, as a numpy structured array with a
    field per column: numeric fields with decimals as float64 (NaN where the table holds
    asterisks), whole-number fields as int64. dataframe=True gives a pandas DataFrame instead. Rows past
    the file's end (a table cut short) are left out."""
    path = os.fspath(path)
    try:
        with open(path, "rb") as f:
            head = f.read(32)
            if len(head) < 32:
                raise ZelkError("%s is not a dBASE table: %d bytes" % (path, len(head)))
            rows, header_len, row_len = struct.unpack("<IHH", head[4:12])
            header = head + f.read(header_len - 32)
    except OSError as e:
        raise ZelkError("cannot read the table %s: %s" % (path, e.strerror)) from e
    fields = _fields(header, path)
    size = os.path.getsize(path)
    rows = min(rows, max(0, size - header_len) // row_len) if row_len else 0
    data = np.memmap(path, dtype=np.uint8, mode="r", offset=header_len, shape=(rows, row_len)) if rows else \
        np.zeros((0, max(row_len, 1)), np.uint8)
    columns = {}
    for name, kind, offset, width, decimals in fields:
        if kind not in "NF":
            raise ZelkError("%s: field %s is of type %s; the driver's tables hold numbers only" % (path, name, kind))
        v = _numbers(np.ascontiguousarray(data[:, offset:offset + width]), width, decimals)
        # Whole numbers stay integers unless a cell is not a number.
        columns[name] = v if decimals or np.isnan(v).any() else v.astype(np.int64)
    out = np.empty(rows, dtype=[(name, columns[name].dtype) for name in columns])
    for name, v in columns.items():
        out[name] = v
    if dataframe:
        import pandas as pd

        return pd.DataFrame({name: out[name] for name, *_ in fields})
    return out
