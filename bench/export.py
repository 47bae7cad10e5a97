#!/usr/bin/env python3
"""Times loading and running uninst-sim over a whole machine's regedit export
of about 100 MB, against a single-threaded sort of the same file, and its
peak memory against the file's size.

    bench/export.py [UNINST_SIM] [--keys N] [--roots all|hklm]
                    [--encoding regedit4|utf16] [--repeat N]

The export is the demo machine's registry.reg followed by N keys (420,000 by
default), each with four values, below groups of a hundred, spread over every
root key regedit writes (--roots all) or all below HKEY_LOCAL_MACHINE (--roots
hklm, which an uninst-sim that reads HKEY_LOCAL_MACHINE only can load too).
Timed, each the fastest of --repeat runs, peak memory from /usr/bin/time -v:

  sort   LC_ALL=C sort --parallel=1 of the file, the yardstick
  load   load-machine (built beside UNINST_SIM): the folder read and checked
  save   load-machine --save: registry.reg written back as a run that
         removed nothing writes it
  run    a real uninstall, /E, every box answered Yes: load, run, save and
         the undo record

Targets: load and save within 2x sort; peak memory within 2.5x the file.

Measured with the release preset on 2 cores shared with other builds (load
average about 3, so a figure moves by a fifth from one round to the next),
420,000 keys, the fastest of 5 runs (3 for utf16 before), before and after
in the same round; seconds, and peak memory in MB with its ratio to the
file. "before" is the code that read HKEY_LOCAL_MACHINE alone and wrote the
whole file anew, which --roots all does not load:

  code    roots  form      file MB  sort  load         save         run          peak
  before  hklm   regedit4   97.4    0.81  0.79 (1.0x)  -            2.41 (3.0x)  279 (2.87x)
  after   hklm   regedit4   97.4    0.73  0.56 (0.8x)  0.26 (0.4x)  1.33 (1.8x)  233 (2.39x)
  after   all    regedit4   96.5    0.78  0.45 (0.6x)  0.18 (0.2x)  0.83 (1.1x)  154 (1.59x)
  before  hklm   utf16     194.8    1.21  2.39 (2.0x)  -            5.93 (4.9x)  645 (3.31x)
  after   hklm   utf16     194.8    1.12  0.93 (0.8x)  1.06 (0.9x)  2.14 (1.9x)  427 (2.19x)

The run's time beyond load and save is mostly the kernel copying the new
registry.reg into the page cache and flushing it to disk, which sort, writing
to /dev/null, does not pay.
"""

import argparse
import os
import re
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

# Each root's share of the keys, in the order regedit writes the roots.
ALL_ROOTS = [("HKEY_LOCAL_MACHINE", 40), ("HKEY_CURRENT_CONFIG", 5), ("HKEY_DYN_DATA", 5),
             ("HKEY_CLASSES_ROOT", 20), ("HKEY_USERS", 20), ("HKEY_CURRENT_USER", 10)]


