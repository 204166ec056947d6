#!/usr/bin/env bash
# Release day on loopback: N launchers (console, --yes, each with folders of its own) started
# together against one nginx whose files' location serves at most SLOTS connections at RATE
# each (limit_conn, limit_rate) and answers 503 to the rest, once without and once with a
# Retry-After header. One row per run:
#   ok          launchers that ended with status 0 and the patch's right bytes within the limit
#   median s    their median time to the end
#   req/median  requests per launcher (catalogue, signature if any, files, every retry)
#   retries     requests that asked again for a file the same launcher had asked for before
#   busiest s   the largest share of all retries that fell within one second of the run
#   2nd start   the status of launcher 1's catalogue at its first start, then at a second
#               start made once the others have ended (304: the kept copy was still good)
#
#   bench/load_bench.sh [BUILD_DIR]    (default: build/bench, made with the bench preset)
# Environment: LOAD_LAUNCHERS (100), LOAD_SLOTS (20), LOAD_MIB (20, the patch's data file),
# LOAD_RATE (4m per connection, nginx's limit_rate), LOAD_LIMIT_S (300), LOAD_RETRY_AFTER
# ("0 10": one run each; 0 sends no header), LOAD_SECONDS (set: the retries of each second on
# standard error), TMPDIR.
set -euo pipefail
export LC_ALL=C

root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build/bench}"
launchers="${LOAD_LAUNCHERS:-100}"
slots="${LOAD_SLOTS:-20}"
mib="${LOAD_MIB:-20}"
rate="${LOAD_RATE:-4m}"
limit="${LOAD_LIMIT_S:-300}"
retry_afters="${LOAD_RETRY_AFTER:-0 10}"

launcher="$build/velmora-launcher"
exe_writer="$build/bench/bench_game_exe"
source "$root/bench/lib.sh"
require_programs "$launcher" "$exe_writer"
command -v nginx >/dev/null || { echo "nginx is not installed" >&2; exit 2; }
make_work_folder load-bench

# --- The game, the patch, one catalogue per launcher -----------------------------------------
# Each launcher reads its own catalogue, whose file addresses carry its number in the query
# (nginx ignores it when serving), so the access log tells the launchers apart.
mkdir -p "$work/game/bin" "$work/served/files"
"$exe_writer" 1.1.0.0 1 "$work/game/bin/velmora2.exe"
"$exe_writer" 1.2.0.0 1 "$work/served/files/setup.exe"
head -c "$((mib * 1024 * 1024))" /dev/urandom >"$work/served/files/data.pak"
game_md5="$(md5sum "$work/game/bin/velmora2.exe" | cut -d' ' -f1)"
setup_md5="$(md5sum "$work/served/files/setup.exe" | cut -d' ' -f1)"
setup_size="$(stat -c %s "$work/served/files/setup.exe")"
data_md5="$(md5sum "$work/served/files/data.pak" | cut -d' ' -f1)"
data_size="$(stat -c %s "$work/served/files/data.pak")"

cat >"$work/runner" <<'EOF'
#!/bin/sh
exit 0
EOF
chmod +x "$work/runner"

# --- nginx with a slot limit on the files ----------------------------------------------------
# start_load_nginx <retry-after seconds, 0 for none>
start_load_nginx() {
    local busy="return 503;"
    [ "$1" -gt 0 ] && busy="add_header Retry-After $1 always; return 503;"
    start_nginx "$work/served" "
        root $work/served;
        location /files/ {
            limit_conn files $slots;
            limit_conn_status 503;
            limit_rate $rate;
            error_page 503 @busy;
        }
        location @busy { $busy }" "
    log_format load '\$msec \$status \$request_uri';
    access_log $work/nginx/access.log load;
    limit_conn_zone \$server_addr zone=files:1m;"
}

write_catalogues() {
    local i
    for i in $(seq 1 "$launchers"); do
        mkdir -p "$work/served/l$i"
        cat >"$work/served/l$i/patchinfo.xml" <<EOF
<?xml version="1.0" encoding="UTF-8"?>
<patch_info patcherversion="1.0.0.38" patcherurl="http://127.0.0.1/launcher.html">
  <game_version_list>
    <release name="Velmora II" latestversion="1.2.0.0">
      <checksums><checksum md5="$game_md5" exe_id="load-1.1.0.0"/></checksums>
      <patch_list>
        <update version="1.2.0.0" installer="setup.exe">
          <download_list>
            <download url="$base_url/files/data.pak?l=$i" target="data.pak" md5="$data_md5" size="$data_size"/>
            <download url="$base_url/files/setup.exe?l=$i" target="setup.exe" md5="$setup_md5" size="$setup_size"/>
          </download_list>
        </update>
      </patch_list>
    </release>
  </game_version_list>
  <changelog_list><changelog version="1.2.0.0"><text language="English">Release day.</text></changelog></changelog_list>
</patch_info>
EOF
    done
}

