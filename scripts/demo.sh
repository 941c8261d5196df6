#!/usr/bin/env bash
# The README's first command: installs what is missing, builds, and shows the
# service at work under Wine, in a private prefix and X display of its own
# that are ended and removed however the run ends.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

echo "=== Installing what is missing (scripts/setup.sh)"
bash scripts/setup.sh
echo "=== Building QuarnLoader.exe (scripts/build.sh win32)"
bash scripts/build.sh win32

work=$(mktemp -d /tmp/quarn-demo-XXXXXX)
cleanup() {
    local rc=$?
    trap - EXIT INT TERM HUP
    # Normally demo.py has done this already; here for every other way out.
    python3 "$root/tests/e2e/harness.py" cleanup "$work/state" >/dev/null 2>&1 || true
    if [ -d "$work/probe" ]; then
        WINEPREFIX="$work/probe" timeout 30 wineserver -k >/dev/null 2>&1 || true
    fi
    rm -rf "$work"
    exit "$rc"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP
# Wine keeps its server sockets under TMPDIR: inside our folder they go with it.
mkdir -p "$work/tmp"
export TMPDIR="$work/tmp"

# shellcheck source=wine_env.sh
source scripts/wine_env.sh
export WINEPREFIX="$work/probe"
ql_pick_wine "$root/build/win32/QuarnLoader.exe"
timeout 30 wineserver -k >/dev/null 2>&1 || true
rm -rf "$WINEPREFIX"
unset WINEPREFIX
if [ "$QL_WINE32_OK" = 1 ]; then
    bin="$root/build/win32"
else
    echo "=== This machine cannot run 32-bit Wine: the demonstration runs the 64-bit"
    echo "=== build of the same sources under $QL_WINE (scripts/build.sh win64)"
    bash scripts/build.sh win64
    bin="$root/build/win64"
fi

status=0
python3 scripts/demo.py --bin-dir "$bin" --wine "$QL_WINE" --work "$work" --out "$root/out" \
    || status=$?
exit "$status"
