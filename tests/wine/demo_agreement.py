#!/usr/bin/env python3
"""Checks that a machine folder ends the same under uninst-sim and under Wine.

The machine folder (registry.reg, drive_c/, machine.ini) is run twice with the
same switches and answers: once by uninst-sim on a copy of the folder, once by
the real program in a copy of the Wine base prefix seeded with the folder's
registry, files, attributes and times. The two results must agree key for
key, value for value, file for file and box for box; every difference is
printed and the exit status is 0 only when there is none.

Needs WINEPREFIX (the base prefix) and DISPLAY, as wine-env.sh exports them.
"""

import argparse
import configparser
import hashlib
import json
import ntpath
import os
import re
import shutil
import subprocess
import sys
import tempfile

import jsonschema

import run_scenario as runner

NAME = "demo-agreement"
SWITCHES = "/E"
ANSWERS = ("yes", "no")
LOCALE_OF_CODE_PAGE = {"932": "ja"}
SIM_TIMEOUT_S = 120
# uninst-sim's statuses of a run that ended normally: it removed something,
# or nothing.
SIM_RAN = (0, 3)
REPORT_SCHEMA = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools",
                             "uninst-sim", "report.schema.json")
# Types that hold text: a REGEDIT4 file writes their hex bytes in the ANSI
# code page, a version 5 export in UTF-16.
TEXT_TYPES = {1: "REG_SZ", 2: "REG_EXPAND_SZ", 7: "REG_MULTI_SZ"}
OTHER_TYPES = {0: "REG_NONE", 3: "REG_BINARY", 4: "REG_DWORD"}
STATUS_FLAGS = ("readonly", "hidden", "system")

# ---------------------------------------------------------------- registry


def typed_value(data, wide, encoding):
    """(type name, data) of one value's text in a .reg file."""
    if data.startswith('"'):
        return "REG_SZ", runner.parse_reg_string(data, 0)[0]
    if data.startswith("dword:"):
        return "REG_DWORD", int(data[len("dword:"):], 16)
    match = re.fullmatch(r"hex(?:\(([0-9a-fA-F]+)\))?:(.*)", data)
    if not match:
        raise runner.ScenarioError("value data not understood: %s" % data)
    kind = int(match.group(1), 16) if match.group(1) else 3
    raw = bytes(int(byte, 16) for byte in match.group(2).split(",") if byte.strip())
    if kind in TEXT_TYPES:
        return TEXT_TYPES[kind], raw.decode("utf-16-le" if wide else encoding)
    return OTHER_TYPES.get(kind, "type %d" % kind), raw.hex(",")


def parse_typed_reg(text, encoding="cp1252"):
    """Maps each key of a .reg text (lower case) to its spelling and values:
    {key: (spelling, {lower-case name: (spelling, type, data)})}. A REGEDIT4
    text's hex data of text types is in the given ANSI code page."""
    wide = not text.lstrip("\ufeff").startswith("REGEDIT4")
    keys = {}
    for key, name, data in runner.read_reg_entries(text):
        _, values = keys.setdefault(key.lower(), (key, {}))
        if name is not None:
            values[name.lower()] = (name, ) + typed_value(data, wide, encoding)
    return keys


def read_reg_file(path, encoding):
    with open(path, "rb") as handle:
        raw = handle.read()
    if raw.startswith(b"\xff\xfe"):
        return parse_typed_reg(raw.decode("utf-16"), encoding)
    return parse_typed_reg(raw.decode(encoding), encoding)


def ancestors(key):
    """The key's ancestors below the root hive, nearest last."""
    parts = key.split("\\")
    return ["\\".join(parts[:n]) for n in range(2, len(parts))]


def is_below(key, roots):
    return any(key.startswith(root + "\\") for root in roots)


def demo_keys_of(side, demo_keys, implied):
    """The part of one side's registry that stems from the demo: its keys and
    what lies below them, and the keys implied as their ancestors. A key's
    ancestors are keys too, whether or not the side's .reg text gives them a
    line of their own."""
    keys = dict(side)
    for spelling, _ in side.values():
        for ancestor in ancestors(spelling):
            keys.setdefault(ancestor.lower(), (ancestor, {}))
    return {
        key: entry
        for key, entry in keys.items()
        if key in demo_keys or key in implied or is_below(key, demo_keys)
    }


def show_value(entry):
    name, kind, data = entry
    return "[%s] %s %s" % (name or "@", kind, json.dumps(data, ensure_ascii=False))


