#!/usr/bin/env bash
# Download speed of CCurlWrapper::DownloadToFile (with a progress line formatted at every
# notification) against `curl -s -o`, both fetching the same file from the same local server
# process in one run. Prints every time, the best of each side and the ratio of the speeds.
#
#   bench/download_bench.sh [BUILD_DIR]      (default: build/bench, made with the bench preset:
#                                             -DVELMORA_BUILD_BENCH=ON -DCMAKE_BUILD_TYPE=Release)
# Environment: BENCH_SIZE_MIB (default 512), BENCH_ROUNDS (default 5), TMPDIR.
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build/bench}"
size_mib="${BENCH_SIZE_MIB:-512}"
rounds="${BENCH_ROUNDS:-5}"
target_ratio="0.9"

server_bin="$build/bench/bench_file_server"
ours_bin="$build/bench/transfer_bench"
source "$root/bench/lib.sh"
require_programs "$server_bin" "$ours_bin"
make_work_folder download-bench

mkdir "$work/served"
head -c "$((size_mib * 1024 * 1024))" /dev/urandom >"$work/served/body.bin"
# Read it once so both sides start with the file in the page cache.
cat "$work/served/body.bin" >/dev/null

start_file_server "$server_bin" "$work/served"
url="$base_url/body.bin"

now_ns() { date +%s%N; }

# Runs one download, prints its wall time in seconds, checks the size of what arrived.
run_once() {
    local side="$1" out="$work/out-$1.bin" start end
    rm -f "$out"
    start=$(now_ns)
    if [ "$side" = curl ]; then
        curl -s -o "$out" "$url"
    else
        "$ours_bin" "$url" "$out" >/dev/null
    fi
    end=$(now_ns)
    if [ "$(stat -c %s "$out")" != "$((size_mib * 1024 * 1024))" ]; then
        echo "$side: wrong size" >&2
        exit 1
    fi
    awk -v ns="$((end - start))" 'BEGIN { printf "%.3f", ns / 1e9 }'
}

times_curl=()
times_ours=()
echo "download of $size_mib MiB from $url, $rounds rounds"
for round in $(seq 1 "$rounds"); do
    # Alternate who goes first, so neither side always meets a warmer cache or a quieter machine.
    if [ $((round % 2)) -eq 1 ]; then order="curl ours"; else order="ours curl"; fi
    for side in $order; do
        t=$(run_once "$side")
        printf "round %d %-4s %8.3f s  %8.1f MiB/s\n" "$round" "$side" "$t" \
            "$(awk -v s="$size_mib" -v t="$t" 'BEGIN { print s / t }')"
        if [ "$side" = curl ]; then times_curl+=("$t"); else times_ours+=("$t"); fi
    done
done
cmp -s "$work/served/body.bin" "$work/out-ours.bin" || { echo "our copy differs" >&2; exit 1; }

# The best time is the one least disturbed by other work on the machine; the median shows
# whether that best was a fluke.
best() { printf "%s\n" "$@" | sort -g | head -1; }
median() { printf "%s\n" "$@" | sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
best_curl=$(best "${times_curl[@]}")
best_ours=$(best "${times_ours[@]}")
median_curl=$(median "${times_curl[@]}")
median_ours=$(median "${times_ours[@]}")
echo "curl: best $best_curl s, median $median_curl s"
echo "ours: best $best_ours s, median $median_ours s"
awk -v c="$median_curl" -v o="$median_ours" 'BEGIN { printf "median speed ratio (ours / curl): %.3fx\n", c / o }'
awk -v c="$best_curl" -v o="$best_ours" -v t="$target_ratio" \
    'BEGIN { printf "speed ratio (ours / curl, best of each): %.3fx (target >= %sx)\n", c / o, t }'
