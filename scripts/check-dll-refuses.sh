#!/usr/bin/env bash
# Shows that check-dll.sh can fail: it builds a small DLL the way the shipped ones are built,
# which must pass, then copies of it that each lack one thing (a version, a hardening bit,
# the stack protector, an export), each of which must be refused with its reason.
# usage: check-dll-refuses.sh <mingw-prefix> <work-dir>
set -euo pipefail
prefix=$1 work=$2
here=$(cd "$(dirname "$0")" && pwd)
version=9.7.0.0
rm -rf "$work" && mkdir -p "$work" && cd "$work"

cat > lib.c <<'C'
#include <string.h>
int __stdcall Probe(const char* s) {
    char copy[64];  /* an array on the stack: the protector guards this function */
    strncpy(copy, s, sizeof copy - 1);
    copy[sizeof copy - 1] = 0;
    return (int)strlen(copy);
}
#ifdef WX_SECTION
__asm__(".section .wx,\"wx\"\n.byte 0x90\n.text\n");
#endif
C
printf 'LIBRARY probe.dll\nEXPORTS\n    Probe\n' > probe.def
printf 'LIBRARY probe.dll\nEXPORTS\n    Probe\n    Missing\n' > more.def
rc() {  # rc <version> <out.o>
  local commas=${1//./,}
  cat > "$2.rc" <<RC
1 VERSIONINFO
FILEVERSION $commas
PRODUCTVERSION $commas
FILEOS 0x40004
FILETYPE 0x2
BEGIN
  BLOCK "StringFileInfo"
  BEGIN
    BLOCK "040904B0"
    BEGIN
      VALUE "CompanyName", "ZNK"
      VALUE "FileDescription", "Probe"
      VALUE "FileVersion", "$1"
      VALUE "InternalName", "probe"
      VALUE "LegalCopyright", "Copyright (C) ZNK"
      VALUE "OriginalFilename", "probe.dll"
      VALUE "ProductName", "Probe"
      VALUE "ProductVersion", "$1"
    END
  END
END
RC
  "$prefix-windres" -O coff -i "$2.rc" -o "$2"
}
rc "$version" good.o
rc 9.7.0.1 other.o
build() {  # build <name> <extra gcc options...>: <name>/probe.dll and its map
  local name=$1; shift
  mkdir -p "$name"
  "$prefix-gcc" -shared -s -static -O2 -Wl,--kill-at -Wl,--enable-stdcall-fixup -o "$name/probe.dll" lib.c probe.def -Wl,-Map="$name/probe.dll.map" "$@"
}
check() {  # check <name> [--def DEF]
  local name=$1; shift
  bash "$here/check-dll.sh" "$prefix-objdump" "$name/probe.dll" --version "$version" --map "$name/probe.dll.map" "$@"
}

build good -fstack-protector-strong good.o
check good --def probe.def >/dev/null || { echo "FAIL: the well-built DLL is refused"; check good --def probe.def; exit 1; }

failures=0
expect() {  # expect <name> <reason> [check options...]: the check must fail and say why
  local name=$1 reason=$2 out; shift 2
  if out=$(check "$name" "$@" 2>&1); then
    echo "FAIL: $name passed the check"; failures=$((failures + 1))
  elif ! grep -q -F -- "$reason" <<<"$out"; then
    echo "FAIL: $name refused, but not for \"$reason\": $out"; failures=$((failures + 1))
  else
    echo "ok: $name refused: $(grep -F -- "$reason" <<<"$out" | head -1)"
  fi
}
build no-version -fstack-protector-strong
expect no-version "no version resource"
build other-version -fstack-protector-strong other.o
expect other-version "file version 9.7.0.1, expected $version"
build no-aslr -fstack-protector-strong good.o -Wl,--disable-dynamicbase
expect no-aslr "no DYNAMIC_BASE"
build no-dep -fstack-protector-strong good.o -Wl,--disable-nxcompat
expect no-dep "no NX_COMPAT"
if [ "$prefix" = x86_64-w64-mingw32 ]; then
  build no-high-entropy -fstack-protector-strong good.o -Wl,--disable-high-entropy-va
  expect no-high-entropy "no HIGH_ENTROPY_VA"
fi
build writable-code -fstack-protector-strong good.o -DWX_SECTION
expect writable-code "section .wx is both writable and executable"
build no-protector good.o
expect no-protector "no code calls the stack protector"
expect good "exports differ" --def more.def
[ $failures = 0 ] || exit 1
echo "check-dll.sh refused every file that lacks one thing"
