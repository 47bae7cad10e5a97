#!/usr/bin/env python3
"""Checks uninst-sim reports against the schema shipped with the tool.

    check_report.py SCHEMA REPORT...

Exit status 0 when every report matches; 1, with each mismatch named, when
one does not; 2 when the schema or a report cannot be read.
"""

import json
import sys

import jsonschema


def main(argv):
    if len(argv) < 3:
        sys.stderr.write(__doc__)
        return 2
    try:
        with open(argv[1], encoding="utf-8") as handle:
            schema = json.load(handle)
        jsonschema.Draft202012Validator.check_schema(schema)
        validator = jsonschema.Draft202012Validator(schema)
        failed = 0
        for path in argv[2:]:
            with open(path, encoding="utf-8") as handle:
                report = json.load(handle)
            for error in validator.iter_errors(report):
                where = "/".join(str(part) for part in error.absolute_path)
                print("%s: at /%s: %s" % (path, where, error.message))
                failed = 1
        return failed
    except (OSError, ValueError, jsonschema.SchemaError) as error:
        print("check_report.py: %s" % error)
        return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
