#!/usr/bin/env bash
# The download worker fetching one file (1 GiB by default) into an empty folder, with a
# receiver draining its messages like the download page, against `curl -s -o` of the same file
# from the same local server process, in one run. Prints every round, the speed ratio of the
# download phase (the worker's own transfer time against curl's), the worker's whole run with
# its verification, the messages the receiver got, and the worker process's peak memory.
#
# Then download and verify, two rows, each a median of the rounds, alternating who goes first:
#   MD5 listed:           the worker (fetch, digest while receiving, verify) against
#                         `curl -s -o file URL; md5sum file`
#   MD5 and SHA-256:      the same entry listing its sha256 too, against
#                         `curl -s -o file URL; md5sum file; openssl dgst -sha256 file`
# Both sides are timed as whole commands from outside (process start included); ratio =
# worker / reference, goal <= 0.7.
#
#   bench/worker_bench.sh [BUILD_DIR]     (default: build/bench, made with the bench preset:
#                                          -DVELMORA_BUILD_BENCH=ON -DCMAKE_BUILD_TYPE=Release)
# Environment: BENCH_SIZE_MIB (default 1024), BENCH_ROUNDS (default 3; the verify rows take at
# least 5), BENCH_SERVER (nginx when installed, else builtin: bench_file_server), TMPDIR.
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build/bench}"
size_mib="${BENCH_SIZE_MIB:-1024}"
rounds="${BENCH_ROUNDS:-3}"
target_ratio="0.9"
target_rss_kib=$((32 * 1024))
target_verify_ratio="0.7"
verify_rounds=$((rounds < 5 ? 5 : rounds))

server_bin="$build/bench/bench_file_server"
client_bin="$build/bench/worker_bench_client"
source "$root/bench/lib.sh"
require_programs "$server_bin" "$client_bin"
make_work_folder worker-bench

size=$((size_mib * 1024 * 1024))
mkdir "$work/served" "$work/folder"
head -c "$size" /dev/urandom >"$work/served/patch.bin"
digest="$(md5sum "$work/served/patch.bin" | cut -d' ' -f1)"
sha256="$(sha256sum "$work/served/patch.bin" | cut -d' ' -f1)"
command -v openssl >/dev/null || { echo "openssl is not installed" >&2; exit 2; }

start_loopback_server "$server_bin" "$work/served"
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
echo "download of $size_mib MiB from $url (server $server_name), $rounds rounds"
echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
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

# --- Download and verify -----------------------------------------------------------------------

# The worker: an empty folder, one entry (with its sha256 when asked), verified by the worker.
verify_worker() {
    rm -f "$work/folder/patch.bin"
    "$client_bin" "$url" "$work/folder" patch.bin "$digest" "$size" "$@" >"$work/verify-report.txt"
}
verify_reference() {
    rm -f "$work/out-ref.bin"
    curl -s -o "$work/out-ref.bin" "$url"
    md5sum "$work/out-ref.bin"
    if [ "${1:-}" = sha256 ]; then openssl dgst -sha256 "$work/out-ref.bin"; fi
}

# run_side <worker|reference> <md5|sha256>: one timed run; prints "wall cpu".
run_side() {
    if [ "$1" = worker ]; then
        if [ "$2" = sha256 ]; then measure verify_worker "$sha256"; else measure verify_worker; fi
        [ "$(value verdict "$work/verify-report.txt")" = 1 ] ||
            { echo "worker: verification failed" >&2; exit 1; }
        cmp -s "$work/served/patch.bin" "$work/folder/patch.bin" ||
            { echo "the worker's copy differs" >&2; exit 1; }
    else
        measure verify_reference "$2"
    fi
}

# Both rows share every round, so a busier moment of the machine falls on both alike.
declare -A runs=()
verify_peak=0
echo
echo "download and verify, $size_mib MiB, $verify_rounds rounds"
for round in $(seq 1 "$verify_rounds"); do
    if [ $((round % 2)) -eq 1 ]; then order="reference worker"; else order="worker reference"; fi
    line="round $round:"
    for listing in md5 sha256; do
        for side in $order; do
            pair=$(run_side "$side" "$listing")
            runs[$side-$listing]+="$pair"$'\n'
            line+=" $listing $side $(awk '{ printf "%s s (cpu %s)", $1, $2 }' <<<"$pair"),"
            if [ "$side" = worker ]; then
                rss=$(value peak_rss_kib "$work/verify-report.txt")
                [ "$rss" -gt "$verify_peak" ] && verify_peak=$rss
            fi
        done
    done
    echo "${line%,}"
done
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"

# column <field> <key>: the median of one field (1 wall, 2 cpu) over the runs of one side.
column() {
    printf "%s" "${runs[$2]}" | awk -v f="$1" 'NF { print $f }' | sort -g |
        awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", a / b }'; }
row() {
    local ow rw oc rc
    ow=$(column 1 "worker-$2") rw=$(column 1 "reference-$2")
    oc=$(column 2 "worker-$2") rc=$(column 2 "reference-$2")
    printf "| %-34s | %7.3f | %7.3f | %6s | %7.3f | %7.3f | %6s | %-6s |\n" "$1" "$ow" "$rw" \
        "$(ratio "$ow" "$rw")" "$oc" "$rc" "$(ratio "$oc" "$rc")" "<= $target_verify_ratio"
}
echo
echo "Medians of $verify_rounds rounds in seconds; ratio = worker / reference (below 1: the worker is faster)."
printf "| %-34s | %7s | %7s | %6s | %7s | %7s | %6s | %-6s |\n" "work" "worker" "refer." "ratio" \
    "cpu w." "cpu r." "ratio" "goal"
printf "|%s|%s|%s|%s|%s|%s|%s|%s|\n" "$(printf -- '-%.0s' {1..36})" "---------" "---------" \
    "--------" "---------" "---------" "--------" "--------"
row "$size_mib MiB, MD5 listed" md5
row "$size_mib MiB, MD5 and SHA-256 listed" sha256
echo "reference: curl -s -o file URL; md5sum file (MD5 and SHA-256: then openssl dgst -sha256 file)"
echo "worker peak resident memory in these runs: $verify_peak KiB"
