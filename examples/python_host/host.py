#!/usr/bin/env python3
"""A minimal host of the ZELK-2716E driver through ctypes: loads the library, starts one
instance with a parameter file, runs one read cycle of analog channels 0..3 and the device
status, and stops.   python3 host.py DRIVER_LIBRARY PARAMETER_FILE

The parameter file path should be absolute: a bare name is looked up beside the host's
executable (here: the Python interpreter). Texts come back in Windows-1250."""
import ctypes
import os
import sys
import time


class Value(ctypes.Structure):
    """The host's value record: a type tag and 8 payload bytes, 12 bytes, alignment 4."""
    _pack_ = 4
    _fields_ = [("tag", ctypes.c_int32), ("payload", ctypes.c_uint8 * 8)]


TAG_BOOLEAN, TAG_LONGCARD, TAG_REAL, TAG_STRING = 2, 5, 10, 11
CALLBACK = ctypes.CFUNCTYPE(ctypes.c_int32, ctypes.c_uint32, ctypes.c_int32, ctypes.c_void_p)
notifications = []


@CALLBACK
def on_notify(user_value, kind, instance):
    # Runs on the driver's notification thread.
    notifications.append(kind)
    return 0


def load(path):
    lib = ctypes.CDLL(path)
    vp, u32, i32, u8 = ctypes.c_void_p, ctypes.c_uint32, ctypes.c_int32, ctypes.c_uint8
    lib.MakeDriver.restype = vp
    lib.MakeDriver.argtypes = []
    lib.DisposeDriver.argtypes = [vp]
    lib.Init.restype = u8
    lib.Init.argtypes = [vp, u32, ctypes.c_char_p, i32, ctypes.c_char_p, u32, u32, u32, CALLBACK]
    lib.Done.argtypes = [vp]
    lib.InputRequest.argtypes = [vp, u32]
    lib.InputRequestCompleted.argtypes = [vp]
    lib.InputFinalized.restype = u8
    lib.InputFinalized.argtypes = [vp, u32, ctypes.POINTER(i32)]
    lib.GetInput.argtypes = [vp, u32, ctypes.POINTER(Value)]
    return lib


def main():
    if len(sys.argv) != 3:
        print("usage: host.py DRIVER_LIBRARY PARAMETER_FILE", file=sys.stderr)
        return 1
    lib = load(sys.argv[1])
    inst = lib.MakeDriver()
    msg = ctypes.create_string_buffer(257)
    if lib.Init(inst, 0, os.path.abspath(sys.argv[2]).encode(), 256, msg, 0, 0, 7, on_notify) != 1:
        print("Init failed:", msg.value.decode("cp1250"), file=sys.stderr)
        lib.Done(inst)
        lib.DisposeDriver(inst)
        return 2

    channels = [0, 1, 2, 3, 98, 99]
    for ch in channels:
        lib.InputRequest(inst, ch)
    lib.InputRequestCompleted(inst)
    err = ctypes.c_int32(0)
    for ch in channels:
        deadline = time.monotonic() + 5
        while lib.InputFinalized(inst, ch, ctypes.byref(err)) != 1 and time.monotonic() < deadline:
            time.sleep(0.001)

    status = None
    for ch in channels:
        v = Value()
        if ch <= 15:
            v.tag = TAG_REAL
            lib.GetInput(inst, ch, ctypes.byref(v))
            print("channel %d: %.4f V" % (ch, ctypes.c_double.from_buffer_copy(bytes(v.payload)).value))
        elif ch == 98:
            v.tag = TAG_LONGCARD
            lib.GetInput(inst, ch, ctypes.byref(v))
            status = ctypes.c_uint32.from_buffer_copy(bytes(v.payload[:4])).value
            print("channel 98: device status %d" % status)
        else:
            text = ctypes.create_string_buffer(1024)
            v.tag = TAG_STRING
            ctypes.memmove(v.payload, ctypes.byref(ctypes.c_void_p(ctypes.addressof(text))), ctypes.sizeof(ctypes.c_void_p))
            lib.GetInput(inst, ch, ctypes.byref(v))
            print("channel 99:", text.value.decode("cp1250"))
    print("notifications:", len(notifications))
    lib.Done(inst)
    lib.DisposeDriver(inst)
    return 0 if status == 0 else 3


if __name__ == "__main__":
    sys.exit(main())
