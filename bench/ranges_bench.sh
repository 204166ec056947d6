#!/usr/bin/env bash
# Several connections per file. Three rows, each a median of the rounds, every side timed as a
# whole command from outside, alternating who goes first:
#   capped:    the download worker fetching and verifying a file (64 MiB) from nginx with
#              `limit_rate 2m` (a cap per connection, as many mirrors and CDNs have), against one
#              connection (`curl -s -o`); aria2c -x4 -s4 -k1M beside it when installed
#   uncapped:  the same worker over its connections against itself over one
#              (VELMORA_CONNECTIONS=1), from nginx without a cap, a file of BENCH_BIG_MIB
#   verified:  the worker against `curl -s -o file URL; md5sum file` on that uncapped file
# The worker's peak resident memory is printed too, and nginx's request log of the worker's last
# capped run (its ranges and the client port of each connection).
#
#   bench/ranges_bench.sh [BUILD_DIR]     (default: build/bench, made with the bench preset)
# Environment: BENCH_SIZE_MIB (default 64), BENCH_BIG_MIB (default 512), BENCH_ROUNDS
# (default 3), BENCH_RATE (nginx's limit_rate, default 2m), TMPDIR.
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build/bench}"
size_mib="${BENCH_SIZE_MIB:-64}"
big_mib="${BENCH_BIG_MIB:-512}"
rounds="${BENCH_ROUNDS:-3}"
rate="${BENCH_RATE:-2m}"

client_bin="$build/bench/worker_bench_client"
source "$root/bench/lib.sh"
require_programs "$client_bin"
command -v nginx >/dev/null || { echo "nginx is not installed" >&2; exit 2; }
have_aria2=0
command -v aria2c >/dev/null && have_aria2=1
make_work_folder ranges-bench

mkdir "$work/served" "$work/folder" "$work/out"
head -c "$((size_mib * 1024 * 1024))" /dev/urandom >"$work/served/capped.bin"
head -c "$((big_mib * 1024 * 1024))" /dev/urandom >"$work/served/big.bin"
capped_md5="$(md5sum "$work/served/capped.bin" | cut -d' ' -f1)"
big_md5="$(md5sum "$work/served/big.bin" | cut -d' ' -f1)"

# One nginx, two places: /capped/ under the cap, /free/ without it.
start_nginx "$work/served" "
    location /capped/ { alias $work/served/; limit_rate $rate; }
    location /free/ { alias $work/served/; }" \
    "log_format ranges '\$remote_port \"\$request\" \$status \$body_bytes_sent \"\$http_range\"';
    access_log $work/nginx/access.log ranges;"

worker() {  # <url> <md5> <size>
    rm -f "$work/folder/patch.bin"
    /usr/bin/time -f '%M' -o "$work/rss.txt" \
        "$client_bin" "$1" "$work/folder" patch.bin "$2" "$3" >"$work/report.txt"
    grep -q '^verdict 1$' "$work/report.txt" || { echo "worker: verification failed" >&2; return 1; }
    cat "$work/rss.txt" >>"$work/rss-all.txt"
}
one_connection() { VELMORA_CONNECTIONS=1 worker "$@"; }
curl_get() { rm -f "$work/out/file"; curl -s -o "$work/out/file" "$1"; }
curl_md5() { curl_get "$1"; md5sum "$work/out/file" >/dev/null; }
aria2() {
    rm -f "$work/out/aria.bin"
    aria2c -q -x4 -s4 -k1M --file-allocation=none --allow-overwrite=true -d "$work/out" \
        -o aria.bin "$1"
}

median() { printf "%s\n" "$@" | sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# row <name> <goal> <side A command...> -- <side B command...>: prints the medians and A / B.
row() {
    local name="$1" goal="$2" a=() b=() ta=() tb=() round t
    shift 2
    while [ "$1" != -- ]; do a+=("$1"); shift; done
    shift
    b=("$@")
    for round in $(seq 1 "$rounds"); do
        if [ $((round % 2)) -eq 1 ]; then
            ta+=("$(measure "${a[@]}" | cut -d' ' -f1)")
            tb+=("$(measure "${b[@]}" | cut -d' ' -f1)")
        else
            tb+=("$(measure "${b[@]}" | cut -d' ' -f1)")
            ta+=("$(measure "${a[@]}" | cut -d' ' -f1)")
        fi
        echo "  $name round $round: ${ta[-1]} s against ${tb[-1]} s" >&2
    done
    awk -v n="$name" -v a="$(median "${ta[@]}")" -v b="$(median "${tb[@]}")" -v g="$goal" \
        'BEGIN { printf "| %-46s | %8.3f | %8.3f | %6.3f | %-7s |\n", n, a, b, a / b, g }'
}

capped="$base_url/capped/capped.bin"
free="$base_url/free/big.bin"
capped_size=$((size_mib * 1024 * 1024))
big_size=$((big_mib * 1024 * 1024))
echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "| work                                           |     side |   refer. |  ratio | goal    |"
echo "|------------------------------------------------|----------|----------|--------|---------|"
row "$size_mib MiB capped at $rate/connection: worker / curl" "<= 0.30" \
    worker "$capped" "$capped_md5" "$capped_size" -- curl_get "$capped"
if [ "$have_aria2" = 1 ]; then
    row "$size_mib MiB capped: aria2c -x4 -s4 -k1M / curl" "(0.22)" \
        aria2 "$capped" -- curl_get "$capped"
fi
# The request log of the worker's last capped run, before the uncapped rows add to it.
: >"$work/nginx/access.log"
worker "$capped" "$capped_md5" "$capped_size"
cp "$work/nginx/access.log" "$work/capped-requests.log"
row "$big_mib MiB uncapped: worker / worker over one" "<= 1.0" \
    worker "$free" "$big_md5" "$big_size" -- one_connection "$free" "$big_md5" "$big_size"
row "$big_mib MiB uncapped: worker / curl + md5sum" "<= 0.6" \
    worker "$free" "$big_md5" "$big_size" -- curl_md5 "$free"
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "worker peak resident memory: $(sort -n "$work/rss-all.txt" | tail -1) KiB"
echo "requests of the worker's last capped run (client port, request, status, bytes, range):"
cat "$work/capped-requests.log"
