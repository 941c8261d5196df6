"""A program that dies at once, supervised by two services side by side over
the same window: one restarts it every pass, the other with the restart
back-off keys set."""

import os
import time

from harness_procs import cpu_ticks
from watch import find_linux_pid, wait_for

CLK_TCK = os.sysconf("SC_CLK_TCK")
CRASHER = {"CommandLine": "--no-window --exit-after 0", "StartPause": 0, "StopPause": 0}
BACK_OFF = {"MinUptime": 5000, "MaxRestartDelay": 10000}


def measure(bench, seconds):
    sides = {}
    for key, extra in (("plain", {}), ("backoff", BACK_OFF)):
        d, name = bench.install("crash_" + key, {"RestartInterval": 1000}, [dict(CRASHER, **extra)])
        sides[key] = {"dir": d, "log": bench.start(d)}
    for key, side in sides.items():
        wait_for("first launch (%s)" % key, lambda: any(
            t.startswith("Started program ") for _, t in side["log"].lines), 60)
        side["pid"] = find_linux_pid(bench.wine.prefix, "bench_crash_%s\\QuarnLoader.exe" % key)
        side["bytes0"] = os.path.getsize(side["dir"].log)
        side["cpu0"] = cpu_ticks(side["pid"])
    t0 = time.monotonic()
    wait_for("the window", lambda: time.monotonic() - t0 >= seconds, seconds + 5)
    span = time.monotonic() - t0
    out = {}
    for key, side in sides.items():
        grown = os.path.getsize(side["dir"].log) - side["bytes0"]
        lines = [text for seen, text in side["log"].lines if seen >= t0]
        out[key] = {
            "launches": sum(1 for text in lines if text.startswith("Started program ")),
            "delay_lines": sum(1 for text in lines if " Restart delayed by " in text),
            "log_bytes": grown,
            "log_bytes_per_hour": round(grown * 3600.0 / span),
            "service_cpu_s": (cpu_ticks(side["pid"]) - side["cpu0"]) / CLK_TCK,
        }
    bench.results["crash_loop"] = dict(
        out, seconds=round(span, 1), settings=BACK_OFF, RestartInterval=1000,
        method="two services at once, each supervising one qtprog that exits at once, one "
               "with the back-off keys; launches = 'Started program' lines in the window, log "
               "bytes = growth of each log, CPU = utime+stime of each service's Linux process")
    bench.finish()
