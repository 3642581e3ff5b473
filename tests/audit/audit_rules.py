#!/usr/bin/env python3
"""One rule of the audit at a time: writes a small program (tiny_pe.py)
that breaks only that rule, runs audit_exe.py on it and requires exit
status 1 with exactly the rule's finding; "clean" requires the unbroken
program to pass with no finding.

    audit_rules.py WORK_DIR clean|dll|tls|486
"""
import os
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import tiny_pe  # noqa: E402

# rule: (program, the one finding the audit must print)
CASES = {
    "clean": (tiny_pe.build(), None),
    "dll": (tiny_pe.build([("KERNEL32.dll", "GetVersion"),
                           ("msvcrt.dll", "strlen")]),
            "import from msvcrt.dll: strlen (not a DLL that Windows 95 and "
            "NT 4.0 both ship)"),
    "tls": (tiny_pe.build(tls=True),
            "TLS directory present (data directory 9: RVA 0x2054, 24 "
            "bytes)"),
    # cmove %ecx,%eax, then the call and the ret of every program
    "486": (tiny_pe.build(code=bytes.fromhex("0f44c1")),
            "instruction newer than the 486 at 0x401000: cmove %ecx,%eax "
            "(cmov)"),
}


def main(argv):
    work, rule = argv
    program, want = CASES[rule]
    os.makedirs(work, exist_ok=True)
    path = os.path.join(work, "rule_%s.exe" % rule)
    with open(path, "wb") as f:
        f.write(program)
    p = subprocess.run([sys.executable, os.path.join(HERE, "audit_exe.py"),
                        path], stdout=subprocess.PIPE, universal_newlines=True)
    findings = [line[len("FINDING: "):] for line in p.stdout.splitlines()
                if line.startswith("FINDING: ")]
    expected = (0 if want is None else 1, [want] if want else [])
    if (p.returncode, findings) != expected:
        print(p.stdout)
        print("FAILED: exit %d, findings %r; expected exit %d, findings %r" %
              ((p.returncode, findings) + expected))
        return 1
    print("%s: exit %d, findings %r" % (rule, p.returncode, findings))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
