#!/usr/bin/env python3
"""End-to-end scenarios of MERRIK.EXE under Wine.

    run_e2e.py --work DIR --merrik MERRIK.EXE --sibling sibling.exe
               --driver driver.exe (--prefix VERSION | --scenario NAME |
               --driver-check --mock mock_box.exe | --sibling-check |
               --depth-check --probe depth_probe.exe | --list)

--prefix VERSION makes a fresh 32-bit prefix for win95, nt40 or win2k under
DIR. Each scenario then resets the product's keys, files and program group in
that prefix, lays out a fresh media folder at C:\\Media, runs the GUI driver
against C:\\Media\\MERRIK.EXE with the scenario's steps, and checks the
driver's transcript (message boxes, owners, backdrop, exit code), the registry
(by name, type, size and bytes, read with the
ANSI registry functions by regdump.exe), the program group folder that
Wine's shell made, and the hand-off file. DISPLAY must name a running X
server.
"""

import argparse
import glob
import os
import re
import shutil
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "tools"))
import make_demo_media as media  # noqa: E402

VERSIONS = ("win95", "nt40", "win2k")
INSTALL_DIR = media.DEFAULT_INSTALL_DIR
GROUP = "VKO Halvermont"

HKLM = "HKEY_LOCAL_MACHINE"
K_VKO = HKLM + "\\Software\\VKO"
K_DMI = K_VKO + "\\DMI"
K_CV = HKLM + "\\Software\\Microsoft\\Windows\\CurrentVersion"
K_RUN = K_CV + "\\Run"
K_RUNONCE = K_CV + "\\RunOnce"
K_UNINST = K_CV + "\\Uninstall"
K_VKODMI = K_UNINST + "\\VKO DMI"
K_SERVICES = HKLM + "\\System\\CurrentControlSet\\Services"
SERVICES = ("VEZUDA", "Riveze")

REG_SZ, REG_BINARY, REG_DWORD = 1, 3, 4

# Texts the setup shows.
MSG_FAILED = ("Abort Installation", "VKO Halvermont Installation Failed!",
              "OK", "error")
MSG_EXIT = ("Exit Installation",
            "Do you want to exit VKO Halvermont installation?", "Yes,No",
            "question")
MSG_SUCCESS = ("Success", "VKO Halvermont, successfully Installed!\n"
               "Windows will restart now! ", "OK,Cancel", "none")
MSG_PLATFORM = ("Install Error", "VKO Halvermont Only Design for Windows95 "
                "and Windows NT4.0 PlatForm!", "OK", "error")
MSG_INSTALLED = ("Warning", "This system has installed VKO Halvermont!\n"
                 "Please Uninstall VKO Halvermont first, before you "
                 "reinstall!", "OK", "warning")
MSG_NO_SIBLING = ("Installation Error", "Can not find Resource file.", "OK",
                  "error")
MSG_NO_HANDOFF = ("Install Error", "Can not open install.tmp file!", "OK",
                  "error")
MSG_NO_DEFAULTS = ("Installation Error", "Can not Open default.cfg file!",
                   "OK", "error")
MSG_NO_GROUP = ("Warning", "Can not create the VKO Halvermont program group!"
                "\nVKO Halvermont is installed in " + INSTALL_DIR, "OK",
                "warning")

STALE_HANDOFF = b"1\r\n1\r\nC:\\Stale\r\n"
MEDIA_WITH_BLANKS = "VKO Setup Disk"
SOUND_INSTALL_DIR = "C:\\VKO"
# A trap program leaves a failing hand-off file and this folder under C:\.
TRAP_TRACE = "Trap Ran"
# An install directory with brackets, and an item whose file name and title
# hold brackets: Program Manager takes them as plain characters inside the
# quoted AddItem arguments.
BRACKETS_DIR = "C:\\Tools [2]"
BRACKETS_ITEMS = media.SETUP_LOG_ITEMS + [("Sensors[2].exe",
                                           "Sensor Log ]2[ [LM75]")]
MARKER = "E2EMarker"
# The setup log: a named file in a folder with a blank, and MERRIK.LOG in
# the temporary folder for /LOG alone.
LOG_DIR = "Setup Logs"
LOG_FILE = "C:\\%s\\merrik.txt" % LOG_DIR
EARLIER_LOG_LINE = b"an earlier run's line\r\n"
MISSING_LOG = "C:\\No Such Folder\\setup.txt"
# Japanese Windows: code page 932, where the second byte of many characters
# is 0x5C, the byte of a backslash (表 95 5C, ソ 83 5C), and the long vowel
# mark ー (81 5B) ends in the byte of "[". Wine takes the code page from the
# locale.
LOCALES = {"cp932": "ja_JP.UTF-8"}
DBCS_MEDIA_DIR = "表ソ"
DBCS_INSTALL_DIR = "C:\\ソフト表\\計器表"
DBCS_ITEMS = [("Zezoroza.exe", "ハードウェア モニター"),
              ("Dovrel.exe", "アンインストーラー 表ソ")]
DBCS_LOG_DIR = "ログ表"
DBCS_LOG_FILE = "C:\\%s\\セットアップ.log" % DBCS_LOG_DIR


class Failure(Exception):
    pass


# --- registry values --------------------------------------------------------

def sz(text, codepage="cp1252"):
    return (REG_SZ, text.encode(codepage) + b"\0")


def dword(v):
    return (REG_DWORD, (v & 0xFFFFFFFF).to_bytes(4, "little"))


def binary(b):
    return (REG_BINARY, bytes(b))


def command(install_dir, name):
    """A command stored for Windows to run: in double quotes when its path
    holds a blank."""
    path = install_dir + "\\" + name
    return '"%s"' % path if " " in path else path


def installed_keys(install_dir, ama, nt, cfg, codepage="cp1252"):
    """Registry layout after a successful installation: key -> values; the
    texts in the system's ANSI code page `codepage`."""
    def chunk(at, n):
        return cfg[at:at + n]

    def text(at):
        return cfg[at + 1:at + 1 + cfg[at]].decode("cp1252")
    keys = {
        K_VKO: {},
        K_DMI: {"path": sz(install_dir, codepage), "Security": dword(3),
                "AMA": dword(ama)},
        K_DMI + "\\LM78": {
            "Chassis Secure": dword(0),
            "Fans": binary(chunk(media.FANS_AT, media.FANS_LEN)),
            "VID": dword(cfg[media.VID_AT]),
            "Temperature": binary(chunk(media.TEMPERATURE_AT,
                                        media.TEMPERATURE_LEN)),
            "Voltages": binary(chunk(media.VOLTAGES_AT, media.VOLTAGES_LEN)),
            "ChipSet": sz(text(media.CHIPSET_AT)),
            "MaxSpeed": sz(text(media.MAXSPEED_AT)),
        },
        K_DMI + "\\LM75": {
            "Temperatures": binary(chunk(media.LM75_TEMPERATURES_AT,
                                         media.LM75_TEMPERATURES_LEN)),
        },
        K_VKODMI: {"DisplayName": sz("VKO Halvermont"),
                   "UninstallString": sz(command(install_dir, "Dovrel.exe"),
                                         codepage)},
    }
    run = {"ZEZOroza": sz(command(install_dir, "Zezoroza.exe"), codepage)}
    if nt:
        for s in SERVICES:
            keys[K_SERVICES + "\\" + s] = {
                "Type": dword(1), "Start": dword(0), "ErrorControl": dword(1),
                "Group": sz("Extended base")}
    return keys, run


def reg_file(keys, run=None, deletions=()):
    """REGEDIT4 text that deletes the given keys, then writes keys/values."""
    out = ["REGEDIT4", ""]
    for k in deletions:
        out += ["[-%s]" % k, ""]
    for k, values in keys.items():
        out.append("[%s]" % k)
        for name, (typ, data) in values.items():
            out.append('"%s"=%s' % (name, reg_data(typ, data)))
        out.append("")
    if run is not None:
        out.append("[%s]" % K_RUN)
        for name, value in run.items():
            out.append('"%s"=%s' % (name, "-" if value is None
                                     else reg_data(*value)))
        out.append("")
    return "\r\n".join(out) + "\r\n"


def reg_data(typ, data):
    if typ == REG_SZ:
        text = data[:-1].decode("cp1252")
        return '"%s"' % text.replace("\\", "\\\\").replace('"', '\\"')
    if typ == REG_DWORD:
        return "dword:%08x" % int.from_bytes(data, "little")
    prefix = "hex:" if typ == REG_BINARY else "hex(%x):" % typ
    return prefix + ",".join("%02x" % b for b in data)


def parse_regdump(text):
    """Parses regdump.exe output into {key: {name: (type, bytes)}}."""
    keys = {}
    current = None
    for kind, f in parse_transcript(text):
        if kind == "key":
            current = f["path"]
            keys[current] = {}
        elif kind == "value" and current is not None:
            data = b"" if f["data"] == "-" else bytes.fromhex(f["data"])
            check_size = int(f["size"])
            assert check_size == len(data), f
            keys[current][f["name"].encode("latin-1").decode("cp1252")] = (
                int(f["type"]), data)
    return keys


def parse_reg4(text):
    """Parses REGEDIT4 text into {key: {name: (type, bytes)}}."""
    text = re.sub(r"\\\r?\n[ \t]*", "", text)
    keys = {}
    current = None
    value = re.compile(r'^(@|"(?:[^"\\]|\\.)*")=(.*)$')
    for line in text.splitlines():
        if line.startswith("[") and line.endswith("]"):
            current = keys.setdefault(line[1:-1], {})
            continue
        m = value.match(line)
        if not m or current is None:
            continue
        name = "" if m.group(1) == "@" else re.sub(
            r"\\(.)", r"\1", m.group(1)[1:-1])
        data = m.group(2)
        if data.startswith('"'):
            current[name] = sz(re.sub(r"\\(.)", r"\1", data[1:-1]))
        elif data.startswith("dword:"):
            current[name] = dword(int(data[6:], 16))
        else:
            kind, _, hexes = data.partition(":")
            typ = REG_BINARY if kind == "hex" else int(kind[4:-1], 16)
            current[name] = (typ, bytes(int(h, 16) for h in hexes.split(",")
                                        if h))
    return keys


