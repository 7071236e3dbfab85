#!/usr/bin/env python3
"""A host of the ZELK-2716E driver through the zelk2716e package: starts one instance with a
parameter file, reads analog channels 0..3 and the device status in one read cycle, and, given
a number of records, measures them and shows the first ones from numpy.

    python3 host.py DRIVER_LIBRARY PARAMETER_FILE [RECORDS]

DRIVER_LIBRARY is the driver's path, or "sim" for the driver with the simulated module found
beside the package. Texts are shown as str (the package decodes the driver's Windows-1250)."""
import os
import sys

# In the repository and in an unpacked tarball or zip the package is ../../python from here;
# the .deb and `pip install` put it where python3 finds it.
_beside = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "python")
if os.path.isdir(os.path.join(_beside, "zelk2716e")):
    sys.path.insert(0, _beside)

import zelk2716e  # noqa: E402


def main():
    if len(sys.argv) not in (3, 4):
        print("usage: host.py DRIVER_LIBRARY PARAMETER_FILE [RECORDS]", file=sys.stderr)
        return 1
    try:
        driver = zelk2716e.Driver(sys.argv[2], library=sys.argv[1])
    except zelk2716e.ZelkError as e:
        print("Init failed:", e, file=sys.stderr)
        return 2
    with driver as d:
        readings = d.read([0, 1, 2, 3, zelk2716e.CH_DEVICE_STATUS, zelk2716e.CH_DEVICE_TEXT])
        layout = d.layout  # names, units and constants of the analog channels
        for ch in range(4):
            r = readings[ch]
            shown = "%.4f %s" % (r.value, layout.unit(ch)) if r.value is not None else "- (%s)" % r.english
            print("channel %d: %s" % (ch, shown.rstrip()))
        status = readings[zelk2716e.CH_DEVICE_STATUS].value
        print("channel 98: device status %d" % status)
        print("channel 99:", readings[zelk2716e.CH_DEVICE_TEXT].value)
        if len(sys.argv) == 4 and status == 0:
            m = d.measure(records=int(sys.argv[3]))
            print("measurement: %d records stored, status %d, %s" % (m.records, m.status, m.path))
            print(m.data[:3])
    return 0 if status == 0 else 3


if __name__ == "__main__":
    sys.exit(main())
