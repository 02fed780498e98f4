#!/usr/bin/env bash
# Peak resident memory and time of kqvhost writing a large result, against
# counting the same rows: `--format csv` over SELECT * FROM KQVDWSYS and
# SELECT COUNT(*) FROM KQVDWSYS scan the same table with the same provider
# work, so what the first needs beyond the second is what writing the rows
# costs. Also when the first CSV row reaches the reader, against the whole run.
#
# The hub is the default scenario plus DWS DWs (a million by default) of one
# agent. Each round runs every host in turn, so that hosts compared are
# measured under the same load; figures are medians of the rounds.
#
#   bench/stream_memory.sh                          # the 32-bit deliverable and the native Release build
#   bench/stream_memory.sh --host before=/tmp/old/bin/kqvhost --host after=build/bench-release/bin/kqvhost
#   bench/stream_memory.sh --dws 200000 --rounds 5
#
# Without --host it builds build/linux32 (32-bit, under qemu-i386 here) and
# the native Release build that bench/run uses. Times of a 32-bit host run
# under emulation: take them as ratios at most, and timings from native hosts.
set -euo pipefail
source_dir="$(cd "$(dirname "$0")/.." && pwd)"

dws=1000000
rounds=3
hosts=()
usage() {
    sed -n '2,18s/^# \{0,1\}//p' "$0"
    echo "options: --host LABEL=PATH (repeatable), --dws N, --rounds N"
}
while [ $# -gt 0 ]; do
    case "$1" in
        --host) hosts+=("$2"); shift 2 ;;
        --dws) dws=$2; shift 2 ;;
        --rounds) rounds=$2; shift 2 ;;
        -h|--help) usage; exit 0 ;;
        *) echo "stream_memory.sh: unknown argument '$1'" >&2; usage >&2; exit 2 ;;
    esac
done
[[ "$dws" =~ ^[0-9]+$ && "$dws" -ge 1 && "$dws" -le 9999999 ]] || { echo "--dws: 1 to 9999999" >&2; exit 2; }
[[ "$rounds" =~ ^[0-9]+$ && "$rounds" -ge 1 ]] || { echo "--rounds: at least 1" >&2; exit 2; }
[ -x /usr/bin/time ] || { echo "stream_memory.sh: needs /usr/bin/time (Debian package time)" >&2; exit 2; }

if [ ${#hosts[@]} -eq 0 ]; then
    release_dir="${KQV_BENCH_BUILD_DIR:-$source_dir/build/bench-release}"
    if [ ! -f "$source_dir/build/linux32/CMakeCache.txt" ]; then
        (cd "$source_dir" && cmake --preset linux32 -DKQV_BUILD_TESTS=OFF >/dev/null)
    fi
    cmake --build "$source_dir/build/linux32" --target kqvhost -j 2 >/dev/null
    cmake -S "$source_dir" -B "$release_dir" -DCMAKE_BUILD_TYPE=Release -DKQV_BUILD_BENCH=ON >/dev/null
    cmake --build "$release_dir" --target kqvhost -j 2 >/dev/null
    hosts=("32-bit=$source_dir/build/linux32/bin/kqvhost" "native=$release_dir/bin/kqvhost")
fi
for host in "${hosts[@]}"; do
    [[ "$host" == *=* && -x "${host#*=}" ]] || { echo "--host $host: expected LABEL=PATH of a program" >&2; exit 2; }
done

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
scenario="$scratch/million.sql"
first_host="${hosts[0]#*=}"
"$first_host" --print-default-scenario >"$scenario"
cat >>"$scenario" <<EOF

-- $dws more DWs, all reported by agent QV:SYSA:PLX1.
WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < $dws)
INSERT INTO KQV.QVALCSYS
SELECT 'QV:SYSA:PLX1', 'ZAVRIN:PLX1.SYSA:vRK', printf('%016d', 1261208093000000 + i), 'PLX1', 'SYSA', 'SYSA',
       printf('M%07d', i), i % 97, 8192, i % 8192, 1024, i % 1024, 16384, i % 23, 710
FROM n;
EOF

now() { date +%s%N; }

# One run, appended to $scratch/runs: "LABEL QUERY peak_kib seconds
# first_row_seconds rows". The first row's time is when the reader has the
# line after the header.
measure() {
    local label=$1 host=$2 q=$3 start end
    start=$(now)
    if ! /usr/bin/time -f '%M' -o "$scratch/time" "$host" --scenario "$scenario" --format csv "${queries[$q]}" \
        2>"$scratch/err" |
        {
            IFS= read -r _ || true
            IFS= read -r _ || true
            now >"$scratch/first"
            echo $(($(wc -l) + 1)) >"$scratch/rows"
        }; then
        echo "stream_memory.sh: $host '${queries[$q]}' failed: $(cat "$scratch/err")" >&2
        exit 1
    fi
    end=$(now)
    awk -v l="$label" -v q="$q" -v kib="$(tail -n 1 "$scratch/time")" -v s="$start" -v e="$end" \
        -v f="$(cat "$scratch/first")" -v rows="$(cat "$scratch/rows")" \
        'BEGIN { printf "%s %d %d %.3f %.3f %d\n", l, q, kib, (e - s) / 1e9, (f - s) / 1e9, rows }' >>"$scratch/runs"
}

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

queries=("SELECT * FROM KQVDWSYS" "SELECT COUNT(*) FROM KQVDWSYS")
echo "hub: the default scenario plus $dws DWs of agent QV:SYSA:PLX1; $rounds round(s); load $(cut -d' ' -f1-3 /proc/loadavg)" >&2
for ((round = 1; round <= rounds; ++round)); do
    for host in "${hosts[@]}"; do
        for q in 0 1; do measure "${host%%=*}" "${host#*=}" "$q"; done
    done
    echo "round $round done" >&2
done

stat() {  # label query field
    awk -v l="$1" -v q="$2" -v f="$3" '$1 == l && $2 == q { print $f }' "$scratch/runs" | median
}
printf '%-10s %-36s %10s %9s %11s %9s\n' host query "peak MiB" "time s" "1st row s" rows
for host in "${hosts[@]}"; do
    label=${host%%=*}
    for q in 0 1; do
        awk -v l="$label" -v q="${queries[$q]}" -v kib="$(stat "$label" "$q" 3)" -v s="$(stat "$label" "$q" 4)" \
            -v f="$(stat "$label" "$q" 5)" -v n="$(stat "$label" "$q" 6)" \
            'BEGIN { printf "%-10s %-36s %10.1f %9.2f %11.2f %9d\n", l, "csv: " q, kib / 1024, s, f, n }'
    done
done
echo
echo "ratios of the medians: peak memory csv/count; time csv/count; first CSV row/whole csv run;"
echo "first CSV row/whole count run (about 1 when the first row is out as soon as the rows are gathered)"
for host in "${hosts[@]}"; do
    label=${host%%=*}
    awk -v l="$label" -v a="$(stat "$label" 0 3)" -v b="$(stat "$label" 1 3)" -v s="$(stat "$label" 0 4)" \
        -v c="$(stat "$label" 1 4)" -v f="$(stat "$label" 0 5)" \
        'BEGIN { printf "%-10s memory %.2f  time %.2f  first row/csv %.2f  first row/count %.2f\n", l, a / b, s / c, f / s, f / c }'
done
