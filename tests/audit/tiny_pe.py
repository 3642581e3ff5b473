#!/usr/bin/env python3
"""Writes small Win32 PE programs for the tests of the audit and of
mediacheck: by default an i386 GUI program for Windows 4.0 that imports
KERNEL32's GetVersion and whose code is a few 486 instructions; each option
breaks one rule.

    tiny_pe.py OUT [--import DLL:FUNCTION]... [--tls] [--code HEX]
               [--subsystem N] [--subsystem-version X.Y]
"""
import argparse
import struct
import sys

IMAGE_BASE = 0x400000
TEXT_RVA, DATA_RVA = 0x1000, 0x2000
HEADERS = 0x200
SECTION = 0x200  # raw size of each section (file alignment)


def build(imports=(("KERNEL32.dll", "GetVersion"),), code=b"", tls=False,
          subsystem=2, subsystem_version=(4, 0), os_version=(4, 0)):
    """The bytes of the program. `code` comes first in .text, before the
    call of the first import and a ret."""
    dlls = []
    for dll, function in imports:
        if dll not in [d for d, _ in dlls]:
            dlls.append((dll, []))
        dict(dlls)[dll].append(function)

    # .idata: descriptors, then per DLL its lookup table, its address
    # table, its hint/name entries and its name.
    data = bytearray(20 * (len(dlls) + 1))
    iat_first = None
    for i, (dll, functions) in enumerate(dlls):
        names = []
        for function in functions:
            names.append(len(data))
            data += struct.pack("<H", 0) + function.encode() + b"\0"
            data += b"\0" * (len(data) % 2)
        tables = []
        for _ in range(2):  # lookup table, address table
            tables.append(len(data))
            for at in names:
                data += struct.pack("<I", DATA_RVA + at)
            data += struct.pack("<I", 0)
        if iat_first is None:
            iat_first = tables[1]
        name_at = len(data)
        data += dll.encode() + b"\0"
        struct.pack_into("<IIIII", data, 20 * i, DATA_RVA + tables[0], 0, 0,
                         DATA_RVA + name_at, DATA_RVA + tables[1])
    imports_size = 20 * (len(dlls) + 1)
    tls_at = 0
    if tls:
        data += b"\0" * (-len(data) % 4)
        tls_at = len(data)
        va = IMAGE_BASE + DATA_RVA + tls_at
        # raw data start and end (8 bytes after the directory), index slot,
        # callbacks (an empty list), zero fill, characteristics
        data += struct.pack("<IIIIII", va + 24, va + 32, va + 32, va + 36, 0,
                            0) + b"\0" * 16
    assert len(data) <= SECTION

    text = bytes(code) + b"\xff\x15" + struct.pack(
        "<I", IMAGE_BASE + DATA_RVA + iat_first) + b"\xc3"
    assert len(text) <= SECTION

    directories = [(0, 0)] * 16
    directories[1] = (DATA_RVA, imports_size)
    if tls:
        directories[9] = (DATA_RVA + tls_at, 24)
    optional = struct.pack(
        "<HBBIIIIIIIIIHHHHHHIIIIHHIIIIII", 0x10B, 2, 0, SECTION, SECTION, 0,
        TEXT_RVA, TEXT_RVA, DATA_RVA, IMAGE_BASE, 0x1000, SECTION,
        os_version[0], os_version[1], 0, 0, subsystem_version[0],
        subsystem_version[1], 0, 0x3000, HEADERS, 0, subsystem, 0, 0x100000,
        0x1000, 0x100000, 0x1000, 0, 16)
    optional += b"".join(struct.pack("<II", *d) for d in directories)
    header = struct.pack("<4sHHIIIHH", b"PE\0\0", 0x14C, 2, 0, 0, 0,
                         len(optional), 0x010F)
    sections = struct.pack("<8sIIIIIIHHI", b".text", len(text), TEXT_RVA,
                           SECTION, HEADERS, 0, 0, 0, 0, 0x60000020)
    sections += struct.pack("<8sIIIIIIHHI", b".idata", len(data), DATA_RVA,
                            SECTION, HEADERS + SECTION, 0, 0, 0, 0,
                            0xC0000040)
    dos = bytearray(0x40)
    dos[0:2] = b"MZ"
    struct.pack_into("<I", dos, 0x3C, 0x40)
    image = bytes(dos) + header + optional + sections
    image += b"\0" * (HEADERS - len(image))
    image += text + b"\0" * (SECTION - len(text))
    image += bytes(data) + b"\0" * (SECTION - len(data))
    return image


def main(argv):
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("out")
    p.add_argument("--import", dest="imports", action="append", default=[])
    p.add_argument("--tls", action="store_true")
    p.add_argument("--code", default="")
    p.add_argument("--subsystem", type=int, default=2)
    p.add_argument("--subsystem-version", default="4.0")
    a = p.parse_args(argv)
    imports = [("KERNEL32.dll", "GetVersion")] + [
        tuple(i.split(":", 1)) for i in a.imports]
    with open(a.out, "wb") as f:
        f.write(build(imports, bytes.fromhex(a.code), a.tls, a.subsystem,
                      tuple(int(x) for x in a.subsystem_version.split("."))))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
