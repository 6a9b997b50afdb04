#!/usr/bin/env python3
"""The benchmarks: times Tavenor /c, the two floors of the floor program
(text-mode stream, raw binary blocks) and native grep -rlF on the same
generated driver stores, and the cost of a trace line to its sender with
Corvane against a window that keeps nothing, all in one run, and writes
the figures with every run behind them to docs/performance.md.  Run
through scripts/bench, which sets up Wine; WINEPREFIX must name the build's
prefix.

    run_bench.py <build folder> <docs/performance.md> [runs]
    run_bench.py <build folder> <docs/performance.md> viewer
                 (the viewer's section only, the rest of the file kept)
"""
import os
import re
import shutil
import statistics
import subprocess
import sys
import time

WINE = "/usr/lib/wine/wine64"
# The ID Tavenor and grep look for: one digit off the ID the stores name in
# a few folders, so named nowhere; every byte of every INF file is read, as
# the floors read them, and no 1000 ms pause of a clean weighs on the figures.
DEVICE_ID = "PCI\\VEN_BEEF&DEV_0043"


def wall(cmd, **kw):
    start = time.perf_counter()
    subprocess.run(cmd, check=False, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, **kw)
    return time.perf_counter() - start


# Lines per viewer run: a burst as large as the viewer's tests send.
VIEWER_LINES = 100000
VIEWER_RUNS = 3
# Debugger-output lines per run, and the lines behind the memory figure.
DEBUG_LINES = 50000
MEMORY_LINES = 200000
# Corvane's rate on either channel against a receiver that keeps nothing.
RATE_FLOOR = 0.9


