#!/usr/bin/env python3
"""mediacheck against media folders: a sound one, one per kind of problem,
and bad usage, each checked by output and exit status.

    check_media.py --work DIR -- MEDIACHECK...

MEDIACHECK is the command that runs the checker (the native program, or
wine with mediacheck.exe).
"""

import os
import shutil
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "e2e"))
sys.path.insert(0, os.path.join(HERE, "..", "audit"))
import run_e2e as e2e  # noqa: E402
import tiny_pe  # noqa: E402

media = e2e.media
SOUND = "C:\\VKO"
LONG_DIR = "C:\\" + "V" * 240  # 243 characters: Zezoroza.exe no longer fits
# 241 characters with a blank: Zezoroza.exe fits, but not in double quotes.
BLANK_DIR = "C:\\ " + "V" * 237
UNUSABLE = ": the setup takes the hand-off file as unusable and the " \
    "installation fails"
NOT_ABSOLUTE = ("(a drive letter, a colon and a backslash, or "
                "\\\\server\\share\\)" + UNUSABLE)


def build(work, name, install_dir=SOUND):
    m = os.path.join(work, name)
    if os.path.exists(m):
        shutil.rmtree(m)
    # Every program of the media: a small i386 GUI program for Windows 4.0
    # that imports KERNEL32 only and has only 486 instructions.
    program = os.path.join(work, "program.exe")
    with open(program, "wb") as f:
        f.write(tiny_pe.build())
    media.build(m, program, program, install_dir)
    return m


def put(m, rel, data):
    with open(os.path.join(m, *rel.split("/")), "wb") as f:
        f.write(data)


def cfg_with(at, value, size=media.DEFAULT_CFG_SIZE):
    cfg = bytearray(media.default_cfg())
    cfg[at] = value
    return bytes(cfg[:size])


ITEMS = ("#item\r\n"
         "Zezoroza.exe = \"Hardware Monitor\"\r\n"
         "Dovrel.exe\r\n"
         "Tessary.exe = \"Con\"fig\"\r\n"
         "Help.exe = \"Help\r\n"
         "= \"Nameless\"\r\n"
         "Br[1].exe = \"Tools [beta]\"\r\n").encode("ascii")

Q = "{m}/Utility/Quillan.handoff"
LOG = "{m}/Utility/Quillan.files/setup.log"
CFG = "{m}/Utility/Quillan.files/default.cfg"

def upper_case_names(m):
    """A CD's names in capitals: Windows finds UTILITY\\SONDEL.EXE for
    Utility\\Sondel.exe."""
    u = os.path.join(m, "UTILITY")
    os.rename(os.path.join(m, "Utility"), u)
    os.rename(os.path.join(u, "Sondel.exe"), os.path.join(u, "SONDEL.EXE"))
    os.rename(os.path.join(u, "Sondel.handoff"),
              os.path.join(u, "SONDEL.handoff"))


FAULTS = ": the program faults on a 486 or a Pentium"
LATER_DLL = (", which is not among the DLLs that a retail Windows 95 and NT "
             "4.0 both ship: without it the program does not start")

