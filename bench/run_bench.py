#!/usr/bin/env python3
"""The sweep benchmark: times Tavenor /c, the two floors of the floor
program (text-mode stream, raw binary blocks) and native grep -rlF on the
same generated driver stores, all in one run, and writes the figures with
every run behind them to docs/performance.md.  Run through scripts/bench,
which sets up Wine; WINEPREFIX must name the build's prefix.

    run_bench.py <build folder> <docs/performance.md> [runs]
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


def main():
    build, doc = sys.argv[1], sys.argv[2]
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
    report = """# Sweep performance

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

## Every run

Milliseconds as measured, warm-up runs left out; Tavenor's are wall times
before the start-up is taken off.

%s
""" % (time.strftime("%Y-%m-%d"), subprocess.run([WINE, "--version"], capture_output=True, text=True).stdout.strip(),
       os.cpu_count(), runs, DEVICE_ID, startup * 1000, table, " / ".join(per), slopes, size, details)
    with open(doc, "w") as f:
        f.write(report)
    print(report)


if __name__ == "__main__":
    main()
