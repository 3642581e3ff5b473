#!/usr/bin/env python3
"""Audits a built MERRIK.EXE against what Windows 95 and Windows NT 4.0 load.

Checks, from the PE file itself:
- an i386 executable image with the GUI subsystem, subsystem version and OS
  version 4.0, without the DYNAMIC_BASE and NX_COMPAT flags;
- no debug sections and no symbol table (a stripped release binary);
- imports, all by name, only from KERNEL32, USER32, GDI32 and ADVAPI32 (no C
  runtime DLL: retail Windows 95 has none), each of them on the list of DLLs
  that Windows 95 and NT 4.0 both ship (tools/win95_nt4_dlls.txt); every
  imported function on the allow-list kept beside this script; no "W"
  (Unicode) function except the few that Windows 95 implements;
- no TLS directory (data directory 9 empty);
- no instruction newer than the 486 in any executable section, by a linear
  sweep of objdump (the mingw-w64 objdump, or the host's with -m i386):
  cmov, fcmov, fcomi/fcomip/fucomi/fucomip, cpuid, rdtsc, cmpxchg8b,
  sysenter, the prefetch hints and multi-byte NOPs of the 0F 0D and 0F 18-1F
  opcodes, and every MMX, SSE or AVX instruction (an %mm, %xmm, %ymm or %zmm
  operand, or one of the few such instructions without one).

Prints the size of the file split into code (everything but the resource
section) and resources, the imports, the TLS directory, the number of
instructions newer than the 486 by class, and every finding with its
address; exits 1 on a finding.

Usage: audit_exe.py <exe> [<allow-list>]
"""
import os
import re
import shutil
import struct
import subprocess
import sys

MACHINE_I386 = 0x014C
SUBSYSTEM_WINDOWS_GUI = 2
DLLCHAR_DYNAMIC_BASE = 0x0040
DLLCHAR_NX_COMPAT = 0x0100
ALLOWED_DLLS = ("KERNEL32.DLL", "USER32.DLL", "GDI32.DLL", "ADVAPI32.DLL")
HERE = os.path.dirname(os.path.abspath(__file__))
SYSTEM_DLLS = os.path.join(HERE, "..", "..", "tools", "win95_nt4_dlls.txt")

# The classes of instructions newer than the 486, in the order they are
# counted; mediacheck's decoder (tools/mediacheck/program_check.cpp) uses
# the same names.
CLASSES = ("cmov", "fcmov", "fcomi", "cpuid", "rdtsc", "cmpxchg8b",
           "sysenter", "prefetch/nop", "MMX/SSE")
PREFIXES = {"data16", "addr16", "data32", "addr32", "cs", "ds", "es", "ss",
            "fs", "gs", "rep", "repz", "repe", "repnz", "repne", "lock",
            "notrack", "bnd", "xacquire", "xrelease"}
SIMD_REGISTER = re.compile(r"%[xyz]?mm\d")
# MMX, SSE and AVX instructions that name no such register: memory-only and
# general-register forms of the 0F 0E-0F, 0F 38, 0F 3A, 0F 50-7F, 0F C3 and
# 0F FF opcodes, and the VEX-encoded general-register ones.
SIMD_WITHOUT_REGISTER = {
    "emms", "femms", "movnti", "movbe", "crc32", "crc32b", "crc32w",
    "crc32l", "adcx", "adox", "invept", "invvpid", "invpcid", "vmread",
    "vmwrite", "ud0", "vzeroupper", "vzeroall", "andn", "bextr", "blsi",
    "blsmsk", "blsr", "bzhi", "mulx", "pdep", "pext", "rorx", "sarx", "shlx",
    "shrx", "vldmxcsr", "vstmxcsr"}
# The prefetch hints and hint NOPs of 0F 0D and 0F 18-1F, as objdump names
# them (a "nop" with an operand is the multi-byte NOP).
HINT = re.compile(r"^(prefetch\w*|nop[lw]?|bnd\w+|cldemote|endbr32|endbr64|"
                  r"rdsspd|rdsspq)$")
# The Unicode functions that Windows 95 implements itself (the others are
# stubs that fail with ERROR_CALL_NOT_IMPLEMENTED). A "W" import must be one
# of these, and on the allow-list as well.
WIN95_UNICODE = {
    "EnumResourceLanguagesW", "EnumResourceNamesW", "EnumResourceTypesW",
    "ExtTextOutW", "FindResourceExW", "FindResourceW", "GetCharWidthW",
    "GetCommandLineW", "GetTextExtentPoint32W", "GetTextExtentPointW",
    "lstrlenW", "MessageBoxExW", "MessageBoxW", "TextOutW",
}


