#!/usr/bin/env bash
# Builds a release of the shipped files into dist/: the 32-bit fa9wolt.dll, the package
# that carries it, rspcheck.exe with its message texts, SHA256SUMS and MANIFEST.
# Before anything is written it checks them: exports, system imports, version resources
# and hardening bits (check-dll.sh), and that a second build of the same sources in
# another folder gives the same bytes (check-reproducible.sh). With a certificate it signs
# the DLL (before the package takes it in), rspcheck.exe and the package, and verifies
# each signature (against --ca when given).
#   release.sh [--pfx PFX [--ca CA.pem]] [--out DIR]      (default DIR: dist)
# FA9_SIGN_PASSWORD and FA9_SIGN_TIMESTAMP as for scripts/sign.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
pfx= ca= out=dist
while [ $# -gt 0 ]; do
  case $1 in
    --pfx) pfx=$2; shift 2 ;;
    --ca) ca=$2; shift 2 ;;
    --out) out=$2; shift 2 ;;
    *) sed -n '2,10p' "$0" | sed 's/^# \{0,1\}//' >&2; exit 2 ;;
  esac
done
[ -z "$pfx" ] || pfx=$(cd "$(dirname "$pfx")" && pwd)/$(basename "$pfx")
[ -z "$ca" ] || ca=$(cd "$(dirname "$ca")" && pwd)/$(basename "$ca")
: "${SOURCE_DATE_EPOCH:=$(git log -1 --format=%ct)}"
export SOURCE_DATE_EPOCH
build=build/release

echo "== release: clean build of the shipped 32-bit files"
rm -rf "$build"
cmake -S . -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j2 >/dev/null
version=$(cat "$build/fa9-version.txt")

echo "== release: exports, imports, version $version, hardening, stack protector"
ctest --test-dir "$build" --output-on-failure | grep -E '^ *[0-9]+/[0-9]+ Test|tests passed'

echo "== release: a second build elsewhere gives the same bytes"
bash scripts/check-reproducible.sh "$build"

stage=$build/dist
rm -rf "$stage" && mkdir -p "$stage/locale"
cp "$build/src/fa9wolt.dll" "$build/tools/rspcheck.exe" "$stage/"
for lib in "$build"/strings/*/fa9istring_v97.dll; do
  locale=$(basename "$(dirname "$lib")")
  mkdir -p "$stage/locale/$locale" && cp "$lib" "$stage/locale/$locale/"
done
[ -z "$pfx" ] || bash scripts/sign.sh "$pfx" "$stage/fa9wolt.dll" "$stage/rspcheck.exe" >/dev/null
bash package/build-package.sh "$build" "$stage/fa9wolt.msi" --arch x86 --dll "$stage/fa9wolt.dll" \
  --cache "$build/package-cache" >/dev/null
rm -rf "$stage/fa9wolt.stage"
package_version=$(msiinfo export "$stage/fa9wolt.msi" Property | awk -F'\t' '$1 == "ProductVersion" {print $2}' | tr -d '\r')
if [ "$package_version" != "$version" ]; then
  echo "FAIL: the package's ProductVersion is '$package_version', the files' $version"; exit 1
fi
echo "package: ProductVersion $package_version"
[ -z "$pfx" ] || bash scripts/sign.sh "$pfx" "$stage/fa9wolt.msi" >/dev/null

signed=no
if [ -n "$pfx" ]; then
  echo "== release: signatures"
  for f in fa9wolt.dll rspcheck.exe fa9wolt.msi; do
    if ! osslsigncode verify ${ca:+-CAfile "$ca"} -in "$stage/$f" > "$build/verify-$f.log" 2>&1; then
      cat "$build/verify-$f.log"; echo "FAIL: the signature of $f does not verify"; exit 1
    fi
    echo "verified: $f"
  done
  subject=$(openssl pkcs12 -in "$pfx" -nokeys -clcerts -passin "pass:${FA9_SIGN_PASSWORD:-}" 2>/dev/null |
            openssl x509 -noout -subject 2>/dev/null | sed 's/^subject= *//')
  signed="yes, Authenticode SHA-256, by ${subject:-the given certificate}"
fi

{
  echo "product: Add-ins for Visual Studio, custom-action library fa9wolt.dll"
  echo "version: $version"
  echo "commit: $(git rev-parse HEAD)$( [ -z "$(git status --porcelain --untracked-files=no)" ] || echo ' (with uncommitted changes)')"
  echo "SOURCE_DATE_EPOCH: $SOURCE_DATE_EPOCH ($(date -u -d "@$SOURCE_DATE_EPOCH" '+%Y-%m-%d %H:%M:%S UTC'))"
  echo "compiler: $(i686-w64-mingw32-g++ --version | head -1)"
  echo "linker: $(i686-w64-mingw32-ld --version | head -1)"
  echo "resources: $(i686-w64-mingw32-windres --version | head -1)"
  echo "package: wixl $(wixl --version 2>&1 | head -1), $(dpkg-query -W -f='msitools ${Version}' msitools 2>/dev/null || true)"
  echo "signed: $signed"
  echo "files: fa9wolt.dll (32-bit), fa9wolt.msi (the project's demo package carrying it, with stand-ins for the"
  echo "  programs it drives), rspcheck.exe and locale/<locale>/fa9istring_v97.dll (its message texts)"
} > "$stage/MANIFEST"
(cd "$stage" && find . -type f ! -name SHA256SUMS | sed 's|^\./||' | LC_ALL=C sort | xargs sha256sum > SHA256SUMS)

rm -rf "$out" && mkdir -p "$(dirname "$out")" && mv "$stage" "$out"
echo "== release $version in $out:"
(cd "$out" && cat SHA256SUMS)
