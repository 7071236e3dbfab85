"""zelk2716e: the ZELK-2716E driver library from Python.

    import zelk2716e
    with zelk2716e.Driver("demo.ini", library="sim") as d:
        print(d.read([0, 1])[0].value)
        m = d.measure(duration=10)
        df = m.to_dataframe()

Driver (read and write cycles, measurements, live records with stream()), RecordFile (a
record file as numpy arrays, follow() while it grows), read_table (the driver's dBASE tables),
ZelkError (every failure). Channel, status and measurement constants are the header's, under
the same names without the ZELK_ prefix (zelk2716e.CH_MEASURE_STATUS, MEASURE_RUNNING, ...).
See docs/python.md."""
from ._constants import *  # noqa: F401,F403  (CH_..., STATUS_..., MEASURE_..., TAG_..., WINDOW_...)
from ._constants import GLOSSES, STATUS_TEXTS, VERSION
from ._driver import Driver, Info, Measurement, Reading, Stream, measurement_status_name
from ._records import Layout, RecordFile, scale
from ._table import read_table
from ._text import Status, ZelkError

__version__ = VERSION
__all__ = ["Driver", "Info", "Layout", "Measurement", "Reading", "RecordFile", "Status", "Stream", "ZelkError",
           "read_table", "scale", "measurement_status_name", "GLOSSES", "STATUS_TEXTS", "VERSION"]
