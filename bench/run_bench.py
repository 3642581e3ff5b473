#!/usr/bin/env python3
"""Benchmark of the setup front end under Wine, beside a floor program and an
NSIS peer doing the same job, all measured by one driver in one Wine session.

    run_bench.py --build DIR --merrik MERRIK.EXE --sibling sibling.exe
                 --driver bench_driver.exe --floor FLOOR.EXE --peer PEER.EXE
                 [--runs 7] [--scale-runs 3] [--items 10,100,1000,10000]

DISPLAY must name a running X server (bench/run_bench.sh starts one). The
peer is built into the --peer path with makensis first. Every
figure is printed as median [min-max] over the runs, in milliseconds unless
said otherwise. The three programs run interleaved, so that the noise of a
shared machine falls on all of them alike.

Time stamps: the driver reads the performance counter just before it starts
a program (launch), just before it clicks Install (click) and when the
awaited message box is first visible (box); the sibling stand-ins append
their own readings at start and end to X.times. Segments:
  start   click (or launch) to Sondel's start
  gap     Sondel's end to Quillan's start
  finish  Quillan's end to the success prompt, less the fixed 1000 ms wait
  failure Quillan's end (reporting failure) to the failure message
"""

import argparse
import glob
import os
import platform
import shutil
import statistics
import struct
import subprocess
import sys
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
sys.path.insert(0, os.path.join(ROOT, "tools"))
import make_demo_media as media  # noqa: E402
import run_e2e as e2e  # noqa: E402

INSTALL_DIR = media.DEFAULT_INSTALL_DIR
GROUP = "VKO Halvermont"
TOOLS = "BenchTools"
MEDIA = "Bench"


# --- the peer ---------------------------------------------------------------

def nsis_values(cfg):
    """NSIS registry writes of the keys and values the setup writes on the
    Windows 95 family; the install directory is $INSTDIR, AMA is $R9."""
    keys, run = e2e.installed_keys("$INSTDIR", 0, False, cfg)
    hklm = e2e.HKLM + "\\"
    lines = []
    for key, values in list(keys.items()) + [(e2e.K_RUN, run)]:
        sub = key[len(hklm):]
        for name, (typ, data) in values.items():
            if typ == e2e.REG_SZ:
                text = data[:-1].decode("cp1252")
                lines.append('WriteRegStr HKLM "%s" "%s" "%s"'
                             % (sub, name, text))
            elif typ == e2e.REG_DWORD:
                value = "$R9" if name == "AMA" else str(
                    int.from_bytes(data, "little"))
                lines.append('WriteRegDWORD HKLM "%s" "%s" %s'
                             % (sub, name, value))
            else:
                lines.append('WriteRegBin HKLM "%s" "%s" %s'
                             % (sub, name, data.hex().upper()))
    return "\r\n".join(lines) + "\r\n"


def make_peer(out, work):
    values = os.path.join(work, "peer_values.nsh")
    with open(values, "w") as f:
        f.write(nsis_values(media.default_cfg()))
    subprocess.run(["makensis", "-V2", "-DOUTFILE=" + os.path.abspath(out),
                    "-DVALUES=" + values, os.path.join(HERE, "peer.nsi")],
                   check=True)


# --- media and runs ---------------------------------------------------------

