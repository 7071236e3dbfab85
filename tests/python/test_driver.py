"""Driver: failures carry the driver's status, writes give what the driver stores, the
notification callback wakes every wait under load, the constants module is the build's."""
import filecmp
import gc
import os
import statistics
import threading
import time

import pytest

import zelk2716e
from zelk2716e import _constants as C
from zelk2716e._driver import _MISSED_NOTIFICATION_S, stored_value
from conftest import SIM_DRIVER, write_param


def test_constants_module_is_the_one_the_build_generates():
    generated = os.environ.get("ZELK_PY_CONSTANTS")
    if not generated:
        pytest.skip("ZELK_PY_CONSTANTS not set (run through ctest)")
    committed = zelk2716e._constants.__file__
    assert filecmp.cmp(generated, committed, shallow=False), (
        "python/zelk2716e/_constants.py is out of date: cmake --build <dir> --target update_python_constants")


@pytest.mark.parametrize("rule", sorted(C.STORED_EXAMPLES))
def test_stored_values_follow_the_drivers_write_rules(rule):
    ch = next(ch for ch, (_, _, _, r) in C.CHANNELS.items() if r == rule)
    for written, stored in C.STORED_EXAMPLES[rule]:
        assert stored_value(ch, written) == stored, (ch, written)


def test_writes_are_stored_and_taken_into_the_next_measurement(driver_for):
    d = driver_for(channels=4)
    assert d.write({164: 40, 100: 13, 165: 10.0, 70: True, 78: 7}) == {164: 16, 100: 13, 165: 25.0, 70: 1, 78: 3}
    assert d.read([165])[165].value >= 25.0  # raised to what 16 channels need
    layout = d._settings.layout_now()
    assert (layout.channels, layout.ranges[0]) == (16, 13)


@pytest.mark.parametrize("serial,code", [("12000099", C.STATUS_MODULE_NOT_FOUND),
                                         ("99999999", C.STATUS_UNSUPPORTED_MODULE)])
def test_device_status_reaches_readings_and_errors(driver_for, serial, code):
    d = driver_for(serial=serial)
    assert d.status.code == code and d.status.english == C.GLOSSES[code]
    r = d.read([0, 99, 16])
    assert (r[0].value, r[0].status) == (None, code)
    assert r[99].value == d.status.text  # the device status itself always has its value
    assert (r[16].status, r[16].text) == (C.STATUS_CHANNEL_UNDEFINED, "Kanál nedefinován")
    for call in (lambda: d.value(0), lambda: d.measure(records=10)):
        with pytest.raises(zelk2716e.ZelkError) as e:
            call()
        assert (e.value.code, e.value.text, e.value.english) == (code, d.status.text, C.GLOSSES[code])


@pytest.mark.parametrize("content,text,finding", [
    ("[Volba modulu]\r\nUSB timeout=0\r\nVýrobní číslo=12000001\r\n",
     "Chyba parametrického souboru - Volba modulu / USB timeout = 0.", "outside 1..10000"),
    ("[Volba modulu]\r\n", "Chybný parametrický soubor", ""),
    (None, "Chybný parametrický soubor", ""),  # no file
])
def test_failed_init_names_the_cause(tmp_path, content, text, finding):
    path = tmp_path / "p.ini"
    if content is not None:
        path.write_bytes(content.encode("cp1250"))
    with pytest.raises(zelk2716e.ZelkError) as e:
        zelk2716e.Driver(path, library=SIM_DRIVER)
    assert (e.value.code, e.value.text) == (C.STATUS_PARAMETER_FILE, text)
    assert e.value.english.endswith(C.GLOSSES[C.STATUS_PARAMETER_FILE])
    assert finding in e.value.detail  # zelk check beside the library names the key


def test_a_library_that_is_not_there_or_not_the_driver(tmp_path):
    for library in (str(tmp_path / "nothing.so"), "libc.so.6"):
        with pytest.raises(zelk2716e.ZelkError) as e:
            zelk2716e.Driver(write_param(tmp_path / "p.ini"), library=library)
        assert e.value.code is None


def test_callback_under_load(driver_for):
    """Read cycles in several threads on two instances while one of them measures at the
    module's highest rate: every cycle finishes, woken by a notification (never by the
    fallback for a missed one), and the one C callback survives collections."""
    measuring = driver_for(channels=1, cnt1=0, dio=0, period="25")
    other = driver_for(serial="12100002")
    stream = measuring.stream(duration=3.0)
    times, errors = [], []

    def cycles(d, n):
        try:
            for i in range(n):
                t = time.monotonic()
                r = d.read([0, 80, 201, 203])
                times.append(time.monotonic() - t)
                assert r[0].status == 0
                if i % 50 == 0:
                    gc.collect()
        except Exception as e:  # reported below
            errors.append(e)

    threads = [threading.Thread(target=cycles, args=(d, 150)) for d in (measuring, other, other)]
    for t in threads:
        t.start()
    records = sum(len(b) for b in stream)
    for t in threads:
        t.join()
    assert not errors, errors
    assert len(times) == 450 and records > 0
    assert statistics.quantiles(times, n=100)[98] < _MISSED_NOTIFICATION_S / 2
    assert measuring._notifier.seen(0) > 0 and other._notifier.seen(0) > 0
