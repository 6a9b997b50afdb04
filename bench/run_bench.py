#!/usr/bin/env python3
"""The sweep benchmark: times Tavenor /c, the floor program and native
grep -rlF on the same generated driver stores, all in one run, and writes
the figures to docs/performance.md.  Run through scripts/bench, which sets
up Wine; WINEPREFIX must name the build's prefix.

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
DEVICE_ID = "PCI\\VEN_BEEF&DEV_0042"


def wall(cmd, **kw):
    start = time.perf_counter()
    subprocess.run(cmd, check=False, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, **kw)
    return time.perf_counter() - start


def main():
    build, doc = sys.argv[1], sys.argv[2]
    runs = int(sys.argv[3]) if len(sys.argv) > 3 else 5
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

    def median_runs(fn):
        fn()  # warm the page cache and Wine
        return statistics.median(fn() for _ in range(runs))

    # Wine's start-up and the sweep's fixed cost: a /c whose folder pattern
    # lists nothing.
    os.makedirs(store, exist_ok=True)
    startup = median_runs(lambda: wall([WINE, tavenor, "/c", "nomatch*:" + DEVICE_ID]))
    floor_startup = None

    def measure(shape_args):
        out = subprocess.run([sys.executable, os.path.join(here, "make_store.py"), store] + shape_args,
                             check=True, capture_output=True, text=True).stdout
        info = dict(kv.split("=") for kv in out.split())
        folders, inf_bytes, matches = int(info["folders"]), int(info["inf_bytes"]), int(info["matches"])
        t_raw = median_runs(lambda: wall([WINE, tavenor, "/c", DEVICE_ID]))
        t_tavenor = t_raw - startup - matches * 1.0

        def floor_us():
            r = subprocess.run([WINE, floor, win_store], capture_output=True, text=True, check=True)
            return int(re.search(r"us=(\d+)", r.stdout).group(1)) / 1e6

        t_floor = median_runs(floor_us)
        t_grep = median_runs(lambda: wall(["grep", "-rlF", "--include=*.inf", DEVICE_ID, store]))
        return dict(folders=folders, mb=inf_bytes / 1e6, matches=matches, raw=t_raw, tavenor=t_tavenor,
                    floor=t_floor, grep=t_grep)

    results = {}
    results["big"] = measure(["big"])
    for n in (100, 1000, 5000):
        results["many%d" % n] = measure(["many", str(n)])
    shutil.rmtree(os.path.dirname(store), ignore_errors=True)
    shutil.rmtree(stage, ignore_errors=True)

    size = os.path.getsize(os.path.join(build, "bin", "Tavenor.exe"))
    big = results["big"]
    lines = []
    lines.append("| store | folders | INF MB | Tavenor /c | floor | grep -rlF | Tavenor against the floor |")
    lines.append("|---|---|---|---|---|---|---|")
    for key, r in results.items():
        if key == "big":
            unit = lambda t: "%.0f MB/s" % (r["mb"] / t)
            ratio = "%.2f of its MB/s" % (r["floor"] / r["tavenor"])
        else:
            unit = lambda t: "%.0f µs/folder" % (t * 1e6 / r["folders"])
            ratio = "%.2f times its cost" % (r["tavenor"] / r["floor"])
        lines.append("| %s | %d | %.1f | %s | %s | %s | %s |" % (
            key, r["folders"], r["mb"], unit(r["tavenor"]), unit(r["floor"]), unit(r["grep"]), ratio))
    table = "\n".join(lines)

    m = [results["many%d" % n] for n in (100, 1000, 5000)]
    per = ["%.0f" % (x["tavenor"] * 1e6 / x["folders"]) for x in m]
    # The cost of one more folder, free of every fixed cost: the slope
    # between 1,000 and 5,000 folders.
    slope = lambda key: (m[2][key] - m[1][key]) * 1e6 / (m[2]["folders"] - m[1]["folders"])
    slopes = "Tavenor %.0f µs, floor %.0f µs (%.2f times)" % (slope("tavenor"), slope("floor"),
                                                            slope("tavenor") / slope("floor"))
    report = """# Sweep performance

Measured by `scripts/bench` in one run on %s (Wine %s, %d cores), median of %d
runs each after one warm-up run, page cache warm.

- Tavenor: wall time of `Tavenor.exe /c %s` with the DIFx test double
  (its uninstall returns at once), less Wine's start-up and the sweep's fixed
  cost (%.0f ms, a `/c` whose folder pattern lists nothing) and less the
  fixed 1000 ms pause per cleaned package.
- floor: `tavenor-floor.exe` (bench/floor.cpp), timed inside the process:
  list the store, list each folder's `*.inf`, open each with the buffered
  stream in text mode, read every byte with `_fgetc_nolock`.
- grep: native `grep -rlF --include=*.inf` on the same files.

Stores (bench/make_store.py): *big* is 24 package folders with 4 to 6 MB INF
files (scan speed); *manyN* is N folders with 3 to 12 KB INF files (cost per
folder). Each folder also holds three small binary files; one (big) or two
(many) folders name the device ID and are cleaned through a temporary copy.

%s

The *many* store of the targets is many5000 (thousands of folders); at 100
folders the whole sweep takes some 20 ms, so Wine's start-up noise and the
two cleaned packages weigh on the figure.

Cost per folder over the series 100 / 1,000 / 5,000: %s µs, so the cost
grows linearly with the number of folders. Cost of one more folder (slope
from 1,000 to 5,000 folders): %s.

Tavenor.exe is %d bytes.
""" % (time.strftime("%Y-%m-%d"), subprocess.run([WINE, "--version"], capture_output=True, text=True).stdout.strip(),
       os.cpu_count(), runs, DEVICE_ID, startup * 1000, table, " / ".join(per), slopes, size)
    with open(doc, "w") as f:
        f.write(report)
    print(report)


if __name__ == "__main__":
    main()
