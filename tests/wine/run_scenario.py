#!/usr/bin/env python3
"""Runs one end-to-end scenario of the Windows program under Wine.

A scenario is a JSON file (see tests/wine/README.md). The runner copies the
base prefix that wine-env.sh made, seeds the registry and the files, starts
the program through the responder with the scenario's exact command line and
answers, then compares the boxes, the registry and the files with what the
scenario expects. Every difference is printed; the exit status is 0 only when
there is none.

Needs WINEPREFIX (the base prefix) and DISPLAY, as wine-env.sh exports them.
"""

import argparse
import codecs
import json
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile

WINE_TIMEOUT_S = 60
# Wine's loader: wine-env.sh names the 64-bit one for a 64-bit prefix.
WINE = os.environ.get("UNINST_WINE", "wine")
RESPONDER_BOX_TIMEOUT_MS = 20000
# How long the responder stays after the program ended, to see Windows end.
RESPONDER_LINGER_MS = 5000
LOCALES = {"en": "en_US.UTF-8", "ja": "ja_JP.UTF-8"}
# The ANSI code page of each locale, in which regedit reads a REGEDIT4 file.
SEED_ENCODINGS = {"en": "cp1252", "ja": "cp932"}
DEFAULT_PROGRAM = "C:\\CORRINDO\\UNINST.EXE"
ROOT_NAMES = {"HKLM": "HKEY_LOCAL_MACHINE", "HKCU": "HKEY_CURRENT_USER"}
# VS_FIXEDFILEINFO starts with this signature, then the structure version and
# the four version words.
FIXED_INFO_SIGNATURE = struct.pack("<I", 0xFEEF04BD)
FILE_ATTRIBUTE_HIDDEN = 0x2
FILE_ATTRIBUTE_SYSTEM = 0x4


class ScenarioError(Exception):
    """The scenario cannot be set up or run at all."""


# ---------------------------------------------------------------- scenario


def load_scenario(path):
    """Reads a scenario and merges the fragments it includes, in order."""
    with open(path, encoding="utf-8") as handle:
        scenario = json.load(handle)
    merged = {"registry": {}, "files": [], "expect": {}}
    base_dir = os.path.dirname(path)
    for name in scenario.get("include", []):
        merge_fragment(merged, load_scenario(os.path.join(base_dir, name)))
    merge_fragment(merged, scenario)
    return merged


def merge_fragment(merged, fragment):
    for key, value in fragment.items():
        if key == "registry":
            for reg_key, values in value.items():
                merged["registry"].setdefault(reg_key, {}).update(values)
        elif key == "files":
            merged["files"].extend(value)
        elif key == "expect":
            for what, items in value.items():
                if isinstance(items, list) and what != "boxes":
                    merged["expect"].setdefault(what, []).extend(items)
                else:
                    merged["expect"][what] = items
        elif key != "include":
            merged[key] = value


# ---------------------------------------------------------------- registry


def full_key_name(name):
    root, _, rest = name.partition("\\")
    root = ROOT_NAMES.get(root.upper(), root.upper())
    return root + ("\\" + rest if rest else "")


def below_local_machine(name):
    """A HKLM\\ key name as a path below HKEY_LOCAL_MACHINE."""
    root, _, rest = name.partition("\\")
    if full_key_name(root) != "HKEY_LOCAL_MACHINE":
        raise ScenarioError("a link must lie below HKLM: %s" % name)
    return rest


def reg_quote(text):
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'


def reg_value_line(name, value):
    """One value line of a REGEDIT4 file. A string is REG_SZ; {"dword": n}
    and {"hex": "01,02"} give the other types."""
    left = "@" if name == "" else reg_quote(name)
    if isinstance(value, str):
        return left + "=" + reg_quote(value)
    if "dword" in value:
        return left + "=dword:%08x" % value["dword"]
    if "hex" in value:
        return left + "=hex:" + value["hex"]
    raise ScenarioError("unknown registry value %r" % (value,))


def regedit4_text(registry):
    lines = ["REGEDIT4", ""]
    for key, values in registry.items():
        lines.append("[" + full_key_name(key) + "]")
        lines.extend(reg_value_line(name, value) for name, value in values.items())
        lines.append("")
    return "\r\n".join(lines) + "\r\n"


