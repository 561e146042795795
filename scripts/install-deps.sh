#!/usr/bin/env bash
# Installs the Debian 12 packages Quilmer needs to build, test and run.
# Idempotent: packages already present are left alone, and apt-get update runs once per call
# only when something is missing.
set -euo pipefail

packages=(
  # build
  build-essential cmake ninja-build pkg-config
  # core libraries
  libboost-regex-dev libminizip-dev zlib1g-dev libcurl4-openssl-dev
  nlohmann-json3-dev libpugixml-dev
  # tests
  libgtest-dev libgmock-dev
  # media: the real encoder the adapter drives
  ffmpeg
  # update tests: a real HTTP server on loopback, python for the scripted one, zip for fixtures
  nginx-light python3 zip curl openssl
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all ${#packages[@]} packages present"
  exit 0
fi

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -q
$SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
