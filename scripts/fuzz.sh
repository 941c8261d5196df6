#!/usr/bin/env bash
# Builds every fuzz target into build/fuzz and runs each for a bounded time.
#   scripts/fuzz.sh [seconds per target, default 60]
# Exits non-zero when a target crashes or fails to build. Findings are kept in
# build/fuzz/findings/<target>/, each target's corpus in build/fuzz/corpus/<target>/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
case $seconds in ''|*[!0-9]*) echo "usage: $0 [seconds]" >&2; exit 2 ;; esac
build="$root/build/fuzz"

cmake -S "$root" -B "$build" -DQL_FUZZ=ON -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQL_SANITIZE= >/dev/null
cmake --build "$build" --target fuzz_all -j 2

targets=()
for source in "$root"/fuzz/fuzz_*.cpp; do
  [ -e "$source" ] || continue
  targets+=("$(basename "$source" .cpp)")
done
[ ${#targets[@]} -gt 0 ] || { echo "no fuzz targets found" >&2; exit 1; }

status=0
for target in "${targets[@]}"; do
  corpus="$build/corpus/$target"
  findings="$build/findings/$target"
  mkdir -p "$corpus" "$findings"
  echo "== fuzzing $target for ${seconds}s"
  if ! ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
      "$build/$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
      -print_final_stats=1 -artifact_prefix="$findings/" "$corpus" \
      >"$build/$target.log" 2>&1; then
    echo "!! $target failed; see $build/$target.log and $findings/" >&2
    tail -n 40 "$build/$target.log" >&2
    status=1
  else
    grep -E '^stat::number_of_executed_units' "$build/$target.log" || true
  fi
done
exit $status
