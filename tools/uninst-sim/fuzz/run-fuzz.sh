#!/bin/sh
# Builds one of the fuzz targets with clang's libFuzzer and runs it briefly,
# seeded with its committed corpus (seeds/TARGET) and the demo machine:
#
#   regfile       registry.reg: whatever is read survives a write and a
#                 second read unchanged, in its format and encoding
#   pe-version    the version resource lookup in executable images
#   old-version   the same in NE and LE (VxD) images
#   machine-ini   machine.ini's settings
#   command-line  the program-name stripping and the switches
#
#   run-fuzz.sh [--target NAME] [--build-dir DIR] [--build-only]
#               [--runs N | --seconds S] [-- libFuzzer options]
#
# The program's sources are compiled once per build folder into a library
# that every target links, and again only when a source is newer.
set -eu

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../../.." && pwd)
build_dir="$root/build/fuzz"
target=regfile
limit="-runs=20000"
build_only=no

while [ $# -gt 0 ]; do
  case "$1" in
    --target) target=$2; shift 2 ;;
    --build-dir) build_dir=$2; shift 2 ;;
    --build-only) build_only=yes; shift ;;
    --runs) limit="-runs=$2"; shift 2 ;;
    --seconds) limit="-max_total_time=$2"; shift 2 ;;
    --) shift; break ;;
    *) echo "run-fuzz.sh: unknown option $1" >&2; exit 2 ;;
  esac
done

case "$target" in
  regfile) harness=RegFileFuzz; extra_seeds="$root/examples/demo-machine/registry.reg" ;;
  pe-version) harness=PeVersionFuzz
    extra_seeds=$(find "$root/examples/demo-machine/drive_c" -type f \
      \( -name '*.SYS' -o -name '*.VXD' -o -name '*.PDR' \)) ;;
  old-version) harness=OldVersionFuzz
    extra_seeds=$(find "$root/examples/demo-machine/drive_c" -type f \
      \( -name '*.VXD' -o -name '*.PDR' \)) ;;
  machine-ini) harness=MachineIniFuzz; extra_seeds="$root/examples/demo-machine/machine.ini" ;;
  command-line) harness=CommandLineFuzz; extra_seeds="" ;;
  *) echo "run-fuzz.sh: unknown target $target" >&2; exit 2 ;;
esac

cxx=$(command -v clang++-14 || command -v clang++)
# The version that CMake gives the tool's sources; its value does not matter here.
flags="-std=c++17 -g -O1 -fsanitize=address,undefined -fno-sanitize-recover=all -I$root -DUNINST_VERSION=\"fuzz\""
source_dirs="$root/core $root/app $root/registry $root/files $root/res $root/platform/sim $root/tools/uninst-sim $root/tools/uninst-sim/regfile $root/tools/uninst-sim/machine $root/tools/uninst-sim/run"
library="$build_dir/libuninst-fuzz.a"

build_library() {
  rm -rf "$build_dir/obj"
  mkdir -p "$build_dir/obj"
  for dir in $source_dirs; do
    for source in "$dir"/*.cpp; do
      [ "$(basename "$source")" = main.cpp ] && continue
      # shellcheck disable=SC2086
      "$cxx" $flags -fsanitize=fuzzer-no-link -c "$source" \
        -o "$build_dir/obj/$(basename "$source" .cpp).o"
    done
  done
  ar rcs "$library.new" "$build_dir"/obj/*.o
  mv "$library.new" "$library"
}

mkdir -p "$build_dir"
# shellcheck disable=SC2086
if [ ! -f "$library" ] || [ -n "$(find $source_dirs -type f -newer "$library" | head -n 1)" ]; then
  build_library
fi
[ "$build_only" = yes ] && exit 0

# shellcheck disable=SC2086
"$cxx" $flags -fsanitize=fuzzer "$here/$harness.cpp" "$library" -o "$build_dir/$target-fuzz"

corpus="$build_dir/corpus-$target"
mkdir -p "$corpus"
for seed in $extra_seeds "$here/seeds/$target"/*; do
  [ -f "$seed" ] && cp "$seed" "$corpus/"
done
exec "$build_dir/$target-fuzz" "$limit" -max_len=4096 "$@" "$corpus"