class PeFile:
    def __init__(self, data):
        self.data = data
        if data[:2] != b"MZ":
            raise ValueError("no MZ header")
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[pe:pe + 4] != b"PE\0\0":
            raise ValueError("no PE signature")
        (self.machine, sections, _, self.symbol_table, self.symbols,
         optional_size, self.characteristics) = struct.unpack_from(
             "<HHIIIHH", data, pe + 4)
        opt = pe + 24
        self.magic = struct.unpack_from("<H", data, opt)[0]
        if self.magic != 0x10B:
            raise ValueError("not a PE32 optional header")
        (self.os_major, self.os_minor, _, _, self.sub_major,
         self.sub_minor) = struct.unpack_from("<HHHHHH", data, opt + 40)
        self.subsystem, self.dll_characteristics = struct.unpack_from(
            "<HH", data, opt + 68)
        directories = struct.unpack_from("<I", data, opt + 92)[0]
        self.directories = [
            struct.unpack_from("<II", data, opt + 96 + 8 * i)
            for i in range(min(directories, 16))
        ]
        self.sections = []
        table = opt + optional_size
        for i in range(sections):
            raw = struct.unpack_from("<8sIIII", data, table + 40 * i)
            name = raw[0].rstrip(b"\0").decode("latin-1")
            if name.startswith("/"):  # long name in the string table
                offset = self.symbol_table + 18 * self.symbols + int(name[1:])
                name = data[offset:data.index(b"\0", offset)].decode("latin-1")
            self.sections.append({
                "name": name, "vsize": raw[1], "rva": raw[2],
                "rawsize": raw[3], "rawptr": raw[4]
            })

    def offset(self, rva):
        for s in self.sections:
            if s["rva"] <= rva < s["rva"] + max(s["vsize"], s["rawsize"]):
                return rva - s["rva"] + s["rawptr"]
        raise ValueError("RVA 0x%x outside every section" % rva)

    def text(self, rva):
        at = self.offset(rva)
        return self.data[at:self.data.index(b"\0", at)].decode("latin-1")

    def imports(self):
        """[(dll, name or '#ordinal')] in file order."""
        rva, size = self.directories[1] if len(self.directories) > 1 else (0, 0)
        found = []
        if rva == 0:
            return found
        at = self.offset(rva)
        while True:
            lookup, _, _, name, thunks = struct.unpack_from("<IIIII",
                                                            self.data, at)
            if name == 0:
                break
            dll = self.text(name)
            entry = self.offset(lookup or thunks)
            while True:
                value = struct.unpack_from("<I", self.data, entry)[0]
                if value == 0:
                    break
                if value & 0x80000000:
                    found.append((dll, "#%d" % (value & 0xFFFF)))
                else:
                    found.append((dll, self.text(value + 2)))
                entry += 4
            at += 20
        return found


def read_system_dlls(path=SYSTEM_DLLS):
    """The DLL names (upper case) of tools/win95_nt4_dlls.txt."""
    names = set()
    with open(path, encoding="utf-8") as f:
        for line in f:
            line = line.split("#", 1)[0].strip()
            if line:
                names.add(line.upper())
    return names


def instruction_class(text):
    """The class (one of CLASSES) of an instruction as objdump prints it,
    or None when a 486 has it."""
    words = text.replace(",", " ").split()
    while words and words[0] in PREFIXES:
        words.pop(0)
    if not words:
        return None
    name, operands = words[0], words[1:]
    if name.startswith("fcmov"):
        return "fcmov"
    if name.startswith("cmov"):
        return "cmov"
    if name in ("fcomi", "fcomip", "fucomi", "fucomip"):
        return "fcomi"
    if name in ("cpuid", "rdtsc", "cmpxchg8b", "sysenter"):
        return name
    if HINT.match(name) and (name != "nop" or operands):
        return "prefetch/nop"
    if SIMD_REGISTER.search(text) or name in SIMD_WITHOUT_REGISTER:
        return "MMX/SSE"
    return None


def objdump_command():
    tool = shutil.which("i686-w64-mingw32-objdump")
    if tool:
        return [tool, "-d", "-z"]
    tool = shutil.which("objdump")
    if tool:
        return [tool, "-d", "-z", "-m", "i386"]
    raise OSError("no objdump to disassemble with (binutils-mingw-w64-i686)")


def newer_instructions(path):
    """[(address, class, text)] of every instruction newer than the 486 in
    the executable sections of `path`, by objdump's linear sweep (-z: runs
    of zero bytes are disassembled too, as the loader would run them)."""
    out = subprocess.run(objdump_command() + [path], check=True,
                         stdout=subprocess.PIPE,
                         universal_newlines=True).stdout
    found = []
    for line in out.splitlines():
        fields = line.split("\t")
        if len(fields) < 3 or not fields[0].strip().endswith(":"):
            continue
        kind = instruction_class(fields[2])
        if kind:
            found.append((int(fields[0].strip()[:-1], 16), kind,
                          " ".join(fields[2].split())))
    return found


