"""The benchmark's plot: restart latencies (left) and pass lengths (right).

With matplotlib a labelled chart; without it a plain one drawn by a tiny PNG
writer here (points, bound lines, axes and tick marks, no text).
"""

import struct
import zlib


def _series(results):
    r = results.get("restart_latency") or {}
    p = (results.get("pass_length") or {}).get("by_count", {})
    return r, p


def plot(results, path):
    """Writes path; returns how it was drawn."""
    try:
        import matplotlib
        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
        import matplotlib.ticker
    except ImportError:
        _plain(results, path)
        return "plain PNG writer, matplotlib not available"
    r, p = _series(results)
    fig, (a, b) = plt.subplots(1, 2, figsize=(11, 4.5))
    if r:
        xs = list(range(1, len(r["samples_ms"]) + 1))
        a.plot(xs, r["samples_ms"], "o-", label="death to 'Started program' logged")
        a.plot(xs, r["relaunch_samples_ms"], "s--", ms=4, label="death to relaunch (record)")
        a.axhline(r["bound_ms"], color="red", ls=":",
                  label="bound: pass + 2 x StartPause (%d ms)" % r["bound_ms"])
        a.axhline(r["median_ms"], color="gray", ls="-", lw=0.8,
                  label="median %.0f ms" % r["median_ms"])
        a.set_xlabel("kill")
        a.xaxis.set_major_locator(matplotlib.ticker.MaxNLocator(integer=True))
        a.set_ylabel("ms")
        a.set_ylim(bottom=0)
        a.set_title("Restart latency (RestartInterval %d, StartPause %d)"
                    % (r["RestartInterval"], r["StartPause"]))
        a.legend(fontsize=8, loc="lower right")
    if p:
        counts = sorted(p, key=int)
        data = [p[c]["samples_ms"] for c in counts]
        b.boxplot(data, labels=["%s program%s" % (c, "" if c == "1" else "s") for c in counts])
        for k, c in enumerate(counts, start=1):
            b.plot([k] * len(p[c]["samples_ms"]), p[c]["samples_ms"], "k.", alpha=0.5)
            b.plot([k - 0.3, k + 0.3], [p[c]["nominal_sleep_ms"]] * 2, color="orange")
        ri = results["pass_length"]["RestartInterval"]
        b.axhline(ri, color="red", ls=":", label="RestartInterval %d ms" % ri)
        b.plot([], [], color="orange", label="nominal sleep: Count x (RI / Count)")
        b.set_ylabel("ms")
        b.set_ylim(bottom=0)
        b.set_title("Pass length")
        b.legend(fontsize=8, loc="lower right")
    fig.tight_layout()
    fig.savefig(path, dpi=100)
    plt.close(fig)
    return "matplotlib"


# -- plain PNG ------------------------------------------------------------------

class Canvas:
    def __init__(self, w, h):
        self.w, self.h = w, h
        self.px = bytearray(b"\xff" * (w * h * 3))

    def dot(self, x, y, color, r=0):
        for dy in range(-r, r + 1):
            for dx in range(-r, r + 1):
                xx, yy = int(x) + dx, int(y) + dy
                if 0 <= xx < self.w and 0 <= yy < self.h:
                    i = (yy * self.w + xx) * 3
                    self.px[i:i + 3] = bytes(color)

    def hline(self, x0, x1, y, color, dash=0):
        for x in range(int(x0), int(x1) + 1):
            if not dash or (x // dash) % 2 == 0:
                self.dot(x, y, color)

    def vline(self, x, y0, y1, color):
        for y in range(int(y0), int(y1) + 1):
            self.dot(x, y, color)

    def save(self, path):
        raw = b"".join(b"\x00" + bytes(self.px[y * self.w * 3:(y + 1) * self.w * 3])
                       for y in range(self.h))

        def chunk(kind, data):
            body = kind + data
            return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

        with open(path, "wb") as f:
            f.write(b"\x89PNG\r\n\x1a\n")
            f.write(chunk(b"IHDR", struct.pack(">IIBBBBB", self.w, self.h, 8, 2, 0, 0, 0)))
            f.write(chunk(b"IDAT", zlib.compress(raw, 9)))
            f.write(chunk(b"IEND", b""))


BLACK, GRAY, RED, BLUE, GREEN, ORANGE = ((0, 0, 0), (200, 200, 200), (220, 0, 0),
                                         (30, 80, 220), (0, 150, 0), (240, 150, 0))


def _panel(c, x0, y0, w, h, top):
    """Axes of one panel; returns y(value) for it. Grid line every 500 ms."""
    c.vline(x0, y0, y0 + h, BLACK)
    c.hline(x0, x0 + w, y0 + h, BLACK)
    step = 500
    v = step
    while v < top:
        y = y0 + h - h * v / top
        c.hline(x0 + 1, x0 + w, y, GRAY, dash=3)
        c.hline(x0 - 4, x0, y, BLACK)
        v += step
    return lambda val: y0 + h - h * min(val, top) / top


def _plain(results, path):
    r, p = _series(results)
    c = Canvas(900, 400)
    if r:
        vals = r["samples_ms"] + r["relaunch_samples_ms"] + [r["bound_ms"]]
        y = _panel(c, 40, 20, 380, 350, max(vals) * 1.15)
        n = len(r["samples_ms"])
        xs = [40 + 380 * (k + 0.5) / n for k in range(n)]
        c.hline(41, 420, y(r["bound_ms"]), RED, dash=6)
        for x, a, b in zip(xs, r["samples_ms"], r["relaunch_samples_ms"]):
            c.dot(x, y(a), BLUE, 3)
            c.dot(x, y(b), GREEN, 2)
    if p:
        counts = sorted(p, key=int)
        ri = results["pass_length"]["RestartInterval"]
        vals = [v for cnt in counts for v in p[cnt]["samples_ms"]] + [ri]
        y = _panel(c, 480, 20, 380, 350, max(vals) * 1.15)
        c.hline(481, 860, y(ri), RED, dash=6)
        for k, cnt in enumerate(counts):
            x = 480 + 380 * (k + 0.5) / len(counts)
            c.hline(x - 30, x + 30, y(p[cnt]["nominal_sleep_ms"]), ORANGE)
            for j, v in enumerate(p[cnt]["samples_ms"]):
                c.dot(x - 15 + 3 * (j % 11), y(v), BLUE, 2)
    c.save(path)
