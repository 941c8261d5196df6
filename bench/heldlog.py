"""A log line while another program holds the log file: heldlog.exe (the
product's log, keeping lines as the service does) against holdfile.exe,
once 1 MiB is kept, without a limit and with one."""

import os

import harness as h
from watch import BenchError, wait_for, windows_pids

LIMIT_KIB = 1024


def lines_per_second(bench, d, kib, window_ms):
    rc, text = bench.wine.run(d.path("heldlog.exe"), [d.winpath(h.LOG_NAME), kib, window_ms],
                              timeout=300)
    fields = dict(kv.split("=", 1) for kv in text.split() if "=" in kv)
    if rc != 0 or set(fields) != {"kept", "lines", "ms"}:
        raise BenchError("heldlog with %d KiB: rc %d, %r" % (kib, rc, text))
    return float(fields["lines"]) * 1000.0 / float(fields["ms"])


def measure(bench, window_ms):
    d = h.make_install_dir(bench.wine, "bench_heldlog", programs=("heldlog.exe", "holdfile.exe"))
    out = d.path("hold.out")
    holder = bench.wine.start(d.path("holdfile.exe"), [d.winpath(h.LOG_NAME), 600000],
                              stdout_path=out)
    try:
        wait_for("holdfile holds", lambda: "held" in h.read_record(out), 30)
        plain = lines_per_second(bench, d, 0, window_ms)
        limited = lines_per_second(bench, d, LIMIT_KIB, window_ms)
        if os.path.getsize(d.log) != 0:
            raise BenchError("a line reached the held log file")
    finally:
        pids = windows_pids(bench.wine, "holdfile.exe")
        bench.wine.stop(holder, win_pid=pids[0] if pids else None, timeout=30)
    bench.results["held_log"] = {
        "kept_bytes": 1024 * 1024, "window_ms": window_ms, "LogMaxSize": LIMIT_KIB,
        "method": "heldlog.exe fills the kept block while holdfile.exe holds the log file, "
                  "then writes stamped 100-byte lines for the window; once without "
                  "LogMaxSize, once with it",
        "no_limit_lines_per_s": round(plain),
        "limit_lines_per_s": round(limited),
        "ratio": limited / plain,
    }
