#!/usr/bin/env bash
# Tries scripts/install-deps.sh as a new user would: on a fresh minimal Debian 12
# (debootstrap --variant=minbase bookworm, made once and kept, see scripts/fresh-root.sh), then
# checks that every program on scripts/programs.list is there and comes from the package the list
# names (that package, or one it depends on directly). Needs root; takes minutes, most of it
# apt installing the packages (downloaded ones are kept for the next run).
# Usage: scripts/test-fresh-debian.sh        (QUILMER_FRESH_CACHE chooses where the root is kept)
set -euo pipefail
cd "$(dirname "$0")/.."
[ "$(id -u)" -eq 0 ] || { echo "test-fresh-debian: needs root (debootstrap, chroot)" >&2; exit 1; }
. scripts/fresh-root.sh

start=$SECONDS
work="$FRESH_CACHE/work-deps-$$"
trap 'fresh_root_remove "$work"' EXIT
fresh_root_make "$work"
echo "test-fresh-debian: fresh root ready after $((SECONDS - start)) s"

mkdir -p "$work/root/quilmer/scripts"
cp scripts/install-deps.sh "$work/root/quilmer/scripts/"
log="$FRESH_CACHE/install-deps.log"
if ! fresh_root_run "$work" "bash /root/quilmer/scripts/install-deps.sh" > "$log" 2>&1; then
    tail -n 30 "$log" >&2
    echo "test-fresh-debian: scripts/install-deps.sh failed on a fresh Debian 12 (log: $log)" >&2
    exit 1
fi
echo "test-fresh-debian: install-deps done after $((SECONDS - start)) s ($(grep -c '^Setting up' "$log") packages set up)"
# A second run must find everything and install nothing.
again=$(fresh_root_run "$work" "bash /root/quilmer/scripts/install-deps.sh")
case "$again" in
    "install-deps: all "*" packages present") ;;
    *) echo "test-fresh-debian: a second run of install-deps still installs: $again" >&2; exit 1 ;;
esac

# Each program: found on PATH, and owned by its listed package or a direct dependency of it.
python3 scripts/check-programs.py --list-programs > "$work/root/programs.txt"
cat > "$work/root/check.sh" <<'EOF'
fail=0
while read -r program package; do
    path=$(command -v "$program" || true)
    if [ -z "$path" ]; then
        echo "missing: $program (from $package)"
        fail=1
        continue
    fi
    wanted=" $package $(dpkg-query -W -f '${Depends} ${Pre-Depends}' "$package" 2>/dev/null |
        sed -e 's/([^)]*)//g' -e 's/:any//g' | tr ',|' '  ') "
    owners=""
    for p in "$path" "$(readlink -f "$path")" "${path#/usr}" "/usr${path}"; do
        owners="$owners $(dpkg-query -S "$p" 2>/dev/null | sed 's/: .*//' | tr ',' ' ')"
    done
    ok=0
    for o in $owners; do
        case "$wanted" in *" $o "*) ok=1 ;; esac
    done
    if [ "$ok" -eq 0 ]; then
        echo "wrong package: $program ($path) comes from${owners:- no package}, the list says $package"
        fail=1
    fi
done < /root/programs.txt
exit $fail
EOF
if ! fresh_root_run "$work" "bash /root/check.sh"; then
    echo "test-fresh-debian: scripts/programs.list and scripts/install-deps.sh disagree with a fresh Debian 12" >&2
    exit 1
fi
echo "test-fresh-debian: all $(wc -l < "$work/root/programs.txt") listed programs present in $((SECONDS - start)) s"
