#!/usr/bin/env bash
# The whole test suite on a fresh Debian machine, as root: set-up, both
# builds, the host tests (sanitizers on), the Windows program checks, the
# platform contract tests and the end-to-end scenarios under Wine, and short
# fuzzing runs of the readers of registry.reg, machine.ini, executable images
# and the command line.
set -euo pipefail
cd "$(dirname "$0")/../.."

bash tools/ci/install-deps.sh

cmake --preset host
cmake --build --preset host
ctest --preset host

cmake --preset win32
cmake --build --preset win32
bash tests/wine/wine-env.sh build/win32 ctest --preset win32
