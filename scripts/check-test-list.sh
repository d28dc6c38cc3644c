#!/usr/bin/env bash
# Every case the host test binary holds is one CTest runs: CTest names a parameterised
# case by its printed value, and a value that breaks the list it reads (one ending in a
# backslash ran into the next name) silently drops cases.
set -euo pipefail
build=${1:-build/host}
binary=fa9wolt_tests
raw=$(mktemp) listed=$(mktemp) registered=$(mktemp)
trap 'rm -f "$raw" "$listed" "$registered"' EXIT
# Cases gtest lists; disabled ones are never run by anyone.
"$build/tests/$binary" --gtest_list_tests >"$raw"
awk '/^[^ ]/ { suite = $1 } /^  / { print suite $1 }' "$raw" | { grep -v 'DISABLED_' || true; } | sort -u >"$listed"
[ -s "$listed" ] || { echo "$binary lists no case" >&2; exit 1; }
# The filter of each CTest entry that runs this binary and is not disabled.
ctest --test-dir "$build" --show-only=json-v1 | python3 -c '
import json, os, sys
for test in json.load(sys.stdin)["tests"]:
    command = test.get("command") or []
    props = {p["name"]: p["value"] for p in test.get("properties", [])}
    if not command or os.path.basename(command[0]) != sys.argv[1] or props.get("DISABLED"):
        continue
    for arg in command[1:]:
        if arg.startswith("--gtest_filter="):
            print(arg[len("--gtest_filter="):])
' "$binary" | sort -u >"$registered"
missing=$(comm -23 "$listed" "$registered")
if [ -n "$missing" ]; then
  echo "cases of $binary that CTest does not run:" >&2
  echo "$missing" >&2
  exit 1
fi
echo "CTest runs all $(wc -l <"$listed") cases of $binary"
