#!/usr/bin/env bash
# Installs a built uninst-sim under a temporary prefix and checks what lands
# there: the command runs and reports its version, the manual page renders
# without a warning and shows that version and the options, and the report's
# JSON Schema lies beside it.
#
#   check-install.sh <build-dir>
set -euo pipefail

build_dir=$1
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT

cmake --install "$build_dir" --prefix "$prefix" >/dev/null
version=$("$prefix/bin/uninst-sim" --version | head -n 1)
page="$prefix/share/man/man1/uninst-sim.1"
warnings=$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
if [ -n "$warnings" ]; then
  echo "check-install: $page renders with warnings:" >&2
  echo "$warnings" >&2
  exit 1
fi
rendered=$(MANWIDTH=80 man -l "$page" | col -bx)
for wanted in "$version" "--machine DIR" "--version" EXAMPLES "EXIT STATUS" FILES ENVIRONMENT; do
  if ! grep -qF -- "$wanted" <<<"$rendered"; then
    echo "check-install: $page does not show \"$wanted\"" >&2
    exit 1
  fi
done
# The machine.ini block keeps its lines whole.
lines=$(sed 's/^ *//' <<<"$rendered" | tr -s ' ')
for wanted in "[machine]" "windows = nt (or 95, 98, me, nt4, 2000, xp)" \
  "oem_code_page = 437 (932: Japanese)" "time_zone_bias_minutes = 0 (local time = UTC - bias)"; do
  if ! grep -qxF -- "$wanted" <<<"$lines"; then
    echo "check-install: $page breaks up the machine.ini line \"$wanted\"" >&2
    exit 1
  fi
done
schema="$prefix/share/uninst-sim/report.schema.json"
if ! python3 -c 'import json, sys, jsonschema
jsonschema.Draft202012Validator.check_schema(json.load(open(sys.argv[1])))' "$schema"; then
  echo "check-install: $schema is missing or no JSON Schema" >&2
  exit 1
fi
echo "check-install: $prefix/bin/uninst-sim ($version), its manual page and report schema"
