#!/usr/bin/env bash
# Fails when a source file includes a header from a layer above its own.
# The layers, bottom up: platform/ and res/; core/; files/; registry/; app/.
# platform/sim/ and platform/win32/ stand on platform/ and res/ only, apart
# from the Windows entry point, which starts the application object.
set -euo pipefail
cd "$(dirname "$0")/../.."

# The folders whose headers a file in the given folder may include.
allowed_for() {
  case "$1" in
    platform/win32/WinMain.cpp) echo "platform res app" ;;
    platform/*) echo "platform res" ;;
    res/*) echo "res" ;;
    core/*) echo "core platform" ;;
    files/*) echo "files core platform res" ;;
    registry/*) echo "registry files core platform res" ;;
    app/*) echo "app registry files core platform res" ;;
  esac
}

status=0
while IFS= read -r file; do
  allowed=" $(allowed_for "$file") "
  # Quoted includes name their header from the repository root; a name
  # without a folder is a generated file next to its user.
  while IFS=: read -r line header; do
    folder=${header%%/*}
    [ "$folder" = "$header" ] && continue
    case "$allowed" in
      *" $folder "*) ;;
      *) echo "$file:$line: includes $header, above its layer" >&2; status=1 ;;
    esac
  done < <(grep -n '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' "$file" |
           sed 's/^\([0-9]*\):[^"]*"\([^"]*\)".*/\1:\2/')
done < <(find platform res core files registry app -type f \( -name '*.h' -o -name '*.cpp' -o -name '*.c' -o -name '*.rc' \) | sort)
exit "$status"
