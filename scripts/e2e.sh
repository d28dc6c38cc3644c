#!/usr/bin/env bash
# End-to-end tests: the test package (package/) installed and removed by Wine's real
# msiexec under Xvfb, one prepared Wine prefix per run, one copy of it per scenario.
#   bash scripts/e2e.sh                      builds mingw-x86_64 and mingw-i686, runs every scenario
#                                            with the 64-bit DLL, then with the shipped 32-bit one
#   bash scripts/e2e.sh --build-dir DIR ...  uses an existing build (its DLL's bitness); scenario names may follow
# Each run ends with "N passed, M failed"; logs, screenshots and packages stay in <build>/e2e.
# A 32-bit run on a machine that runs no 32-bit code says so and counts as skipped.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
if [ "${1:-}" = --build-dir ]; then
  build=$2; shift 2
  status=0
  python3 e2e/scenarios.py --build-dir "$build" "$@" || status=$?
  [ $status = 77 ] && status=0
  exit $status
fi
bash scripts/build.sh mingw-x86_64 mingw-i686
status=0
for build in build/mingw-x86_64 build/mingw-i686; do
  echo "== $build"
  rc=0
  python3 e2e/scenarios.py --build-dir "$build" "$@" || rc=$?
  [ $rc = 0 ] || [ $rc = 77 ] || status=$rc
done
exit $status
