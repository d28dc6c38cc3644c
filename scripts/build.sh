#!/usr/bin/env bash
# Configures and builds the given presets (default: all four) on both cores.
set -euo pipefail
cd "$(dirname "$0")/.."
presets=("$@")
[ ${#presets[@]} -gt 0 ] || presets=(host mingw-i686 mingw-x86_64)
for p in "${presets[@]}"; do
  echo "== build: $p"
  cmake --preset "$p" >/dev/null
  cmake --build --preset "$p" -j2
done
