#!/usr/bin/env bash
# Everything CI runs: dependencies, the source rules, the three builds with their
# own checks, the example package, the host tests, and the host tests again under ASan
# and UBSan.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/check-sources.sh
bash scripts/build.sh host mingw-i686 mingw-x86_64 host-asan host-tsan

echo "== Windows builds: exports and imports"
ctest --test-dir build/mingw-i686 --output-on-failure
ctest --test-dir build/mingw-x86_64 -LE e2e --output-on-failure

echo "== the example WiX include of package/example, built with wixl as a package author would"
bash package/example/build-example.sh build/mingw-i686 build/example/fa9wolt-example.msi

echo "== release: checked, reproducible and signed with a throw-away certificate"
# scripts/release.sh as a release would run it: a clean 32-bit build, its checks, a second
# build in another folder compared byte for byte, then signing and verifying.
sign_password=$(openssl rand -hex 16)
bash scripts/make-test-cert.sh build/test-cert "$sign_password"
FA9_SIGN_PASSWORD=$sign_password bash scripts/release.sh --pfx build/test-cert/signing.pfx \
  --ca build/test-cert/ca.pem --out build/dist

echo "== host tests"
ctest --preset host -j2
bash scripts/check-test-list.sh build/host
echo "== host tests under AddressSanitizer and UndefinedBehaviorSanitizer"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --preset host-asan -j2

echo "== the process runner's tests under ThreadSanitizer"
TSAN_OPTIONS=halt_on_error=1 ctest --preset host-tsan -j2

echo "== short fuzz runs"
fuzz_tmp=${TMPDIR:-/tmp}
[ -d /dev/shm ] && [ -w /dev/shm ] && fuzz_tmp=/dev/shm
# target:max_len; seeds committed in fuzz/corpus/<target> are read, findings go to the build tree
for entry in fuzz_tokens:600 fuzz_installation_name:600 fuzz_response_file:4096 fuzz_response_rule:600 \
  fuzz_command_line:600 fuzz_action_data:1024 fuzz_package_file:90000 \
  fuzz_string_resource:4096; do
  target=${entry%%:*} max_len=${entry#*:}
  corpus=build/host-asan/fuzz/corpus-$target
  mkdir -p "$corpus"
  seeds=()
  [ -d "fuzz/corpus/$target" ] && seeds=("fuzz/corpus/$target")
  # The simulated machine's files live under TMPDIR: in memory, since the response-file
  # target writes each input as a file and a disk's flush on every rewrite halves its speed.
  TMPDIR=$fuzz_tmp build/host-asan/fuzz/$target -max_total_time=20 -max_len="$max_len" -print_final_stats=0 \
    "$corpus" "${seeds[@]+"${seeds[@]}"}" 2>&1 | tail -1
done

status=0
echo "== end-to-end with a signed DLL in a signed package: the same results as unsigned"
mkdir -p build/signed-x64
cp build/mingw-x86_64/src/fa9wolt.dll build/signed-x64/fa9wolt.dll
FA9_SIGN_PASSWORD=$sign_password bash scripts/sign.sh build/test-cert/signing.pfx build/signed-x64/fa9wolt.dll
FA9_SIGN_PASSWORD=$sign_password python3 e2e/scenarios.py --build-dir build/mingw-x86_64 --work-dir build/e2e-signed \
  --dll build/signed-x64/fa9wolt.dll --sign-pfx build/test-cert/signing.pfx --sign-ca build/test-cert/ca.pem \
  registration_round_trip || status=$?
# Its prepared prefix is over a gigabyte and no later step uses it.
rm -rf build/e2e-signed/base-prefix

echo "== end-to-end tests: the package installed by Wine's msiexec, 64-bit DLL and the shipped 32-bit one"
# e2e.x64.* and e2e.x86.*; a 32-bit test that cannot run here shows as skipped, its reason below.
ctest --test-dir build/mingw-x86_64 -L e2e -j2 --output-on-failure || status=$?
grep -h '^SKIPPED: ' build/mingw-x86_64/Testing/Temporary/LastTest.log 2>/dev/null | sort | uniq -c || true

exit $status