def seed_bytes(registry, locale):
    """The seed .reg file: REGEDIT4 in the locale's ANSI code page, or, for
    names that code page cannot hold, the Unicode form regedit also reads."""
    text = regedit4_text(registry)
    try:
        return text.encode(SEED_ENCODINGS[locale])
    except UnicodeEncodeError:
        unicode_text = text.replace("REGEDIT4", "Windows Registry Editor Version 5.00", 1)
        return codecs.BOM_UTF16_LE + unicode_text.encode("utf-16-le")


def parse_reg_string(text, start):
    """Reads a quoted .reg string from text[start]; returns (value, end)."""
    out = []
    i = start + 1
    while i < len(text):
        c = text[i]
        if c == "\\" and i + 1 < len(text):
            out.append(text[i + 1])
            i += 2
            continue
        if c == '"':
            return "".join(out), i + 1
        out.append(c)
        i += 1
    return "".join(out), i


def read_reg_entries(text):
    """Yields (key, None, None) for each key of a .reg text and (key, name,
    data) for each of its values, data being the text after '=' with its
    continued lines joined."""
    key = None
    pending = ""
    for raw_line in text.splitlines():
        line = pending + raw_line.strip()
        if line.endswith("\\") and not line.startswith("["):
            pending = line[:-1]
            continue
        pending = ""
        if line.startswith("[") and line.endswith("]"):
            key = line[1:-1]
            yield key, None, None
        elif key is not None and line.startswith(('"', "@")):
            if line.startswith("@"):
                name, end = "", 1
            else:
                name, end = parse_reg_string(line, 0)
            yield key, name, line[end + 1:]


def parse_reg_export(text):
    """Maps each key (lower case) of a regedit export to its values
    (lower-case name -> string data, or the raw text for other types)."""
    keys = {}
    for key, name, data in read_reg_entries(text):
        values = keys.setdefault(key.lower(), {})
        if name is not None:
            if data.startswith('"'):
                data, _ = parse_reg_string(data, 0)
            values[name.lower()] = data
    return keys


# ---------------------------------------------------------------- files


def resolve_path(drive_c, windows_path, create_dirs=False):
    """Maps a path below C: onto the prefix, matching each part without regard
    to letter case as Wine does. Missing parts keep the scenario's spelling."""
    parts = [p for p in re.split(r"[\\/]", windows_path) if p]
    if not parts or parts[0].upper() != "C:":
        raise ScenarioError("path is not below C: %s" % windows_path)
    current = drive_c
    for index, part in enumerate(parts[1:]):
        match = None
        if os.path.isdir(current):
            for entry in os.listdir(current):
                if entry.lower() == part.lower():
                    match = entry
                    break
        current = os.path.join(current, match or part)
        is_last = index == len(parts) - 2
        if create_dirs and not is_last and not os.path.isdir(current):
            os.makedirs(current)
    return current


def versioned_image(stub, version):
    """The stub image with its fixed file and product version set."""
    numbers = [int(n) for n in version.split(".")]
    if len(numbers) != 4 or not all(0 <= n <= 0xFFFF for n in numbers):
        raise ScenarioError("version must be four numbers 0-65535: %s" % version)
    image = bytearray(stub)
    at = image.find(FIXED_INFO_SIGNATURE)
    if at < 0:
        raise ScenarioError("the version stub has no fixed version information")
    most = (numbers[0] << 16) | numbers[1]
    least = (numbers[2] << 16) | numbers[3]
    struct.pack_into("<IIII", image, at + 8, most, least, most, least)
    return bytes(image)


def file_content(entry, stub):
    if "version" in entry:
        content = versioned_image(stub, entry["version"])
    else:
        content = entry.get("content", "").encode("utf-8")
    size = entry.get("size", len(content))
    if size < len(content):
        raise ScenarioError("size %d is below the content of %s" % (size, entry["path"]))
    # Zeros after the image do not disturb its version resource.
    return content + b"\0" * (size - len(content))


def utc_seconds(stamp):
    """'YYYY-MM-DDTHH:MM:SS' in UTC to seconds since 1970."""
    match = re.fullmatch(r"(\d{4})-(\d\d)-(\d\d)T(\d\d):(\d\d):(\d\d)", stamp)
    if not match:
        raise ScenarioError("mtime must look like 1999-03-03T12:00:00: %s" % stamp)
    year, month, day, hour, minute, second = (int(g) for g in match.groups())
    # Days from the civil date (proleptic Gregorian), without a time zone.
    y = year - (month <= 2)
    era = y // 400
    yoe = y - era * 400
    doy = (153 * (month + (-3 if month > 2 else 9)) + 2) // 5 + day - 1
    doe = yoe * 365 + yoe // 4 - yoe // 100 + doy
    days = era * 146097 + doe - 719468
    return days * 86400 + hour * 3600 + minute * 60 + second


