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
# A run that hangs is stopped (status 124) rather than hang the suite.
run() {
    # shellcheck disable=SC2086 # the emulator is a command line of its own
    timeout -k 5 60 $emulator "$host" "$@" >"$scratch/out" 2>"$scratch/err"
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
    timeout -k 5 60 $emulator "$host" "$@" <"$input" >"$scratch/out" 2>"$scratch/err"
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

# Bad input of every kind: status 2 and one message that says what is wrong
# and where, never a hang. Each case: what|expected message|arguments,
# words without blanks.
printf 'SELECT 1;\000SELECT 2;' >"$scratch/nul.sql"
printf '\000' >"$scratch/only-nul.sql"
{ cat "$empty_scenario"; printf '\000'; } >"$scratch/nul-scenario.sql"
nul_line=$(($(wc -l <"$empty_scenario") + 1))
printf "SELECT 1;\nSELECT 'unterminated" >"$scratch/unterminated.sql"
mkdir "$scratch/directory"
printf "ATTACH '%s/written.db' AS X;\n" "$scratch" >"$scratch/attach.sql"
printf "ATTACH 'file:%s/written.db?mode=rwc' AS X;\n" "$scratch" >"$scratch/attach-uri.sql"
{ cat "$empty_scenario"; printf "VACUUM INTO '%s/written.db';\n" "$scratch"; } >"$scratch/vacuum.sql"
cp "$empty_scenario" "$scratch/scenario.sql"
with="--provider $provider --scenario $scratch/scenario.sql"
while IFS='|' read -r what expected arguments; do
    # shellcheck disable=SC2086 # words without blanks
    run $arguments </dev/null
    expect_status 2 "$what"
    expect_in err "$expected" "$what"
done <<EOF_CASES
NUL in statements|kqvhost: --read $scratch/nul.sql: line 1, column 10: a NUL byte|$with --read $scratch/nul.sql
only a NUL|--read $scratch/only-nul.sql: line 1, column 1: a NUL byte|$with --read $scratch/only-nul.sql
NUL in the scenario|scenario $scratch/nul-scenario.sql: line $nul_line, column 1: a NUL byte|--provider $provider --scenario $scratch/nul-scenario.sql
unterminated text|--read $scratch/unterminated.sql: unrecognized token|$with --read $scratch/unterminated.sql
--read of a directory|kqvhost: --read $scratch/directory: is a directory|$with --read $scratch/directory
--scenario of a directory|kqvhost: scenario $scratch/directory: is a directory|--provider $provider --scenario $scratch/directory
ATTACH of a file|the file '$scratch/written.db' is refused|--provider $provider --scenario $scratch/attach.sql
ATTACH of a file URI|is refused: a scenario keeps its databases in memory|--provider $provider --scenario $scratch/attach-uri.sql
VACUUM INTO a file|in: VACUUM INTO '$scratch/written.db'|--provider $provider --scenario $scratch/vacuum.sql
--trace-file naming the scenario|--trace-file $scratch/scenario.sql: that is the file of --scenario|$with --trace-file $scratch/scenario.sql
--passes 0|kqvhost: --passes must be at least 1|$with --passes 0
--passes too many|kqvhost: --passes must be at most 1000|$with --passes 1001
--format unknown|kqvhost: --format: xml not in|$with --format xml
--provider not a library|kqvhost: cannot load provider library|--provider $scratch/scenario.sql --scenario $scratch/scenario.sql
--read - with -i|--read - and --interactive both read standard input|$with -i --read -
--where with -i|--where adds to the default query, which --interactive does not run|$with -i --where VARNNAME=PLX1
EOF_CASES
# shellcheck disable=SC2086
run_with_input "$scratch/directory" $with --read -
expect_status 2 "--read - of a directory"
expect_in err "kqvhost: --read -: cannot read standard input" "--read - of a directory"
[ ! -e "$scratch/written.db" ] || fail "a scenario wrote $scratch/written.db"
cmp -s "$scratch/scenario.sql" "$empty_scenario" || fail "--trace-file naming the scenario changed it"

# --interactive with standard input that is not a terminal: statements and
# dot-commands without banner or prompt; .quit in a file that .read runs
# ends the session. The first failure ends the run with its status.
printf 'SELECT 8 AS eight;\n.quit\n' >"$scratch/quits.sql"
cat >"$scratch/session.sql" <<EOF_SESSION
-- a comment, then dot-commands and statements
.mode csv
SELECT 1 AS one; SELECT 'a;b'
  AS two;
.timer on
.output $scratch/output.csv
SELECT 5 AS five;
.output
.timer off
.schema KQVDWSYS
.scenario $empty_scenario
SELECT COUNT(*) AS dws FROM KQVDWSYS;
.read $scratch/quits.sql
SELECT 'not run';
EOF_SESSION
run_with_input "$scratch/session.sql" --provider "$provider" -i
expect_status 0 "-i from a file"
[ "$(head -n 4 "$scratch/out")" = "$(printf 'one\n1\ntwo\na;b')" ] || fail "-i: output begins: $(cat "$scratch/out")"
[ "$(tail -n 4 "$scratch/out")" = "$(printf 'dws\n0\neight\n8')" ] || fail "-i: output ends: $(cat "$scratch/out")"
expect_in out "  IDNAME     CHAR(8) HIDDEN  -- a parameter, no part of the row; index column" "-i .schema"
! grep -q "kqvhost>\|not run" "$scratch/out" || fail "-i: a prompt, or what follows .quit: $(cat "$scratch/out")"
[ "$(cat "$scratch/output.csv")" = "$(printf 'five\n5')" ] || fail "-i .output: $(cat "$scratch/output.csv")"
expect_in err "Run time: " "-i .timer"
expect_in err " s, 1 row" "-i .timer"
for session in "SELECT 1 AS one;|SELEC 2;|SELECT 3 AS three;|2|near \"SELEC\": syntax error|one 1" \
               ".mode xml|SELECT 1 AS one;|2|kqvhost: unknown format 'xml'|" \
               ".read $scratch/absent.sql|2|kqvhost: .read $scratch/absent.sql: |" \
               "SELECT 4 AS four|0||four 4"; do
    printf '%s\n' "${session%|*|*|*}" | tr '|' '\n' >"$scratch/session.sql"
    expected=${session#"${session%|*|*|*}|"}
    run_with_input "$scratch/session.sql" --provider "$provider" --scenario "$empty_scenario" --format csv -i
    expect_status "${expected%%|*}" "-i: $session"
    message=${expected#*|}
    [ -z "${message%|*}" ] || expect_in err "${message%|*}" "-i: $session"
    [ "$(tr '\n' ' ' <"$scratch/out" | sed 's/ $//')" = "${expected##*|}" ] || fail "-i: $session: output $(cat "$scratch/out")"
done

# Text echoed in a message is escaped as values are: no control byte reaches
# the terminal.
run --provider "$provider" --scenario "$empty_scenario" "$(printf "SELECT 'a\033[31m' FROM NOPE")"
expect_status 2 "a statement with a control byte"
expect_in err "(in: SELECT 'a\\x1B[31m' FROM NOPE)" "a statement with a control byte"
! grep -q "$(printf '\033')" "$scratch/err" || fail "a control byte reached standard error: $(cat "$scratch/err")"

# Output that cannot be written is a failure (status 3), whatever printed it.
for arguments in "" "--format json" "--version" "--print-default-scenario" "--help"; do
    # shellcheck disable=SC2086
    timeout -k 5 60 $emulator "$host" --provider "$provider" $arguments >/dev/full 2>"$scratch/err"
    status=$?
    expect_status 3 "kqvhost $arguments >/dev/full"
    expect_in err "kqvhost: cannot write" "kqvhost $arguments >/dev/full"
done

# A trace setting for a unit the provider does not have: a warning naming the
# units that ran.
run --provider "$provider" --scenario "$empty_scenario" --trace nounit=all
expect_status 0 "--trace of an unknown unit"
expect_in err "kqvhost: warning: --trace nounit=all traced nothing: no unit 'nounit' ran (units that ran: kqvdwsys" \
    "--trace of an unknown unit"

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
              --passes --version --print-default-scenario --interactive; do
    expect_in out "$option" "help"
done

if [ "$failures" -ne 0 ]; then
    echo "kqvhost: $failures check(s) failed" >&2
    exit 1
fi
echo "kqvhost: all checks passed"
