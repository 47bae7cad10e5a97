#!/usr/bin/env python3
"""Checks the built UNINST.EXE: file format, imports and resources.

usage: check_program.py UNINST.EXE Messages.def imports.allow [MAX-BYTES]
       check_program.py --changed-load-fields UNINST.EXE

Prints every difference found and exits with 1 when there is one; prints the
file's size either way, and checks it against MAX-BYTES when given. With
--changed-load-fields it checks the check instead: each header field that
decides where and as what the file loads, changed in turn, must be reported.
"""

import os
import struct
import sys

import pefile

ALLOWED_DLLS = {"kernel32.dll", "user32.dll", "advapi32.dll", "version.dll"}
# The editions of each Windows family, oldest first, and the oldest one the
# program must load on: an import first exported later stops it loading there.
FAMILIES = {
    "95 family": (["95", "98", "ME"], "95"),
    "NT family": (["NT3.1", "NT3.5", "NT3.51", "NT4", "2000", "XP", "Vista"], "NT4"),
}
STUB_MARK = "/stub"
# The header fields that decide where and as what the file loads, as the link
# pins them: Windows 4.0 (95 and NT 4.0), the usual base of a program, pages.
LOAD_FIELDS = [
    ("MajorOperatingSystemVersion", 4),
    ("MinorOperatingSystemVersion", 0),
    ("MajorSubsystemVersion", 4),
    ("MinorSubsystemVersion", 0),
    ("ImageBase", 0x400000),
    ("SectionAlignment", 0x1000),
]
JAPANESE = 0x0411
CATALOGUE_BLOCKS = {1, 2, 4, 5}
ICON_GROUP = 128
# (width, height, resource ID) of the icon images, in directory order.
ICON_IMAGES = [(32, 32, 1), (16, 16, 2)]
VERSION_STRINGS = {
    "FileVersion": "1, 0, 0, 4",
    "ProductVersion": "1, 0, 0, 4",
    "InternalName": "UNINSTALL",
    "OriginalFilename": "UNINST.EXE",
}
# Free to choose, but they must be there and not empty.
VERSION_OWN_KEYS = ["CompanyName", "FileDescription", "ProductName", "LegalCopyright"]
VERSION_FIXED = {
    "FileVersionMS": 0x00010000,
    "FileVersionLS": 0x00000004,
    "ProductVersionMS": 0x00010000,
    "ProductVersionLS": 0x00000004,
    "FileFlagsMask": 0x3F,
    "FileFlags": 0,
    "FileOS": 4,
    "FileType": 1,
    "FileSubtype": 0,
    "FileDateMS": 0,
    "FileDateLS": 0,
}


def read_allow_list(path, errors):
    """{dll!function, lower case: [first edition of each family]}; a function
    that the 95 family only stubs counts as exported there."""
    allowed = {}
    with open(path, encoding="ascii") as source:
        for number, line in enumerate(source, 1):
            fields = line.split()
            if not fields or fields[0].startswith("#"):
                continue
            editions = [field[:-len(STUB_MARK)] if field.endswith(STUB_MARK) else field
                        for field in fields[1:]]
            known = len(editions) == len(FAMILIES) and all(
                edition in order for edition, (order, _) in zip(editions, FAMILIES.values()))
            if not known:
                errors.append("%s:%d: expected DLL!Function and the first edition of the %s, "
                              "got %r" % (path, number, " and ".join(FAMILIES), line.strip()))
                continue
            allowed[fields[0].lower()] = editions
    return allowed


def check_format(pe, errors):
    if pe.FILE_HEADER.Machine != pefile.MACHINE_TYPE["IMAGE_FILE_MACHINE_I386"]:
        errors.append("machine is 0x%x, not i386" % pe.FILE_HEADER.Machine)
    if pe.OPTIONAL_HEADER.Magic != pefile.OPTIONAL_HEADER_MAGIC_PE:
        errors.append("not a PE32 file (optional header magic 0x%x)" % pe.OPTIONAL_HEADER.Magic)
    gui = pefile.SUBSYSTEM_TYPE["IMAGE_SUBSYSTEM_WINDOWS_GUI"]
    if pe.OPTIONAL_HEADER.Subsystem != gui:
        errors.append("subsystem is %d, not Windows GUI" % pe.OPTIONAL_HEADER.Subsystem)
    for field, expected in LOAD_FIELDS:
        actual = getattr(pe.OPTIONAL_HEADER, field)
        if actual != expected:
            errors.append("%s is 0x%x, not 0x%x" % (field, actual, expected))