def key_section(root, k):
    data = ",".join("%02x" % ((k * 7 + i) & 0xFF) for i in range(16))
    if k % 100 == 0:
        path = "%s\\Software\\Bench\\Group%04d" % (root, k // 100)
    else:
        path = "%s\\Software\\Bench\\Group%04d\\Item%06d" % (root, k // 100, k)
    return ('[%s]\r\n'
            '"DisplayName"="Bench item %06d"\r\n'
            '"Version"=dword:%08x\r\n'
            '"Data"=hex:%s\r\n'
            '"Path"="C:\\\\Program Files\\\\Bench\\\\Item%06d.dll"\r\n\r\n'
            % (path, k, k, data, k))


def export_text(keys, roots):
    """The keys' sections: every hundredth key a group that holds the next 99."""
    shares = ALL_ROOTS if roots == "all" else [("HKEY_LOCAL_MACHINE", 1)]
    total = sum(share for _, share in shares)
    parts = []
    start = 0
    for n, (root, share) in enumerate(shares):
        end = keys if n == len(shares) - 1 else start + keys * share // total
        parts.append("[%s]\r\n\r\n" % root)
        parts.extend(key_section(root, k) for k in range(start, end))
        start = end
    return "".join(parts)


def registry_bytes(keys, roots, encoding):
    with open(os.path.join(DEMO, "registry.reg"), "rb") as demo:
        text = demo.read().decode("cp1252") + "\r\n" + export_text(keys, roots)
    if encoding == "regedit4":
        return text.encode("cp1252")
    text = "Windows Registry Editor Version 5.00" + text[len("REGEDIT4"):]
    return b"\xff\xfe" + text.encode("utf-16-le")


def timed(argv):
    """Wall seconds, peak resident kilobytes and standard output of one run."""
    start = time.monotonic()
    done = subprocess.run(["/usr/bin/time", "-v"] + argv, capture_output=True, text=True)
    seconds = time.monotonic() - start
    if done.returncode != 0:
        sys.exit("bench: %s failed (status %d): %s" % (argv[0], done.returncode, done.stderr))
    peak = int(re.search(r"Maximum resident set size \(kbytes\): (\d+)", done.stderr).group(1))
    return seconds, peak, done.stdout


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("tool", nargs="?", default=DEFAULT_TOOL)
    parser.add_argument("--keys", type=int, default=420000)
    parser.add_argument("--roots", choices=["all", "hklm"], default="all")
    parser.add_argument("--encoding", choices=["regedit4", "utf16"], default="regedit4")
    parser.add_argument("--repeat", type=int, default=3)
    args = parser.parse_args()
    loader = os.path.normpath(os.path.join(os.path.dirname(args.tool), LOADER))
    for program in (args.tool, loader):
        if not os.access(program, os.X_OK):
            sys.exit("bench: no %s (see bench/export.py --help)" % program)

    with tempfile.TemporaryDirectory(prefix="uninst-export-") as parent:
        source = os.path.join(parent, "registry.reg")
        with open(source, "wb") as reg:
            reg.write(registry_bytes(args.keys, args.roots, args.encoding))
        size = os.path.getsize(source)
        sorts, loads, runs = [], [], []
        for _ in range(args.repeat):
            sorts.append(timed(["env", "LC_ALL=C", "sort", "--parallel=1", "-o", os.devnull,
                                source]))
            machine = os.path.join(parent, "machine")
            shutil.copytree(DEMO, machine)
            shutil.copyfile(source, os.path.join(machine, "registry.reg"))
            seconds, peak, out = timed([loader, machine, "--save"])
            loads.append(tuple(float(line) for line in out.split()) + (peak,))
            seconds, peak, _ = timed([args.tool, "--machine", machine, "--answers",
                                      "yes,yes,yes,yes,yes,yes", "--", "/E"])
            runs.append((seconds, peak))
            shutil.rmtree(machine)
    sort = min(seconds for seconds, _, _ in sorts)
    load = min(seconds for seconds, _, _ in loads)
    save = min(seconds for _, seconds, _ in loads)
    run = min(seconds for seconds, _ in runs)
    load_peak = max(peak for _, _, peak in loads) * 1024
    run_peak = max(peak for _, peak in runs) * 1024
    mb = 1e6
    print("roots %s, %s, %d keys, file %.1f MB" % (args.roots, args.encoding, args.keys, size / mb))
    print("sort %.2f s" % sort)
    print("load %.2f s (%.2fx sort), peak %.0f MB (%.2fx file)" %
          (load, load / sort, load_peak / mb, load_peak / size))
    print("save %.2f s (%.2fx sort)" % (save, save / sort))
    print("run  %.2f s (%.2fx sort), peak %.0f MB (%.2fx file)" %
          (run, run / sort, run_peak / mb, run_peak / size))


if __name__ == "__main__":
    main()
