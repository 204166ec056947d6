#!/usr/bin/env bash
# The launcher's up-to-date start against the least any launcher must do, side by side in one
# run: `md5sum` of the game executable plus `curl` of the catalogue, against
# `velmora-launcher --console --url ... --path ...` with a game executable (100 MiB by
# default) whose digest the catalogue lists as up to date; the launcher then starts the game
# through a runner that does nothing. Three rows:
#   first start    the launcher's digest cache empty, files in the page cache;
#   second start   the digest cache filled by the run before, files in the page cache;
#   cold           the page cache dropped before each side (root only), digest cache filled.
# A fourth row times `velmora-launcher --version` against a minimal program that links only
# libcurl and Expat (bench/reference/minimal_client.cpp), and counts the libraries each maps.
# Every row prints both medians and their ratio (launcher / reference; below 1 is faster).
#
#   bench/start_bench.sh [BUILD_DIR]       (default: build/bench, made with the bench preset)
# Environment: BENCH_EXE_MIB (100), BENCH_ROUNDS (7, at least 5), BENCH_VERSION_RUNS (20 runs
# of each program per --version sample), BENCH_SERVER (nginx when installed, else builtin:
# bench_file_server), BENCH_COLD (1; 0 skips the cold row), TMPDIR.
set -euo pipefail
export LC_ALL=C

root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build/bench}"
exe_mib="${BENCH_EXE_MIB:-100}"
rounds="${BENCH_ROUNDS:-7}"
version_runs="${BENCH_VERSION_RUNS:-20}"
cold="${BENCH_COLD:-1}"
[ "$rounds" -ge 5 ] || { echo "BENCH_ROUNDS must be at least 5" >&2; exit 2; }

launcher="$build/velmora-launcher"
server_bin="$build/bench/bench_file_server"
exe_writer="$build/bench/bench_game_exe"
reference_bin="$build/bench/minimal_client"
source "$root/bench/lib.sh"
require_programs "$launcher" "$server_bin" "$exe_writer" "$reference_bin"
command -v md5sum >/dev/null || { echo "md5sum is not installed" >&2; exit 2; }
make_work_folder start-bench

server="${BENCH_SERVER:-}"
if [ -z "$server" ]; then
    if command -v nginx >/dev/null; then server=nginx; else server=builtin; fi
fi
if [ "$cold" = 1 ] && ! { [ -w /proc/sys/vm/drop_caches ] && [ "$(id -u)" -eq 0 ]; }; then
    echo "the cold row needs root (/proc/sys/vm/drop_caches); skipped" >&2
    cold=0
fi

# --- The game, the catalogue, the server -----------------------------------------------------
mkdir -p "$work/game/bin" "$work/served" "$work/run" "$work/data" "$work/state"
chmod 700 "$work/run"
exe="$work/game/bin/velmora2.exe"
"$exe_writer" 1.2.0.0 "$exe_mib" "$exe"
digest="$(md5sum "$exe" | cut -d' ' -f1)"
cat >"$work/served/patchinfo.xml" <<EOF
<?xml version="1.0" encoding="UTF-8"?>
<patch_info patcherversion="1.0.0.38" patcherurl="http://127.0.0.1/launcher.html">
  <game_version_list>
    <release name="Velmora II" latestversion="1.2.0.0">
      <checksums>
        <checksum md5="$digest" exe_id="bench-1.2.0.0"/>
      </checksums>
      <patch_list>
        <update version="1.2.0.0" installer="setup.exe">
          <download_list>
            <download url="http://127.0.0.1/setup.exe" target="setup.exe"
                      md5="00000000000000000000000000000000" size="1"/>
          </download_list>
        </update>
      </patch_list>
    </release>
  </game_version_list>
  <changelog_list/>
