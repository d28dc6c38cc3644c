#!/usr/bin/env bash
# Compares a released dist/ with one rebuilt from the same commit by scripts/release.sh
# (unsigned): every file must be the same apart from signatures. A signed DLL or program
# must equal the rebuilt one once its signature is removed; the package must hold the same
# tables and streams, its DLL compared the same way, and only the package code (derived
# from the contents, which include the DLL's signature) may differ in its summary.
#   compare-release.sh RELEASED REBUILT
set -euo pipefail
[ $# = 2 ] || { sed -n '2,7p' "$0" | sed 's/^# \{0,1\}//' >&2; exit 2; }
released=$(cd "$1" && pwd) rebuilt=$(cd "$2" && pwd)
work=$(mktemp -d) && trap 'rm -rf "$work"' EXIT
status=0
differ() { echo "DIFFERS: $1"; status=1; bad=1; }
unsigned() {  # unsigned <file> <out>: the file without its Authenticode signature, if it has one
  rm -f "$2"
  if ! osslsigncode remove-signature -in "$1" -out "$2" >/dev/null 2>&1; then cp "$1" "$2"; fi
}

(cd "$released" && find . -type f | sed 's|^\./||' | LC_ALL=C sort) > "$work/released.list"
(cd "$rebuilt" && find . -type f | sed 's|^\./||' | LC_ALL=C sort) > "$work/rebuilt.list"
cmp -s "$work/released.list" "$work/rebuilt.list" || differ "the lists of files: $(diff "$work/released.list" "$work/rebuilt.list" | tr '\n' ' ')"
while read -r f; do
  [ -f "$rebuilt/$f" ] || continue
  bad=0
  case $f in
    SHA256SUMS) continue ;;  # follows from the files compared here
    MANIFEST)
      cmp -s <(grep -v '^signed:' "$released/$f") <(grep -v '^signed:' "$rebuilt/$f") || differ "$f" ;;
    *.msi)
      for side in released rebuilt; do
        dir=$work/$side-msi
        rm -rf "$dir" && mkdir -p "$dir"
        src=$released; [ $side = rebuilt ] && src=$rebuilt
        # msidump writes a table's stream files below its working folder, whatever -d says.
        (cd "$dir" && msidump -t -s -d . "$src/$f" >/dev/null)
        # The signature's streams, and the summary stream (compared as the table below).
        rm -f "$dir/_Streams/"*DigitalSignature* "$dir/_Streams/"*SummaryInformation
        for dll in "$dir/_Streams/Binary.fa9wolt.dll" "$dir/Binary/Binary.fa9wolt.dll"; do
          [ -f "$dll" ] || continue
          unsigned "$dll" "$dir/plain.dll" && mv "$dir/plain.dll" "$dll"
        done
        sed -i '/^9\t/d' "$dir/_SummaryInformation.idt"
      done
      diff -r "$work/released-msi" "$work/rebuilt-msi" >/dev/null || differ "$f: $(diff -rq "$work/released-msi" "$work/rebuilt-msi" | head -3 | tr '\n' ' ')" ;;
    *)
      unsigned "$released/$f" "$work/plain"
      cmp -s "$work/plain" "$rebuilt/$f" || differ "$f" ;;
  esac
  [ $bad = 1 ] || echo "same: $f"
done < "$work/released.list"
if [ $status = 0 ]; then echo "the release matches the rebuild, signatures aside"; fi
exit $status
