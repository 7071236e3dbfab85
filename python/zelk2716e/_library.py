"""Finding and loading the driver library, and the C declarations of its 18 exports.

Where a library is looked for (the first that exists and has the interpreter's width):
  1. `library=` of Driver: a path is used as it is; "sim" names the driver with the
     simulated module; another bare file name is looked for as below;
  2. without it, the environment variable ZELK2716E_LIBRARY, else the driver for real modules;
  3. the package's own folder;
  4. the layout of an unpacked tarball or zip, where the package is python/zelk2716e:
     ../../lib (Linux) and ../../bin (Windows) from the package's folder;
  5. the system's usual places: the dynamic loader's search on Linux (LD_LIBRARY_PATH, the
     loader's cache, /usr/lib/<multiarch> where the .deb puts it), PATH on Windows."""
import ctypes
import ctypes.util
import os
import struct
import sys
import threading
from typing import Dict, List, Optional

from ._text import ZelkError

WINDOWS = sys.platform == "win32"
REAL = "rq_zelk2716e.dll" if WINDOWS else "librq_zelk2716e.so"
SIM = "rq_zelk2716e_sim.dll" if WINDOWS else "librq_zelk2716e_sim.so"
PACKAGE_DIR = os.path.dirname(os.path.abspath(__file__))


class Value(ctypes.Structure):
    """The host's value record: a type tag and 8 payload bytes; 12 bytes, alignment 4."""

    _pack_ = 4
    _fields_ = [("tag", ctypes.c_int32), ("payload", ctypes.c_uint8 * 8)]


assert ctypes.sizeof(Value) == 12

# int32_t callback(uint32_t userValue, int32_t kind, void* instance), cdecl.
CALLBACK = ctypes.CFUNCTYPE(ctypes.c_int32, ctypes.c_uint32, ctypes.c_int32, ctypes.c_void_p)

_vp, _u32, _i32, _u8, _cp = ctypes.c_void_p, ctypes.c_uint32, ctypes.c_int32, ctypes.c_uint8, ctypes.c_char_p
_PROTOTYPES = {
    "Version": (_i32, []),
    "Check": (_u8, []),
    "GetDriverInfo": (None, [_i32, _cp]),
    "MakeDriver": (_vp, []),
    "DisposeDriver": (None, [_vp]),
    "Init": (_u8, [_vp, _u32, _cp, _i32, _cp, _u32, _u32, _u32, CALLBACK]),
    "Done": (None, [_vp]),
    "BufferInfo": (_i32, [_vp, _u32]),
    "SetBufferAddr": (None, [_vp, _u32]),
    "InputRequest": (None, [_vp, _u32]),
    "InputRequestCompleted": (None, [_vp]),
    "InputFinalized": (_u8, [_vp, _u32, ctypes.POINTER(_i32)]),
    "GetInput": (None, [_vp, _u32, ctypes.POINTER(Value)]),
    "OutputRequest": (None, [_vp, _u32, Value]),
    "OutputRequestCompleted": (None, [_vp]),
    "OutputFinalized": (_u8, [_vp, _u32, ctypes.POINTER(_i32)]),
    "DriverProc": (None, [_vp, _u32, _i32, _i32, _i32, _i32]),
    "QueryProc": (None, [_vp, _i32, _cp, _i32, ctypes.POINTER(Value)]),
}

_loaded: Dict[str, ctypes.CDLL] = {}
_lock = threading.Lock()


def _pe_width(path: str) -> Optional[int]:
    """32 or 64 for a Windows DLL, None when the file is not one."""
    try:
        with open(path, "rb") as f:
            head = f.read(4096)
        at = struct.unpack_from("<I", head, 0x3C)[0]
        if head[:2] != b"MZ" or head[at:at + 4] != b"PE\0\0":
            return None
        machine = struct.unpack_from("<H", head, at + 4)[0]
    except (OSError, struct.error):
        return None
    return {0x14C: 32, 0x8664: 64, 0xAA64: 64}.get(machine)


def interpreter_bits() -> int:
    return struct.calcsize("P") * 8


def candidates(name: str) -> List[str]:
    """The places a bare library name is looked for, in order (existing files only, and on
    Windows only DLLs of the interpreter's width)."""
    folders = [PACKAGE_DIR]
    top = os.path.dirname(os.path.dirname(PACKAGE_DIR))
    folders += [os.path.join(top, "bin"), os.path.join(top, "lib")] if WINDOWS else [os.path.join(top, "lib")]
    found = []
    for folder in folders:
        p = os.path.join(folder, name)
        if os.path.isfile(p) and (not WINDOWS or _pe_width(p) in (None, interpreter_bits())):
            found.append(p)
    if WINDOWS:
        for folder in os.environ.get("PATH", "").split(os.pathsep):
            p = os.path.join(folder, name)
            if folder and os.path.isfile(p) and _pe_width(p) == interpreter_bits():
                found.append(p)
    return found


def resolve(library: Optional[str]) -> str:
    """The path (or, on Linux, the bare name for the loader's search) of the library to load."""
    if library is None:
        library = os.environ.get("ZELK2716E_LIBRARY") or REAL
    library = os.fspath(library)
    if library == "sim":
        library = SIM
    if os.sep in library or (os.altsep and os.altsep in library) or os.path.isfile(library):
        return os.path.abspath(library)
    found = candidates(library)
    if found:
        return found[0]
    if WINDOWS:
        raise ZelkError("cannot find the driver %s (%d-bit, the interpreter's width) beside the package or on PATH; "
                        "give library=PATH" % (library, interpreter_bits()))
    return library  # the dynamic loader's own search


def load(library: Optional[str]) -> ctypes.CDLL:
    path = resolve(library)
    with _lock:
        lib = _loaded.get(path)
        if lib is not None:
            return lib
        if WINDOWS and os.path.isfile(path) and _pe_width(path) not in (None, interpreter_bits()):
            raise ZelkError("the driver %s is a %d-bit DLL; this Python is %d-bit: take the package of its width"
                            % (path, _pe_width(path), interpreter_bits()))
        try:
            lib = ctypes.CDLL(path)
        except OSError as e:
            hint = "" if os.path.isabs(path) else " (not beside the package nor in the system's library path: give " \
                "library=PATH or set ZELK2716E_LIBRARY)"
            raise ZelkError("cannot load the driver %s: %s%s" % (path, e, hint)) from e
        for name, (restype, argtypes) in _PROTOTYPES.items():
            try:
                fn = getattr(lib, name)
            except AttributeError:
                raise ZelkError("the library %s does not export %s: it is not the ZELK-2716E driver" % (path, name))
            fn.restype, fn.argtypes = restype, argtypes
        lib.zelk_path = path
        _loaded[path] = lib
        return lib


def tool_beside(lib_path: str) -> Optional[str]:
    """The zelk tool shipped with a library: beside it (a build), in ../bin (a package), or on PATH."""
    import shutil

    exe = "zelk.exe" if WINDOWS else "zelk"
    folder = os.path.dirname(lib_path) if os.path.isabs(lib_path) else ""
    for p in ([os.path.join(folder, exe), os.path.join(folder, "..", "bin", exe)] if folder else []):
        if os.path.isfile(p) and os.access(p, os.X_OK):
            return os.path.abspath(p)
    return shutil.which(exe)
