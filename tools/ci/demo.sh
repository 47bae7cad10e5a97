#!/usr/bin/env bash
# The main job on a fresh Debian machine, as root: builds the release
# uninst-sim (optimised, no sanitizers) and runs the uninstall over a fresh
# copy of the demo machine, then shows the summary.
# At a terminal the message boxes are asked there; without one every box is
# answered Yes. Extra arguments are the program's switches (default /E).
set -euo pipefail
cd "$(dirname "$0")/../.."

echo "demo: set-up (the host toolchain; a few minutes the first time)"
bash tools/ci/install-deps.sh --host
echo "demo: building uninst-sim, release (under a minute on 2 cores the first time)"
cmake --preset release >/dev/null
# CMake's own progress, a line a step; errors still reach the terminal.
cmake --build --preset release --target uninst-sim | { grep --line-buffered '^\[' || true; }

machine=$(mktemp -d)/demo-machine
cp -r examples/demo-machine "$machine"
echo "Demo machine copied to $machine"

answers=()
[ -t 0 ] || answers=(--answers yes,yes)
switches=("$@")
[ ${#switches[@]} -gt 0 ] || switches=(/E)

build/release/tools/uninst-sim/uninst-sim --machine "$machine" "${answers[@]}" \
  --report "$machine.json" -- "${switches[@]}"
echo "JSON report: $machine.json"