# run_one <number>: one launcher in its own folders; records its status and end time.
run_one() {
    local home="$work/players/$1" status=0
    mkdir -p "$home/run" "$home/downloads"
    chmod 700 "$home/run"
    (cd "$home/downloads" &&
        env -u DISPLAY -u WAYLAND_DISPLAY HOME="$home" XDG_RUNTIME_DIR="$home/run" \
            XDG_DATA_HOME="$home/data" XDG_STATE_HOME="$home/state" XDG_CACHE_HOME="$home/cache" \
            XDG_CONFIG_HOME="$home/config" VELMORA_RUNNER="$work/runner" \
            timeout "$limit" "$launcher" --console --yes --url "$base_url/l$1/" \
            --path "$work/game/" </dev/null >"$home/output" 2>&1) || status=$?
    echo "$status $EPOCHREALTIME" >"$home/end"
}

# right_files <number>: whether the launcher's download folder holds the patch's bytes.
right_files() {
    local found
    found="$(find "$work/players/$1" -name data.pak -type f | head -1)"
    [ -n "$found" ] && [ "$(md5sum "$found" | cut -d' ' -f1)" = "$data_md5" ]
}

run_load() {
    local retry_after=$1 start i
    rm -rf "$work/players" "$work/nginx"
    start_load_nginx "$retry_after"
    write_catalogues
    start=$EPOCHREALTIME
    for i in $(seq 1 "$launchers"); do
        run_one "$i" &
    done
    wait $(jobs -p | grep -vx "$server_pid") 2>/dev/null || true
    # A second start of the first launcher, once the rush is over: it asks whether its kept
    # catalogue changed, and nginx answers 304.
    local first_status rush_lines
    first_status="$(awk '$3 == "/l1/patchinfo.xml" { print $2; exit }' "$work/nginx/access.log")"
    rush_lines="$(wc -l <"$work/nginx/access.log")"
    cp "$work/players/1/end" "$work/players/1/end.rush"
    run_one 1
    mv "$work/players/1/end.rush" "$work/players/1/end"
    second_start="$(awk -v first="$first_status" '$3 == "/l1/patchinfo.xml" { s = $2 } END { print first " then " s }' "$work/nginx/access.log")"
    kill "$server_pid" 2>/dev/null || true
    wait "$server_pid" 2>/dev/null || true
    server_pid=""

    local ok=0 times=()
    for i in $(seq 1 "$launchers"); do
        read -r status end <"$work/players/$i/end"
        if [ "$status" = 0 ] && right_files "$i"; then
            ok=$((ok + 1))
            times+=("$(awk -v s="$start" -v e="$end" 'BEGIN { printf "%.1f", e - s }')")
        fi
    done
    local median_s="-"
    [ ${#times[@]} -gt 0 ] && median_s="$(printf '%s\n' "${times[@]}" | sort -n |
        awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }')"
    # Requests per launcher, retries, and the busiest second of the retries.
    awk -v start="$start" -v rush="$rush_lines" '
        NR > rush { exit }
        {
            uri = $3; who = ""
            if (match(uri, /^\/l[0-9]+\//)) who = substr(uri, 3, RLENGTH - 3)
            else if (match(uri, /[?&]l=[0-9]+/)) who = substr(uri, RSTART + 3, RLENGTH - 3)
            if (who == "") next
            requests[who]++
            file = uri; sub(/\?.*/, "", file)
            if (seen[who, file]++) { retries++; second[int($1 - start)]++ }
        }
        END {
            busiest = 0; for (s in second) if (second[s] > busiest) busiest = second[s]
            printf "retries %d %d\n", retries, busiest
            for (s in second) print "second", s, second[s]
            for (w in requests) print "requests", requests[w]
        }' "$work/nginx/access.log" >"$work/counts"
    local retries busiest share req_median
    read -r _ retries busiest < <(grep '^retries' "$work/counts")
    req_median="$(grep '^requests' "$work/counts" | cut -d' ' -f2 | sort -n |
        awk '{ v[NR] = $1 } END { print (NR ? v[int((NR + 1) / 2)] : 0) }')"
    share="-"
    [ "$retries" -gt 0 ] && share="$((100 * busiest / retries)) %"
    local header="none"
    [ "$retry_after" -gt 0 ] && header="$retry_after s"
    echo "| $header | $ok / $launchers | $median_s | $req_median | $retries | $share | $second_start |"
    if [ -n "${LOAD_SECONDS:-}" ]; then
        grep '^second' "$work/counts" | sort -k2 -n | awk '{ printf "%s:%s ", $2, $3 } END { print "" }' >&2
    fi
}

echo "$launchers launchers, $slots slots at $rate, a $mib MiB patch, limit $limit s"
echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "| Retry-After | ok | median s | req/median | retries | busiest s | catalogue, 2nd start |"
echo "|---|---|---|---|---|---|---|"
for retry_after in $retry_afters; do
    run_load "$retry_after"
done
