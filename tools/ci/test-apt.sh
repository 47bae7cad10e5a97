#!/usr/bin/env bash
# The set-up's own test, as root: with a package index that cannot be read in
# full (one source refuses the connection, one mirror folder holds an index
# of the wrong size), the index refresh reports the failure and goes on, a
# package that the readable index holds installs, and one that no index
# holds stops the set-up with its name. apt works on lists and a cache of its
# own here; the probe package it installs is purged at the end.
set -euo pipefail
. "$(dirname "$0")/apt.sh"

work=$(mktemp -d)
probe=uninst-ci-probe
cleanup() {
  dpkg --purge "$probe" >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "test-apt: FAILED: $*" >&2
  exit 1
}

# A mirror folder with one empty package, and one whose index is damaged.
mkdir -p "$work/good" "$work/damaged" "$work/pkg/DEBIAN" "$work/lists/partial" \
  "$work/cache/archives/partial" "$work/parts"
cat >"$work/pkg/DEBIAN/control" <<CONTROL
Package: $probe
Version: 1.0
Architecture: all
Maintainer: uninst CI <ci@invalid>
Description: probe package of the set-up test
CONTROL
dpkg-deb --build "$work/pkg" "$work/good/$probe.deb" >/dev/null
{
  cat "$work/pkg/DEBIAN/control"
  echo "Filename: ./$probe.deb"
  echo "Size: $(stat -c %s "$work/good/$probe.deb")"
  echo "SHA256: $(sha256sum "$work/good/$probe.deb" | cut -d' ' -f1)"
} >"$work/good/Packages"
cp "$work/good/Packages" "$work/damaged/Packages"
{
  echo "Suite: damaged"
  echo "Date: $(LC_ALL=C date -u -R)"
  echo "SHA256:"
  echo " $(sha256sum "$work/good/Packages" | cut -d' ' -f1) 999999 Packages"
} >"$work/damaged/Release"

cat >"$work/sources.list" <<SOURCES
deb [trusted=yes] file:$work/good ./
deb [trusted=yes] file:$work/damaged ./
deb [trusted=yes] http://127.0.0.1:9/debian ./
SOURCES
apt_options=(
  -o "Dir::Etc::sourcelist=$work/sources.list" -o "Dir::Etc::sourceparts=$work/parts"
  -o "Dir::State::lists=$work/lists" -o "Dir::Cache=$work/cache"
  -o "Acquire::Retries=0" -o "Acquire::http::Timeout=5" -o "APT::Sandbox::User=root"
)

refresh_package_index 2>"$work/refresh.log" || fail "the index refresh stopped the set-up"
grep -q 'could not be read in full' "$work/refresh.log" ||
  fail "the unreadable index was not reported: $(cat "$work/refresh.log")"

install_packages "$probe" 2>"$work/install.log" ||
  fail "$probe did not install from the readable index: $(cat "$work/install.log")"
[ -z "$(missing_packages "$probe")" ] || fail "$probe is not installed"

if install_packages uninst-ci-absent 2>"$work/absent.log"; then
  fail "a package that no index holds was reported installed"
fi
grep -q 'cannot install uninst-ci-absent' "$work/absent.log" ||
  fail "the missing package was not named: $(cat "$work/absent.log")"

echo "test-apt: the set-up degrades on an unreadable index and names a missing package"
