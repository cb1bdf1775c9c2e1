# shellcheck shell=bash
# What the benchmarks share about the processes they start. Sourced, not run.

tree_pids() { pstree -p -T "$1" | grep -o '([0-9]\+)' | tr -d '()'; }

stop() { # pids...: ends the processes and every process they started
    local all=() root
    for root in "$@"; do
        mapfile -t -O "${#all[@]}" all < <(tree_pids "$root")
    done
    [ ${#all[@]} -gt 0 ] || return 0
    kill "$@" 2>/dev/null || true
    for _ in $(seq 1 50); do
        kill -0 "${all[@]}" 2>/dev/null || break
        sleep 0.1
    done
    kill -9 "${all[@]}" 2>/dev/null || true
    wait "$@" 2>/dev/null || true
}
