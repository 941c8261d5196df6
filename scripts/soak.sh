#!/usr/bin/env bash
# Long reliability runs, each bounded in time, then the sanitizer and fuzz
# runs (scripts/sanitize.sh):
#   a. crash loop: a program that exits at once, restarted for 2 minutes
#      while the service is paused, resumed and sent per-process commands;
#   b. 127 programs started, supervised and stopped; pass length measured;
#   c. the blocking stop seen by its client, with 20 and with 127 programs
#      that ignore the quit message (StopPause 2000).
# Runs under Wine in a prefix and display of its own, removed at the end.
# Prints the figures and a summary; exits non-zero on any failure.
#
#   scripts/soak.sh [fuzz seconds per target, default 60]
# Environment: QL_BIN_DIR  use this Windows build instead of building one
#              QL_SOAK_SKIP_SANITIZE=1  only the Wine runs
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
fuzz_seconds=${1:-60}
case $fuzz_seconds in ''|*[!0-9]*) echo "usage: $0 [fuzz seconds]" >&2; exit 2 ;; esac

# shellcheck source=wine_env.sh
source scripts/wine_env.sh
if [ -z "${QL_BIN_DIR:-}" ]; then
  bash scripts/build.sh win32 || exit 1
  ql_pick_wine "$root/build/win32/QuarnLoader.exe"
  if [ "$QL_WINE32_OK" = 1 ]; then flavour=win32; else flavour=win64; fi
  [ "$QL_WINE32_OK" = 1 ] || echo "== 32-bit Wine cannot run here: soaking the 64-bit build"
  bash scripts/build.sh "$flavour" -- -DQL_WINE="$QL_WINE" || exit 1
  export QL_BIN_DIR="$root/build/$flavour"
elif [ -z "${QL_WINE:-}" ]; then
  ql_pick_wine "$QL_BIN_DIR/QuarnLoader.exe"
fi
export QL_WINE PYTHONDONTWRITEBYTECODE=1

state=$(mktemp -d /tmp/ql-soak-XXXXXX)
export QL_E2E_STATE="$state"
cleanup() {
  timeout 120 python3 tests/e2e/harness.py cleanup "$state" >/dev/null 2>&1
  rm -rf "$state"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

status=0
results=()
figures="$state/figures.txt"
: >"$figures"

echo "== booting a Wine prefix and display ($QL_WINE, $QL_BIN_DIR)"
if ! timeout 300 python3 tests/e2e/harness.py setup "$state"; then
  echo "!! Wine set-up failed" >&2
  exit 1
fi

run_step() {
  local step=$1 limit=$2 out="$state/$1.out" t0 rc
  echo "== $step (at most ${limit}s)"
  t0=$(date +%s)
  timeout "$limit" python3 "tests/soak/$step.py" >"$out" 2>&1
  rc=$?
  # unittest's progress shares the line with the first figure.
  grep -o 'FIGURE .*$' "$out" | sed 's/^FIGURE //' | tee -a "$figures"
  if [ $rc -eq 0 ]; then
    results+=("$step: passed in $(( $(date +%s) - t0 ))s")
  else
    [ $rc -eq 124 ] && echo "!! $step ran out of time" >&2
    grep -v 'FIGURE ' "$out" | tail -n 60 >&2
    results+=("$step: FAILED (status $rc) after $(( $(date +%s) - t0 ))s")
    status=1
    # Whatever a failed step left behind must not disturb the next one.
    timeout 120 python3 tests/e2e/harness.py cleanup "$state" >/dev/null 2>&1
    timeout 300 python3 tests/e2e/harness.py setup "$state" || { echo "!! Wine set-up failed" >&2; exit 1; }
  fi
}

run_step crash_loop 480
run_step max_programs 900
run_step blocking_stop 1500

timeout 120 python3 tests/e2e/harness.py cleanup "$state" >/dev/null 2>&1

if [ "${QL_SOAK_SKIP_SANITIZE:-0}" != 1 ]; then
  echo "== sanitizers and fuzzing"
  if bash scripts/sanitize.sh "$fuzz_seconds"; then
    results+=("sanitize: clean")
  else
    results+=("sanitize: FAILED")
    status=1
  fi
fi

echo
echo "== soak figures"
sed 's/^/   /' "$figures"
echo "== soak summary"
printf '   %s\n' "${results[@]}"
exit $status
