#!/bin/sh
# Checks how the host program reports the ways a run can go wrong, and an
# empty result.
#
# usage: check_host.sh KQVHOST PROVIDER EMPTY_SCENARIO [EMULATOR...]
set -u

if [ $# -lt 3 ]; then
    echo "usage: $0 KQVHOST PROVIDER EMPTY_SCENARIO [EMULATOR...]" >&2
    exit 2
fi
host=$1
provider=$2
empty_scenario=$3
shift 3
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

# A hub without origin nodes: the query ends without a row.
run --provider "$provider" --scenario "$empty_scenario"
expect_status 0 "empty hub"
[ "$(tail -n 1 "$scratch/out")" = "(0 rows)" ] || fail "empty hub: output does not end with '(0 rows)': $(cat "$scratch/out")"
# The hub's own log goes to stderr too; the host itself must report nothing.
! grep -q '^kqvhost:' "$scratch/err" || fail "empty hub: the host reported: $(cat "$scratch/err")"

# Scenario files that cannot be used.
printf 'THIS IS NOT SQL;\n' >"$scratch/bad.sql"
run --provider "$provider" --scenario "$scratch/bad.sql"
expect_status 2 "bad scenario"
expect_in err "$scratch/bad.sql" "bad scenario"

run --provider "$provider" --scenario "$scratch/absent.sql"
expect_status 2 "absent scenario"
expect_in err "$scratch/absent.sql" "absent scenario"

# An option the host does not know.
run --provider "$provider" --no-such-option
[ "$status" -ne 0 ] || fail "unknown option: exit status 0"
expect_in err "--no-such-option" "unknown option"

# The help names every option.
run --help
expect_status 0 "help"
for option in --help --host-version --provider --scenario --table --where --format --trace --trace-file \
              --passes --version --print-default-scenario; do
    expect_in out "$option" "help"
done

if [ "$failures" -ne 0 ]; then
    echo "kqvhost: $failures check(s) failed" >&2
    exit 1
fi
echo "kqvhost: all checks passed"
