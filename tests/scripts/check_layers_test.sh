#!/usr/bin/env bash
# The layer check must pass a clean tree and catch each kind of planted fault, naming the line.
set -euo pipefail
check=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

plant() {  # plant <file> <line>: a fresh tree with one file holding that line
    rm -rf "$work/tree"
    mkdir -p "$work/tree/text" "$work/tree/transfer" "$work/tree/platform" "$work/tree/ui/qt"
    printf '#include <string>\n' >"$work/tree/text/messages.h"
    printf '#include "text/messages.h"\n#include <unistd.h>\n' >"$work/tree/platform/posix.cpp"
    printf '#include <QWidget>\n#include "transfer/worker.h"\n' >"$work/tree/ui/qt/page.cpp"
    printf '#include "platform/platform.h"\n#include <vector>\n#include <curl/curl.h>\n' \
        >"$work/tree/transfer/worker.cpp"
    if [ $# -gt 0 ]; then
        mkdir -p "$work/tree/$(dirname "$1")"
        printf '%s\n' "$2" >>"$work/tree/$1"
    fi
}

expect_pass() {
    plant "$@"
    if ! "$check" "$work/tree" >"$work/out" 2>&1; then
        echo "FAIL: clean tree refused:"; cat "$work/out"; exit 1
    fi
}

expect_fail() {  # expect_fail <file> <line> <text the report must hold>
    plant "$1" "$2"
    if "$check" "$work/tree" >"$work/out" 2>&1; then
        echo "FAIL: planted '$2' in $1 was not caught"; exit 1
    fi
    if ! grep -qF "$3" "$work/out"; then
        echo "FAIL: report for '$2' in $1 lacks '$3':"; cat "$work/out"; exit 1
    fi
}

expect_pass
expect_pass tests/x_test.cpp '#include <QTest>'
expect_pass tools/demo.cpp '#include <unistd.h>'
expect_fail transfer/worker.cpp '#include "app/launcher_app.h"' 'transfer/worker.cpp:4: includes app/launcher_app.h'
expect_fail text/messages.h '#include "platform/platform.h"' 'text/messages.h:2'
expect_fail catalogue/patch_info.cpp '#include "platform/platform.h"' 'catalogue/patch_info.cpp:1'
expect_fail wizard/page.cpp '#include <QString>' 'Qt belongs to ui/qt/ only'
expect_fail app/flow.cpp '#include <unistd.h>' 'operating-system headers belong to platform/'
expect_fail main.cpp '#include <sys/stat.h>' 'main.cpp:1'
expect_fail app/flow.cpp '#include "tests/support/temp_dir.h"' 'nothing outside the tests may use tests/'
expect_fail tools/demo.cpp '#include "tests/support/pe_writer.h"' 'tools/demo.cpp:1'
echo "check-layers: every planted fault caught"
