#!/usr/bin/env bash
# Signs an update package: writes PACKAGE.sig, the 64-byte Ed25519 signature of the whole file,
# to be served beside the package (its address + ".sig").
# Usage: scripts/sign-package.sh KEY PACKAGE
# KEY is the private key made by scripts/make-package-key.sh. The signature is checked against
# the key's public half before the script reports success.
set -euo pipefail
if [ $# -ne 2 ]; then
  echo "usage: $0 KEY PACKAGE" >&2
  exit 2
fi
key=$1
package=$2
[ -r "$key" ] || { echo "$0: cannot read key $key" >&2; exit 1; }
[ -f "$package" ] || { echo "$0: no package $package" >&2; exit 1; }
tmp="$package.sig.tmp.$$"
trap 'rm -f "$tmp"' EXIT
openssl pkeyutl -sign -inkey "$key" -rawin -in "$package" -out "$tmp"
[ "$(wc -c < "$tmp")" -eq 64 ] || { echo "$0: $key is not an Ed25519 key" >&2; exit 1; }
openssl pkeyutl -verify -inkey "$key" -rawin -in "$package" -sigfile "$tmp" > /dev/null
mv "$tmp" "$package.sig"
trap - EXIT
echo "$package.sig"
