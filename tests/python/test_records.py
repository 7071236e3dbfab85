"""Record files without a driver: the parameter-file reader against the driver's (zelk
convert reads --param with it), follow()'s end rules, tables cut short, and where the package
looks for the driver in an unpacked archive."""
import os
import shutil
import subprocess
import sys
import threading
import time

import numpy as np
import pytest

import zelk2716e
from zelk2716e._records import write_sidecar
from zelk2716e._ini import ParamText
from conftest import ROOT, SIM_DRIVER, zelk

# Parameter files that the driver's reader takes in its own way.
READER_CASES = {
    "letter case and blanks": "[ MĚŘENÍ ČASOVAČEM ]\r\n počet KANÁLŮ = 3\r\n[analogový kanál 1]\r\nKONSTANTA a=2,5\r\n",
    "first key wins": "[Měření časovačem]\r\nPočet kanálů=5\r\nPočet kanálů=9\r\n",
    "a repeated section adds nothing": "[Měření časovačem]\r\nPočet kanálů=2\r\n[Měření časovačem]\r\nPovolení CNT0=0\r\n",
    "comments and keys before a section": "Počet kanálů=1\r\n[Měření časovačem]\r\n;Počet kanálů=7\r\nPočet kanálů=6\r\n",
    "hexadecimal and low bytes": "[Měření časovačem]\r\nPočet kanálů=$A\r\nPovolení CNT0=256\r\nPovolení CNT1=0x101\r\n",
    "quotes, LF and unknown range names": "[Měření časovačem]\nPočet kanálů='4'\n[Analogový kanál 2]\nRozsah=5v\n"
                                          "Konstanta B=\"-1e-3\"\n",
    "text where a number belongs": "[Měření časovačem]\r\nPočet kanálů=abc\r\nPovolení DIN a DOUT=1.0\r\n",
}


@pytest.mark.parametrize("case", sorted(READER_CASES))
def test_layout_of_a_parameter_file_is_the_drivers(tmp_path, case):
    ini = tmp_path / "p.ini"
    ini.write_bytes(("[Volba modulu]\r\nVýrobní číslo=12000001\r\n" + READER_CASES[case]).encode("cp1250"))
    layout = zelk2716e.Layout.from_param_file(ini)
    raw = np.arange(200 * layout.record_bytes // 2, dtype="<u2").tobytes()
    (tmp_path / "r.bin").write_bytes(raw)
    said = zelk("convert", tmp_path / "r.bin", "--param", ini, "--format", "csv", "-o", tmp_path / "r.csv")
    assert "(%d bytes per record" % layout.record_bytes in said
    rows = open(tmp_path / "r.csv", encoding="utf-8").read().splitlines()
    assert rows[0].split(",")[2:] == layout.fields
    values = zelk2716e.RecordFile(tmp_path / "r.bin", layout).values()
    for field in layout.fields:
        column = rows[0].split(",").index(field)
        assert list(values[field]) == [float(r.split(",")[column]) for r in rows[1:]], field


def writer(path, layout, blocks, sidecar):
    """Appends blocks of records as a measurement does; with a sidecar written at the start and
    completed at the end, as zelk measure writes it."""
    run = ParamText(b"[Volba modulu]\r\nV\xfdrobn\xed \xe8\xedslo=1\r\n[M\xec\xf8en\xed \xe8asova\xe8em]\r\n"
                    b"Po\xe8et kan\xe1l\xf9=1\r\nPovolen\xed CNT1=0\r\nPovolen\xed DIN a DOUT=0\r\n")
    import datetime
    started = datetime.datetime.now()
    if sidecar:
        write_sidecar(run, str(path)[:-4] + ".ini", 25, started, path.name, layout.record_bytes)
    with open(path, "ab") as f:
        for k in range(blocks):
            f.write(np.array([(16 * r, r) for r in range(100 * k, 100 * k + 100)], layout.raw_dtype()).tobytes())
            f.flush()
            time.sleep(0.01)
    if sidecar:
        write_sidecar(run, str(path)[:-4] + ".ini", 25, started, path.name, layout.record_bytes, 100 * blocks)


@pytest.mark.parametrize("end", ["sidecar", "until", "idle"])
def test_follow_ends_when_told_and_keeps_every_record(tmp_path, end):
    layout = zelk2716e.Layout(channels=1, cnt1=False, dio=False)
    path = tmp_path / "Zelk2716e_1_x.bin"
    path.write_bytes(b"")
    t = threading.Thread(target=writer, args=(path, layout, 30, end == "sidecar"))
    t.start()
    if end == "sidecar":
        while not os.path.exists(str(path)[:-4] + ".ini"):
            time.sleep(0.001)
        f = zelk2716e.RecordFile(path)
        assert f.layout == layout
    else:  # a host that writes no sidecar: the layout is given
        f = zelk2716e.RecordFile(path, layout)
    kwargs = {"sidecar": {}, "until": {"until": lambda: not t.is_alive()}, "idle": {"idle": 0.5}}[end]
    got = np.concatenate(list(f.follow(raw=True, **kwargs)))
    t.join()
    assert np.array_equal(got["CNT0"], np.arange(3000))


def test_tables_cut_short_and_files_that_are_no_tables(tmp_path):
    (tmp_path / "r.bin").write_bytes(np.arange(10 * 19, dtype="<u2").tobytes())
    zelk("convert", tmp_path / "r.bin", "--channels", "16", "-o", tmp_path / "r.dbf")
    whole = (tmp_path / "r.dbf").read_bytes()
    (tmp_path / "cut.dbf").write_bytes(whole[:len(whole) - 250])  # the header still promises 10 rows
    assert len(zelk2716e.read_table(tmp_path / "r.dbf")) == 10
    assert len(zelk2716e.read_table(tmp_path / "cut.dbf")) == 8
    (tmp_path / "x.dbf").write_bytes(b"not a table")
    with pytest.raises(zelk2716e.ZelkError):
        zelk2716e.read_table(tmp_path / "x.dbf")


def test_the_package_finds_the_driver_in_an_unpacked_archive(tmp_path):
    """python/zelk2716e finds lib/librq_zelk2716e_sim.so of its folder, as in the tarball."""
    shutil.copytree(os.path.join(ROOT, "python", "zelk2716e"), tmp_path / "python" / "zelk2716e")
    (tmp_path / "lib").mkdir()
    os.symlink(SIM_DRIVER, tmp_path / "lib" / os.path.basename(SIM_DRIVER))
    code = ("import zelk2716e as z; d = z.Driver(%r, library='sim'); print(d.library); print(d.status.code)"
            % os.path.join(ROOT, "examples", "demo.ini"))
    env = {k: v for k, v in os.environ.items() if k not in ("PYTHONPATH", "LD_LIBRARY_PATH")}
    out = subprocess.run([sys.executable, "-c", code], cwd=tmp_path / "python", env=env, capture_output=True,
                         text=True, timeout=60)
    assert out.returncode == 0, out.stderr
    assert out.stdout.split() == [str(tmp_path / "lib" / os.path.basename(SIM_DRIVER)), "0"]
