#!/bin/sh
# Packs the Linux release archive of a build with packaging/pack, as
# scripts/release does, and checks it as a hub's operator gets it: its entries,
# their owners, modes and times, and the gzip header; then, unpacked into a
# folder of its own, its kqvhost run from another folder answers the default
# hub as the golden output has it, with the archive's provider and libraries,
# and reports the version in the archive's name; its provider passes the
# library checks, and no file names a folder of the build.
#
# usage: check_archive.sh BUILD_DIR NAME STRIP GOLDEN READELF NM [EMULATOR...]
set -u

if [ $# -lt 6 ]; then
    echo "usage: $0 BUILD_DIR NAME STRIP GOLDEN READELF NM [EMULATOR...]" >&2
    exit 2
fi
build=$1
name=$2
strip=$3
golden=$4
readelf=$5
nm=$6
shift 6
emulator="$*"
source_dir=$(cd "$(dirname "$0")/../.." && pwd)

scratch=$(mktemp -d) || exit 1
trap 'rm -rf "$scratch"' EXIT

failures=0
fail() {
    printf 'FAIL: %s\n' "$*" >&2
    failures=$((failures + 1))
}

# 2023-11-14 22:13:20 UTC
SOURCE_DATE_EPOCH=1700000000
export SOURCE_DATE_EPOCH
archive=$(bash "$source_dir/packaging/pack" "$build" "$name" tar.gz "$strip" "$scratch/out") ||
    { echo "packaging/pack failed" >&2; exit 1; }
[ "$archive" = "$scratch/out/$name.tar.gz" ] && [ -f "$archive" ] ||
    { echo "packaging/pack wrote '$archive', expected $scratch/out/$name.tar.gz" >&2; exit 1; }

# The gzip header: no flags (so no file name) and no time.
header=$(od -An -tx1 -N8 "$archive" | tr -d ' \n')
[ "$header" = 1f8b080000000000 ] || fail "gzip header $header: a file name or a time"

# Every entry, in the archive's order: mode, owner/group, time, name.
TZ=UTC tar --numeric-owner -tvzf "$archive" | awk '{ print $1, $2, $4, $5, $6 }' >"$scratch/entries"
sed "s|NAME|$name|" >"$scratch/expected" <<'ENTRIES'
drwxr-xr-x 0/0 2023-11-14 22:13 NAME/
-rw-r--r-- 0/0 2023-11-14 22:13 NAME/INSTALL
-rw-r--r-- 0/0 2023-11-14 22:13 NAME/LICENSE
drwxr-xr-x 0/0 2023-11-14 22:13 NAME/bin/
-rwxr-xr-x 0/0 2023-11-14 22:13 NAME/bin/kqvhost
drwxr-xr-x 0/0 2023-11-14 22:13 NAME/lib/
-rw-r--r-- 0/0 2023-11-14 22:13 NAME/lib/KQVDWSYS
-rw-r--r-- 0/0 2023-11-14 22:13 NAME/lib/libhubds.so
-rw-r--r-- 0/0 2023-11-14 22:13 NAME/lib/libhubdsnet.so
-rw-r--r-- 0/0 2023-11-14 22:13 NAME/lib/libhubreg.so
-rw-r--r-- 0/0 2023-11-14 22:13 NAME/lib/libhubtrace.so
drwxr-xr-x 0/0 2023-11-14 22:13 NAME/share/
drwxr-xr-x 0/0 2023-11-14 22:13 NAME/share/kqvdwsys/
drwxr-xr-x 0/0 2023-11-14 22:13 NAME/share/kqvdwsys/scenarios/
-rw-r--r-- 0/0 2023-11-14 22:13 NAME/share/kqvdwsys/scenarios/default.sql
ENTRIES
cmp -s "$scratch/entries" "$scratch/expected" ||
    fail "entries differ from the expected:$(diff "$scratch/expected" "$scratch/entries")"

mkdir "$scratch/unpacked" "$scratch/elsewhere"
tar -C "$scratch/unpacked" -xzf "$archive" || { echo "cannot unpack $archive" >&2; exit 1; }
root=$scratch/unpacked/$name

# Runs the unpacked kqvhost from another folder; output in $scratch/out.txt.
run() {
    # shellcheck disable=SC2086 # the emulator is a command line of its own
    (cd "$scratch/elsewhere" && $emulator "$root/bin/kqvhost" "$@") >"$scratch/out.txt" 2>"$scratch/err.txt"
    status=$?
    [ "$status" -eq 0 ] || fail "kqvhost $*: exit status $status: $(cat "$scratch/err.txt")"
}

run
cmp -s "$scratch/out.txt" "$golden" ||
    fail "kqvhost from another folder: output differs from $golden:$(diff "$golden" "$scratch/out.txt")"
grep -q "registry: provider 'KQVDWSYS' registered" "$scratch/err.txt" ||
    fail "kqvhost: no registration line: $(cat "$scratch/err.txt")"

# The version in the archive's name is the host's, and the provider's in
# three digits; the provider loaded is the archive's.
version=$(echo "$name" | sed -n 's/^kqvdwsys-\([0-9.]*\)-linux-x86$/\1/p')
[ -n "$version" ] || fail "archive name $name: no version"
run --version
for line in "kqvhost $version" "Provider $root/bin/../lib/KQVDWSYS" "Version V$(echo "$version" | tr -d .), compiled "; do
    grep -qF -- "$line" "$scratch/out.txt" || fail "kqvhost --version does not say '$line': $(cat "$scratch/out.txt")"
done

sh "$source_dir/tests/provider_frame/check_library.sh" "$root/lib/KQVDWSYS" '$ORIGIN' "$readelf" "$nm" 4 ||
    fail "the archive's provider fails the library checks"
# The programs and the stand-in hub's libraries find theirs in the archive.
for entry in 'bin/kqvhost $ORIGIN/../lib' 'lib/libhubtrace.so $ORIGIN' 'lib/libhubreg.so $ORIGIN' \
             'lib/libhubds.so $ORIGIN' 'lib/libhubdsnet.so $ORIGIN'; do
    file=${entry%% *}
    runpath=$("$readelf" -d -W "$root/$file" | sed -n 's/.*(R[UN]*PATH).*\[\(.*\)\]$/\1/p')
    [ "$runpath" = "${entry#* }" ] || fail "$file: search path '$runpath', expected '${entry#* }'"
done
for folder in "$source_dir" "$(cd "$build" && pwd)"; do
    named=$(grep -rlF -- "$folder" "$root")
    [ -z "$named" ] || fail "files name the build's folder $folder: $named"
done

if [ "$failures" -ne 0 ]; then
    echo "$archive: $failures check(s) failed" >&2
    exit 1
fi
echo "$archive: all checks passed"
