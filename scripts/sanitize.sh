#!/usr/bin/env bash
# The native unit suite under AddressSanitizer + UndefinedBehaviorSanitizer
# (build/asan) and under ThreadSanitizer (build/tsan), then the fuzz targets
# for a bounded time (scripts/fuzz.sh).
#   scripts/sanitize.sh [fuzz seconds per target, default 60]
# Any sanitizer report stops the test that caused it and fails the run.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
fuzz_seconds=${1:-60}
case $fuzz_seconds in ''|*[!0-9]*) echo "usage: $0 [fuzz seconds]" >&2; exit 2 ;; esac
build_timeout=${QL_SANITIZE_BUILD_TIMEOUT:-1800}
test_timeout=${QL_SANITIZE_TEST_TIMEOUT:-900}

export ASAN_OPTIONS=halt_on_error=1:abort_on_error=1:detect_leaks=1:strict_string_checks=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1

status=0
results=()

run_flavour() {
  local dir=$1 sanitizers=$2 log
  log="$root/build/$dir.log"
  echo "== $dir: unit tests with -fsanitize=$sanitizers"
  mkdir -p "$root/build"
  if ! timeout "$build_timeout" cmake -S "$root" -B "$root/build/$dir" -DCMAKE_BUILD_TYPE=Debug \
      -DQL_SANITIZE="$sanitizers" >"$log" 2>&1 ||
     ! timeout "$build_timeout" cmake --build "$root/build/$dir" -j 2 >>"$log" 2>&1; then
    echo "!! $dir: build failed; see $log" >&2
    tail -n 30 "$log" >&2
    results+=("$dir: build FAILED")
    status=1
    return
  fi
  if ! timeout "$test_timeout" ctest --test-dir "$root/build/$dir" -j 2 --output-on-failure \
      --timeout 300 >>"$log" 2>&1; then
    echo "!! $dir: tests failed; see $log" >&2
    grep -E -m 20 'ERROR: (Address|Thread|Undefined|Leak)Sanitizer|WARNING: ThreadSanitizer|runtime error:|Failed|\*\*\*' "$log" >&2
    results+=("$dir: FAILED")
    status=1
    return
  fi
  # A report that did not make a test fail still counts.
  if grep -q -E 'ERROR: (Address|Leak)Sanitizer|WARNING: ThreadSanitizer|runtime error:' "$log"; then
    echo "!! $dir: sanitizer report in $log" >&2
    results+=("$dir: sanitizer report")
    status=1
    return
  fi
  results+=("$dir: $(grep -E -o '[0-9]+% tests passed, [0-9]+ tests failed out of [0-9]+' "$log" | tail -n 1)")
}

run_flavour asan address,undefined
run_flavour tsan thread

echo "== fuzzing, ${fuzz_seconds}s per target"
if timeout $((fuzz_seconds * 10 + 1200)) bash "$root/scripts/fuzz.sh" "$fuzz_seconds"; then
  results+=("fuzz: clean, ${fuzz_seconds}s per target")
else
  results+=("fuzz: FAILED")
  status=1
fi

echo "== sanitizer summary"
printf '   %s\n' "${results[@]}"
exit $status
