#!/usr/bin/env bash
# Checks the Debian package as a user meets it: lintian (no errors), the desktop entry and the
# AppStream data validated, the expected files in it; then, in a fresh minimal Debian 12 root
# (scripts/fresh-root.sh), `apt-get install ./quilmer_*.deb`, a join of two clips with
# quilmer-join, `quilmer --version` without a display, and `apt-get purge` leaving nothing behind.
# Needs root. Usage: scripts/test-package.sh [PACKAGE.deb]   (default: builds it with package.sh)
set -euo pipefail
cd "$(dirname "$0")/.."
[ "$(id -u)" -eq 0 ] || { echo "test-package: needs root (chroot)" >&2; exit 1; }
. scripts/fresh-root.sh

deb=${1:-}
if [ -z "$deb" ]; then
    deb=$(bash scripts/package.sh | tail -n1)
fi
[ -f "$deb" ] || { echo "test-package: no package $deb" >&2; exit 1; }
deb=$(cd "$(dirname "$deb")" && pwd)/$(basename "$deb")
start=$SECONDS
fail() { echo "test-package: $*" >&2; exit 1; }

# --- the package file itself
echo "test-package: $(basename "$deb"), $(du -k "$deb" | cut -f1) KiB"
dpkg-deb -f "$deb" Depends | sed 's/^/test-package: Depends: /'
lintian_log="${deb%.deb}.lintian.txt"
lintian --fail-on error --info "$deb" > "$lintian_log" 2>&1 || { cat "$lintian_log" >&2; fail "lintian reports errors"; }
echo "test-package: lintian: $(grep -c '^E:' "$lintian_log" || true) errors, $(grep -c '^W:' "$lintian_log" || true) warnings ($lintian_log)"

look=$(mktemp -d "${TMPDIR:-/tmp}/quilmer-deb-XXXXXX")
work="$FRESH_CACHE/work-package-$$"
trap 'rm -rf "$look"; fresh_root_remove "$work"' EXIT
dpkg-deb -x "$deb" "$look"
for f in usr/lib/quilmer/quilmer usr/lib/quilmer/quilmer-join usr/lib/quilmer/quilmer-caller usr/lib/quilmer/ffmpeg \
    usr/lib/quilmer/updater usr/lib/quilmer/language/English.lng usr/lib/quilmer/packaged-by \
    usr/share/applications/quilmer.desktop usr/share/metainfo/example.corvane.Quilmer.metainfo.xml \
    usr/share/icons/hicolor/scalable/apps/quilmer.svg usr/share/icons/hicolor/48x48/apps/quilmer.png \
    usr/share/icons/hicolor/128x128/apps/quilmer.png usr/share/man/man1/quilmer.1.gz \
    usr/share/man/man1/quilmer-join.1.gz usr/share/man/man1/quilmer-caller.1.gz usr/share/mime/packages/quilmer.xml; do
    [ -f "$look/$f" ] || fail "the package lacks /$f"
done
for p in quilmer quilmer-join quilmer-caller; do
    [ "$(readlink "$look/usr/bin/$p")" = "../lib/quilmer/$p" ] || fail "/usr/bin/$p is not a link to the program folder"
done
desktop-file-validate "$look/usr/share/applications/quilmer.desktop" || fail "desktop-file-validate"
appstreamcli validate --no-net "$look/usr/share/metainfo/example.corvane.Quilmer.metainfo.xml" > "$look/as.log" 2>&1 ||
    { cat "$look/as.log" >&2; fail "appstreamcli validate"; }
# Every input format's MIME type is offered to the file manager.
mime=$(grep '^MimeType=' "$look/usr/share/applications/quilmer.desktop")
for t in video/x-flv video/mp4 video/3gpp video/quicktime video/x-msvideo video/x-ms-wmv audio/x-ms-wma \
    application/vnd.ms-asf application/vnd.rn-realmedia video/x-hlv video/x-flx video/x-fmv; do
    case "$mime;" in *"=$t;"* | *";$t;"*) ;; *) fail "the desktop entry lacks $t" ;; esac
