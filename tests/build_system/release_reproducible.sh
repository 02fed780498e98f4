#!/bin/sh
# Makes the release of HEAD twice with scripts/release, each from its own
# clone in a directory of another name, as other users in other time zones
# with other umasks, and compares the two outputs byte for byte. Takes twice
# as long as one release: not part of the test command.
#
# usage: release_reproducible.sh [WORK_DIR]   (kept, with both outputs; default: a temporary one)
set -u
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
if [ $# -gt 0 ]; then
    work=$1
    mkdir -p "$work" || exit 1
else
    work=$(mktemp -d) || exit 1
    trap 'rm -rf "$work"' EXIT
fi

mkdir -p "$work/a" "$work/second-release-directory"
(umask 022 && USER=alice TZ=UTC TMPDIR=$work/a "$source_dir/scripts/release" "$work/a/out") ||
    { echo "FAIL: the first release failed" >&2; exit 1; }
(umask 077 && USER=bob TZ=Asia/Kolkata TMPDIR=$work/second-release-directory \
    "$source_dir/scripts/release" "$work/second-release-directory/out") ||
    { echo "FAIL: the second release failed" >&2; exit 1; }

status=0
for file in $(cut -c67- "$work/a/out/SHA256SUMS") SHA256SUMS; do
    cmp "$work/a/out/$file" "$work/second-release-directory/out/$file" ||
        { echo "FAIL: the two releases' $file differ" >&2; status=1; }
done
[ "$status" -eq 0 ] || exit 1
echo "reproducible: two releases of $(git -C "$source_dir" rev-parse --short HEAD) gave the same files:"
cat "$work/a/out/SHA256SUMS"