</patch_info>
EOF
# The same catalogue with a newer patch for this executable: the check below sees the launcher
# offer it, so it really recognises the executable by its digest and reads its version.
mkdir "$work/served/offer"
sed 's/"1\.2\.0\.0"/"1.3.0.0"/g' "$work/served/patchinfo.xml" >"$work/served/offer/patchinfo.xml"

if [ "$server" = nginx ]; then
    start_nginx "$work/served"
else
    start_file_server "$server_bin" "$work/served"
fi
catalogue_url="$base_url/patchinfo.xml"

# --- The two sides ---------------------------------------------------------------------------
# The game "starts" through a runner that does nothing; the launcher does not wait for it.
cat >"$work/runner" <<'EOF'
#!/bin/sh
[ -n "${BENCH_RUNNER_LOG:-}" ] && echo "$1" >>"$BENCH_RUNNER_LOG"
exit 0
EOF
chmod +x "$work/runner"

# run_launcher [folder below the server's root, ending in /]
run_launcher() {
    env -u DISPLAY -u WAYLAND_DISPLAY XDG_RUNTIME_DIR="$work/run" XDG_DATA_HOME="$work/data" \
        XDG_STATE_HOME="$work/state" XDG_CACHE_HOME="$work/cache" VELMORA_RUNNER="$work/runner" \
        "$launcher" --console --url "$base_url/${1:-}" --path "$work/game/" </dev/null
}

run_reference() {
    md5sum "$exe" >/dev/null
    curl -sf -o /dev/null "$catalogue_url"
}

drop_page_cache() {
    sync
    echo 3 >/proc/sys/vm/drop_caches
}

# Checks before timing: the reference finds what the launcher finds; the launcher recognises
# this executable (it offers the newer patch of the second catalogue) and, with the real one,
# takes the road that ends in starting the game, this very executable, with nothing asked.
[ "$(curl -sf "$catalogue_url" | grep -c "$digest")" = 1 ] || { echo "catalogue not served" >&2; exit 1; }
offer="$(run_launcher offer/ 2>&1)" || true
[[ $offer == *1.2.0.0*1.3.0.0* ]] || { echo "the launcher did not recognise the game: $offer" >&2; exit 1; }
rm -f "$work/runner.log"
output="$(BENCH_RUNNER_LOG="$work/runner.log" run_launcher 2>&1)" || {
    echo "the launcher failed: $output" >&2
    exit 1
}
for _ in $(seq 1 100); do
    [ -s "$work/runner.log" ] && break
    sleep 0.05
done
started="$(head -1 "$work/runner.log" 2>/dev/null)"
if [ -z "$started" ] || [ "$(readlink -f "$started")" != "$(readlink -f "$exe")" ]; then
    echo "the launcher did not start the game" >&2
    exit 1
fi
[ -z "$output" ] || { echo "the launcher said something: $output" >&2; exit 1; }
# An entry is trusted only when recorded 2 s after the file's last change.
sleep 2

echo "up-to-date start, $exe_mib MiB game executable, server $server at $base_url, $rounds rounds"
echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
# Each array holds "wall cpu" pairs, one per round.
ref_warm=() first=() second=() ref_cold=() launcher_cold=()
show() { awk '{ printf "%s s (cpu %s)", $1, $2 }' <<<"$1"; }
for round in $(seq 1 "$rounds"); do
    # Alternate who goes first, so neither side always meets a quieter machine.
    if [ $((round % 2)) -eq 1 ]; then order="reference launcher"; else order="launcher reference"; fi
    for side in $order; do
        if [ "$side" = reference ]; then
            ref_warm+=("$(measure run_reference)")
        else
            rm -rf "$work/cache"
            first+=("$(measure run_launcher)")
            second+=("$(measure run_launcher)")
        fi
    done
    line="round $round: reference $(show "${ref_warm[-1]}"), first start $(show "${first[-1]}")"
    line+=", second start $(show "${second[-1]}")"
    if [ "$cold" = 1 ]; then
        for side in $order; do
            drop_page_cache
            if [ "$side" = reference ]; then
                ref_cold+=("$(measure run_reference)")
            else
                launcher_cold+=("$(measure run_launcher)")
            fi
        done
        line+="; cold: reference $(show "${ref_cold[-1]}"), launcher $(show "${launcher_cold[-1]}")"
    fi
    echo "$line"
