# A minimal Debian 12 root to try things in as a new user would, sourced by the scripts that
# need one (scripts/test-fresh-debian.sh, scripts/test-package.sh). Needs root and debootstrap.
#
# The bare root (debootstrap --variant=minbase bookworm, from the mirror the machine's own apt
# sources name) is made once and kept in $QUILMER_FRESH_CACHE (default /var/cache/quilmer-fresh);
# every run works in a copy of it, so the kept root stays as debootstrap left it. Downloaded
# packages are kept in the cache too (apt-archives/), so a second run downloads nothing it had.
#
#   fresh_root_make WORK     copies the bare root (making it first if needed) to WORK, mounts
#                            /proc and /dev in it; fresh_root_remove undoes both
#   fresh_root_run WORK CMD  runs CMD (a shell command line) in WORK as root, clean environment

FRESH_CACHE=${QUILMER_FRESH_CACHE:-/var/cache/quilmer-fresh}
FRESH_SUITE=bookworm

# The first Debian mirror the machine's apt sources name (deb822 or one-line form).
fresh_mirror() {
    local uri
    uri=$(grep -hs -E '^URIs:' /etc/apt/sources.list.d/*.sources | awk '{print $2}' |
        grep -v -- '-security' | head -n1 || true)
    [ -n "$uri" ] || uri=$(grep -hs -E '^deb ' /etc/apt/sources.list /etc/apt/sources.list.d/*.list |
        awk '{for (i = 2; i <= NF; i++) if ($i ~ /^https?:/) {print $i; exit}}' | grep -v -- '-security' |
        head -n1 || true)
    echo "${uri:-http://deb.debian.org/debian}"
}

fresh_root_base() {
    local base="$FRESH_CACHE/base-$FRESH_SUITE"
    if [ -f "$base/.complete" ]; then
        echo "$base"
        return
    fi
    command -v debootstrap > /dev/null || {
        echo "fresh-root: debootstrap is missing (bash scripts/install-deps.sh installs it)" >&2
        return 1
    }
    local mirror tmp="$FRESH_CACHE/base-$FRESH_SUITE.tmp"
    mirror=$(fresh_mirror)
    mkdir -p "$FRESH_CACHE/apt-archives/partial"
    rm -rf --one-file-system "$tmp"
    echo "fresh-root: debootstrap --variant=minbase $FRESH_SUITE from $mirror (once, kept in $FRESH_CACHE)" >&2
    debootstrap --variant=minbase --cache-dir="$FRESH_CACHE/apt-archives" "$FRESH_SUITE" "$tmp" "$mirror" \
        > "$FRESH_CACHE/debootstrap.log" 2>&1 || {
        echo "fresh-root: debootstrap failed; see $FRESH_CACHE/debootstrap.log" >&2
        tail -n 20 "$FRESH_CACHE/debootstrap.log" >&2
        return 1
    }
    # The security updates, as a Debian 12 installation has them.
    if grep -qs 'debian-security' /etc/apt/sources.list /etc/apt/sources.list.d/*; then
        local security
        security=$(grep -hs -E '^URIs:.*-security|^deb .*-security' /etc/apt/sources.list /etc/apt/sources.list.d/* |
            grep -o -E 'https?://[^ ]+' | head -n1)
        echo "deb $security $FRESH_SUITE-security main" >> "$tmp/etc/apt/sources.list"
    fi
    echo "deb $mirror $FRESH_SUITE-updates main" >> "$tmp/etc/apt/sources.list"
    rm -rf "$tmp/var/cache/apt/archives"/*.deb
    touch "$tmp/.complete"
    mv "$tmp" "$base"
    echo "$base"
}

fresh_root_make() {
    local work=$1 base
    base=$(fresh_root_base) || return 1
    rm -rf --one-file-system "$work"
    cp -a "$base" "$work"
    rm -f "$work/.complete"
    cp /etc/resolv.conf "$work/etc/resolv.conf" 2> /dev/null || true
    mount -t proc proc "$work/proc"
    mount --bind /dev "$work/dev"
    if mountpoint -q /dev/pts; then mount --bind /dev/pts "$work/dev/pts"; fi
    mount --bind "$FRESH_CACHE/apt-archives" "$work/var/cache/apt/archives"
}

fresh_root_remove() {
    local work=$1 m
    [ -d "$work" ] || return 0
    for m in var/cache/apt/archives dev/pts dev proc; do
        if mountpoint -q "$work/$m"; then umount -l "$work/$m"; fi
    done
    for m in var/cache/apt/archives dev/pts dev proc; do
        if mountpoint -q "$work/$m"; then
            echo "fresh-root: $work/$m is still mounted; leaving $work in place" >&2
            return 1
        fi
    done
    rm -rf --one-file-system "$work"
}

fresh_root_run() {
    local work=$1
    shift
    chroot "$work" /usr/bin/env -i HOME=/root LANG=C.UTF-8 DEBIAN_FRONTEND=noninteractive \
        PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin /bin/bash -c "$*"
}
