#!/usr/bin/env bash
# Proves the set-up on a fresh Debian 12 whose package mirror lags: makes a
# Debian 12 chroot with debootstrap, upgrades its 64-bit packages past every
# i386 version the mirror offers, copies a clean clone of HEAD in, and runs
# scripts/run, then scripts/setup, in it as root. Prints each step's time and
# ends with a verdict. Not run by CI: it needs root, the package mirror and
# some minutes (the full set-up installs wine and the MinGW compilers).
#
# The lag: the chroot's security stanza serves amd64 only, and the chroot is
# upgraded from it, so that for every library the security archive updated
# the mirror offers an i386 half only at the older version of the main
# archive. That is a machine whose i386 index of the security archive cannot
# be read, reproducible at will.
#
# usage: tests/build_system/fresh_machine.sh [OPTION]...
#   --consistent   no lag: the chroot takes its packages from the main
#                  archive and its updates alone, which offer every package
#                  at one version for both architectures (the security
#                  archive is left out: its mirror may lag by itself)
#   --unfetchable  one more source whose suite does not exist, for packages
#                  and their sources: an index that cannot be fetched
#   --held         the lagging chroot's zlib1g held at its newer version, so
#                  that no version pairs it with the i386 half that the full
#                  set-up needs: that must fail, with one message that says
#                  why (scripts/run needs no such pair and succeeds)
#   --minimal      scripts/run only, not the full scripts/setup after it
#   --rev REV      the clone at REV instead of HEAD (68b10e5, say: the set-up
#                  before it paired the two architectures)
#   --keep         keep the chroot (its path is printed) for inspection
#   --dir DIR      where the chroot is made (default /var/tmp)
#   --tarball FILE debootstrap's packages kept in FILE, made there the first
#                  time: later runs skip their download
set -euo pipefail

repo=$(git -C "$(dirname "$0")" rev-parse --show-toplevel)
rev=HEAD lag=1 unfetchable= held= minimal= keep= parent=/var/tmp tarball=
while [ $# -gt 0 ]; do
    case "$1" in
        --consistent) lag= ;;
        --unfetchable) unfetchable=1 ;;
        --held) held=1 ;;
        --minimal) minimal=1 ;;
        --rev) rev=${2:?--rev needs a revision}; shift ;;
        --keep) keep=1 ;;
        --dir) parent=${2:?--dir needs a directory}; shift ;;
        --tarball) tarball=$(realpath -m "${2:?--tarball needs a file}"); shift ;;
        *) sed -n '/^# usage/,/^set /{/^set /d; s/^# \{0,1\}//p}' "$0" >&2; exit 2 ;;
    esac
    shift
done
[ -z "$held" ] || { [ -n "$lag" ] && [ -z "$minimal" ]; } ||
    { echo "$0: --held needs the lag and the full set-up" >&2; exit 2; }
[ "$(id -u)" -eq 0 ] || { echo "$0: run as root (debootstrap, namespaces, mounts)" >&2; exit 2; }
commit=$(git -C "$repo" rev-parse --verify "$rev^{commit}")

mirror=http://deb.debian.org/debian
security=http://deb.debian.org/debian-security
mkdir -p "$parent"
root=$(mktemp -d "$parent/kqvdwsys-fresh.XXXXXX")
chmod 755 "$root"  # apt's downloads in the chroot run as _apt
logs=$root.logs
mkdir "$logs"
failures=()
pins=etc/apt/preferences.d/kqvdwsys-multiarch-pairs

