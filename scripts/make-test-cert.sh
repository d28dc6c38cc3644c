#!/usr/bin/env bash
# A throw-away code-signing certificate for tests: a CA of its own and a signing
# certificate it issued, valid two days, never for a release.
#   make-test-cert.sh DIR [PASSWORD]  ->  DIR/ca.pem (to verify against), DIR/signing.pfx
set -euo pipefail
dir=$1 password=${2:-test}
mkdir -p "$dir" && cd "$dir"
rm -f ca.key ca.pem signing.key signing.csr signing.pem signing.pfx ext.cnf
openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 2 -sha256 \
  -subj "/CN=fa9wolt test CA (not for release)" \
  -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null
openssl req -newkey rsa:2048 -nodes -keyout signing.key -out signing.csr -sha256 \
  -subj "/CN=fa9wolt test signing (not for release)/O=ZNK" 2>/dev/null
printf '%s\n' "basicConstraints=critical,CA:FALSE" "keyUsage=critical,digitalSignature" \
  "extendedKeyUsage=codeSigning" > ext.cnf
openssl x509 -req -in signing.csr -CA ca.pem -CAkey ca.key -CAcreateserial -out signing.pem -days 2 -sha256 \
  -extfile ext.cnf 2>/dev/null
openssl pkcs12 -export -out signing.pfx -inkey signing.key -in signing.pem -certfile ca.pem \
  -passout "pass:$password"
rm -f ca.key signing.key signing.csr ext.cnf ca.srl
echo "test certificate: $dir/signing.pfx (password given), verify against $dir/ca.pem"
