#!/usr/bin/env bash
# Builds the optimised host build and runs the benchmarks of bench/, then prints the
# process runner's throughput against a plain pipe drained by cat.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset bench >/dev/null
cmake --build --preset bench -j2
out=build/bench/fa9_bench.json
build/bench/bench/fa9_bench --benchmark_min_time=2 --benchmark_format=console \
  --benchmark_out="$out" --benchmark_out_format=json
python3 - "$out" <<'PY'
import json, sys
rows = {b["name"].replace("/real_time", ""): b["bytes_per_second"] / 2**20 for b in json.load(open(sys.argv[1]))["benchmarks"]
        if "bytes_per_second" in b}
print("\n%-20s %12s %12s %8s" % ("child writes", "runner MB/s", "cat MB/s", "ratio"))
for case in ("stdout_100MB", "both_streams_100MB"):
    ours, cat = rows.get("captured/" + case), rows.get("drainedByCat/" + case)
    if ours and cat:
        print("%-20s %12.0f %12.0f %8.2f" % (case, ours, cat, ours / cat))
items = {b["name"]: b for b in json.load(open(sys.argv[1]))["benchmarks"]}
for name in ("parse/1000", "parse/20000"):
    b = items.get(name)
    if b:
        print("response file, %s lines: %.0f lines/s, %.1f MB/s" % (
            name.split("/")[1], b["items_per_second"], b["bytes_per_second"] / 2**20))
PY
