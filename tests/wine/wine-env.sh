#!/bin/sh
# Runs a command inside a private Wine set-up: a fresh 32-bit prefix created
# once for this run, and an Xvfb server of our own on a free display.
#
#   tests/wine/wine-env.sh <build-dir> <command> [args...]
#   e.g. tests/wine/wine-env.sh build/win32 ctest --test-dir build/win32
#   tests/wine/wine-env.sh --check
#
# With UNINST_WINE_ARCH=win64 the prefix is 64-bit and Wine's 64-bit loader
# runs it: for the 64-bit build, on a machine that cannot run 32-bit programs.
#
# Exports WINEPREFIX (the base prefix, which scenarios copy rather than boot),
# DISPLAY, WINEARCH and WINEDEBUG, runs the command and returns its status.
# Only the processes started here are stopped at the end: our Xvfb by its
# process id and the wineserver of our prefix. Every wait is bounded.
#
# Set UNINST_WINE_KEEP_PREFIX=1 to reuse a base prefix left by an earlier run.
set -eu

arch=${UNINST_WINE_ARCH:-win32}
# Each architecture runs its own loader, never Debian's wine wrapper: without
# the 32-bit loader the wrapper starts the 64-bit one, and a 32-bit prefix
# made by it cannot run a 32-bit program.
case "$arch" in
  win32) wine=/usr/lib/wine/wine ;;
  win64) wine=/usr/lib/wine/wine64 ;;
  *)
    echo "wine-env: UNINST_WINE_ARCH must be win32 or win64, not $arch" >&2
    exit 2
    ;;
esac

# --check: succeeds when this machine can start Wine's loader for the arch,
# which is itself a program of that arch: a kernel without IA-32 emulation
# refuses the 32-bit one ("Exec format error"), and a machine without 32-bit
# Wine has none.
if [ "${1:-}" = "--check" ]; then
  if [ ! -x "$wine" ]; then
    echo "wine-env: no $arch Wine here ($wine is missing)" >&2
    exit 1
  fi
  out=$(WINEARCH=$arch WINEDEBUG=-all timeout 30 "$wine" --version 2>&1) && exit 0
  echo "wine-env: $arch Wine cannot run here: ${out:-no output}" >&2
  exit 1
fi

if [ $# -lt 2 ]; then
  echo "usage: $0 <build-dir> <command> [args...]" >&2
  exit 2
fi

build_dir=$(cd "$1" && pwd)
shift

wine_dir="$build_dir/wine"
prefix="$wine_dir/base-prefix"
xvfb_pid=""

export WINEARCH="$arch"
export UNINST_WINE="$wine"
export WINEDEBUG=-all
# No mono or gecko installer prompts while the prefix boots.
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEPREFIX="$prefix"
unset LANG LANGUAGE LC_ALL 2>/dev/null || true

log() { echo "wine-env: $*" >&2; }

# Runs a command with a time limit so that nothing here can hang a build.
bounded() {
  limit=$1
  shift
  timeout --kill-after=10 "$limit" "$@"
}

stop_everything() {
  status=$?
  if [ -d "$prefix" ]; then
    bounded 30 wineserver -k >/dev/null 2>&1 || true
  fi
  if [ -n "$xvfb_pid" ]; then
    kill "$xvfb_pid" 2>/dev/null || true
    wait "$xvfb_pid" 2>/dev/null || true
  fi
  exit "$status"
}
trap stop_everything EXIT
trap 'exit 130' INT TERM

display_is_free() {
  [ ! -e "/tmp/.X11-unix/X$1" ] && [ ! -e "/tmp/.X$1-lock" ]
}

# Starts Xvfb on the first free display from :90 to :150. Another program may
# take a display between the check and the start, so a server that dies at
# once only moves us on to the next number.
start_xvfb() {
  n=90
  while [ "$n" -le 150 ]; do
    if display_is_free "$n"; then
      Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >"$wine_dir/xvfb.log" 2>&1 &
      xvfb_pid=$!
      waited=0
      while [ "$waited" -lt 100 ]; do
        if ! kill -0 "$xvfb_pid" 2>/dev/null; then
          break
        fi
        if [ -S "/tmp/.X11-unix/X$n" ]; then
          export DISPLAY=":$n"
          log "Xvfb on $DISPLAY (pid $xvfb_pid)"
          return 0
        fi
        sleep 0.1
        waited=$((waited + 1))
      done
      kill "$xvfb_pid" 2>/dev/null || true
      wait "$xvfb_pid" 2>/dev/null || true
      xvfb_pid=""
    fi
    n=$((n + 1))
  done
  log "no free X display from :90 to :150"
  return 1
}

create_prefix() {
  if [ "${UNINST_WINE_KEEP_PREFIX:-0}" = 1 ] && [ -f "$prefix/.uninst-ready" ]; then
    log "reusing $prefix"
    return 0
  fi
  rm -rf "$prefix"
  log "creating $prefix"
  # Without a window manager every window would otherwise wait for one.
  # Then let the wineserver write the registry before scenarios copy it.
  if ! bounded 180 "$wine" wineboot -i >"$wine_dir/wineboot.log" 2>&1 ||
    ! bounded 60 "$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f \
      >>"$wine_dir/wineboot.log" 2>&1 ||
    ! bounded 60 wineserver -w >>"$wine_dir/wineboot.log" 2>&1; then
    log "cannot create the $arch prefix $prefix; the end of $wine_dir/wineboot.log:"
    tail -n 15 "$wine_dir/wineboot.log" | sed 's/^/  /' >&2
    return 1
  fi
  touch "$prefix/.uninst-ready"
}

mkdir -p "$wine_dir"
start_xvfb || exit 1
create_prefix || exit 1

set +e
"$@"
status=$?
set -e
exit "$status"
