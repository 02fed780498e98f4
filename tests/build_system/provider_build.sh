# Shared by the build checks (sourced): a work directory, copies of the
# sources, and a deliverable built from such a copy alone, against the hub
# libraries of a build that exists already.

fail() {
    printf 'FAIL: %s\n' "$*" >&2
    exit 1
}

# The checks live in tests/build_system/ of the source tree they copy.
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
[ -f "$source_dir/provider/kqvdwsys.cpp" ] || fail "$source_dir is not the provider's source tree"
work=$(mktemp -d) || exit 1
trap 'rm -rf "$work"' EXIT

# copy_sources DESTINATION: the source tree without builds or history.
copy_sources() {
    mkdir -p "$1"
    tar -C "$source_dir" --exclude=./build --exclude=./.git --exclude=./fuzz/corpus-work -cf - . |
        tar -C "$1" -xf - || fail "cannot copy the sources to $1"
}

# build_provider PRESET SOURCES HUB_BUILD [CMAKE ARGUMENTS...]: configures
# SOURCES' PRESET, the first time, to link against HUB_BUILD's hub
# libraries, and builds the deliverable. Its log is SOURCES/build.log.
build_provider() {
    preset=$1
    sources=$2
    hub_build=$(cd "$3" && pwd) || fail "no build $3"
    shift 3
    if [ ! -f "$sources/build/$preset/CMakeCache.txt" ]; then
        (cd "$sources" && cmake --preset "$preset" "-DKQV_HUB_LIBRARY_DIR=$hub_build/lib" "$@") \
            >"$sources/build.log" 2>&1 || { cat "$sources/build.log" >&2; fail "cannot configure $sources"; }
    fi
    cmake --build "$sources/build/$preset" --target KQVDWSYS -j 2 >>"$sources/build.log" 2>&1 ||
        { cat "$sources/build.log" >&2; fail "cannot build the provider in $sources"; }
}
