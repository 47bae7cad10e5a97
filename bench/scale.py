#!/usr/bin/env python3
"""Times uninst-sim on machines grown from the demo machine in one direction
at a time, each at a tenth of its size and at full size, and prints the wall
time and peak memory of every run with the ratio of the two sizes.

    bench/scale.py [UNINST_SIM] [--scale F] [--repeat N] [--case NAME ...]

UNINST_SIM defaults to build/release/tools/uninst-sim/uninst-sim, the
optimised build without sanitizers:

    cmake --preset release && cmake --build --preset release

Each run is a real uninstall (/E, every box answered Yes), so it reads
registry.reg, loads the machine, sweeps the registry, deletes the driver's keys
and files, and writes registry.reg back. For a whole machine's export the
loading alone is timed too, with load-machine beside UNINST_SIM's build.
"""

import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
DEMO = os.path.join(ROOT, "examples", "demo-machine")
DEFAULT_TOOL = os.path.join(ROOT, "build", "release", "tools", "uninst-sim", "uninst-sim")
# From the tool's build tree: <build>/tools/uninst-sim/uninst-sim.
LOADER = os.path.join("..", "..", "bench", "load-machine")
BENCH_KEY = "HKEY_LOCAL_MACHINE\\Software\\Bench"


def deep_path(levels):
    """One key path `levels` keys deep."""
    return "\r\n[%s\\%s]\r\n" % (BENCH_KEY, "\\".join(["a"] * levels))


def deleted_keys(count):
    """`count` keys with a value each, then a [-key] line for every one."""
    lines = []
    for k in range(count):
        lines.append('[%s\\Key%06d]\r\n"Value"="data %06d"\r\n' % (BENCH_KEY, k, k))
    for k in range(count):
        lines.append("[-%s\\Key%06d]\r\n" % (BENCH_KEY, k))
    return "\r\n" + "".join(lines)


def descending_subkeys(count):
    """`count` subkeys of one key, written from the last name to the first."""
    return "\r\n" + "".join(
        "[%s\\Sub%06d]\r\n" % (BENCH_KEY, k) for k in range(count - 1, -1, -1))


def many_values(count):
    """One key with `count` values, each set twice and every other one deleted."""
    lines = ["\r\n[%s\\Values]\r\n" % BENCH_KEY]
    for repeat in ("first", "second"):
        lines += ['"v%06d"="%s"\r\n' % (k, repeat) for k in range(count)]
    lines += ['"v%06d"=-\r\n' % k for k in range(0, count, 2)]
    return "".join(lines)