# name: (changes to the media, arguments ("{m}" is the media folder), exit
# status, problem lines)
CASES = {
    # Programs: one built for the Pentium Pro (cmove %ecx,%eax first), one
    # importing a DLL of a later Windows, a Tessary.exe for Windows 2000 in
    # the folder given for the install directory, no setup program at all,
    # and one that is no PE file; the C runtime beside the setup.
    "pentium_pro_program": (
        lambda m: put(m, "Utility/Sondel.exe",
                      tiny_pe.build(code=bytes.fromhex("0f44c10f44c1"))),
        [], 1,
        ["{m}/Utility/Sondel.exe: offset 512: 2 instructions newer than the "
         "486, the first cmov (0F 44 C1) at 0x401000" + FAULTS]),
    "later_windows_dll": (
        lambda m: put(m, "Utility/Quillan.exe", tiny_pe.build(
            [("KERNEL32.dll", "GetVersion"),
             ("SHLWAPI.dll", "PathFileExistsA")])),
        [], 1,
        ["{m}/Utility/Quillan.exe: offset 1162: imports from SHLWAPI.dll" +
         LATER_DLL]),
    "tessary_for_windows_2000": (
        lambda m: put(m, "Utility/Quillan.files/Tessary.exe",
                      tiny_pe.build(subsystem_version=(5, 0))),
        ["--mode", "custom", "--install-dir", "{m}/Utility/Quillan.files"],
        1,
        ["{m}/Utility/Quillan.files/Tessary.exe: offset 136: subsystem "
         "version 5.0, above 4.0: Windows 95 and NT 4.0 refuse to start it"]),
    "missing_setup": (
        lambda m: os.remove(os.path.join(m, "MERRIK.EXE")), [], 1,
        ["{m}/MERRIK.EXE: offset 0: missing: the media has no setup program "
         "MERRIK.EXE"]),
    "not_a_program": (
        lambda m: put(m, "MERRIK.EXE", b"MZ"), [], 1,
        ["{m}/MERRIK.EXE: offset 0: not a Win32 program for i386 (no DOS "
         "header): Windows 95 and NT 4.0 cannot start it"]),
    "msvcrt_beside_setup": (
        lambda m: put(m, "MSVCRT.DLL", tiny_pe.build()), [], 1,
        ["{m}/MSVCRT.DLL: offset 0: unnecessary: the setup needs no C "
         "runtime DLL; leave Microsoft's file off the media"]),
    "upper_case_names": (upper_case_names, [], 0, []),
    "missing_sibling": (
        lambda m: os.remove(os.path.join(m, "Utility", "Sondel.exe")), [], 1,
        ["{m}/Utility/Sondel.exe: offset 0: missing: the setup cannot start "
         "D:\\Utility\\Sondel.exe (\"Can not find Resource file.\")"]),
    "missing_tessary": (
        lambda m: os.remove(os.path.join(m, "Utility", "Quillan.files",
                                         "Tessary.exe")),
        ["--mode", "custom"], 1,
        ["C:\\VKO\\Tessary.exe: offset 0: missing: the setup cannot start "
         "C:\\VKO\\Tessary.exe (\"Can not find Resource file.\")"]),
    "missing_handoff": (
        lambda m: os.remove(os.path.join(m, "Utility", "Quillan.handoff")),
        [], 1,
        [Q + ": offset 0: missing: D:\\Utility\\Quillan.exe leaves no "
         "hand-off file"]),
    "status_0": (
        lambda m: put(m, "Utility/Quillan.handoff",
                      media.handoff("0", "1", SOUND)), [], 1,
        [Q + ": offset 0: status character \"0\": the program reports "
         "failure and the installation stops"]),
    "ama_x": (
        lambda m: put(m, "Utility/Quillan.handoff",
                      media.handoff("1", "x", SOUND)), [], 1,
        [Q + ": offset 3: the AMA character is neither \"0\" nor \"1\": AMA "
         "is stored as 0xFFFFFFFF"]),
    "lf_line_ends": (
        lambda m: put(m, "Utility/Quillan.handoff",
                      b"1\n1\r\n" + SOUND.encode() + b"\r\n"), [], 1,
        [Q + ": offset 1: the status line does not end in CR LF",
         Q + ": offset 4: the AMA line does not end in CR LF",
         Q + ": offset 3: the AMA character is neither \"0\" nor \"1\": AMA "
         "is stored as 0xFFFFFFFF",
         Q + ": offset 6: the install directory \":\\VKO\" is not absolute "
         + NOT_ABSOLUTE]),
    "no_install_dir": (
        lambda m: put(m, "Utility/Quillan.handoff",
                      media.handoff("1", "1", "")), [], 1,
        [Q + ": offset 6: no install directory" + UNUSABLE]),
    "install_dir_256": (
        lambda m: put(m, "Utility/Quillan.handoff",
                      media.handoff("1", "1", "C:\\" + "V" * 253)), [], 1,
        [Q + ": offset 6: the install directory is 256 characters, over "
         "255: the setup cannot read it"]),
    "composed_too_long": (
        lambda m: [put(m, "Utility/" + n, media.handoff("1", "1", LONG_DIR))
                   for n in ("Sondel.handoff", "Quillan.handoff")], [], 1,
        [Q + ": offset 6: the path of Zezoroza.exe is 256 characters, over "
         "255: no start-up entry is written",
         LOG + ": line 14: the AddItem command would be 288 characters, over "
         "255: no shortcut is made",
         LOG + ": line 15: the AddItem command would be 294 characters, over "
         "255: no shortcut is made"]),
    # A blank in the install directory is no problem: the start-up and
    # uninstall commands are stored in double quotes.
    "blank_in_install_dir": (
        lambda m: [put(m, "Utility/" + n,
                       media.handoff("1", "1", "C:\\VKO Suite"))
                   for n in ("Sondel.handoff", "Quillan.handoff")], [], 0,
        []),
    "quoted_command_too_long": (
        lambda m: [put(m, "Utility/" + n, media.handoff("1", "1", BLANK_DIR))
                   for n in ("Sondel.handoff", "Quillan.handoff")], [], 1,
        [Q + ": offset 6: the quoted command of Zezoroza.exe is 256 "
         "characters, over 255: no start-up entry is written",
         LOG + ": line 14: the AddItem command would be 286 characters, over "
         "255: no shortcut is made",
         LOG + ": line 15: the AddItem command would be 292 characters, over "
         "255: no shortcut is made"]),
    "relative_install_dir": (
        lambda m: put(m, "Utility/Quillan.handoff",
                      media.handoff("1", "1", "VKO")), [], 1,
        [Q + ": offset 6: the install directory \"VKO\" is not absolute " +
         NOT_ABSOLUTE]),
    "control_character_in_install_dir": (
        lambda m: put(m, "Utility/Quillan.handoff",
                      media.handoff("1", "1", "C:\\V\tKO")), [], 1,
        [Q + ": offset 10: the install directory holds the control "
         "character \\x09" + UNUSABLE]),
    "empty_handoff": (
        lambda m: put(m, "Utility/Quillan.handoff", b""), [], 1,
        [Q + ": offset 0: empty: without its status character the setup "
         "takes the hand-off file as unusable (\"Can not open install.tmp "
         "file!\") and the installation stops"]),
    "short_defaults": (
        lambda m: put(m, "Utility/Quillan.files/default.cfg",
                      media.default_cfg()[:1290]), [], 1,
        [CFG + ": offset 1290: the file ends after 1290 bytes; the setup "
         "needs at least 1291"]),
    "length_byte_17": (
        lambda m: put(m, "Utility/Quillan.files/default.cfg",
                      cfg_with(media.MAXSPEED_AT, 17)), [], 1,
        [CFG + ": offset 277: the length byte of MaxSpeed is 17, over 16"]),
    "missing_defaults": (
        lambda m: os.remove(os.path.join(m, "Utility", "Quillan.files",
                                         "default.cfg")), [], 1,
        [CFG.replace("{m}/Utility/Quillan.files/", "C:\\VKO\\") +
         ": offset 0: missing: \"Can not Open default.cfg file!\", the "
         "installation fails"]),
    "no_item_section": (
        lambda m: put(m, "Utility/Quillan.files/setup.log",
                      media.setup_log(SOUND).replace(b"#item", b"#icons")),
        [], 1,
        [LOG + ": line 17: no \"#item\" section up to the end of the file: "
         "the program group gets no items"]),
    "item_lines": (
        lambda m: put(m, "Utility/Quillan.files/setup.log", ITEMS), [], 1,
        [LOG + ": line 3: no blank or equals sign after the item name; no "
         "double-quoted title: no shortcut is made",
         LOG + ": line 4: the title holds a double quote: no shortcut is "
         "made",
         LOG + ": line 5: the title's closing double quote is not the last "
         "character of the line",
         LOG + ": line 6: no item name"]),
}

