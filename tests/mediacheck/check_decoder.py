#!/usr/bin/env python3
"""mediacheck's instruction decoder against objdump: for each program, the
instructions newer than the 486 that mediacheck's decoder finds (address and
class, printed by scan_program) must be exactly those that the audit finds
in objdump's disassembly (tests/audit/audit_exe.py), and across the programs
every class must be met.

    check_decoder.py SCAN_PROGRAM PROGRAM...
"""
import os
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "audit"))
import audit_exe  # noqa: E402


def main(argv):
    scan, programs = argv[0], argv[1:]
    failures = 0
    met = set()
    for program in programs:
        want = {(a, k) for a, k, _ in audit_exe.newer_instructions(program)}
        out = subprocess.run([scan, program], check=True,
                             stdout=subprocess.PIPE,
                             universal_newlines=True).stdout
        got = {(int(line.split()[0], 16), line.split()[1])
               for line in out.splitlines()}
        met |= {k for _, k in got}
        name = os.path.basename(program)
        print("%s: objdump %d, decoder %d" % (name, len(want), len(got)))
        for a, k in sorted(want - got)[:10]:
            print("  only objdump: 0x%x %s" % (a, k))
        for a, k in sorted(got - want)[:10]:
            print("  only decoder: 0x%x %s" % (a, k))
        failures += want != got
    missing = [c for c in audit_exe.CLASSES if c not in met]
    if missing:
        print("no instruction of class %s in any program" % ", ".join(missing))
        failures += 1
    print("%d failures" % failures)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
