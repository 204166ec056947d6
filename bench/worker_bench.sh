#!/usr/bin/env bash
# The download worker fetching one file (1 GiB by default) into an empty folder, with a
# receiver draining its messages like the download page, against `curl -s -o` of the same file
# from the same local server process, in one run. Prints every round, the speed ratio of the
# download phase (the worker's own transfer time against curl's), the worker's whole run with
# its verification, the messages the receiver got, and the worker process's peak memory.
#
#   bench/worker_bench.sh [BUILD_DIR]     (default: build/bench, made with the bench preset:
#                                          -DVELMORA_BUILD_BENCH=ON -DCMAKE_BUILD_TYPE=Release)
# Environment: BENCH_SIZE_MIB (default 1024), BENCH_ROUNDS (default 3), TMPDIR.
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build/bench}"
size_mib="${BENCH_SIZE_MIB:-1024}"
rounds="${BENCH_ROUNDS:-3}"
target_ratio="0.9"
target_rss_kib=$((32 * 1024))

server_bin="$build/bench/bench_file_server"
client_bin="$build/bench/worker_bench_client"
source "$root/bench/lib.sh"
require_programs "$server_bin" "$client_bin"
make_work_folder worker-bench

size=$((size_mib * 1024 * 1024))
mkdir "$work/served" "$work/folder"
head -c "$size" /dev/urandom >"$work/served/patch.bin"
digest="$(md5sum "$work/served/patch.bin" | cut -d' ' -f1)"

start_file_server "$server_bin" "$work/served"
url="$base_url/patch.bin"

value() { awk -v k="$1" '$1 == k { print $2 }' "$2"; }

# curl's own transfer time, so neither side is charged for starting a process.
run_curl() {
    rm -f "$work/out-curl.bin"
    curl -s -o "$work/out-curl.bin" -w '%{time_total}' "$url"
    [ "$(stat -c %s "$work/out-curl.bin")" = "$size" ] || { echo "curl: wrong size" >&2; exit 1; }
}

# The worker's time from its start to its final position, as its receiver saw it.
run_worker() {
    rm -f "$work/folder/patch.bin"
    local report="$work/report.txt"
    if [ -x /usr/bin/time ]; then
        /usr/bin/time -f 'time_peak_rss_kib %M' -o "$work/time.txt" \
            "$client_bin" "$url" "$work/folder" patch.bin "$digest" "$size" >"$report"
        cat "$work/time.txt" >>"$report"
    else
        "$client_bin" "$url" "$work/folder" patch.bin "$digest" "$size" >"$report"
    fi
    [ "$(value verdict "$report")" = 1 ] || { echo "worker: verification failed" >&2; exit 1; }
    cp "$report" "$work/last-report.txt"
    value download_seconds "$report"
}

times_curl=()
times_ours=()
totals_ours=()
peak_rss=0
echo "download of $size_mib MiB from $url, $rounds rounds"
for round in $(seq 1 "$rounds"); do
    # Alternate who goes first, so neither side always meets a warmer cache or a quieter machine.
    if [ $((round % 2)) -eq 1 ]; then order="curl worker"; else order="worker curl"; fi
    for side in $order; do
        if [ "$side" = curl ]; then
            t=$(run_curl)
            times_curl+=("$t")
            extra=""
        else
            t=$(run_worker)
            times_ours+=("$t")
            r="$work/last-report.txt"
            totals_ours+=("$(value total_seconds "$r")")
            rss=$(value peak_rss_kib "$r")
            [ "$rss" -gt "$peak_rss" ] && peak_rss=$rss
            extra=$(printf "(with verification %s s; %s messages, %s posted texts, %s posted \
positions, busiest second %s; peak RSS %s KiB, /usr/bin/time %s KiB)" \
                "$(value total_seconds "$r")" "$(value messages "$r")" \
                "$(value posted_texts "$r")" "$(value posted_positions "$r")" \
                "$(value busiest_second_messages "$r")" "$rss" \
                "$(value time_peak_rss_kib "$r")")
        fi
        printf "round %d %-6s %8.3f s  %8.1f MiB/s %s\n" "$round" "$side" "$t" \
            "$(awk -v s="$size_mib" -v t="$t" 'BEGIN { print s / t }')" "$extra"
    done
done
cmp -s "$work/served/patch.bin" "$work/folder/patch.bin" || { echo "the worker's copy differs" >&2; exit 1; }

best() { printf "%s\n" "$@" | sort -g | head -1; }
median() { printf "%s\n" "$@" | sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
best_curl=$(best "${times_curl[@]}")
best_ours=$(best "${times_ours[@]}")
echo "curl:   best $best_curl s, median $(median "${times_curl[@]}") s"
echo "worker: best $best_ours s, median $(median "${times_ours[@]}") s (download phase);" \
    "whole run with verification: best $(best "${totals_ours[@]}") s"
awk -v c="$(median "${times_curl[@]}")" -v o="$(median "${times_ours[@]}")" \
    'BEGIN { printf "median speed ratio (worker / curl): %.3fx\n", c / o }'
awk -v c="$best_curl" -v o="$best_ours" -v t="$target_ratio" \
    'BEGIN { printf "speed ratio (worker / curl, best of each): %.3fx (target >= %sx)\n", c / o, t }'
echo "worker peak resident memory: $peak_rss KiB (target < $target_rss_kib KiB)"
