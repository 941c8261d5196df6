#!/usr/bin/env bash
# Benchmark of the service under Wine with the real Service Control Manager.
# Sets up what is missing, builds as scripts/test.sh does, boots a private
# Wine prefix and display, measures, and ends everything it started.
#   bash bench/run.sh [phase...]   (bench/bench.py's PHASES; all by default)
# Prints a table; writes out/bench/summary.json and out/bench/latency.png.
# BENCH_BUILD_DIR=DIR builds into DIR/<flavour> instead of build/<flavour>.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/setup.sh

# The plot wants Debian's matplotlib; without it a plainer PNG is written.
installed() {
    dpkg-query -W -f='${db:Status-Status}' "$1" 2>/dev/null | grep -qx installed
}
if ! installed python3-matplotlib; then
    echo "bench: installing python3-matplotlib"
    export DEBIAN_FRONTEND=noninteractive
    { apt-get update -q && apt-get install -y -q --no-install-recommends python3-matplotlib; } ||
        echo "bench: python3-matplotlib could not be installed; the plot will be plain" >&2
fi
# Debian's packages belong to Debian's interpreter, whatever else is on PATH.
python=python3
[ -x /usr/bin/python3 ] && python=/usr/bin/python3

build() {
    local flavour=$1
    shift
    if [ -z "${BENCH_BUILD_DIR:-}" ]; then
        bash scripts/build.sh "$flavour" -- "$@"
        bin="$root/build/$flavour"
    else
        local arch=i686
        [ "$flavour" = win64 ] && arch=x86_64
        bin="$BENCH_BUILD_DIR/$flavour"
        echo "== building $flavour in $bin"
        cmake -S "$root" -B "$bin" -DCMAKE_BUILD_TYPE=Release \
            -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-$arch.cmake" "$@" >/dev/null
        cmake --build "$bin" -j 2 >/dev/null
    fi
}

build win32
# shellcheck source=../scripts/wine_env.sh
source scripts/wine_env.sh
ql_pick_wine "$bin/QuarnLoader.exe"
if [ "$QL_WINE32_OK" = 1 ]; then
    flavour=win32
else
    echo "== this machine cannot run 32-bit Wine: the benchmark uses the 64-bit build of the same sources"
    flavour=win64
fi
build "$flavour" -DQL_WINE="$QL_WINE"
# The health check's start period is measured natively, on the virtual clock.
if [ $# -eq 0 ] || [[ " $* " == *" health "* ]]; then
    bash scripts/build.sh native
    export QL_NATIVE_BIN_DIR="$root/build/native"
fi

state=$(mktemp -d /tmp/ql-bench-XXXXXX)
export QL_BIN_DIR="$bin" QL_WINE QL_E2E_STATE="$state" PYTHONDONTWRITEBYTECODE=1
finish() {
    "$python" tests/e2e/harness.py cleanup "$state" || true
    rm -rf "$state"
}
trap finish EXIT
echo "== booting a Wine prefix and display for the benchmark"
"$python" tests/e2e/harness.py setup "$state"

echo "== benchmark ($flavour, $QL_WINE)"
mkdir -p out/bench
timeout 1500 "$python" bench/bench.py "$root/out/bench" "$@"
