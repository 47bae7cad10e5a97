#!/usr/bin/env python3
"""Writes the string table of the message catalogue as a resource script.

Messages.def holds MESSAGE(n, "ja", "en") entries in UTF-8 with C escapes.
The output is pure ASCII so that every resource compiler reads it alike:
wide strings whose non-ASCII characters are \\xNNNN escapes. Japanese message
n gets ID n and English message n ID base + n, all under the Japanese
resource language; the base is the one Messages.h gives the program.
"""

import os
import re
import sys


def read_english_base():
    """kLanguageBaseEnglish as Messages.h, next to this script, defines it."""
    path = os.path.join(os.path.dirname(os.path.abspath(__file__)), "Messages.h")
    with open(path, encoding="utf-8") as source:
        match = re.search(r"kLanguageBaseEnglish\s*=\s*(\d+)\s*;", source.read())
    if not match:
        raise ValueError("no kLanguageBaseEnglish in %s" % path)
    return int(match.group(1))


ENGLISH_BASE = read_english_base()

_ENTRY = re.compile(r'MESSAGE\(\s*(\d+)\s*,\s*("(?:[^"\\]|\\.)*")\s*,\s*("(?:[^"\\]|\\.)*")\s*\)',
                    re.S)
_ESCAPES = {"n": "\n", "t": "\t", "\\": "\\", '"': '"'}


def decode_literal(literal):
    """The text of a C string literal that uses only the simple escapes."""
    body = literal[1:-1]
    text = []
    index = 0
    while index < len(body):
        char = body[index]
        if char == "\\":
            escaped = body[index + 1]
            if escaped not in _ESCAPES:
                raise ValueError("unsupported escape \\%s in %s" % (escaped, literal))
            text.append(_ESCAPES[escaped])
            index += 2
        else:
            text.append(char)
            index += 1
    return "".join(text)


def read_catalogue(path):
    """The catalogue as {number: (japanese, english)}, checked for gaps."""
    with open(path, encoding="utf-8") as source:
        content = re.sub(r"//[^\n]*", "", source.read())
    catalogue = {}
    for match in _ENTRY.finditer(content):
        number = int(match.group(1))
        if number in catalogue:
            raise ValueError("message %d defined twice" % number)
        catalogue[number] = (decode_literal(match.group(2)), decode_literal(match.group(3)))
    if not catalogue or sorted(catalogue) != list(range(1, len(catalogue) + 1)):
        raise ValueError("messages must be numbered 1 to n without gaps")
    if len(catalogue) >= ENGLISH_BASE:
        raise ValueError("Japanese IDs would reach the English ones")
    return catalogue


def string_table_ids(catalogue):
    """Every (resource ID, text) pair of the string table, in ID order."""
    entries = [(number, texts[0]) for number, texts in catalogue.items()]
    entries += [(ENGLISH_BASE + number, texts[1]) for number, texts in catalogue.items()]
    return sorted(entries)


def quote_wide(text):
    """An ASCII wide-string literal for a resource compiler."""
    parts = []
    escaped_before = False
    for char in text:
        code = ord(char)
        if code > 0xFFFF:
            raise ValueError("character outside the basic plane: %r" % char)
        if char == "\n":
            parts.append("\\n")
            escaped_before = False
        elif char == "\t":
            parts.append("\\t")
            escaped_before = False
        # A hex digit right after \xNNNN is escaped too, so that no compiler
        # reads it as a fifth digit of the escape.
        elif (0x20 <= code < 0x7F and char not in '"\\'
              and not (escaped_before and char in "0123456789abcdefABCDEF")):
            parts.append(char)
            escaped_before = False
        else:
            parts.append("\\x%04x" % code)
            escaped_before = True
    return 'L"%s"' % "".join(parts)


def write_rc(catalogue, output):
    lines = [
        "// Generated from Messages.def by make_rc.py; do not edit.",
        "LANGUAGE LANG_JAPANESE, SUBLANG_DEFAULT",
        "STRINGTABLE",
        "BEGIN",
    ]
    lines += ["  %d, %s" % (number, quote_wide(text)) for number, text in string_table_ids(catalogue)]
    lines.append("END")
    with open(output, "w", encoding="ascii", newline="\n") as target:
        target.write("\n".join(lines) + "\n")


def main(argv):
    if len(argv) != 3:
        sys.stderr.write("usage: make_rc.py Messages.def output.rc\n")
        return 2
    write_rc(read_catalogue(argv[1]), argv[2])
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
