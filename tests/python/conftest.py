"""The package's tests against the simulated-module driver of a build.

Environment (set by tests/python/CMakeLists.txt): ZELK_SIM_DRIVER (the sim driver),
ZELK_TOOL (zelk, whose convert is the driver's own table code), ZELK_PY_CONSTANTS (the
constants module the build generated). The simulated modules give sequence-coded records
(docs/simulator.md): record r of a run has CNT0 = r mod 65536, CNT1 = r >> 16 and the sample
of scan entry k (16 r + k) mod 65536, so a lost, repeated or reordered record shows."""
import os
import subprocess
import sys
import tempfile

import pytest

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(ROOT, "python"))

SIM_DRIVER = os.environ.get("ZELK_SIM_DRIVER", os.path.join(ROOT, "build", "linux", "sim", "librq_zelk2716e_sim.so"))
TOOL = os.environ.get("ZELK_TOOL", os.path.join(os.path.dirname(SIM_DRIVER), "zelk"))

# Read once per process, at the driver's first D2XX call: set before any driver starts.
_bench = tempfile.NamedTemporaryFile("w", suffix=".ini", delete=False)
_bench.write("[bench]\nsignals = sequence\n")
_bench.close()
os.environ["ZELK_SIM_CONFIG"] = _bench.name


def write_param(path, serial="12000001", folder="", file_type="BIN", channels=4, cnt0=1, cnt1=1, dio=1,
                period="1000", extra="", encoding="cp1250"):
    """A parameter file for the simulated module."""
    text = ("[Volba modulu]\r\nVýrobní číslo=%s\r\n[Logovací soubor]\r\nÚroveň=0\r\n"
            "[Měření časovačem]\r\nPočet kanálů=%d\r\nPerioda [us]=%s\r\nPovolení CNT0=%d\r\nPovolení CNT1=%d\r\n"
            "Povolení DIN a DOUT=%d\r\n[Konverze souboru]\r\nTyp souboru=%s\r\nAdresář=%s\r\n%s"
            % (serial, channels, period, cnt0, cnt1, dio, file_type, folder, extra))
    with open(path, "wb") as f:
        f.write(b"\xff\xfe" + text.encode("utf-16-le") if encoding == "utf-16" else text.encode(encoding))
    return str(path)


def zelk(*args, timeout=120):
    p = subprocess.run([TOOL, *map(str, args)], capture_output=True, timeout=timeout)
    assert p.returncode == 0, p.stdout.decode("utf-8", "replace") + p.stderr.decode("utf-8", "replace")
    return p.stdout.decode("utf-8")


@pytest.fixture
def driver_for(tmp_path):
    """driver_for(**param) -> a started Driver on a parameter file in tmp_path, closed afterwards."""
    import zelk2716e

    made = []

    def make(**param):
        param.setdefault("folder", str(tmp_path))
        d = zelk2716e.Driver(write_param(tmp_path / ("p%d.ini" % len(made)), **param), library=SIM_DRIVER)
        made.append(d)
        return d

    yield make
    for d in made:
        d.close()


def record_numbers(raw):
    """The run's record number r of each record, from its counters."""
    import numpy as np

    return raw["CNT0"].astype(np.int64) + (raw["CNT1"].astype(np.int64) << 16)