def check_changed_load_fields(program):
    """1 unless check_format reports each load field changed in turn."""
    missed = []
    for field, expected in LOAD_FIELDS:
        for changed in (expected + 1, 0 if expected else 5):
            pe = pefile.PE(program)
            setattr(pe.OPTIONAL_HEADER, field, changed)
            errors = []
            check_format(pe, errors)
            if not any(error.startswith(field + " ") for error in errors):
                missed.append("%s = 0x%x" % (field, changed))
    for change in missed:
        print("FAIL: the check passes a file with " + change)
    return 1 if missed else 0


def list_imports(pe):
    """Every import as (dll, function name or '#ordinal')."""
    imports = []
    for kind in ("DIRECTORY_ENTRY_IMPORT", "DIRECTORY_ENTRY_DELAY_IMPORT"):
        for entry in getattr(pe, kind, []):
            dll = entry.dll.decode("ascii")
            for symbol in entry.imports:
                name = symbol.name.decode("ascii") if symbol.name else "#%d" % symbol.ordinal
                imports.append((dll, name))
    return imports


def check_imports(imports, allowed, errors):
    for dll in sorted({dll for dll, _ in imports}):
        if dll.lower() not in ALLOWED_DLLS:
            errors.append("imports from %s, which is not one of %s" % (dll, sorted(ALLOWED_DLLS)))
    for dll, name in imports:
        editions = allowed.get(("%s!%s" % (dll, name)).lower())
        if editions is None:
            errors.append("import %s!%s is not on the allow-list" % (dll, name))
            continue
        for edition, (family, (order, oldest)) in zip(editions, FAMILIES.items()):
            if order.index(edition) > order.index(oldest):
                errors.append("import %s!%s first appears in %s, later than %s, the oldest "
                              "edition of the %s the program loads on: look it up at run time" %
                              (dll, name, edition, oldest, family))


def find_resources(pe, type_id):
    """{resource ID: {language: data}} of one resource type."""
    found = {}
    if not hasattr(pe, "DIRECTORY_ENTRY_RESOURCE"):
        return found
    for resource_type in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        if resource_type.id != type_id:
            continue
        for resource in resource_type.directory.entries:
            languages = found.setdefault(resource.id, {})
            for language in resource.directory.entries:
                data = language.data.struct
                languages[language.id] = pe.get_data(data.OffsetToData, data.Size)
    return found


def decode_string_block(data):
    """The 16 texts of one string-table block."""
    texts = []
    offset = 0
    for _ in range(16):
        (length,) = struct.unpack_from("<H", data, offset)
        offset += 2
        texts.append(data[offset:offset + 2 * length].decode("utf-16-le"))
        offset += 2 * length
    return texts


def expected_strings(catalogue, english_base):
    expected = {}
    for number, (japanese, english) in catalogue.items():
        expected[number] = japanese
        expected[english_base + number] = english
    return expected


