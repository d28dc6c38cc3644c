#!/usr/bin/env bash
# End-to-end tests: the test package (package/) installed and removed by Wine's real
# msiexec under Xvfb, one prepared Wine prefix per run, one copy of it per scenario.
#   bash scripts/e2e.sh                      builds the mingw-x86_64 preset, runs every scenario
#   bash scripts/e2e.sh --build-dir DIR ...  uses an existing 64-bit build; scenario names may follow
# Ends with "N passed, M failed"; logs, screenshots and packages stay in <build>/e2e.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
if [ "${1:-}" = --build-dir ]; then
  build=$2; shift 2
else
  build=build/mingw-x86_64
  bash scripts/build.sh mingw-x86_64
fi
exec python3 e2e/scenarios.py --build-dir "$build" "$@"
