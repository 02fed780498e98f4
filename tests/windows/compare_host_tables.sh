#!/usr/bin/env bash
# The host built for Windows prints the default table from KQV.dll under
# wine; its rows must be the Unix deliverable's rows, in the same order, with
# every field equal but STATUS, which may only be higher: duplicates keep the
# highest STATUS on Windows and the first on Unix. The rows where STATUS
# differs must be exactly the expected ones.
#   compare_host_tables.sh WINE_RUN WINDOWS_HOST UNIX_BUILD_DIR [VARNEX/DW:UNIX->WINDOWS]...
# Where the Unix build has the provider built with the Windows rule
# (KQVDWSYS-highest, a test build), the Windows rows must equal its rows.
set -uo pipefail
wine_run=$1
windows_host=$2
unix_build=$3
shift 3
expected_differences=("$@")

work=$(mktemp -d "${TMPDIR:-/tmp}/kqvdwsys-compare.XXXXXX")
trap 'rm -rf "$work"' EXIT

unix_host="$unix_build/bin/kqvhost"
if [ ! -x "$unix_host" ]; then
    echo "FAIL: the Unix host $unix_host is not built: build the linux32 preset first" \
         "(or point KQV_UNIX_BUILD_DIR at a Unix build)"
    exit 1
fi

# The provider looks for the hub's libraries relative to the current
# directory, as the data server runs it: from bin/.
run_unix() {
    (cd "$unix_build/bin" && ./kqvhost --format csv "$@") >"$work/out" 2>"$work/err" || {
        echo "FAIL: $unix_host --format csv $* failed:"
        cat "$work/err"
        exit 1
    }
    cat "$work/out"
}
run_unix >"$work/unix.csv" || { cat "$work/unix.csv"; exit 1; }
highest_provider="$unix_build/lib/KQVDWSYS-highest"
if [ -f "$highest_provider" ]; then
    run_unix --provider "../lib/KQVDWSYS-highest" >"$work/highest.csv" || { cat "$work/highest.csv"; exit 1; }
fi

"$wine_run" --done '^ORIGINNODE,' -- "$windows_host" --format csv >"$work/windows.csv" 2>"$work/windows.err"
status=$?
if [ "$status" -ne 0 ]; then
    echo "FAIL: the Windows host failed (status $status):"
    cat "$work/windows.csv" "$work/windows.err"
    exit 1
fi

echo "== Unix deliverable"
cat "$work/unix.csv"
echo "== Windows deliverable (under wine)"
cat "$work/windows.csv"

# Compare field by field. The default scenario's values hold no commas or
# quotes, so a plain split is exact; a row whose field count differs from
# the header's fails.
awk -F, -v expected="$(IFS=' '; echo "${expected_differences[*]}")" '
    FNR == 1 { file++ }
    file == 1 { unix[FNR] = $0; unixCount = FNR; next }
    {
        windowsCount = FNR
        if (FNR > unixCount) { printf "FAIL: extra Windows row %d: %s\n", FNR, $0; bad++; next }
        n = split(unix[FNR], u, ",")
        if (n != NF) { printf "FAIL: row %d has %d fields under Windows, %d under Unix\n", FNR, NF, n; bad++; next }
        if (FNR == 1) {
            for (i = 1; i <= NF; i++) column[$i] = i
            if (!("STATUS" in column) || !("VARNNAME" in column) || !("DW_NAME" in column)) {
                print "FAIL: header lacks STATUS, VARNNAME or DW_NAME: " $0; bad++; exit
            }
            if ($0 != unix[1]) { print "FAIL: headers differ"; bad++ }
            next
        }
        s = column["STATUS"]
        for (i = 1; i <= NF; i++) {
            if (i != s && $i != u[i]) {
                printf "FAIL: row %d field %d differs: Unix %s, Windows %s\n", FNR, i, u[i], $i; bad++
            }
        }
        if ($s + 0 < u[s] + 0) {
            printf "FAIL: row %d: Windows STATUS %s below Unix STATUS %s\n", FNR, $s, u[s]; bad++
        }
        if ($s != u[s]) {
            difference = $column["VARNNAME"] "/" $column["DW_NAME"] ":" u[s] "->" $s
            seen[difference] = 1
            printf "STATUS differs: %s\n", difference
        }
    }
    END {
        if (windowsCount < unixCount) { printf "FAIL: Windows has %d rows, Unix %d\n", windowsCount, unixCount; bad++ }
        if (unixCount < 2) { print "FAIL: the Unix host printed no rows"; bad++ }
        want = split(expected, wanted, " ")
        for (i = 1; i <= want; i++) {
            if (!(wanted[i] in seen)) { printf "FAIL: expected STATUS difference %s not found\n", wanted[i]; bad++ }
            delete seen[wanted[i]]
        }
        for (d in seen) { printf "FAIL: unexpected STATUS difference %s\n", d; bad++ }
        exit (bad > 0)
    }' "$work/unix.csv" "$work/windows.csv"
result=$?

if [ -f "$work/highest.csv" ]; then
    if cmp -s "$work/highest.csv" "$work/windows.csv"; then
        echo "Windows rows equal the Unix build's with the Windows rule (KQVDWSYS-highest)"
    else
        echo "FAIL: Windows rows differ from the Unix build's with the Windows rule (KQVDWSYS-highest):"
        diff "$work/highest.csv" "$work/windows.csv"
        result=1
    fi
fi
[ "$result" -eq 0 ] && echo "rows equal but for STATUS, where the highest is kept"
exit "$result"