# --- Wine ------------------------------------------------------------------

class Prefix:
    def __init__(self, work, version):
        self.version = version
        os.makedirs(work, exist_ok=True)
        self.path = os.path.join(os.path.abspath(work), "prefix-" + version)
        self.env = dict(os.environ)
        self.env.update({
            "WINEARCH": "win32", "WINEPREFIX": self.path, "WINEDEBUG": "-all",
            # No menu entries on the host; no Mono or Gecko installer.
            "WINEDLLOVERRIDES": "winemenubuilder.exe=d;mscoree=d;mshtml=d",
        })
        self.c = os.path.join(self.path, "drive_c")

    def run(self, args, timeout=120, check=True):
        # Output goes to a file, not a pipe: the wineserver and the programs
        # it starts inherit the descriptors and outlive the command.
        log = os.path.join(os.path.dirname(self.path), "wine-%s.log"
                           % self.version)
        with open(log, "w+b") as f:
            try:
                p = subprocess.run(args, env=self.env, timeout=timeout,
                                   stdout=f, stderr=subprocess.STDOUT)
            except subprocess.TimeoutExpired:
                raise Failure("%s timed out after %d s" % (" ".join(args),
                                                            timeout))
            f.seek(0)
            p.stdout = f.read()
        if check and p.returncode != 0:
            raise Failure("%s failed (%d): %s" % (
                " ".join(args), p.returncode,
                p.stdout.decode("utf-8", "replace")[-2000:]))
        return p

    def wine(self, *args, **kw):
        return self.run(["wine"] + list(args), **kw)

    def kill(self):
        self.run(["wineserver", "-k"], check=False)
        self.run(["wineserver", "-w"], check=False)

    def start_session(self):
        """Starts a wineserver that stays up until kill(), so that every
        command of a scenario runs in one Wine session. A new session runs
        (and deletes) the RunOnce entries, just as a restart does."""
        self.run(["wineserver", "-p"], check=False)
        self.wine("cmd", "/c", "exit")

    def create(self):
        self.kill()
        if os.path.exists(self.path):
            shutil.rmtree(self.path)
        os.makedirs(os.path.dirname(self.path), exist_ok=True)
        self.run(["wineboot", "-i"], timeout=300)
        self.wine("reg", "add", "HKCU\\Software\\Wine", "/v", "Version",
                  "/d", self.version, "/f")
        # Xvfb runs no window manager: unmanaged windows spare Wine's wait
        # for one on every hidden window.
        self.wine("reg", "add", "HKCU\\Software\\Wine\\X11 Driver", "/v",
                  "Managed", "/d", "N", "/f")
        # Windows 95's and NT 4.0's own look: their standard colours, and
        # Marlett for the caption buttons.
        self.run(["bash", os.path.join(HERE, "..", "..", "tools",
                                       "prefix_look.sh")])
        self.kill()

    def import_reg(self, text, name):
        path = os.path.join(self.c, name)
        with open(path, "wb") as f:
            f.write(text.encode("cp1252"))
        self.wine("reg", "import", "C:\\" + name)
        os.remove(path)

    def dump(self, regdump, *keys):
        """{key: values} of the keys and their subkeys, with exact sizes."""
        out = os.path.join(self.c, "regdump.txt")
        # Right after a requested restart the session may still be ending
        # programs, this one included: try again.
        for _ in range(10):
            if os.path.exists(out):
                os.remove(out)
            p = self.wine(to_windows(regdump), "C:\\regdump.txt", *keys,
                          check=False)
            if p.returncode == 0 and os.path.exists(out):
                with open(out, "rb") as f:
                    text = f.read().decode("latin-1")
                os.remove(out)
                return parse_regdump(text)
            time.sleep(1)
        raise Failure("regdump.exe gave no output")

    def programs_dir(self):
        found = glob.glob(os.path.join(
            self.c, "users", "*", "AppData", "Roaming", "Microsoft",
            "Windows", "Start Menu", "Programs"))
        found = [d for d in found if os.sep + "Public" + os.sep not in d]
        if not found:
            raise Failure("no Start Menu\\Programs folder in the prefix")
        return found[0]


# --- transcript ------------------------------------------------------------

FIELD = re.compile(r'(\w+)=("(?:[^"\\]|\\.)*"|\S*)')


def parse_transcript(text):
    events = []
    for line in text.splitlines():
        kind, _, rest = line.partition(" ")
        fields = {}
        for m in FIELD.finditer(rest):
            v = m.group(2)
            if v.startswith('"'):
                v = re.sub(r"\\(x[0-9a-f]{2}|.)", lambda e: {
                    "n": "\n", "r": "\r", "t": "\t"}.get(
                        e.group(1), chr(int(e.group(1)[1:], 16))
                    if e.group(1).startswith("x") and len(e.group(1)) == 3
                    else e.group(1)), v[1:-1])
            fields[m.group(1)] = v
        events.append((kind, fields))
    return events


# --- scenarios ---------------------------------------------------------------

class Scenario:
    def __init__(self, name, version, steps, boxes, exit_code,
                 mutate=None, before=None, before_run=None, expect=None,
                 group=False, handoff="absent", restart=False, stale=True,
                 keys_focus=None, media_dir="Media", absent=(),
                 install_dir=INSTALL_DIR, items=media.SETUP_LOG_ITEMS,
                 mediacheck=None, after=None, arguments=None,
                 log_check=None, no_welcome=False, codepage="cp1252",
                 kept_group=False):
        self.name = name
        self.version = version
        self.steps = steps
        self.boxes = boxes          # [(owner, (caption, text, buttons, icon))]
        self.exit_code = exit_code  # None: not observable
        self.mutate = mutate        # fn(media_dir) after the media is laid out
        self.before = before        # (keys, run) written before the run
        self.before_run = before_run  # fn(prefix) before the run
        self.expect = expect        # fn(cfg) -> (keys, run) after the run
        self.group = group          # True: the group with both items exists
        self.kept_group = kept_group  # True: make_group's group, untouched
        self.handoff = handoff      # "absent", "stale", or a sibling's name
        self.restart = restart
        self.stale = stale          # put an old install.tmp in place first
        self.keys_focus = keys_focus  # control focused before each key
        self.media_dir = media_dir  # folder of the media under C:\
        self.absent = absent        # paths under C:\ that must not exist
        self.install_dir = install_dir  # named by the hand-off files
        self.items = items          # (file, title) of setup.log's items
        # mediacheck's arguments: its .reg text and DDE commands for the
        # media are compared with the registry and group after the install.
        self.mediacheck = mediacheck
        # fn(prefix, scenario, problems) once the run's registry and group
        # are checked: what Windows or other programs do after the setup.
        self.after = after
        # Arguments after the quoted program name (such as /LOG); the
        # scenario's log is then checked by log_check(prefix, scenario, cfg,
        # problems). Without arguments no log file may appear.
        self.arguments = arguments
        self.log_check = log_check
        # The setup ends before its backdrop and Welcome dialog.
        self.no_welcome = no_welcome
        # The system's ANSI code page (a key of LOCALES or cp1252): the
        # media's names are written in it, and the registry, the shortcuts
        # and the log are read in it.
        self.codepage = codepage


def cfg_bytes():
    return media.default_cfg()


def installed(ama, nt):
    return lambda cfg: installed_keys(INSTALL_DIR, ama, nt, cfg)


def nothing(cfg):
    return {}, {"ZEZOroza": None}


def remove(rel):
    def fn(m):
        os.remove(os.path.join(m, *rel.split("/")))
    return fn


def write(rel, data):
    def fn(m):
        with open(os.path.join(m, *rel.split("/")), "wb") as f:
            f.write(data)
    return fn


def trap(name):
    """A copy of the sibling stand-in at C:\\<name>.exe, where the system's
    search of an unquoted path with blanks would find it first: if started,
    it hands off a failure and leaves the folder TRAP_TRACE."""
    def fn(m):
        root = os.path.dirname(m)
        shutil.copyfile(os.path.join(m, "Utility", "Sondel.exe"),
                        os.path.join(root, name + ".exe"))
        with open(os.path.join(root, name + ".handoff"), "wb") as f:
            f.write(media.handoff("0", "1", "C:\\" + TRAP_TRACE))
        os.makedirs(os.path.join(root, name + ".files"))
        with open(os.path.join(root, name + ".files", "ran.txt"), "wb") as f:
            f.write(b"the trap ran")
    return fn


def earlier_install(nt, with_lm78):
    keys, run = installed_keys("C:\\Old Suite", -1, nt, cfg_bytes())
    if not with_lm78:
        del keys[K_DMI + "\\LM78"]
    if nt:
        for s in SERVICES:
            keys[K_SERVICES + "\\" + s + "\\Enum"] = {"0": sz("Root\\x")}
            keys[K_SERVICES + "\\" + s + "\\Security"] = {
                "Security": binary(b"\1\0\4\x80")}
    # Entries of other products beside the suite's.
    keys[K_UNINST + "\\Other Product"] = {"DisplayName": sz("Other")}
    run["OtherTray"] = sz("C:\\Other\\tray.exe")
    return keys, run


def unchanged(state):
    return lambda cfg: state