def whole_machine(count):
    """`count` keys of a whole machine's export, about 208 bytes each, in the
    alphabetical order regedit writes them."""
    lines = []
    for k in range(count):
        data = ",".join("%02x" % ((k + i) & 0xFF) for i in range(8))
        lines.append('[%s\\Group%04d\\Item%06d]\r\n'
                     '"DisplayName"="Bench item %06d"\r\n'
                     '"Version"=dword:%08x\r\n'
                     '"Data"=hex:%s\r\n'
                     '"Path"="C:\\\\Program Files\\\\Bench\\\\Item%06d.dll"\r\n\r\n'
                     % (BENCH_KEY, k // 100, k, k, k, data, k))
    return "\r\n" + "".join(lines)


def swept_subkeys(count):
    """`count` instances below a vendor-product branch that the run sweeps:
    each is enumerated and deleted, from the last index to the first."""
    branch = "HKEY_LOCAL_MACHINE\\Enum\\USB\\VID_0D7C&PID_0000"
    return "\r\n" + "".join(
        '[%s\\Inst%06d]\r\n"Class"="Bench"\r\n' % (branch, k)
        for k in range(count - 1, -1, -1))


# name -> (full size, what the size counts, the registry text to append or
# None, the number of extra files in WINDOWS\INF, the exit status expected,
# the Windows family named in machine.ini or None for the default).
# A key path deeper than the registry's 512 levels is refused at load.
CASES = {
    "deep-key-path": (500, "levels", deep_path, 0, 0, None),
    "too-deep-key-path": (16000, "levels", deep_path, 0, 2, None),
    "deleted-keys": (10000, "keys", deleted_keys, 0, 0, None),
    "descending-subkeys": (100000, "subkeys", descending_subkeys, 0, 0, None),
    "many-values": (100000, "values", many_values, 0, 0, None),
    "inf-files": (5000, "files", None, 1, 0, None),
    "whole-machine-nt": (400000, "keys", whole_machine, 0, 0, "nt"),
    "whole-machine-98": (400000, "keys", whole_machine, 0, 0, "98"),
    "swept-subkeys-nt": (100000, "subkeys", swept_subkeys, 0, 0, "nt"),
    "swept-subkeys-98": (100000, "subkeys", swept_subkeys, 0, 0, "98"),
}


def make_machine(parent, registry_text, inf_files, family):
    machine = os.path.join(parent, "machine")
    shutil.copytree(DEMO, machine, symlinks=True)
    if family:
        settings = os.path.join(machine, "machine.ini")
        with open(settings) as ini:
            lines = [line for line in ini if not line.replace(" ", "").startswith("windows=")]
        at = lines.index("[machine]\n") + 1
        with open(settings, "w") as ini:
            ini.writelines(lines[:at] + ["windows = %s\n" % family] + lines[at:])
    if registry_text:
        with open(os.path.join(machine, "registry.reg"), "ab") as reg:
            reg.write(registry_text.encode("ascii"))
    inf = os.path.join(machine, "drive_c", "WINDOWS", "INF")
    for k in range(inf_files):
        with open(os.path.join(inf, "UNREL%04d.INF" % k), "wb") as f:
            f.write(b"[Version]\r\n")
    return machine


def run_tool(tool, machine, expected_status=0):
    """Wall seconds and peak resident kilobytes of one run."""
    argv = [tool, "--machine", machine, "--answers", "yes,yes,yes,yes,yes,yes", "--", "/E"]
    start = time.monotonic()
    pid = os.fork()
    if pid == 0:
        devnull = os.open(os.devnull, os.O_RDWR)
        # A refusal that the case expects is not worth its message.
        for fd in (0, 1, 2) if expected_status else (0, 1):
            os.dup2(devnull, fd)
        os.execv(tool, argv)
    _, status, usage = os.wait4(pid, 0)
    seconds = time.monotonic() - start
    if os.waitstatus_to_exitcode(status) != expected_status:
        sys.exit("bench: %s failed on %s (status %d)" %
                 (tool, machine, os.waitstatus_to_exitcode(status)))
    return seconds, usage.ru_maxrss


def load_seconds(tool, machine):
    """Seconds that loading the machine takes, or None without load-machine."""
    loader = os.path.normpath(os.path.join(os.path.dirname(tool), LOADER))
    if not os.access(loader, os.X_OK):
        return None
    return float(subprocess.run([loader, machine], check=True, capture_output=True,
                                text=True).stdout)


def measure(tool, name, size, repeat):
    """The fastest of `repeat` runs, each on a fresh machine: wall seconds,
    peak kilobytes, and the seconds of loading the machine for a whole
    machine's export (else None). A run of a few milliseconds varies by a
    quarter from one run to the next, which would swamp the ratios."""
    _, _, generate, files_per_unit, expected_status, family = CASES[name]
    text = generate(size) if generate else ""
    runs = []
    for _ in range(repeat):
        with tempfile.TemporaryDirectory(prefix="uninst-bench-") as parent:
            machine = make_machine(parent, text, size * files_per_unit, family)
            load = load_seconds(tool, machine) if name.startswith("whole-machine") else None
            runs.append(run_tool(tool, machine, expected_status) + (load,))
    loads = [load for _, _, load in runs if load is not None]
    return (min(seconds for seconds, _, _ in runs), max(kb for _, kb, _ in runs),
            min(loads) if loads else None)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("tool", nargs="?", default=DEFAULT_TOOL)
    parser.add_argument("--scale", type=float, default=1.0,
                        help="multiply every full size by this factor")
    parser.add_argument("--repeat", type=int, default=3,
                        help="time each size this many times and keep the fastest")
    parser.add_argument("--case", action="append", choices=sorted(CASES),
                        help="run only these cases")
    args = parser.parse_args()
    if not os.access(args.tool, os.X_OK):
        sys.exit("bench: no uninst-sim at %s (see bench/scale.py --help)" % args.tool)

    base_seconds, base_kb, _ = measure(args.tool, "inf-files", 0, args.repeat)
    print("%-20s %9s %-8s %9s %10s %9s" % ("case", "size", "", "seconds", "peak MB", "load s"))
    print("%-20s %9d %-8s %9.3f %10.1f" % ("demo machine", 0, "", base_seconds, base_kb / 1024))
    for name in args.case or list(CASES):
        full = max(10, int(CASES[name][0] * args.scale))
        unit = CASES[name][1]
        results = []
        for size in (full // 10, full):
            seconds, kb, load = measure(args.tool, name, size, args.repeat)
            results.append(seconds)
            print("%-20s %9d %-8s %9.3f %10.1f %9s" % (name, size, unit, seconds, kb / 1024,
                                                       "" if load is None else "%.3f" % load))
            sys.stdout.flush()
        print("%-20s %9s %-8s %8.1fx" % ("", "", "ratio", results[1] / max(results[0], 1e-6)))
        if name.startswith("whole-machine"):
            file_bytes = len(CASES[name][2](full)) + os.path.getsize(os.path.join(DEMO, "registry.reg"))
            print("%-20s %9s %-8s %8.1fx" % ("", "", "vs file", kb * 1024 / file_bytes))
        if name == "inf-files":
            print("%-20s %9s %-8s %+8.1f%%" % ("", "", "vs demo",
                                               100 * (results[1] / base_seconds - 1)))


if __name__ == "__main__":
    main()
