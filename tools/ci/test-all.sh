#!/usr/bin/env bash
# The whole test suite on a fresh Debian machine, as root: set-up and its own
# test, the check that no #include climbs a layer, the builds, the host tests
# (sanitizers on) with short fuzzing runs of the readers of registry.reg,
# machine.ini, executable images and the command line, the installed release
# uninst-sim and its manual page, the Windows program checks for the GCC and
# the clang build, the platform contract tests and the end-to-end scenarios
# under Wine.
#
# The Wine tests run the shipped 32-bit program under 32-bit Wine where the
# kernel runs 32-bit programs and 32-bit Wine could be installed; elsewhere
# they run on a 64-bit build of the same code under 64-bit Wine, and the
# tests that only the 32-bit file can take are listed as not run.
set -euo pipefail
cd "$(dirname "$0")/../.."

step() { echo "test-all: $* (after ${SECONDS} s)"; }

step "set-up"
bash tools/ci/install-deps.sh
bash tools/ci/test-apt.sh
bash tools/ci/check-layers.sh

step "host build and tests"
cmake --preset host
cmake --build --preset host
ctest --preset host

step "release uninst-sim and its manual page"
cmake --preset release
cmake --build --preset release
bash tools/ci/check-install.sh build/release

step "clang build of the program, its checks"
cmake --preset win32-clang
cmake --build --preset win32-clang
ctest --preset win32-clang -R '^program\.'

step "the program, its checks and the Wine tests"
cmake --preset win32
cmake --build --preset win32
if bash tests/wine/wine-env.sh --check; then
  bash tests/wine/wine-env.sh build/win32 ctest --preset win32
else
  echo "test-all: no 32-bit Wine here: the Wine tests run on the 64-bit build instead;" \
    "NOT RUN for the 32-bit program:"
  ctest --preset win32 -N -L wine | sed -n 's/^ *Test *#[0-9]*: /  /p'
  ctest --preset win32 -LE wine
  # 64-bit Wine is part of the set-up: a machine that cannot start it fails.
  UNINST_WINE_ARCH=win64 bash tests/wine/wine-env.sh --check
  cmake --preset win64
  cmake --build --preset win64
  UNINST_WINE_ARCH=win64 bash tests/wine/wine-env.sh build/win64 ctest --preset win64
fi
step "done"
