#!/usr/bin/env bash
# Builds the example package of package/example with wixl, as a package author builds
# theirs, and checks its CustomAction rows: each calls an export of fa9wolt.def through the
# one Binary row of the DLL, as an immediate (type 1) or script (type 3073) action.
#   package/example/build-example.sh <build-dir> <out.msi>
# The build directory gives fa9wolt.dll, fa9osse_install3.dll and the English string
# library; the files a real package carries beside them (the VC80 runtime, the other
# sibling libraries, commontoolreg.exe) are stand-in bytes here: this checks the
# authoring, the package is not meant to be installed.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/../.." && pwd)
[ $# -eq 2 ] || { sed -n '2,9p' "$0" | sed 's/^# \{0,1\}//' >&2; exit 2; }
build=$(cd "$1" && pwd)
out_dir=$(mkdir -p "$(dirname "$2")" && cd "$(dirname "$2")" && pwd)
out=$out_dir/$(basename "$2")
stage=${out%.msi}.stage
rm -rf "$stage" "$out"
mkdir -p "$stage/runtime"
cp "$here/product.wxs" "$here/fa9wolt-fragment.wxi" "$build/src/fa9wolt.dll" "$stage/"
echo "The example product's one file." > "$stage/readme.txt"
cp "$build/siblings/fa9osse_install3.dll" "$stage/runtime/"
cp "$build/strings/en_US/fa9istring_v97.dll" "$stage/runtime/FA9ISTRING_EN_US"
for f in msvcm80.dll msvcp80.dll msvcr80.dll microsoft.vc80.crt.manifest mfc80.dll mfc80u.dll mfcm80.dll \
  mfcm80u.dll microsoft.vc80.mfc.manifest fa9genreg_install3.dll fa9install_install3.dll commontoolreg.exe; do
  printf 'stand-in for %s\n' "$f" > "$stage/runtime/$f"
done
(cd "$stage" && wixl -a x86 -D Fa9woltDll=fa9wolt.dll -D RuntimeDir=runtime -o "$out" product.wxs)

exports=$(awk '/^[[:space:]]*EXPORTS/{on=1; next} on && NF && $1 !~ /^;/ {print $1}' "$repo/src/actions/fa9wolt.def")
rows=0 bad=0
while IFS=$'\t' read -r action type source target _; do
  rows=$((rows + 1))
  grep -qx -- "$target" <<<"$exports" || { echo "FAIL: $action calls $target, which fa9wolt.dll does not export"; bad=1; }
  [ "$source" = fa9wolt.dll ] || { echo "FAIL: $action calls the Binary row $source, not fa9wolt.dll"; bad=1; }
  case $type in 1|3073) ;; *) echo "FAIL: $action has type $type (1 immediate, 3073 in the script)"; bad=1 ;; esac
done < <(msiinfo export "$out" CustomAction | tail -n +4)
[ "$rows" -gt 0 ] || { echo "FAIL: $out has no CustomAction rows"; bad=1; }
[ $bad = 0 ] || exit 1
echo "ok: example package $out: $rows custom-action rows, each an export of fa9wolt.def"