def free_target(drive_c, windows_path):
    """The prefix path for a file about to be written, with its directories
    made. The prefix shares its unchanged files with the base prefix by hard
    links: an existing file is unlinked, never written through."""
    target = resolve_path(drive_c, windows_path, create_dirs=True)
    if os.path.lexists(target):
        os.unlink(target)
    return target


def place_file(drive_c, entry, stub):
    target = free_target(drive_c, entry["path"])
    with open(target, "wb") as handle:
        handle.write(file_content(entry, stub))
    apply_file_status(target, entry)


def apply_file_status(target, entry):
    """Gives a placed file the entry's DOS attributes and last-write time."""
    dos_attributes = (FILE_ATTRIBUTE_HIDDEN if entry.get("hidden") else 0) | (
        FILE_ATTRIBUTE_SYSTEM if entry.get("system") else 0)
    if dos_attributes:
        os.setxattr(target, "user.DOSATTRIB", b"0x%x" % dos_attributes)
    if "mtime" in entry:
        seconds = utc_seconds(entry["mtime"])
        os.utime(target, (seconds, seconds))
    if entry.get("readonly"):
        os.chmod(target, 0o444)


# ---------------------------------------------------------------- Wine


def windows_path_of(unix_path):
    return "Z:" + os.path.abspath(unix_path).replace("/", "\\")


def copy_prefix(base, target):
    """Hard-links the base prefix; the registry files, which Wine rewrites,
    are real copies."""
    subprocess.run(["cp", "-al", base, target], check=True, timeout=WINE_TIMEOUT_S)
    for name in os.listdir(base):
        if name.endswith(".reg"):
            os.unlink(os.path.join(target, name))
            shutil.copy2(os.path.join(base, name), os.path.join(target, name))


