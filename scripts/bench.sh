#!/usr/bin/env bash
# The figures of bench/ (not part of CI):
#   bash scripts/bench.sh [host] [wine]     (both when none is named)
# host: the optimised host build's benchmarks: the process runner against bare loops of
#       512-byte reads on pipes of the same size that drop or keep the bytes (and a pipe
#       drained by cat); the response-file engine against a bare split of the same file,
#       with its peak memory.
# wine: the 64-bit DLL in Wine's msiexec (bench/wine_bench.py): the time each custom
#       action adds over a no-op DLL of the same exports, the runtime extraction over a
#       minimal extractor with 64 KB reads, the whole run's ratio to the no-op's, and the
#       immediate actions together against the extraction plus the provider program's own
#       run plus 60 ms; medians of five alternating runs.
set -euo pipefail
cd "$(dirname "$0")/.."
parts=("$@")
[ ${#parts[@]} -gt 0 ] || parts=(host wine)

host() {
  cmake --preset bench >/dev/null
  cmake --build --preset bench -j2
  local out=build/bench/fa9_bench.json
  build/bench/bench/fa9_bench --benchmark_min_time=1 --benchmark_repetitions=3 \
    --benchmark_report_aggregates_only=true --benchmark_format=console \
    --benchmark_out="$out" --benchmark_out_format=json
  python3 - "$out" <<'PY'
import json, sys
rows = {}
for b in json.load(open(sys.argv[1]))["benchmarks"]:
    if b.get("aggregate_name") == "median":
        rows[b["run_name"].replace("/real_time", "")] = b
def mbs(name):
    b = rows.get(name)
    return b["bytes_per_second"] / 2**20 if b and "bytes_per_second" in b else None
print("\nProcess runner, child writes 100 MB (medians of 3); bare loops of 512-byte reads that drop")
print("or keep the bytes, and cat")
print("%-20s %11s %11s %7s %11s %7s %10s" % ("streams", "runner MB/s", "drop MB/s", "ratio", "keep MB/s", "ratio",
                                             "cat MB/s"))
for case in ("stdout_100MB", "both_streams_100MB"):
    ours, bare = mbs("captured/" + case), mbs("bareReads/" + case)
    kept, cat = mbs("bareReadsKept/" + case), mbs("drainedByCat/" + case)
    if ours and bare and kept:
        print("%-20s %11.0f %11.0f %7.2f %11.0f %7.2f %10.0f" % (case, ours, bare, ours / bare, kept, ours / kept,
                                                                 cat or 0))
print("\nResponse-file engine (optimised build, medians of 3)")
print("%-10s %10s %12s %14s %10s %16s" % ("lines", "file MB", "engine MB/s", "bare split MB/s", "ratio", "memory / file"))
for lines in ("10000", "100000", "1000000"):
    b = rows.get("parse/" + lines)
    ours, bare = mbs("parse/" + lines), mbs("bareSplit/" + lines)
    if b and ours and bare:
        size = b.get("file_bytes", 0) / 2**20
        print("%-10s %10.1f %12.1f %14.0f %10.3f %16.2f" % (lines, size, ours, bare, ours / bare,
                                                           b.get("memory_per_file_byte", -1)))
PY
}

wine() {
  cmake --preset mingw-x86_64 >/dev/null
  cmake --build --preset mingw-x86_64 -j2
  python3 bench/wine_bench.py --build-dir build/mingw-x86_64 --runs 5
}

for part in "${parts[@]}"; do
  case $part in
    host) host ;;
    wine) wine ;;
    *) echo "bench.sh: unknown part $part (host, wine)" >&2; exit 2 ;;
  esac
done