def scenarios():
    S = []
    host_success = [("host", MSG_SUCCESS)]
    for version, nt in (("win95", False), ("nt40", True)):
        S.append(Scenario(
            "express_" + version, version, ["install", "answer:Cancel"],
            host_success, 3010, expect=installed(0, nt), group=True,
            handoff="Quillan"))
        S.append(Scenario(
            "custom_" + version, version,
            ["custom", "express", "custom", "install", "answer:Cancel"],
            host_success, 3010, expect=installed(1, nt), group=True,
            handoff="Tessary"))
        S.append(Scenario(
            "restart_ok_" + version, version, ["install", "answer:OK"],
            host_success, None, expect=installed(0, nt), group=True,
            handoff="Quillan", restart=True))
    S.append(Scenario(
        "unsupported_win2k", "win2k", ["install", "answer:OK", "answer:OK"],
        [("host", MSG_PLATFORM), ("host", MSG_FAILED)], 1633,
        before=earlier_install(False, True),
        expect=unchanged(earlier_install(False, True))))
    S.append(Scenario(
        "already_installed", "win95", ["install", "answer:OK", "answer:OK"],
        [("host", MSG_INSTALLED), ("host", MSG_FAILED)], 1638,
        before=earlier_install(False, True),
        expect=unchanged(earlier_install(False, True))))
    S.append(Scenario(
        "lm78_absent_installs", "win95", ["install", "answer:Cancel"],
        host_success, 3010, before=({K_DMI: {"path": sz("C:\\Old")}}, {}),
        expect=installed(0, False), group=True, handoff="Quillan"))
    S.append(Scenario(
        "missing_first_sibling", "win95", ["install", "answer:OK",
                                           "answer:OK"],
        [("host", MSG_NO_SIBLING), ("host", MSG_FAILED)], 1603,
        mutate=remove("Utility/Sondel.exe"), expect=nothing))
    S.append(Scenario(
        "handoff_status_0", "win95", ["install", "answer:OK"],
        [("host", MSG_FAILED)], 1603,
        mutate=write("Utility/Quillan.handoff",
                     media.handoff("0", "1", INSTALL_DIR)), expect=nothing))
    S.append(Scenario(
        "missing_install_tmp", "win95", ["install", "answer:OK", "answer:OK"],
        [("host", MSG_NO_HANDOFF), ("host", MSG_FAILED)], 1603,
        mutate=remove("Utility/Sondel.handoff"), expect=nothing,
        stale=False))
    S.append(Scenario(
        "missing_default_cfg", "nt40", ["custom", "install", "answer:OK",
                                        "answer:OK"],
        [("host", MSG_NO_DEFAULTS), ("host", MSG_FAILED)], 1603,
        mutate=remove("Utility/Quillan.files/default.cfg"), expect=nothing))
    S.append(Scenario(
        "cancel_no_then_yes", "win95",
        ["custom", "cancel", "answer:No", "cancel", "answer:Yes",
         "answer:OK"],
        [("welcome", MSG_EXIT), ("welcome", MSG_EXIT),
         ("welcome", MSG_FAILED)], 1602, expect=nothing))
    S.append(Scenario(
        "esc", "win95", ["esc", "answer:No", "esc", "answer:Yes",
                         "answer:OK"],
        [("welcome", MSG_EXIT), ("welcome", MSG_EXIT),
         ("welcome", MSG_FAILED)], 1602, expect=nothing))
    S.append(Scenario(
        "close_box", "win95", ["close", "answer:OK"],
        [("welcome", MSG_FAILED)], 1602, expect=nothing))
    S.append(Scenario(
        "enter_after_radio", "win95", ["custom", "enter"], [], 1602,
        expect=nothing, handoff="stale", keys_focus=["1003"]))
    # A close request from outside while the worker runs (the first sibling
    # still busy) must not end the setup under it: the installation goes on
    # to its success prompt.
    S.append(Scenario(
        "close_host_while_running", "win95",
        ["install", "wait:700", "closehost", "answer:Cancel"],
        host_success, 3010, mutate=write("Utility/Sondel.sleep", b"2500"),
        expect=installed(0, False), group=True, handoff="Quillan"))
    # Tab moves Install -> Cancel -> the checked radio button (a checked
    # radio button carries WS_TABSTOP) -> Install; Enter then clicks the
    # focused push button.
    S.append(Scenario(
        "tab_enter", "win95",
        ["tab", "enter", "answer:No", "tab", "tab", "enter",
         "answer:Cancel"],
        [("welcome", MSG_EXIT)] + host_success, 3010,
        expect=installed(0, False), group=True, handoff="Quillan",
        keys_focus=["1000", "1001", "1001", "1002", "1000"]))
    # A mode chosen before a Cancel answered with No stays chosen.
    S.append(Scenario(
        "custom_after_cancel_no", "nt40",
        ["custom", "cancel", "answer:No", "install", "answer:Cancel"],
        [("welcome", MSG_EXIT)] + host_success, 3010,
        expect=installed(1, True), group=True, handoff="Tessary"))
    # Media in a folder with blanks: the sibling programs are started by
    # their unquoted paths.
    S.append(Scenario(
        "media_path_with_blanks", "win95", ["custom", "install",
                                            "answer:Cancel"],
        host_success, 3010, expect=installed(1, False), group=True,
        handoff="Tessary", media_dir=MEDIA_WITH_BLANKS))
    # Sibling programs under folders with blanks are started by their exact
    # names: a program at C:\Program.exe (Custom mode, the configuration
    # program in C:\Program Files\VKO Halvermont) or at C:\VKO.exe (media
    # in C:\VKO Setup Disk) is never run.
    S.append(Scenario(
        "trap_program_exe", "win95", ["custom", "install", "answer:Cancel"],
        host_success, 3010, mutate=trap("Program"), expect=installed(1, False),
        group=True, handoff="Tessary", absent=(TRAP_TRACE,)))
    S.append(Scenario(
        "trap_vko_exe", "win95", ["install", "answer:Cancel"],
        host_success, 3010, mutate=trap("VKO"), expect=installed(0, False),
        group=True, handoff="Quillan", media_dir=MEDIA_WITH_BLANKS,
        absent=(TRAP_TRACE,)))
    # Without setup.log there is no group to make: the suite is installed,
    # and the user is told where, before the success prompt.
    S.append(Scenario(
        "missing_setup_log_warns", "nt40",
        ["install", "answer:OK", "answer:Cancel"],
        [("host", MSG_NO_GROUP)] + host_success, 3010,
        mutate=remove("Utility/Quillan.files/setup.log"),
        expect=installed(0, True), handoff="Quillan"))
    # An earlier run's hand-off file is no report of the pre-install test,
    # which writes none: the file counts as missing.
    S.append(Scenario(
        "stale_handoff_not_rewritten", "win95",
        ["install", "answer:OK", "answer:OK"],
        [("host", MSG_NO_HANDOFF), ("host", MSG_FAILED)], 1603,
        mutate=remove("Utility/Sondel.handoff"), expect=nothing))
    # Edge values of the defaults file reach the registry unchanged: a
    # 16-character chip set, an empty speed text, VID 0xFF (255, not -1),
    # and an AMA character that is neither 0 nor 1 (stored as FF FF FF FF).
    S.append(Scenario(
        "defaults_edge_values", "win95", ["install", "answer:Cancel"],
        host_success, 3010, mutate=edge_values, expect=installed(-1, False),
        group=True, handoff="Quillan"))
    # The configuration program of Custom mode is missing from the install
    # directory: the third step fails after two siblings have run.
    S.append(Scenario(
        "missing_configuration_program", "nt40",
        ["custom", "install", "answer:OK", "answer:OK"],
        [("host", MSG_NO_SIBLING), ("host", MSG_FAILED)], 1603,
        mutate=remove("Utility/Quillan.files/Tessary.exe"), expect=nothing))
    # The backdrop's picture stays on the screen, pixel for pixel: before
    # Install, while the first program runs, while the worker's message box
    # is up, where that box was once the user has dragged it away, and
    # behind the failure message.
    def slow_sondel_without_handoff(m):
        remove("Utility/Sondel.handoff")(m)
        write("Utility/Sondel.sleep", b"2500")(m)
    S.append(Scenario(
        "picture_stays", "win95",
        ["welcome", "picture", "install", "wait:800", "picture", "box",
         "picture", "movebox:700,600", "picture", "answer:OK", "box",
         "picture", "answer:OK"],
        [("host", MSG_NO_HANDOFF), ("host", MSG_FAILED)], 1603,
        mutate=slow_sondel_without_handoff, expect=nothing, stale=False))
    # Brackets in the install directory and in an item's name and title:
    # every shortcut is made.
    S.append(Scenario(
        "install_dir_with_brackets", "win95", ["install", "answer:Cancel"],
        host_success, 3010, mutate=bracket_items,
        expect=lambda cfg: installed_keys(BRACKETS_DIR, 0, False, cfg),
        group=True, handoff="Quillan", install_dir=BRACKETS_DIR,
        items=BRACKETS_ITEMS))
    for version, nt in (("win95", False), ("nt40", True)):
        S.append(Scenario(
            "rollback_over_earlier_" + version, version,
            ["install", "answer:OK", "answer:OK"],
            [("host", MSG_NO_DEFAULTS), ("host", MSG_FAILED)], 1603,
            mutate=remove("Utility/Quillan.files/default.cfg"),
            before=earlier_install(True, False),
            before_run=make_group, kept_group=True,
            expect=unchanged(earlier_install(True, False))))
    # What mediacheck says of a sound media (no blank in the install
    # directory) against what the real install leaves.
    for version, nt, mode, ama in (("win95", False, "express", 0),
                                   ("nt40", True, "custom", 1)):
        S.append(Scenario(
            "mediacheck_%s_%s" % (mode, version), version,
            (["custom"] if mode == "custom" else []) +
            ["install", "answer:Cancel"],
            host_success, 3010, group=True,
            handoff="Tessary" if mode == "custom" else "Quillan",
            install_dir=SOUND_INSTALL_DIR,
            expect=lambda cfg, nt=nt, ama=ama: installed_keys(
                SOUND_INSTALL_DIR, ama, nt, cfg),
            mediacheck=["--platform", "nt" if nt else "95", "--mode", mode]))
    # Started from a command prompt in the media folder as "merrik": the
    # command line holds no folder, the program's own file does.
    S.append(Scenario(
        "command_prompt_bare_name", "win95", ["install", "answer:Cancel"],
        host_success, 3010, expect=installed(0, False), group=True,
        handoff="Quillan", before_run=typed_command("merrik")))
    # Installed under C:\Program Files with a program planted at
    # C:\Program.exe: the next logon and Add/Remove Programs run the suite's
    # own Zezoroza.exe and Dovrel.exe, whose commands are stored quoted.
    S.append(Scenario(
        "program_files_commands_quoted", "nt40", ["install", "answer:Cancel"],
        host_success, 3010, mutate=trap("Program"), expect=installed(0, True),
        group=True, handoff="Quillan", absent=(TRAP_TRACE,),
        after=logon_and_uninstall))
    # A relative install directory is refused before anything is registered
    # or started from it.
    S.append(Scenario(
        "relative_install_dir_refused", "win95",
        ["install", "answer:OK", "answer:OK"],
        [("host", MSG_NO_HANDOFF), ("host", MSG_FAILED)], 1603,
        mutate=write("Utility/Quillan.handoff", media.handoff("1", "1", "VKO")),
        expect=nothing))
    # A program with unsaved work is open during the install. OK on the
    # success prompt requests an ordinary restart: that program is asked,
    # refuses, and keeps running, and the restart does not happen (the
    # RunOnce marker stays).
    S.append(Scenario(
        "restart_asks_unsaved_work_nt40", "nt40", ["install", "answer:OK"],
        host_success, 1641, expect=installed(0, True), group=True,
        handoff="Quillan", before_run=start_unsaved,
        after=unsaved_work_kept))
    # The setup log. A failing install logs the failing program, its exit
    # code and the hand-off bytes it left, after an earlier run's lines.
    S.append(Scenario(
        "log_failing_sibling", "win95", ["install", "answer:OK"],
        [("host", MSG_FAILED)], 1603,
        mutate=write("Utility/Quillan.handoff",
                     media.handoff("0", "1", INSTALL_DIR)), expect=nothing,
        before_run=earlier_log, arguments='/log="%s"' % LOG_FILE,
        log_check=failing_sibling_logged))
    # /LOG alone: MERRIK.LOG in the temporary folder, with every registry
    # value written and every Program Manager command.
    S.append(Scenario(
        "log_demo_install", "nt40", ["install", "answer:Cancel"],
        host_success, 3010, expect=installed(0, True), group=True,
        handoff="Quillan", arguments="/LOG",
        log_check=demo_install_logged))
    # Two setups at once on one log, as a logon script starts them: a second
    # setup waits at its Welcome dialog and is cancelled while this one
    # installs. Both run, and every line of each is whole in the file.
    S.append(Scenario(
        "log_two_setups_at_once", "win95", ["install", "answer:Cancel"],
        host_success, 3010, expect=installed(0, False), group=True,
        handoff="Quillan", before_run=second_setup,
        arguments='/LOG="%s"' % LOG_FILE, log_check=two_setups_logged))
    # A log in a folder that does not exist: the message, 1622, and nothing
    # started or written.
    S.append(Scenario(
        "log_missing_folder", "win95", ["answer:OK"],
        [("none", ("Install Error", "Can not open log file %s!" % MISSING_LOG,
                   "OK", "error"))], 1622,
        expect=nothing, handoff="stale", no_welcome=True,
        arguments='/LOG="%s"' % MISSING_LOG, log_check=missing_folder_logged))
    # Japanese Windows: media, install directory and log in folders whose
    # names hold trail bytes 0x5C, item titles with the long vowel mark. The
    # system names the message box's buttons in Japanese.
    caption, text, _, icon = MSG_SUCCESS
    S.append(Scenario(
        "double_byte_names_cp932", "win95", ["install", "answer:キャンセル"],
        [("host", (caption, text, "OK,キャンセル", icon))], 3010,
        expect=lambda cfg: installed_keys(DBCS_INSTALL_DIR, 0, False, cfg,
                                          "cp932"),
        group=True, handoff="Quillan", media_dir=DBCS_MEDIA_DIR,
        install_dir=DBCS_INSTALL_DIR, items=DBCS_ITEMS,
        before_run=lambda prefix: os.makedirs(
            os.path.join(prefix.c, DBCS_LOG_DIR)),
        arguments='/LOG="%s"' % DBCS_LOG_FILE,
        log_check=double_byte_install_logged, codepage="cp932"))
    return {s.name: s for s in S}


