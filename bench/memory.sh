#!/usr/bin/env bash
# Proportional memory (PSS) of the program and its web engine processes, summed: one window with a
# 20 KB and with a 1 MB note, and ten windows of 20 KB notes in one process. With --detail, where
# it goes: each process of the tree (smaps_rollup) and the main process's biggest mappings.
#   bench/memory.sh [--detail] [--xvfb] [--peers] [build-dir]
# --xvfb: real windows on a virtual X display (Xvfb, no GPU) instead of the offscreen platform.
# --peers: also two other Markdown editors where installed (ghostwriter, retext; from
# `scripts/setup --bench`), each case right after this build's, and this build's figures as a
# share of ghostwriter's. They need a real display, so --peers implies --xvfb.
# The build folder is taken from the top of the checkout unless it is an absolute path.
# QTWEBENGINE_CHROMIUM_FLAGS in the environment reaches the engine, for trying flags side by side.
set -euo pipefail
detail=0 xvfb=0 peers=0
while [ $# -gt 0 ]; do
    case $1 in
        --detail) detail=1; shift ;;
        --xvfb) xvfb=1; shift ;;
        --peers) peers=1 xvfb=1; shift ;;
        *) break ;;
    esac
done
build=${1:-build}
top=$(cd "$(dirname "$0")/.." && pwd)
case $build in /*) ;; *) build="$top/$build" ;; esac
exe="$build/quorvel"
scratch=$(mktemp -d)
# An other editor being measured is ended with every process it started (stop, below).
current=()
trap '[ ${#current[@]} -eq 0 ] || stop "${current[@]}"; pkill -P $$ >/dev/null 2>&1 || true; rm -rf "$scratch"' EXIT
export QT_QPA_PLATFORM=offscreen QTWEBENGINE_DISABLE_SANDBOX=1 XDG_CONFIG_HOME="$scratch/config"
export XDG_RUNTIME_DIR="$scratch/run" && mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
if [ $xvfb = 1 ]; then
    display=$(for n in $(seq 150 199); do [ -e /tmp/.X11-unix/X$n ] || { echo $n; break; }; done)
    Xvfb ":$display" -screen 0 1600x1000x24 >/dev/null 2>&1 &
    export DISPLAY=":$display" && unset QT_QPA_PLATFORM
    sleep 2
fi

note() { # size-in-KB file
    : > "$2"
    while [ "$(stat -c %s "$2")" -lt $(($1 * 1024)) ]; do
        cat "$top"/examples/vault/*.md >> "$2"
    done
}

# shellcheck source=bench/processes.sh
. "$top/bench/processes.sh"

pss() { # the PSS in MB of processes and all their descendants
    local total=0 kb root p
    for root in "$@"; do for p in $(tree_pids "$root"); do
        kb=$(awk '/^Pss:/ {print $2}' "/proc/$p/smaps_rollup" 2>/dev/null || echo 0)
        total=$((total + ${kb:-0}))
    done; done
    echo $((total / 1024))
}

anon() { # the anonymous part of pss: file-backed pages are shared with whatever else runs the
          # same libraries, and their share moves with it
    local total=0 kb root p
    for root in "$@"; do for p in $(tree_pids "$root"); do
        kb=$(awk '/^Pss_Anon:/ {print $2}' "/proc/$p/smaps_rollup" 2>/dev/null || echo 0)
        total=$((total + ${kb:-0}))
    done; done
    echo $((total / 1024))
}

settle() { # waits until the process trees' PSS holds still for three seconds
    local last=-1 now still=0
    for _ in $(seq 1 90); do
        sleep 1
        now=$(pss "$@")
        if [ $((now - last)) -le 1 ] && [ $((last - now)) -le 1 ]; then
            still=$((still + 1))
            [ $still -ge 3 ] && break
        else
            still=0
        fi
        last=$now
    done
    echo "$now"
}

kind() { # what an engine process is: the zygotes' children (renderers) keep their command line
    local args parent
    [ "$1" = "$2" ] && { echo main; return; }
    args=$(tr '\0' ' ' < "/proc/$1/cmdline" 2>/dev/null)
    parent=$(awk '/^PPid:/ {print $2}' "/proc/$1/status" 2>/dev/null)
    if [ "$parent" != "$2" ] && grep -q -- '--type=zygote' "/proc/$parent/cmdline" 2>/dev/null; then
        echo renderer
    elif [[ $args == *--no-zygote-sandbox* ]]; then
        echo zygote-plain
    else
        grep -o -- '--type=[a-z-]*' <<< "$args" | head -1 | sed 's/--type=//'
    fi
}

breakdown() { # root-pid
    printf '    %-8s %-16s %8s %8s %8s\n' pid process 'PSS MB' 'anon MB' 'file MB'
    for p in $(tree_pids "$1"); do
        [ -r "/proc/$p/smaps_rollup" ] || continue
        awk -v pid="$p" -v kind="$(kind "$p" "$1")" '
            /^Pss:/ {pss=$2} /^Pss_Anon:/ {anon=$2} /^Pss_File:/ {file=$2}
            END {printf "    %-8s %-16s %8.1f %8.1f %8.1f\n", pid, kind, pss/1024, anon/1024, file/1024}
        ' "/proc/$p/smaps_rollup"
    done
    echo "    main process, PSS by mapping (MB; anonymous maps summed, libraries by name):"
    awk '
        /^[0-9a-f]+-[0-9a-f]+ / { name = (NF >= 6) ? $6 : "[anon]"
                                  sub(/.*\//, "", name); sub(/\.so[.0-9]*$/, ".so", name) }
        /^Pss:/ { pss[name] += $2 }
        END { for (n in pss) if (pss[n] >= 1024) printf "      %8.1f  %s\n", pss[n]/1024, n }
    ' "/proc/$1/smaps" | sort -rn | head -14
}

ours_pss=0 ours_anon=0
run() { # label files...
    local label=$1 pid
    shift
    "$exe" "$@" >/dev/null 2>&1 &
    pid=$!
    ours_pss=$(settle $pid) ours_anon=$(anon $pid)
    echo "$label: $ours_pss MB PSS (program and web engine), $ours_anon MB of it anonymous"
    [ $detail = 1 ] && breakdown $pid
    kill $pid; wait $pid 2>/dev/null || true
}

# The other editors start with settings, data and caches of their own in the scratch folder, as a
# new user meets them (ghostwriter shows its preview beside the text by default; retext does not).
peer_env=(XDG_DATA_HOME="$scratch/peer-data" XDG_CACHE_HOME="$scratch/peer-cache")


ratio() { # ours theirs: ours as a share of theirs
    awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else printf "-" }'
}

peer() { # name label files...: the other editor on the files, as this build was
    local name=$1 label=$2 pids=() file total
    shift 2
    if ! command -v "$name" >/dev/null; then
        echo "  $name, $label: not installed"
        return
    fi
    if [ "$name" = ghostwriter ]; then
        # One window a process: a second `ghostwriter file` starts a process of its own (it hands
        # nothing over to one running), so ten notes are ten processes, all summed.
        for file in "$@"; do
            env "${peer_env[@]}" ghostwriter "$file" >/dev/null 2>&1 &
            pids+=($!)
            current=("${pids[@]}")
        done
    else
        # One process, a tab for each file.
        env "${peer_env[@]}" "$name" "$@" >/dev/null 2>&1 &
        pids+=($!)
    fi
    current=("${pids[@]}")
    total=$(settle "${pids[@]}")
    local anonymous
    anonymous=$(anon "${pids[@]}")
    local what="with what it started"
    [ ${#pids[@]} -gt 1 ] && what="${#pids[@]} processes, one a note, with what they started"
    echo "  $name, $label: $total MB PSS ($what), $anonymous MB of it anonymous"
    if [ "$name" = ghostwriter ]; then
        echo "  this build as a share of ghostwriter's: PSS $(ratio "$ours_pss" "$total")," \
            "anonymous $(ratio "$ours_anon" "$anonymous") (target at most 0.6)"
    fi
    if [ $detail = 1 ]; then
        local pid
        for pid in "${pids[@]}"; do breakdown "$pid"; done
    fi
    stop "${pids[@]}"
    current=()
}

peers() { # label files...
    [ $peers = 1 ] || return 0
    peer ghostwriter "$@"
    peer retext "$@"
}

for kb in 20 1024; do
    note "$kb" "$scratch/note-$kb.md"
    run "one window, a $kb KB note" "$scratch/note-$kb.md"
    peers "one window, a $kb KB note" "$scratch/note-$kb.md"
done
notes=()
for i in $(seq 1 10); do
    cp "$scratch/note-20.md" "$scratch/note-20-$i.md"
    notes+=("$scratch/note-20-$i.md")
done
run "ten windows of 20 KB notes" "${notes[@]}"
peers "ten notes of 20 KB" "${notes[@]}"
