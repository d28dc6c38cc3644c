#!/usr/bin/env bash
# Builds the shipped 32-bit files and the package a second time, from a copy of the
# sources in another folder, and compares them byte for byte with build/mingw-i686's (and
# a package built from it): a build that depends on its folder, the clock or anything but
# the sources and SOURCE_DATE_EPOCH shows here.
# usage: check-reproducible.sh [first-build-dir]   (default build/mingw-i686, already built)
set -euo pipefail
cd "$(dirname "$0")/.."
first=$(cd "${1:-build/mingw-i686}" && pwd)
: "${SOURCE_DATE_EPOCH:=$(git log -1 --format=%ct)}"
export SOURCE_DATE_EPOCH
other=$(mktemp -d /tmp/fa9-reproduce.XXXXXX)/a/longer/path/to/the/sources
trap 'rm -rf "${other%/a/longer/path/to/the/sources}"' EXIT
mkdir -p "$other"
# The working tree's files as they stand (tracked and new, not ignored): no build output.
git ls-files -z --cached --others --exclude-standard | xargs -0 sh -c 'for f; do [ -e "$f" ] && cp --parents "$f" "$0"; done' "$other"
(cd "$other" && cmake --preset mingw-i686 >/dev/null && cmake --build --preset mingw-i686 -j2 >/dev/null)
second=$other/build/mingw-i686
status=0
for f in src/fa9wolt.dll siblings/fa9osse_install3.dll tools/rspcheck.exe \
         strings/en_US/fa9istring_v97.dll strings/de_DE/fa9istring_v97.dll strings/ja_JP/fa9istring_v97.dll; do
  if cmp -s "$first/$f" "$second/$f"; then
    echo "same: $f ($(sha256sum < "$first/$f" | cut -c1-16))"
  else
    echo "FAIL: $f differs between $first and $second"; status=1
  fi
done
# The package from each build (with its stand-ins built in each build's own folder).
for build in "$first" "$second"; do
  bash package/build-package.sh "$build" "$build/reproduce/fa9wolt.msi" --arch x86 --cache "$build/reproduce" >/dev/null
done
if cmp -s "$first/reproduce/fa9wolt.msi" "$second/reproduce/fa9wolt.msi"; then
  echo "same: the package ($(sha256sum < "$first/reproduce/fa9wolt.msi" | cut -c1-16))"
else
  echo "FAIL: the packages built from $first and $second differ"; status=1
fi
rm -rf "$first/reproduce"
exit $status
