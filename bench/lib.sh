# Shared by the download benchmarks: check the programs, make a work folder that goes away on
# exit, and serve a folder of it over loopback (nginx, or the benchmark file server).

# require_programs <binary...>: each must exist (built with the bench preset), and curl too.
require_programs() {
    local bin
    for bin in "$@"; do
        if [ ! -x "$bin" ]; then
            echo "missing $bin: build with cmake --preset bench && cmake --build --preset bench" >&2
            exit 2
        fi
    done
    command -v curl >/dev/null || { echo "curl is not installed" >&2; exit 2; }
}

# make_work_folder <name>: sets $work; it and the server started below go away on exit.
make_work_folder() {
    work="$(mktemp -d "${TMPDIR:-/tmp}/velmora-$1.XXXXXX")"
    server_pid=""
    trap bench_cleanup EXIT
}

bench_cleanup() {
    if [ -n "$server_pid" ]; then
        kill "$server_pid" 2>/dev/null || true
        wait "$server_pid" 2>/dev/null || true
    fi
    rm -rf "$work"
}

# start_file_server <server binary> <folder>: serves the folder, sets $base_url.
start_file_server() {
    "$1" --root "$2" --port-file "$work/port" >/dev/null &
    server_pid=$!
    for _ in $(seq 1 100); do
        [ -s "$work/port" ] && break
        sleep 0.05
    done
    [ -s "$work/port" ] || { echo "the file server did not start" >&2; exit 1; }
    base_url="http://127.0.0.1:$(cat "$work/port")"
}

# start_nginx <folder> [<server lines>] [<http lines>]: nginx from Debian, started on its own
# with a configuration of ours, serving the folder; the first free port wins. The server lines
# (default: the folder as root) and the http lines (default: no access log) let a benchmark
# shape the server. Sets $base_url and $server_pid.
start_nginx() {
    local served="$1" block="${2:-root $1;}" extra="${3:-access_log off;}" port
    mkdir -p "$work/nginx/tmp"
    for _ in $(seq 1 20); do
        port=$((20000 + RANDOM % 40000))
        cat >"$work/nginx/nginx.conf" <<EOF
daemon off;
worker_processes 1;
pid $work/nginx/nginx.pid;
error_log $work/nginx/error.log;
$([ "$(id -u)" -eq 0 ] && echo "user root;")
events { worker_connections 4096; }
http {
    $extra
    client_body_temp_path $work/nginx/tmp/body;
    proxy_temp_path $work/nginx/tmp/proxy;
    fastcgi_temp_path $work/nginx/tmp/fastcgi;
    uwsgi_temp_path $work/nginx/tmp/uwsgi;
    scgi_temp_path $work/nginx/tmp/scgi;
    default_type application/octet-stream;
    sendfile on;
    server { listen 127.0.0.1:$port; $block }
}
EOF
        nginx -e "$work/nginx/error.log" -p "$work/nginx" -c "$work/nginx/nginx.conf" &
        server_pid=$!
        for _ in $(seq 1 50); do
            # Any answer at all (a 404 for the folder itself) means it listens.
            if [ "$(curl -s -o /dev/null -w '%{http_code}' "http://127.0.0.1:$port/")" != 000 ]; then
                base_url="http://127.0.0.1:$port"
                return 0
            fi
            kill -0 "$server_pid" 2>/dev/null || break
            sleep 0.05
        done
        kill "$server_pid" 2>/dev/null || true
        wait "$server_pid" 2>/dev/null || true
        server_pid=""
    done
    echo "nginx did not start; see $work/nginx/error.log" >&2
    exit 1
}

# start_loopback_server <server binary> <folder>: nginx when installed (or BENCH_SERVER=nginx),
# else the benchmark file server (BENCH_SERVER=builtin). Sets $server_name and $base_url.
start_loopback_server() {
    server_name="${BENCH_SERVER:-}"
    if [ -z "$server_name" ]; then
        if command -v nginx >/dev/null; then server_name=nginx; else server_name=builtin; fi
    fi
    if [ "$server_name" = nginx ]; then
        start_nginx "$2"
    else
        start_file_server "$1" "$2"
    fi
}

# measure <command...>: runs it with its output discarded; prints its wall time and the CPU
# time (user + system) of the processes it waited for, in seconds. The CPU time is the steadier
# figure when other work shares the processors; the wall time is what a player waits.
measure() {
    timed "$@" | awk 'NR == 1 { wall = $2 - $1 }
        NR == 3 { for (i = 1; i <= 2; ++i) { split($i, p, /[ms]/); cpu += p[1] * 60 + p[2] } }
        END { printf "%.4f %.4f", wall, cpu }'
    [ "${PIPESTATUS[0]}" -eq 0 ] || { echo "failed: $*" >&2; exit 1; }
}
# Runs in its own subshell, so `times` counts exactly the processes of this one command.
timed() {
    local start=$EPOCHREALTIME
    "$@" >/dev/null 2>&1 || return 1
    echo "$start $EPOCHREALTIME"
    times
}
