#!/usr/bin/env python3
"""Lays out a distribution media folder for MERRIK.EXE.

    make_demo_media.py --out DIR --merrik MERRIK.EXE --sibling sibling.exe
                       [--install-dir "C:\\Program Files\\VKO Halvermont"]
                       [--presetup-window]

The folder holds the setup program and stand-ins for the three sibling
programs (one small Win32 program copied under each name; what each copy does
is given by the files beside it):

    MERRIK.EXE
    Utility\\Sondel.exe      + Sondel.handoff       pre-install test
    Utility\\Quillan.exe     + Quillan.handoff      pre-setup: copies the suite
    Utility\\Quillan.files\\ default.cfg, setup.log, Tessary.exe,
                             Tessary.handoff, Zezoroza.exe, Dovrel.exe

With --presetup-window the pre-setup program also shows a window while it
runs ("Quillan window", 400 by 300 at 100,100; Utility\\Quillan.window), as
a real one that asks or reports its progress does.

The hand-off files are three CR LF lines: status ("1" = success), the AMA
character, the install directory. Quillan reports AMA "1" (stored as 0) and
Tessary AMA "0" (stored as 1), so an Express and a Custom install differ.
"""

import argparse
import os
import shutil
import struct
import sys

DEFAULT_INSTALL_DIR = "C:\\Program Files\\VKO Halvermont"

# Offsets of the fields of default.cfg that the setup imports.
CHIPSET_AT = 260
MAXSPEED_AT = 277
LM75_TEMPERATURES_AT, LM75_TEMPERATURES_LEN = 300, 304
FANS_AT, FANS_LEN = 606, 160
VID_AT = 931
TEMPERATURE_AT, TEMPERATURE_LEN = 932, 37
VOLTAGES_AT, VOLTAGES_LEN = 969, 322
DEFAULT_CFG_SIZE = 1536  # the importer needs at least 1291 bytes

SETUP_LOG_ITEMS = [
    ("Zezoroza.exe", "Hardware Monitor"),
    ("Dovrel.exe", "Uninstall VKO Halvermont"),
]


def _name(text, size=16):
    raw = text.encode("ascii")
    return raw + b"\0" * (size - len(raw))


def _text_field(text):
    raw = text.encode("ascii")
    assert len(raw) <= 16
    return bytes([len(raw)]) + raw + b"\0" * (16 - len(raw))


def default_cfg(chipset="LM78", max_speed="4800 RPM", vid=0x12):
    """Hardware-monitor defaults: an LM78 with three fans, the LM78's own
    temperature channel, seven voltage channels and the LM75 sensors."""
    cfg = bytearray(DEFAULT_CFG_SIZE)

    header = b"VKO DMI Hardware Monitor Defaults\r\n\x1a"
    cfg[0:len(header)] = header
    cfg[40:48] = struct.pack("<HHI", 2, 10, DEFAULT_CFG_SIZE)
    product = b"VKO Halvermont 2.10 (LM78/LM75 board support)"
    cfg[64:64 + len(product)] = product

    cfg[CHIPSET_AT:CHIPSET_AT + 17] = _text_field(chipset)
    cfg[MAXSPEED_AT:MAXSPEED_AT + 17] = _text_field(max_speed)

    # LM75: eight sensor records of 38 bytes: name, address, limits in
    # tenths of a degree Celsius (high, hysteresis, low), poll seconds, flags.
    lm75 = bytearray()
    sensors = ["CPU", "System", "Chassis", "PCI Slot", "Power", "Drive Bay",
               "Ambient", "Spare"]
    for i, name in enumerate(sensors):
        enabled = 1 if i < 4 else 0
        lm75 += _name(name + " Temp") + struct.pack(
            "<BBhhhHH", 0x48 + i, enabled, 600 - 50 * (i % 3), 550, -100, 5,
            1) + b"\0" * 10
    assert len(lm75) == LM75_TEMPERATURES_LEN, len(lm75)
    cfg[LM75_TEMPERATURES_AT:LM75_TEMPERATURES_AT + len(lm75)] = lm75

    # Fans: four records of 40 bytes: name, divisor, pulses per turn, low
    # limit and nominal speed (RPM), enabled, alarm action, reserved.
    fans = bytearray()
    for name, low, nominal, enabled in [("CPU Fan", 2500, 4800, 1),
                                        ("System Fan", 1800, 3600, 1),
                                        ("Power Fan", 1500, 3000, 1),
                                        ("Aux Fan", 0, 0, 0)]:
        fans += _name(name) + struct.pack("<BBHHBB", 2, 2, low, nominal,
                                          enabled, 1) + b"\0" * 16
    assert len(fans) == FANS_LEN, len(fans)
    cfg[FANS_AT:FANS_AT + len(fans)] = fans

    cfg[VID_AT] = vid

    # LM78 on-chip temperature: name, enabled, limits, unit, reserved.
    temp = _name("Board Temp") + struct.pack("<Bhhhc", 1, 550, 500, 0, b"C")
    temp += b"\0" * (TEMPERATURE_LEN - len(temp))
    cfg[TEMPERATURE_AT:TEMPERATURE_AT + len(temp)] = temp

    # Voltages: seven channels of 46 bytes: name, nominal, low and high limit
    # in millivolts, scale factor in thousandths, enabled, reserved.
    volts = bytearray()
    for name, nominal, factor in [("Vcore", 2800, 1000), ("Vio", 3300, 1000),
                                  ("+5V", 5000, 1680), ("+12V", 12000, 3800),
                                  ("-12V", -12000, 3470), ("-5V", -5000, 1500),
                                  ("Vbat", 3000, 1000)]:
        margin = abs(nominal) // 20
        volts += _name(name) + struct.pack(
            "<iiiIB", nominal, nominal - margin, nominal + margin, factor,
            1) + b"\0" * 13
    assert len(volts) == VOLTAGES_LEN, len(volts)
    cfg[VOLTAGES_AT:VOLTAGES_AT + len(volts)] = volts

    trailer = b"END OF DEFAULTS\0"
    cfg[1400:1400 + len(trailer)] = trailer
    return bytes(cfg)


