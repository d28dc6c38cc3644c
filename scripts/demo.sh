#!/usr/bin/env bash
# The main job: builds the shipped 32-bit DLL, the 64-bit one for Wine, the sibling
# library and the string libraries, checks every shipped file (the DLL checks alone: no
# test suite runs here), then installs and removes the demo package with Wine's msiexec
# and reports what each custom action did. Each step says what it does and how long it took.
set -euo pipefail
cd "$(dirname "$0")/.."
step_no=0 step_start=$SECONDS
step() {
  step_no=$((step_no + 1)) step_start=$SECONDS
  printf '>> %d. %s\n' "$step_no" "$*"
}
took() { printf '>> %d. done in %d s (demo so far: %d s)\n' "$step_no" $((SECONDS - step_start)) "$SECONDS"; }

step "Debian packages the build and Wine need"
bash scripts/install-deps.sh
took

for arch in mingw-i686 mingw-x86_64; do
  step "build $arch"
  bash scripts/build.sh "$arch"
  took
done

for arch in mingw-i686 mingw-x86_64; do
  step "check the shipped files of $arch (exports, imports, version, hardening; the DLL checks only)"
  # Only the dll_check.* entries: the 64-bit build also registers the end-to-end suite.
  if ! out=$(ctest --test-dir "build/$arch" -R '^dll_check\.' -V 2>&1); then
    printf '%s\n' "$out"
    exit 1
  fi
  grep -E '^[0-9]+: (ok|FAIL)' <<<"$out" | sed 's/^[0-9]*: /   /'
  for f in build/$arch/src/fa9wolt.dll build/$arch/siblings/fa9osse_install3.dll build/$arch/strings/*/fa9istring_v97.dll; do
    printf '   %-60s %8d bytes\n' "$f" "$(stat -c %s "$f")"
  done
  took
done

step "end-to-end demo: the package installed and removed by Wine's msiexec, with the 64-bit DLL" \
  "and with the shipped 32-bit one (where this machine runs 32-bit code)"
# FA9_SIGN_PFX (with FA9_SIGN_PASSWORD, and FA9_SIGN_CA to verify against): the demo signs
# what it installs; either way its report says whether the package and the DLL were signed.
python3 e2e/demo.py --build-dir build/mingw-x86_64 --build-dir-x86 build/mingw-i686 \
  ${FA9_SIGN_PFX:+--sign-pfx "$FA9_SIGN_PFX"} ${FA9_SIGN_CA:+--sign-ca "$FA9_SIGN_CA"}
took
