# Shared by the download benchmarks: check the programs, make a work folder that goes away on
# exit, and start the benchmark file server over a folder of it.

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