class Bench:
    def __init__(self, a):
        self.a = a
        self.prefix = e2e.Prefix(os.path.join(a.build, "bench"), "win95")
        self.media = os.path.join(self.prefix.c, MEDIA)
        self.tools = os.path.join(self.prefix.c, TOOLS)

    def setup_prefix(self):
        marker = os.path.join(self.prefix.path, "bench-ready")
        if not os.path.exists(marker):
            print("== fresh 32-bit Wine prefix (win95, Managed=N)",
                  flush=True)
            self.prefix.create()
            with open(marker, "w") as f:
                f.write("win95\n")
        self.prefix.kill()
        self.prefix.start_session()
        os.makedirs(self.tools, exist_ok=True)
        shutil.copyfile(self.a.driver, os.path.join(self.tools,
                                                    "bench_driver.exe"))

    def lay_out(self, items=None, quillan_status="1", sondel_sleep=None):
        media.build(self.media, self.a.merrik, self.a.sibling)
        shutil.copyfile(self.a.floor, os.path.join(self.media, "FLOOR.EXE"))
        # The floor again, with the setup's Program Manager exchange.
        shutil.copyfile(self.a.floor, os.path.join(self.media,
                                                   "FLOORDDE.EXE"))
        # The floor again, with a window and a 10 ms timer beside the job.
        shutil.copyfile(self.a.floor, os.path.join(self.media,
                                                   "FLOORTMR.EXE"))
        open(os.path.join(self.media, "FLOORTMR.timer"), "w").close()
        with open(os.path.join(self.media, "FLOORDDE.dde"), "w") as f:
            f.write("[CreateGroup(%s,1)]\n" % GROUP)
            for name, title in media.SETUP_LOG_ITEMS:
                f.write('[AddItem("%s\\%s","%s")]\n' % (INSTALL_DIR, name,
                                                         title))
        shutil.copyfile(self.a.peer, os.path.join(self.media, "PEER.EXE"))
        utility = os.path.join(self.media, "Utility")
        if items is not None:
            with open(os.path.join(utility, "Quillan.files", "setup.log"),
                      "wb") as f:
                f.write(media.setup_log(INSTALL_DIR, [
                    ("Zezoroza.exe", "Item %05d" % i)
                    for i in range(1, items + 1)]))
        if quillan_status != "1":
            with open(os.path.join(utility, "Quillan.handoff"), "wb") as f:
                f.write(media.handoff(quillan_status, "1", INSTALL_DIR))
        if sondel_sleep is not None:
            with open(os.path.join(utility, "Sondel.sleep"), "wb") as f:
                f.write(str(sondel_sleep).encode())

    def group_dir(self):
        return os.path.join(self.prefix.programs_dir(), GROUP)

    def clean(self):
        for f in glob.glob(os.path.join(self.media, "Utility", "*.times")) + \
                glob.glob(os.path.join(self.media, "*.times")):
            os.remove(f)
        if os.path.exists(self.group_dir()):
            shutil.rmtree(self.group_dir())

    def times(self, name):
        path = os.path.join(self.media, name + ".times")
        if not os.path.exists(path):
            return []
        with open(path) as f:
            return [tuple(int(x) for x in line.split())
                    for line in f if line.strip()]

    def run(self, program, *options, timeout=900):
        """One driven run; returns the report as a dict."""
        self.clean()
        report = os.path.join(self.tools, "report.txt")
        if os.path.exists(report):
            os.remove(report)
        self.prefix.wine("C:\\%s\\bench_driver.exe" % TOOLS,
                         "C:\\%s\\report.txt" % TOOLS,
                         "C:\\%s\\%s" % (MEDIA, program), "--reset",
                         *options, check=False, timeout=timeout)
        r = {}
        with open(report) as f:
            for line in f:
                kind, _, rest = line.strip().partition(" ")
                if kind == "error":
                    raise e2e.Failure("%s: %s" % (program, rest))
                else:
                    r[kind] = int(rest)
        r["sondel"] = self.times("Utility/Sondel")
        r["quillan"] = self.times("Utility/Quillan")
        r["floor"] = self.times(os.path.splitext(program)[0])
        return r

    def count_shortcuts(self):
        return len(glob.glob(os.path.join(self.group_dir(), "*.lnk")))

    def shortcuts(self, expected, settle=5.0, limit=600.0):
        """Shortcuts in the group once their number stops changing."""
        start = last_change = time.time()
        count = -1
        while True:
            now = self.count_shortcuts()
            if now != count:
                count, last_change = now, time.time()
            if count == expected and time.time() - last_change > 0.5:
                return count
            if time.time() - last_change > settle or \
                    time.time() - start > limit:
                return count
            time.sleep(0.25)


def ms(r, a, b):
    return (b - a) * 1000.0 / r["freq"]


def segments(r, welcome):
    s, q = r["sondel"][-1], r["quillan"][-1]
    out = {
        "gap": ms(r, s[1], q[0]),
        "finish": ms(r, q[1], r["box"]) - 1000.0,
        "launch": ms(r, r["launch"], s[0]),
        "peak": r.get("peak_working_set", 0) / 1024.0,
    }
    if welcome:
        out["start"] = ms(r, r["click"], s[0])
    if len(r["floor"]) >= 2:
        # The second start: the first one shares its time with the floor's
        # own start-up.
        out["spawn"] = ms(r, r["floor"][1][0], q[0])
    return out


# --- CPU time from Linux ----------------------------------------------------
# Wine 8's GetProcessTimes on another process's handle reports the calling
# process's own times (seen: the driver's figure matched the driver's own
# /proc reading), so the program's CPU time is read where Wine keeps it: a
# Wine process is one Linux process, with its threads as Linux tasks.

def unix_pid(argv0, prefix):
    """Linux process id of the Wine program started as argv0 in prefix."""
    key = ("WINEPREFIX=" + prefix).encode()
    for p in os.listdir("/proc"):
        if not p.isdigit():
            continue
        try:
            with open("/proc/%s/cmdline" % p, "rb") as f:
                args = f.read().split(b"\0")
            if args[0].decode("latin-1") != argv0:
                continue
            with open("/proc/%s/environ" % p, "rb") as f:
                if key in f.read().split(b"\0"):
                    return int(p)
        except OSError:
            continue
    return None


