#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need. Safe to run again:
# it only calls apt-get when something is missing.
set -euo pipefail
pkgs=(g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
      cmake ninja-build libgtest-dev libgmock-dev libbenchmark-dev clang libclang-rt-14-dev
      wine64 msitools wixl xvfb xdotool imagemagick locales libc6-i386 libssl-dev osslsigncode openssl)
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

# Wine's 32-bit Windows-side DLLs, for the 32-bit end-to-end run: Wine 8's 64-bit msiexec
# starts a 32-bit custom-action server in its wow64 mode once WINEDLLPATH leads it to them.
# Unpacked from libwine:i386 of the installed wine64's version into a cache outside the
# checkout (nothing installed system-wide) and kept while that version stays installed.
# A machine that runs no 32-bit code, or where the download fails, goes on without it:
# the 32-bit tests then report themselves skipped.
wine32_cache=${FA9_WINE32_CACHE:-/var/cache/fa9wolt/wine32}
wine32() {
  local version dir tmp deb
  if [ "${FA9_E2E_NO_32BIT:-0}" != 0 ]; then
    echo "32-bit code: FA9_E2E_NO_32BIT is set, so taken as not run here; the 32-bit end-to-end tests will be skipped"
    return 0
  fi
  if ! /lib/ld-linux.so.2 --version >/dev/null 2>&1; then
    echo "32-bit code: this machine does not run it (/lib/ld-linux.so.2 fails); the 32-bit end-to-end tests will be skipped"
    return 0
  fi
  version=$(dpkg-query -W -f='${Version}' wine64)
  dir=$wine32_cache
  if [ "$(cat "$dir/version" 2>/dev/null)" = "$version" ] && [ -f "$dir/dllpath/i386-windows/kernel32.dll" ]; then
    echo "32-bit code: this machine runs it; Wine's 32-bit DLLs $version in $dir/dllpath"
    return 0
  fi
  dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386 || return 1
  tmp=$(mktemp -d)
  chown _apt "$tmp" 2>/dev/null || true  # apt downloads as _apt
  # apt-get update only when the lists do not know the package yet (a new architecture).
  if ! (cd "$tmp" && apt-get download -qq "libwine:i386=$version" >/dev/null 2>&1); then
    apt-get update -qq || true
    (cd "$tmp" && apt-get download -qq "libwine:i386=$version") || { rm -rf "$tmp"; return 1; }
  fi
  deb=$(ls "$tmp"/libwine_*_i386.deb) && rm -rf "$dir" && mkdir -p "$dir/dllpath" &&
    dpkg -x "$deb" "$dir/root" || { rm -rf "$tmp"; return 1; }
  rm -rf "$tmp"
  ln -s "$dir/root/usr/lib/i386-linux-gnu/wine/i386-windows" "$dir/dllpath/i386-windows"
  ln -s /usr/lib/x86_64-linux-gnu/wine/x86_64-unix "$dir/dllpath/x86_64-unix"
  [ -f "$dir/dllpath/i386-windows/kernel32.dll" ] || return 1
  echo "$version" > "$dir/version"
  echo "32-bit code: this machine runs it; Wine's 32-bit DLLs $version unpacked into $dir/dllpath"
}
wine32 || echo "32-bit code: this machine runs it, but Wine's 32-bit DLLs could not be prepared in $wine32_cache; the 32-bit end-to-end tests will be skipped"

# Wine's wow64 mode cannot create the summary's rich-edit window in a 32-bit process; the
# classic 32-bit Wine can, and once installed it runs every 32-bit process of wine64
# (e2e/README.md). Where it cannot be installed the wow64 mode serves, and the two full-UI
# scenarios report that limit as their skip reason.
classic32() {
  local version
  [ "${FA9_E2E_NO_32BIT:-0}" = 0 ] && /lib/ld-linux.so.2 --version >/dev/null 2>&1 || return 0
  version=$(dpkg-query -W -f='${Version}' wine64)
  if [ "$(dpkg-query -W -f='${Status} ${Version}' wine32:i386 2>/dev/null)" = "install ok installed $version" ]; then
    echo "32-bit Wine: the classic 32-bit Wine $version runs the 32-bit processes"
    return 0
  fi
  dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386 || return 1
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "wine32:i386=$version" >/dev/null ||
    { apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
        "wine32:i386=$version" >/dev/null; } || return 1
  echo "32-bit Wine: the classic 32-bit Wine $version installed; it runs the 32-bit processes"
}
classic32 || echo "32-bit Wine: the classic 32-bit Wine could not be installed; the wow64 mode runs the 32-bit processes"
