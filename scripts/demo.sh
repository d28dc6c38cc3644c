#!/usr/bin/env bash
# The main job: builds the shipped 32-bit DLL, the 64-bit one for Wine, the sibling
# library and the string libraries, and says where they are.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh mingw-i686 mingw-x86_64
echo
for arch in mingw-i686 mingw-x86_64; do
  echo "== $arch"
  ctest --test-dir "build/$arch" -V 2>/dev/null | grep -E '^[0-9]+: (ok|FAIL)' | sed 's/^[0-9]*: /   /'
  for f in build/$arch/src/fa9wolt.dll build/$arch/siblings/fa9osse_install3.dll build/$arch/strings/*/fa9istring_v97.dll; do
    printf '   %-60s %8d bytes\n' "$f" "$(stat -c %s "$f")"
  done
done

echo
echo "== end-to-end demo: the package installed and removed by Wine's msiexec, with the 64-bit DLL"
echo "   and with the shipped 32-bit one (where this machine runs 32-bit code)"
# FA9_SIGN_PFX (with FA9_SIGN_PASSWORD, and FA9_SIGN_CA to verify against): the demo signs
# what it installs; either way its report says whether the package and the DLL were signed.
python3 e2e/demo.py --build-dir build/mingw-x86_64 --build-dir-x86 build/mingw-i686 \
  ${FA9_SIGN_PFX:+--sign-pfx "$FA9_SIGN_PFX"} ${FA9_SIGN_CA:+--sign-ca "$FA9_SIGN_CA"}