def compare_registry(demo, sim, wine):
    """Keys are compared wherever the demo made one; values only where the
    demo gave the key itself, as Wine keeps values of its own in the shared
    ancestors (Software\\Microsoft...)."""
    implied = {a for key in demo for a in ancestors(key)} - set(demo)
    sim = demo_keys_of(sim, demo, implied)
    wine = demo_keys_of(wine, demo, implied)
    differences = []
    for key in sorted(sim.keys() - wine.keys()):
        differences.append("key only under uninst-sim: %s" % sim[key][0])
    for key in sorted(wine.keys() - sim.keys()):
        differences.append("key only under Wine: %s" % wine[key][0])
    for key in sorted(sim.keys() & wine.keys() - implied):
        spelling, sim_values = sim[key]
        wine_values = wine[key][1]
        for name in sorted(sim_values.keys() | wine_values.keys()):
            ours, theirs = sim_values.get(name), wine_values.get(name)
            if ours is None:
                differences.append("value only under Wine: %s %s" %
                                   (spelling, show_value(theirs)))
            elif theirs is None:
                differences.append("value only under uninst-sim: %s %s" %
                                   (spelling, show_value(ours)))
            elif ours[1:] != theirs[1:]:
                differences.append("value differs: %s uninst-sim %s, Wine %s" %
                                   (spelling, show_value(ours), show_value(theirs)))
    return differences


# ---------------------------------------------------------------- files


def windows_path(drive_c, host_path):
    return "C:\\" + os.path.relpath(host_path, drive_c).replace(os.sep, "\\")


def dos_attributes(path):
    try:
        text = os.getxattr(path, "user.DOSATTRIB").split(b"\0")[0].decode("ascii")
    except OSError:
        return 0
    match = re.match(r"0x([0-9a-fA-F]+)", text)
    return int(match.group(1), 16) if match else 0


def file_facts(path):
    """What must match between the two sides for a file that remains."""
    status = os.stat(path)
    with open(path, "rb") as handle:
        digest = hashlib.sha256(handle.read()).hexdigest()
    attributes = dos_attributes(path)
    return {
        "size": status.st_size,
        "sha256": digest,
        "mtime": int(status.st_mtime),
        "readonly": not status.st_mode & 0o222,
        "hidden": bool(attributes & runner.FILE_ATTRIBUTE_HIDDEN),
        "system": bool(attributes & runner.FILE_ATTRIBUTE_SYSTEM),
    }


def list_machine_files(drive_c):
    """{lower-case Windows path: (spelling, host path)} of every file below drive_c."""
    files = {}
    for directory, _, names in os.walk(drive_c):
        for name in names:
            path = os.path.join(directory, name)
            spelling = windows_path(drive_c, path)
            files[spelling.lower()] = (spelling, path)
    return files


def list_directories(drive_c, directories):
    """Like list_machine_files, for the files right inside the given
    directories (Windows paths, resolved without regard to case)."""
    files = {}
    for directory in directories:
        host_dir = runner.resolve_path(drive_c, directory)
        if not os.path.isdir(host_dir):
            continue
        for name in os.listdir(host_dir):
            path = os.path.join(host_dir, name)
            if os.path.isfile(path):
                spelling = windows_path(drive_c, path)
                files[spelling.lower()] = (spelling, path)
    return files


def compare_files(sim, wine):
    differences = []
    for path in sorted(sim.keys() - wine.keys()):
        differences.append("file only under uninst-sim: %s" % sim[path][0])
    for path in sorted(wine.keys() - sim.keys()):
        differences.append("file only under Wine: %s" % wine[path][0])
    for path in sorted(sim.keys() & wine.keys()):
        ours, theirs = file_facts(sim[path][1]), file_facts(wine[path][1])
        for fact in ours:
            if ours[fact] != theirs[fact]:
                differences.append("file %s %s: uninst-sim %s, Wine %s" %
                                   (sim[path][0], fact, ours[fact], theirs[fact]))
    return differences


# ---------------------------------------------------------------- boxes


def normal_box(box):
    return {
        "caption": box.get("caption"),
        "text": box.get("text"),
        "buttons": [button.lower() for button in box.get("buttons", [])],
        "icon": box.get("icon"),
        "answer": (box.get("answer") or "").lower(),
    }


