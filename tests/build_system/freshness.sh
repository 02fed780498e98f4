#!/bin/sh
# Checks that the version entry and the build information always name the
# same build: the deliverable is built from a copy of the sources, then built
# again, a second later each time, once after the unit of the version entry
# changed and once after another unit changed. Each time the version entry's
# date and time must be the build information's (entries 1 and 2, and the
# creation time of comment 13), and new.
#
# usage: freshness.sh HUB_BUILD
#   HUB_BUILD: a built linux32 build, whose hub libraries and kqvhost are used
set -u
[ $# -eq 1 ] || { echo "usage: $0 HUB_BUILD" >&2; exit 2; }
. "$(dirname "$0")/provider_build.sh"
unset SOURCE_DATE_EPOCH  # which would give every build the same moment

copy_sources "$work/src"

# The version entry's "date time", once the build information names it too.
build_moment() {
    report=$work/version
    "$1/bin/kqvhost" --provider "$work/src/build/linux32/lib/KQVDWSYS" --version >"$report" 2>&1 ||
        { cat "$report" >&2; fail "kqvhost --version failed"; }
    version=$(sed -n 's/^Version V130, compiled //p' "$report")
    information=$(sed -n '/^Build information:/,/^Build comments:/{s/^   [12]  //p}' "$report" | paste -sd ' ')
    # "Oct  6 2006 12:43:57" is created "Fri Oct  6 12:43:57 2006".
    created=$(sed -n 's/^  13  Created:[A-Z][a-z][a-z] //p' "$report")
    [ "$version" = "$information" ] &&
        [ "$created" = "$(echo "$information" | sed 's/^\(.\{6\}\) \([0-9]\{4\}\) \(.*\)$/\1 \3 \2/')" ] ||
        { cat "$report" >&2; fail "the version entry names $version, the build information $information, $created"; }
    echo "$version"
}

build_provider linux32 "$work/src" "$1"
moment=$(build_moment "$1") || exit 1
for unit in provider/kqvdwsys.cpp util/kqvmutl.cpp; do
    sleep 1
    touch "$work/src/$unit"
    build_provider linux32 "$work/src" "$1"
    previous=$moment
    moment=$(build_moment "$1") || exit 1
    [ "$moment" != "$previous" ] || fail "after $unit changed, the build still names $previous"
done
echo "freshness: the version entry and the build information named each of three builds"
