#!/usr/bin/env bash
# Checks a built Windows DLL: it exports exactly the names of its .def file, plain
# and undecorated, and imports nothing but system DLLs (a missing runtime DLL makes
# the installer skip the custom action, and Wine does so without a word).
# usage: check-dll.sh <objdump> <dll> <def-file>
set -euo pipefail
objdump=$1 dll=$2 def=$3
dump=$("$objdump" -p "$dll")

expected=$(awk '/^EXPORTS/{on=1; next} on && NF && $1 !~ /^;/ {print $1}' "$def" | sort)
actual=$(printf '%s\n' "$dump" | awk '/\[Ordinal\/Name Pointer\] Table/{on=1; next} on && /^[[:space:]]*\[/ {print $NF} on && !/^[[:space:]]*\[/ && NF==0 {on=0}' | sort)
if [ "$expected" != "$actual" ]; then
  echo "FAIL: $dll exports differ from $def"
  diff <(printf '%s\n' "$expected") <(printf '%s\n' "$actual") || true
  exit 1
fi
if printf '%s\n' "$actual" | grep -q -E '@|^_[A-Z]'; then
  echo "FAIL: decorated export names in $dll"; exit 1
fi

allowed='^(kernel32|user32|advapi32|msi|msvcrt|shell32|shlwapi|ole32|oleaut32|version|api-ms-win-[a-z0-9-]+)\.dll$'
bad=$(printf '%s\n' "$dump" | awk '/DLL Name:/{print tolower($3)}' | grep -v -E "$allowed" || true)
if [ -n "$bad" ]; then
  echo "FAIL: $dll imports non-system DLLs: $bad"; exit 1
fi
echo "ok: $(basename "$dll") exports $(printf '%s\n' "$actual" | grep -c . || true) names, imports only system DLLs"