def start_receiver(build, target, log):
    """Corvane (with a fresh log file) or one of the floor's programs."""
    bench = os.path.join(build, "bin", "tavenor-viewer-bench.exe")
    if target == "corvane":
        for old in (log, log + ".1"):
            if os.path.exists(old):
                os.remove(old)
        return subprocess.Popen([WINE, os.path.join(build, "bin", "Corvane.exe"), "/log", log],
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return subprocess.Popen([WINE, bench, target], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def bench_figures(build, target, log, mode, lines):
    """The bench's sender run in mode ("send" or "debug") with lines, into a
    fresh receiver; its figures as a dict of strings."""
    bench = os.path.join(build, "bin", "tavenor-viewer-bench.exe")
    receiver = start_receiver(build, target, log)
    out = subprocess.run([WINE, bench, mode, str(lines)], capture_output=True, text=True,
                         check=True).stdout
    receiver.wait(timeout=60)
    return dict(kv.split("=") for kv in out.split())


def viewer_run(build, target, log, lines=VIEWER_LINES):
    """One burst into a fresh window: Corvane (with a log file) or the
    floor's sink.  The sender's figures as a dict."""
    info = bench_figures(build, target, log, "send", lines)
    before, after = (int(x) for x in info["memory_kib"].split(","))
    return dict(total=float(info["total_us"]) / 1e6, median=float(info["median_us"]),
                p99=float(info["p99_us"]), max=float(info["max_us"]), grown=(after - before) / 1024)


def debug_run(build, target, log):
    """DEBUG_LINES lines to the debugger output, read by Corvane or the
    floor's reader: lines per second."""
    info = bench_figures(build, target, log, "debug", DEBUG_LINES)
    return DEBUG_LINES / (float(info["total_us"]) / 1e6)


def machine():
    """The machine and its load, as the figures are told with."""
    model = "?"
    with open("/proc/cpuinfo") as f:
        for line in f:
            if line.startswith("model name"):
                model = line.split(":", 1)[1].strip()
                break
    return "%s, %d cores" % (model, os.cpu_count() or 0)


def viewer_section(build, stage):
    log = os.path.join(stage, "corvane.log")
    os.makedirs(stage, exist_ok=True)
    load_before = os.getloadavg()
    # Side by side: each run of Corvane right after one of its floor, so
    # that both meet the same load; the ratio is taken per pair.
    runs = {"sink": [], "corvane": []}
    debug = {"reader": [], "corvane": []}
    for _ in range(VIEWER_RUNS):
        for target in ("sink", "corvane"):
            runs[target].append(viewer_run(build, target, log))
        for target in ("reader", "corvane"):
            debug[target].append(debug_run(build, target, log))
    memory_run = viewer_run(build, "corvane", log, MEMORY_LINES)
    memory = memory_run["grown"] * 1000000 / MEMORY_LINES
    load_after = os.getloadavg()
    med = lambda target, key: statistics.median(r[key] for r in runs[target])
    window_ratios = [s["total"] / c["total"] for s, c in zip(runs["sink"], runs["corvane"])]
    debug_ratios = [c / r for r, c in zip(debug["reader"], debug["corvane"])]
    window_ratio = statistics.median(window_ratios)
    debug_ratio = statistics.median(debug_ratios)
    lines = ["| window | lines/s | median send | 99th percentile | slowest send | memory grown |",
             "|---|---|---|---|---|---|"]
    for target, name in (("sink", "floor: a window that keeps nothing"), ("corvane", "Corvane with /log")):
        lines.append("| %s | %.0f | %.0f µs | %.0f µs | %.1f ms | %.1f MB |" % (
            name, VIEWER_LINES / med(target, "total"), med(target, "median"), med(target, "p99"),
            med(target, "max") / 1000, med(target, "grown")))
    details = "\n".join("- %s, run %d: %.2f s in all, slowest send %.1f ms, %.1f MB grown" % (
        target, i + 1, r["total"], r["max"] / 1000, r["grown"])
        for target, results in runs.items() for i, r in enumerate(results))
    ratio = med("corvane", "median") / med("sink", "median")
    debug_med = {target: statistics.median(results) for target, results in debug.items()}
    debug_lines = "\n".join([
        "| reader | debugger-output lines/s | runs |",
        "|---|---|---|",
        "| floor: a reader that keeps nothing | %.0f | %s |" % (
            debug_med["reader"], ", ".join("%.0f" % x for x in debug["reader"])),
        "| Corvane with /log | %.0f | %s |" % (
            debug_med["corvane"], ", ".join("%.0f" % x for x in debug["corvane"]))])
    verdict = lambda x: "meets" if x >= RATE_FLOOR else "misses"
    return """## The viewer

Measured by `scripts/bench viewer` in one run on %s (%s; load average
%.1f before, %.1f after, from the other work on the machine). Corvane and
its floor run side by side: each of Corvane's %d runs right after one of
the floor's, and the ratio is taken per pair, so that both meet the same
load. A monitor's rate is what every writer on the machine runs at, so the
floor for both channels is %.1f of a receiver that keeps nothing.

| channel | Corvane / floor, median | per pair | floor |
|---|---|---|---|
| window messages (`WM_COPYDATA`), lines/s | %.2f (%s) | %s | %.1f |
| debugger output, lines/s | %.2f (%s) | %s | %.1f |
| memory per line (window messages, listed and logged) | %.0f bytes | | |

Window messages: `tavenor-viewer-bench.exe send %d` (bench/viewer_bench.cpp)
sends %s trace-sized lines (74 bytes) one by one, as Tavenor does, each a
`WM_COPYDATA` message that waits for its answer. The floor is
`tavenor-viewer-bench.exe sink`, a window with the viewer's title that
answers and keeps nothing: the platform's cost of one message between two
processes. Corvane lists every line and writes it to its log. "Memory
grown" is the window's private bytes after the burst less before.

%s

A line costs its sender %.2f times what the floor's does (median send).

Debugger output: `tavenor-viewer-bench.exe debug %d` writes %s trace lines,
each followed by a line feed as Tavenor writes them; a writer waits for the
reader to take each string, so the rate is the reader's. The floor is
`tavenor-viewer-bench.exe reader`, which takes each string and keeps
nothing. Corvane's readers only copy each string and free the buffer; an
intake thread of its own joins, names and queues the rows.

%s

Memory: Corvane grew by %.0f MB per million lines, %.0f bytes a line
(%s window messages of 74 bytes, listed and logged, scaled to a million).
The list keeps 1,000,000 lines at most, so this is about what it holds
when full of such lines.

%s
""" % (time.strftime("%Y-%m-%d"), machine(), load_before[0], load_after[0], VIEWER_RUNS, RATE_FLOOR,
       window_ratio, verdict(window_ratio), ", ".join("%.2f" % x for x in window_ratios), RATE_FLOOR,
       debug_ratio, verdict(debug_ratio), ", ".join("%.2f" % x for x in debug_ratios), RATE_FLOOR,
       memory * 1.048576,
       VIEWER_LINES, "{:,}".format(VIEWER_LINES), "\n".join(lines), ratio,
       DEBUG_LINES, "{:,}".format(DEBUG_LINES), debug_lines,
       memory, memory * 1.048576, "{:,}".format(MEMORY_LINES), details)


def main():
    build, doc = sys.argv[1], sys.argv[2]
    if len(sys.argv) > 3 and sys.argv[3] == "viewer":
        # The viewer's section in place of the one the file has.
        section = viewer_section(build, os.path.join(build, "bench-stage"))
        with open(doc) as f:
            old = f.read()
        start = old.index("## The viewer")
        later = old.find("\n## ", start + 1)
        new = old[:start] + section + (old[later + 1:] if later >= 0 else "")
        with open(doc, "w") as f:
            f.write(new)
        print(section)
        return
    runs = int(sys.argv[3]) if len(sys.argv) > 3 else 7
    here = os.path.dirname(os.path.abspath(__file__))
    prefix = os.environ["WINEPREFIX"]
    store = os.path.join(prefix, "drive_c", "windows", "system32", "DriverStore", "FileRepository")
    stage = os.path.join(build, "bench-stage")
    shutil.rmtree(stage, ignore_errors=True)
    os.makedirs(stage)
    shutil.copy(os.path.join(build, "bin", "Tavenor.exe"), stage)
    shutil.copy(os.path.join(build, "bin", "double", "DifxApix64.dll"), stage)
    tavenor = os.path.join(stage, "Tavenor.exe")
    floor = os.path.join(build, "bin", "tavenor-floor.exe")
    win_store = "C:\\windows\\system32\\DriverStore\\FileRepository"
    raw_runs = []

    def median_runs(label, fn):
        fn()  # warm the page cache and Wine
        times = [fn() for _ in range(runs)]
        raw_runs.append((label, times))
        return statistics.median(times)

    # Wine's start-up and the sweep's fixed cost: a /c whose folder pattern
    # lists nothing.
    os.makedirs(store, exist_ok=True)
    startup = median_runs("start-up", lambda: wall([WINE, tavenor, "/c", "nomatch*:" + DEVICE_ID]))

    def measure(key, shape_args):
        out = subprocess.run([sys.executable, os.path.join(here, "make_store.py"), store] + shape_args,
                             check=True, capture_output=True, text=True).stdout
        info = dict(kv.split("=") for kv in out.split())
        folders, inf_bytes = int(info["folders"]), int(info["inf_bytes"])
        t_wall = median_runs(key + " Tavenor wall", lambda: wall([WINE, tavenor, "/c", DEVICE_ID]))
        t_tavenor = t_wall - startup

        def floor_us(mode):
            r = subprocess.run([WINE, floor, mode, win_store], capture_output=True, text=True, check=True)
            return int(re.search(r"us=(\d+)", r.stdout).group(1)) / 1e6

        t_text = median_runs(key + " text floor", lambda: floor_us("text"))
        t_raw = median_runs(key + " raw floor", lambda: floor_us("raw"))
        t_grep = median_runs(key + " grep", lambda: wall(["grep", "-rlF", "--include=*.inf", DEVICE_ID, store]))
        return dict(folders=folders, mb=inf_bytes / 1e6, tavenor=t_tavenor, text=t_text,
                    raw=t_raw, grep=t_grep)

    results = {}
    results["big"] = measure("big", ["big"])
    for n in (100, 1000, 5000):
        results["many%d" % n] = measure("many%d" % n, ["many", str(n)])
    results["mixed5000"] = measure("mixed5000", ["mixed", "5000"])
    shutil.rmtree(os.path.dirname(store), ignore_errors=True)
    viewer = viewer_section(build, stage)
    shutil.rmtree(stage, ignore_errors=True)

    size = os.path.getsize(os.path.join(build, "bin", "Tavenor.exe"))
    lines = []
    lines.append("| store | folders | INF MB | Tavenor /c | text floor | raw floor | grep -rlF "
                 "| Tavenor against the raw floor | against the text floor |")
    lines.append("|---|---|---|---|---|---|---|---|---|")
    for key, r in results.items():
        if key == "big":
            unit = lambda t: "%.0f MB/s" % (r["mb"] / t)
            raw_ratio = "%.2f of its MB/s" % (r["raw"] / r["tavenor"])
            text_ratio = "%.2f of its MB/s" % (r["text"] / r["tavenor"])
        else:
            unit = lambda t: "%.0f µs/folder" % (t * 1e6 / r["folders"])
            raw_ratio = "%.2f times its cost" % (r["tavenor"] / r["raw"])
            text_ratio = "%.2f times its cost" % (r["tavenor"] / r["text"])
        lines.append("| %s | %d | %.1f | %s | %s | %s | %s | %s | %s |" % (
            key, r["folders"], r["mb"], unit(r["tavenor"]), unit(r["text"]), unit(r["raw"]), unit(r["grep"]),
            raw_ratio, text_ratio))
    table = "\n".join(lines)

    m = [results["many%d" % n] for n in (100, 1000, 5000)]
    per = ["%.0f" % (x["tavenor"] * 1e6 / x["folders"]) for x in m]
    # The cost of one more folder, free of every fixed cost: the slope
    # between 1,000 and 5,000 folders.
    slope = lambda key: (m[2][key] - m[1][key]) * 1e6 / (m[2]["folders"] - m[1]["folders"])
    slopes = "Tavenor %.0f µs, text floor %.0f µs (%.2f times), raw floor %.0f µs (%.2f times)" % (
        slope("tavenor"), slope("text"), slope("tavenor") / slope("text"), slope("raw"),
        slope("tavenor") / slope("raw"))
    details = "\n".join("- %s: %s" % (label, ", ".join("%.1f ms" % (t * 1000) for t in times))
                        for label, times in raw_runs)
    report = """# Performance

## The sweep

Measured by `scripts/bench` in one run on %s (Wine %s, %d cores), median of %d
runs each after one warm-up run, page cache warm.

- Tavenor: wall time of `Tavenor.exe /c %s`, less Wine's start-up and the
  sweep's fixed cost (%.0f ms, a `/c` whose folder pattern lists nothing).
  No INF file names that ID, so every byte of every INF file is read, as the
  floors read them, and no package is cleaned (a clean adds its copy, the
  uninstall and a fixed 1000 ms pause per package).
- text floor: `tavenor-floor.exe text` (bench/floor.cpp), timed inside the
  process: list the store, list each folder's `*.inf`, open each with the
  buffered stream in text mode, read every byte with `_fgetc_nolock`.
- raw floor: `tavenor-floor.exe raw`: the same listings, each file read in
  binary 1 MiB blocks with `ReadFile` and `memchr` run over every block.
- grep: native `grep -rlF --include=*.inf` on the same files (it finds no
  UTF-16 file; in the mixed store it reads them as bytes all the same).

Stores (bench/make_store.py): *big* is 100 package folders with 4 to 6 MB
INF files (scan speed); *manyN* is N folders with 3 to 12 KB INF files (cost
per folder); *mixed5000* is many5000 with every fourth INF file UTF-16LE
(twice the bytes), as real stores mix them. Each folder also holds three
small binary files.

%s

Cost per folder over the series 100 / 1,000 / 5,000: %s µs. At 100 and
1,000 folders a whole sweep takes a few tenths of a second and single runs
spread by a factor of two or three (every run is listed below), so the cost
of one more folder is taken as the slope from 1,000 to 5,000 folders: %s.

Tavenor.exe is %d bytes.

### Every run

Milliseconds as measured, warm-up runs left out; Tavenor's are wall times
before the start-up is taken off.

%s

%s""" % (time.strftime("%Y-%m-%d"), subprocess.run([WINE, "--version"], capture_output=True, text=True).stdout.strip(),
       os.cpu_count(), runs, DEVICE_ID, startup * 1000, table, " / ".join(per), slopes, size, details, viewer)
    with open(doc, "w") as f:
        f.write(report)
    print(report)


if __name__ == "__main__":
    main()
