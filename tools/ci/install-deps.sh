#!/usr/bin/env bash
# Installs what building and testing need on a fresh Debian machine (as root):
# the host toolchain and GoogleTest, help2man for the manual page of
# uninst-sim, mingw-w64 for the 32-bit Windows program, clang for its
# second build and the fuzz target, 32-bit Wine with Xvfb for the end-to-end
# tests, the 64-bit toolchain and Wine for the Windows layer's contract suite
# where 32-bit programs cannot run, pefile for the program checks and man-db
# to check the manual page.
#
#   install-deps.sh          everything
#   install-deps.sh --host   only what the host builds of uninst-sim need
set -euo pipefail

packages=(cmake make g++ googletest libgtest-dev python3 help2man)
if [ "${1:-}" != "--host" ]; then
  packages+=(
    clang libclang-rt-14-dev clang-format python3-pefile man-db
    g++-mingw-w64-i686-win32 binutils-mingw-w64-i686
    wine wine32:i386 xvfb xauth locales
    g++-mingw-w64-x86-64-win32 binutils-mingw-w64-x86-64 wine64
  )
fi

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
    missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# Wine takes its code pages from the locale, and names files and registry
# keys beyond ASCII only in a locale the C library has: the scenarios run in
# these two.
if [ "${1:-}" != "--host" ]; then
  for name in en_US ja_JP; do
    locale -a | grep -qix "$name.utf8" || localedef -i "$name" -f UTF-8 "$name.UTF-8"
  done
fi
