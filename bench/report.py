"""The table printed at the end of a run."""


def fmt(v, unit=""):
    if v is None:
        return "-"
    if isinstance(v, float):
        return ("%.2f" % v if abs(v) < 10 else "%.0f" % v) + unit
    return "%s%s" % (v, unit)


def table(r):
    rows = []
    s = r.get("service_start")
    if s:
        rows.append(("service start (-start to RUNNING)", fmt(s["median_ms"], " ms"),
                     "nullsvc " + fmt(s["nullsvc_median_ms"], " ms"),
                     "x%s of floor" % fmt(s["ratio_to_nullsvc"])))
    s = r.get("restart_latency")
    if s:
        rows.append(("restart latency, %d kills" % s["kills"], fmt(s["median_ms"], " ms"),
                     "worst " + fmt(s["worst_ms"], " ms"),
                     "worst/bound %s (bound %d ms)" % (fmt(s["worst_to_bound"]), s["bound_ms"])))
        rows.append(("  death to relaunch (record)", fmt(s["relaunch_median_ms"], " ms"),
                     "worst " + fmt(s["relaunch_worst_ms"], " ms"), ""))
    s = r.get("hang_to_stop")
    if s:
        rows.append(("hang to 'not responding'", fmt(s["detect_median_ms"], " ms"),
                     "worst " + fmt(s["detect_worst_ms"], " ms"),
                     "median/bound %s (bound %d ms)" % (fmt(s["detect_median_to_bound"]),
                                                       s["bound_ms"])))
        rows.append(("hang to terminated", fmt(s["stop_median_ms"], " ms"),
                     "worst " + fmt(s["stop_worst_ms"], " ms"),
                     "StopPause %d ms" % s["StopPause"]))
    s = r.get("pass_length")
    if s:
        for count, p in s["by_count"].items():
            rows.append(("pass length, %s programs" % count, fmt(p["median_ms"], " ms"),
                         "launch in it " + fmt(p["launch_median_ms"], " ms"),
                         "ratio %s, w/o launch %s (nominal %s)" % (
                             fmt(p["ratio"]), fmt(p["ratio_without_launch"]),
                             fmt(p["nominal_ratio"]))))
    s = r.get("console_round_trip")
    if s:
        rows.append(("console -stop n to log line", fmt(s["median_ms"], " ms"),
                     "worst " + fmt(s["worst_ms"], " ms"),
                     "console exits after " + fmt(s["console_exit_median_ms"], " ms")))
    s = r.get("crash_loop")
    if s:
        for key, label in (("plain", "crash loop, %ds: no back-off"), ("backoff", "  with back-off")):
            c = s[key]
            rows.append((label % s["seconds"] if "%" in label else label,
                         "%d launches" % c["launches"],
                         fmt(c["log_bytes_per_hour"] / 1e6, " MB log/h"),
                         "service CPU " + fmt(c["service_cpu_s"], " s")))
    s = r.get("held_log")
    if s:
        rows.append(("log line, file held, 1 MiB kept", fmt(s["limit_lines_per_s"], " lines/s"),
                     "no limit " + fmt(s["no_limit_lines_per_s"], " lines/s"),
                     "x%s with LogMaxSize" % fmt(s["ratio"])))
    s = r.get("output")
    if s:
        f, e, m = s["flood"], s["held"], s["many"]
        mb = lambda b: fmt(b / 1e6, " MB/s")  # noqa: E731
        rows.append(("output captured, flood %ds" % f["seconds"], mb(f["captured_bytes_per_s"]),
                     "own file %s, null %s" % (mb(f["own_file_bytes_per_s"]),
                                               mb(f["null_bytes_per_s"])),
                     "x%s of own file, %d lost" % (fmt(f["ratio_to_own_file"]), f["lines_lost"])))
        rows.append(("  the flood into a plain pipe", mb(f["plain_pipe_bytes_per_s"]),
                     "read by its parent", "captured x%s of it" % fmt(f["ratio_to_plain_pipe"])))
        rows.append(("  file held %d ms, 100 lines/s" % e["hold_ms"],
                     fmt(e["program_lines_per_s"], " lines/s"),
                     "slowest write " + fmt(e["slowest_write_ms"], " ms"),
                     "%d lost, %s" % (e["lines_lost"],
                                      "in order" if e["in_order"] else "DISORDER")))
        on, off = m["captured"], m["not_captured"]
        rows.append(("  %d programs, 20 lines/s, pass" % m["programs"],
                     fmt(on["pass_median_ms"], " ms"),
                     "not captured " + fmt(off["pass_median_ms"], " ms"),
                     "ratio " + fmt(m["pass_ratio"])))
        rows.append(("    the same writes, piped elsewhere",
                     fmt(m["piped_elsewhere"]["pass_median_ms"], " ms"),
                     "each read by its own parent", "ratio " + fmt(m["piped_pass_ratio"])))
        mib = lambda b: None if b is None else b / 1048576.0  # noqa: E731
        rows.append(("    service CPU / working set",
                     "%s / %s" % (fmt(on["service_cpu_s"], " s"), fmt(mib(on["ws_bytes"]), " MiB")),
                     "not captured %s / %s" % (fmt(off["service_cpu_s"], " s"),
                                               fmt(mib(off["ws_bytes"]), " MiB")),
                     "+" + fmt(mib(m["ws_growth_bytes"]), " MiB")))
    s = r.get("health")
    if s:
        for key, label in (("pass_closed", "pass, 126 checks, closed port"),
                           ("pass_silent", "pass, 126 checks, silent port")):
            p = s[key]
            rows.append((label, fmt(p["median_ms"], " ms"), "worst " + fmt(p["max_ms"], " ms"),
                         "w/o launch %s, limit %s: %s" % (
                             fmt(p["max_without_launch_ms"], " ms"), fmt(p["limit_ms"], " ms"),
                             "met" if p["within_limit"] else "missed")))
        on, off = s["start_period_60000"], s["start_period_0"]
        rows.append(("slow starter, %d launches" % on["launches"],
                     "%d check restarts" % on["restarts_by_check"],
                     "period 0: %d" % off["restarts_by_check"], "virtual clock"))
    s = r.get("failure")
    if s:
        c = s["crash_loop"]
        rows.append(("crash loop, MaxRestarts=5", "%d launches" % c["launches"],
                     "failed after " + fmt(c["ms_to_failed"], " ms"),
                     "%d events (%d give-up)" % (c["events"], c["give_up_events"])))
        rows.append(("pass, failure command hangs", fmt(s["pass_with_hanging_command_ms"], " ms"),
                     "without " + fmt(s["pass_without_command_ms"], " ms"),
                     "ratio %s, ended after %s ms" % (fmt(s["pass_ratio"]),
                                                      s["command_ended_after_ms"])))
    s = r.get("stop_method")
    if s:
        c, p = s["ctrlc"], s["no_key"]
        rows.append(("console server -stop n, ctrlc", fmt(c["ms"], " ms"),
                     "no key " + fmt(p["ms"], " ms"),
                     "%s%s / %s" % (c["outcome"], " by its handler" if c["handler_ran"] else "",
                                    p["outcome"])))
    s = r.get("parallel_stop")
    if s:
        p, o = s["parallel"], s["no_key"]
        rows.append(("service stop, %d deaf programs, 1 each" % s["programs"],
                     fmt(p["stopped_ms"], " ms"), "no key " + fmt(o["stopped_ms"], " ms"),
                     "goal %d ms %s" % (s["goal_ms"], "met" if s["goal_met"] else "missed")))
        rows.append(("  the ControlService call", fmt(p["control_ms"], " ms"),
                     "no key " + fmt(o["control_ms"], " ms"),
                     "%s / %s" % (p["control_result"], o["control_result"])))
    s = r.get("start_command")
    if s:
        rows.append(("restart under '-start n', StartPause 60 s", fmt(s["median_ms"], " ms"),
                     "no command " + fmt(s["baseline_median_ms"], " ms"),
                     "x%s, bound %d ms %s" % (fmt(s["ratio"]), s["bound_ms"],
                                             "met" if s["within_bound"] else "missed")))
    s = r.get("reload")
    if s:
        u, a = s["unchanged"], s["added"]
        rows.append(("reload, %d programs, nothing changed" % s["programs"],
                     fmt(u["ms_to_outcome"], " ms"),
                     "of it reloading " + fmt(u["supervision_thread_ms"], " ms"),
                     "%d started/stopped, %s" % (u["started_or_stopped"], "within one pass"
                                                 if u["within_one_pass"] else "over one pass")))
        rows.append(("  one added to 126: its start", fmt(a["ms_to_new_start"], " ms"),
                     "others kept pids: %s" % ("yes" if a["others_kept_pids"] else "NO"),
                     "bound %d ms %s" % (a["bound_ms"], "met" if a["within_bound"] else "missed")))
        rows.append(("    to reload line / reading / to start",
                     " / ".join(fmt(x) for x in a["split_ms"]) + " ms", "", ""))
    s = r.get("idle_cost")
    if s:
        rows.append(("CPU, %d idle programs, %ds" % (s["programs"], round(s["seconds"])),
                     fmt(s["service_cpu_s"], " s"), "nullsvc " + fmt(s["nullsvc_cpu_s"], " s"),
                     ("x%s of floor" % fmt(s["cpu_ratio"])) if s["cpu_ratio"] is not None
                     else "floor < 1 tick: x>=%s" % fmt(s["cpu_ratio_at_least"])))
        mib = lambda b: None if b is None else b / 1048576.0  # noqa: E731
        rows.append(("working set, end of window", fmt(mib(s["service_ws_bytes"][1]), " MiB"),
                     "nullsvc " + fmt(mib(s["nullsvc_ws_bytes"][1]), " MiB"),
                     "x%s of floor" % fmt(s["ws_ratio"])))
        rows.append(("VmRSS, end of window", fmt(mib(s["service_rss_bytes"][1]), " MiB"),
                     "nullsvc " + fmt(mib(s["nullsvc_rss_bytes"][1]), " MiB"),
                     "x%s of floor" % fmt(s["rss_ratio"])))
    widths = [max(len(row[k]) for row in rows + [("measure", "median", "other", "ratio")])
              for k in range(4)]
    lines = []
    for row in [("measure", "median", "other", "ratio / bound")] + rows:
        lines.append("  ".join(c.ljust(widths[k]) for k, c in enumerate(row)).rstrip())
        if len(lines) == 1:
            lines.append("  ".join("-" * w for w in widths))
    return "\n".join(lines)
