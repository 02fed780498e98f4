#!/bin/sh
# Checks how the host program reports the ways a run can go wrong, the
# options that reach the provider or report on it, and how values are
# written. (The installed host, run from another directory: the release
# archive's test.)
#
# usage: check_host.sh KQVHOST PROVIDER EMPTY_SCENARIO DEFAULT_SCENARIO [EMULATOR...]
set -u

if [ $# -lt 4 ]; then
    echo "usage: $0 KQVHOST PROVIDER EMPTY_SCENARIO DEFAULT_SCENARIO [EMULATOR...]" >&2
    exit 2
fi
host=$1
provider=$2
empty_scenario=$3
default_scenario=$4
shift 4
emulator="$*"

scratch=$(mktemp -d) || exit 1
trap 'rm -rf "$scratch"' EXIT

failures=0
fail() {
    printf 'FAIL: %s\n' "$*" >&2
    failures=$((failures + 1))
}

# Runs the host; leaves its exit status in $status, its output in $scratch.
run() {
    # shellcheck disable=SC2086 # the emulator is a command line of its own
    $emulator "$host" "$@" >"$scratch/out" 2>"$scratch/err"
    status=$?
}

expect_status() {
    [ "$status" -eq "$1" ] || fail "$2: exit status $status, expected $1 (stderr: $(cat "$scratch/err"))"
}

# The same with standard input from a file.
run_with_input() {
    input=$1
    shift
    # shellcheck disable=SC2086
    $emulator "$host" "$@" <"$input" >"$scratch/out" 2>"$scratch/err"
    status=$?
}

expect_in() {
    grep -qF -- "$2" "$scratch/$1" || fail "$3: std$1 does not mention '$2': $(cat "$scratch/$1")"
}

# A provider library that is not there.
run --provider "$scratch/missing/KQVDWSYS" --scenario "$empty_scenario"
expect_status 2 "missing provider"
expect_in err "$scratch/missing/KQVDWSYS" "missing provider"
expect_in err "not found" "missing provider"

# A table the provider did not register.
run --provider "$provider" --scenario "$empty_scenario" --table OTHER
expect_status 2 "unregistered table"
expect_in err "did not register table OTHER" "unregistered table"

# Scenario files that cannot be used.
printf 'THIS IS NOT SQL;\n' >"$scratch/bad.sql"
run --provider "$provider" --scenario "$scratch/bad.sql"
expect_status 2 "bad scenario"
expect_in err "$scratch/bad.sql" "bad scenario"

run --provider "$provider" --scenario "$scratch/absent.sql"
expect_status 2 "absent scenario"
expect_in err "$scratch/absent.sql" "absent scenario"

# Statements the engine refuses: one line of the host with the engine's own
# message, and status 2.
for refused in "SELEC 1|near \"SELEC\": syntax error" \
               "SELECT NOPE FROM KQVDWSYS|no such column: NOPE" \
               "SELECT * FROM NOPE|no such table: NOPE" \
               "DELETE FROM KQVDWSYS|table KQVDWSYS may not be modified" \
               "SELECT 1; SELECT * FROM KQVDWSYS WHERE|incomplete input"; do
    statement=${refused%%|*}
    run --provider "$provider" --scenario "$empty_scenario" "$statement"
    expect_status 2 "$statement"
    expect_in err "kqvhost: ${refused#*|}" "$statement"
    [ "$(grep -c '^kqvhost:' "$scratch/err")" -eq 1 ] || fail "$statement: not one line: $(cat "$scratch/err")"
done
run --provider "$provider" --scenario "$empty_scenario" --where NOPE=1
expect_status 2 "--where on an unknown column"
expect_in err "no such column: NOPE" "--where on an unknown column"
run --provider "$provider" --scenario "$empty_scenario" --where VARNNAME=PLX1 "SELECT 1"
expect_status 2 "--where with a statement"
expect_in err "--where adds to the default query" "--where with a statement"

# Several statements from a file, from standard input and from the command
# line, in that order; each result has its own header.
printf 'SELECT 1 AS one;\n-- a comment; and a blank statement\n;\nSELECT COUNT(*) AS dws FROM KQVDWSYS -- rows\n' \
    >"$scratch/statements.sql"
printf "SELECT 'two' AS two" >"$scratch/more.sql"
run_with_input "$scratch/more.sql" --provider "$provider" --scenario "$empty_scenario" --format csv \
    --read "$scratch/statements.sql" --read - "SELECT 3 AS three; SELECT 4 AS four"
expect_status 0 "statements from files"
expected=$(printf 'one\n1\ndws\n0\ntwo\ntwo\nthree\n3\nfour\n4')
[ "$(cat "$scratch/out")" = "$expected" ] || fail "statements from files: output is: $(cat "$scratch/out")"

# Options the host does not know or cannot use: status 2.
run --provider "$provider" --no-such-option
expect_status 2 "unknown option"
expect_in err "--no-such-option" "unknown option"
run --provider "$provider" --scenario "$empty_scenario" --where VARNNAME
expect_status 2 "malformed --where"
expect_in err "kqvhost: --where 'VARNNAME': expected COLUMN=VALUE" "malformed --where"

# Trace settings reach the provider; its lines go to standard error or to the
# trace file. An empty result is counted as such.
run --provider "$provider" --scenario "$empty_scenario" --trace kqvdwsys.qvdwsysr=input
expect_status 0 "--trace"
expect_in err "kqvdwsys.qvdwsysr:" "--trace"
expect_in err "Invoked for table KQVDWSYS" "--trace"
[ "$(tail -n 1 "$scratch/out")" = "(0 rows)" ] || fail "--trace: output does not end with '(0 rows)': $(cat "$scratch/out")"
run --provider "$provider" --scenario "$empty_scenario" --trace kqvdwsys.qvdwsysr=input --trace-file "$scratch/trace.log"
expect_status 0 "--trace-file"
grep -q "kqvdwsys.qvdwsysr:[0-9]* Invoked for table KQVDWSYS" "$scratch/trace.log" ||
    fail "--trace-file: the file does not hold the provider's line: $(cat "$scratch/trace.log" 2>&1)"
! grep -q "Invoked for table" "$scratch/err" || fail "--trace-file: the line went to stderr too"

# The version report: the version entry and the build information name the
# same date and time.
run --provider "$provider" --version
expect_status 0 "--version"
compiled=$(sed -n 's/^Version V130, compiled \(.*\)$/\1/p' "$scratch/out")
built=$(sed -n '/^Build information:/,/^Build comments:/s/^ *[12]  \(.*\)$/\1/p' "$scratch/out" | tr '\n' ' ' |
        sed 's/ $//')
[ -n "$compiled" ] || fail "--version: no line 'Version V130, compiled ...': $(cat "$scratch/out")"
[ "$compiled" = "$built" ] || fail "--version: compiled '$compiled', the build information says '$built'"
expect_in out "Build information:" "--version"
expect_in out "QV410" "--version"

# The default scenario, as shipped.
run --print-default-scenario
expect_status 0 "--print-default-scenario"
cmp -s "$scratch/out" "$default_scenario" || fail "--print-default-scenario differs from $default_scenario"

# CSV: fields with a comma, a quote or a line end are quoted, quotes doubled;
# bytes that are not printable, and backslashes, are written as \xNN.
run --provider "$provider" --scenario "$empty_scenario" --format csv \
    "SELECT 'a\"b' AS quote, 'a,b' AS comma, 'a\\b' AS backslash, char(1) || 'x' AS control, 'two' || char(10) || 'lines' AS newline"
expect_status 0 "csv"
expected=$(printf '%s\n' 'quote,comma,backslash,control,newline' '"a""b","a,b",a\x5Cb,\x01x,two\x0Alines')
[ "$(cat "$scratch/out")" = "$expected" ] || fail "csv: output is: $(cat "$scratch/out")"

# The help names every option.
run --help
expect_status 0 "help"
for option in --help --host-version --read --provider --scenario --table --where --format --trace --trace-file \
              --passes --version --print-default-scenario; do
    expect_in out "$option" "help"
done

if [ "$failures" -ne 0 ]; then
    echo "kqvhost: $failures check(s) failed" >&2
    exit 1
fi
echo "kqvhost: all checks passed"
