"""A console server (a qtprog without a message queue whose console handler
exits with code 7) stopped with "-stop n": once with "StopMethod=ctrlc", once
without the key. Default pauses."""

import time

import harness as h
from watch import BenchError, wait_for, wait_line

SERVER = {"CommandLine": "--console-server --record {dir}\\srv%d.rec", "AutoRestart": "no"}


def stop(bench, d, log, n):
    """(outcome line, ms from spawning "-stop n" to it, the server's record)."""
    log.poll()
    start = len(log.lines)
    t0 = time.monotonic()
    cmd = bench.background(d.exe, ["-stop", str(n)])
    _, seen, text = wait_line(log, r"^(Stopped process |Terminated process |The process "
                                   r"could not be stopped\.)", start, 60)
    bench.wait_proc(cmd)
    return text.split(" C:")[0], round((seen - t0) * 1000.0, 1), h.read_record(
        d.path("srv%d.rec" % n))


def measure(bench):
    servers = [dict(SERVER, StopMethod="ctrlc"), dict(SERVER)]
    for n, s in enumerate(servers):
        s["CommandLine"] = s["CommandLine"] % n
    d, name = bench.install("stopmethod", {"RestartInterval": 1000}, servers)
    log = bench.start(d)
    wait_for("both servers started",
             lambda: sum(1 for _, t in log.lines if t.startswith("Started program ")) == 2, 60)
    out = {}
    for n, key in enumerate(("ctrlc", "no_key")):
        line, took, record = stop(bench, d, log, n)
        if not line.startswith(("Stopped", "Terminated")):
            raise BenchError("-stop %d: %s" % (n, line))
        out[key] = {"outcome": line, "ms": took, "handler_ran": "ctrl-c" in record,
                    "exit_7": "exit 7" in record}
    bench.results["stop_method"] = dict(
        out, StopPause=1000,
        method="one service, two console servers; from spawning 'QuarnLoader -stop n' to the "
               "outcome line in the log; handler_ran/exit_7 from the server's own record")
    bench.finish()