def compare_boxes(sim_boxes, wine_records):
    sim = [normal_box(box) for box in sim_boxes]
    wine = [normal_box(r) for r in wine_records if r.get("event") == "box"]
    differences = []
    for n, (ours, theirs) in enumerate(zip(sim, wine), start=1):
        for field in runner.BOX_FIELDS:
            if ours[field] != theirs[field]:
                differences.append("box %d %s: uninst-sim %s, Wine %s" % (
                    n, field, json.dumps(ours[field], ensure_ascii=False),
                    json.dumps(theirs[field], ensure_ascii=False)))
    for n in range(len(wine) + 1, len(sim) + 1):
        differences.append("box %d only under uninst-sim: %s" %
                           (n, json.dumps(sim[n - 1], ensure_ascii=False)))
    for n in range(len(sim) + 1, len(wine) + 1):
        differences.append("box %d only under Wine: %s" %
                           (n, json.dumps(wine[n - 1], ensure_ascii=False)))
    return differences


def compare_restart(report, records):
    wine_restart = any(r.get("event") == "end-session" for r in records)
    if report.get("restartRequested") == wine_restart:
        return []
    return ["restart requested: uninst-sim %s, Wine %s" %
            (report.get("restartRequested"), wine_restart)]


# ---------------------------------------------------------------- the two runs


class Machine:
    """The machine folder: its registry, its files and their status."""

    def __init__(self, folder):
        self.folder = folder
        self.locale = machine_locale(os.path.join(folder, "machine.ini"))
        self.registry_path = os.path.join(folder, "registry.reg")
        self.registry = read_reg_file(self.registry_path, runner.SEED_ENCODINGS[self.locale])
        self.files = list_machine_files(os.path.join(folder, "drive_c"))
        self.status = read_file_status(os.path.join(folder, "machine.ini"))

    def directories(self):
        return sorted({ntpath.dirname(spelling) for spelling, _ in self.files.values()})


def read_file_status(ini_path):
    """{upper-case Windows path: entry} from the [files] section of
    machine.ini, in the entry form of the scenario runner."""
    ini = configparser.ConfigParser(delimiters=("=", ), comment_prefixes=(";", "#"),
                                    interpolation=None)
    ini.optionxform = str
    if os.path.exists(ini_path):
        ini.read(ini_path, encoding="utf-8")
    status = {}
    if not ini.has_section("files"):
        return status
    for path, text in ini.items("files"):
        entry = {}
        for token in text.split():
            if token.lower() in STATUS_FLAGS:
                entry[token.lower()] = True
            else:
                entry["mtime"] = token.rstrip("Zz")
        status[path.upper()] = entry
    return status


def behave_as_nt(ini_path):
    """Wine behaves as the NT family, whatever family the machine folder
    names: the simulated copy is made to behave so too."""
    if not os.path.exists(ini_path):
        return
    with open(ini_path, encoding="utf-8") as handle:
        text = handle.read()
    text = re.sub(r"(?im)^[ \t]*windows[ \t]*=.*$", "windows = nt", text)
    with open(ini_path, "w", encoding="utf-8") as handle:
        handle.write(text)


def machine_locale(ini_path):
    """The Wine locale whose ANSI code page is the machine's."""
    if not os.path.exists(ini_path):
        return "en"
    with open(ini_path, encoding="utf-8") as handle:
        match = re.search(r"(?im)^[ \t]*ansi_code_page[ \t]*=[ \t]*(\d+)", handle.read())
    return LOCALE_OF_CODE_PAGE.get(match.group(1), "en") if match else "en"


def load_report(path):
    """The report uninst-sim wrote, which must match its shipped schema."""
    with open(path, encoding="utf-8") as handle:
        report = json.load(handle)
    with open(REPORT_SCHEMA, encoding="utf-8") as handle:
        schema = json.load(handle)
    try:
        jsonschema.validate(report, schema, cls=jsonschema.Draft202012Validator)
    except jsonschema.ValidationError as error:
        raise runner.ScenarioError("%s does not match the report schema: %s" %
                                   (path, error.message))
    return report


def run_sim(machine, uninst_sim, work_dir, switches, answers):
    """Runs uninst-sim on a copy of the machine; returns the copy's registry,
    its files and the report."""
    folder = os.path.join(work_dir, "sim-machine")
    shutil.copytree(machine.folder, folder)
    behave_as_nt(os.path.join(folder, "machine.ini"))
    report_path = os.path.join(work_dir, "sim-report.json")
    with open(os.path.join(work_dir, "sim-output.txt"), "wb") as output:
        status = subprocess.run(
            [uninst_sim, "--machine", folder, "--answers", ",".join(answers),
             "--report", report_path, "--"] + switches.split(),
            stdin=subprocess.DEVNULL, stdout=output, stderr=subprocess.STDOUT,
            timeout=SIM_TIMEOUT_S).returncode
    if status not in SIM_RAN:
        raise runner.ScenarioError("uninst-sim ended with status %d, see sim-output.txt" % status)
    report = load_report(report_path)
    after = Machine(folder)
    return after.registry, after.files, report