def cpu_seconds(pid):
    """Run time of all the process's threads (scheduler statistics, ns)."""
    total = 0
    for t in glob.glob("/proc/%d/task/*/schedstat" % pid):
        try:
            with open(t) as f:
                total += int(f.read().split()[0])
        except OSError:
            pass
    return total / 1e9


class CpuWatch(threading.Thread):
    """Waits for the program and for Sondel to be running, then measures the
    program's CPU share from 1 s to 9 s into Sondel's 10 s sleep."""

    def __init__(self, program, prefix):
        super().__init__(daemon=True)
        self.program, self.prefix = program, prefix
        self.share = None

    def wait_pid(self, argv0, limit=60.0):
        end = time.time() + limit
        while time.time() < end:
            pid = unix_pid(argv0, self.prefix)
            if pid:
                return pid
            time.sleep(0.02)
        return None

    def run(self):
        pid = self.wait_pid("C:\\%s\\%s" % (MEDIA, self.program))
        if pid and self.wait_pid("C:\\%s\\Utility\\Sondel.exe" % MEDIA):
            time.sleep(1.0)
            c1, t1 = cpu_seconds(pid), time.monotonic()
            time.sleep(8.0)
            c2, t2 = cpu_seconds(pid), time.monotonic()
            self.share = (c2 - c1) / (t2 - t1) * 100.0


def fig(values, digits=0):
    if not values:
        return "-"
    f = "%%.%df" % digits
    return "%s [%s-%s]" % (f % statistics.median(values), f % min(values),
                           f % max(values))


def pe_sizes(path):
    """File size and the bytes of its parts: code sections, resources, other
    loaded sections, debug sections (long names, stored as "/n"), and the
    rest (headers, symbol table)."""
    with open(path, "rb") as f:
        data = f.read()
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    count = struct.unpack_from("<H", data, pe + 6)[0]
    optional = struct.unpack_from("<H", data, pe + 20)[0]
    table = pe + 24 + optional
    parts = {"code": 0, "resources": 0, "data": 0, "debug": 0}
    for i in range(count):
        at = table + 40 * i
        name = data[at:at + 8].rstrip(b"\0").decode("ascii", "replace")
        raw = struct.unpack_from("<I", data, at + 16)[0]
        flags = struct.unpack_from("<I", data, at + 36)[0]
        if name == ".rsrc":
            parts["resources"] += raw
        elif name.startswith("/") or name.startswith(".debug"):
            parts["debug"] += raw
        elif flags & 0x20:  # IMAGE_SCN_CNT_CODE
            parts["code"] += raw
        else:
            parts["data"] += raw
    parts["rest"] = len(data) - sum(parts.values())
    return len(data), parts


def machine():
    cpu = "?"
    with open("/proc/cpuinfo") as f:
        for line in f:
            if line.startswith("model name"):
                cpu = line.split(":", 1)[1].strip()
                break
    wine = subprocess.run(["wine", "--version"], capture_output=True,
                          text=True).stdout.strip()
    return "%s, %d cores, %s, %s, load %s" % (
        cpu, os.cpu_count(), platform.platform(), wine,
        " ".join("%.2f" % x for x in os.getloadavg()))


# --- the benchmark ----------------------------------------------------------

