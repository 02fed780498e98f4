#!/bin/sh
# Builds each deliverable twice from the same sources with SOURCE_DATE_EPOCH
# set, in directories of other names, as other users in other time zones,
# and compares the two libraries byte for byte. The builds link against the
# hub libraries of a build that exists already; the Unix one names another
# installed hub library directory, and then passes the library checks.
#
# usage: reproducible.sh PRESET HUB_BUILD [PRESET HUB_BUILD]...
#   PRESET: linux32 or mingw32; HUB_BUILD: a built build of that preset
set -u
[ $# -gt 0 ] && [ $(($# % 2)) -eq 0 ] || { echo "usage: $0 PRESET HUB_BUILD [PRESET HUB_BUILD]..." >&2; exit 2; }
. "$(dirname "$0")/provider_build.sh"

SOURCE_DATE_EPOCH=$(git -C "$source_dir" log -1 --format=%ct 2>/dev/null) || SOURCE_DATE_EPOCH=1700000000
export SOURCE_DATE_EPOCH
installed=/opt/hub/lib
copy_sources "$work/a/src"
copy_sources "$work/second-build/kqvdwsys"

while [ $# -gt 0 ]; do
    preset=$1
    library=lib/KQVDWSYS
    [ "$preset" != mingw32 ] || library=bin/KQV.dll
    USER=alice TZ=UTC build_provider "$preset" "$work/a/src" "$2" "-DKQV_HUB_LIBDIR=$installed"
    USER=bob TZ=Asia/Kolkata build_provider "$preset" "$work/second-build/kqvdwsys" "$2" "-DKQV_HUB_LIBDIR=$installed"
    shift 2

    first=$work/a/src/build/$preset/$library
    cmp "$first" "$work/second-build/kqvdwsys/build/$preset/$library" ||
        fail "$preset: two builds of the same sources differ"
    [ "$preset" = mingw32 ] || sh "$source_dir/tests/provider_frame/check_library.sh" "$first" "$installed" readelf nm 4 ||
        fail "$preset: the provider linked against the hub's libraries by their directory"
    echo "reproducible: two $preset builds gave the same $(wc -c <"$first")-byte $(basename "$library")"
done
