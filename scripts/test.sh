#!/usr/bin/env bash
# Sets up what is missing, builds, and runs every test: the native unit tests
# and the end-to-end tests of the real executable under Wine.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/setup.sh
bash scripts/build.sh native win32

# shellcheck source=wine_env.sh
source scripts/wine_env.sh
# Which Wine can run the end-to-end tests is known only by running the exe
# just built, so the build they use is configured after that with the loader
# found: for win32 that configures the same build twice and recompiles
# nothing. QL_WINE is a cache entry; passing it every time keeps a build
# directory from holding the loader of an earlier run.
ql_pick_wine "$root/build/win32/QuarnLoader.exe"
if [ "$QL_WINE32_OK" = 1 ]; then
  e2e=win32
  bash scripts/build.sh win32 -- -DQL_WINE="$QL_WINE"
else
  echo "== this machine cannot run 32-bit Wine: end-to-end tests use the 64-bit build of the same sources"
  e2e=win64
  bash scripts/build.sh win64 -- -DQL_WINE="$QL_WINE"
fi

status=0
echo "== unit tests"
ctest --test-dir build/native -j 2 --output-on-failure || status=1
echo "== end-to-end tests ($e2e, $QL_WINE)"
# One file at a time: under Wine a console run of the exe can connect to
# the dispatcher pipe of another service that is starting at that moment.
ctest --test-dir "build/$e2e" -j 1 --output-on-failure || status=1
exit $status
