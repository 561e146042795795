#!/usr/bin/env bash
# Installs the Debian 12 packages Quilmer needs to build, test and run.
# Every outside program the project runs is on scripts/programs.list with the package that brings
# it; scripts/check-programs.py checks that this script installs each of those packages.
# Idempotent: packages already present are left alone, and apt-get update runs once per call
# only when something is missing.
set -euo pipefail

packages=(
  # build
  build-essential cmake ninja-build pkg-config
  # core libraries
  libboost-regex-dev libminizip-dev zlib1g-dev libcurl4-openssl-dev
  nlohmann-json3-dev libpugixml-dev libsodium-dev
  # GUI programs: wxWidgets on GTK 3 with the WebKit web view, icons for the art provider
  libwxgtk3.2-dev libwxgtk-webview3.2-dev adwaita-icon-theme hicolor-icon-theme librsvg2-common
  # run time of the programs: HTTPS certificates, the desktop's browser and file opener
  ca-certificates xdg-utils
  # playback in the web view
  gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-plugins-bad
  gstreamer1.0-plugins-ugly gstreamer1.0-libav
  # tests: joined files played through GStreamer as the player window plays them
  gstreamer1.0-tools
  # tests
  libgtest-dev libgmock-dev
  # GUI tests: a display server without a screen
  xvfb xauth
  # the update end-to-end test finds the real new-version window on the display (xwininfo)
  x11-utils
  # media: the real encoder the adapter drives, and its libraries for the in-process probe and
  # stream copy of the direct join methods
  ffmpeg libavformat-dev libavcodec-dev libavutil-dev
  # update tests: a real HTTP server on loopback, python for the scripted one, zip for fixtures
  nginx-light python3 zip curl openssl
  # the benchmarks wait for stopped processes (pgrep)
  procps
  # the fresh-machine checks: a minimal Debian root (scripts/fresh-root.sh)
  debootstrap
  # the Debian package (scripts/package.sh): icons drawn from the SVG, the binaries' library
  # dependencies (dpkg-shlibdeps needs file), and the checks of the package and its desktop files
  librsvg2-bin dpkg-dev file lintian desktop-file-utils appstream
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