# --- the setup log -----------------------------------------------------------

def log_path(prefix, name):
    return os.path.join(prefix.c, *name[3:].split("\\"))


def temp_logs(prefix):
    """Every MERRIK.LOG in the prefix's user folders (the temporary folder
    that /LOG alone writes to)."""
    return glob.glob(os.path.join(prefix.c, "users", "**", "MERRIK.LOG"),
                     recursive=True)


def earlier_log(prefix):
    """The log folder, and a log file holding an earlier run's line."""
    os.makedirs(os.path.join(prefix.c, LOG_DIR), exist_ok=True)
    with open(log_path(prefix, LOG_FILE), "wb") as f:
        f.write(EARLIER_LOG_LINE)


def log_lines(path, problems, codepage="cp1252"):
    """The log's lines without their milliseconds and process id; each line
    must end in CR LF and start with the milliseconds and the process id."""
    with open(path, "rb") as f:
        data = f.read()
    check(data.endswith(b"\r\n"), problems, "the log does not end in CR LF")
    lines = []
    for raw in data.split(b"\r\n")[:-1]:
        text = raw.decode(codepage)
        m = re.match(r" *[0-9]+ [0-9A-F]{8} (.*)$", text)
        check(m is not None or raw + b"\r\n" == EARLIER_LOG_LINE, problems,
              "log line without milliseconds: %r" % text)
        lines.append(m.group(1) if m else text)
    return data, lines


def expect_lines(lines, wanted, problems):
    """Each wanted line is in the log, in the order given (case of key
    paths aside)."""
    at = 0
    for want in wanted:
        found = [i for i in range(at, len(lines))
                 if lines[i].lower() == want.lower()]
        if not found:
            problems.append("log: no line %r after line %d" % (want, at))
            continue
        at = found[0] + 1


def failing_sibling_logged(prefix, s, cfg, problems):
    data, lines = log_lines(log_path(prefix, LOG_FILE), problems)
    check(data.startswith(EARLIER_LOG_LINE), problems,
          "the earlier run's line is not kept at the start of the log")
    quillan = "C:\\Media\\Utility\\Quillan.exe"
    bytes_shown = "0\\x0D\\x0A1\\x0D\\x0A%s\\x0D\\x0A" % INSTALL_DIR
    handoff = "C:\\windows\\install.tmp"
    expect_lines(lines, [
        'command line "C:\\Media\\MERRIK.EXE" /log="%s"' % LOG_FILE,
        "Welcome dialog: Install, Express mode",
        'CreateProcessA "%s": ok' % quillan,
        "GetExitCodeProcess: ok, exit code 0",
        'hand-off file "%s", %d bytes, not the marked one: %s'
        % (handoff, 8 + len(INSTALL_DIR), bytes_shown),
        "hand-off file: status 0, the program reports a failure",
        "status timer: the install failed",
        "rollback: 0 changes of this run to undo, the last first",
        "rollback: done, the machine is as the installation found it",
        'DeleteFileA "%s": ok' % handoff,
        "exit status 1603: a failure after Install"], problems)


def demo_install_logged(prefix, s, cfg, problems):
    found = temp_logs(prefix)
    check(len(found) == 1, problems, "MERRIK.LOG files: %r" % found)
    if len(found) != 1:
        return
    _, lines = log_lines(found[0], problems)
    install_logged(lines, s, cfg, problems)


def double_byte_install_logged(prefix, s, cfg, problems):
    """The named log in its folder, and no MERRIK.LOG: the command line,
    the programs started from the media folder, the install directory read
    from the hand-off file, every registry value and Program Manager
    command, all in the system's code page."""
    check(not temp_logs(prefix), problems, "a MERRIK.LOG appeared: %r"
          % temp_logs(prefix))
    path = log_path(prefix, DBCS_LOG_FILE)
    if not os.path.exists(path):
        problems.append("no log file %s" % DBCS_LOG_FILE)
        return
    _, lines = log_lines(path, problems, s.codepage)
    media_dir = "C:\\" + s.media_dir
    expect_lines(lines, [
        'command line "%s\\MERRIK.EXE" /LOG="%s"' % (media_dir,
                                                    DBCS_LOG_FILE),
        'CreateProcessA "%s\\Utility\\Sondel.exe": ok' % media_dir,
        'CreateProcessA "%s\\Utility\\Quillan.exe": ok' % media_dir,
        'hand-off file: report, AMA 0, install directory "%s"'
        % s.install_dir], problems)
    install_logged(lines, s, cfg, problems)