def setup_log(install_dir, items=SETUP_LOG_ITEMS, encoding="ascii"):
    lines = [
        "// VKO Halvermont - files installed by Setup",
        "#start",
        "Product = \"VKO Halvermont\"",
        "Version = \"2.10\"",
        "Target = \"%s\"" % install_dir,
        "",
        "#file",
        "Zezoroza.exe     // hardware monitor",
        "Dovrel.exe       // uninstaller",
        "Tessary.exe      // configuration",
        "default.cfg",
        "",
        "#item",
    ]
    for name, title in items:
        lines.append("%s = \"%s\"" % (name, title))
    lines += ["", "#end", ""]
    return "\r\n".join(lines).encode(encoding)


def handoff(status, ama, install_dir, encoding="ascii"):
    return ("%s\r\n%s\r\n%s\r\n" % (status, ama, install_dir)).encode(
        encoding)


def build(out, merrik, sibling, install_dir=DEFAULT_INSTALL_DIR,
          presetup_window=False, items=SETUP_LOG_ITEMS, encoding="ascii"):
    """Lays out the media in `out`. The names in the hand-off files and
    setup.log are written in `encoding`, the ANSI code page of the system
    that runs the media."""
    if os.path.exists(out):
        shutil.rmtree(out)
    utility = os.path.join(out, "Utility")
    files = os.path.join(utility, "Quillan.files")
    os.makedirs(files)
    shutil.copyfile(merrik, os.path.join(out, "MERRIK.EXE"))
    for name in ("Sondel", "Quillan"):
        shutil.copyfile(sibling, os.path.join(utility, name + ".exe"))
    with open(os.path.join(utility, "Sondel.handoff"), "wb") as f:
        f.write(handoff("1", "1", install_dir, encoding))
    with open(os.path.join(utility, "Quillan.handoff"), "wb") as f:
        f.write(handoff("1", "1", install_dir, encoding))
    if presetup_window:
        open(os.path.join(utility, "Quillan.window"), "wb").close()
    with open(os.path.join(files, "default.cfg"), "wb") as f:
        f.write(default_cfg())
    with open(os.path.join(files, "setup.log"), "wb") as f:
        f.write(setup_log(install_dir, items, encoding))
    # The suite's own programs: the stand-in, which without files of its own
    # only exits, so that shortcuts and the start-up entry point at real
    # programs.
    for name in ("Tessary.exe", "Zezoroza.exe", "Dovrel.exe"):
        shutil.copyfile(sibling, os.path.join(files, name))
    with open(os.path.join(files, "Tessary.handoff"), "wb") as f:
        f.write(handoff("1", "0", install_dir, encoding))


def main(argv):
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--out", required=True)
    p.add_argument("--merrik", required=True)
    p.add_argument("--sibling", required=True)
    p.add_argument("--install-dir", default=DEFAULT_INSTALL_DIR)
    p.add_argument("--presetup-window", action="store_true",
                   help="the pre-setup program shows a window while it runs")
    a = p.parse_args(argv)
    build(a.out, a.merrik, a.sibling, a.install_dir, a.presetup_window)
    print("media folder: %s" % a.out)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
