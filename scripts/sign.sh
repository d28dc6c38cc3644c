#!/usr/bin/env bash
# Signs Windows files in place with Authenticode, SHA-256: DLLs, programs and .msi
# packages, with the certificate and key of a PKCS#12 file the caller provides.
#   sign.sh PFX FILE...
# FA9_SIGN_PASSWORD: the PFX's password (read through a pipe, never on a command line);
# FA9_SIGN_TIMESTAMP: an RFC 3161 time-stamp URL, so that signatures outlive the certificate.
set -euo pipefail
[ $# -ge 2 ] || { sed -n '2,7p' "$0" | sed 's/^# \{0,1\}//' >&2; exit 2; }
pfx=$1; shift
[ -f "$pfx" ] || { echo "sign.sh: no certificate file $pfx" >&2; exit 2; }
command -v osslsigncode >/dev/null || { echo "sign.sh: osslsigncode is missing (scripts/install-deps.sh)" >&2; exit 2; }
args=(-pkcs12 "$pfx" -h sha256 -n "Add-ins for Visual Studio")
[ -n "${FA9_SIGN_TIMESTAMP:-}" ] && args+=(-ts "$FA9_SIGN_TIMESTAMP")
for f in "$@"; do
  [ -f "$f" ] || { echo "sign.sh: no file $f" >&2; exit 2; }
  tmp="$f.signing"
  rm -f "$tmp"
  if ! printf '%s' "${FA9_SIGN_PASSWORD:-}" | osslsigncode sign "${args[@]}" -readpass /dev/stdin \
         -in "$f" -out "$tmp" >"$tmp.log" 2>&1; then
    cat "$tmp.log" >&2; rm -f "$tmp" "$tmp.log"
    echo "sign.sh: could not sign $f" >&2; exit 1
  fi
  rm -f "$tmp.log"
  mv "$tmp" "$f"
  echo "signed: $f"
done
