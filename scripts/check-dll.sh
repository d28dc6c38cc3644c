#!/usr/bin/env bash
# Checks a built Windows file before it ships:
# - with --def: it exports exactly the names of its .def file, plain and undecorated;
# - it imports nothing but system DLLs (a missing runtime DLL makes the installer skip
#   the custom action, and Wine does so without a word);
# - with --version: its version resource carries that version and says what it is, and it
#   has the hardening bits (ASLR, DEP, 64-bit high-entropy ASLR, no writable code;
#   scripts/pe_check.py);
# - with --map (the linker's map of the file): the stack protector was linked in, because
#   some of its code calls __stack_chk_fail.
# usage: check-dll.sh <objdump> <file> [--def DEF] [--version X.Y.Z.W] [--map MAP]
set -euo pipefail
objdump=$1 file=$2
shift 2
def= version= map=
while [ $# -gt 0 ]; do
  case $1 in
    --def) def=$2; shift 2 ;;
    --version) version=$2; shift 2 ;;
    --map) map=$2; shift 2 ;;
    *) echo "check-dll.sh: unknown option $1" >&2; exit 2 ;;
  esac
done
dump=$("$objdump" -p "$file")
said=()

if [ -n "$def" ]; then
  expected=$(awk '/^EXPORTS/{on=1; next} on && NF && $1 !~ /^;/ {print $1}' "$def" | sort)
  actual=$(printf '%s\n' "$dump" | awk '/\[Ordinal\/Name Pointer\] Table/{on=1; next} on && /^[[:space:]]*\[/ {print $NF} on && !/^[[:space:]]*\[/ && NF==0 {on=0}' | sort)
  if [ "$expected" != "$actual" ]; then
    echo "FAIL: $file exports differ from $def"
    diff <(printf '%s\n' "$expected") <(printf '%s\n' "$actual") || true
    exit 1
  fi
  if printf '%s\n' "$actual" | grep -q -E '@|^_[A-Z]'; then
    echo "FAIL: decorated export names in $file"; exit 1
  fi
  said+=("exports $(printf '%s\n' "$actual" | grep -c . || true) names")
fi

allowed='^(kernel32|user32|advapi32|msi|msvcrt|shell32|shlwapi|ole32|oleaut32|version|bcrypt|api-ms-win-[a-z0-9-]+)\.dll$'
bad=$(printf '%s\n' "$dump" | awk '/DLL Name:/{print tolower($3)}' | grep -v -E "$allowed" || true)
if [ -n "$bad" ]; then
  echo "FAIL: $file imports non-system DLLs: $bad"; exit 1
fi
said+=("imports only system DLLs")

if [ -n "$version" ]; then
  python3 "$(dirname "$0")/pe_check.py" "$file" --version "$version" || exit 1
  said+=("version $version, ASLR, DEP, no writable code")
fi
if [ -n "$map" ]; then
  # The map's list of archive members names the symbol that pulled each one in.
  if ! grep -q '(__stack_chk_fail)' "$map"; then
    echo "FAIL: $file: no code calls the stack protector (built without -fstack-protector-strong?)"; exit 1
  fi
  said+=("stack protector linked in")
fi
summary=$(printf '%s; ' "${said[@]}")
echo "ok: $(basename "$file"): ${summary%; }"