def main(argv):
    ap = argparse.ArgumentParser()
    for name in ("build", "merrik", "sibling", "driver", "floor", "peer"):
        ap.add_argument("--" + name, required=True)
    ap.add_argument("--runs", type=int, default=7)
    ap.add_argument("--scale-runs", type=int, default=3)
    ap.add_argument("--items", default="10,100,1000,10000")
    ap.add_argument("--skip", default="",
                    help="comma list of parts to leave out: "
                         "segments,failure,polling,scale")
    a = ap.parse_args(argv)
    skip = set(x for x in a.skip.split(",") if x)
    make_peer(a.peer, os.path.dirname(os.path.abspath(a.peer)))
    b = Bench(a)
    out = []

    def say(line=""):
        print(line, flush=True)
        out.append(line)

    b.setup_prefix()
    before = machine()
    started = time.time()
    try:
        progs = [("floor", "FLOOR.EXE", ()),
                 ("floor + Progman", "FLOORDDE.EXE", ()),
                 ("NSIS peer", "PEER.EXE", ()),
                 ("MERRIK.EXE", "MERRIK.EXE", ("--welcome",))]
        seg = {p[0]: [] for p in progs}
        if "segments" not in skip:
            b.lay_out()
            for i in range(a.runs):
                for label, exe, opts in progs:
                    r = b.run(exe, *opts)
                    seg[label].append(segments(r, bool(opts)))
                    # The peer and the product must have made the group.
                    if label != "floor" and b.shortcuts(2, settle=3) != 2:
                        raise e2e.Failure("%s made no complete group" % label)
                print("  segments run %d/%d done" % (i + 1, a.runs),
                      flush=True)

        fail = []
        if "failure" not in skip:
            b.lay_out(quillan_status="0")
            for i in range(a.runs):
                r = b.run("MERRIK.EXE", "--welcome", "--box",
                          "Abort Installation", "--answer", "OK")
                fail.append(ms(r, r["quillan"][-1][1], r["box"]))

        poll = {}
        if "polling" not in skip:
            b.lay_out(sondel_sleep=10000)
            for label, exe, opts in (progs[0], ("floor + 10 ms timer",
                                                "FLOORTMR.EXE", ()),
                                     progs[-1]):
                poll[label] = []
                for i in range(max(3, a.runs // 2)):
                    watch = CpuWatch(exe, b.prefix.path)
                    watch.start()
                    b.run(exe, *opts)
                    watch.join()
                    if watch.share is None:
                        raise e2e.Failure("no CPU reading of " + exe)
                    poll[label].append(watch.share)

        scale = []
        if "scale" not in skip:
            for n in [int(x) for x in a.items.split(",") if x]:
                b.lay_out(items=n)
                fin, early, reached = [], [], []
                for i in range(a.scale_runs):
                    r = b.run("MERRIK.EXE", "--welcome")
                    fin.append(segments(r, True)["finish"])
                    early.append(b.count_shortcuts())
                    reached.append(b.shortcuts(n))
                scale.append((n, fin, early, reached))
                print("  scale %d items done" % n, flush=True)
    finally:
        b.prefix.kill()

    say("Machine: %s" % before)
    say("Load at the end: %s; %d s in all" % (
        " ".join("%.2f" % x for x in os.getloadavg()),
        time.time() - started))
    say()
    if seg["floor"]:
        say("Segments, ms, median [min-max] of %d runs (start of the floor "
            "and the peer: from their launch)" % a.runs)
        say()
        say("| program | start | gap | finish | finish above floor | "
            "peak working set, KiB |")
        say("|---|---|---|---|---|---|")
        floor_finish = statistics.median(x["finish"] for x in seg["floor"])
        for label, _, opts in progs:
            rows = seg[label]
            start = fig([x["start"] for x in rows]) if opts else \
                "(from launch) " + fig([x["launch"] for x in rows])
            say("| %s | %s | %s | %s | %s | %s |" % (
                label, start, fig([x["gap"] for x in rows]),
                fig([x["finish"] for x in rows]),
                fig([x["finish"] - floor_finish for x in rows]),
                fig([x["peak"] for x in rows])))
        say()
        spawn = [x["spawn"] for x in seg["floor"] if "spawn" in x]
        start_m = [x["start"] for x in seg["MERRIK.EXE"]]
        say("Starting a program (the floor's CreateProcessA to the sibling's "
            "first reading): %s ms" % fig(spawn, 1))
        say("MERRIK.EXE start less that: %s ms" % fig(
            [s - statistics.median(spawn) for s in start_m], 1))
        say()
    if fail:
        say("Failure reaction (failing program's end to the failure message, "
            "Program Manager present): %s ms" % fig(fail))
        say()
    if poll:
        say("Polling cost, CPU time of the program's Linux process (all its "
            "threads) from 1 s to 9 s into Sondel's 10 s sleep, % of one "
            "core:")
        say()
        for label, values in poll.items():
            say("- %s: %s" % (label, fig(values, 3)))
        say()
    if scale:
        say("Scale: finish overhead by item count, ms (%d runs each)"
            % a.scale_runs)
        say()
        say("| items | finish | per item | shortcuts when the setup ended | "
            "shortcuts in all |")
        say("|---|---|---|---|---|")
        for n, fin, early, reached in scale:
            per = statistics.median(fin) / n
            say("| %d | %s | %.2f | %s | %s of %d |" % (
                n, fig(fin), per, "/".join(str(x) for x in early),
                "/".join(str(x) for x in reached), n))
        if len(scale) >= 2:
            (n1, f1, _, _), (n2, f2, _, _) = scale[-2], scale[-1]
            slope = (statistics.median(f2) - statistics.median(f1)) / (n2 - n1)
            say()
            say("Growth from %d to %d items: %.3f ms per item" % (n1, n2,
                                                                  slope))
        say()
    size, parts = pe_sizes(a.merrik)
    say("MERRIK.EXE (release): %d bytes: code %d, resources %d, other "
        "loaded sections %d, debug sections of the static runtime %d, "
        "headers and symbol table %d. PEER.EXE: %d bytes." % (
            size, parts["code"], parts["resources"], parts["data"],
            parts["debug"], parts["rest"], os.path.getsize(a.peer)))
    table = os.path.join(a.build, "bench", "table.md")
    with open(table, "w") as f:
        f.write("\n".join(out) + "\n")
    print("(also in %s)" % table)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
