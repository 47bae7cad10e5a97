#!/usr/bin/env bash
# Runs COUNT random machines (default 1000) through uninst-sim and through
# UNINST.EXE under Wine, from a random first seed that it prints; every
# disagreement is printed with its seed, and the machine is kept under
# build/<preset>/tests/wine/runs. Needs the host build and the win32 build
# (or, where 32-bit Wine cannot run, the win64 build).
#
#   bench/soak-differential.sh [COUNT]
set -euo pipefail
cd "$(dirname "$0")/.."

count=${1:-1000}
preset=win32
if ! bash tests/wine/wine-env.sh --check 2>/dev/null; then
  preset=win64
  export UNINST_WINE_ARCH=win64
fi
build=build/$preset
for file in build/host/tools/uninst-sim/uninst-sim "$build/UNINST.EXE" \
  "$build/tools/wine/responder.exe"; do
  [ -e "$file" ] || { echo "soak: $file is missing: build the host and $preset presets" >&2; exit 2; }
done
exec bash tests/wine/wine-env.sh "$build" python3 tests/wine/differential.py \
  --count "$count" --uninst-sim build/host/tools/uninst-sim/uninst-sim \
  --program "$build/UNINST.EXE" --responder "$build/tools/wine/responder.exe" \
  --work-dir "$build/tests/wine/runs"
