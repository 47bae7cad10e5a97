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


def repeated_sections(count):
    """One key whose `count` values come in two sections of the file."""
    half = count // 2
    lines = ["\r\n[%s\\Repeated]\r\n" % BENCH_KEY]
    lines += ['"a%06d"="first"\r\n' % k for k in range(half)]
    lines.append("\r\n[%s\\Repeated]\r\n" % BENCH_KEY)
    lines += ['"b%06d"="second"\r\n' % k for k in range(count - half)]
    return "".join(lines)


def colliding_subkeys(count):
    """`count` subkeys whose names differ only in second bytes of code page
    932 characters that look like letters of either case: one name when
    every byte's letters are folded, many on Windows."""
    width = max(1, (count - 1).bit_length())
    names = ("".join("\x83" + ("a" if (k >> bit) & 1 else "A") for bit in range(width))
             for k in range(count))
    return "\r\n" + "".join("[%s\\Dbcs\\%s]\r\n" % (BENCH_KEY, name) for name in names)


def large_value(megabytes):
    """One string value of `megabytes` million characters."""
    return '\r\n[%s\\Large]\r\n"Text"="%s"\r\n' % (BENCH_KEY, "x" * (megabytes * 1000000))


JAPANESE = ["oem_code_page = 932", "ansi_code_page = 932"]

# name -> (full size, what the size counts, the registry text to append or
# None, the number of extra files in WINDOWS\INF, the exit status expected,
# the settings lines for machine.ini's [machine] or None for the demo's,
# the depth of an extra folder tree on drive C).
# A key path deeper than the registry's 512 levels, and a folder deeper than
# a Windows path can reach, are refused at load.
CASES = {
    "deep-key-path": (500, "levels", deep_path, 0, 0, None, 0),
    "too-deep-key-path": (16000, "levels", deep_path, 0, 2, None, 0),
    "deleted-keys": (10000, "keys", deleted_keys, 0, 0, None, 0),
    "descending-subkeys": (100000, "subkeys", descending_subkeys, 0, 0, None, 0),
    "many-values": (100000, "values", many_values, 0, 0, None, 0),
    "inf-files": (5000, "files", None, 1, 0, None, 0),
    "whole-machine-nt": (400000, "keys", whole_machine, 0, 0, ["windows = nt"], 0),
    "whole-machine-98": (400000, "keys", whole_machine, 0, 0, ["windows = 98"], 0),
    "swept-subkeys-nt": (100000, "subkeys", swept_subkeys, 0, 0, ["windows = nt"], 0),
    "swept-subkeys-98": (100000, "subkeys", swept_subkeys, 0, 0, ["windows = 98"], 0),
    "repeated-sections": (40000, "values", repeated_sections, 0, 0, None, 0),
    "colliding-932": (20000, "subkeys", colliding_subkeys, 0, 0, JAPANESE, 0),
    "deep-folders": (16000, "levels", None, 0, 2, None, 1),
    "large-value": (100, "MB", large_value, 0, 0, None, 0),
}


def make_deep_folders(drive, levels):
    """A folder `levels` deep, made one level at a time: its path is longer
    than the system takes in one call."""
    fd = os.open(drive, os.O_RDONLY | os.O_DIRECTORY)
    for _ in range(levels):
        os.mkdir("D", dir_fd=fd)
        deeper = os.open("D", os.O_RDONLY | os.O_DIRECTORY, dir_fd=fd)
        os.close(fd)
        fd = deeper
    os.close(fd)


def make_machine(parent, registry_text, inf_files, settings, folder_depth):
    machine = os.path.join(parent, "machine")
    shutil.copytree(DEMO, machine, symlinks=True)
    if settings:
        path = os.path.join(machine, "machine.ini")
        names = [line.split("=")[0].strip() for line in settings]
        with open(path) as ini:
            lines = [line for line in ini if line.split("=")[0].strip() not in names]
        at = lines.index("[machine]\n") + 1
        with open(path, "w") as ini:
            ini.writelines(lines[:at] + [line + "\n" for line in settings] + lines[at:])
    if registry_text:
        with open(os.path.join(machine, "registry.reg"), "ab") as reg:
            reg.write(registry_text.encode("latin-1"))
    make_deep_folders(os.path.join(machine, "drive_c"), folder_depth)
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
    _, _, generate, files_per_unit, expected_status, settings, depth_per_unit = CASES[name]
    text = generate(size) if generate else ""
    runs = []
    for _ in range(repeat):
        with tempfile.TemporaryDirectory(prefix="uninst-bench-") as parent:
            machine = make_machine(parent, text, size * files_per_unit, settings,
                                   size * depth_per_unit)
            load = load_seconds(tool, machine) if name.startswith("whole-machine") else None
            runs.append(run_tool(tool, machine, expected_status) + (load,))
            # rm takes apart a tree deeper than shutil can.
            subprocess.run(["rm", "-rf", machine], check=True)
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
