#!/bin/sh
# Builds the registry.reg reader's fuzz target with clang's libFuzzer and runs
# it briefly, seeded with the registry files of the repository.
#
#   run-fuzz.sh [--build-dir DIR] [--runs N | --seconds S] [-- libFuzzer options]
set -eu

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../../.." && pwd)
build_dir="$root/build/fuzz-regfile"
limit="-runs=20000"

while [ $# -gt 0 ]; do
  case "$1" in
    --build-dir) build_dir=$2; shift 2 ;;
    --runs) limit="-runs=$2"; shift 2 ;;
    --seconds) limit="-max_total_time=$2"; shift 2 ;;
    --) shift; break ;;
    *) echo "run-fuzz.sh: unknown option $1" >&2; exit 2 ;;
  esac
done

cxx=$(command -v clang++-14 || command -v clang++)
mkdir -p "$build_dir/corpus"
"$cxx" -std=c++17 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all \
  -I"$root" \
  "$here/RegFileFuzz.cpp" \
  "$root/tools/uninst-sim/RegFileReader.cpp" \
  "$root/tools/uninst-sim/RegFileWriter.cpp" \
  "$root/tools/uninst-sim/TextCodec.cpp" \
  -o "$build_dir/regfile-fuzz"

for seed in "$root/examples/demo-machine/registry.reg" "$here"/seeds/*.reg; do
  [ -f "$seed" ] && cp "$seed" "$build_dir/corpus/"
done
exec "$build_dir/regfile-fuzz" "$limit" -max_len=4096 "$@" "$build_dir/corpus"
