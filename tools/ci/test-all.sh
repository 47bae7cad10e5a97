#!/usr/bin/env bash
# The whole test suite on a fresh Debian machine, as root: set-up, the
# check that no #include climbs a layer, the builds, the host tests
# (sanitizers on) with short fuzzing runs of the readers of registry.reg,
# machine.ini, executable images and the command line, the installed release
# uninst-sim and its manual page, the Windows program checks for the GCC and
# the clang build, the platform contract tests and the end-to-end scenarios
# under Wine. On a machine whose kernel cannot run 32-bit programs, 32-bit
# Wine cannot start: the Wine tests are then listed as not run, the rest still
# runs, and the contract suite runs on a 64-bit build of the Windows layer.
set -euo pipefail
cd "$(dirname "$0")/../.."

bash tools/ci/install-deps.sh
bash tools/ci/check-layers.sh

cmake --preset host
cmake --build --preset host
ctest --preset host

cmake --preset release
cmake --build --preset release --target uninst-sim uninst-sim-manual
bash tools/ci/check-install.sh build/release

cmake --preset win32-clang
cmake --build --preset win32-clang
ctest --preset win32-clang -R '^program\.'

cmake --preset win32
cmake --build --preset win32
if bash tests/wine/wine-env.sh --check; then
  bash tests/wine/wine-env.sh build/win32 ctest --preset win32
else
  # Without Wine only the program checks can run; say loudly what was left out.
  echo "test-all: NOT RUN on this machine (no 32-bit Wine), the tests labelled wine:"
  ctest --preset win32 -N -L wine | sed -n 's/^ *Test *#[0-9]*: /  /p'
  ctest --preset win32 -LE wine
  # The same code built 64-bit still runs every Wine test where 64-bit Wine
  # can start: only the 32-bit file itself goes unchecked under Wine.
  if UNINST_WINE_ARCH=win64 bash tests/wine/wine-env.sh --check; then
    echo "test-all: the Wine tests run on a 64-bit build under 64-bit Wine instead"
    cmake --preset win64
    cmake --build --preset win64
    UNINST_WINE_ARCH=win64 bash tests/wine/wine-env.sh build/win64 ctest --preset win64
  fi
fi
