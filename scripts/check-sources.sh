#!/usr/bin/env bash
# Source rules that the compilers do not enforce: the library uses bounded copies only.
set -euo pipefail
cd "$(dirname "$0")/.."
banned=$(grep -rn -E '\b(strcpy|strcat|sprintf|vsprintf|wsprintfA?|lstrcpyA?|lstrcatA?|gets)\s*\(' src || true)
if [ -n "$banned" ]; then
  echo "FAIL: unbounded string functions in src/ (use the bounded helpers of platform/bounded.h):"
  echo "$banned"
  exit 1
fi
echo "ok: src/ uses bounded string functions only"
