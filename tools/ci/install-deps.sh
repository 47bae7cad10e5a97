#!/usr/bin/env bash
# Installs what building and testing need on a fresh Debian machine (as root):
# the host toolchain and GoogleTest, jsonschema to check the reports the
# tests make, help2man for the manual page of uninst-sim, mingw-w64 for the
# Windows program (32-bit, and 64-bit for the Wine tests on a kernel without
# 32-bit programs), clang for its second build
# and the fuzz targets, 64-bit Wine with Xvfb for the end-to-end tests, pefile
# for the program checks and man-db to check the manual page. 32-bit Wine is
# added only where the kernel runs 32-bit programs, and only if it installs.
#
#   install-deps.sh          everything
#   install-deps.sh --host   only what the host builds of uninst-sim need
#
# Exit status: 0 when every required package is installed (32-bit Wine is
# not required), 1 when one is not; the message names it and says why.
set -euo pipefail
. "$(dirname "$0")/apt.sh"

host_only=0
[ "${1:-}" = "--host" ] && host_only=1

packages=(cmake make g++ googletest libgtest-dev python3 python3-jsonschema help2man)
if [ "$host_only" = 0 ]; then
  packages+=(
    clang libclang-rt-14-dev clang-format python3-pefile man-db
    g++-mingw-w64-i686-win32 binutils-mingw-w64-i686
    g++-mingw-w64-x86-64-win32 binutils-mingw-w64-x86-64
    wine wine64 xvfb xauth locales
  )
fi

index_fresh=0
ensure_index() {
  [ "$index_fresh" = 1 ] && return 0
  refresh_package_index
  index_fresh=1
}

mapfile -t missing < <(missing_packages "${packages[@]}")
if [ ${#missing[@]} -gt 0 ]; then
  apt_log "installing ${missing[*]}"
  ensure_index
  if ! install_packages "${missing[@]}"; then
    apt_log "set-up stopped: the packages above are required"
    exit 1
  fi
fi

# 32-bit Wine runs the shipped 32-bit program itself. It is worth an i386
# architecture only on a kernel that runs 32-bit programs; where it cannot be
# installed (an i386 index out of step with the amd64 one), the Wine tests
# run on the 64-bit build instead, as on a kernel without 32-bit programs.
install_wine32() {
  local added=0
  if ! kernel_runs_32bit; then
    apt_log "this kernel runs no 32-bit programs: no 32-bit Wine, the Wine tests take the 64-bit build"
    return 0
  fi
  [ -z "$(missing_packages wine32:i386)" ] && return 0
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
    added=1
    index_fresh=0
  fi
  ensure_index
  apt_log "installing wine32:i386"
  if install_packages wine32:i386; then
    return 0
  fi
  apt_log "32-bit Wine is not to be had here: the Wine tests take the 64-bit build"
  # Leave the machine's architectures as they were, if nothing of i386 came.
  if [ "$added" = 1 ] && dpkg --remove-architecture i386 2>/dev/null; then
    index_fresh=0
  fi
  return 0
}

if [ "$host_only" = 0 ]; then
  install_wine32
  # Wine takes its code pages from the locale, and names files and registry
  # keys beyond ASCII only in a locale the C library has: the scenarios run
  # in these two.
  for name in en_US ja_JP; do
    locale -a | grep -qix "$name.utf8" || localedef -i "$name" -f UTF-8 "$name.UTF-8"
  done
fi