def install_logged(lines, s, cfg, problems):
    """The log of a successful install that declined the restart: every
    registry value written with its size and status 0, every Program
    Manager command, then the success prompt and the exit status."""
    keys, run = s.expect(cfg)
    written = {}
    for line in lines:
        m = re.match(r'RegSetValueExA HKLM\\(.*?) "(.*?)" REG_\w+ ([0-9]+) '
                     r'bytes.*: status (-?[0-9]+)$', line)
        if m:
            key = (HKLM + "\\" + m.group(1)).upper()
            written[(key, m.group(2).upper())] = (int(m.group(3)),
                                                   m.group(4))
    values = [(k, n, v) for k, vs in keys.items() for n, v in vs.items()]
    values += [(K_RUN, n, v) for n, v in run.items() if v is not None]
    for key, name, (_, data) in values:
        got = written.get((key.upper(), name.upper()))
        check(got == (len(data), "0"), problems,
              "log: RegSetValueExA %s %r: %r, expected %d bytes, status 0"
              % (key, name, got, len(data)))
    commands = ["[CreateGroup(%s,1)]" % GROUP] + [
        '[AddItem("%s\\%s","%s")]' % (s.install_dir, f, t)
        for f, t in s.items]
    # Each command waited for Program Manager and was carried out; the
    # milliseconds vary.
    at = 0
    for c in commands:
        want = re.compile(
            r"DdeClientTransaction XTYP_EXECUTE %d bytes: carried out, "
            r"DdeGetLastError 0, [0-9]+ ms: %s\\x00$"
            % (len(c.encode(s.codepage)) + 1, re.escape(c)))
        found = [i for i in range(at, len(lines)) if want.match(lines[i])]
        if not found:
            problems.append("log: no line %r after line %d"
                            % (want.pattern, at))
            continue
        at = found[0] + 1
    expect_lines(lines, [
        "program group: whole, %d items" % len(s.items),
        "success prompt: Cancel, no restart",
        "exit status 3010: installed, restart declined or refused by the "
        "system"], problems)


def missing_folder_logged(prefix, s, cfg, problems):
    check(not os.path.exists(os.path.join(prefix.c, "No Such Folder")),
          problems, "the missing log folder was made")
    started = glob.glob(os.path.join(prefix.c, s.media_dir, "**", "*.times"),
                        recursive=True)
    check(not started, problems, "programs were started: %r" % started)


SECOND = {"driver": None, "proc": None, "transcript": None}


