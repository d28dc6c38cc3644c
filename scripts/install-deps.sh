#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need. Safe to run again:
# it only calls apt-get when something is missing.
set -euo pipefail
pkgs=(g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
      cmake ninja-build libgtest-dev libgmock-dev libbenchmark-dev clang libclang-rt-14-dev
      wine64 msitools wixl xvfb xdotool imagemagick locales)
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
# The response-file tests read a Shift-JIS value under a Japanese C-runtime locale.
if ! locale -a 2>/dev/null | grep -qi '^ja_JP\.sjis$'; then
  localedef --no-warnings=ascii -f SHIFT_JIS -i ja_JP ja_JP.SJIS
fi