done

# --version: one sample is version_runs runs in a row, so that a sample is long enough to time.
repeat() {
    for _ in $(seq 1 "$version_runs"); do "$@"; done
}
launcher_version=() reference_version=()
for round in $(seq 1 "$rounds"); do
    if [ $((round % 2)) -eq 1 ]; then order="reference launcher"; else order="launcher reference"; fi
    for side in $order; do
        if [ "$side" = reference ]; then
            reference_version+=("$(measure repeat "$reference_bin" --version)")
        else
            launcher_version+=("$(measure repeat "$launcher" --version)")
        fi
    done
    echo "--version round $round: $version_runs runs of minimal_client $(show "${reference_version[-1]}")," \
        "of the launcher $(show "${launcher_version[-1]}")"
done
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"

# column <field> <pair...>: the median of one field (1 wall, 2 cpu) over the pairs.
column() {
    local field=$1
    shift
    printf "%s\n" "$@" | awk -v f="$field" '{ print $f }' | sort -g |
        awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}
per_run() { awk -v t="$1" -v n="$version_runs" 'BEGIN { printf "%.4f", t / n }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", a / b }'; }
row() {
    printf "| %-42s | %8.4f | %8.4f | %6s | %8.4f | %8.4f | %6s | %-6s |\n" "$1" "$2" "$3" \
        "$(ratio "$2" "$3")" "$4" "$5" "$(ratio "$4" "$5")" "$6"
}
# row_of <title> <goal> <launcher array name> <reference array name> [per-run divisor]
row_of() {
    local -n ours=$3 theirs=$4
    local lw lc rw rc
    lw=$(column 1 "${ours[@]}") lc=$(column 2 "${ours[@]}")
    rw=$(column 1 "${theirs[@]}") rc=$(column 2 "${theirs[@]}")
    if [ "${5:-}" = per_run ]; then
        lw=$(per_run "$lw") lc=$(per_run "$lc") rw=$(per_run "$rw") rc=$(per_run "$rc")
    fi
    row "$1" "$lw" "$rw" "$lc" "$rc" "$2"
}

echo
echo "Medians in seconds; ratio = launcher / reference (below 1: the launcher is faster)."
printf "| %-42s | %8s | %8s | %6s | %8s | %8s | %6s | %-6s |\n" "work" "launcher" "refer." \
    "ratio" "cpu l." "cpu r." "ratio" "goal"
printf "|%s|%s|%s|%s|%s|%s|%s|%s|\n" "$(printf -- '-%.0s' {1..44})" "----------" "----------" \
    "--------" "----------" "----------" "--------" "--------"
row_of "up-to-date start, first start" "<= 1.0" first ref_warm
row_of "up-to-date start, second start" "<= 0.2" second ref_warm
if [ "$cold" = 1 ]; then
    row_of "second start after dropping the page cache" "<= 0.1" launcher_cold ref_cold
fi
row_of "--version, per run" "<= 1.2" launcher_version reference_version per_run
echo "reference: md5sum of the executable then curl of the catalogue; for --version, minimal_client"
libraries() { ldd "$1" | grep -c '=>\|ld-linux'; }
# Whole lists, not grep -q: with pipefail an early exit would fail the pipeline.
qt_mapped() { if [ "$(ldd "$1" | grep -c 'libQt')" -gt 0 ]; then echo yes; else echo no; fi; }
echo "libraries mapped at start: launcher $(libraries "$launcher") (Qt: $(qt_mapped "$launcher")), minimal_client $(libraries "$reference_bin") (Qt: $(qt_mapped "$reference_bin"))"
