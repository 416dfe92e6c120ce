#!/usr/bin/env bash
# Runs bench_inspect and the python3-pefile reference on the same folder and
# prints both throughputs and their ratio.
#   bench/compare_pefile.sh [FOLDER]      (default: Wine's x86_64-windows folder)
set -euo pipefail
cd "$(dirname "$0")/.."
folder=${1:-/usr/lib/x86_64-linux-gnu/wine/x86_64-windows}
[ -x ${BUILD_DIR:-build}/bin/bench_inspect ] || { cmake -S . -B "${BUILD_DIR:-build}" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null; cmake --build "${BUILD_DIR:-build}" --target bench_inspect; }
TAVELIN_BENCH_DIR="$folder" ${BUILD_DIR:-build}/bin/bench_inspect --benchmark_format=json > /tmp/tavelin-bench.json
/usr/bin/python3 bench/pefile_reference.py "$folder" > /tmp/tavelin-pefile.json
/usr/bin/python3 - <<'PY'
import json
b = json.load(open("/tmp/tavelin-bench.json"))["benchmarks"]
p = json.load(open("/tmp/tavelin-pefile.json"))
rate = {x["name"].split("/")[0]: x["items_per_second"] for x in b}
time_ms = {x["name"].split("/")[0]: x["real_time"] for x in b}
d, c = rate["BM_DirectImportsAndVersion"], rate["BM_WholeClosure"]
print(f"files in folder:                 {p['files']}")
print(f"direct imports + FileVersion:    Tavelin {d:10.0f} files/s   pefile {p['direct_files_per_sec']:8.1f} files/s   ratio {d / p['direct_files_per_sec']:6.0f}x")
print(f"whole closure of each file:      Tavelin {c:10.0f} files/s   pefile {p['closure_files_per_sec']:8.1f} files/s   ratio {c / p['closure_files_per_sec']:6.0f}x  (pefile on {p['closure_files']} files)")
print(f"whole recursive pass, folder:    {time_ms['BM_WholeClosure']:.0f} ms")
print(f"rows + both reports, recursive:  {time_ms['BM_AnalyseFolderRecursiveAndReport']:.0f} ms")
PY