def read_allow_list(path):
    """{(DLL upper case, function)} from lines '<DLL> <function> [# note]'."""
    allowed = set()
    with open(path, encoding="utf-8") as f:
        for line in f:
            line = line.split("#", 1)[0].strip()
            if line:
                dll, function = line.split()
                allowed.add((dll.upper() + ".DLL", function))
    return allowed


def is_unicode_function(name):
    return len(name) > 1 and name.endswith("W") and name[-2].islower()


def audit(path, allow_path):
    with open(path, "rb") as f:
        data = f.read()
    pe = PeFile(data)
    allowed = read_allow_list(allow_path)
    findings = []

    def need(condition, text):
        if not condition:
            findings.append(text)

    need(pe.machine == MACHINE_I386, "machine 0x%04x, not i386" % pe.machine)
    need(pe.characteristics & 0x0002, "not an executable image")
    need(not pe.characteristics & 0x2000, "a DLL, not a program")
    need(pe.subsystem == SUBSYSTEM_WINDOWS_GUI,
         "subsystem %d, not the GUI subsystem" % pe.subsystem)
    need((pe.sub_major, pe.sub_minor) == (4, 0),
         "subsystem version %d.%d, not 4.0" % (pe.sub_major, pe.sub_minor))
    need((pe.os_major, pe.os_minor) == (4, 0),
         "OS version %d.%d, not 4.0" % (pe.os_major, pe.os_minor))
    need(not pe.dll_characteristics & DLLCHAR_DYNAMIC_BASE,
         "DYNAMIC_BASE flag set")
    need(not pe.dll_characteristics & DLLCHAR_NX_COMPAT, "NX_COMPAT flag set")
    debug = [s["name"] for s in pe.sections if s["name"].startswith(".debug")]
    need(not debug, "debug sections: " + " ".join(debug))
    need(pe.symbol_table == 0 and pe.symbols == 0, "symbol table present")

    imports = pe.imports()
    need(imports, "no import table")
    system_dlls = read_system_dlls()
    for dll in ALLOWED_DLLS:
        need(dll in system_dlls, "%s is not on %s" % (dll, SYSTEM_DLLS))
    for dll, name in imports:
        key = (dll.upper(), name)
        if dll.upper() not in ALLOWED_DLLS:
            findings.append("import from %s: %s (%s)" % (
                dll, name, "allowed to other programs, not to MERRIK.EXE"
                if dll.upper() in system_dlls else
                "not a DLL that Windows 95 and NT 4.0 both ship"))
        elif name.startswith("#"):
            findings.append("import by ordinal: %s %s" % (dll, name))
        elif is_unicode_function(name) and name not in WIN95_UNICODE:
            findings.append("W import Windows 95 lacks: %s %s" % (dll, name))
        elif key not in allowed:
            findings.append("import not on the allow-list: %s %s" %
                            (dll, name))

    tls = pe.directories[9] if len(pe.directories) > 9 else (0, 0)
    need(tls == (0, 0), "TLS directory present (data directory 9: RVA 0x%x, "
         "%d bytes)" % tls)
    newer = newer_instructions(path)
    for address, kind, text in newer:
        findings.append("instruction newer than the 486 at 0x%x: %s (%s)" %
                        (address, text, kind))

    resources = sum(s["rawsize"] for s in pe.sections if s["name"] == ".rsrc")
    print("%s: %d bytes: code and data %d, resources %d" %
          (os.path.basename(path), len(data), len(data) - resources,
           resources))
    print("sections: " + " ".join(s["name"] for s in pe.sections))
    print("DllCharacteristics 0x%04x, TLS directory %s" %
          (pe.dll_characteristics, "present" if tls != (0, 0) else "absent"))
    print("instructions newer than the 486: %d (%s)" % (len(newer), ", ".join(
        "%s %d" % (c, sum(1 for _, k, _ in newer if k == c))
        for c in CLASSES)))
    for dll in sorted({d for d, _ in imports}, key=str.upper):
        names = sorted(n for d, n in imports if d == dll)
        print("%s (%d): %s" % (dll, len(names), " ".join(names)))
    for finding in findings:
        print("FINDING: " + finding)
    return 1 if findings else 0


def main(argv):
    if len(argv) not in (2, 3):
        print(__doc__, file=sys.stderr)
        return 2
    allow = argv[2] if len(argv) == 3 else os.path.join(
        os.path.dirname(os.path.abspath(__file__)), "win95_nt4_imports.txt")
    try:
        return audit(argv[1], allow)
    except (OSError, ValueError, struct.error,
            subprocess.CalledProcessError) as error:
        print("FINDING: cannot read %s: %s" % (argv[1], error))
        return 1


if __name__ == "__main__":
    sys.exit(main(sys.argv))
