#!/bin/sh
# tessary-cli --digits N --print against Debian's `pi` program (CLN) for the same digits,
# alternating over rounds so that a shared machine slows both alike. `pi N` prints N
# significant digits, so it runs with N + 1 for tessary-cli's "3." and N decimals; both
# outputs are compared every round. Prints the medians of processor time (user + system)
# and of peak resident memory (GNU time's maximum resident set size), and their ratios.
#
#   bench/print_peer.sh [TESSARY_CLI [ROUNDS [N...]]]
#       defaults: build/tessary-cli, 3 rounds, N = 1000000 8388608
#
# Skips (status 0, one line saying why) when `pi` or GNU time is not installed.
set -eu

cli=${1:-build/tessary-cli}
rounds=${2:-3}
[ $# -gt 2 ] && shift 2 || set --
sizes=${*:-1000000 8388608}

for tool in pi /usr/bin/time; do
    if ! command -v "$tool" >/dev/null 2>&1; then
        echo "print_peer: skipped: $tool is not installed (apt-get install pi time)"
        exit 0
    fi
done
if [ ! -x "$cli" ]; then
    echo "print_peer: $cli is not an executable tessary-cli" >&2
    exit 2
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Runs a command with its output in $work/$1.out; appends "seconds kilobytes" to $work/$1.
measure() {
    name=$1
    shift
    /usr/bin/time -f "%U %S %M" -o "$work/time" "$@" >"$work/$name.out"
    awk '{ printf "%.3f %d\n", $1 + $2, $3 }' "$work/time" >>"$work/$name"
}

median() { # column $2 of file $1
    sort -n -k"$2" "$1" | awk -v c="$2" '{ v[NR] = $c } END {
        print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

echo "print_peer: $rounds rounds; load average at start: $(cut -d' ' -f1-3 /proc/loadavg)"
printf "%10s  %22s  %22s  %14s\n" "N" "tessary s / MiB" "pi s / MiB" "ratio s / MiB"
for n in $sizes; do
    rm -f "$work/tessary" "$work/pi"
    round=0
    while [ "$round" -lt "$rounds" ]; do
        measure tessary "$cli" --digits "$n" --print
        measure pi pi $((n + 1))
        if ! cmp -s "$work/tessary.out" "$work/pi.out"; then
            echo "print_peer: N = $n: the two programs printed different digits" >&2
            exit 1
        fi
        round=$((round + 1))
    done
    ts=$(median "$work/tessary" 1) tk=$(median "$work/tessary" 2)
    ps=$(median "$work/pi" 1) pk=$(median "$work/pi" 2)
    awk -v n="$n" -v ts="$ts" -v tk="$tk" -v ps="$ps" -v pk="$pk" 'BEGIN {
        printf "%10d  %10.2f / %9.1f  %10.2f / %9.1f  %6.2f / %5.2f\n",
               n, ts, tk / 1024, ps, pk / 1024, (ps > 0 ? ts / ps : 0), tk / pk }'
done
echo "print_peer: load average at end: $(cut -d' ' -f1-3 /proc/loadavg)"
