#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets into tests/fuzz/corpus/<target>.

Each seed is a whole input in the target's own format (see the comment at the
top of each fuzz_<target>.cpp); the boundary cases sit on both sides of every
buffer limit: 255/256 characters for the media folder, the /LOG name, the
install directory and a setup.log line, 1022/1023 for the program's own file name, 187/188 for
the Windows directory, 238/239 for the
install directory, item name and title of one Program Manager item, 16/17 for
a text field's length byte, 1290/1291 bytes for default.cfg.
"""
import os
import struct
import sys

HERE = os.path.dirname(os.path.abspath(__file__))


def write(target, name, data):
    folder = os.path.join(HERE, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def source_dir():
    # Byte 0 picks the code page (1: Shift-JIS 932, 0: 1252), then the
    # program's own file name.
    seeds = {
        "root": b"\0D:\\MERRIK.EXE",
        "blanks": b"\0C:\\My Files\\MERRIK.EXE",
        "no_backslash": b"\0MERRIK.EXE",
        "empty": b"\0",
        "sjis_trail_5c": b"\1D:\\\x95\x5c\\\x83\x5c.EXE",
        "sjis_lead_at_end": b"\1D:\\SETUP\\\x83",
    }
    for n in (255, 256):
        folder = b"C:\\" + b"F" * (n - 3)
        seeds["folder_%d" % n] = b"\0" + folder + b"\\MERRIK.EXE"
    for n in (1022, 1023):
        seeds["name_%d" % n] = b"\0D:\\" + b"N" * (n - 3)
    for name, data in seeds.items():
        write("source_dir", name, data)


def handoff():
    good = b"1\r\n0\r\nC:\\SUITE\r\n"
    seeds = {
        "windows_187": bytes([187]) + good,
        "windows_188": bytes([188]) + good,
        "windows_empty": bytes([0]) + good,
        "no_file": bytes([241]) + good,
        "failed": bytes([10]) + b"0\r\n0\r\nC:\\SUITE\r\n",
        "ama_1": bytes([10]) + b"1\r\n1\r\nC:\\SUITE\r\n",
        "ama_letter": bytes([10]) + b"1\r\nx\r\nC:\\SUITE\r\n",
        "empty": bytes([10]),
        "short": bytes([10]) + b"1\r\n",
        "no_line_end": bytes([10]) + b"1\r\n0\r\nC:\\SUITE",
        "lf_only": bytes([10]) + b"1\r\n0\r\nC:\\A\nB\r\n",
    }
    for n in (255, 256):
        seeds["path_%d" % n] = (bytes([10]) + b"1\r\n0\r\nC:\\" +
                                b"P" * (n - 3) + b"\r\n")
    for name, data in seeds.items():
        write("handoff", name, data)


def defaults_file(size=1291, length1=4, length2=4):
    data = bytearray((i * 7 + 3) & 0xFF for i in range(size))
    if size > 293:
        data[260] = length1
        data[261:277] = b"ABCDEFGHIJKLMNOP"
        data[277] = length2
        data[278:294] = b"1234567890abcdef"
    if size > 931:
        data[931] = 0xFF
    return bytes(data)


def defaults():
    seeds = {
        "size_1290": defaults_file(1290),
        "size_1291": defaults_file(1291),
        "size_1400": defaults_file(1400),
        "length_0": defaults_file(length1=0, length2=0),
        "length_5": defaults_file(length1=5, length2=5),
        "length_16": defaults_file(length1=16, length2=16),
        "length_17": defaults_file(length1=17, length2=255),
    }
    for name, data in seeds.items():
        write("defaults", name, data)


FILE_LIST = (b"#start\n"
             b"SETUP.EXE = \"Not an item\"\n"
             b"  \t#item\n"
             b"ABC.EXE = \"Monitor\"\n"
             b"\tDEF.EXE\t\"Tabbed title\"   // note\n"
             b"\n"
             b"// a comment line\n"
             b"GHI.EXE=\"Equals\"\n"
             b"a/b \"Slash /x\"\r\n"
             b"JKL.EXE \"Ti]tle [B]\"\n"
             b"#end\n"
             b"AFTER.EXE \"after the section\"\n")


def file_list():
    seeds = {
        "sections": bytes([20]) + FILE_LIST,
        "no_marker": bytes([4]) + b"A.EXE \"x\"\n",
        "markers": bytes([4]) + b"#ITEMS\nA.EXE \"a\"\n# item\nB.EXE \"b\"\n"
                                b"#item\nC.EXE \"c\"\n",
        "slash_at_end": bytes([4]) + b"#item\nA.EXE \"a\"/",
        "tab_at_end": bytes([4]) + b"#item\nA.EXE \"a\"\t",
        "no_quote": bytes([4]) + b"#item\nA.EXE x\nB.EXE\n=\"\"\n\"\n",
    }
    # Install directory, item name and title together 238 and 239.
    for total in (238, 239):
        title = b"T" * (total - 200 - 5)
        seeds["item_%d" % total] = (bytes([200]) + b"#item\nA.EXE \"" +
                                    title + b"\"\n")
    # A logical line of 255 and of 256 characters.
    for n in (255, 256):
        line = b"B.EXE \"" + b"t" * (n - 8) + b"\""
        seeds["line_%d" % n] = bytes([2]) + b"#item\n" + line + b"\n"
    for name, data in seeds.items():
        write("file_list", name, data)


def worker_input(flags, dir_length, cfg, log, status=b"1", ama=b"0"):
    return (bytes([flags]) + struct.pack("<H", dir_length) + status + ama +
            struct.pack("<H", len(cfg)) + cfg + log)


def worker():
    cfg = defaults_file()
    log = FILE_LIST
    seeds = {
        "express": worker_input(0, 20, cfg, log),
        "custom_nt": worker_input(3, 20, cfg, log),
        "cancelled": worker_input(4, 20, cfg, log, ama=b"1"),
        "failed": worker_input(0, 20, cfg, log, status=b"0"),
        "cfg_1290": worker_input(0, 20, defaults_file(1290), log),
        "no_cfg": worker_input(0, 20, b"", log),
    }
    # Around every limit of a name composed from the install directory:
    # "\Zezoroza.exe" 242/243, "\Dovrel.exe" 244/245, "\setup.log" 245/246,
    # "\Tessary.exe" 243/244, the directory itself 255/256.
    for n in (242, 243, 244, 245, 246, 255, 256):
        seeds["dir_%d" % n] = worker_input(0, n, cfg, b"#item\nA.EXE \"a\"\n")
        seeds["custom_dir_%d" % n] = worker_input(1, n, cfg, b"")
    for name, data in seeds.items():
        write("worker", name, data)


def log_switch():
    # The command line that GetCommandLineA gives.
    name255 = b"C:\\" + b"n" * 252
    seeds = {
        "alone": b"A:\\MERRIK.EXE /LOG",
        "named": b"merrik /log=C:\\setup.txt more",
        "quoted": b'"C:\\a b\\MERRIK.EXE" /LOG="C:\\any folder\\x.txt" x',
        "open_quote": b'merrik /LOG="C:\\open end',
        "empty_quotes": b'merrik /LOG=""',
        "longer_word": b"merrik /LOGFILE=C:\\x /LOG=C:\\y",
        "quoted_argument": b'merrik "a /LOG=C:\\x" /lOg=C:\\z',
        "name_255": b"merrik /LOG=" + name255,
        "name_256": b"merrik /LOG=" + name255 + b"x",
        "quoted_256": b'merrik /LOG="' + name255 + b'x" y',
        "at_end": b"merrik /LOG=",
    }
    for name, data in seeds.items():
        write("log_switch", name, data)


def log_line():
    # Byte 0: escaping buffer size (bits 0-5, 0 for the line's size), disk
    # that fills (bit 6, free bytes in byte 1), a second line (bit 7).
    seeds = {
        "plain": b"\0\0C:\\Program Files\\VKO",
        "controls": b"\0\0" + bytes(range(0, 0x20)) + b"\x7f\x80\xff",
        "handoff": b"\x80\x001\r\n0\r\nC:\\VKO\r\n",
        "buffer_4": b"\x04\0ab\x01",
        "buffer_5": b"\x05\0ab\x01",
        "long": b"\0\0" + b"\n" * 400,
        "disk_full_10": b"\x4a\x0avalue that tears",
        "disk_full_0_two": b"\xc0\x00two lines",
        "disk_room": b"\xc0\xffshort",
    }
    for name, data in seeds.items():
        write("log_line", name, data)


def main():
    source_dir()
    log_switch()
    log_line()
    handoff()
    defaults()
    file_list()
    worker()
    return 0


if __name__ == "__main__":
    sys.exit(main())