def seed_files(prefix, machine):
    for key, (spelling, source) in sorted(machine.files.items()):
        target = runner.free_target(prefix.drive_c, spelling)
        shutil.copy2(source, target)
        runner.apply_file_status(target, machine.status.get(key.upper(), {}))


def run_wine(machine, args, work_dir, switches, answers):
    """Runs the program in a prefix seeded with the machine; returns the
    registry below the demo's branches, the demo's files and what the
    responder recorded."""
    base = os.environ.get("WINEPREFIX")
    if not base or not os.environ.get("DISPLAY"):
        raise runner.ScenarioError(
            "WINEPREFIX and DISPLAY are not set: run under tests/wine/wine-env.sh")
    prefix_dir = os.path.join(work_dir, "prefix")
    with runner.WinePrefix(base, prefix_dir, machine.locale,
                           os.path.join(work_dir, "wine.log")) as prefix:
        seed_files(prefix, machine)
        runner.import_registry(prefix, machine.registry_path)
        scenario = {
            "command_line": "%s %s" % (runner.DEFAULT_PROGRAM, switches),
            "answers": answers,
            "expect": {},
        }
        records = runner.run_program(prefix, scenario, work_dir, args.program, args.responder)
        branches = sorted({
            "\\".join(spelling.split("\\")[:2]) for spelling, _ in machine.registry.values()})
        registry = runner.export_registry(prefix, work_dir, branches, parse_typed_reg)
        # Only the demo's files are compared: the program never makes a file,
        # while Wine makes files of its own in the same directories whenever
        # it sets up a device (inf\*.pnf), also during the run.
        files = list_directories(prefix.drive_c, machine.directories())
        files = {path: entry for path, entry in files.items() if path in machine.files}
    return registry, files, records


def check_agreement(args, folder, work_dir, switches=SWITCHES, answers=ANSWERS):
    """Every difference between the two runs of the machine folder; args
    names uninst-sim, the program and the responder."""
    machine = Machine(folder)
    sim_registry, sim_files, report = run_sim(machine, args.uninst_sim, work_dir, switches,
                                              answers)
    wine_registry, wine_files, records = run_wine(machine, args, work_dir, switches, answers)
    differences = runner.compare_end({}, records)
    differences += compare_boxes(report.get("messageBoxes", []), records)
    differences += compare_restart(report, records)
    differences += compare_registry(machine.registry, sim_registry, wine_registry)
    differences += compare_files(sim_files, wine_files)
    return differences


def uninst_sim_missing(name, path):
    """Says so, and is true, when uninst-sim cannot be run from path."""
    if os.access(path, os.X_OK):
        return False
    print("%s: cannot run: uninst-sim not found at %s: build the host preset first "
          "(cmake --preset host && cmake --build --preset host)" % (name, path))
    return True


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--machine", required=True, help="the machine folder")
    parser.add_argument("--uninst-sim", required=True, help="uninst-sim of the host build")
    parser.add_argument("--program", required=True, help="the Windows program to start")
    parser.add_argument("--responder", required=True)
    parser.add_argument("--work-dir", required=True, help="parent of this run's directory")
    args = parser.parse_args()
    if uninst_sim_missing(NAME, args.uninst_sim):
        return 2

    os.makedirs(args.work_dir, exist_ok=True)
    work_dir = tempfile.mkdtemp(prefix=NAME + ".", dir=args.work_dir)
    try:
        differences = check_agreement(args, args.machine, work_dir)
    except (runner.ScenarioError, OSError, ValueError, KeyError,
            subprocess.TimeoutExpired) as error:
        print("%s: cannot run: %s" % (NAME, error))
        print("kept for inspection: %s" % work_dir)
        return 2
    for line in differences:
        print("%s: %s" % (NAME, line))
    if differences:
        print("kept for inspection: %s" % work_dir)
        return 1
    shutil.rmtree(work_dir, ignore_errors=True)
    print("%s: passed" % NAME)
    return 0


if __name__ == "__main__":
    sys.exit(main())
