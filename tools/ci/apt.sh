# Package set-up that degrades instead of dying, sourced by install-deps.sh
# and by its own test. A package index that cannot be read in full (a mirror
# in the middle of a sync, a suite or an architecture that does not answer) is
# reported and tolerated; only a package that really cannot be installed
# stops the set-up, named, with apt's reason.
#
# apt_options: extra options for every apt-get call (the test points apt at
# a mirror folder of its own with them).
apt_options=()

apt_log() { echo "install-deps: $*" >&2; }

# Succeeds when the running kernel executes a 32-bit x86 program. The probe
# is a 96-byte static ELF32 that only calls exit(42): it needs no package,
# so the answer comes from the kernel alone (IA-32 emulation on or off).
kernel_runs_32bit() {
  local dir status
  dir=$(mktemp -d) || return 1
  # A folder mounted noexec refuses both probes alike: then ask no further.
  cp /bin/true "$dir/true64"
  printf '\177ELF\001\001\001\000\000\000\000\000\000\000\000\000' >"$dir/probe32"
  printf '\002\000\003\000\001\000\000\000\124\200\004\010\064\000\000\000' >>"$dir/probe32"
  printf '\000\000\000\000\000\000\000\000\064\000\040\000\001\000\000\000' >>"$dir/probe32"
  printf '\000\000\000\000\001\000\000\000\000\000\000\000\000\200\004\010' >>"$dir/probe32"
  printf '\000\200\004\010\140\000\000\000\140\000\000\000\005\000\000\000' >>"$dir/probe32"
  printf '\000\020\000\000\270\001\000\000\000\273\052\000\000\000\315\200' >>"$dir/probe32"
  chmod +x "$dir/probe32" "$dir/true64"
  status=1
  if "$dir/true64"; then
    local code=0
    "$dir/probe32" 2>/dev/null || code=$?
    [ "$code" -eq 42 ] && status=0
  else
    apt_log "cannot run programs in $dir: taking this kernel for one without 32-bit programs"
  fi
  rm -rf "$dir"
  return "$status"
}

# apt-get update, tried up to three times. An index that still fails after
# that is reported and the set-up goes on with what could be read: whether
# that is enough is for the install to tell.
refresh_package_index() {
  local attempt log
  log=$(mktemp)
  for attempt in 1 2 3; do
    if apt-get "${apt_options[@]}" update -qq >"$log" 2>&1; then
      rm -f "$log"
      return 0
    fi
    [ "$attempt" -lt 3 ] && sleep $((attempt * 3))
  done
  apt_log "the package index could not be read in full; going on with what was read:"
  grep -E '^(E|W|Err):' "$log" | sed 's/^/  /' >&2 || sed 's/^/  /' "$log" >&2
  rm -f "$log"
  return 0
}

# apt-get install of the given packages, its output in the file $1.
apt_install() {
  local log=$1
  shift
  DEBIAN_FRONTEND=noninteractive apt-get "${apt_options[@]}" install -y -qq \
    --no-install-recommends "$@" >"$log" 2>&1
}

# Installs the given packages. When the whole set fails, each package is
# tried alone so that the message names every one that cannot be had, with
# apt's own reason.
install_packages() {
  local log package failed=()
  log=$(mktemp)
  if apt_install "$log" "$@"; then
    rm -f "$log"
    return 0
  fi
  for package in "$@"; do
    [ $# -gt 1 ] && apt_install "$log" "$package" && continue
    failed+=("$package")
    apt_log "cannot install $package:"
    grep -vE '^(Reading|Building|Selecting|Preparing|Unpacking|Setting up|Processing)' "$log" |
      grep -v '^\s*$' | sed 's/^/  /' >&2 || true
  done
  rm -f "$log"
  [ ${#failed[@]} -eq 0 ]
}

# Prints those of the given packages that are not installed.
missing_packages() {
  local package
  for package in "$@"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
      echo "$package"
  done
}