# The machine's processes (a lingering wineserver) die with the first of
# them, the init of their PID namespace; its mounts are its mount namespace's
# alone. What debootstrap left mounted is unmounted, innermost first, and the
# chroot removed only once nothing is mounted in it.
cleanup() {
    local pid mount mounted
    if pid=$(cat "$logs/machine.pid" 2>/dev/null) &&
        [ "$(readlink "/proc/$pid/ns/pid")" != "$(readlink /proc/self/ns/pid)" ]; then
        kill -KILL "$pid" 2>/dev/null
    fi
    awk -v r="$root/" 'index($2 "/", r) == 1 { print $2 }' /proc/self/mounts | sort -r |
        while read -r mount; do umount "$mount" 2>/dev/null || umount -l "$mount"; done
    mounted=$(awk -v r="$root/" 'index($2 "/", r) == 1' /proc/self/mounts)
    if [ -n "$mounted" ]; then
        echo "fresh_machine: still mounted, $root left in place:"$'\n'"$mounted" >&2
    elif [ -n "$keep" ]; then
        echo "fresh_machine: the chroot is kept: $root (logs: $logs); remove both when done"
    else
        rm -rf --one-file-system "$root"
        echo "fresh_machine: logs in $logs"
    fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# step NAME COMMAND...: runs it with its output in the step's log, and says
# how long it took and, if it failed, the log's end.
step() {
    local name=$1 start status
    shift
    start=$EPOCHREALTIME
    echo "== $name"
    set +e
    "$@" >"$logs/$name.log" 2>&1
    status=$?
    set -e
    elapsed=$(awk -v a="$start" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.1f", b - a }')
    printf '   %s: %s s, exit status %d\n' "$name" "$elapsed" "$status"
    times+=("$(printf '%-16s %7s s  exit %d' "$name" "$elapsed" "$status")")
    return "$status"
}
times=()

# in_machine COMMAND: runs the shell command on the fresh machine, as root,
# in the clone (or root's home before there is one), with the environment of
# a fresh login. The machine is the chroot made the root of new mount and PID
# namespaces, with the kernel's file systems mounted as a booted Debian has
# them (binfmt_misc too, which systemd mounts): pivot_root, not chroot, since
# a chrooted process may not make the user namespace that wine-run makes.
in_machine() {
    local enter='umount -l /.host && rmdir /.host && { cd /root/kqvdwsys 2>/dev/null || cd /root; } && eval "$1"'
    unshare --mount --pid --fork --propagation private -- /bin/bash -c '
        read -r pid _ </proc/self/stat && echo "$pid" >"$4"
        r=$1
        mount --bind "$r" "$r" && mount -t proc proc "$r/proc" && mount -t sysfs sysfs "$r/sys" &&
            mount --rbind /dev "$r/dev" && mount -t binfmt_misc binfmt_misc "$r/proc/sys/fs/binfmt_misc" &&
            cd "$r" && mkdir -p .host && pivot_root . .host && cd / || exit 1
        exec /usr/bin/env -i HOME=/root PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
            LANG=C.UTF-8 TERM=dumb /bin/bash -c "$2" - "$3"' - "$root" "$enter" "$1" "$logs/machine.pid"
    local status=$?
    rm -f "$logs/machine.pid"
    return "$status"
}

# show LOG: the lines of the log that tell what happened, abridged.
show() {
    grep -E '^(setup|E|W|Err):|^ [^ ].* : |packages? (will be|could)|newly installed|DOWNGRADED|^  ' "$logs/$1.log" |
        grep -v '^  [a-z0-9].*[a-z0-9]$' | head -n 40 | sed 's/^/   | /' || true
}

fail() { failures+=("$*"); echo "   FAILED: $*"; }

command -v debootstrap >/dev/null || step install-debootstrap apt-get install -y -q debootstrap
echo "fresh_machine: chroot $root; $(git -C "$repo" log -1 --format='%h %s' "$commit" | cut -c1-72)"
echo "fresh_machine: mirror $( [ -n "$lag" ] && echo lagging || echo consistent)${unfetchable:+, an index that cannot be fetched}${held:+, zlib1g held}"

bootstrap() {
    if [ -n "$tarball" ] && [ ! -s "$tarball" ]; then
        debootstrap --make-tarball="$tarball" bookworm "$root.tar" "$mirror" || return
        rm -rf "$root.tar"
    fi
    debootstrap ${tarball:+--unpack-tarball="$tarball"} bookworm "$root" "$mirror"
}
step debootstrap bootstrap || { tail -n 20 "$logs/debootstrap.log"; exit 1; }

# The chroot as a fresh install leaves it: its sources in deb822 form, and
# the host's name service.
rm -f "$root/etc/apt/sources.list"
{
    printf 'Types: deb\nURIs: %s\nSuites: bookworm bookworm-updates\nComponents: main\n' "$mirror"
    printf 'Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg\n'
    if [ -n "$lag" ]; then
        printf '\nTypes: deb\nURIs: %s\nSuites: bookworm-security\nComponents: main\n' "$security"
        printf 'Architectures: amd64\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n'
    fi
    if [ -n "$unfetchable" ]; then
        printf '\nTypes: deb deb-src\nURIs: %s\nSuites: bookworm-nonexistent\nComponents: main\n' "$mirror"
        printf 'Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg\n'
    fi
} >"$root/etc/apt/sources.list.d/debian.sources"
cp /etc/resolv.conf "$root/etc/resolv.conf"

upgrade() {
    in_machine 'apt-get update -q; DEBIAN_FRONTEND=noninteractive apt-get upgrade -y -q' || return
    if [ -n "$held" ]; then in_machine 'apt-mark hold zlib1g'; fi
}
step upgrade upgrade || fail "the upgrade of the chroot"
grep -E '^[0-9]+ upgraded' "$logs/upgrade.log" | sed 's/^/   | /' || true

git clone -q --no-local "$repo" "$root/root/kqvdwsys"
git -C "$root/root/kqvdwsys" checkout -q "$commit"

# The rows of the default hub, and no pins left behind.
check_run() {
    local rows
    rows=$(sed -n '/^-----/,/^(/p' "$logs/$1.log" | grep -c '^[A-Z0-9]' || true)
    grep -qx '(10 rows)' "$logs/$1.log" && [ "$rows" -eq 10 ] ||
        fail "scripts/run printed $rows rows of the default hub, not 10"
}
no_pins_left() { [ ! -e "$root/$pins" ] || fail "the pins file $pins stayed behind"; }

if step run-first in_machine 'scripts/run'; then
    check_run run-first
    sed -n '/^ORIGINNODE/,$p' "$logs/run-first.log" | sed 's/^/   | /'
    show run-first
    step run-again in_machine 'scripts/run' && check_run run-again || fail "scripts/run, run again"
else
    show run-first
    fail "scripts/run"
fi
no_pins_left

if [ -z "$minimal" ] && [ -z "$held" ]; then
    step setup-full in_machine 'scripts/setup' || fail "scripts/setup"
    show setup-full
    no_pins_left
    step setup-again in_machine 'scripts/setup' || fail "scripts/setup, run again"
elif [ -z "$minimal" ]; then
    if step setup-full in_machine 'scripts/setup'; then
        fail "scripts/setup succeeded although zlib1g is held"
    fi
    show setup-full
    grep -q '^setup: could not install' "$logs/setup-full.log" ||
        fail "no message that says why the packages could not be installed"
    grep -q 'Held, so apt.*zlib1g' "$logs/setup-full.log" || fail "the message does not name the held zlib1g"
    no_pins_left
fi

# The halves of a pair at one version: dpkg allows nothing else, but a
# package left unconfigured would say the set-up went wrong.
in_machine 'dpkg --audit' >"$logs/audit.log" 2>&1 || true
[ ! -s "$logs/audit.log" ] || { fail "dpkg --audit"; sed 's/^/   | /' "$logs/audit.log"; }
in_machine 'dpkg-query -W -f="\${db:Status-Abbrev} \${Package}:\${Architecture} \${Version}\n"' |
    awk '$1 ~ /^h/ || $2 ~ /:i386$/' >"$logs/i386.log" 2>&1 || true
echo "   i386 packages installed: $(grep -c ':i386 ' "$logs/i386.log" || true)"
if grep -q 'DOWNGRADED\|pinned' "$logs"/*.log; then
    echo "   downgraded or pinned:"
    grep -h -A3 'DOWNGRADED' "$logs"/*.log | grep '^  ' | sed 's/^/   | /' | head -n 10 || true
fi

# On a consistent mirror the set-up installs as it always did.
if [ -z "$lag" ] && grep -l 'apt cannot pair' "$logs"/*.log; then
    fail "pairs aligned on a consistent mirror"
fi

echo "== times"
printf '   %s\n' "${times[@]}"
if [ "${#failures[@]}" -eq 0 ]; then
    echo "fresh_machine: PASS"
else
    echo "fresh_machine: FAIL"
    printf '   %s\n' "${failures[@]}"
    exit 1
fi
