#!/usr/bin/env bash
# Every case the host test binary holds is one CTest runs: CTest names a parameterised
# case by its printed value, and a value that breaks the list it reads (one ending in a
# backslash ran into the next name) silently drops cases.
set -euo pipefail
build=${1:-build/host}
listed=$(mktemp) registered=$(mktemp)
trap 'rm -f "$listed" "$registered"' EXIT
"$build/tests/fa9wolt_tests" --gtest_list_tests | awk '/^[^ ]/ { suite = $1 } /^  / { print suite $1 }' | sort -u >"$listed"
ctest --test-dir "$build" -N -V | grep -o -- '--gtest_filter=[^ ]*' | sed 's/^--gtest_filter=//; s/"$//' |
  sort -u >"$registered"
missing=$(comm -23 "$listed" "$registered")
if [ -n "$missing" ]; then
  echo "cases of fa9wolt_tests that CTest does not run:" >&2
  echo "$missing" >&2
  exit 1
fi
echo "CTest runs all $(wc -l <"$listed") cases of fa9wolt_tests"