def second_setup(prefix):
    """The log's folder, and a second setup on the same log, started just
    before the scenario's own: it shows its Welcome dialog, waits 1.5 s, and
    is cancelled (Yes to the question, OK to the failure message)."""
    os.makedirs(os.path.join(prefix.c, LOG_DIR), exist_ok=True)
    transcript = os.path.join(prefix.path, "second-setup.txt")
    if os.path.exists(transcript):
        os.remove(transcript)
    env = dict(prefix.env)
    env["MERRIK_DRIVER_COMMAND_LINE"] = '"C:\\Media\\MERRIK.EXE" /LOG="%s"' % (
        LOG_FILE)
    SECOND["transcript"] = transcript
    SECOND["proc"] = subprocess.Popen(
        ["wine", to_windows(SECOND["driver"]), to_windows(transcript),
         "C:\\Media\\MERRIK.EXE", "welcome", "wait:4000", "cancel",
         "answer:Yes", "answer:OK"], env=env,
        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    deadline = time.time() + 60
    while time.time() < deadline and not (
            os.path.exists(transcript) and
            b"welcome " in open(transcript, "rb").read()):
        time.sleep(0.2)


def two_setups_logged(prefix, s, cfg, problems):
    """The second setup ended with 1602; the log holds two runs, told apart
    by their process ids, each whole from its header to its exit status."""
    try:
        SECOND["proc"].wait(timeout=120)
    except subprocess.TimeoutExpired:
        SECOND["proc"].kill()
        problems.append("the second setup did not end")
    with open(SECOND["transcript"], "rb") as f:
        second = f.read().decode("cp1252")
    check("exit code=1602" in second, problems,
          "the second setup: %r" % second[-400:])
    with open(log_path(prefix, LOG_FILE), "rb") as f:
        data = f.read()
    check(data.endswith(b"\r\n"), problems, "the log does not end in CR LF")
    runs = {}
    for raw in data.split(b"\r\n")[:-1]:
        m = re.match(r" *[0-9]+ ([0-9A-F]{8}) (.*)$", raw.decode("cp1252"))
        check(m is not None, problems, "log line not whole: %r" % raw)
        if m:
            runs.setdefault(m.group(1), []).append(m.group(2))
    check(len(runs) == 2, problems, "log: %d runs, expected 2" % len(runs))
    ends = sorted(lines[-1] for lines in runs.values())
    check(ends == [
        "exit status 1602: the user left the Welcome dialog without "
        "installing",
        "exit status 3010: installed, restart declined or refused by the "
        "system"], problems, "log: the runs end with %r" % ends)
    for lines in runs.values():
        check(lines[0].startswith("MERRIK.EXE setup log, started ") and
              lines[1].startswith('computer "') and
              sum(x.startswith("MERRIK.EXE setup log") for x in lines) == 1,
              problems, "log: a run without its one header: %r" % lines[:2])
    # At once: both runs had begun before either ended.
    order = [x for x in re.findall(rb"[0-9A-F]{8} (MERRIK\.EXE setup log|exit "
                                   rb"status)", data)]
    check(order[:2] == [b"MERRIK.EXE setup log"] * 2, problems,
          "log: the runs did not overlap: %r" % order)


def typed_command(text):
    """The driver starts the setup as a command prompt in its folder does,
    with `text` as the whole command line."""
    def fn(prefix):
        prefix.env["MERRIK_DRIVER_COMMAND_LINE"] = text
    return fn


def logon_and_uninstall(prefix, s, problems):
    """Runs what Windows runs later: the Run entries, as a logon does
    (wineboot), and the uninstall command, as Add/Remove Programs does. Each
    of the suite's programs (sibling stand-ins) notes its start in X.times
    beside itself."""
    d = os.path.join(prefix.c, *s.install_dir[3:].split("\\"))
    prefix.wine("wineboot")
    prefix.wine("uninstaller", "--remove", "VKO DMI")
    for name in ("Zezoroza", "Dovrel"):
        times = os.path.join(d, name + ".times")
        deadline = time.time() + 30
        while not os.path.exists(times) and time.time() < deadline:
            time.sleep(0.5)
        check(os.path.exists(times), problems, "%s.exe did not run" % name)


def edge_values(m):
    path = os.path.join(m, "Utility", "Quillan.files", "default.cfg")
    cfg = bytearray(media.default_cfg(chipset="LM78 rev.C SMBus",
                                      max_speed="", vid=0xFF))
    # Bytes the importer must not read: past the text field lengths, in the
    # gaps between fields, and past the last field.
    cfg[media.MAXSPEED_AT + 1:media.MAXSPEED_AT + 17] = b"NOT PART OF TEXT"
    for a, b in ((0, 260), (294, 300), (604, 606), (766, 931), (1291, 1536)):
        cfg[a:b] = b"\xA5" * (b - a)
    with open(path, "wb") as f:
        f.write(cfg)
    with open(os.path.join(m, "Utility", "Quillan.handoff"), "wb") as f:
        f.write(media.handoff("1", "x", INSTALL_DIR))


def bracket_items(m):
    """setup.log with an item whose file name and title hold brackets, and
    that item's file (any program will do) for Wine's shell to find."""
    files = os.path.join(m, "Utility", "Quillan.files")
    with open(os.path.join(files, "setup.log"), "wb") as f:
        f.write(media.setup_log(BRACKETS_DIR, BRACKETS_ITEMS))
    shutil.copyfile(os.path.join(files, "Zezoroza.exe"),
                    os.path.join(files, BRACKETS_ITEMS[-1][0]))


EARLIER_SHORTCUT = b"L\0\0\0stale"


def make_group(prefix):
    """An earlier installation's program group, which a failed install
    leaves as it was."""
    d = os.path.join(prefix.programs_dir(), GROUP)
    os.makedirs(d, exist_ok=True)
    with open(os.path.join(d, "Hardware Monitor.lnk"), "wb") as f:
        f.write(EARLIER_SHORTCUT)


# --- running one scenario ----------------------------------------------------

def to_windows(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def reset(prefix):
    """Removes every trace of the product and of earlier scenarios."""
    prefix.kill()
    prefix.start_session()
    traps = [n + x for n in ("Program", "VKO")
             for x in (".exe", ".handoff", ".files")]
    for rel in ["Media", MEDIA_WITH_BLANKS, "Old Suite", "Stale",
                BRACKETS_DIR[3:], DBCS_MEDIA_DIR,
                DBCS_INSTALL_DIR[3:].split("\\")[0], DBCS_LOG_DIR,
                "windows/install.tmp",
                "Program Files/VKO Halvermont", "VKO", TRAP_TRACE] + traps:
        p = os.path.join(prefix.c, *rel.split("/"))
        if os.path.isdir(p):
            shutil.rmtree(p)
        elif os.path.exists(p):
            os.remove(p)
    g = os.path.join(prefix.programs_dir(), GROUP)
    if os.path.exists(g):
        shutil.rmtree(g)
    for log in temp_logs(prefix) + [os.path.join(prefix.c, LOG_DIR)]:
        if os.path.isdir(log):
            shutil.rmtree(log)
        elif os.path.exists(log):
            os.remove(log)
    deletions = [K_VKO, K_VKODMI, K_UNINST + "\\Other Product"] + [
        K_SERVICES + "\\" + s for s in SERVICES]
    text = reg_file({K_RUNONCE: {}}, {"ZEZOroza": None, "OtherTray": None},
                    deletions)
    text += '[%s]\r\n"%s"=-\r\n"VKH"=-\r\n' % (K_RUNONCE, MARKER)
    prefix.import_reg(text, "reset.reg")


def snapshot(prefix, regdump):
    keys = (K_VKO, K_VKODMI, K_UNINST + "\\Other Product") + tuple(
        K_SERVICES + "\\" + s for s in SERVICES)
    dumped = prefix.dump(regdump, *(keys + (K_RUN, K_RUNONCE)))
    state = {}
    for k, v in dumped.items():
        if any(k.upper() == x.upper() or k.upper().startswith(
                x.upper() + "\\") for x in keys):
            state[k.upper()] = (k, v)
    upper = {k.upper(): v for k, v in dumped.items()}
    return state, upper.get(K_RUN.upper(), {}), upper.get(
        K_RUNONCE.upper(), {})


def check(cond, problems, text):
    if not cond:
        problems.append(text)


def compare_registry(expected_keys, expected_run, state, run, problems):
    want = {k.upper(): (k, v) for k, v in expected_keys.items()}
    for uk, (k, values) in want.items():
        if uk not in state:
            problems.append("registry: key %s missing" % k)
            continue
        got = state[uk][1]
        for name, value in values.items():
            g = {n.lower(): (n, v) for n, v in got.items()}.get(name.lower())
            if g is None:
                problems.append("registry: %s: value %r missing" % (k, name))
            elif g[0] != name or g[1] != value:
                problems.append("registry: %s: %r is %r %r, expected %r %r"
                                % (k, name, g[0], g[1], name, value))
        for n in got:
            if n.lower() not in {x.lower() for x in values}:
                problems.append("registry: %s: unexpected value %r" % (k, n))
    for uk, (k, _) in state.items():
        if uk not in want:
            problems.append("registry: unexpected key %s" % k)
    for name, value in expected_run.items():
        got = {n.lower(): v for n, v in run.items()}.get(name.lower())
        if value is None:
            check(got is None, problems, "registry: Run\\%s present" % name)
        else:
            check(got == value, problems, "registry: Run\\%s is %r, expected "
                  "%r" % (name, got, value))


def check_transcript(s, events, problems):
    boxes = [f for k, f in events if k == "box"]
    unexpected = [f for k, f in events if k in ("unexpected_box", "error")]
    for f in unexpected:
        problems.append("transcript: %r" % (f,))
    want = [(o, c, t, b, i) for o, (c, t, b, i) in s.boxes]
    got = [(f.get("owner"), f.get("caption"), f.get("text"),
            f.get("buttons"), f.get("icon")) for f in boxes]
    if want != got:
        problems.append("transcript: message boxes\n      got      %r\n"
                        "      expected %r" % (got, want))
    if s.no_welcome:
        # Nothing but the message: no backdrop, no Welcome dialog.
        check(not any(k == "welcome" for k, _ in events) and all(
            f.get("backdrop_visible") != "1" for f in boxes), problems,
            "transcript: a backdrop or Welcome dialog was shown")
        boxes = []
    for f in boxes:
        check(f.get("backdrop_visible") == "1" and
              f.get("backdrop_maximized") == "1", problems,
              "transcript: backdrop not visible and maximised at box %s"
              % f.get("n"))
        if f.get("owner") == "host":
            check(f.get("welcome_visible") == "0", problems,
                  "transcript: Welcome visible at box %s" % f.get("n"))
    if s.keys_focus is not None:
        focus = [f.get("focus") for k, f in events if k == "key"]
        check(focus == s.keys_focus, problems, "transcript: keys went to %r,"
              " expected %r" % (focus, s.keys_focus))
    pictures = [f for k, f in events if k == "picture"]
    check(len(pictures) == s.steps.count("picture"), problems,
          "transcript: %d picture checks for %d steps"
          % (len(pictures), s.steps.count("picture")))
    for f in pictures:
        check(f.get("differ") == "0" and f.get("compared", "0") != "0",
              problems, "transcript: the backdrop's picture is not on the "
              "screen (%s of %s pixels differ, first at %s)"
              % (f.get("differ"), f.get("compared"), f.get("at")))
    welcome = [f for k, f in events if k == "welcome"]
    check(s.no_welcome or welcome and welcome[0].get("backdrop_visible") == "1" and
          welcome[0].get("backdrop_maximized") == "1", problems,
          "transcript: backdrop not shown maximised before the Welcome dialog")
    summary = [f for k, f in events if k == "summary"]
    if summary and summary[0].get("host_seen") == "1":
        check(summary[0].get("welcome_visible_during_install") == "0",
              problems, "transcript: Welcome visible during the install")
    exits = [f for k, f in events if k == "exit"]
    if s.exit_code is not None:
        got_code = exits[0].get("code") if exits else None
        check(got_code == str(s.exit_code), problems,
              "exit code %s, expected %d" % (got_code, s.exit_code))
    elif exits:
        # After an accepted restart Wine ends the setup with 0.
        check(exits[0].get("code") in ("0", "1641"), problems,
              "exit code %s after the restart" % exits[0].get("code"))


def check_group(prefix, s, problems):
    d = os.path.join(prefix.programs_dir(), GROUP)
    if s.kept_group:
        names = sorted(os.listdir(d)) if os.path.isdir(d) else None
        check(names == ["Hardware Monitor.lnk"], problems,
              "the earlier group holds %r" % names)
        if names == ["Hardware Monitor.lnk"]:
            with open(os.path.join(d, names[0]), "rb") as f:
                check(f.read() == EARLIER_SHORTCUT, problems,
                      "the earlier shortcut's bytes changed")
        return
    if not s.group:
        check(not os.path.exists(d), problems,
              "group folder %r exists" % GROUP)
        return
    if not os.path.isdir(d):
        problems.append("group folder %r missing" % GROUP)
        return
    names = sorted(os.listdir(d))
    want = sorted(t + ".lnk" for _, t in s.items)
    check(names == want, problems, "group holds %r, expected %r"
          % (names, want))
    for item, title in s.items:
        p = os.path.join(d, title + ".lnk")
        if os.path.exists(p):
            with open(p, "rb") as f:
                data = f.read().lower()
            target = (s.install_dir + "\\" + item).lower()
            check(target.encode(s.codepage) in data or
                  target.encode("utf-16-le") in data, problems,
                  "%s.lnk does not point at %s" % (title, target))


def check_handoff(prefix, s, m, problems):
    p = os.path.join(prefix.c, "windows", "install.tmp")
    if s.handoff == "absent":
        check(not os.path.exists(p), problems, "install.tmp is still there")
        return
    if not os.path.exists(p):
        problems.append("install.tmp is missing")
        return
    with open(p, "rb") as f:
        data = f.read()
    if s.handoff == "stale":
        want = STALE_HANDOFF
    else:
        src = "Utility/Quillan.files/Tessary.handoff" \
            if s.handoff == "Tessary" else "Utility/%s.handoff" % s.handoff
        with open(os.path.join(m, *src.split("/")), "rb") as f:
            want = f.read()
    check(data == want, problems, "install.tmp holds %r, expected %r"
          % (data, want))


def run_mediacheck(prefix, args, s, out, problems):
    """Runs mediacheck.exe in the prefix on the media (named by its Windows
    path); returns (registry keys of its .reg file, DDE commands) or None."""
    if not args.mediacheck:
        problems.append("no --mediacheck program given")
        return None
    reg = os.path.join(prefix.c, "mediacheck.reg")
    if os.path.exists(reg):
        os.remove(reg)
    p = prefix.wine(to_windows(args.mediacheck), "C:\\" + s.media_dir,
                    "--reg", "C:\\mediacheck.reg", *s.mediacheck,
                    check=False)
    report = p.stdout.decode("cp1252").replace("\r\n", "\n")
    with open(os.path.join(out, "mediacheck.txt"), "w") as f:
        f.write(report)
    check(p.returncode == 0, problems, "mediacheck exit status %d:\n%s"
          % (p.returncode, report))
    if not os.path.exists(reg):
        problems.append("mediacheck wrote no .reg file")
        return None
    with open(reg, "rb") as f:
        keys = parse_reg4(f.read().decode("cp1252"))
    os.remove(reg)
    commands = re.findall(r"^ +\d+ (\[.*\])\\x00$", report, re.M)
    return keys, commands


def compare_mediacheck(prefix, checked, state, run, problems):
    """mediacheck's registry changes and DDE commands against the registry
    and the shortcuts that the real install under Wine left."""
    keys, commands = checked
    run_key = K_RUN.upper()
    for k, values in keys.items():
        if k.upper() == run_key:
            got = {n.lower(): v for n, v in run.items()}
            for name, value in values.items():
                check(got.get(name.lower()) == value, problems,
                      "mediacheck: Run\\%s is %r in Wine, %r in the .reg"
                      % (name, got.get(name.lower()), value))
            continue
        if k.upper() not in state:
            problems.append("mediacheck: key %s of the .reg not in Wine" % k)
            continue
        got = {n.lower(): v for n, v in state[k.upper()][1].items()}
        check(got == {n.lower(): v for n, v in values.items()}, problems,
              "mediacheck: key %s holds %r in Wine, %r in the .reg"
              % (k, got, values))
    for uk, (k, _) in state.items():
        check(uk in {x.upper() for x in keys}, problems,
              "mediacheck: key %s in Wine, not in the .reg" % k)
    group = re.fullmatch(r"\[CreateGroup\((.*),1\)\]",
                         commands[0] if commands else "")
    check(group is not None and group.group(1) == GROUP, problems,
          "mediacheck: first DDE command %r" % commands[:1])
    d = os.path.join(prefix.programs_dir(), GROUP)
    links = sorted(os.listdir(d)) if os.path.isdir(d) else []
    items = [re.fullmatch(r'\[AddItem\("(.*)","(.*)"\)\]', c)
             for c in commands[1:]]
    check(all(items) and sorted(i.group(2) + ".lnk" for i in items) == links,
          problems, "mediacheck: AddItem commands %r, shortcuts %r"
          % (commands[1:], links))
    for i in filter(None, items):
        p = os.path.join(d, i.group(2) + ".lnk")
        if os.path.exists(p):
            with open(p, "rb") as f:
                data = f.read().lower()
            target = i.group(1).lower()
            check(target.encode() in data or
                  target.encode("utf-16-le") in data, problems,
                  "mediacheck: %s.lnk does not point at %s"
                  % (i.group(2), i.group(1)))


def run_scenario(args, s):
    prefix = Prefix(args.work, s.version)
    if not os.path.isdir(prefix.c):
        raise Failure("prefix %s missing: run --prefix %s first"
                      % (prefix.path, s.version))
    out = os.path.join(args.work, "scenarios", s.name)
    if os.path.exists(out):
        shutil.rmtree(out)
    os.makedirs(out)
    if s.codepage in LOCALES:
        # Every program of the session, the wineserver's first included.
        prefix.env["LANG"] = prefix.env["LC_ALL"] = LOCALES[s.codepage]
    reset(prefix)
    m = os.path.join(prefix.c, s.media_dir)
    media.build(m, args.merrik, args.sibling, s.install_dir, items=s.items,
                encoding=s.codepage)
    if s.mutate:
        s.mutate(m)
    cfg_path = os.path.join(m, "Utility", "Quillan.files", "default.cfg")
    if os.path.exists(cfg_path):
        with open(cfg_path, "rb") as f:
            cfg = f.read()
    else:
        cfg = cfg_bytes()
    # A hand-off file from an earlier run: every abort must delete it.
    if s.stale:
        with open(os.path.join(prefix.c, "windows", "install.tmp"),
                  "wb") as f:
            f.write(STALE_HANDOFF)
    if s.before:
        prefix.import_reg(reg_file(*s.before), "before.reg")
    # A RunOnce entry that only a restart of the session runs and deletes.
    prefix.import_reg(reg_file({K_RUNONCE: {MARKER: sz(
        "C:\\Media\\Utility\\Marker.exe")}}), "marker.reg")
    if s.before_run:
        s.before_run(prefix)
    if s.arguments:
        prefix.env["MERRIK_DRIVER_COMMAND_LINE"] = '"C:\\%s\\MERRIK.EXE" %s' % (
            s.media_dir, s.arguments)

    problems = []
    if s.mediacheck:
        checked = run_mediacheck(prefix, args, s, out, problems)

    transcript = os.path.join(out, "transcript.txt")
    started = time.time()
    p = prefix.wine(to_windows(args.driver), to_windows(transcript),
                    "C:\\%s\\MERRIK.EXE" % s.media_dir, *s.steps,
                    timeout=240,
                    check=False)
    with open(transcript, "rb") as f:
        text = f.read().decode(s.codepage)
    events = parse_transcript(text)
    if s.restart:
        # The restart runs RunOnce entries and deletes them.
        deadline = time.time() + 60
        while time.time() < deadline:
            runonce = snapshot(prefix, args.regdump)[2]
            if MARKER not in runonce:
                break
            time.sleep(1)
        check(MARKER not in runonce, problems,
              "the RunOnce marker is still there: no restart was requested")
        check([k for k, _ in events].count("answer") == len(s.steps) - 1,
              problems, "transcript: not every box was answered")
    else:
        check(p.returncode == 0, problems, "driver exit status %d"
              % p.returncode)
        check(any(k == "exit" for k, _ in events), problems,
              "transcript: no exit line")
    time.sleep(0.5)  # let Program Manager finish the last asynchronous command
    check_transcript(s, events, problems)
    state, run, runonce = snapshot(prefix, args.regdump)
    with open(os.path.join(out, "registry.txt"), "w") as f:
        for _, (k, values) in sorted(state.items()):
            f.write("[%s]\n" % k)
            for name, (typ, data) in sorted(values.items()):
                f.write("  %r type=%d size=%d %s\n" % (name, typ, len(data),
                                                      data.hex()))
    keys, run_want = s.expect(cfg)
    compare_registry(keys, run_want, state, run, problems)
    if not s.restart:
        check(MARKER in runonce, problems,
              "the RunOnce marker is gone: a restart was requested")
    check_group(prefix, s, problems)
    if s.after:
        s.after(prefix, s, problems)
    check_handoff(prefix, s, m, problems)
    for rel in s.absent:
        check(not os.path.exists(os.path.join(prefix.c, *rel.split("/"))),
              problems, "C:\\%s exists" % rel)
    if s.mediacheck and checked:
        compare_mediacheck(prefix, checked, state, run, problems)
    if s.log_check:
        s.log_check(prefix, s, cfg, problems)
    else:
        check(not temp_logs(prefix), problems, "a MERRIK.LOG appeared: %r"
              % temp_logs(prefix))
    prefix.kill()

    print("scenario %s (%s): %.1f s" % (s.name, s.version,
                                          time.time() - started))
    print(text.rstrip())
    if problems:
        print("FAILED:")
        for x in problems:
            print("  - " + x)
        return 1
    print("passed")
    return 0


# --- checks of the helpers themselves ---------------------------------------

def driver_check(args):
    """The driver reports caption, text, buttons, icon and the answer, and
    the program's exit code, for boxes whose flags it did not choose."""
    prefix = Prefix(args.work, "win95")
    reset(prefix)
    d = os.path.join(prefix.c, "Media")
    os.makedirs(d)
    shutil.copyfile(args.mock, os.path.join(d, "Mock.exe"))
    boxes = [("40024", "Q", "Line one\\nLine two", "Yes,No", "question",
              "No"),
             ("40010", "E", "e", "OK", "error", "OK"),
             ("40030", "W", 'say "hi"', "OK", "warning", "OK"),
             ("40040", "I", "i", "OK", "information", "OK"),
             ("40001", "S", "s ", "OK,Cancel", "none", "Cancel")]
    with open(os.path.join(d, "Mock.boxes"), "w") as f:
        for flags, cap, text, _, _, _ in boxes:
            f.write("%s|%s|%s\n" % (flags, cap, text))
    transcript = os.path.join(args.work, "driver-check.txt")
    prefix.wine(to_windows(args.driver), to_windows(transcript),
                "C:\\Media\\Mock.exe",
                *["answer:" + b[5] for b in boxes], check=False)
    prefix.kill()
    with open(transcript, "rb") as f:
        text = f.read().decode("cp1252")
    print(text)
    events = parse_transcript(text)
    got = [(f["caption"], f["text"], f["buttons"], f["icon"])
           for k, f in events if k == "box"]
    want = [(b[1], b[2].replace("\\n", "\n"), b[3], b[4]) for b in boxes]
    answers = [f["button"] for k, f in events if k == "answer"]
    exits = [f["code"] for k, f in events if k == "exit"]
    problems = []
    check(got == want, problems, "boxes %r, expected %r" % (got, want))
    check(answers == [b[5] for b in boxes], problems, "answers %r" % answers)
    check(exits == ["102"], problems, "exit %r, expected 102 (IDCANCEL)"
          % exits)
    # A box that no step awaits is an error, not silently answered.
    transcript2 = os.path.join(args.work, "driver-check-2.txt")
    reset(prefix)
    os.makedirs(d)
    shutil.copyfile(args.mock, os.path.join(d, "Mock.exe"))
    with open(os.path.join(d, "Mock.boxes"), "w") as f:
        f.write("40010|E|one\n40010|E|two\n")
    p = prefix.wine(to_windows(args.driver), to_windows(transcript2),
                    "C:\\Media\\Mock.exe", "answer:OK", check=False)
    prefix.kill()
    with open(transcript2, "rb") as f:
        ev2 = parse_transcript(f.read().decode("cp1252"))
    check(p.returncode == 2 and any(k == "unexpected_box" for k, _ in ev2),
          problems, "an unawaited box did not fail the driver")
    for x in problems:
        print("FAILED: " + x)
    return 1 if problems else 0


def read_ppm(path):
    """(width, height, rows of (r, g, b) bytes) of a binary PPM picture."""
    with open(path, "rb") as f:
        data = f.read()
    fields = data.split(None, 4)
    w, h = int(fields[1]), int(fields[2])
    pixels = fields[4] if len(fields) == 5 else b""
    if fields[0] != b"P6" or len(pixels) != 3 * w * h:
        raise Failure("%s is not a whole %dx%d PPM picture" % (path, w, h))
    return w, h, [pixels[3 * w * y:3 * w * (y + 1)] for y in range(h)]


def depth_check(args):
    """The preview tool maps colours as the system does: its tables are the
    system's 4-bit default colour table and default palette, and its mapping
    of each picture of MERRIK.EXE and of a probe picture spread over the
    whole colour cube agrees, pixel for pixel, with GetDIBits into 4 bits
    (the VGA colours) and 8 bits (indices into the default palette)."""
    import display_depth
    prefix = Prefix(args.work, "win95")
    reset(prefix)
    d = os.path.join(prefix.c, "Depths")
    if os.path.exists(d):
        shutil.rmtree(d)
    os.makedirs(d)
    shutil.copyfile(args.merrik, os.path.join(d, "MERRIK.EXE"))
    shutil.copyfile(args.probe, os.path.join(d, "depth_probe.exe"))
    p = prefix.wine("C:\\Depths\\depth_probe.exe", "C:\\Depths\\MERRIK.EXE",
                    "C:\\Depths", check=False)
    prefix.kill()
    problems = []
    if p.returncode != 0:
        problems.append("depth_probe.exe ended with %d: %s" % (
            p.returncode, p.stdout.decode("utf-8", "replace")[-500:]))
    else:
        with open(os.path.join(d, "tables.txt")) as f:
            tables = {"vga": [], "default": []}
            for line in f:
                kind, _, r, g, b = line.split()
                tables[kind].append((int(r), int(g), int(b)))
        check(tables["vga"] == display_depth.VGA16, problems,
              "the 4-bit default colour table is %s" % tables["vga"])
        check(tables["default"] == display_depth.RESERVED20, problems,
              "the default palette is %s" % tables["default"])
        pictures = {"probe": read_ppm(os.path.join(d, "probe.ppm"))}
        for bitmap_id in (129, 130):
            pictures[str(bitmap_id)] = display_depth.program_bitmap(
                args.merrik, bitmap_id)
        for name, (w, h, rows) in sorted(pictures.items()):
            for bits, depth in ((4, 16), (8, 256)):
                sw, sh, system = read_ppm(os.path.join(
                    d, "%s-%d.ppm" % (name, bits)))
                ours = display_depth.map_rows(rows, depth)
                differ = [(x // 3, y) for y in range(min(h, sh))
                          for x in range(0, 3 * w, 3)
                          if ours[y][x:x + 3] != system[y][x:x + 3]]
                check((sw, sh) == (w, h) and not differ, problems,
                      "%s at %d colours: %dx%d from the system, %d of %dx%d "
                      "pixels differ from the tool's, the first at %s" % (
                          name, depth, sw, sh, len(differ), w, h,
                          differ[:1]))
                print("%s at %d colours: %d pixels compared" % (
                    name, depth, w * h))
    for x in problems:
        print("FAILED: " + x)
    return 1 if problems else 0


def sibling_check(args):
    """The stand-in follows the fixture interface: hand-off bytes verbatim
    (a LF inside the path line included), files copied into a directory
    that it creates with its parents, the sleep, with X.window a visible
    window "X window" of 400 by 300 at 100,100 during it, one line of counter
    readings appended to X.times, exit code 0."""
    prefix = Prefix(args.work, "win95")
    reset(prefix)
    d = os.path.join(prefix.c, "Media")
    os.makedirs(os.path.join(d, "Probe.files", "sub"))
    shutil.copyfile(args.sibling, os.path.join(d, "Probe.exe"))
    handoff = b"1\r\n0\r\nC:\\Deep\\Er Dir\r\nnot\npart\r\n"
    with open(os.path.join(d, "Probe.handoff"), "wb") as f:
        f.write(handoff)
    payload = bytes(range(256)) * 3
    with open(os.path.join(d, "Probe.files", "a.bin"), "wb") as f:
        f.write(payload)
    with open(os.path.join(d, "Probe.files", "sub", "b.txt"), "wb") as f:
        f.write(b"b")
    with open(os.path.join(d, "Probe.sleep"), "wb") as f:
        f.write(b"1500\r\n")
    with open(os.path.join(d, "Probe.window"), "wb") as f:
        pass
    earlier = b"1 2\r\n"
    with open(os.path.join(d, "Probe.times"), "wb") as f:
        f.write(earlier)
    # A second copy without any files of its own only exits.
    shutil.copyfile(args.sibling, os.path.join(d, "Bare.exe"))
    problems = []
    t = time.time()
    p = subprocess.Popen(["wine", "C:\\Media\\Probe.exe"], env=prefix.env,
                         stdout=subprocess.DEVNULL,
                         stderr=subprocess.DEVNULL)
    # The window as the X server has it: a top-level window named
    # "Probe window" with its frame, 400x300 at 100,100.
    window = re.compile(r'"Probe window".*\s400x300\+100\+100\s')
    seen = False
    while p.poll() is None and not seen:
        seen = any(window.search(line) for line in x_windows())
        time.sleep(0.1)
    returncode = p.wait(timeout=120)
    took = time.time() - t
    check(returncode == 0, problems, "exit code %d" % returncode)
    check(took >= 1.5, problems, "did not sleep (%.2f s)" % took)
    check(seen, problems, "no window \"Probe window\" of 400x300 at 100,100 "
          "while it ran")
    check(not any('"Probe window"' in line for line in x_windows()),
          problems, "\"Probe window\" is still shown after the exit")
    with open(os.path.join(prefix.c, "windows", "install.tmp"), "rb") as f:
        check(f.read() == handoff, problems, "install.tmp not verbatim")
    target = os.path.join(prefix.c, "Deep", "Er Dir")
    a = os.path.join(target, "a.bin")
    check(os.path.exists(a) and open(a, "rb").read() == payload, problems,
          "a.bin not copied into the third line's directory")
    check(os.path.exists(os.path.join(target, "sub", "b.txt")), problems,
          "subfolder not copied")
    with open(os.path.join(d, "Probe.times"), "rb") as f:
        times = f.read()
    m = re.fullmatch(rb"(\d+) (\d+)\r\n", times[len(earlier):])
    check(times.startswith(earlier) and m is not None, problems,
          "Probe.times not appended with one line: %r" % times)
    # Wine's performance counter runs at 10 MHz.
    check(m is not None and int(m.group(2)) - int(m.group(1)) >= 15000000,
          problems, "Probe.times does not span the sleep: %r" % times)
    os.remove(os.path.join(prefix.c, "windows", "install.tmp"))
    p = prefix.wine("C:\\Media\\Bare.exe", check=False)
    check(p.returncode == 0, problems, "bare copy exit code %d"
          % p.returncode)
    check(not os.path.exists(os.path.join(prefix.c, "windows",
                                          "install.tmp")), problems,
          "bare copy wrote install.tmp")
    prefix.kill()
    shutil.rmtree(os.path.join(prefix.c, "Deep"), ignore_errors=True)
    for x in problems:
        print("FAILED: " + x)
    if not problems:
        print("sibling stand-in: passed")
    return 1 if problems else 0


# --- the program with unsaved work --------------------------------------------

UNSAVED = {"exe": None, "proc": None}


def unsaved_log(prefix):
    path = os.path.join(prefix.c, "Unsaved", "Unsaved.log")
    if not os.path.exists(path):
        return []
    with open(path, "rb") as f:
        return f.read().decode("ascii", "replace").split()


def start_unsaved(prefix):
    """Starts unsaved.exe as C:\\Unsaved\\Unsaved.exe in the scenario's Wine
    session and waits until its window is shown."""
    if not UNSAVED["exe"]:
        raise Failure("no --unsaved program given")
    d = os.path.join(prefix.c, "Unsaved")
    if os.path.exists(d):
        shutil.rmtree(d)
    os.makedirs(d)
    shutil.copyfile(UNSAVED["exe"], os.path.join(d, "Unsaved.exe"))
    UNSAVED["proc"] = subprocess.Popen(
        ["wine", "C:\\Unsaved\\Unsaved.exe"], env=prefix.env,
        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    deadline = time.time() + 60
    while "shown" not in unsaved_log(prefix) and time.time() < deadline:
        time.sleep(0.2)
    if "shown" not in unsaved_log(prefix):
        raise Failure("Unsaved.exe did not show its window")


def unsaved_work_kept(prefix, _scenario, problems):
    """The program with unsaved work was asked whether the session may end,
    its refusal held (WM_ENDSESSION with FALSE), and it still runs."""
    proc = UNSAVED["proc"]
    deadline = time.time() + 60
    while (not any(x == "ended" for x in unsaved_log(prefix)) and
           proc.poll() is None and time.time() < deadline):
        time.sleep(0.2)
    log = unsaved_log(prefix)
    check(log == ["shown", "asked", "ended", "0"], problems,
          "Unsaved.exe: %r, expected shown, asked, ended 0" % log)
    check(proc.poll() is None, problems,
          "Unsaved.exe was ended (status %r)" % proc.poll())


def x_windows():
    """One line per window of the X display, as xwininfo -tree lists them
    (name in double quotes, then geometry WxH+X+Y)."""
    p = subprocess.run(["xwininfo", "-root", "-tree"], stdout=subprocess.PIPE,
                       stderr=subprocess.DEVNULL)
    return p.stdout.decode("utf-8", "replace").splitlines()


def main(argv):
    ap = argparse.ArgumentParser()
    ap.add_argument("--work", required=True)
    ap.add_argument("--merrik")
    ap.add_argument("--sibling")
    ap.add_argument("--driver")
    ap.add_argument("--mock")
    ap.add_argument("--regdump")
    ap.add_argument("--mediacheck")
    ap.add_argument("--unsaved")
    ap.add_argument("--probe")
    g = ap.add_mutually_exclusive_group(required=True)
    g.add_argument("--prefix", choices=VERSIONS)
    g.add_argument("--scenario")
    g.add_argument("--driver-check", action="store_true")
    g.add_argument("--sibling-check", action="store_true")
    g.add_argument("--depth-check", action="store_true")
    g.add_argument("--list", action="store_true")
    args = ap.parse_args(argv)
    UNSAVED["exe"] = args.unsaved
    SECOND["driver"] = args.driver
    all_scenarios = scenarios()
    if args.list:
        for s in all_scenarios.values():
            print("%s %s" % (s.name, s.version))
        return 0
    if not os.environ.get("DISPLAY"):
        print("DISPLAY is not set: start an X server (Xvfb) first")
        return 1
    try:
        if args.prefix:
            t = time.time()
            Prefix(args.work, args.prefix).create()
            print("prefix %s: %.1f s" % (args.prefix, time.time() - t))
            return 0
        if args.driver_check:
            return driver_check(args)
        if args.sibling_check:
            return sibling_check(args)
        if args.depth_check:
            return depth_check(args)
        return run_scenario(args, all_scenarios[args.scenario])
    except Failure as e:
        print("FAILED: %s" % e)
        return 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
