#!/usr/bin/env python3
"""Runs random machines through uninst-sim and through the real program.

Each seed gives one machine (random_machine.py); it runs once under uninst-sim
(NT family) and once as UNINST.EXE under Wine, both with /E /V and every box
answered Yes, and the two must agree on the message boxes in order, the
restart request, and the keys, values and files that remain. Every
disagreement is printed with its seed; a machine that disagrees is kept
under the work directory for inspection.

    differential.py --seeds 1-8 ...      a fixed set (the test command)
    differential.py --count 1000 ...     a soak from a random first seed,
                                         which is printed

Needs WINEPREFIX and DISPLAY, as wine-env.sh exports them.
"""

import argparse
import os
import random
import shutil
import subprocess
import sys
import tempfile

import demo_agreement
import random_machine
import run_scenario as runner

NAME = "differential"
SWITCHES = "/E /V"
# More than any machine asks: 14 driver files, the INF copies and the
# catalogued files, the opening and the closing box.
PROBE_ANSWERS = ("yes", ) * 80


def answers_of(args, machine, work_dir):
    """Yes to every box but the restart question, which is answered No so
    that Wine stays up: a dry run of uninst-sim tells how many boxes come.
    Should the two sides then ask differently, the boxes disagree."""
    report = os.path.join(work_dir, "probe-report.json")
    status = subprocess.run(
        [args.uninst_sim, "--machine", machine, "--dry-run", "--answers",
         ",".join(PROBE_ANSWERS), "--report", report, "--"] + SWITCHES.split(),
        stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
        stderr=subprocess.DEVNULL, timeout=demo_agreement.SIM_TIMEOUT_S).returncode
    if status not in demo_agreement.SIM_RAN:
        raise runner.ScenarioError("the dry run of uninst-sim ended with status %d" % status)
    boxes = demo_agreement.load_report(report).get("messageBoxes", [])
    answers = ["yes" if "Yes" in box.get("buttons", []) else "ok" for box in boxes]
    if boxes and "No" in boxes[-1].get("buttons", []):
        answers[-1] = "no"
    return answers


def parse_seeds(text):
    first, _, last = text.partition("-")
    return range(int(first), int(last or first) + 1)


def run_seed(args, seed):
    """The disagreements of one seed's machine; its folders are kept when
    there are any."""
    work_dir = tempfile.mkdtemp(prefix="%s.%d." % (NAME, seed), dir=args.work_dir)
    machine = os.path.join(work_dir, "machine")
    random_machine.write_machine(seed, machine)
    try:
        answers = answers_of(args, machine, work_dir)
        differences = demo_agreement.check_agreement(args, machine, work_dir, SWITCHES, answers)
    except (runner.ScenarioError, OSError, ValueError, KeyError,
            subprocess.TimeoutExpired) as error:
        differences = ["cannot run: %s" % error]
    if differences:
        differences.append("kept for inspection: %s" % work_dir)
    else:
        shutil.rmtree(work_dir, ignore_errors=True)
    return differences


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--seeds", help="first-last, e.g. 1-8")
    parser.add_argument("--count", type=int, help="this many machines from a random seed")
    parser.add_argument("--uninst-sim", required=True, help="uninst-sim of the host build")
    parser.add_argument("--program", required=True, help="the Windows program to start")
    parser.add_argument("--responder", required=True)
    parser.add_argument("--work-dir", required=True, help="parent of each machine's directory")
    args = parser.parse_args()
    if args.seeds:
        seeds = parse_seeds(args.seeds)
    elif args.count:
        first = random.SystemRandom().randrange(1, 2**31)
        print("%s: seeds %d-%d" % (NAME, first, first + args.count - 1), flush=True)
        seeds = range(first, first + args.count)
    else:
        parser.error("give --seeds or --count")
    if demo_agreement.uninst_sim_missing(NAME, args.uninst_sim):
        return 2
    # Wine reaches the machine through its Z: drive: only by a full path.
    args.work_dir = os.path.abspath(args.work_dir)
    os.makedirs(args.work_dir, exist_ok=True)

    disagreeing = 0
    for seed in seeds:
        differences = run_seed(args, seed)
        for line in differences:
            print("%s: seed %d: %s" % (NAME, seed, line), flush=True)
        disagreeing += bool(differences)
    print("%s: %d machines, %d agree, %d disagree" %
          (NAME, len(seeds), len(seeds) - disagreeing, disagreeing))
    return 1 if disagreeing else 0


if __name__ == "__main__":
    sys.exit(main())