# Output a case must show: the setup's own message boxes (the hand-off file
# that Sondel.exe left is not taken for Quillan.exe's), no DDE command from
# the rollback (no group was made, and one of the suite's name is the
# user's), an item with brackets sent inside its quoted arguments.
SHOWN = {
    "missing_sibling": '"Installation Error" "Can not find Resource file." '
                       'flags 0x00040010, answered OK\n'
                       '  "Abort Installation" "VKO Halvermont Installation '
                       'Failed!" flags 0x00040010, answered OK\n',
    "status_0": 'zero included):\n\n',
    "missing_handoff": '"Install Error" "Can not open install.tmp file!" '
                       'flags 0x00040010, answered OK',
    "short_defaults": '"Installation Error" "Can not Open default.cfg file!" '
                      'flags 0x00040010, answered OK',
    "item_lines": '   45 [AddItem("C:\\VKO\\Br[1].exe","Tools [beta]")]\\x00',
    "blank_in_install_dir": '\n"ZEZOroza"="\\"C:\\\\VKO Suite\\\\Zezoroza.exe'
                            '\\""\n',
    "relative_install_dir": '"Install Error" "Can not open install.tmp '
                            'file!" flags 0x00040010, answered OK',
}


class Checker:
    def __init__(self, work, command):
        self.work = work
        self.command = command
        self.failures = []

    def run(self, *args):
        # Output goes to files, not pipes: programs of a Wine session
        # inherit the descriptors and outlive the command.
        with open(os.path.join(self.work, "stdout"), "w+b") as out, \
                open(os.path.join(self.work, "stderr"), "w+b") as err:
            p = subprocess.run(self.command + list(args), stdout=out,
                               stderr=err, timeout=120)
            out.seek(0)
            err.seek(0)
            return (p.returncode,
                    out.read().decode("cp1252").replace("\r\n", "\n"),
                    err.read().decode("cp1252", "replace"))

    def expect(self, name, cond, text):
        if not cond:
            self.failures.append("%s: %s" % (name, text))

    def problems(self, out):
        lines = out.split("\n")
        if "No problems: the media is sound." in lines:
            return []
        start = [i for i, x in enumerate(lines) if x.startswith("Problems (")]
        if not start:
            return None
        return [x for x in lines[start[0] + 1:] if x]

    def sound(self, name, m, args, ama, nt, custom):
        reg = os.path.join(self.work, name + ".reg")
        if os.path.exists(reg):
            os.remove(reg)
        code, out, err = self.run(m, "--reg", reg, *args)
        self.expect(name, code == 0, "exit %d\n%s%s" % (code, out, err))
        programs = ["D:\\Utility\\Sondel.exe", "D:\\Utility\\Quillan.exe"]
        if custom:
            programs.append(SOUND + "\\Tessary.exe")
        block = out.split("Programs run:\n")[-1].split("\n\n")[0]
        self.expect(name, block.split("\n") == ["  " + x for x in programs],
                    "programs %r" % block)
        commands = ["[CreateGroup(VKO Halvermont,1)]"] + [
            '[AddItem("%s\\%s","%s")]' % (SOUND, n, t)
            for n, t in media.SETUP_LOG_ITEMS]
        want = ["  %3d %s\\x00" % (len(c) + 1, c) for c in commands]
        block = out.split("(bytes, zero included):\n")[-1].split("\n\n")[0]
        self.expect(name, block.split("\n") == want, "DDE %r" % block)
        if not os.path.exists(reg):
            self.failures.append("%s: no .reg file" % name)
            return
        with open(reg, "rb") as f:
            text = f.read().decode("cp1252")
        self.expect(name, text.startswith("REGEDIT4\r\n\r\n["),
                    "not a REGEDIT4 file")
        got = {k.upper(): v for k, v in e2e.parse_reg4(text).items()}
        keys, run = e2e.installed_keys(SOUND, ama, nt, media.default_cfg())
        keys[e2e.K_RUN] = run
        want = {k.upper(): v for k, v in keys.items()}
        self.expect(name, got == want, "registry\n  got  %r\n  want %r"
                    % (got, want))

    def check_all(self):
        self.sound("sound_95_express", build(self.work, "sound"), [], 0,
                   False, False)
        self.sound("sound_nt_custom", build(self.work, "sound"),
                   ["--platform", "nt", "--mode", "custom"], 1, True, True)
        # The files given by folder instead of the fixture files.
        m = build(self.work, "given")
        windows = os.path.join(self.work, "given-windows")
        os.makedirs(windows, exist_ok=True)
        put(windows, "install.tmp", media.handoff("1", "0", SOUND))
        for n in ("Sondel.handoff", "Quillan.handoff", "Quillan.files"):
            p = os.path.join(m, "Utility", n)
            os.rename(p, os.path.join(self.work, "given-" + n))
        self.sound("given_folders", m,
                   ["--windows-dir", windows, "--install-dir",
                    os.path.join(self.work, "given-Quillan.files")],
                   1, False, False)

        for name, (change, args, status, want) in CASES.items():
            m = build(self.work, name)
            change(m)
            code, out, err = self.run(m, *[a.replace("{m}", m)
                                           for a in args])
            self.expect(name, code == status, "exit %d, expected %d\n%s%s"
                        % (code, status, out, err))
            want = [w.replace("{m}", m) for w in want]
            got = self.problems(out)
            self.expect(name, got == want, "problems\n  got  %r\n  want %r"
                        % (got, want))
            shown = SHOWN.get(name)
            self.expect(name, shown is None or shown in out,
                        "not shown: %r" % shown)

        code, out, _ = self.run("--help")
        self.expect("help", code == 0 and "Exit status" in out
                    and "--reg FILE" in out, "exit %d: %s" % (code, out))
        m = build(self.work, "usage")
        for args in ([], [m, "--platform", "98"], [m, "--mode"],
                     [os.path.join(self.work, "no such media")],
                     [m, "--bogus"], [m, m]):
            code, out, err = self.run(*args)
            self.expect("usage %r" % args, code == 2 and "usage:" in err
                        and out == "", "exit %d: %s%s" % (code, out, err))


def main(argv):
    if "--" not in argv or argv[:1] != ["--work"]:
        print(__doc__)
        return 2
    work = os.path.abspath(argv[1])
    command = argv[argv.index("--") + 1:]
    if os.path.exists(work):
        shutil.rmtree(work)
    os.makedirs(work)
    c = Checker(work, command)
    if command[0] == "wine":
        # One Wine session for every run.
        subprocess.run(["wineserver", "-p"])
        subprocess.run(["wine", "cmd", "/c", "exit"],
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        c.check_all()
    finally:
        if command[0] == "wine":
            # The Wine session this started ends with the checks.
            subprocess.run(["wineserver", "-k"])
            subprocess.run(["wineserver", "-w"])
    for f in c.failures:
        print("FAILED " + f)
    print("%d failures" % len(c.failures))
    return 1 if c.failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
