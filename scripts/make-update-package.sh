#!/usr/bin/env bash
# Builds a signed update package from an installed program folder, restamped with a new version:
#   scripts/make-update-package.sh PROGRAM_FOLDER VERSION KEY PACKAGE
# PROGRAM_FOLDER  an installed program folder (cmake --install build --prefix FOLDER)
# VERSION         the new version, four numbers: 2.0.0.1 (the programs then show v2.0)
# KEY             the private signing key (scripts/make-package-key.sh; tests/update/keys/ for tests)
# PACKAGE         the zip to write; PACKAGE.sig is written beside it (scripts/sign-package.sh)
#
# The folder is copied, and every program in the copy that carries the version record
# ("QUILMER-FILE-VERSION:" followed by the file version, 64 bytes in all, see foundation/Version.cpp)
# gets the new version written into that record in place; nothing else of the programs changes.
# A real release is built with the new version in CMakeLists.txt instead; this script is how the
# tests and a packager get a newer package of the very same build. The zip keeps the folder's
# relative names and the Unix modes of its files.
set -euo pipefail
if [ $# -ne 4 ]; then
  echo "usage: $0 PROGRAM_FOLDER VERSION KEY PACKAGE" >&2
  exit 2
fi
folder=$1
version=$2
key=$3
package=$4
[ -d "$folder" ] || { echo "$0: no program folder $folder" >&2; exit 1; }
[[ "$version" =~ ^[0-9]+\.[0-9]+\.[0-9]+\.[0-9]+$ ]] || { echo "$0: VERSION must be four numbers like 2.0.0.1" >&2; exit 1; }
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/quilmer-package-XXXXXX")
trap 'rm -rf "$work"' EXIT
cp -a "$folder/." "$work/folder"
python3 - "$work/folder" "$version" "$package" <<'PY'
import os, stat, sys, zipfile
folder, version, package = sys.argv[1], sys.argv[2], sys.argv[3]
marker = b"QUILMER-FILE-VERSION:"
record_size = 64
text = ", ".join(version.split(".")).encode()
if len(marker) + len(text) >= record_size:
    sys.exit("version text too long")
stamped = 0
for root, dirs, files in os.walk(folder):
    for name in files:
        path = os.path.join(root, name)
        if os.path.islink(path) or not os.access(path, os.X_OK):
            continue
        data = bytearray(open(path, "rb").read())
        at = data.find(marker)
        if at < 0:
            continue
        if data.find(marker, at + 1) >= 0:
            sys.exit(f"{path}: more than one version record")
        record = marker + text
        data[at:at + record_size] = record + b"\0" * (record_size - len(record))
        with open(path, "r+b") as out:
            out.write(data)
        stamped += 1
if stamped == 0:
    sys.exit(f"{folder}: no program with a version record")
tmp = package + ".part"
with zipfile.ZipFile(tmp, "w", zipfile.ZIP_DEFLATED) as z:
    for root, dirs, files in sorted(os.walk(folder)):
        dirs.sort()
        for name in sorted(files):
            path = os.path.join(root, name)
            if os.path.islink(path):
                sys.exit(f"{path}: symbolic links are not packaged")
            rel = os.path.relpath(path, folder)
            info = zipfile.ZipInfo.from_file(path, rel)
            info.compress_type = zipfile.ZIP_DEFLATED
            with open(path, "rb") as f:
                z.writestr(info, f.read())
os.replace(tmp, package)
print(f"{package}: {stamped} programs stamped {version}")
PY
"$here/sign-package.sh" "$key" "$package" > /dev/null
echo "$package"