def check_string_table(pe, catalogue, english_base, errors):
    blocks = find_resources(pe, pefile.RESOURCE_TYPE["RT_STRING"])
    if set(blocks) != CATALOGUE_BLOCKS:
        errors.append("string table blocks are %s, expected %s" % (sorted(blocks),
                                                                   sorted(CATALOGUE_BLOCKS)))
    expected = expected_strings(catalogue, english_base)
    for block, languages in sorted(blocks.items()):
        if set(languages) != {JAPANESE}:
            errors.append("string block %d has languages %s, expected only 0x%04x" %
                          (block, [hex(language) for language in languages], JAPANESE))
        if JAPANESE not in languages:
            continue
        for index, text in enumerate(decode_string_block(languages[JAPANESE])):
            string_id = 16 * (block - 1) + index
            want = expected.get(string_id, "")
            if text != want:
                errors.append("string ID %d is %r, expected %r" % (string_id, text, want))
    missing = sorted(i for i in expected if (i // 16 + 1) not in blocks)
    if missing:
        errors.append("string IDs %s are missing" % missing)


def check_icon(pe, errors):
    groups = find_resources(pe, pefile.RESOURCE_TYPE["RT_GROUP_ICON"])
    if list(groups) != [ICON_GROUP]:
        errors.append("icon groups are %s, expected only %d" % (list(groups), ICON_GROUP))
        return
    data = next(iter(groups[ICON_GROUP].values()))
    _, kind, count = struct.unpack_from("<HHH", data, 0)
    entries = [struct.unpack_from("<BBBBHHIH", data, 6 + 14 * i) for i in range(count)]
    found = [(width or 256, height or 256, icon_id) for width, height, _, _, _, _, _, icon_id
             in entries]
    if kind != 1 or found != ICON_IMAGES:
        errors.append("icon group %d holds %s, expected %s" % (ICON_GROUP, found, ICON_IMAGES))
    images = find_resources(pe, pefile.RESOURCE_TYPE["RT_ICON"])
    for width, height, _, _, planes, bits, _, icon_id in entries:
        if (planes, bits) != (1, 4):
            errors.append("icon %d is listed with %d planes and %d bits" % (icon_id, planes, bits))
        if icon_id not in images:
            errors.append("icon %d is missing" % icon_id)
            continue
        image = next(iter(images[icon_id].values()))
        _, image_width, image_height, image_planes, image_bits = struct.unpack_from("<IiiHH",
                                                                                    image, 0)
        # The bitmap height counts the colour bits and the AND mask.
        if (image_width, image_height, image_planes, image_bits) != (width, 2 * height, 1, 4):
            errors.append("icon %d is %dx%d with %d planes and %d bits, expected %dx%d at 4 bits" %
                          (icon_id, image_width, image_height // 2, image_planes, image_bits,
                           width, height))


def decode_version_strings(pe):
    """{string table language: {key: value}} and the Translation entries."""
    tables = {}
    translations = []
    for info in getattr(pe, "FileInfo", []):
        for block in info:
            for table in getattr(block, "StringTable", []):
                tables[table.LangID.decode("ascii").lower()] = {
                    key.decode("utf-8"): value.decode("utf-8")
                    for key, value in table.entries.items()
                }
            for var in getattr(block, "Var", []):
                translations += [value for key, value in var.entry.items()
                                 if key in (b"Translation", "Translation")]
    return tables, translations


def check_version(pe, errors):
    fixed_list = getattr(pe, "VS_FIXEDFILEINFO", [])
    if not fixed_list:
        errors.append("no version resource")
        return
    fixed = fixed_list[0]
    for field, want in VERSION_FIXED.items():
        if getattr(fixed, field) != want:
            errors.append("version %s is 0x%x, expected 0x%x" % (field, getattr(fixed, field),
                                                                 want))
    tables, translations = decode_version_strings(pe)
    if list(tables) != ["041104b0"]:
        errors.append("version string blocks are %s, expected only 041104b0" % list(tables))
    strings = tables.get("041104b0", {})
    for key, want in VERSION_STRINGS.items():
        if strings.get(key) != want:
            errors.append("version %s is %r, expected %r" % (key, strings.get(key), want))
    for key in VERSION_OWN_KEYS:
        if not strings.get(key):
            errors.append("version %s is missing or empty" % key)
    if translations != ["0x0411 0x04b0"]:
        errors.append("version Translation is %s, expected 0x0411 with 1200" % translations)


def main(argv):
    if len(argv) == 3 and argv[1] == "--changed-load-fields":
        return check_changed_load_fields(argv[2])
    if len(argv) not in (4, 5):
        sys.stderr.write(__doc__)
        return 2
    program, catalogue_path, allow_path = argv[1:4]
    sys.path.insert(0, os.path.dirname(os.path.abspath(catalogue_path)))
    import make_rc  # the one reader of the catalogue, next to it

    pe = pefile.PE(program)
    errors = []
    check_format(pe, errors)
    check_imports(list_imports(pe), read_allow_list(allow_path, errors), errors)
    check_string_table(pe, make_rc.read_catalogue(catalogue_path), make_rc.ENGLISH_BASE, errors)
    check_icon(pe, errors)
    check_version(pe, errors)
    size = os.path.getsize(program)
    print("%s: %d bytes" % (program, size))
    if len(argv) == 5 and size > int(argv[4]):
        errors.append("the file has %d bytes, more than %s" % (size, argv[4]))
    for error in errors:
        print("FAIL: " + error)
    return 1 if errors else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