class WinePrefix:
    """One scenario's own copy of the base prefix; its wineserver is stopped
    when the scenario ends, whatever happened."""

    def __init__(self, base, path, locale, log_path):
        self.path = path
        self.log_path = log_path
        copy_prefix(base, path)
        self.env = dict(os.environ)
        for name in ("LANG", "LANGUAGE") + tuple(k for k in self.env if k.startswith("LC_")):
            self.env.pop(name, None)
        self.env.update({
            "WINEPREFIX": path,
            "WINEARCH": os.environ.get("WINEARCH", "win32"),
            "WINEDEBUG": "-all",
            "LC_ALL": LOCALES[locale],
            "TZ": "UTC",
        })

    @property
    def drive_c(self):
        return os.path.join(self.path, "drive_c")

    def run(self, *args):
        # Output goes to a file, not a pipe: the wineserver that the first call
        # starts inherits it and would hold a pipe open until it exits.
        try:
            with open(self.log_path, "ab") as log:
                return subprocess.run([WINE] + list(args), env=self.env, timeout=WINE_TIMEOUT_S,
                                      stdout=log, stderr=subprocess.STDOUT).returncode
        except subprocess.TimeoutExpired:
            raise ScenarioError("wine %s did not end within %d s" % (args[0], WINE_TIMEOUT_S))

    def stop(self):
        try:
            subprocess.run(["wineserver", "-k"], env=self.env, timeout=WINE_TIMEOUT_S,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        except subprocess.TimeoutExpired:
            pass

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stop()


def read_records(path):
    if not os.path.exists(path):
        return []
    with open(path, encoding="utf-8") as handle:
        return [json.loads(line) for line in handle if line.strip()]


def expected_keys(expect):
    names = list(expect.get("keys_present", [])) + list(expect.get("keys_absent", []))
    names += [value["key"] for value in expect.get("values_present", [])]
    names += [value["key"] for value in expect.get("values_absent", [])]
    return sorted({full_key_name(name).lower() for name in names}, key=len)


def import_registry(prefix, reg_file):
    """Imports a .reg file. The import can be repeated, so a second try covers
    a regedit run that failed for a reason of Wine's own."""
    for _ in range(2):
        if prefix.run("regedit", "/S", windows_path_of(reg_file)) == 0:
            return
    raise ScenarioError("regedit /S could not import %s" % reg_file)


def export_registry(prefix, work_dir, key_names, parse=parse_reg_export):
    """Exports each key that the scenario checks, unless an exported ancestor
    already holds it, and returns every key seen, as `parse` maps an export.

    regedit writes no file for a key it cannot open, and none when it fails
    for a reason of Wine's own. Either way the parent is exported instead, up
    to the branch below the root, which every scenario seeds: a missing key is
    then told by its parent's export, never by a failed regedit run."""
    keys = {}
    exported = []
    for name in key_names:
        while not any(name == root or name.startswith(root + "\\") for root in exported):
            export = os.path.join(work_dir, "export%d.reg" % len(exported))
            # A second try, as for the import: now and then Wine's regedit
            # writes nothing for a key that is there.
            for _ in range(2):
                if not os.path.exists(export):
                    prefix.run("regedit", "/E", windows_path_of(export), name)
            if os.path.exists(export):
                with open(export, "rb") as handle:
                    raw = handle.read()
                text = raw.decode("utf-16") if raw.startswith(b"\xff\xfe") else raw.decode("latin-1")
                keys.update(parse(text))
                exported.append(name)
                break
            parent = name.rpartition("\\")[0]
            if "\\" not in parent:
                raise ScenarioError("regedit could not export %s" % name)
            name = parent
    return keys


def run_program(prefix, scenario, work_dir, program, responder):
    target_program = scenario.get("program", DEFAULT_PROGRAM)
    shutil.copy(program, resolve_path(prefix.drive_c, target_program, create_dirs=True))
    records = os.path.join(work_dir, "records.jsonl")
    control = os.path.join(work_dir, "control.txt")
    with open(control, "w", encoding="utf-8", newline="\n") as handle:
        handle.write("program=%s\n" % target_program)
        handle.write("command=%s\n" % scenario.get("command_line", target_program))
        handle.write("answers=%s\n" % ",".join(scenario.get("answers", [])))
        handle.write("timeout_ms=%d\n" % RESPONDER_BOX_TIMEOUT_MS)
        if scenario["expect"].get("ends_windows"):
            handle.write("linger_ms=%d\n" % RESPONDER_LINGER_MS)
        handle.write("output=%s\n" % windows_path_of(records))
        for link, target in scenario.get("links", {}).items():
            handle.write("link=%s>%s\n" % (below_local_machine(link), below_local_machine(target)))
    prefix.run(responder, windows_path_of(control))
    return read_records(records)


# ---------------------------------------------------------------- comparison


BOX_FIELDS = ("caption", "text", "buttons", "icon", "answer")


def compare_boxes(expected_boxes, records):
    differences = []
    got = [r for r in records if r.get("event") == "box"]
    for n, (want, have) in enumerate(zip(expected_boxes, got), start=1):
        for field in BOX_FIELDS:
            if field in want and want[field] != have.get(field):
                differences.append("box %d %s: expected %s, got %s" % (
                    n, field, json.dumps(want[field], ensure_ascii=False),
                    json.dumps(have.get(field), ensure_ascii=False)))
    for n in range(len(got) + 1, len(expected_boxes) + 1):
        differences.append("box %d missing: expected %s" % (
            n, json.dumps(expected_boxes[n - 1].get("text"), ensure_ascii=False)))
    for n in range(len(expected_boxes) + 1, len(got) + 1):
        differences.append("box %d unexpected: %s" % (
            n, json.dumps(got[n - 1], ensure_ascii=False)))
    return differences


def compare_end(expect, records):
    events = [r.get("event") for r in records]
    if "start" not in events:
        return ["program did not start: %s" % json.dumps(records)]
    if "timeout" in events:
        return ["no box came in time and the program had not ended"]
    exits = [r["code"] for r in records if r.get("event") == "exit"]
    ends_windows = "end-session" in events
    if expect.get("ends_windows"):
        # Ending Windows may end the program, and the responder, before
        # either records an exit.
        if not ends_windows:
            return ["Windows was not asked to end"]
        if exits and exits[0] != 0:
            return ["exit code: expected 0, got %d" % exits[0]]
        return []
    if ends_windows:
        return ["Windows was asked to end"]
    want = expect.get("exit_code", 0)
    if not exits:
        return ["program end not recorded (expected exit code %d)" % want]
    if exits[0] != want:
        return ["exit code: expected %d, got %d" % (want, exits[0])]
    return []


def compare_registry(expect, keys):
    differences = []
    for key in expect.get("keys_present", []):
        if full_key_name(key).lower() not in keys:
            differences.append("key missing: %s" % key)
    for key in expect.get("keys_absent", []):
        if full_key_name(key).lower() in keys:
            differences.append("key present: %s" % key)
    for value in expect.get("values_present", []):
        values = keys.get(full_key_name(value["key"]).lower())
        name = value["name"].lower()
        if values is None or name not in values:
            differences.append("value missing: %s [%s]" % (value["key"], value["name"]))
        elif "data" in value and values[name] != value["data"]:
            differences.append("value %s [%s]: expected %r, got %r" % (
                value["key"], value["name"], value["data"], values[name]))
    for value in expect.get("values_absent", []):
        values = keys.get(full_key_name(value["key"]).lower(), {})
        if value["name"].lower() in values:
            differences.append("value present: %s [%s]" % (value["key"], value["name"]))
    return differences


def compare_files(expect, drive_c):
    differences = []
    for path in expect.get("files_present", []):
        if not os.path.isfile(resolve_path(drive_c, path)):
            differences.append("file missing: %s" % path)
    for path in expect.get("files_absent", []):
        if os.path.lexists(resolve_path(drive_c, path)):
            differences.append("file present: %s" % path)
    return differences


# ---------------------------------------------------------------- main


def run_scenario(scenario, args, work_dir):
    base = os.environ.get("WINEPREFIX")
    if not base or not os.environ.get("DISPLAY"):
        raise ScenarioError("WINEPREFIX and DISPLAY are not set: run under tests/wine/wine-env.sh")
    with open(args.version_stub, "rb") as handle:
        stub = handle.read()
    prefix_dir = os.path.join(work_dir, "prefix")
    log_path = os.path.join(work_dir, "wine.log")
    with WinePrefix(base, prefix_dir, scenario.get("locale", "en"), log_path) as prefix:
        for entry in scenario["files"]:
            place_file(prefix.drive_c, entry, stub)
        if scenario["registry"]:
            seed = os.path.join(work_dir, "seed.reg")
            with open(seed, "wb") as handle:
                handle.write(seed_bytes(scenario["registry"], scenario.get("locale", "en")))
            import_registry(prefix, seed)
        records = run_program(prefix, scenario, work_dir, args.program, args.responder)
        expect = scenario["expect"]
        differences = compare_end(expect, records)
        differences += compare_boxes(expect.get("boxes", []), records)
        keys = export_registry(prefix, work_dir, expected_keys(expect))
        differences += compare_registry(expect, keys)
        differences += compare_files(expect, prefix.drive_c)
    return differences


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("scenario")
    parser.add_argument("--program", required=True, help="the Windows program to start")
    parser.add_argument("--responder", required=True)
    parser.add_argument("--version-stub", required=True)
    parser.add_argument("--work-dir", required=True, help="parent of the scenario's directory")
    args = parser.parse_args()

    name = os.path.splitext(os.path.basename(args.scenario))[0]
    os.makedirs(args.work_dir, exist_ok=True)
    work_dir = tempfile.mkdtemp(prefix=name + ".", dir=args.work_dir)
    try:
        scenario = load_scenario(args.scenario)
        differences = run_scenario(scenario, args, work_dir)
    except (ScenarioError, OSError, ValueError, KeyError) as error:
        print("%s: cannot run: %s" % (name, error))
        print("kept for inspection: %s" % work_dir)
        return 2
    for line in differences:
        print("%s: %s" % (name, line))

    # A scenario that checks the runner itself may expect to be told of a
    # difference: it passes only when a reported difference matches.
    wanted_mismatch = scenario.get("expect_mismatch")
    if wanted_mismatch is not None:
        ok = any(re.search(wanted_mismatch, line) for line in differences)
        if not ok:
            print("%s: expected a difference matching %r" % (name, wanted_mismatch))
    else:
        ok = not differences
    if ok:
        shutil.rmtree(work_dir, ignore_errors=True)
        print("%s: passed" % name)
        return 0
    print("kept for inspection: %s" % work_dir)
    return 1


if __name__ == "__main__":
    sys.exit(main())
