#!/usr/bin/env bash
# The main job on a fresh Debian machine, as root: builds the release
# uninst-sim (optimised, no sanitizers) and runs the uninstall over a fresh
# copy of the demo machine, then shows the summary.
# At a terminal the message boxes are asked there; without one every box is
# answered Yes. Extra arguments are the program's switches (default /E).
set -euo pipefail
cd "$(dirname "$0")/../.."

bash tools/ci/install-deps.sh --host
cmake --preset release >/dev/null
cmake --build --preset release --target uninst-sim >/dev/null

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
