#!/usr/bin/env bash
# Builds the requested flavours into build/<flavour>:
#   native  the system against the simulated platform, with the unit tests
#   win32   QuarnLoader.exe, the product: 32-bit Windows, statically linked
#   win64   the same sources for 64-bit Windows (used where 32-bit Wine cannot run)
# Extra CMake arguments for the Windows flavours may follow "--".
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
flavours=()
while [ $# -gt 0 ] && [ "$1" != "--" ]; do flavours+=("$1"); shift; done
[ "${1:-}" = "--" ] && shift
[ ${#flavours[@]} -gt 0 ] || flavours=(native win32)

for flavour in "${flavours[@]}"; do
  case $flavour in
    native) args=() ;;
    win32) args=(-DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" "$@") ;;
    win64) args=(-DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-x86_64.cmake" "$@") ;;
    *) echo "unknown flavour: $flavour" >&2; exit 2 ;;
  esac
  echo "== building $flavour"
  cmake -S "$root" -B "$root/build/$flavour" -DCMAKE_BUILD_TYPE=Release "${args[@]}" >/dev/null
  # The filter may print nothing (grep then fails); only the build's own
  # status may end the script, which pipefail passes on.
  cmake --build "$root/build/$flavour" -j 2 -- --no-print-directory |
    { grep -v -E '^\[ *[0-9]+%\] (Building|Linking)' || true; }
done
