"""The health check's two figures.

Pass length: 126 window-less programs whose TCP checks all fail in every pass
(HealthInterval 0, never enough failures to stop them), beside program 0 that
exits at once so that each pass shows one restart line. Once against a port
nothing listens on (Linux refuses at once under Wine, where Windows takes its
SYN retries), once against a port whose backlog is full, so that every check
runs to its HealthTimeout of 2000 ms: the worst case.

Start period: the native healthfigures program (bench/healthfigures.cpp) on
the simulated platform's virtual clock, since ten launches of a server that
opens its port only after 45 s would take twenty minutes of real time."""

import os
import socket
import statistics
import subprocess

from watch import BenchError, pass_times

RESTART_INTERVAL = 1000
HEALTH_TIMEOUT = 2000
PROGRAMS = 126


def full_backlog_port():
    """A listening port that accepts nothing: its backlog is filled, so later
    connection attempts get no answer at all. The sockets must stay open."""
    server = socket.socket()
    server.bind(("127.0.0.1", 0))
    server.listen(0)
    held = [server]
    for _ in range(3):
        c = socket.socket()
        c.setblocking(False)
        c.connect_ex(server.getsockname())
        held.append(c)
    return server.getsockname()[1], held


def closed_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1], []


def pass_lengths(bench, key, port, passes):
    progs = [{"CommandLine": "--no-window --exit-after 0", "StartPause": 0, "StopPause": 0}]
    progs += [{"CommandLine": "--no-window", "StartPause": 0, "StopPause": 0,
               "PrcFileLogging": "no", "HealthCheck": "tcp", "HealthPort": port,
               "HealthTimeout": HEALTH_TIMEOUT, "HealthInterval": 0, "HealthStartPeriod": 0,
               "HealthRetries": 1000000} for _ in range(PROGRAMS)]
    d, _ = bench.install(key, {"RestartInterval": RESTART_INTERVAL}, progs)
    log = bench.start(d, timeout=180)
    attempts, launches = pass_times(log, passes, 240, 60)
    bench.finish()
    lengths = [(b - a) * 1000.0 for a, b in zip(attempts, attempts[1:])]
    net = [x - l * 1000.0 for x, l in zip(lengths, launches)]
    limit = (RESTART_INTERVAL + HEALTH_TIMEOUT) * 1.1
    return {"passes": len(lengths), "median_ms": round(statistics.median(lengths), 1),
            "max_ms": round(max(lengths), 1),
            "max_without_launch_ms": round(max(net), 1), "limit_ms": limit,
            "within_limit": max(net) <= limit, "samples_ms": [round(x, 1) for x in lengths]}


def start_period(native_dir):
    exe = os.path.join(native_dir, "healthfigures")
    if not os.path.exists(exe):
        raise BenchError("%s is missing: build the native flavour" % exe)
    out = subprocess.run([exe, "10"], capture_output=True, text=True, timeout=600, check=True)
    rows = {}
    for line in out.stdout.split("\n"):
        fields = dict(kv.split("=", 1) for kv in line.split())
        if fields:
            period = fields.pop("HealthStartPeriod")
            rows["start_period_" + period] = {k: int(v) for k, v in fields.items()}
    return rows


def measure(bench, passes=10):
    figures = {}
    for key, make in (("closed", closed_port), ("silent", full_backlog_port)):
        port, held = make()
        try:
            figures["pass_" + key] = pass_lengths(bench, "health_" + key, port, passes)
        finally:
            for s in held:
                s.close()
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    figures.update(start_period(os.environ.get("QL_NATIVE_BIN_DIR",
                                               os.path.join(root, "build", "native"))))
    figures["method"] = (
        "pass: time between successive restart lines of program 0 (one per pass) beside %d "
        "programs with a failing TCP check each pass, RestartInterval %d, HealthTimeout %d; "
        "start period: 10 launches of a server that opens its port 45 s after each start and "
        "exits after 120 s, default interval and retries, on the virtual clock"
        % (PROGRAMS, RESTART_INTERVAL, HEALTH_TIMEOUT))
    bench.results["health"] = figures
