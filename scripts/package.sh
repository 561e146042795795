#!/usr/bin/env bash
# Builds the Debian package: scripts/package.sh [BUILD_DIR]   (default build-package/)
# Writes BUILD_DIR/quilmer_<version>_<arch>.deb (CPack from the install rules, see packaging/) and
# prints its path. The package's build folder is its own: its install rules add the desktop
# files at absolute places, which a plain `cmake --install --prefix DIR` must never do.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
dir=${1:-build-package}
# Debian's hardening, as dpkg-buildflags gives it (without -g: the package's programs are stripped).
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUILMER_PACKAGE=ON -DQUILMER_BUILD_TESTS=OFF \
    -DCMAKE_CXX_FLAGS="-fstack-protector-strong -D_FORTIFY_SOURCE=2 -Wformat -Werror=format-security" \
    -DCMAKE_EXE_LINKER_FLAGS="-Wl,-z,relro -Wl,-z,now" > "$dir.configure.log" 2>&1 ||
    { cat "$dir.configure.log" >&2; exit 1; }
rm -f "$dir.configure.log"
cmake --build "$dir"
rm -f "$dir"/quilmer_*.deb
(cd "$dir" && cpack -G DEB > cpack.log 2>&1) || { cat "$dir/cpack.log" >&2; exit 1; }
ls "$(pwd)/$dir"/quilmer_*.deb
