#!/usr/bin/env bash
# Publishes an update in one step: signs the package, writes the version descriptor that offers
# it (with the package's SHA-256) and signs the descriptor too.
#   scripts/publish-update.sh KEY PACKAGE VERSION DOWNLOADURL DESCRIPTOR [NAME=VALUE ...]
# KEY          the private signing key (scripts/make-package-key.sh)
# PACKAGE      the update package (zip); PACKAGE.sig is written beside it
# VERSION      the package's short version text, as the programs show it: v2.0
# DOWNLOADURL  the address the package is served at (its .sig beside it)
# DESCRIPTOR   the descriptor to write ("main" section); DESCRIPTOR.sig is written beside it
# NAME=VALUE   more keys of the descriptor: releasedate=12-01-2026, lastversion=v1.5, tipurl=...
# Upload PACKAGE and PACKAGE.sig first, then DESCRIPTOR and DESCRIPTOR.sig together: the
# programs ignore a descriptor whose signature does not match it, and refuse a package whose
# hash is not the one the signed descriptor names.
set -euo pipefail
if [ $# -lt 5 ]; then
  echo "usage: $0 KEY PACKAGE VERSION DOWNLOADURL DESCRIPTOR [NAME=VALUE ...]" >&2
  exit 2
fi
key=$1
package=$2
version=$3
url=$4
descriptor=$5
shift 5
here=$(cd "$(dirname "$0")" && pwd)
[[ "$version" =~ ^v[0-9]+(\.[0-9]+)*$ ]] || { echo "$0: VERSION must be a short version text like v2.0" >&2; exit 1; }
[[ "$url" =~ ^https?://[^[:space:]]+$ ]] || { echo "$0: DOWNLOADURL must be an http or https address" >&2; exit 1; }
extra=()
extra_key='^(releasedate|lastversion|tipurl)=[^[:cntrl:]]*$'
for pair in "$@"; do
  [[ "$pair" =~ $extra_key ]] ||
    { echo "$0: '$pair' is not releasedate=, lastversion= or tipurl= with a one-line value" >&2; exit 1; }
  extra+=("$pair")
done
"$here/sign-package.sh" "$key" "$package" > /dev/null
hash=$(sha256sum "$package" | cut -d' ' -f1)
tmp="$descriptor.tmp.$$"
trap 'rm -f "$tmp" "$tmp.sig"' EXIT
{
  printf '[main]\n'
  printf 'version=%s\n' "$version"
  printf 'downloadurl=%s\n' "$url"
  printf 'sha256=%s\n' "$hash"
  for pair in "${extra[@]}"; do printf '%s\n' "$pair"; done
} > "$tmp"
"$here/sign-package.sh" "$key" "$tmp" > /dev/null
mv "$tmp.sig" "$descriptor.sig"
mv "$tmp" "$descriptor"
trap - EXIT
echo "$descriptor"
