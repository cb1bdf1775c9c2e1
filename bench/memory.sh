#!/usr/bin/env bash
# One window's proportional memory (PSS): the program and its web engine processes, summed, with a
# 20 KB and a 1 MB note, and the main process after 20 windows were opened and 19 closed.
#   bench/memory.sh [build-dir]
set -euo pipefail
build=${1:-build}
top=$(cd "$(dirname "$0")/.." && pwd)
exe="$top/$build/quorvel"
scratch=$(mktemp -d)
trap 'pkill -P $$ >/dev/null 2>&1 || true; rm -rf "$scratch"' EXIT
export QT_QPA_PLATFORM=offscreen QTWEBENGINE_DISABLE_SANDBOX=1 XDG_CONFIG_HOME="$scratch/config"
export XDG_RUNTIME_DIR="$scratch/run" && mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"

note() { # size-in-KB file
    : > "$2"
    while [ "$(stat -c %s "$2")" -lt $(($1 * 1024)) ]; do
        cat "$top"/examples/vault/*.md >> "$2"
    done
}

pss() { # the PSS in MB of a process and all its descendants
    local pids total=0 kb
    pids=$(pstree -p -T "$1" | grep -o '([0-9]\+)' | tr -d '()')
    for p in $pids; do
        kb=$(awk '/^Pss:/ {print $2}' "/proc/$p/smaps_rollup" 2>/dev/null || echo 0)
        total=$((total + ${kb:-0}))
    done
    echo $((total / 1024))
}

settle() { # waits until the process tree's PSS stops changing
    local last=-1 now
    for _ in $(seq 1 60); do
        sleep 1
        now=$(pss "$1")
        [ "$now" = "$last" ] && break
        last=$now
    done
    echo "$now"
}

for kb in 20 1024; do
    note "$kb" "$scratch/note-$kb.md"
    "$exe" "$scratch/note-$kb.md" >/dev/null 2>&1 &
    pid=$!
    echo "one window, a $kb KB note: $(settle $pid) MB PSS (program and web engine)"
    kill $pid; wait $pid 2>/dev/null || true
done
