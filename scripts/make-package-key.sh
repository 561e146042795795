#!/usr/bin/env bash
# Makes an Ed25519 key pair for signing update packages.
# Usage: scripts/make-package-key.sh NAME
# Writes NAME.pem (the private key, readable by its owner only: keep it off the build machines)
# and NAME.pub (the public key as 64 hexadecimal digits, the file the build option
# QUILMER_UPDATE_PUBLIC_KEY names). Refuses to overwrite an existing key.
set -euo pipefail
if [ $# -ne 1 ]; then
  echo "usage: $0 NAME" >&2
  exit 2
fi
name=$1
for f in "$name.pem" "$name.pub"; do
  if [ -e "$f" ]; then
    echo "$0: $f exists; not overwriting a key" >&2
    exit 1
  fi
done
(umask 077 && openssl genpkey -algorithm ed25519 -out "$name.pem")
# The raw public key is the last 32 bytes of its DER form.
openssl pkey -in "$name.pem" -pubout -outform DER | tail -c 32 | od -An -v -tx1 | tr -d ' \n' > "$name.pub"
echo >> "$name.pub"
echo "private key: $name.pem"
echo "public key:  $name.pub ($(cat "$name.pub"))"
