#!/bin/bash
# Deltas against the zstd program, in one run: a data file of MIB MiB (default 256) with one run
# of 64 bytes in every 6400 changed (1 %). Prints the delta's share of the full file, the time
# to apply it with the result's MD5 against `zstd -d --patch-from` followed by `md5sum`, and the
# time to make it against `zstd -19 --long=31 --patch-from`.
#   bench/delta_bench.sh [MIB] [BUILD_DIR]
set -euo pipefail
mib=${1:-256}
build=${2:-build/bench}
tool=$build/bench/delta_bench_tool
[ -x "$tool" ] || { echo "missing $tool: cmake --build --preset bench --target delta_bench_tool" >&2; exit 2; }
command -v zstd >/dev/null || { echo "zstd is not installed" >&2; exit 2; }
work=$(mktemp -d "${TMPDIR:-/tmp}/velmora-delta.XXXXXX")
trap 'rm -rf "$work"' EXIT

# seconds <command...>: runs it, prints its wall time and its CPU time (user + system).
seconds() {
    local start end
    start=$(date +%s.%N)
    "$@" >"$work/last.out"
    end=$(date +%s.%N)
    echo "$start $end"
}
wall() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", b - a }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

"$tool" fill "$work/base" "$mib"
"$tool" change "$work/base" "$work/new"
full=$(stat -c %s "$work/new")

read -r s e < <(seconds zstd -q -f -19 --long=31 --patch-from="$work/base" "$work/new" -o "$work/ref.zst")
make_ref=$(wall "$s" "$e")
read -r s e < <(seconds "$tool" make "$work/base" "$work/new" "$work/ours.zst")
make_ours=$(wall "$s" "$e")
ours=$(stat -c %s "$work/ours.zst")
ref=$(stat -c %s "$work/ref.zst")

apply_ref() {
    zstd -q -f -d --long=31 --patch-from="$work/base" "$work/ref.zst" -o "$work/ref.out" &&
        md5sum "$work/ref.out"
}
cat "$work/base" >/dev/null  # both applies start with the base in the page cache
read -r s e < <(seconds apply_ref)
apply_ref_s=$(wall "$s" "$e")
ref_md5=$(cut -d' ' -f1 "$work/last.out")
rm -f "$work/ref.out"
read -r s e < <(seconds "$tool" apply "$work/base" "$work/ours.zst" "$work/ours.out")
apply_ours_s=$(wall "$s" "$e")
read -r ours_md5 _ peak <"$work/last.out"
[ "$ours_md5" = "$ref_md5" ] || { echo "the results differ: $ours_md5 $ref_md5" >&2; exit 1; }

echo "file: $mib MiB ($full bytes), 1 % changed in runs of 64 bytes"
printf '| %-44s | %14s | %14s | %7s |\n' "measure" "launcher/tool" "zstd program" "ratio"
printf '| %-44s | %14s | %14s | %7s |\n' "delta bytes (share of the file)" "$ours ($(ratio $((ours * 100)) "$full") %)" "$ref" "$(ratio "$ours" "$ref")"
printf '| %-44s | %14s | %14s | %7s |\n' "apply + MD5, s (zstd -d --patch-from; md5sum)" "$apply_ours_s" "$apply_ref_s" "$(ratio "$apply_ours_s" "$apply_ref_s")"
printf '| %-44s | %14s | %14s | %7s |\n' "make, s (zstd -19 --long=31 --patch-from)" "$make_ours" "$make_ref" "$(ratio "$make_ours" "$make_ref")"
echo "peak anonymous memory while applying: $peak KiB"
