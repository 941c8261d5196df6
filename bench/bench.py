"""Benchmark of the service under Wine with the real Service Control Manager.

    python3 bench/bench.py OUT_DIR

Needs QL_BIN_DIR (the Windows build) and QL_E2E_STATE (a prefix and display
made by "tests/e2e/harness.py setup"). Prints a table, writes
OUT_DIR/summary.json and OUT_DIR/latency.png.

Every time is taken with this process's monotonic clock by polling files
(the log, qtprog records) and /proc every POLL seconds (watch.py): the log's own
stamps have one-second resolution only.
"""

import json
import os
import platform
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "e2e"))
import harness as h  # noqa: E402
import plot  # noqa: E402
from phases import Bench  # noqa: E402
from report import table  # noqa: E402
from watch import BenchError  # noqa: E402


PHASES = ("start", "restart", "hang", "pass", "crashloop", "heldlog", "stopmethod",
          "parallelstop", "command", "reload", "health", "failure", "output", "idle")


def main(argv):
    if len(argv) < 2:
        sys.stderr.write("usage: bench.py OUT_DIR [phase...]\n")
        return 2
    out_dir = argv[1]
    phases = argv[2:] or list(PHASES)
    os.makedirs(out_dir, exist_ok=True)
    b = Bench(out_dir)
    started = time.monotonic()
    status = 0
    timings = {}
    try:
        for phase in phases:
            t = time.monotonic()
            print("== bench: %s" % phase, flush=True)
            getattr(b, "bench_" + phase)()
            timings[phase] = round(time.monotonic() - t, 1)
    except (BenchError, h.HarnessError) as e:
        print("bench: %s failed: %s" % (phase, e), file=sys.stderr)
        status = 1
    finally:
        b.finish()
    summary = {
        "when": time.strftime("%Y-%m-%dT%H:%M:%S%z"),
        "wine": b.wine.loader, "bin_dir": b.wine.bin_dir,
        "host": {"cpus": os.cpu_count(), "kernel": platform.release(),
                 "load_avg": os.getloadavg()},
        "seconds": round(time.monotonic() - started, 1), "phase_seconds": timings,
        "complete": status == 0,
        "results": b.results,
    }
    path = os.path.join(out_dir, "summary.json")
    with open(path, "w", encoding="utf-8") as f:
        json.dump(summary, f, indent=2)
        f.write("\n")
    png = os.path.join(out_dir, "latency.png")
    how = plot.plot(b.results, png)
    print()
    print(table(b.results) if b.results else "(no results)")
    print()
    print("summary: %s" % path)
    print("plot:    %s (%s)" % (png, how))
    return status


if __name__ == "__main__":
    sys.exit(main(sys.argv))
