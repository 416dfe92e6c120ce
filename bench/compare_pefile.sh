#!/usr/bin/env bash
# Whole processes, timed in the same run: tavelin-report over a folder of PE
# files (Wine's x86_64-windows folder by default) against python3-pefile doing
# the same reads (imports + FileVersion of every file), then tavelin-report's
# recursive pass over the folder listed once and five times, and the recursive
# pass with the function check and the delay-load tables; and the floor of
# the direct pass (bench/read_floor.cpp: open, three 4 KB reads, close per
# file). Best of five.
#   bench/compare_pefile.sh [FOLDER]        BUILD_DIR=build by default
set -euo pipefail
cd "$(dirname "$0")/.."
folder=${1:-/usr/lib/x86_64-linux-gnu/wine/x86_64-windows}
build=${BUILD_DIR:-build}
[ -x "$build/bin/tavelin-report" ] && [ -x "$build/bin/read_floor" ] || { cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null; cmake --build "$build" --target tavelin-report read_floor; }
/usr/bin/python3 - "$folder" "$build/bin/tavelin-report" bench/pefile_reference.py "$build/bin/read_floor" <<'PY'
import os, subprocess, sys, time
folder, report, reference, floor_program = sys.argv[1:5]
exts = {".dll", ".exe", ".drv", ".sys", ".ocx", ".cpl", ".acm", ".ax"}
files = sorted(os.path.join(folder, f) for f in os.listdir(folder)
               if os.path.splitext(f)[1].lower() in exts and os.path.isfile(os.path.join(folder, f)))

def best(cmd, runs=5):
    t = float("inf")
    for _ in range(runs):
        start = time.perf_counter()
        subprocess.run(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        t = min(t, time.perf_counter() - start)
    return t

# Only the importer's folder is searched, as the Python side does.
only_here = ["--dll-path", ""]
direct = best([report] + only_here + files)
floor = best([floor_program] + files)
pefile = best(["/usr/bin/python3", reference, "--direct", folder], runs=3)
once = best([report, "-r"] + only_here + files)
five = best([report, "-r"] + only_here + files * 5)
checks = best([report, "-r", "-f", "-d"] + only_here + files)
print(f"files in folder:                      {len(files)}")
print(f"direct pass, whole process:           tavelin-report {direct * 1000:8.1f} ms   pefile {pefile * 1000:8.1f} ms   ratio {pefile / direct:6.1f}x")
print(f"floor of the direct pass:             read_floor     {floor * 1000:8.1f} ms   tavelin-report / floor {direct / floor:5.2f}x")
print(f"recursive pass, folder listed once:   {once * 1000:8.1f} ms")
print(f"recursive pass, folder listed 5 times:{five * 1000:8.1f} ms   ({five / once:.2f}x the single listing)")
print(f"recursive pass with -f -d:            {checks * 1000:8.1f} ms   ({checks / once:.2f}x the pass without them)")
PY