done
echo "test-package: contents, desktop entry and AppStream data checked"

# --- install, run, remove in a fresh Debian 12
fresh_root_make "$work"
cp "$deb" "$work/root/"
log="$FRESH_CACHE/package-install.log"
touch "$work/root/before-install"
sleep 1
if ! fresh_root_run "$work" "apt-get update -q && apt-get install -y -q /root/$(basename "$deb")" > "$log" 2>&1; then
    tail -n 30 "$log" >&2
    fail "apt-get install ./$(basename "$deb") failed on a fresh Debian 12 (log: $log)"
fi
echo "test-package: installed with $(grep -c '^Setting up' "$log") packages in $((SECONDS - start)) s"

cat > "$work/root/run.sh" <<'EOF'
set -eu
cd /root
unset DISPLAY WAYLAND_DISPLAY
ffmpeg -v error -y -f lavfi -i testsrc=size=160x120:rate=15 -f lavfi -i sine=sample_rate=22050 -t 2 \
    -c:v mpeg4 -c:a aac a.mp4
ffmpeg -v error -y -f lavfi -i testsrc2=size=176x144:rate=25 -f lavfi -i sine=frequency=660:sample_rate=44100 \
    -t 2 -c:v flv1 -c:a libmp3lame b.flv
quilmer-join -q -o joined.mp4 a.mp4 b.flv
# The classic way runs the encoder adapter beside the program, found through the /usr/bin link.
quilmer-join -q --method classic -o joined.avi a.mp4 b.flv
[ -s joined.mp4 ] && [ -s joined.avi ] || { echo "no joined file"; exit 1; }
v=$(quilmer --version)
[ -n "$v" ] && [ "$v" = "$(quilmer-join --version)" ] && [ "$v" = "$(quilmer-caller --version)" ] ||
    { echo "versions differ: '$v'"; exit 1; }
echo "quilmer --version: $v"
dpkg -L quilmer > /root/package-files.txt
EOF
fresh_root_run "$work" "bash /root/run.sh" || fail "the installed programs did not join or tell their version"
echo "test-package: joined two clips and read the version"

# Removed, then installed, used and removed once more over the same dependencies: the second
# removal must leave /usr exactly as the first one did, and nothing of the package in place.
cat > "$work/root/left.sh" <<'EOF'
left=0
if dpkg -L quilmer > /dev/null 2>&1; then echo "dpkg -L quilmer still lists files"; left=1; fi
while read -r f; do
    if [ -d "$f" ] && [ ! -L "$f" ]; then
        case "$f" in /usr/lib/quilmer* | /usr/share/doc/quilmer*) ;; *) continue ;; esac
    fi
    if [ -e "$f" ] || [ -L "$f" ]; then echo "left behind: $f"; left=1; fi
done < /root/package-files.txt
exit $left
EOF
purge() {
    fresh_root_run "$work" "apt-get purge -y -q quilmer" >> "$log" 2>&1 ||
        { tail -n 20 "$log" >&2; fail "apt-get purge quilmer failed"; }
    fresh_root_run "$work" "bash /root/left.sh" || fail "removing the package left files behind"
}
purge
fresh_root_run "$work" "find /usr | sort > /root/usr-before.txt"
fresh_root_run "$work" "apt-get install -y -q /root/$(basename "$deb") && bash /root/run.sh" >> "$log" 2>&1 ||
    { tail -n 20 "$log" >&2; fail "the second install and run failed"; }
purge
fresh_root_run "$work" "find /usr | sort > /root/usr-after.txt"
if ! diff "$work/root/usr-before.txt" "$work/root/usr-after.txt" > "$work/root/usr.diff"; then
    cat "$work/root/usr.diff" >&2
    fail "installing, using and removing the package changed /usr"
fi
echo "test-package: purged twice, dpkg -L empty, /usr as before; $((SECONDS - start)) s in all"
